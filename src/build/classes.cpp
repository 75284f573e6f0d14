// Class specs: scalars, object, typed dicts, enums, dataclasses, named
// tuples, protocols and plain classes.
#include "build/compile.h"
#include "build/type_hints.h"
#include "build/typing_names.h"
#include "py/dict_iter.h"
#include "util/text.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

// True only when the attribute exists and is truthy; every failure is false.
bool getattr_truthy(PyObject* obj, PyObject* name) {
    py::Ref value = py::Ref::steal(PyObject_GetAttr(obj, name));
    if (!value) {
        py::discard_error();
        return false;
    }
    const int truth = PyObject_IsTrue(value.get());
    if (truth < 0) {
        py::discard_error();
        return false;
    }
    return truth == 1;
}

py::Ref hints_dict(PyObject* cls, const TypingNames& names) {
    py::Ref hints = fetch_type_hints(cls, names);
    if (!hints) return hints;
    if (!PyDict_Check(hints.get())) {
        py::set_type_mismatch(hints.get(), reinterpret_cast<PyObject*>(&PyDict_Type));
        return py::Ref();
    }
    return hints;
}

// One attribute: the text of str(key) and the compiled hint.
py::Result<Field> compile_attribute(PyObject* key, PyObject* hint, bool required, ConstantsPool& pool,
                                    std::vector<Schema>& definitions) {
    py::Ref name = py::Ref::steal(PyObject_Str(key));
    if (!name) return py::raised;
    py::Result<std::string> text = record_key_text(name.get());
    if (!text) return py::raised;
    py::Result<Schema> schema = compile_schema(hint, pool, definitions);
    if (!schema) return py::raised;
    return Field{std::move(*text), std::move(*schema), required};
}

// Visits the hints in order: `each(key, hint, field)` returns false with an
// exception pending to stop.
template <class F>
bool compile_hints(PyObject* hints, ConstantsPool& pool, std::vector<Schema>& definitions, F&& each) {
    py::DictReader reader(hints);
    while (reader.next()) {
        PyObject* key = reader.key();
        PyObject* value = reader.value();
        py::Result<Field> field = compile_attribute(key, value, true, pool, definitions);
        if (!field) return false;
        if (!each(key, value, std::move(*field))) return false;
    }
    return true;
}

// A named tuple: every hint is a field.
py::Result<Schema> compile_class_object(PyObject* cls, const TypingNames& names, ConstantsPool& pool,
                                        std::vector<Schema>& definitions) {
    py::Ref hints = hints_dict(cls, names);
    if (!hints) return py::raised;
    Schema object = indexed(Kind::Object, pool_intern(pool, cls));
    object.fields().reserve(static_cast<std::size_t>(PyDict_GET_SIZE(hints.get())));
    const bool ok = compile_hints(hints.get(), pool, definitions, [&](PyObject*, PyObject*, Field field) {
        object.fields().push_back(std::move(field));
        return true;
    });
    if (!ok) return py::raised;
    return object;
}

// dataclasses.<function>(cls), the module read afresh.
py::Ref call_dataclasses(Name function, PyObject* cls, const TypingNames& names) {
    py::Ref dataclasses = import_module(names.str(Name::Dataclasses));
    if (!dataclasses) return py::Ref();
    py::Ref callable = py::Ref::steal(PyObject_GetAttr(dataclasses.get(), names.str(function)));
    if (!callable) return py::Ref();
    return py::Ref::steal(PyObject_CallOneArg(callable.get(), cls));
}

// A dataclass: its attributes are its dataclasses.fields() that have a hint,
// in that order, typed by the hints; the hints also hold class variables,
// init-only pseudo-fields, the KW_ONLY marker and annotations of plain base
// classes.
py::Result<Schema> compile_dataclass(PyObject* cls, const TypingNames& names, ConstantsPool& pool,
                                     std::vector<Schema>& definitions) {
    py::Ref hints = hints_dict(cls, names);
    if (!hints) return py::raised;
    py::Ref fields = call_dataclasses(Name::DataclassFields, cls, names);
    if (!fields) return py::raised;
    py::Ref sequence = py::Ref::steal(PySequence_Fast(fields.get(), "dataclasses.fields() must give a sequence"));
    if (!sequence) return py::raised;
    Schema object = indexed(Kind::Object, pool_intern(pool, cls));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(sequence.get()); ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(sequence.get(), i);
        py::Ref name = py::Ref::steal(PyObject_GetAttr(item, names.str(Name::FieldName)));
        if (!name) return py::raised;
        py::Ref hint = py::Ref::borrow(PyDict_GetItemWithError(hints.get(), name.get()));
        if (!hint) {
            // A field without a hint (a class marked no_type_check) has no
            // type to check.
            if (PyErr_Occurred()) return py::raised;
            continue;
        }
        py::Result<Field> field = compile_attribute(name.get(), hint.get(), true, pool, definitions);
        if (!field) return py::raised;
        object.fields().push_back(std::move(*field));
    }
    return object;
}

// The required flag a key's hint itself declares with Required[...] or
// NotRequired[...], looking through Annotated[...] and ReadOnly[...]; none
// when the hint has no marker.
py::Result<std::optional<bool>> declared_required(PyObject* hint, const TypingNames& names) {
    constexpr int MAX_WRAPPERS = 32;
    py::Ref t = py::Ref::borrow(hint);
    for (int depth = 0; depth < MAX_WRAPPERS && !PyType_Check(t.get()); ++depth) {
        // A builtin alias (list[int]) or a union written with | is no marker.
        if (Py_IS_TYPE(t.get(), &Py_GenericAliasType) ||
            Py_TYPE(t.get()) == reinterpret_cast<PyTypeObject*>(names.union_type)) {
            break;
        }
        py::Ref origin = py::Ref::steal(PyObject_CallOneArg(names.get_origin, t.get()));
        if (!origin) return py::raised;
        if (origin.get() == Py_None) break;
        for (const auto& [name, required] : {std::pair{Name::Required, true}, std::pair{Name::NotRequired, false}}) {
            py::Result<bool> marker = is_typing_marker(origin.get(), name, names);
            if (!marker) return py::raised;
            if (*marker) return std::optional<bool>(required);
        }
        py::Result<bool> annotated = is_typing_marker(origin.get(), Name::Annotated, names);
        if (!annotated) return py::raised;
        py::Result<bool> read_only = *annotated ? true : is_typing_marker(origin.get(), Name::ReadOnly, names);
        if (!read_only) return py::raised;
        if (!*read_only) break;
        py::Ref args = py::Ref::steal(PyObject_CallOneArg(names.get_args, t.get()));
        if (!args) return py::raised;
        if (!PyTuple_Check(args.get()) || PyTuple_GET_SIZE(args.get()) == 0) break;
        t = py::Ref::borrow(PyTuple_GET_ITEM(args.get(), 0));
    }
    return std::optional<bool>();
}

// A key's flag: its hint's marker where it has one (under postponed
// annotations __required_keys__ is computed from the unevaluated texts and
// misses them), else __required_keys__.
py::Result<bool> key_required(PyObject* key, PyObject* hint, PyObject* required_keys, const TypingNames& names) {
    py::Result<std::optional<bool>> declared = declared_required(hint, names);
    if (!declared) return py::raised;
    if (declared->has_value()) return **declared;
    const int required = PySequence_Contains(required_keys, key);
    if (required < 0) return py::raised;
    return required == 1;
}

py::Result<Schema> compile_typed_dict(PyObject* cls, const TypingNames& names, ConstantsPool& pool,
                                      std::vector<Schema>& definitions) {
    py::Ref hints = hints_dict(cls, names);
    if (!hints) return py::raised;
    py::Ref required_keys = py::Ref::steal(PyObject_GetAttr(cls, names.str(Name::RequiredKeys)));
    if (!required_keys) return py::raised;
    Schema record(Kind::Record);
    record.fields().reserve(static_cast<std::size_t>(PyDict_GET_SIZE(hints.get())));
    const bool ok = compile_hints(hints.get(), pool, definitions, [&](PyObject* key, PyObject* hint, Field field) {
        py::Result<bool> required = key_required(key, hint, required_keys.get(), names);
        if (!required) return false;
        field.required = *required;
        record.fields().push_back(std::move(field));
        return true;
    });
    if (!ok) return py::raised;
    return record;
}

py::Result<bool> is_dataclass(PyObject* cls, const TypingNames& names) {
    py::Ref answer = call_dataclasses(Name::IsDataclass, cls, names);
    if (!answer) return py::raised;
    const int truth = PyObject_IsTrue(answer.get());
    if (truth < 0) return py::raised;
    return truth == 1;
}

}  // namespace

py::Result<Schema> compile_class(PyObject* cls, ConstantsPool& pool, std::vector<Schema>& definitions) {
    if (cls == reinterpret_cast<PyObject*>(&PyBool_Type)) return leaf(Kind::Bool);
    if (cls == reinterpret_cast<PyObject*>(&PyLong_Type)) return leaf(Kind::Int);
    if (cls == reinterpret_cast<PyObject*>(&PyFloat_Type)) return leaf(Kind::Float);
    if (cls == reinterpret_cast<PyObject*>(&PyUnicode_Type)) return leaf(Kind::Str);
    if (cls == reinterpret_cast<PyObject*>(&PyBytes_Type)) return leaf(Kind::Bytes);
    if (cls == reinterpret_cast<PyObject*>(Py_TYPE(Py_None))) return leaf(Kind::NoneType);

    const TypingNames* names = typing_names();
    if (names == nullptr) return py::raised;
    if (cls == names->object) return leaf(Kind::Anything);
    if (cls == names->union_form || cls == names->optional) {
        not_implemented_error(value_repr(cls) +
                              " is a typing special form, not a value; write a concrete type (for a union, "
                              "X | Y or Union[X, Y])");
        return py::raised;
    }

    py::Result<bool> typed_dict = has_attribute(cls, names->str(Name::RequiredKeys));
    if (!typed_dict) return py::raised;
    if (*typed_dict) return compile_typed_dict(cls, *names, pool, definitions);

    const int is_enum = PyObject_IsSubclass(cls, names->enum_class);
    if (is_enum < 0) return py::raised;
    if (is_enum == 1) return indexed(Kind::Instance, pool_intern(pool, cls));

    py::Result<bool> dataclass = is_dataclass(cls, *names);
    if (!dataclass) return py::raised;
    if (*dataclass) return compile_dataclass(cls, *names, pool, definitions);

    const int is_tuple = PyObject_IsSubclass(cls, reinterpret_cast<PyObject*>(&PyTuple_Type));
    if (is_tuple < 0) return py::raised;
    if (is_tuple == 1) {
        py::Result<bool> fields = has_attribute(cls, names->str(Name::Fields));
        if (!fields) return py::raised;
        if (*fields) return compile_class_object(cls, *names, pool, definitions);
    }

    if (!getattr_truthy(cls, names->str(Name::IsProtocol)) ||
        getattr_truthy(cls, names->str(Name::IsRuntimeProtocol))) {
        return indexed(Kind::Instance, pool_intern(pool, cls));
    }
    not_implemented_error("a Protocol must be @runtime_checkable to be used as a schema");
    return py::raised;
}

}  // namespace kestrome
