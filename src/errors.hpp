// Error shapes shared by the Python-facing code: the not-an-instance
// TypeError, the internal-failure exception native_runtime.PanicException,
// and the guard that turns a C++ failure into that exception.
#pragma once

#include "py_limited.hpp"

#include <exception>

#include "argument_error.hpp"
#include "port/source_location.hpp"
#include <string>

namespace halvo {

// An internal failure of the native code. Thrown inside a guard; never
// crosses into the interpreter.
class Panic : public std::exception {
public:
    explicit Panic(std::string text, port::SourceLocation where = port::SourceLocation::current())
        : text_(std::move(text)), where_(where) {}
    const char* what() const noexcept override { return text_.c_str(); }
    const port::SourceLocation& where() const noexcept { return where_; }

private:
    std::string text_;
    port::SourceLocation where_;
};

// "<Type>: <str(exc)>" of the pending Python error, which is cleared.
// "unknown error" when none is pending.
std::string take_error_description();

// Raises TypeError "'<qualname>' object is not an instance of '<target>'"
// (or "'None' is not an instance of '<target>'"). Returns nullptr.
PyObject* raise_not_instance(PyObject* obj, const char* target);

// Raises the internal-failure exception with the given text (after writing
// the diagnostic line to standard error). Returns nullptr.
PyObject* raise_panic(const char* text, const port::SourceLocation& where);

// Runs body() and returns its result; an ArgumentError escaping it becomes
// ValueError with its message, any other C++ exception the internal-failure
// exception (cleanup held by destructors inside body has
// already run by then) and `failed` is returned.
template <class R, class Body>
R guard(R failed, Body&& body) noexcept {
    try {
        return body();
    } catch (const ArgumentError& e) {
        PyErr_SetString(PyExc_ValueError, e.what());  // a rejected argument, not a failure
    } catch (const Panic& p) {
        raise_panic(p.what(), p.where());
    } catch (const std::exception& e) {
        raise_panic(e.what(), port::SourceLocation::current());
    } catch (...) {
        raise_panic(nullptr, port::SourceLocation::current());
    }
    return failed;
}

}  // namespace halvo
