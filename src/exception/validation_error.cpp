#include "exception/validation_error.h"

#include "py/error.h"
#include "py/once.h"

namespace kestrome {

namespace {
py::ProcessOnce<PyObject*> validation_error_cell;
}

PyObject* validation_error_type() {
    PyObject** cell = validation_error_cell.get([](PyObject*& out) {
        out = PyErr_NewExceptionWithDoc("_kestrome.ValidationError",
                                        "Raised when a value is not a member of a schema's set.", PyExc_Exception,
                                        nullptr);
        if (out == nullptr) {
            PyErr_Clear();
            py::internal_failure("Failed to initialize new exception type.");
        }
        return true;
    });
    return *cell;
}

}  // namespace kestrome
