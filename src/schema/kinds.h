// What each schema kind is: the classes of values its type test admits, the
// one Python type all its values have, readable names and error codes.
#pragma once
#include "schema/schema.h"

#include <cstdint>

namespace kestrome {

// Classes of values, as bits: None 1, bool 2, int other than bool 4, float
// 8, str 16, bytes 32, every other value 64.
using KindMask = std::uint8_t;
inline constexpr KindMask NONE_VALUES = 1;
inline constexpr KindMask BOOL_VALUES = 2;
inline constexpr KindMask INT_VALUES = 4;
inline constexpr KindMask FLOAT_VALUES = 8;
inline constexpr KindMask STR_VALUES = 16;
inline constexpr KindMask BYTES_VALUES = 32;
inline constexpr KindMask OTHER_VALUES = 64;
inline constexpr KindMask ALL_KINDS = 127;

// The one Python type every value of a schema has: None 0, bool 1, int 2,
// float 3, str 4, bytes 5, list 6, tuple 7, set 8, frozenset 9, record 10;
// 255 when there is none.
using BaseKind = std::uint8_t;
inline constexpr BaseKind NO_BASE_KIND = 255;

struct KindClasses {
    // The classes a scalar kind's type test admits (Any admits all of them);
    // 0 for a kind that is not scalar.
    KindMask values;
    // The base kind of the kind's values; a sequence's is a list's, a
    // tuple's one more.
    BaseKind base;
};

inline constexpr KindClasses KIND_CLASSES[] = {
    {ALL_KINDS, NO_BASE_KIND},                 // Anything
    {ALL_KINDS, NO_BASE_KIND},                 // Any
    {0, NO_BASE_KIND},                         // Nothing
    {NONE_VALUES, 0},                          // NoneType
    {BOOL_VALUES, 1},                          // Bool
    {BOOL_VALUES | INT_VALUES, 2},             // Int
    {FLOAT_VALUES, 3},                         // Float
    {STR_VALUES, 4},                           // Str
    {BYTES_VALUES, 5},                         // Bytes
    {0, NO_BASE_KIND},                         // Literal
    {0, 6},                                    // Sequence
    {0, 8},                                    // Set
    {0, 9},                                    // FrozenSet
    {0, 10},                                   // Record
    {0, NO_BASE_KIND},                         // Union
    {0, NO_BASE_KIND},                         // Intersection
    {0, NO_BASE_KIND},                         // Complement
    {0, NO_BASE_KIND},                         // Instance
    {0, NO_BASE_KIND},                         // Object
    {0, NO_BASE_KIND},                         // Refinement
    {0, NO_BASE_KIND},                         // BackEdge
    {0, NO_BASE_KIND},                         // Placeholder
};
static_assert(sizeof(KIND_CLASSES) / sizeof(KIND_CLASSES[0]) == static_cast<unsigned>(Kind::Placeholder) + 1);

inline constexpr KindMask kind_values(Kind kind) { return KIND_CLASSES[static_cast<unsigned>(kind)].values; }
inline constexpr BaseKind kind_base(Kind kind) { return KIND_CLASSES[static_cast<unsigned>(kind)].base; }

inline constexpr std::uint32_t kind_bit(Kind kind) { return 1u << static_cast<unsigned>(kind); }

// The kinds decided by a type test alone.
inline bool is_scalar_kind(Kind kind) { return kind <= Kind::Bytes; }

// The scalar kinds (a kind_bit each) whose type test admits a value of
// these classes.
consteval std::uint32_t kinds_admitting(KindMask classes) {
    std::uint32_t bits = 0;
    for (unsigned k = 0; k <= static_cast<unsigned>(Kind::Bytes); ++k) {
        if ((KIND_CLASSES[k].values & classes) != 0) bits |= kind_bit(static_cast<Kind>(k));
    }
    return bits;
}

// Static texts; a Refinement answers with its base.
const char* schema_kind_name(const Schema& node);
const char* schema_error_code(const Schema& node);

}  // namespace kestrome
