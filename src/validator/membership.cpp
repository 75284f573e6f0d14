// Membership: validate, is_valid, ensure, the `in` operator, and their JSON
// forms validate_json, load and is_valid_json.
#include "check/roads.h"
#include "check/walk.h"
#include "exception/validation_error.h"
#include "json/reader.h"
#include "json/tree_lease.h"
#include "py/args.h"
#include "util/text.h"
#include "validator/slots.h"
#include "validator/validator_object.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace kestrome {

namespace {

const char* const OBJ_PARAMETER[] = {"obj"};
const char* const DATA_PARAMETER[] = {"data"};
const py::KeywordOnlyParameter FAIL_FAST_PARAMETER[] = {{"fail_fast", false}};

// Whether `obj` is NumPy's boolean scalar (numpy.bool_, named numpy.bool
// since NumPy 2), known by its type's module and name so that NumPy need
// not be imported. A type whose names cannot be read is not it.
bool is_numpy_bool(PyObject* obj) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
    py::Ref module = py::Ref::steal(PyObject_GetAttrString(type, "__module__"));
    py::Ref name = module ? py::Ref::steal(PyObject_GetAttrString(type, "__name__")) : py::Ref();
    if (!name) {
        py::discard_error();
        return false;
    }
    return PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
           PyUnicode_Check(name.get()) &&
           (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
            PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

// Converts `fail_fast`; false with the error (and its note) pending.
bool convert_fail_fast(PyObject* obj, bool* out) {
    if (obj == nullptr) {
        *out = false;
        return true;
    }
    if (Py_IS_TYPE(obj, &PyBool_Type)) {
        *out = obj == Py_True;
        return true;
    }
    if (is_numpy_bool(obj)) {
        PyNumberMethods* number = Py_TYPE(obj)->tp_as_number;
        if (number == nullptr || number->nb_bool == nullptr) {
            py::Ref type_text = py::Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(Py_TYPE(obj))));
            std::string text = type_text ? display_text(type_text.get()) : std::string();
            if (!type_text) py::discard_error();
            py::set_error(PyExc_TypeError, "object of type '" + text + "' does not define a '__bool__' conversion");
        } else {
            const int truth = number->nb_bool(obj);
            if (truth == 0 || truth == 1) {
                *out = truth == 1;
                return true;
            }
        }
    } else {
        py::set_type_mismatch(obj, reinterpret_cast<PyObject*>(&PyBool_Type));
    }
    py::add_argument_note("fail_fast");
    return false;
}

// The JSON input road: a document given as str or bytes.

enum class JsonInputKind { Bytes, LoneSurrogate, WrongType };

struct JsonInput {
    JsonInputKind kind;
    std::string_view bytes;  // borrowed from the input object
};

// The UTF-8 bytes of a str (its cached UTF-8 form) or of a bytes object.
JsonInput json_input_bytes(PyObject* data) {
    if (PyUnicode_Check(data)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(data, &size);
        if (utf8 == nullptr) {
            py::discard_error();
            return JsonInput{JsonInputKind::LoneSurrogate, {}};
        }
        return JsonInput{JsonInputKind::Bytes, std::string_view(utf8, static_cast<std::size_t>(size))};
    }
    if (PyBytes_Check(data)) {
        return JsonInput{JsonInputKind::Bytes, std::string_view(PyBytes_AS_STRING(data),
                                                                static_cast<std::size_t>(PyBytes_GET_SIZE(data)))};
    }
    return JsonInput{JsonInputKind::WrongType, {}};
}

void json_invalid_error(const std::string& text) {
    build_validation_error(Records{ErrorRecord{{}, "valid JSON", truncate_chars(text, 80), "json_invalid"}});
}

// The parsed document as a new Python object, or an empty reference with a
// TypeError (wrong type) or the "json_invalid" ValidationError pending.
py::Ref parse_json_input(PyObject* data) {
    const JsonInput input = json_input_bytes(data);
    switch (input.kind) {
        case JsonInputKind::WrongType:
            py::set_error(PyExc_TypeError, "JSON input must be a str or bytes object");
            return py::Ref();
        case JsonInputKind::LoneSurrogate:
            json_invalid_error("input string is not valid UTF-8 (contains a lone surrogate)");
            return py::Ref();
        case JsonInputKind::Bytes: break;
    }
    JsonError error;
    py::Ref parsed = parse_json_python(input.bytes, error);
    if (!parsed) json_invalid_error(json_error_text(error, input.bytes));
    return parsed;
}

// is_valid_json: true or false, or -1 with the walk's fatal exception pending.
int is_valid_json_body(const ValidatorState& state, PyObject* data) {
    const JsonInput input = json_input_bytes(data);
    if (input.kind != JsonInputKind::Bytes) return 0;
    TreeLease lease;
    JsonError error;
    if (!parse_json_tree(input.bytes, lease.tree(), error)) return 0;
    return is_json_member(state, lease.tree());
}

// What validate_json and load return.
enum class JsonResult { Document, Nothing };

// validate_json and load: the parsed document once checked (or None, when
// only the verdict is asked for), or an empty reference with the exception
// pending.
py::Ref checked_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const char* name,
                     JsonResult result) {
    const py::FunctionDescription desc{"Validator", name, DATA_PARAMETER, 1, FAIL_FAST_PARAMETER, false};
    PyObject* parsed[2];
    bool fail_fast;
    if (!py::parse_fastcall(desc, args, nargs, kwnames, parsed) || !convert_fail_fast(parsed[1], &fail_fast)) {
        return py::Ref();
    }
    const ValidatorState* state = live_state(self);
    if (state == nullptr) return py::Ref();
    // When no check can call Python code, walking the document's tree
    // decides what walking its Python objects would, without making them:
    // a member needs nothing more. Anything else (a malformed document, a
    // non-member) takes the road below for its report.
    if (prepared_roads && result == JsonResult::Nothing && !state->lazy.get_or_build(*state).may_run_python) {
        const int member = is_valid_json_body(*state, parsed[0]);
        if (member < 0) return py::Ref();
        if (member == 1) return py::Ref::borrow(Py_None);
    }
    // The document's keys that name fields come out as the very str objects
    // the walk compares by identity.
    const FieldNameStrs& names = state->name_strs;
    names.keys_preferred_at = prefer_json_keys(names.strs.data(), names.strs.size(), names.keys_preferred_at);
    py::Ref document = parse_json_input(parsed[0]);
    if (!document || !validate_core(*state, document.get(), fail_fast)) return py::Ref();
    return result == JsonResult::Document ? std::move(document) : py::Ref::borrow(Py_None);
}

constexpr char VALIDATE_DOC[] =
    "validate($self, obj, *, fail_fast=False)\n--\n\n"
    "Check that `obj` is a member of this validator's schema.\n\n"
    "Check-only: `obj` is never copied or coerced. Without `fail_fast` every independent\n"
    "failure is reported; with it the check stops at the first failing node.\n\n"
    "Args:\n"
    "    obj: the value to check.\n"
    "    fail_fast: stop at the first failure (a bool, keyword only).\n\n"
    "Returns:\n"
    "    None when `obj` is a member.\n\n"
    "Raises:\n"
    "    ValidationError: when `obj` is not a member, with one entry per recorded failure.\n"
    "    TypeError: for bad arguments.";

PyObject* validate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::FunctionDescription desc{"Validator", "validate", OBJ_PARAMETER, 1, FAIL_FAST_PARAMETER,
                                                  false};
        PyObject* parsed[2];
        bool fail_fast;
        if (!py::parse_fastcall(desc, args, nargs, kwnames, parsed) || !convert_fail_fast(parsed[1], &fail_fast)) {
            return nullptr;
        }
        const ValidatorState* state = live_state(self);
        if (state == nullptr || !validate_core(*state, parsed[0], fail_fast)) return nullptr;
        Py_RETURN_NONE;
    });
}

constexpr char IS_VALID_DOC[] =
    "is_valid($self, obj)\n--\n\n"
    "Whether `obj` is a member of this validator's schema.\n\n"
    "The cheap check: no error is built and the walk stops as soon as the answer is known.\n"
    "An exception that Python code raises during the check counts as non-membership, unless\n"
    "it is not an Exception, or is a MemoryError or RecursionError.\n\n"
    "Args:\n"
    "    obj: the value to check.\n\n"
    "Returns:\n"
    "    True or False.\n\n"
    "Raises:\n"
    "    TypeError: for bad arguments; and a fatal exception raised during the check.";

PyObject* is_valid(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::FunctionDescription desc{"Validator", "is_valid", OBJ_PARAMETER, 1, {}, false};
        PyObject* obj = nullptr;
        if (!py::parse_fastcall(desc, args, nargs, kwnames, &obj)) return nullptr;
        const ValidatorState* state = live_state(self);
        const int member = state ? is_member(*state, obj) : -1;
        if (member < 0) return nullptr;
        return Py_NewRef(member ? Py_True : Py_False);
    });
}

constexpr char ENSURE_DOC[] =
    "ensure($self, obj)\n--\n\n"
    "Check `obj` like validate() and return it.\n\n"
    "Returns the very object passed, never a copy; every independent failure is reported.\n\n"
    "Args:\n"
    "    obj: the value to check.\n\n"
    "Returns:\n"
    "    `obj` itself when it is a member.\n\n"
    "Raises:\n"
    "    ValidationError: when `obj` is not a member.\n"
    "    TypeError: for bad arguments.";

PyObject* ensure(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::FunctionDescription desc{"Validator", "ensure", OBJ_PARAMETER, 1, {}, false};
        PyObject* obj = nullptr;
        if (!py::parse_fastcall(desc, args, nargs, kwnames, &obj)) return nullptr;
        const ValidatorState* state = live_state(self);
        if (state == nullptr || !validate_core(*state, obj, false)) return nullptr;
        return Py_NewRef(obj);
    });
}

constexpr char VALIDATE_JSON_DOC[] =
    "validate_json($self, data, *, fail_fast=False)\n--\n\n"
    "Check that the JSON document `data` parses to a member of this validator's schema.\n\n"
    "The outcome is that of validate() on the value the document parses to.\n"
    "`fail_fast` behaves as it does for `validate`.\n\n"
    "Args:\n"
    "    data: the document, a str or bytes object.\n"
    "    fail_fast: stop at the first failure (a bool, keyword only).\n\n"
    "Returns:\n"
    "    None when the document parses and its value is a member.\n\n"
    "Raises:\n"
    "    TypeError: when `data` is neither str nor bytes, and for bad arguments.\n"
    "    ValidationError: code \"json_invalid\" for a document that cannot be parsed, else\n"
    "        the failures of the parsed value.";

PyObject* validate_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        return checked_json(self, args, nargs, kwnames, "validate_json", JsonResult::Nothing).release();
    });
}

constexpr char LOAD_DOC[] =
    "load($self, data, *, fail_fast=False)\n--\n\n"
    "Parse the JSON document `data`, check it like validate_json(), and return it.\n\n"
    "Returns the very object that parsing built, so the data is never parsed twice.\n"
    "`fail_fast` behaves as it does for `validate`.\n\n"
    "Args:\n"
    "    data: the document, a str or bytes object.\n"
    "    fail_fast: stop at the first failure (a bool, keyword only).\n\n"
    "Returns:\n"
    "    The parsed value when it is a member.\n\n"
    "Raises:\n"
    "    TypeError: when `data` is neither str nor bytes, and for bad arguments.\n"
    "    ValidationError: code \"json_invalid\" for a document that cannot be parsed, else\n"
    "        the failures of the parsed value.";

PyObject* load(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&] { return checked_json(self, args, nargs, kwnames, "load", JsonResult::Document).release(); });
}

constexpr char IS_VALID_JSON_DOC[] =
    "is_valid_json($self, data)\n--\n\n"
    "Whether the JSON document `data` parses to a member of this validator's schema.\n\n"
    "The document is parsed into a value tree that is checked in place: no Python objects\n"
    "are made for the arrays and objects it walks. Input that is neither str nor bytes, a\n"
    "str holding a lone surrogate and malformed JSON all answer False.\n\n"
    "Args:\n"
    "    data: the document, a str or bytes object.\n\n"
    "Returns:\n"
    "    True or False.\n\n"
    "Raises:\n"
    "    TypeError: for bad arguments; and a fatal exception raised during the check.";

PyObject* is_valid_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::FunctionDescription desc{"Validator", "is_valid_json", DATA_PARAMETER, 1, {}, false};
        PyObject* data = nullptr;
        if (!py::parse_fastcall(desc, args, nargs, kwnames, &data)) return nullptr;
        const ValidatorState* state = live_state(self);
        const int member = state ? is_valid_json_body(*state, data) : -1;
        if (member < 0) return nullptr;
        return Py_NewRef(member ? Py_True : Py_False);
    });
}

}  // namespace

int validator_contains(PyObject* self, PyObject* value) {
    return py::guard_entry<int>(-1, [&] {
        const ValidatorState* state = live_state(self);
        return state ? is_member(*state, value) : -1;
    });
}

const PyMethodDef VALIDATE_METHOD = py::fastcall_method("validate", validate, VALIDATE_DOC);
const PyMethodDef IS_VALID_METHOD = py::fastcall_method("is_valid", is_valid, IS_VALID_DOC);
const PyMethodDef ENSURE_METHOD = py::fastcall_method("ensure", ensure, ENSURE_DOC);
const PyMethodDef VALIDATE_JSON_METHOD = py::fastcall_method("validate_json", validate_json, VALIDATE_JSON_DOC);
const PyMethodDef LOAD_METHOD = py::fastcall_method("load", load, LOAD_DOC);
const PyMethodDef IS_VALID_JSON_METHOD = py::fastcall_method("is_valid_json", is_valid_json, IS_VALID_JSON_DOC);

}  // namespace kestrome
