// Tree metrics that the size limits measure.
#pragma once
#include "schema/schema.h"

#include <cstdint>

namespace kestrome {

inline std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t s = a + b;
    return s < a ? UINT64_MAX : s;
}

std::uint64_t schema_node_count(const Schema& node);
std::uint64_t schema_depth(const Schema& node);
std::uint64_t seq_shape_depth(const SeqShape& shape);

}  // namespace kestrome
