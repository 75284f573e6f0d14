// Evaluation of the prepared item tests (FastCheck), one item at a time or
// over a run of items, without Python code.
#pragma once
#include "check/context.h"
#include "json/kinds.h"
#include "json/tree.h"
#include "py/equality.h"
#include "py/no_python.h"
#include "py/str_hash.h"
#include "py/values.h"
#include "schema/fast_check.h"
#include "schema/kinds.h"
#include "schema/lookup_tables.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace kestrome {

using py::exact_int_value;
using py::str_utf8;
using py::str_utf8_in_place;

// The type test of a scalar kind (Nothing included), or nothing for any
// other kind.
[[gnu::always_inline]] inline std::optional<bool> scalar_member(Kind kind, PyObject* value) {
    switch (kind) {
        case Kind::Anything:
        case Kind::Any: return true;
        case Kind::Nothing: return false;
        case Kind::NoneType: return value == Py_None;
        case Kind::Bool: return Py_IS_TYPE(value, &PyBool_Type);
        case Kind::Int: return PyLong_Check(value) != 0;
        case Kind::Float: return PyFloat_Check(value) != 0;
        case Kind::Str: return PyUnicode_Check(value) != 0;
        case Kind::Bytes: return PyBytes_Check(value) != 0;
        default: return std::nullopt;
    }
}

// The same tests for a JSON node: true and false are ints too.
[[gnu::always_inline]] inline std::optional<bool> scalar_member(Kind kind, JsonRef value) {
    const JsonKind k = value.node->kind;
    switch (kind) {
        case Kind::Anything:
        case Kind::Any: return true;
        case Kind::Nothing: return false;
        case Kind::NoneType: return k == JsonKind::Null;
        case Kind::Bool: return k == JsonKind::Bool;
        case Kind::Int: return k == JsonKind::Bool || k == JsonKind::Int || k == JsonKind::BigInt;
        case Kind::Float: return k == JsonKind::Float;
        case Kind::Str: return k == JsonKind::String;
        case Kind::Bytes: return false;
        default: return std::nullopt;
    }
}

// Whether the value, made a Python object, would have exactly this type: a
// JSON node answers from its kind, before anything is converted.
[[gnu::always_inline]] inline bool has_exact_type(PyObject* value, PyTypeObject* type) {
    return Py_TYPE(value) == type;
}

inline bool has_exact_type(JsonRef value, PyTypeObject* type) { return loaded_type(value.node->kind) == type; }

// The scalar kinds whose type test accepts the value.
[[gnu::always_inline]] inline std::uint32_t accepting_kinds(PyObject* value) {
    if (value == Py_None) return kinds_admitting(NONE_VALUES);
    PyTypeObject* type = Py_TYPE(value);
    if (type == &PyBool_Type) return kinds_admitting(BOOL_VALUES);
    if (PyLong_Check(value)) return kinds_admitting(INT_VALUES);
    if (PyFloat_Check(value)) return kinds_admitting(FLOAT_VALUES);
    if (PyUnicode_Check(value)) return kinds_admitting(STR_VALUES);
    if (PyBytes_Check(value)) return kinds_admitting(BYTES_VALUES);
    return kinds_admitting(OTHER_VALUES);
}

// Nothing where the sets cannot tell: a big int, or a str whose text is not
// at hand, unless `encode` allows encoding it (which may run Python code).
[[gnu::always_inline]] inline std::optional<bool> literal_set_answer(const UnionLiteralSets& sets, PyObject* value,
                                                                     bool encode = false) {
    if (Py_IS_TYPE(value, &PyLong_Type)) {
        const std::optional<std::int64_t> v = exact_int_value(value);
        if (!v) return std::nullopt;
        return sets.ints.contains(*v);
    }
    if (Py_IS_TYPE(value, &PyUnicode_Type)) {
        const std::optional<std::string_view> text = encode ? str_utf8(value) : str_utf8_in_place(value);
        if (!text) return std::nullopt;
        return sets.strs.find(*text, str_hash(value)) != nullptr;
    }
    return std::nullopt;
}

// The literal sets of an all-literal union, when the walk has them.
inline const UnionLiteralSets* union_literal_sets(const Schema& node, const WalkContext& ctx) {
    if (!roads_open(*ctx.call) || node.kind != Kind::Union || ctx.unions->empty()) return nullptr;
    return ctx.unions->find(union_key(node));
}

// Whether two exact strs hold the same text. A text has one canonical form
// (its narrowest kind), so equal texts have equal kinds and bytes. Nothing
// for a str not yet made ready, which only an allocation could read.
inline std::optional<bool> exact_str_equal(PyObject* a, PyObject* b) {
    if (!PyUnicode_IS_READY(a) || !PyUnicode_IS_READY(b)) [[unlikely]] return std::nullopt;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(a);
    const int kind = PyUnicode_KIND(a);
    if (n != PyUnicode_GET_LENGTH(b) || kind != static_cast<int>(PyUnicode_KIND(b))) return false;
    return same_text(static_cast<const char*>(PyUnicode_DATA(a)), static_cast<const char*>(PyUnicode_DATA(b)),
                     static_cast<std::size_t>(n) * static_cast<std::size_t>(kind));
}

// Membership in a literal whose constant is plain (py::is_plain(by)): the
// exact type, then the type's own equality, all in C.
inline std::optional<bool> constant_member(PyObject* constant, py::DecidedBy by, PyObject* value) {
    if (value == constant) return true;
    if (Py_TYPE(value) != Py_TYPE(constant)) return false;
    switch (by) {
        case py::DecidedBy::Text: return exact_str_equal(value, constant);
        case py::DecidedBy::Int: return exact_int_value(value) == exact_int_value(constant);
        default: return false;  // equal only to itself
    }
}

inline FastCheck prepare_fast_check(const Schema& node, const WalkContext& ctx) {
    if (!roads_open(*ctx.call)) return FastCheck{};
    // Containers and back edges never have a form: known at a glance, as
    // the items of a recursive list are at every level.
    switch (node.kind) {
        case Kind::BackEdge:
        case Kind::Record:
        case Kind::Sequence:
        case Kind::Set:
        case Kind::FrozenSet:
        case Kind::Object: return FastCheck{};
        default: return prepare_fast_check(node, ctx.constants, ctx.constant_count, ctx.unions);
    }
}

[[gnu::always_inline]] inline std::optional<bool> fast_member(const FastCheck& check, PyObject* value) {
    switch (check.form) {
        case FastForm::None: return std::nullopt;
        case FastForm::Scalar: return scalar_member(check.kind, value);
        case FastForm::ScalarMask: return (accepting_kinds(value) & check.mask) != 0;
        case FastForm::LiteralSets: return literal_set_answer(*check.sets, value);
        case FastForm::IntRange: {
            const std::optional<std::int64_t> v = exact_int_value(value);
            if (!v) return std::nullopt;
            return *v >= check.lo && *v <= check.hi;
        }
        case FastForm::ExactType:
            if (Py_IS_TYPE(value, reinterpret_cast<PyTypeObject*>(check.type))) return true;
            return std::nullopt;
        case FastForm::Constant: return constant_member(check.type, check.decided_by, value);
    }
    return std::nullopt;
}

// The same answers for JSON nodes, read from the node: no Python object is
// made. Texts are found by their UTF-8 bytes.
inline std::uint32_t accepting_kinds(JsonRef value) { return kinds_accepting(value.node->kind); }

// Whether the node's kind alone makes it a member (json_kinds).
[[gnu::always_inline]] inline bool kind_accepted(const FastCheck& check, const JsonNode& node) {
    return ((check.json_kinds >> static_cast<unsigned>(node.kind)) & 1u) != 0;
}

[[gnu::always_inline]] inline std::optional<bool> literal_set_answer(const UnionLiteralSets& sets, JsonRef value,
                                                                     bool = false) {
    switch (value.node->kind) {
        case JsonKind::String: return sets.strs.find(value.tree->text(*value.node)) != nullptr;
        case JsonKind::Int: return sets.ints.contains(value.node->integer);
        default: return std::nullopt;
    }
}

// Membership of a JSON node in a literal of a plain constant; nothing when
// the constant's text cannot be read.
inline std::optional<bool> constant_member(PyObject* constant, py::DecidedBy by, JsonRef value) {
    const JsonNode& node = *value.node;
    if (by == py::DecidedBy::Text) {
        if (node.kind != JsonKind::String) return false;
        const std::optional<std::string_view> text = str_utf8_in_place(constant);
        if (!text) return std::nullopt;
        return *text == value.tree->text(node);
    }
    if (by == py::DecidedBy::Int) return node.kind == JsonKind::Int && exact_int_value(constant) == node.integer;
    // Equal only to itself: None, a bool, or an object JSON never makes.
    if (constant == Py_None) return node.kind == JsonKind::Null;
    if (Py_IS_TYPE(constant, &PyBool_Type)) return node.kind == JsonKind::Bool && node.truth == (constant == Py_True);
    return false;  // an object equal only to itself is never made from JSON
}

// The tests that read more of a node than its kind.
inline std::optional<bool> fast_member_by_value(const FastCheck& check, JsonRef value) {
    switch (check.form) {
        case FastForm::LiteralSets: return literal_set_answer(*check.sets, value);
        case FastForm::IntRange:
            if (value.node->kind != JsonKind::Int) return std::nullopt;
            return value.node->integer >= check.lo && value.node->integer <= check.hi;
        case FastForm::Constant: return constant_member(check.type, check.decided_by, value);
        default: return std::nullopt;
    }
}

[[gnu::always_inline]] inline std::optional<bool> fast_member(const FastCheck& check, JsonRef value) {
    if (kind_accepted(check, *value.node)) return true;
    switch (check.form) {
        case FastForm::None: return std::nullopt;
        case FastForm::Scalar:
        case FastForm::ScalarMask: return false;
        case FastForm::ExactType: return std::nullopt;
        default: return fast_member_by_value(check, value);
    }
}

// Whether the test certainly accepts the node: a mask test where its kind
// decides.
[[gnu::always_inline]] inline bool fast_accepts(const FastCheck& check, JsonRef value) {
    if (kind_accepted(check, *value.node)) return true;
    if (check.form < FastForm::LiteralSets || check.form == FastForm::ExactType) return false;
    const std::optional<bool> answer = fast_member_by_value(check, value);
    return answer && *answer;
}

// Whether the test certainly accepts the value.
template <class V>
[[gnu::always_inline]] inline bool fast_accepts(const FastCheck& check, V value) {
    const std::optional<bool> answer = fast_member(check, value);
    return answer && *answer;
}

// Whether the value is an int within [lo, hi], read in place.
[[gnu::always_inline]] inline bool int_in_range(PyObject* value, std::int64_t lo, std::int64_t hi) {
    const std::optional<std::int64_t> v = exact_int_value(value);
    return v && *v >= lo && *v <= hi;
}

inline bool int_in_range(JsonRef value, std::int64_t lo, std::int64_t hi) {
    return value.node->kind == JsonKind::Int && value.node->integer >= lo && value.node->integer <= hi;
}

// Calls `scan(test)` with the prepared test as a function of one item that
// is true only when the test certainly accepts it. The form is decided here,
// once, so that a loop over many items runs one specialised body.
template <class V = PyObject*, class Scan>
[[gnu::always_inline]] inline auto with_fast_test(const FastCheck& check, Scan&& scan) {
    if (check.form == FastForm::Scalar) {
        switch (check.kind) {
            case Kind::Anything:
            case Kind::Any: return scan([](V) { return true; });
            case Kind::NoneType: return scan([](V v) { return *scalar_member(Kind::NoneType, v); });
            case Kind::Bool: return scan([](V v) { return *scalar_member(Kind::Bool, v); });
            case Kind::Int: return scan([](V v) { return *scalar_member(Kind::Int, v); });
            case Kind::Float: return scan([](V v) { return *scalar_member(Kind::Float, v); });
            case Kind::Str: return scan([](V v) { return *scalar_member(Kind::Str, v); });
            case Kind::Bytes: return scan([](V v) { return *scalar_member(Kind::Bytes, v); });
            default: break;
        }
    } else if (check.form == FastForm::ExactType) {
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(check.type);
        return scan([type](V v) { return has_exact_type(v, type); });
    } else if (check.form == FastForm::ScalarMask) {
        const std::uint32_t mask = check.mask;
        return scan([mask](V v) { return (accepting_kinds(v) & mask) != 0; });
    } else if (check.form == FastForm::IntRange) {
        const std::int64_t lo = check.lo;
        const std::int64_t hi = check.hi;
        return scan([lo, hi](V v) { return int_in_range(v, lo, hi); });
    }
    return scan([&check](V v) { return fast_accepts(check, v); });
}

// The number of leading items of `items[0, n)` that the test certainly
// accepts.
inline std::size_t fast_accepted_run(const FastCheck& check, PyObject* const* items, std::size_t n) {
    const py::NoPythonScope no_python;
    return with_fast_test(check, [&](auto test) {
        std::size_t i = 0;
        while (i < n && test(items[i])) ++i;
        return i;
    });
}

// The same for a run of a JSON tree's nodes: one loop over their kinds, and
// for literal sets one over their texts.
inline std::size_t fast_accepted_run(const FastCheck& check, const JsonTree& tree, const JsonNode* items,
                                     std::size_t n) {
    std::size_t i = 0;
    while (i < n && kind_accepted(check, items[i])) ++i;
    if (i == n || check.form < FastForm::LiteralSets || check.form == FastForm::ExactType) return i;
    if (check.form == FastForm::LiteralSets) {
        const UnionLiteralSets& sets = *check.sets;
        while (i < n && literal_set_answer(sets, JsonRef{&tree, items + i}) == true) ++i;
        return i;
    }
    while (i < n && fast_accepts(check, JsonRef{&tree, items + i})) ++i;
    return i;
}

}  // namespace kestrome
