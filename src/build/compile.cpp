#include "build/compile.h"

#include "build/rebase.h"
#include "build/typing_names.h"
#include "py/dict_iter.h"
#include "util/text.h"
#include "validator/validator_object.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

thread_local std::uint64_t COMPILE_DEPTH = 0;

// One open activation of compile_schema; every exit restores the counter.
class DepthGuard {
public:
    DepthGuard() : entered_(COMPILE_DEPTH + 1 <= MAX_COMPILE_DEPTH) {
        if (entered_) ++COMPILE_DEPTH;
    }
    ~DepthGuard() {
        if (entered_) --COMPILE_DEPTH;
    }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    bool entered() const { return entered_; }

private:
    bool entered_;
};

py::Result<Schema> compile_dict_literal(PyObject* dict, ConstantsPool& pool, std::vector<Schema>& definitions) {
    py::Ref held = py::Ref::borrow(dict);
    Schema record(Kind::Record);
    py::DictReader reader(dict);
    while (reader.next()) {
        PyObject* key = reader.key();
        PyObject* value = reader.value();
        if (PyUnicode_Check(key)) {
            py::Result<std::string> text = record_key_text(key);
            if (!text) return py::raised;
            bool required = true;
            if (!text->empty() && text->back() == '?') {
                text->pop_back();
                required = false;
            }
            py::Result<Schema> schema = compile_schema(value, pool, definitions);
            if (!schema) return py::raised;
            record.fields().push_back(Field{std::move(*text), std::move(*schema), required});
        } else {
            py::Result<Schema> key_schema = compile_schema(key, pool, definitions);
            if (!key_schema) return py::raised;
            py::Result<Schema> value_schema = compile_schema(value, pool, definitions);
            if (!value_schema) return py::raised;
            record.clauses().push_back(CatchAll{std::move(*key_schema), std::move(*value_schema)});
        }
    }
    return record;
}

Schema import_validator(const ValidatorState& imported, ConstantsPool& pool, std::vector<Schema>& definitions) {
    const std::uint64_t offset = definitions.size();
    const std::vector<std::uint64_t> table = pool_intern_all(pool, imported.constants);
    const RebaseMap map{table, offset};
    for (const Schema& d : imported.definitions) {
        definitions.push_back(rebase_schema(d, map));
    }
    return rebase_schema(imported.root, map);
}

bool is_plain_container(PyObject* origin) {
    return origin == reinterpret_cast<PyObject*>(&PyList_Type) || origin == reinterpret_cast<PyObject*>(&PyDict_Type) ||
           origin == reinterpret_cast<PyObject*>(&PySet_Type) ||
           origin == reinterpret_cast<PyObject*>(&PyFrozenSet_Type) ||
           origin == reinterpret_cast<PyObject*>(&PyTuple_Type);
}

// Whether one of typing's own aliases lacks __metadata__ for sure: nothing
// of that name on the instance or its class, and typing's __getattr__
// behind them, which raises for every dunder name. Any doubt says no.
bool typing_alias_lacks_metadata(PyObject* spec, const TypingNames& names) {
    if (names.alias_getattr == nullptr ||
        _PyType_Lookup(Py_TYPE(spec), names.str(Name::Getattr)) != names.alias_getattr) {
        return false;
    }
    py::Ref own = py::Ref::steal(_PyObject_GenericGetAttrWithDict(spec, names.str(Name::Metadata), nullptr, 1));
    if (own || PyErr_Occurred()) {
        py::discard_error();
        return false;
    }
    return true;
}

// The values of Literal[...] arguments met most often: their exact builtin
// type has no __metadata__ or __supertype__, no typing origin, and is none
// of the rejected typing constructs, so they stand for themselves.
bool is_plain_value(PyObject* spec) {
    return PyUnicode_CheckExact(spec) || PyLong_CheckExact(spec) || PyBool_Check(spec) ||
           PyBytes_CheckExact(spec) || PyFloat_CheckExact(spec);
}

struct AliasParts {
    py::Ref origin;
    py::Ref args;
};

// The aliases met most often (list[T], dict[K, V], X | None, Optional[X],
// Literal[...]) answer the __metadata__ test, typing.get_origin and
// typing.get_args in a way their exact type fixes, so their origin and
// arguments are read directly, saving three calls into Python. Anything
// else, or any failure here, takes the general road, which asks again.
std::optional<AliasParts> known_alias(PyObject* spec, const TypingNames& names) {
    PyTypeObject* type = Py_TYPE(spec);
    AliasParts parts;
    if (type == &Py_GenericAliasType) {
        // Every other attribute of list[T] is its origin's, and the plain
        // containers have no __metadata__.
        parts.origin = py::Ref::steal(PyObject_GetAttr(spec, names.str(Name::Origin)));
        if (!parts.origin || !is_plain_container(parts.origin.get())) {
            py::discard_error();
            return std::nullopt;
        }
    } else if (reinterpret_cast<PyObject*>(type) == names.union_type) {
        parts.origin = py::Ref::borrow(names.union_type);
    } else if ((names.union_alias != nullptr && reinterpret_cast<PyObject*>(type) == names.union_alias) ||
               (names.literal_alias != nullptr && reinterpret_cast<PyObject*>(type) == names.literal_alias)) {
        if (!typing_alias_lacks_metadata(spec, names)) return std::nullopt;
        parts.origin = py::Ref::steal(PyObject_GetAttr(spec, names.str(Name::Origin)));
        if (!parts.origin) {
            py::discard_error();
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    parts.args = py::Ref::steal(PyObject_GetAttr(spec, names.str(Name::Args)));
    if (!parts.args || !PyTuple_CheckExact(parts.args.get())) {
        py::discard_error();
        return std::nullopt;
    }
    return parts;
}

// Type variables and special forms cannot stand for themselves.
py::Result<bool> reject_typing_construct(PyObject* spec, const TypingNames& names) {
    py::Ref typing = typing_module(names);
    if (!typing) return py::raised;
    for (Name name : {Name::TypeVar, Name::ParamSpec, Name::TypeVarTuple, Name::SpecialForm}) {
        py::Ref construct = py::Ref::steal(PyObject_GetAttr(typing.get(), names.str(name)));
        if (!construct) {
            py::discard_error();
            continue;
        }
        const int is = PyObject_IsInstance(spec, construct.get());
        if (is < 0) return py::raised;
        if (is == 1) {
            not_implemented_error(value_repr(spec) +
                                  " is a typing construct, not a value: a type variable, ParamSpec, "
                                  "TypeVarTuple, or special form (such as Final or ClassVar) cannot be a "
                                  "schema; use a concrete type");
            return true;
        }
    }
    return false;
}

py::Result<Schema> compile_attribute(PyObject* spec, PyObject* name, ConstantsPool& pool,
                                     std::vector<Schema>& definitions) {
    py::Ref value = py::Ref::steal(PyObject_GetAttr(spec, name));
    if (!value) return py::raised;
    return compile_schema(value.get(), pool, definitions);
}

// The roads a spec can take, tried in this order and the first that applies
// taken: identity and type tests come before any call into Python, and the
// lookups a spec may answer with code of its own (__metadata__, get_origin,
// __supertype__) always run in the same order.
enum class Road : std::uint8_t {
    Leaf,          // Any, Never, NoReturn
    Class,         // a class: scalars, records, enums, plain classes
    PlainValue,    // a str, int, bool, bytes or float standing for itself
    Form,          // a common alias, its origin and arguments read directly
    Annotated,     // anything with __metadata__
    Generic,       // typing.get_origin gives an origin; the arguments are read later
    TypeAlias,     // type X = ...
    NewType,       // anything with __supertype__
    ListLiteral,
    TupleLiteral,  // rejected
    SetLiteral,    // rejected
    DictLiteral,
    Validator,
    Value,         // anything else: a typing construct (rejected) or a value standing for itself
};

struct SpecRoad {
    Road road;
    Kind leaf = Kind::Any;  // for Road::Leaf
    py::Ref origin{};       // for Road::Form and Road::Generic
    py::Ref args{};         // for Road::Form
};

py::Result<SpecRoad> find_road(PyObject* spec, const TypingNames& names) {
    if (spec == names.any) return SpecRoad{Road::Leaf, Kind::Any};
    if ((names.never != nullptr && spec == names.never) || (names.no_return != nullptr && spec == names.no_return)) {
        return SpecRoad{Road::Leaf, Kind::Nothing};
    }
    if (PyType_Check(spec)) return SpecRoad{Road::Class};
    if (is_plain_value(spec)) return SpecRoad{Road::PlainValue};
    if (std::optional<AliasParts> alias = known_alias(spec, names)) {
        return SpecRoad{Road::Form, Kind::Any, std::move(alias->origin), std::move(alias->args)};
    }
    py::Result<bool> annotated = has_attribute(spec, names.str(Name::Metadata));
    if (!annotated) return py::raised;
    if (*annotated) return SpecRoad{Road::Annotated};
    py::Ref origin = py::Ref::steal(PyObject_CallOneArg(names.get_origin, spec));
    if (!origin) return py::raised;
    if (origin.get() != Py_None) return SpecRoad{Road::Generic, Kind::Any, std::move(origin)};
    if (names.type_alias_type != nullptr) {
        const int alias = PyObject_IsInstance(spec, names.type_alias_type);
        if (alias < 0) return py::raised;
        if (alias == 1) return SpecRoad{Road::TypeAlias};
    }
    if (is_extensions_type_alias(spec)) return SpecRoad{Road::TypeAlias};
    py::Result<bool> new_type = has_attribute(spec, names.str(Name::Supertype));
    if (!new_type) return py::raised;
    if (*new_type) return SpecRoad{Road::NewType};
    if (PyList_Check(spec)) return SpecRoad{Road::ListLiteral};
    if (PyTuple_Check(spec)) return SpecRoad{Road::TupleLiteral};
    if (PySet_Check(spec)) return SpecRoad{Road::SetLiteral};
    if (PyDict_Check(spec)) return SpecRoad{Road::DictLiteral};
    if (is_validator(spec)) return SpecRoad{Road::Validator};
    return SpecRoad{Road::Value};
}

py::Result<Schema> compile_plain_value(PyObject* spec, const TypingNames& names, ConstantsPool& pool) {
    // The general road reads typing before it gets to a value; so does this
    // one, so that a value compiles only while typing can be imported.
    if (!typing_module(names)) return py::raised;
    return indexed(Kind::Literal, pool_intern(pool, spec));
}

// Annotated[T, ...] and anything else with __metadata__: its __origin__ is
// the base. __metadata__ is read again after __origin__, as the lookups run
// in that order.
py::Result<Schema> compile_annotated_spec(PyObject* spec, const TypingNames& names, ConstantsPool& pool,
                                          std::vector<Schema>& definitions) {
    py::Ref base = py::Ref::steal(PyObject_GetAttr(spec, names.str(Name::Origin)));
    if (!base) return py::raised;
    py::Ref metadata = py::Ref::steal(PyObject_GetAttr(spec, names.str(Name::Metadata)));
    if (!metadata) return py::raised;
    if (!PyTuple_Check(metadata.get())) {
        py::set_type_mismatch(metadata.get(), reinterpret_cast<PyObject*>(&PyTuple_Type));
        return py::raised;
    }
    return compile_annotated(base.get(), metadata.get(), pool, definitions);
}

// A spec whose typing.get_origin is `origin`: typing.get_args gives its
// arguments.
py::Result<Schema> compile_generic(PyObject* spec, PyObject* origin, const TypingNames& names, ConstantsPool& pool,
                                   std::vector<Schema>& definitions) {
    py::Ref args = py::Ref::steal(PyObject_CallOneArg(names.get_args, spec));
    if (!args) return py::raised;
    if (!PyTuple_Check(args.get())) {
        py::set_type_mismatch(args.get(), reinterpret_cast<PyObject*>(&PyTuple_Type));
        return py::raised;
    }
    return compile_typing_form(origin, args.get(), pool, definitions);
}

py::Result<Schema> compile_imported(PyObject* spec, ConstantsPool& pool, std::vector<Schema>& definitions) {
    const ValidatorState* imported = live_state(spec);
    if (imported == nullptr) return py::raised;
    return import_validator(*imported, pool, definitions);
}

// A value stands for itself, unless it is a typing construct.
py::Result<Schema> compile_value(PyObject* spec, const TypingNames& names, ConstantsPool& pool) {
    py::Result<bool> rejected = reject_typing_construct(spec, names);
    if (!rejected || *rejected) return py::raised;
    return indexed(Kind::Literal, pool_intern(pool, spec));
}

}  // namespace

void not_implemented_error(std::string_view text) { py::set_error(PyExc_NotImplementedError, text); }

py::Result<std::string> record_key_text(PyObject* key) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
    if (utf8 == nullptr) {
        py::discard_error();
        py::set_error(PyExc_ValueError,
                      "a record key must be valid Unicode; a field name cannot contain a lone surrogate");
        return py::raised;
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

py::Result<bool> has_attribute(PyObject* obj, PyObject* name) {
    PyObject* value = nullptr;
#if PY_VERSION_HEX >= 0x030D0000
    const int found = PyObject_GetOptionalAttr(obj, name, &value);
#else
    const int found = _PyObject_LookupAttr(obj, name, &value);
#endif
    const py::Ref held = py::Ref::steal(value);
    if (found < 0) return py::raised;
    return found == 1;
}

py::Result<Schema> compile_beside(const ValidatorState& state, PyObject* spec, ConstantsPool& pool,
                                  std::vector<Schema>& definitions) {
    pool = pool_from_constants(copy_constants(state.constants));
    definitions = clone_definitions(state.definitions);
    return compile_schema(spec, pool, definitions);
}

py::Result<Schema> compile_schema(PyObject* spec, ConstantsPool& pool, std::vector<Schema>& definitions) {
    DepthGuard depth;
    if (!depth.entered()) {
        not_implemented_error(
            "schema nesting is too deep to compile: the frontend descended " + std::to_string(MAX_COMPILE_DEPTH) +
            " levels without reaching a leaf. A class whose own type appears in its fields is recursive and "
            "never bottoms out; write it with recursive(...), which ties the fixpoint explicitly.");
        return py::raised;
    }
    // None needs no typing: it compiles even while typing cannot be imported.
    if (spec == Py_None) return leaf(Kind::NoneType);
    const TypingNames* names = typing_names();
    if (names == nullptr) return py::raised;
    py::Result<SpecRoad> found = find_road(spec, *names);
    if (!found) return py::raised;
    switch (found->road) {
        case Road::Leaf: return leaf(found->leaf);
        case Road::Class: return compile_class(spec, pool, definitions);
        case Road::PlainValue: return compile_plain_value(spec, *names, pool);
        case Road::Form: return compile_typing_form(found->origin.get(), found->args.get(), pool, definitions);
        case Road::Annotated: return compile_annotated_spec(spec, *names, pool, definitions);
        case Road::Generic: return compile_generic(spec, found->origin.get(), *names, pool, definitions);
        case Road::TypeAlias: return compile_attribute(spec, names->str(Name::Value), pool, definitions);
        case Road::NewType: return compile_attribute(spec, names->str(Name::Supertype), pool, definitions);
        case Road::ListLiteral: return compile_list_literal(spec, pool, definitions);
        case Road::TupleLiteral:
            not_implemented_error(
                "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B] (the list literal "
                "[A, B] is the fixed-length list)");
            return py::raised;
        case Road::SetLiteral:
            not_implemented_error("a set literal is not a schema; write a set as set[T]");
            return py::raised;
        case Road::DictLiteral: return compile_dict_literal(spec, pool, definitions);
        case Road::Validator: return compile_imported(spec, pool, definitions);
        case Road::Value: return compile_value(spec, *names, pool);
    }
    py::internal_failure("a spec took no road");
}

}  // namespace kestrome
