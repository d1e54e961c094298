// Small RAII helpers for Python references and cleanup on every exit path.
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

    static Ref borrowed(PyObject* b) {
        Py_XINCREF(b);
        return Ref(b);
    }

private:
    PyObject* p_ = nullptr;
};

// Runs a callable when the scope ends, however it ends.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (armed_) f_();
    }
    void dismiss() { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

}  // namespace halvo
