// Stretches of code that must not reach the interpreter: the loops that read
// containers in place without holding references. Anything that allocates a
// Python object can run the collector, whose finalizers may free or change
// the very containers such a loop is reading.
//
// Builds with KESTROME_CHECK_NO_PYTHON (the sanitized one) check the rule:
// the functions of ours that may reach the interpreter call may_call_python(),
// which ends the process inside a NoPythonScope, and a scope's end checks
// that no exception was raised and that the collector did not run while it
// was open. Other builds compile both away.
#pragma once
#include "py/python.h"

#include <cstdint>

namespace kestrome::py {

#ifdef KESTROME_CHECK_NO_PYTHON

// Open scopes on this thread.
extern thread_local int no_python_depth;

// Collections the interpreter has started, counted from the collector's
// callbacks (installed at import).
std::uint64_t collections_started();

// Installs the callback; false with an exception pending.
bool count_collections();

[[noreturn]] void no_python_broken(const char* what);

inline void may_call_python() {
    if (no_python_depth > 0) no_python_broken("a call that may reach the interpreter");
}

class NoPythonScope {
public:
    NoPythonScope() : collections_(collections_started()), raised_before_(PyErr_Occurred() != nullptr) {
        ++no_python_depth;
    }
    ~NoPythonScope() {
        --no_python_depth;
        if (!raised_before_ && PyErr_Occurred() != nullptr) no_python_broken("an exception raised");
        if (collections_started() != collections_) no_python_broken("the collector run");
    }
    NoPythonScope(const NoPythonScope&) = delete;
    NoPythonScope& operator=(const NoPythonScope&) = delete;

private:
    std::uint64_t collections_;
    bool raised_before_;
};

#else

inline void may_call_python() {}

class NoPythonScope {
public:
    NoPythonScope() {}
    NoPythonScope(const NoPythonScope&) = delete;
    NoPythonScope& operator=(const NoPythonScope&) = delete;
};

#endif

}  // namespace kestrome::py
