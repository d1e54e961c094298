// Both modules' type specs, in registration order (the class lists).
#pragma once

#include "py_limited.hpp"

#include <cstddef>

#include "class_list.hpp"
#include "radio/class_list.hpp"
#include "radio/bank_list.hpp"

namespace halvo {

struct ClassEntry {
    const char* name;    // the bare class name, as listed in __all__
    PyType_Spec* type_spec;  // "builtins.<name>", default flags
};

#define HALVO_COUNT_CLASS(Class, In, Out) +1
inline constexpr std::size_t kClassCount = 0 HALVO_CLASSES(HALVO_COUNT_CLASS);
// halvo_radio._native: its own classes, then one bank per halvo_sdr class.
inline constexpr std::size_t kRadioClassCount = 0 HALVO_RADIO_CLASSES(HALVO_COUNT_CLASS) HALVO_CLASSES(HALVO_COUNT_CLASS);
#undef HALVO_COUNT_CLASS
extern const ClassEntry kClasses[kClassCount];

// halvo_radio._native's classes and module functions (radio_classes.cpp).
extern const ClassEntry kRadioClasses[kRadioClassCount];
extern PyMethodDef kRadioFunctions[];

// The banks' type specs (bank_classes.cpp).
#define HALVO_BANK_SPEC_DECL(Class, In, Out) extern PyType_Spec& Class##Bank_spec;
HALVO_CLASSES(HALVO_BANK_SPEC_DECL)
#undef HALVO_BANK_SPEC_DECL

}  // namespace halvo
