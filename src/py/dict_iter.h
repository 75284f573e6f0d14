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

    // The next entry as borrowed pointers that stay valid while the caller
    // holds the references it takes; false at the end.
    bool next(PyObject** key, PyObject** value) {
        if (PyDict_GET_SIZE(dict_) != used_) {
            used_ = -1;
            internal_failure("dictionary changed size during iteration");
        }
        if (remaining_ == -1) {
            used_ = -1;
            internal_failure("dictionary keys changed during iteration");
        }
        if (PyDict_Next(dict_, &pos_, key, value)) {
            --remaining_;
            return true;
        }
        return false;
    }

private:
    PyObject* dict_;
    Py_ssize_t used_;
    Py_ssize_t remaining_;
    Py_ssize_t pos_ = 0;
};

}  // namespace kestrome::py
