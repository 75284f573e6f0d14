#include "exception/validation_error.h"

#include "py/error.h"
#include "py/once.h"
#include "util/text.h"

#include <optional>
#include <string>

namespace kestrome {

namespace {

py::ProcessOnce<PyObject*> validation_error_cell;

// The attribute and entry names, made once per process: an error costs only
// its own texts.
enum ErrorKey { CODE, PATH, MESSAGE, EXPECTED, VALUE, ERRORS, KEY_COUNT };

struct ErrorKeys {
    PyObject* names[KEY_COUNT] = {};
};

py::ProcessOnce<ErrorKeys> error_keys_cell;

PyObject* const* error_keys() {
    ErrorKeys* keys = error_keys_cell.get([](ErrorKeys& out) {
        static const char* const texts[KEY_COUNT] = {"code", "path", "message", "expected", "value", "errors"};
        for (int i = 0; i < KEY_COUNT; ++i) {
            out.names[i] = PyUnicode_InternFromString(texts[i]);
            if (out.names[i] == nullptr) py::internal_failure("could not create an error key");
        }
        return true;
    });
    return keys->names;
}

// A tuple with an int per index step and a str per key step.
py::Ref path_to_tuple(const Path& path) {
    py::Ref tuple = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(path.size())));
    if (!tuple) py::internal_failure("could not create a path tuple");
    for (std::size_t i = 0; i < path.size(); ++i) {
        py::Ref item = path[i].is_key ? make_str(path[i].key)
                                      : py::Ref::steal(PyLong_FromUnsignedLongLong(path[i].index));
        if (!item) py::internal_failure("could not create a path item");
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return tuple;
}

py::Ref checked(py::Ref value) {
    if (!value) py::internal_failure("could not create an error value");
    return value;
}

// The Python texts of one record, each made once and shared by the
// exception's attributes and its errors entry.
struct RecordObjects {
    py::Ref fields[VALUE + 1];

    RecordObjects(const ErrorRecord& record, std::string line) {
        fields[CODE] = checked(make_str(record.code));
        fields[PATH] = checked(path_to_tuple(record.path));
        fields[MESSAGE] = checked(make_str(line));
        fields[EXPECTED] = checked(make_str(record.expected));
        fields[VALUE] = checked(make_str(record.value));
    }
};

py::Ref error_dict(const RecordObjects& objects, PyObject* const* keys) {
    py::Ref dict = py::Ref::steal(_PyDict_NewPresized(VALUE + 1));
    if (!dict) py::internal_failure("could not create an errors entry");
    for (int i = CODE; i <= VALUE; ++i) {
        if (PyDict_SetItem(dict.get(), keys[i], objects.fields[i].get()) < 0) return py::Ref();
    }
    return dict;
}

}  // namespace

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

void build_validation_error(const Records& given) {
    static const ErrorRecord fallback{{}, "a member of the schema's set", "", "validation_error"};
    const ErrorRecord* first = given.empty() ? &fallback : given.data();
    const std::size_t count = given.empty() ? 1 : given.size();
    PyObject* const* keys = error_keys();

    py::Ref errors = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
    if (!errors) py::internal_failure("could not create the errors tuple");
    std::string message;
    if (count > 1) message = std::to_string(count) + " validation errors:";
    std::optional<RecordObjects> lead;
    for (std::size_t i = 0; i < count; ++i) {
        std::string line = render_error_line(first[i]);
        if (count > 1) {
            message.push_back('\n');
            message += line;
        } else {
            message = line;
        }
        RecordObjects objects(first[i], std::move(line));
        py::Ref entry = error_dict(objects, keys);
        if (!entry) return;
        PyTuple_SET_ITEM(errors.get(), static_cast<Py_ssize_t>(i), entry.release());
        if (i == 0) lead.emplace(std::move(objects));
    }

    py::Ref text = checked(make_str(message));
    py::Ref exc = py::Ref::steal(PyObject_CallOneArg(validation_error_type(), text.get()));
    if (!exc) return;
    // The attributes in their documented order, in a dict made at its final
    // size and given to the exception whole.
    py::Ref attributes = py::Ref::steal(_PyDict_NewPresized(KEY_COUNT));
    if (!attributes) py::internal_failure("could not create the error's attributes");
    for (int i : {CODE, EXPECTED, VALUE, MESSAGE, PATH}) {
        if (PyDict_SetItem(attributes.get(), keys[i], lead->fields[i].get()) < 0) return;
    }
    if (PyDict_SetItem(attributes.get(), keys[ERRORS], errors.get()) < 0) return;
    if (PyObject_GenericSetDict(exc.get(), attributes.get(), nullptr) < 0) return;
    PyErr_SetObject(validation_error_type(), exc.get());
}

}  // namespace kestrome
