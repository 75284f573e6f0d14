#include "exception/validation_error.h"

#include "py/error.h"
#include "py/once.h"
#include "util/text.h"

#include <string>

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

namespace kestrome {

namespace {

// Sets obj.name = value; false with the error pending.
bool set_attr(PyObject* obj, const char* name, py::Ref value) {
    if (!value) py::internal_failure("could not create an attribute value");
    return PyObject_SetAttrString(obj, name, value.get()) == 0;
}

py::Ref error_dict(const ErrorRecord& record) {
    py::Ref dict = py::Ref::steal(PyDict_New());
    if (!dict) py::internal_failure("could not create an errors entry");
    const std::pair<const char*, py::Ref> items[] = {
        {"code", make_str(record.code)},
        {"path", path_to_tuple(record.path)},
        {"message", make_str(render_error_line(record))},
        {"expected", make_str(record.expected)},
        {"value", make_str(record.value)},
    };
    for (const auto& [key, value] : items) {
        if (PyDict_SetItemString(dict.get(), key, value.get()) < 0) return py::Ref();
    }
    return dict;
}

}  // namespace

void build_validation_error(const Records& given) {
    static const ErrorRecord fallback{{}, "a member of the schema's set", "", "validation_error"};
    const ErrorRecord* first = given.empty() ? &fallback : given.data();
    const std::size_t count = given.empty() ? 1 : given.size();
    const ErrorRecord& lead = *first;

    std::string message;
    if (count == 1) {
        message = render_error_line(lead);
    } else {
        message = std::to_string(count) + " validation errors:";
        for (std::size_t i = 0; i < count; ++i) {
            message += "\n" + render_error_line(first[i]);
        }
    }
    py::Ref text = make_str(message);
    py::Ref exc = py::Ref::steal(PyObject_CallOneArg(validation_error_type(), text.get()));
    if (!exc) return;
    if (!set_attr(exc.get(), "code", make_str(lead.code)) || !set_attr(exc.get(), "expected", make_str(lead.expected)) ||
        !set_attr(exc.get(), "value", make_str(lead.value)) ||
        !set_attr(exc.get(), "message", make_str(render_error_line(lead))) ||
        !set_attr(exc.get(), "path", path_to_tuple(lead.path))) {
        return;
    }
    py::Ref errors = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
    if (!errors) py::internal_failure("could not create the errors tuple");
    for (std::size_t i = 0; i < count; ++i) {
        py::Ref entry = error_dict(first[i]);
        if (!entry) return;
        PyTuple_SET_ITEM(errors.get(), static_cast<Py_ssize_t>(i), entry.release());
    }
    if (!set_attr(exc.get(), "errors", std::move(errors))) return;
    PyErr_SetObject(validation_error_type(), exc.get());
}

}  // namespace kestrome
