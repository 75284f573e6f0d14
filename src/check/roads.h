// The walk's prepared roads: the item tests (FastCheck), the record passes
// over dicts read in place, the runs of records and tagged members decided
// at once, the union literal sets, and validate_json's walk of the
// document's tree. Each gives what the general walk gives, only faster; a
// build for tests turns them all off (KESTROME_GENERAL_WALK), so that every
// value goes down the general walk and the two builds can be compared. What
// decides a report (the member a tag selects) is not a road.
#pragma once
#include "check/context.h"
#include "schema/state.h"

namespace kestrome {

#ifdef KESTROME_GENERAL_WALK
inline constexpr bool prepared_roads = false;
#else
inline constexpr bool prepared_roads = true;
#endif

// Whether a prepared road may be taken at the current level. A road decides
// a part of the schema at once, at most a validator's nesting of levels
// below it (a back edge has no road); the general walk counts each of those
// levels against the nesting cap, so the roads close where they could pass it.
[[gnu::always_inline]] inline bool roads_open(const WalkState& call) {
    return prepared_roads && call.depth + MAX_SCHEMA_DEPTH < MAX_WALK_DEPTH;
}

}  // namespace kestrome
