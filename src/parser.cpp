// Argument parsing, conversion and the renaming of conversion errors.
#include "parser.hpp"

#include <climits>

#include <cstring>

#include "errors.hpp"
#include "pyref.hpp"

namespace halvo {
namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'"
PyObject* name_list(const char* const* names, int n) {
    Ref out(PyUnicode_FromString(""));
    for (int i = 0; i < n && out; ++i) {
        const char* sep = "";
        if (i > 0) sep = (n > 2) ? ((i == n - 1) ? ", and " : ", ") : " and ";
        Ref piece(PyUnicode_FromFormat("%s'%s'", sep, names[i]));
        if (!piece) return nullptr;
        out.reset(PyUnicode_Concat(out.get(), piece.get()));
    }
    return out.release();
}

bool too_many(const ArgDescriptor& d, Py_ssize_t given) {
    if (d.required < d.count) {
        PyErr_Format(PyExc_TypeError, "%s.%s() takes from %d to %d positional arguments but %zd were given",
                     d.class_name, d.callable_name, d.required, d.count, given);
    } else {
        PyErr_Format(PyExc_TypeError, "%s.%s() takes %d positional arguments but %zd were given", d.class_name,
                     d.callable_name, d.count, given);
    }
    return false;
}

bool unexpected_keyword(const ArgDescriptor& d, PyObject* key) {
    Ref s(PyObject_Str(key));
    if (!s) return false;
    PyErr_Format(PyExc_TypeError, "%s.%s() got an unexpected keyword argument '%U'", d.class_name,
                 d.callable_name, s.get());
    return false;
}

// Matches one keyword by its UTF-8 text and fills its slot.
bool place_keyword(const ArgDescriptor& d, PyObject* key, PyObject* value, PyObject** slots) {
    const char* text = nullptr;
    Py_ssize_t len = 0;
    if (PyUnicode_Check(key)) {
        text = PyUnicode_AsUTF8AndSize(key, &len);
        if (!text) PyErr_Clear();  // not encodable as UTF-8 (lone surrogate): matches nothing
    }
    if (text) {
        for (int i = 0; i < d.count; ++i) {
            const char* name = d.names[i];
            if (std::strlen(name) == static_cast<size_t>(len) && std::memcmp(name, text, static_cast<size_t>(len)) == 0) {
                if (slots[i]) {
                    PyErr_Format(PyExc_TypeError, "%s.%s() got multiple values for argument '%s'", d.class_name,
                                 d.callable_name, name);
                    return false;
                }
                slots[i] = value;
                return true;
            }
        }
    }
    return unexpected_keyword(d, key);
}

bool check_missing(const ArgDescriptor& d, PyObject** slots) {
    const char* missing[kMaxParams];
    int k = 0;
    for (int i = 0; i < d.required; ++i) {
        if (!slots[i]) missing[k++] = d.names[i];
    }
    if (k == 0) return true;
    Ref list(name_list(missing, k));
    if (!list) return false;
    if (k == 1) {
        PyErr_Format(PyExc_TypeError, "%s.%s() missing 1 required positional argument: %U", d.class_name,
                     d.callable_name, list.get());
    } else {
        PyErr_Format(PyExc_TypeError, "%s.%s() missing %d required positional arguments: %U", d.class_name,
                     d.callable_name, k, list.get());
    }
    return false;
}

}  // namespace

bool parse_fastcall(const ArgDescriptor& d, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** slots) {
    for (int i = 0; i < d.count; ++i) slots[i] = nullptr;
    if (nargs > d.count) return too_many(d, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_Size(kwnames);
        if (nkw < 0) return false;
        for (Py_ssize_t j = 0; j < nkw; ++j) {
            PyObject* key = PyTuple_GetItem(kwnames, j);
            if (!key) return false;
            if (!place_keyword(d, key, args[nargs + j], slots)) return false;
        }
    }
    return check_missing(d, slots);
}

bool parse_tuple_dict(const ArgDescriptor& d, PyObject* args, PyObject* kwargs, PyObject** slots) {
    for (int i = 0; i < d.count; ++i) slots[i] = nullptr;
    const Py_ssize_t nargs = PyTuple_Size(args);
    if (nargs < 0) return false;
    if (nargs > d.count) return too_many(d, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        slots[i] = PyTuple_GetItem(args, i);
        if (!slots[i]) return false;
    }
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!place_keyword(d, key, value, slots)) return false;
        }
    }
    return check_missing(d, slots);
}

bool convert_number(PyObject* obj, double* out) {
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

bool convert_int(PyObject* obj, int* out) {
    Ref index(PyNumber_Index(obj));
    if (!index) return false;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || v < INT_MIN || v > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "integer out of range");
        return false;
    }
    *out = static_cast<int>(v);
    return true;
}

namespace {

// Whether obj's type is NumPy's boolean scalar type, judged by the type's
// __module__ and name. Lookup failures just mean "no".
bool is_numpy_bool_type(PyTypeObject* tp) {
    Ref mod(PyObject_GetAttrString(reinterpret_cast<PyObject*>(tp), "__module__"));
    if (!mod) {
        PyErr_Clear();
        return false;
    }
    if (!PyUnicode_Check(mod.get()) || PyUnicode_CompareWithASCIIString(mod.get(), "numpy") != 0) return false;
    Ref name(PyType_GetName(tp));
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
           PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

}  // namespace

bool convert_bool(PyObject* obj, bool* out) {
    if (Py_IS_TYPE(obj, &PyBool_Type)) {
        *out = (obj == Py_True);
        return true;
    }
    PyTypeObject* tp = Py_TYPE(obj);
    if (!is_numpy_bool_type(tp)) {
        raise_not_instance(obj, "bool");
        return false;
    }
    PyObject* tpo = reinterpret_cast<PyObject*>(tp);
    Ref attr(PyObject_GetAttrString(tpo, "__bool__"));
    if (!attr) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion", tpo);
        return false;
    }
    if (auto get = reinterpret_cast<descrgetfunc>(PyType_GetSlot(Py_TYPE(attr.get()), Py_tp_descr_get))) {
        attr.reset(get(attr.get(), obj, tpo));
        if (!attr) return false;
    }
    Ref result(PyObject_CallNoArgs(attr.get()));
    if (!result) return false;
    if (!Py_IS_TYPE(result.get(), &PyBool_Type)) {
        raise_not_instance(result.get(), "bool");
        return false;
    }
    *out = (result.get() == Py_True);
    return true;
}

void rename_conversion_error(const char* name) {
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    if (type != PyExc_TypeError) {
        PyErr_Restore(type, value, tb);
        return;
    }
    PyErr_NormalizeException(&type, &value, &tb);
    Ref t(type), v(value), b(tb);
    Ref msg(PyObject_Str(v.get()));
    if (!msg) {
        // Cannot describe the original: let it stand as it is.
        PyErr_Clear();
        PyErr_Restore(t.release(), v.release(), b.release());
        return;
    }
    Ref renamed(PyUnicode_FromFormat("argument '%s': %U", name, msg.get()));
    if (!renamed) return;
    Ref exc(PyObject_CallFunctionObjArgs(PyExc_TypeError, renamed.get(), nullptr));
    if (!exc) return;
    PyException_SetCause(exc.get(), PyException_GetCause(v.get()));  // steals the new reference
    PyErr_SetObject(PyExc_TypeError, exc.get());
}

}  // namespace halvo
