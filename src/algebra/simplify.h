// Rewrites of schema trees: lattice-law simplification, and opening or
// closing records. Pure functions: no Python code, no failure.
#pragma once
#include "schema/schema.h"

#include <vector>

namespace kestrome {

Schema simplify_schema(const Schema& node);
Schema canonical_union(std::vector<Schema> members);
Schema canonical_intersection(std::vector<Schema> members);
Schema complement_nnf(Schema node);

// Every record with fields gets exactly the open clause (anything: anything)
// when `open`, no clause otherwise; records without fields keep theirs.
Schema set_records_open(const Schema& node, bool open);

}  // namespace kestrome
