// The error convention of the module.
//
// A function that can raise returns a value that says so (nullptr, false,
// an empty optional) with the exception pending in the interpreter's error
// indicator. A broken invariant is an InternalFailure (a C++ exception),
// caught at every entry point and raised as the panic exception.
#pragma once
#include "py/ref.h"

#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrome::py {

template <class T>
using Result = std::optional<T>;

class InternalFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void internal_failure(const std::string& text);

// The panic exception type (derived from BaseException), made once.
PyObject* panic_exception_type();

// Takes the pending exception out of the error indicator and returns it
// normalised (never null when an error was pending). A panic exception
// raised back at us by Python code is not an ordinary exception: its banner
// and traceback go to stderr and the internal failure continues.
Ref take_error();

// Takes and drops the pending exception.
void discard_error();

// Re-raises an exception taken with take_error.
void restore_error(Ref exc);

// Sets a Python exception of the given type with a UTF-8 message.
void set_error(PyObject* type, std::string_view message);

// Adds "while processing '{name}'" to the pending exception with add_note;
// when the note cannot be added the exception stays as it was.
void add_argument_note(std::string_view name);

// Sets the binding layer's type-mismatch TypeError for `obj`, which should
// have been an instance of `expected` (a class, or a tuple of classes).
void set_type_mismatch(PyObject* obj, PyObject* expected);

// Sets the panic exception with `text` as its message, replacing whatever
// was pending; when the interpreter cannot allocate the message its own
// exception stays pending instead. Never throws: anything that goes wrong
// here ends the process through Py_FatalError.
void raise_panic(const char* text) noexcept;

// Runs an entry point body: internal failures become the panic exception,
// running out of memory for our own data ends the process. Nothing escapes,
// so nothing reaches std::terminate.
template <class R, class F>
R guard_entry(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        Py_FatalError("kestrome: out of memory");
    } catch (const std::exception& e) {
        raise_panic(e.what());
        return failure;
    } catch (...) {
        raise_panic("an internal failure without a description");
        return failure;
    }
}

}  // namespace kestrome::py
