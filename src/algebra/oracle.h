// The leaf questions of the algebra that only Python can answer: subclass
// relations, literal membership, the order of pooled bounds and integer
// gaps. Every answer may be undecided; no Python exception leaves here.
#pragma once
#include "py/ref.h"
#include "schema/schema.h"

#include <cstdint>
#include <vector>

namespace kestrome {

inline constexpr std::uint8_t LEAF_INCLUDED = 1;
inline constexpr std::uint8_t LEAF_NOT_INCLUDED = 0;
inline constexpr std::uint8_t LEAF_UNDECIDED = 2;
inline constexpr std::int8_t ORDER_UNDECIDED = -2;
inline constexpr std::uint8_t GAP_EMPTY = 1;   // no integer lies between the bounds
inline constexpr std::uint8_t GAP_FILLED = 0;  // at least one does
inline constexpr std::uint8_t GAP_UNDECIDED = 2;

struct LeafOracleOps {
    std::uint8_t (*leaf_subtype)(const void* data, const Schema& sub, const Schema& sup);
    std::int8_t (*compare)(const void* data, std::uint64_t i, std::uint64_t j);
    std::uint8_t (*int_gap)(const void* data, std::uint64_t lo, bool lo_strict, std::uint64_t hi, bool hi_strict);
};

struct LeafOracle {
    const void* data;
    const LeafOracleOps* ops;

    std::uint8_t leaf_subtype(const Schema& sub, const Schema& sup) const { return ops->leaf_subtype(data, sub, sup); }
    std::int8_t compare(std::uint64_t i, std::uint64_t j) const { return ops->compare(data, i, j); }
    std::uint8_t int_gap(std::uint64_t lo, bool lo_strict, std::uint64_t hi, bool hi_strict) const {
        return ops->int_gap(data, lo, lo_strict, hi, hi_strict);
    }
};

// The one oracle: over a constants vector and a definitions vector.
struct PoolOracle {
    const std::vector<py::Ref>* constants;
    const std::vector<Schema>* definitions;

    LeafOracle oracle() const;
};

}  // namespace kestrome
