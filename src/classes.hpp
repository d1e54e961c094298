// The ten classes' type specs, in registration order.
#pragma once

#ifndef Py_LIMITED_API
#error "halvo_sdr is built against the stable ABI: define Py_LIMITED_API"
#endif
#include <Python.h>

#include <cstddef>

namespace halvo {

struct ClassEntry {
    const char* name;    // the bare class name, as listed in __all__
    PyType_Spec* type_spec;  // "builtins.<name>", default flags
};

inline constexpr std::size_t kClassCount = 10;
extern const ClassEntry kClasses[kClassCount];

}  // namespace halvo
