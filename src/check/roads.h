// The walk's prepared roads: the item tests (FastCheck), the record passes
// over dicts read in place, the runs of records and tagged members decided
// at once, the union literal sets, and validate_json's walk of the
// document's tree. Each gives what the general walk gives, only faster; a
// build for tests turns them all off (KESTROME_GENERAL_WALK), so that every
// value goes down the general walk and the two builds can be compared. What
// decides a report (the member a tag selects) is not a road. Where the roads
// close near the nesting cap: ROADS_END (check/context.h).
#pragma once

namespace kestrome {

#ifdef KESTROME_GENERAL_WALK
inline constexpr bool prepared_roads = false;
#else
inline constexpr bool prepared_roads = true;
#endif

}  // namespace kestrome
