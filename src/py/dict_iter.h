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

    // The next entry, held by new references while the caller processes it;
    // false at the end.
    bool next(Ref& key, Ref& value) {
        if (PyDict_GET_SIZE(dict_) != used_) {
            used_ = -1;
            internal_failure("dictionary changed size during iteration");
        }
        if (remaining_ == -1) {
            used_ = -1;
            internal_failure("dictionary keys changed during iteration");
        }
        PyObject* k;
        PyObject* v;
        if (PyDict_Next(dict_, &pos_, &k, &v)) {
            --remaining_;
            key = Ref::borrow(k);
            value = Ref::borrow(v);
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
