// Process-wide caches filled once, on first need.
//
// A thread that finds a cell empty releases the interpreter lock, takes the
// cell's own lock, re-takes the interpreter lock and only then runs (or finds
// finished) the single initialisation. No thread ever waits for a cell's lock
// while holding the interpreter lock, so threads making their first call at
// once neither deadlock nor initialise twice. A failed initialisation leaves
// the cell empty: the next caller tries again.
#pragma once

#include "py_limited.hpp"

#include <atomic>
#include <mutex>
#include <thread>

namespace halvo {

template <class T>
class OnceCell {
public:
    // With the interpreter lock held: the cached value, or the result of
    // init(T&) -> bool (run with the interpreter lock held). On false a Python
    // error is set. Throwing from init leaves the cell empty and unlocked.
    template <class Init>
    bool get(T& out, Init&& init) {
        if (ready_.load(std::memory_order_acquire)) {
            out = value_;
            return true;
        }
        if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
            // The initialisation called back into itself (e.g. through an
            // import hook); waiting would deadlock this thread.
            PyErr_SetString(PyExc_RuntimeError, "halvo_sdr: recursive initialisation of a process-wide cache");
            return false;
        }
        PyThreadState* ts = PyEval_SaveThread();
        std::unique_lock<std::mutex> lock(mu_);
        PyEval_RestoreThread(ts);
        if (!ready_.load(std::memory_order_acquire)) {
            owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
            struct ClearOwner {
                std::atomic<std::thread::id>& o;
                ~ClearOwner() { o.store(std::thread::id(), std::memory_order_relaxed); }
            } clear{owner_};
            T v{};
            if (!init(v)) return false;
            value_ = v;
            ready_.store(true, std::memory_order_release);
        }
        out = value_;
        return true;
    }

    bool ready() const { return ready_.load(std::memory_order_acquire); }

private:
    std::atomic<bool> ready_{false};
    std::atomic<std::thread::id> owner_{};
    std::mutex mu_;
    T value_{};
};

}  // namespace halvo
