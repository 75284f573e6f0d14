// The item tests the membership walk prepares once per container or record
// field, and answers without Python code.
#pragma once
#include "py/equality.h"
#include "py/python.h"
#include "py/ref.h"
#include "schema/kinds.h"
#include "schema/schema.h"
#include "util/tables.h"

#include <climits>
#include <cstddef>
#include <cstdint>

namespace kestrome {

// An item test prepared once per container or record field, which the walk
// answers without Python code: a scalar type test (alone or as a union of
// scalar kinds), the literal sets of an all-literal union, integer bounds on
// exact ints, the exact type of an instance test, or a literal whose
// equality is its exact type's value (a str, an int, None, a bool or an
// object that keeps identity as equality). It only ever answers
// what the general walk would, and says nothing where it cannot.
enum class FastForm : std::uint8_t { None, Scalar, ScalarMask, LiteralSets, IntRange, ExactType, Constant };

struct UnionLiteralSets;

struct FastCheck {
    FastForm form = FastForm::None;
    Kind kind = Kind::Anything;                   // Scalar
    // The JSON node kinds (a bit per JsonKind) the test accepts by their
    // kind alone, so that a JSON node is tested with one mask: under
    // Scalar and ScalarMask no other node is a member.
    std::uint8_t json_kinds = 0;
    py::DecidedBy decided_by = py::DecidedBy::Python;  // Constant: how its equality is decided
    std::uint32_t mask = 0;                       // ScalarMask: one bit per scalar kind
    union {
        const UnionLiteralSets* sets = nullptr;  // LiteralSets
        PyObject* type;                          // ExactType, Constant: borrowed from the pool
    };
    std::int64_t lo = INT64_MIN, hi = INT64_MAX;  // IntRange, inclusive
};
static_assert(sizeof(FastCheck) == 32, "a record's prepared tests are read one after another");

// The literal sets of the validator's all-literal unions, by union_key.
using UnionTable = NodeMap<UnionLiteralSets>;

// The test of `node`; `unions` may be null (then no literal sets).
FastCheck prepare_fast_check(const Schema& node, const py::Ref* constants, std::size_t constant_count,
                             const UnionTable* unions);

// Whether a literal's members are exactly the values of its constant's exact
// type equal to it by that type's own C-level equality: a str, an int within
// 64 bits, None, a bool, or an object whose type keeps identity as equality
// (py::is_plain).
bool is_plain_constant(PyObject* constant);

}  // namespace kestrome
