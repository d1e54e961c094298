// The few pieces of NumPy's C ABI this module uses, declared here so that the
// build needs no NumPy headers. Each value below was checked against the
// headers of NumPy 1.26 (numpy/core/include) and 2.x (numpy/_core/include):
// the type numbers, flags, the leading fields of the array object, the
// leading fields of the dtype object and the API-table slot numbers are the
// same in both, except for the dtype's itemsize, whose type and offset
// changed in 2.0 (told apart at run time by the C feature version).
#pragma once

#include "py_limited.hpp"

#include <cstdint>

namespace halvo::npy {

using npy_intp = Py_ssize_t;

// Type numbers (enum NPY_TYPES).
inline constexpr int kFloat = 11;   // NPY_FLOAT, float32
inline constexpr int kCFloat = 14;  // NPY_CFLOAT, complex64

// Array flags.
inline constexpr int kCContiguous = 0x0001;  // NPY_ARRAY_C_CONTIGUOUS
inline constexpr int kFContiguous = 0x0002;  // NPY_ARRAY_F_CONTIGUOUS
inline constexpr int kAligned = 0x0100;      // NPY_ARRAY_ALIGNED
inline constexpr int kWriteable = 0x0400;    // NPY_ARRAY_WRITEABLE

// C feature version from which the dtype layout below is the 2.x one.
inline constexpr unsigned kApi2 = 0x12;  // NPY_2_0_API_VERSION

// Leading fields of struct tagPyArrayObject_fields (identical in 1.x and 2.x).
struct ArrayFields {
    PyObject ob_base;
    char* data;
    int nd;
    npy_intp* dimensions;
    npy_intp* strides;
    PyObject* base;
    PyObject* descr;
    int flags;
};

// Leading fields of PyArray_Descr in NumPy 1.x.
struct DescrFields1 {
    PyObject ob_base;
    PyTypeObject* typeobj;
    char kind, type, byteorder, flags;
    int type_num;
    int elsize;
};

// Leading fields of PyArray_Descr in NumPy 2.x.
struct DescrFields2 {
    PyObject ob_base;
    PyTypeObject* typeobj;
    char kind, type, byteorder, former_flags;
    int type_num;
    std::uint64_t flags;
    npy_intp elsize;
};

// Slot numbers in the table behind numpy's _ARRAY_API capsule.
inline constexpr int kSlotArrayType = 2;                // PyArray_Type
inline constexpr int kSlotDescrFromType = 45;           // PyArray_DescrFromType
inline constexpr int kSlotNewFromDescr = 94;            // PyArray_NewFromDescr
inline constexpr int kSlotEquivTypes = 182;             // PyArray_EquivTypes
inline constexpr int kSlotGetFeatureVersion = 211;      // PyArray_GetNDArrayCFeatureVersion
inline constexpr int kSlotSetBaseObject = 282;          // PyArray_SetBaseObject

using DescrFromTypeFn = PyObject* (*)(int);
using NewFromDescrFn = PyObject* (*)(PyTypeObject*, PyObject*, int, npy_intp*, npy_intp*, void*, int,
                                     PyObject*);
using EquivTypesFn = unsigned char (*)(PyObject*, PyObject*);
using GetFeatureVersionFn = unsigned int (*)();
using SetBaseObjectFn = int (*)(PyObject*, PyObject*);

inline ArrayFields* fields(PyObject* arr) { return reinterpret_cast<ArrayFields*>(arr); }

// Item size of a dtype object, for the layout given by the feature version.
inline npy_intp descr_elsize(PyObject* descr, unsigned feature_version) {
    if (feature_version >= kApi2) return reinterpret_cast<DescrFields2*>(descr)->elsize;
    return reinterpret_cast<DescrFields1*>(descr)->elsize;
}

}  // namespace halvo::npy
