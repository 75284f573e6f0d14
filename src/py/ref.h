// Owned Python references.
#pragma once
#include "py/python.h"

#include <utility>

namespace kestrome::py {

// Owns one strong reference; a raw PyObject* elsewhere is always borrowed.
class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : ptr_(other.ptr_) { Py_XINCREF(ptr_); }
    Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~Ref() { Py_XDECREF(ptr_); }

    // Takes over a new reference (nullptr allowed: an empty Ref).
    static Ref steal(PyObject* obj) noexcept { return Ref(obj); }
    // Takes a new reference to a borrowed object.
    static Ref borrow(PyObject* obj) noexcept {
        Py_XINCREF(obj);
        return Ref(obj);
    }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    // Gives the reference away to the caller.
    PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }

private:
    explicit Ref(PyObject* obj) noexcept : ptr_(obj) {}
    PyObject* ptr_ = nullptr;
};

}  // namespace kestrome::py

namespace kestrome::py {

// obj.name(arg), as a new reference (empty with the error pending).
inline Ref call_method1(PyObject* obj, const char* name, PyObject* arg) {
    Ref method = Ref::steal(PyObject_GetAttrString(obj, name));
    if (!method) return method;
    return Ref::steal(PyObject_CallOneArg(method.get(), arg));
}

}  // namespace kestrome::py
