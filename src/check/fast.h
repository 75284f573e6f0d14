// Item checks that need no Python code, prepared once per container: the
// scalar type tests, the literal sets of an all-literal union, and integer
// bounds on exact ints. Each answers only when its answer is certain to be
// the general walk's; otherwise the general walk decides.
#pragma once
#include "check/context.h"
#include "json/tree.h"

#include <climits>
#include <optional>

namespace kestrome {

enum class FastForm : std::uint8_t { None, Scalar, LiteralSets, IntRange };

struct FastCheck {
    FastForm form = FastForm::None;
    Kind kind = Kind::Anything;                // Scalar
    const UnionLiteralSets* sets = nullptr;    // LiteralSets
    std::int64_t lo = INT64_MIN, hi = INT64_MAX;  // IntRange, inclusive
};

// The type test of a scalar kind (Nothing included), or nothing for any
// other kind.
inline std::optional<bool> scalar_member(Kind kind, PyObject* value) {
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
inline std::optional<bool> scalar_member(Kind kind, JsonRef value) {
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

// The value of an exact int that fits in 64 bits.
inline std::optional<std::int64_t> exact_int_value(PyObject* value) {
    if (!PyLong_CheckExact(value)) return std::nullopt;
#if PY_VERSION_HEX < 0x030C0000
    const Py_ssize_t size = Py_SIZE(value);
    if (size >= -1 && size <= 1) {
        const auto digit = static_cast<std::int64_t>(reinterpret_cast<PyLongObject*>(value)->ob_digit[0]);
        return size * digit;
    }
#endif
    int overflow = 0;
    const long v = PyLong_AsLongAndOverflow(value, &overflow);
    if (overflow != 0) return std::nullopt;
    return v;
}

// The UTF-8 text of a str (or str subclass), or nothing when it does not
// encode (the error dropped). Compact ASCII strings are read in place.
inline std::optional<std::string_view> str_utf8(PyObject* s) {
    if (PyUnicode_IS_COMPACT_ASCII(s)) {
        return std::string_view(reinterpret_cast<const char*>(reinterpret_cast<PyASCIIObject*>(s) + 1),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)));
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(s, &size);
    if (utf8 == nullptr) {
        py::discard_error();
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

[[gnu::always_inline]] inline std::optional<bool> literal_set_answer(const UnionLiteralSets& sets, PyObject* value) {
    if (Py_IS_TYPE(value, &PyLong_Type)) {
        const std::optional<std::int64_t> v = exact_int_value(value);
        if (!v) return std::nullopt;
        return sets.ints.contains(*v);
    }
    if (Py_IS_TYPE(value, &PyUnicode_Type)) {
        const std::optional<std::string_view> text = str_utf8(value);
        if (!text) return std::nullopt;
        return sets.strs.find(*text, str_hash(value)) != nullptr;
    }
    return std::nullopt;
}

// The literal sets of an all-literal union, when the walk has them.
inline const UnionLiteralSets* union_literal_sets(const Schema& node, const WalkContext& ctx) {
    if (node.kind != Kind::Union || ctx.unions->empty()) return nullptr;
    return ctx.unions->find(union_key(node));
}

// Bounds of a refinement of int whose every constraint is a bound that is
// an exact int: the inclusive range they allow.
inline bool int_range_of(const Schema& node, const WalkContext& ctx, FastCheck& out) {
    if (node.kind != Kind::Refinement || node.inner->kind != Kind::Int) return false;
    for (const Constraint& c : node.constraints) {
        if (c.kind > ConstraintKind::Lt) return false;
        PyObject* bound = ctx.constant(c.value);
        if (bound == nullptr) return false;
        const std::optional<std::int64_t> b = exact_int_value(bound);
        if (!b) return false;
        switch (c.kind) {
            case ConstraintKind::Ge: out.lo = std::max(out.lo, *b); break;
            case ConstraintKind::Gt:
                if (*b == INT64_MAX) return false;
                out.lo = std::max(out.lo, *b + 1);
                break;
            case ConstraintKind::Le: out.hi = std::min(out.hi, *b); break;
            case ConstraintKind::Lt:
                if (*b == INT64_MIN) return false;
                out.hi = std::min(out.hi, *b - 1);
                break;
            default: return false;
        }
    }
    return true;
}

inline FastCheck prepare_fast_check(const Schema& node, const WalkContext& ctx) {
    FastCheck check;
    if (scalar_member(node.kind, Py_None)) {
        check.form = FastForm::Scalar;
        check.kind = node.kind;
    } else if (const UnionLiteralSets* sets = union_literal_sets(node, ctx)) {
        check.form = FastForm::LiteralSets;
        check.sets = sets;
    } else if (int_range_of(node, ctx, check)) {
        check.form = FastForm::IntRange;
    }
    return check;
}

[[gnu::always_inline]] inline std::optional<bool> fast_member(const FastCheck& check, PyObject* value) {
    switch (check.form) {
        case FastForm::None: return std::nullopt;
        case FastForm::Scalar: return scalar_member(check.kind, value);
        case FastForm::LiteralSets: return literal_set_answer(*check.sets, value);
        case FastForm::IntRange: {
            const std::optional<std::int64_t> v = exact_int_value(value);
            if (!v) return std::nullopt;
            return *v >= check.lo && *v <= check.hi;
        }
    }
    return std::nullopt;
}

}  // namespace kestrome
