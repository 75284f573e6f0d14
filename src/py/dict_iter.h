// Reading a dict's entries in order under the iteration guards: Python code
// that changes the dict while its entries are processed ends the reading
// with an internal failure.
#pragma once
#include "py/error.h"

namespace kestrome::py {

class DictReader {
public:
    explicit DictReader(PyObject* dict) noexcept
        : dict_(dict), used_(PyDict_GET_SIZE(dict)), remaining_(used_) {}
    ~DictReader() { release(); }
    DictReader(const DictReader&) = delete;
    DictReader& operator=(const DictReader&) = delete;

    // Moves to the next entry; false at the end. The reader holds a
    // reference to the current key and value until the next move.
    bool next() {
        if (!next_unheld()) return false;
        hold();
        return true;
    }

    // Moves to the next entry without taking references: for a caller that
    // runs no Python code on the entry unless it calls hold() first.
    bool next_unheld() {
        if (PyDict_GET_SIZE(dict_) != used_) {
            used_ = -1;
            internal_failure("dictionary changed size during iteration");
        }
        if (remaining_ == -1) {
            used_ = -1;
            internal_failure("dictionary keys changed during iteration");
        }
        release();
        if (PyDict_Next(dict_, &pos_, &key_, &value_)) {
            --remaining_;
            return true;
        }
        key_ = value_ = nullptr;
        return false;
    }

    // Holds references to the current key and value until the next move.
    void hold() {
        if (held_ || key_ == nullptr) return;
        Py_INCREF(key_);
        Py_INCREF(value_);
        held_ = true;
    }

    PyObject* key() const { return key_; }
    PyObject* value() const { return value_; }

private:
    void release() {
        if (held_) {
            Py_DECREF(key_);
            Py_DECREF(value_);
            held_ = false;
        }
        key_ = value_ = nullptr;
    }

    PyObject* dict_;
    Py_ssize_t used_;
    Py_ssize_t remaining_;
    Py_ssize_t pos_ = 0;
    PyObject* key_ = nullptr;
    PyObject* value_ = nullptr;
    bool held_ = false;
};

}  // namespace kestrome::py
