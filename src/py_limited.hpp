// Python.h for the stable ABI: every file that talks to the interpreter
// includes this instead of Python.h.
#pragma once

#ifndef Py_LIMITED_API
#error "halvo_sdr is built against the stable ABI: define Py_LIMITED_API"
#endif
#include <Python.h>
