#include "validator/validator_object.h"

#include "build/compile.h"
#include "py/args.h"
#include "py/once.h"
#include "validator/slots.h"

#include <new>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

constexpr char VALIDATOR_DOC[] =
    "Validator(schema)\n--\n\n"
    "A compiled, immutable schema validator.\n\n"
    "Build one with Validator(schema), where schema is a type annotation (int, list[str],\n"
    "dict[str, float], a TypedDict, a dataclass, Annotated[...] with constraints, ...), a\n"
    "list or dict literal, another Validator, or any other value standing for itself; or\n"
    "combine schemas with union, intersection, complement and recursive.\n\n"
    "validate, ensure, is_valid and the `in` operator check Python values; validate_json,\n"
    "load and is_valid_json check JSON documents given as str or bytes; is_empty,\n"
    "is_subtype_of and is_equivalent decide questions about schemas as sets, and open,\n"
    "close and simplify derive new validators. Validation is a\n"
    "membership test: the value is never copied or coerced. A validator never changes once\n"
    "built and may be shared freely across threads. Its repr is the annotation that\n"
    "produces it, and it can be copied with the copy module.";

// Through the trashcan: releasing the constants can release another
// validator, whose constants release another, as deep as a chain of them
// goes; the trashcan defers the deeper ones instead of recursing.
void validator_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_TRASHCAN_BEGIN(self, validator_dealloc)
    reinterpret_cast<ValidatorObject*>(self)->state.~ValidatorState();
    type->tp_free(self);
    Py_DECREF(type);
    Py_TRASHCAN_END
}

// Each validator owns one reference to each of its constants (copies take
// their own), so each is visited once per validator.
int validator_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    for (const py::Ref& constant : reinterpret_cast<ValidatorObject*>(self)->state.constants) {
        Py_VISIT(constant.get());
    }
    return 0;
}

// Drops the constants; the validator is marked first, so code that the
// releases run finds it unusable rather than half-emptied.
int validator_clear(PyObject* self) {
    auto* validator = reinterpret_cast<ValidatorObject*>(self);
    validator->cleared = true;
    std::vector<py::Ref> released;
    released.swap(validator->state.constants);
    return 0;
}

// Allocates an instance of `type` and moves the state in.
PyObject* wrap_state(PyTypeObject* type, ValidatorState state) {
    PyObject* obj = type->tp_alloc(type, 0);
    if (obj == nullptr) {
        return nullptr;  // the state is released on return
    }
    auto* validator = reinterpret_cast<ValidatorObject*>(obj);
    new (&validator->state) ValidatorState(std::move(state));
    validator->cleared = false;
    return obj;
}

PyObject* validator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const positional[] = {"schema"};
        static const py::FunctionDescription desc{"Validator", "__new__", positional, 1, {}, false};
        PyObject* schema = nullptr;
        if (!py::parse_tuple_dict(desc, args, kwargs, &schema)) return nullptr;
        ConstantsPool pool;
        std::vector<Schema> definitions;
        py::Result<Schema> root = compile_schema(schema, pool, definitions);
        if (!root) return nullptr;
        py::Result<ValidatorState> state =
            assemble_validator_state(std::move(*root), std::move(pool.objects), std::move(definitions));
        if (!state) return nullptr;
        return wrap_state(type, std::move(*state));
    });
}

// The type's spec, put together on first use from the entries that stand
// beside their functions.
PyType_Spec* validator_spec() {
    static PyMethodDef methods[] = {
        VALIDATE_METHOD,
        IS_VALID_METHOD,
        ENSURE_METHOD,
        VALIDATE_JSON_METHOD,
        LOAD_METHOD,
        IS_VALID_JSON_METHOD,
        IS_EMPTY_METHOD,
        IS_SUBTYPE_OF_METHOD,
        IS_EQUIVALENT_METHOD,
        COPY_METHOD,
        DEEPCOPY_METHOD,
        OPEN_METHOD,
        CLOSE_METHOD,
        SIMPLIFY_METHOD,
        {nullptr, nullptr, 0, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(validator_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(validator_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(validator_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(validator_clear)},
        {Py_tp_doc, const_cast<char*>(VALIDATOR_DOC)},
        {Py_tp_repr, reinterpret_cast<void*>(validator_repr)},
        {Py_sq_contains, reinterpret_cast<void*>(validator_contains)},
        {Py_tp_hash, reinterpret_cast<void*>(validator_hash)},
        {Py_tp_richcompare, reinterpret_cast<void*>(validator_richcompare)},
        {Py_nb_or, reinterpret_cast<void*>(validator_or)},
        {Py_tp_methods, methods},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "kestrome._kestrome.Validator",
        static_cast<int>(sizeof(ValidatorObject)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
        slots,
    };
    return &spec;
}

py::ProcessOnce<PyTypeObject*> validator_type_cell;

}  // namespace

PyTypeObject* validator_type() {
    PyTypeObject** cell = validator_type_cell.get([](PyTypeObject*& out) {
        out = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(validator_spec()));
        return out != nullptr;
    });
    return cell ? *cell : nullptr;
}

bool is_validator(PyObject* obj) {
    PyTypeObject** cell = validator_type_cell.peek();
    return cell != nullptr && PyObject_TypeCheck(obj, *cell);
}

const ValidatorState* live_state(PyObject* obj) {
    auto* validator = reinterpret_cast<ValidatorObject*>(obj);
    if (validator->cleared) {
        PyErr_SetString(PyExc_ReferenceError,
                        "this validator was cleared by the garbage collector, which released its constants to "
                        "break an unreachable reference cycle; it can no longer be used");
        return nullptr;
    }
    return &validator->state;
}

PyObject* new_validator_object(ValidatorState state) {
    PyTypeObject* type = validator_type();
    if (type == nullptr) return nullptr;
    return wrap_state(type, std::move(state));
}

PyObject* validator_from_schema(Schema root) { return new_validator_object(ValidatorState(std::move(root), {}, {})); }

}  // namespace kestrome
