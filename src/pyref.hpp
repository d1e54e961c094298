// An owned Python reference, released on every exit path.
#pragma once

#include "py_limited.hpp"

#include <utility>

namespace halvo {

// An owned (strong) reference; released when it goes out of scope.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(o.release()) {}
    Ref& operator=(Ref&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    void reset(PyObject* owned = nullptr) { Py_XDECREF(std::exchange(p_, owned)); }

private:
    PyObject* p_ = nullptr;
};

}  // namespace halvo
