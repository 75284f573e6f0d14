// The walk of each schema kind, for walk.cpp's dispatch. Each is defined in
// the source file of its kind and instantiated there for both value kinds.
#pragma once
#include "check/context.h"
#include "json/tree.h"
#include "schema/lookup_tables.h"

#include <cstddef>

namespace kestrome {

#define KESTROME_KIND_WALK(name) \
    template <class V>           \
    bool name(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records)

KESTROME_KIND_WALK(walk_scalar);
KESTROME_KIND_WALK(walk_literal);
KESTROME_KIND_WALK(walk_instance);
KESTROME_KIND_WALK(walk_sequence);
KESTROME_KIND_WALK(walk_set);
KESTROME_KIND_WALK(walk_record);
KESTROME_KIND_WALK(walk_object);
KESTROME_KIND_WALK(walk_refinement);
KESTROME_KIND_WALK(walk_union);
KESTROME_KIND_WALK(walk_intersection);
KESTROME_KIND_WALK(walk_complement);
KESTROME_KIND_WALK(walk_back_edge);
KESTROME_KIND_WALK(walk_placeholder);

#undef KESTROME_KIND_WALK

// The leading items of a list or tuple that the record of `names` certainly
// accepts, each decided by the record's prepared pass alone one walk level
// below the current one (records.cpp).
struct FieldNameSet;
template <class V>
std::size_t records_accepted_run(const FieldNameSet& names, V sequence, bool tuple, const WalkContext& ctx);

// Whether the record of `names` certainly accepts `value`, decided by its
// prepared pass one walk level below the current one (records.cpp). The
// field at `accepted_at`, unless NO_FIELD, is known to hold a value its test
// accepts, and is not tested again.
template <class V>
bool record_accepts_below(const FieldNameSet& names, V value, const WalkContext& ctx, std::size_t accepted_at);

// The leading items of a list or tuple that a tagged union certainly
// accepts, each decided by the prepared pass of the member its tag selects,
// the union's level and the record's below the current one (logic.cpp).
struct TaggedUnion;
template <class V>
std::size_t tagged_accepted_run(const TaggedUnion& tagged, const Schema& node, V sequence, bool tuple,
                                const WalkContext& ctx);

// In the file that defines a kind's walk: its instances for both value kinds.
#define KESTROME_INSTANTIATE_WALK(name)                                                              \
    template bool name<PyObject*>(const Schema&, PyObject*, Path&, const WalkContext&, Records&); \
    template bool name<JsonRef>(const Schema&, JsonRef, Path&, const WalkContext&, Records&)

}  // namespace kestrome
