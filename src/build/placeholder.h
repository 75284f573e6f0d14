// Tying the fixpoint of recursive(...): placeholders become back edges, and
// the result must be contractive.
#pragma once
#include "schema/schema.h"

#include <cstdint>
#include <vector>

namespace kestrome {

Schema resolve_placeholder(const Schema& node, std::uint64_t id, std::uint64_t index);

// True when a path from `node` reaches BackEdge(index) without passing a
// structural constructor. Back edges into `definitions` (the definitions the
// body imported) are followed, since their placeholders are resolved too.
bool has_unguarded_back_edge(const Schema& node, std::uint64_t index, bool guarded,
                             const std::vector<Schema>& definitions);

}  // namespace kestrome
