// Process-wide once-initialised cells.
//
// A thread that finds the cell incomplete detaches from the interpreter
// before it waits, and re-attaches only to run the initialiser itself: a
// waiter that kept the interpreter while another thread's initialiser calls
// Python would deadlock. No thread ever waits for the mutex while attached.
//
// The initialiser runs Python code (imports, and whatever import hooks do),
// which may come back into the module on the same thread and ask for the
// very cell being initialised. Waiting there would wait for ourselves
// forever, so that re-entry fails with a RuntimeError instead.
#pragma once
#include "py/python.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace kestrome::py {

inline constexpr char ONCE_REENTERED[] =
    "kestrome was used by Python code that ran while kestrome was initialising its own process-wide state "
    "on the same thread (an import hook that builds a validator while kestrome imports typing, for "
    "example); that use cannot wait for the initialisation it interrupted. Build the validator after the "
    "hook returns, or build one validator before installing the hook.";

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
        const std::thread::id self = std::this_thread::get_id();
        // Only this thread ever stores its own id, so a relaxed read is exact.
        if (owner_.load(std::memory_order_relaxed) == self) {
            PyErr_SetString(PyExc_RuntimeError, ONCE_REENTERED);
            return nullptr;
        }
        PyThreadState* saved = PyEval_SaveThread();
        std::unique_lock<std::mutex> lock(mutex_);
        if (complete_.load(std::memory_order_acquire)) {
            lock.unlock();
            PyEval_RestoreThread(saved);
            return &value_;
        }
        PyEval_RestoreThread(saved);
        owner_.store(self, std::memory_order_relaxed);
        struct Disown {
            std::atomic<std::thread::id>& owner;
            ~Disown() { owner.store(std::thread::id(), std::memory_order_relaxed); }
        } disown{owner_};
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
    std::atomic<std::thread::id> owner_{};
    std::mutex mutex_;
    T value_{};
};

}  // namespace kestrome::py
