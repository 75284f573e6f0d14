// Process-wide once-initialised cells.
//
// A thread that finds the cell incomplete detaches from the interpreter
// before it waits, and re-attaches only to run the initialiser itself: a
// waiter that kept the interpreter while another thread's initialiser calls
// Python would deadlock. No thread ever waits for the mutex while attached.
#pragma once
#include "py/python.h"

#include <atomic>
#include <mutex>

namespace kestrome::py {

template <class T>
class ProcessOnce {
public:
    // `init(T&)` fills the value and returns true, or returns false with a
    // Python exception pending; the cell then stays incomplete and the next
    // caller tries again. Returns the value, or nullptr on failure.
    template <class Init>
    T* get(Init&& init) {
        if (complete_.load(std::memory_order_acquire)) {
            return &value_;
        }
        PyThreadState* saved = PyEval_SaveThread();
        std::unique_lock<std::mutex> lock(mutex_);
        if (complete_.load(std::memory_order_acquire)) {
            lock.unlock();
            PyEval_RestoreThread(saved);
            return &value_;
        }
        PyEval_RestoreThread(saved);
        if (!init(value_)) {
            return nullptr;
        }
        complete_.store(true, std::memory_order_release);
        return &value_;
    }

    // The value when complete, else nullptr; never initialises.
    T* peek() {
        return complete_.load(std::memory_order_acquire) ? &value_ : nullptr;
    }

private:
    std::atomic<bool> complete_{false};
    std::mutex mutex_;
    T value_{};
};

}  // namespace kestrome::py
