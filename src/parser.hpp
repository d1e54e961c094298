// Argument parsing and conversion for every constructor and method.
//
// One static descriptor per callable; one parser for both call forms
// (vectorcall: array + count + keyword-name tuple; tuple/dictionary), which
// fills one slot per parameter with a borrowed reference or leaves it empty.
// A successful parse allocates nothing; messages are built only on error.
#pragma once

#include "py_limited.hpp"

namespace halvo {

inline constexpr int kMaxParams = 10;  // Receiver takes ten

struct ArgDescriptor {
    const char* class_name;     // e.g. "AmEnvelopeDemod"
    const char* callable_name;  // "__new__" for a constructor, else the method name
    const char* const* names;   // parameter names, in order
    int count;                  // number of parameters (no positional-only, no keyword-only)
    int required;               // how many leading parameters are required
};

// Vectorcall form. slots[i] is a borrowed reference or nullptr. Returns false
// with TypeError set on a parse error.
bool parse_fastcall(const ArgDescriptor& d, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** slots);

// Tuple/dictionary form (kwargs may be nullptr).
bool parse_tuple_dict(const ArgDescriptor& d, PyObject* args, PyObject* kwargs, PyObject** slots);

// Number rule: PyFloat_AsDouble. Returns false with the conversion's error set.
bool convert_number(PyObject* obj, double* out);

// Integer rule: the object's __index__ (a float raises TypeError), within
// the range of int (else OverflowError). Returns false with the error set.
bool convert_int(PyObject* obj, int* out);

// Boolean rule: exactly bool, or NumPy's bool scalar through its __bool__.
bool convert_bool(PyObject* obj, bool* out);

// Renames a pending conversion error after the parameter: an exception whose
// type is exactly TypeError becomes TypeError "argument '<name>': <message>"
// with the original's __cause__; any other exception passes unchanged.
void rename_conversion_error(const char* name);

}  // namespace halvo
