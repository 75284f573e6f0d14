// Where JSON nodes meet the type tests: the scalar kinds that accept a node
// of each kind, the exact type it loads to, and the JSON kinds a prepared
// test accepts by kind alone.
#pragma once
#include "json/tree.h"
#include "py/python.h"
#include "schema/fast_check.h"
#include "schema/kinds.h"

#include <array>
#include <cstdint>

namespace kestrome {

// The scalar kinds whose type test accepts a JSON node of this kind: true
// and false are ints too.
constexpr std::uint32_t kinds_accepting(JsonKind kind) {
    switch (kind) {
        case JsonKind::Null: return kinds_admitting(NONE_VALUES);
        case JsonKind::Bool: return kinds_admitting(BOOL_VALUES);
        case JsonKind::Int:
        case JsonKind::BigInt: return kinds_admitting(INT_VALUES);
        case JsonKind::Float: return kinds_admitting(FLOAT_VALUES);
        case JsonKind::String: return kinds_admitting(STR_VALUES);
        default: return kinds_admitting(OTHER_VALUES);
    }
}

// The exact type of the object a JSON node of this kind loads to.
inline PyTypeObject* loaded_type(JsonKind kind) {
    switch (kind) {
        case JsonKind::Null: return Py_TYPE(Py_None);
        case JsonKind::Bool: return &PyBool_Type;
        case JsonKind::Int:
        case JsonKind::BigInt: return &PyLong_Type;
        case JsonKind::Float: return &PyFloat_Type;
        case JsonKind::String: return &PyUnicode_Type;
        case JsonKind::Array: return &PyList_Type;
        case JsonKind::Object: return &PyDict_Type;
    }
    return nullptr;
}

inline constexpr unsigned JSON_KIND_COUNT = static_cast<unsigned>(JsonKind::Object) + 1;

// The JSON node kinds a scalar kind's type test accepts, a bit per node
// kind, as a table made at compile time (prepared tests are made on every
// walk of a container).
inline constexpr std::array<std::uint8_t, static_cast<unsigned>(Kind::Bytes) + 1> JSON_KINDS_OF = [] {
    std::array<std::uint8_t, static_cast<unsigned>(Kind::Bytes) + 1> table{};
    for (unsigned kind = 0; kind < table.size(); ++kind) {
        for (unsigned k = 0; k < JSON_KIND_COUNT; ++k) {
            if ((kinds_accepting(static_cast<JsonKind>(k)) & kind_bit(static_cast<Kind>(kind))) != 0) {
                table[kind] = static_cast<std::uint8_t>(table[kind] | (1u << k));
            }
        }
    }
    return table;
}();

// The JSON node kinds the prepared test accepts by kind alone (its
// json_kinds).
inline std::uint8_t json_kinds_accepted(const FastCheck& check) {
    std::uint8_t kinds = 0;
    switch (check.form) {
        case FastForm::Scalar: return JSON_KINDS_OF[static_cast<unsigned>(check.kind)];
        case FastForm::ScalarMask:
            for (std::uint32_t mask = check.mask; mask != 0; mask &= mask - 1) {
                kinds = static_cast<std::uint8_t>(kinds | JSON_KINDS_OF[static_cast<unsigned>(__builtin_ctz(mask))]);
            }
            return kinds;
        case FastForm::ExactType:
            for (unsigned k = 0; k < JSON_KIND_COUNT; ++k) {
                if (loaded_type(static_cast<JsonKind>(k)) == reinterpret_cast<PyTypeObject*>(check.type)) {
                    kinds = static_cast<std::uint8_t>(kinds | (1u << k));
                }
            }
            return kinds;
        default: return 0;
    }
}

}  // namespace kestrome
