// The two modules of this extension file: halvo_sdr and halvo_radio._native
// (loaded by the halvo_radio package from this same file). Each uses
// multi-phase initialisation with one exec slot that registers its class
// list in order and lists the classes in __all__.
//
// Type objects are created once per process on first need and shared by
// every module instance; the modules keep no per-module state. Both share
// the process-wide caches (the borrow registry, the output holder type, the
// NumPy API table).
#include <string>

#include "classes.hpp"
#include "errors.hpp"
#include "once.hpp"
#include "pyref.hpp"

namespace halvo {
namespace {

OnceCell<PyTypeObject*> type_cells[kClassCount];
OnceCell<PyTypeObject*> radio_type_cells[kRadioClassCount];
OnceCell<PyObject*> all_name_cell;  // interned "__all__"

PyObject* all_name() {
    PyObject* name = nullptr;
    if (!all_name_cell.get(name, [](PyObject*& s) {
            s = PyUnicode_InternFromString("__all__");
            return s != nullptr;
        })) {
        return nullptr;
    }
    return name;
}

// Adds one class to the module: appends its name to __all__ (created when
// missing) and sets the attribute.
bool register_class(PyObject* module, const ClassEntry& c, OnceCell<PyTypeObject*>& cell) {
    PyTypeObject* type = nullptr;
    if (!cell.get(type, [&c](PyTypeObject*& t) {
            t = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(c.type_spec));
            return t != nullptr;
        })) {
        return false;
    }
    Ref name(PyUnicode_FromString(c.name));
    if (!name) return false;
    PyObject* all_attr = all_name();
    if (!all_attr) return false;
    Ref all(PyObject_GetAttr(module, all_attr));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all.reset(PyList_New(0));
        if (!all || PyObject_SetAttr(module, all_attr, all.get()) < 0) return false;
    }
    if (!PyList_Check(all.get())) {
        raise_not_instance(all.get(), "list");
        return false;
    }
    if (PyList_Append(all.get(), name.get()) < 0) {
        throw Panic("cannot append to __all__: " + take_error_description());
    }
    return PyObject_SetAttr(module, name.get(), reinterpret_cast<PyObject*>(type)) == 0;
}

template <const ClassEntry* Classes, std::size_t Count, OnceCell<PyTypeObject*>* Cells>
int exec_module(PyObject* module) {
    return guard<int>(-1, [&]() -> int {
        if (!PyModule_Check(module)) {
            raise_not_instance(module, "module");
            return -1;
        }
        for (std::size_t i = 0; i < Count; ++i) {
            if (!register_class(module, Classes[i], Cells[i])) return -1;
        }
        return 0;
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module<kClasses, kClassCount, type_cells>)},
    {0, nullptr},
};

PyModuleDef_Slot radio_module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module<kRadioClasses, kRadioClassCount, radio_type_cells>)},
    {0, nullptr},
};

PyModuleDef radio_module_def = {
    PyModuleDef_HEAD_INIT,
    "halvo_radio._native",
    "",
    0,
    kRadioFunctions,
    radio_module_slots,
    nullptr,
    nullptr,
    nullptr,
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "halvo_sdr",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace halvo

// PyMODINIT_FUNC: extern "C", the return type, and exported: visibility
// "default" on ELF and Mach-O, __declspec(dllexport) on Windows.
PyMODINIT_FUNC PyInit_halvo_sdr(void) {
    return PyModuleDef_Init(&halvo::module_def);
}

// halvo_radio._native, from the same file: the halvo_radio package loads it
// with ExtensionFileLoader("halvo_radio._native", <this file>).
PyMODINIT_FUNC PyInit__native(void) {
    return PyModuleDef_Init(&halvo::radio_module_def);
}
