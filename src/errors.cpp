// The not-an-instance TypeError and the internal-failure exception.
#include "errors.hpp"

#include <cstdio>

#include "once.hpp"
#include "pyref.hpp"

namespace halvo {
namespace {

OnceCell<PyObject*> panic_type_cell;

const char kPanicDoc[] =
    "Raised when halvo_sdr's native code fails internally.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so\n"
    "that it typically propagates through the stack and ends the interpreter\n"
    "instead of being swallowed by a plain 'except Exception'.";

// str(obj) as UTF-8, or a placeholder when that fails (the error is cleared).
std::string str_of(PyObject* obj) {
    Ref s(PyObject_Str(obj));
    if (s) {
        Py_ssize_t n = 0;
        if (const char* u = PyUnicode_AsUTF8AndSize(s.get(), &n)) return std::string(u, static_cast<size_t>(n));
    }
    PyErr_Clear();
    return "<unprintable>";
}

}  // namespace

std::string take_error_description() {
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    if (!type) return "unknown error";
    PyErr_NormalizeException(&type, &value, &tb);
    Ref t(type), v(value), b(tb);
    std::string out;
    if (Ref name{PyType_GetName(reinterpret_cast<PyTypeObject*>(type))}) {
        out = str_of(name.get());
    } else {
        PyErr_Clear();
        out = "Exception";
    }
    if (v) {
        std::string msg = str_of(v.get());
        if (!msg.empty()) out += ": " + msg;
    }
    return out;
}

PyObject* raise_not_instance(PyObject* obj, const char* target) {
    if (obj == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", target);
        return nullptr;
    }
    Ref qual(PyType_GetQualName(Py_TYPE(obj)));
    if (!qual) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "'<failed to extract type name>' object is not an instance of '%s'", target);
        return nullptr;
    }
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qual.get(), target);
    return nullptr;
}

PyObject* raise_panic(const char* text, const port::SourceLocation& where) {
    const char* msg = text ? text : "internal failure in native code";
    std::fprintf(stderr, "halvo_sdr: internal failure at %s:%u: %s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), msg);
    std::fflush(stderr);
    PyObject* type = nullptr;
    // A pending error (from the failure itself) must not leak into the
    // creation of the exception type.
    PyErr_Clear();
    bool ok = panic_type_cell.get(type, [](PyObject*& t) {
        t = PyErr_NewExceptionWithDoc("native_runtime.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
        return t != nullptr;
    });
    if (!ok) return nullptr;  // the creation error (e.g. MemoryError) stands instead
    Ref m(PyUnicode_DecodeUTF8(msg, static_cast<Py_ssize_t>(std::char_traits<char>::length(msg)), "replace"));
    if (!m) return nullptr;
    PyErr_SetObject(type, m.get());
    return nullptr;
}

}  // namespace halvo
