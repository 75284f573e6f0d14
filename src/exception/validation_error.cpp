#include "exception/validation_error.h"

#include "py/error.h"
#include "py/once.h"
#include "util/fx_hash.h"
#include "util/text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kestrome {

namespace {

py::ProcessOnce<PyObject*> validation_error_cell;

// The attribute and entry names, made once per process: an error costs only
// its own texts.
enum ErrorKey { CODE, PATH, MESSAGE, EXPECTED, VALUE, ERRORS, KEY_COUNT };

struct ErrorKeys {
    PyObject* names[KEY_COUNT] = {};
};

constexpr int ENTRY_ORDER[] = {CODE, PATH, MESSAGE, EXPECTED, VALUE};
constexpr int ATTRIBUTE_ORDER[] = {CODE, EXPECTED, VALUE, MESSAGE, PATH, ERRORS};

py::ProcessOnce<ErrorKeys> error_keys_cell;

const ErrorKeys& error_keys() {
    ErrorKeys* keys = error_keys_cell.get([](ErrorKeys& out) {
        static const char* const texts[KEY_COUNT] = {"code", "path", "message", "expected", "value", "errors"};
        for (int i = 0; i < KEY_COUNT; ++i) {
            out.names[i] = PyUnicode_InternFromString(texts[i]);
            if (out.names[i] == nullptr) py::internal_failure("could not create an error key");
        }
        return true;
    });
    return *keys;
}

// A dict of the entries `order` names, in that order; empty with the error
// pending on failure. Made at its final size when it holds more than an
// empty dict's first table does.
py::Ref filled_dict(PyObject* const* names, const int* order, int count, PyObject* const* values) {
    py::Ref dict = py::Ref::steal(_PyDict_NewPresized(count));
    if (!dict) py::internal_failure("could not create an error dict");
    for (int i = 0; i < count; ++i) {
        if (PyDict_SetItem(dict.get(), names[order[i]], values[order[i]]) < 0) return py::Ref();
    }
    return dict;
}

py::Ref checked(py::Ref value) {
    if (!value) py::internal_failure("could not create an error value");
    return value;
}

// The str of a short text that errors repeat: a code, a type's name, a field
// name. Each is made once per process and kept in a fixed table; once the
// table is half full, further texts are made afresh, so odd keys from data
// cannot grow it. The table is only read and filled with the GIL held.
py::Ref repeated_str(std::string_view text) {
    struct Slot {
        std::uint64_t hash;
        std::size_t size;
        char text[24];
        PyObject* str;
    };
    constexpr std::size_t SLOTS = 256;
    static Slot slots[SLOTS] = {};
    static std::size_t filled = 0;
    if (text.size() > sizeof(Slot::text)) return checked(make_str(text));
    const std::uint64_t hash = fx_hash_text(text);
    for (std::size_t i = hash % SLOTS;; i = (i + 1) % SLOTS) {
        Slot& slot = slots[i];
        if (slot.str == nullptr) {
            py::Ref made = checked(make_str(text));
            if (filled < SLOTS / 2) {
                slot = Slot{hash, text.size(), {}, Py_NewRef(made.get())};
                std::memcpy(slot.text, text.data(), text.size());
                ++filled;
            }
            return made;
        }
        if (slot.hash == hash && slot.size == text.size() && std::memcmp(slot.text, text.data(), text.size()) == 0) {
            return py::Ref::borrow(slot.str);
        }
    }
}

// A tuple with an int per index step and a str per key step.
py::Ref path_to_tuple(const Path& path) {
    py::Ref tuple = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(path.size())));
    if (!tuple) py::internal_failure("could not create a path tuple");
    for (std::size_t i = 0; i < path.size(); ++i) {
        py::Ref item = path[i].is_key ? repeated_str(path[i].key)
                                      : py::Ref::steal(PyLong_FromUnsignedLongLong(path[i].index));
        if (!item) py::internal_failure("could not create a path item");
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    // Only ints and strs: nothing the cycle collector need ever visit, so
    // the entry holding it is left untracked too.
    if (!path.empty()) PyObject_GC_UnTrack(tuple.get());
    return tuple;
}

// The Python texts of one record, each made once and shared by the
// exception's attributes and its errors entry.
struct RecordObjects {
    py::Ref fields[VALUE + 1];

    RecordObjects(const ErrorRecord& record, std::string_view line) {
        fields[CODE] = repeated_str(record.code);
        fields[PATH] = checked(path_to_tuple(record.path));
        fields[MESSAGE] = checked(make_str(line));
        fields[EXPECTED] = repeated_str(record.expected);
        fields[VALUE] = checked(make_str(record.value));
    }
};

py::Ref error_dict(const RecordObjects& objects, const ErrorKeys& keys) {
    PyObject* values[VALUE + 1];
    for (int i = CODE; i <= VALUE; ++i) values[i] = objects.fields[i].get();
    return filled_dict(keys.names, ENTRY_ORDER, VALUE + 1, values);
}

}  // namespace

namespace {

constexpr const char* VALIDATION_ERROR_DOC = "Raised when a value is not a member of a schema's set.";

// The attributes of an error made by user code, set on it when it is made:
// a raised one sets its own instead. An empty `errors` lets a handler loop
// over it whoever made the error.
py::Ref user_error_attributes() {
    const ErrorKeys& keys = error_keys();
    py::Ref empty = py::Ref::steal(PyTuple_New(0));
    if (!empty) return empty;
    PyObject* values[KEY_COUNT];
    for (int i = CODE; i <= VALUE; ++i) values[i] = Py_None;
    values[ERRORS] = empty.get();
    return filled_dict(keys.names, ATTRIBUTE_ORDER, KEY_COUNT, values);
}

PyTypeObject* exception_base() { return reinterpret_cast<PyTypeObject*>(PyExc_Exception); }

PyObject* new_user_error(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    py::Ref exc = py::Ref::steal(exception_base()->tp_new(type, args, kwds));
    if (!exc) return nullptr;
    py::Ref attributes = user_error_attributes();
    if (!attributes || PyObject_GenericSetDict(exc.get(), attributes.get(), nullptr) < 0) return nullptr;
    return exc.release();
}

// The type keeps its __doc__; its internal doc also carries the signature
// line that inspect.signature reads, which Exception's own lacks. The text
// it replaces is not freed: interpreters allocate it from different domains,
// and the type lives as long as the process, so neither is ever released.
void add_text_signature(PyTypeObject* type) {
    static const std::string doc = std::string("ValidationError(*args)\n--\n\n") + VALIDATION_ERROR_DOC;
    type->tp_doc = doc.c_str();
}

}  // namespace

PyObject* validation_error_type() {
    PyObject** cell = validation_error_cell.get([](PyObject*& out) {
        out = PyErr_NewExceptionWithDoc("_kestrome.ValidationError", VALIDATION_ERROR_DOC, PyExc_Exception,
                                        nullptr);
        if (out == nullptr) {
            PyErr_Clear();
            py::internal_failure("Failed to initialize new exception type.");
        }
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(out);
        add_text_signature(type);
        type->tp_new = new_user_error;
        return true;
    });
    return *cell;
}

void build_validation_error(const Records& given) {
    static const ErrorRecord fallback{{}, "a member of the schema's set", "", "validation_error"};
    const ErrorRecord* first = given.empty() ? &fallback : given.data();
    const std::size_t count = given.empty() ? 1 : given.size();
    const ErrorKeys& keys = error_keys();

    py::Ref errors = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
    if (!errors) py::internal_failure("could not create the errors tuple");
    // Each line is written once, straight into the message, and its str made
    // from there; one error's message is its line, that very str.
    std::string message;
    if (count > 1) message = std::to_string(count) + " validation errors:";
    std::optional<RecordObjects> lead;
    for (std::size_t i = 0; i < count; ++i) {
        if (count > 1) message.push_back('\n');
        const std::size_t start = message.size();
        append_error_line(message, first[i]);
        RecordObjects objects(first[i], std::string_view(message).substr(start));
        py::Ref entry = error_dict(objects, keys);
        if (!entry) return;
        PyTuple_SET_ITEM(errors.get(), static_cast<Py_ssize_t>(i), entry.release());
        if (i == 0) lead.emplace(std::move(objects));
    }

    py::Ref text = count > 1 ? checked(make_str(message)) : lead->fields[MESSAGE];
    py::Ref args = py::Ref::steal(PyTuple_New(1));
    if (!args) py::internal_failure("could not create the error's arguments");
    PyTuple_SET_ITEM(args.get(), 0, text.release());
    // Made by Exception's __new__ alone: the __init__ it keeps from Exception
    // would only store the same arguments again, and the attributes of an
    // error made by user code would only be replaced.
    PyTypeObject* type = reinterpret_cast<PyTypeObject*>(validation_error_type());
    py::Ref exc = py::Ref::steal(exception_base()->tp_new(type, args.get(), nullptr));
    if (!exc) return;
    PyObject* values[KEY_COUNT];
    for (int i = CODE; i <= VALUE; ++i) values[i] = lead->fields[i].get();
    values[ERRORS] = errors.get();
    py::Ref attributes = filled_dict(keys.names, ATTRIBUTE_ORDER, KEY_COUNT, values);
    if (!attributes || PyObject_GenericSetDict(exc.get(), attributes.get(), nullptr) < 0) return;
    PyErr_SetObject(reinterpret_cast<PyObject*>(type), exc.get());
}

}  // namespace kestrome
