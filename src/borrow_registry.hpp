// The array borrow registry this module installs when no other extension
// module has published one: a versioned table of four functions behind a
// capsule named "_VELK_NUMPY_BORROW_CHECKING_API" on NumPy's multiarray module.
#pragma once

#include "py_limited.hpp"

#include <cstdint>

namespace halvo {

inline constexpr const char* kBorrowCapsuleName = "_VELK_NUMPY_BORROW_CHECKING_API";

// Layout shared with every other module that uses the registry.
struct BorrowTable {
    std::uint64_t version;  // 1 for tables made here; 0 is refused
    void* state;            // the registry's private state, first argument of every call
    // The acquire functions return 0, -1 (conflict) or -2 (not writeable); the
    // ones made here also return -3 when out of memory or not given an ndarray.
    int (*acquire_shared)(void* state, PyObject* array);
    int (*acquire_exclusive)(void* state, PyObject* array);
    void (*release_shared)(void* state, PyObject* array);
    void (*release_exclusive)(void* state, PyObject* array);
};

// A new capsule holding a fresh, empty registry (version 1), or NULL with a
// Python error set. The capsule owns the table, the state and its own name.
// `feature_version` is NumPy's C feature version (for the dtype layout).
// `array_type` is PyArray_Type, used to follow chains of array base objects.
PyObject* new_borrow_registry_capsule(unsigned feature_version, PyTypeObject* array_type);

}  // namespace halvo
