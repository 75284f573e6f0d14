// Class specs: scalars, object, typed dicts, enums, dataclasses, named
// tuples, protocols and plain classes.
#include "build/compile.h"
#include "build/type_hints.h"
#include "build/typing_names.h"
#include "py/dict_iter.h"
#include "util/text.h"

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

// Visits the hints in order: `each(key, name text, compiled schema)`
// returns false with an exception pending to stop.
template <class F>
bool compile_hints(PyObject* hints, ConstantsPool& pool, std::vector<Schema>& definitions, F&& each) {
    py::DictReader reader(hints);
    while (reader.next()) {
        PyObject* key = reader.key();
        PyObject* value = reader.value();
        py::Ref name = py::Ref::steal(PyObject_Str(key));
        if (!name) return false;
        py::Result<std::string> text = record_key_text(name.get());
        if (!text) return false;
        py::Result<Schema> schema = compile_schema(value, pool, definitions);
        if (!schema) return false;
        if (!each(key, std::move(*text), std::move(*schema))) return false;
    }
    return true;
}

py::Result<Schema> compile_class_object(PyObject* cls, const TypingNames& names, ConstantsPool& pool,
                                        std::vector<Schema>& definitions) {
    py::Ref hints = hints_dict(cls, names);
    if (!hints) return py::raised;
    Schema object = indexed(Kind::Object, pool_intern(pool, cls));
    object.fields().reserve(static_cast<std::size_t>(PyDict_GET_SIZE(hints.get())));
    const bool ok = compile_hints(hints.get(), pool, definitions, [&](PyObject*, std::string name, Schema schema) {
        object.fields().push_back(Field{std::move(name), std::move(schema), true});
        return true;
    });
    if (!ok) return py::raised;
    return object;
}

py::Result<Schema> compile_typed_dict(PyObject* cls, const TypingNames& names, ConstantsPool& pool,
                                      std::vector<Schema>& definitions) {
    py::Ref hints = hints_dict(cls, names);
    if (!hints) return py::raised;
    py::Ref required_keys = py::Ref::steal(PyObject_GetAttr(cls, names.str(Name::RequiredKeys)));
    if (!required_keys) return py::raised;
    Schema record(Kind::Record);
    record.fields().reserve(static_cast<std::size_t>(PyDict_GET_SIZE(hints.get())));
    const bool ok = compile_hints(hints.get(), pool, definitions, [&](PyObject* key, std::string name, Schema schema) {
        const int required = PySequence_Contains(required_keys.get(), key);
        if (required < 0) return false;
        record.fields().push_back(Field{std::move(name), std::move(schema), required == 1});
        return true;
    });
    if (!ok) return py::raised;
    return record;
}

py::Result<bool> is_dataclass(PyObject* cls, const TypingNames& names) {
    py::Ref dataclasses = import_module(names.str(Name::Dataclasses));
    if (!dataclasses) return py::raised;
    py::Ref function = py::Ref::steal(PyObject_GetAttr(dataclasses.get(), names.str(Name::IsDataclass)));
    if (!function) return py::raised;
    py::Ref answer = py::Ref::steal(PyObject_CallOneArg(function.get(), cls));
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
    if (*dataclass) return compile_class_object(cls, *names, pool, definitions);

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
