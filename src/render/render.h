// Annotation text of a compiled schema, for repr().
#pragma once
#include "py/ref.h"
#include "schema/schema.h"
#include "util/fx_hash.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace kestrome {

inline constexpr std::uint64_t MAX_RENDER_DEPTH = 200;

// The definitions being written out on the current path.
using InProgressDefinitions = std::unordered_set<std::uint64_t, FxWordHash>;

std::string render_schema(const Schema& node, const std::vector<py::Ref>& constants,
                          const std::vector<Schema>& definitions, InProgressDefinitions& in_progress,
                          std::uint64_t depth);

}  // namespace kestrome
