// The error convention of the module.
//
// A function that can raise says so in its type, with the exception pending
// in the interpreter's error indicator when it fails: a null PyObject* or
// Ref, -1 where the C API uses it, false for a bool that only says whether
// it worked, and Result<T> for a value. std::optional never means a failure:
// it means absence only. A broken invariant is an InternalFailure (a C++
// exception), caught at every entry point and raised as the panic exception.
#pragma once
#include "py/ref.h"

#include <cassert>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace kestrome::py {

// What a function returns when it failed: `return py::raised;`, with the
// exception already pending.
struct Raised {};
inline constexpr Raised raised{};

// A value, or a failure with the exception pending. A type of its own
// rather than std::optional, so that "failed" and "absent" cannot be
// confused, and [[nodiscard]], so that no failure goes unseen.
template <class T>
class [[nodiscard]] Result {
public:
    // Builds with assertions catch a failure reported with nothing pending
    // where it is made, not where the interpreter would find it later.
    Result(Raised) noexcept { assert(PyErr_Occurred() != nullptr); }
    // Forwarded, so that a value is moved into place once, as into an
    // std::optional.
    template <class U = T>
        requires std::is_constructible_v<T, U&&> && (!std::is_same_v<std::remove_cvref_t<U>, Result>) &&
                 (!std::is_same_v<std::remove_cvref_t<U>, Raised>)
    Result(U&& value) : value_(std::forward<U>(value)) {}

    explicit operator bool() const noexcept { return value_.has_value(); }
    T& operator*() & { return *value_; }
    const T& operator*() const& { return *value_; }
    T&& operator*() && { return std::move(*value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

private:
    std::optional<T> value_;
};

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
