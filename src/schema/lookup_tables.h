// The lookup tables of records, all-literal unions and tagged unions that
// the membership walk reads, and the keys it finds them by.
#pragma once
#include "schema/fast_check.h"
#include "schema/schema.h"
#include "util/fx_hash.h"
#include "util/tables.h"
#include "util/text_index.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrome {

// Field name to the position of its (last) field; number of required fields;
// the prepared test of each field, and of each clause's key and value.
// The items' test of a field that is a list or a tuple of one item type,
// with no other constraint: such a field is decided by a scan of its items.
// A field that is a record, or a list or tuple of records, is decided by
// that record's own prepared pass (`record`; `whole` for the record itself).
// No field position.
inline constexpr std::size_t NO_FIELD = ~std::size_t{0};

struct FieldNameSet;
struct ItemsCheck {
    FastCheck items;
    bool tuple = false;
    bool whole = false;
    const FieldNameSet* record = nullptr;
};

struct FieldNameSet {
    TextIndex names;
    std::uint64_t required_count = 0;
    std::vector<FastCheck> field_checks;
    // Only the fields that have an items' test keep one: items_index holds,
    // per field, 1 + its place in items_checks or 0 (empty when no field has
    // one), so that a wide record of scalars pays two bytes a field for it.
    std::vector<std::uint16_t> items_index;
    std::vector<ItemsCheck> items_checks;
    std::vector<FastCheck> clause_checks;  // key, value per clause
    bool all_fast = false;                 // every field and clause has a check with a form
    bool names_unique = true;              // no name is written twice (the last would decide)
    // Where the validator's str objects for these names start in its
    // FieldNameStrs, or NO_NAME_OBJECTS (names written twice, none made).
    std::uint32_t name_objects_at = NO_NAME_OBJECTS;
    static constexpr std::uint32_t NO_NAME_OBJECTS = ~std::uint32_t{0};
    const Schema* node = nullptr;  // the record these names are of
};

// Exact int (64-bit) and str literals of an all-literal union.
struct UnionLiteralSets {
    IntSet ints;
    TextIndex strs;
};

// A record member's field names (null when the member is not a record),
// and the position of the tag field among its fields: a tag that selects
// the member is one its tag field accepts, so the pass need not test it.
struct TaggedMemberPass {
    const FieldNameSet* names = nullptr;
    std::size_t tag_at = NO_FIELD;
};

// A union whose members are records (or unions of records) that each
// require one field of the same name, its schema a literal set disjoint from
// every other member's: the member that a tag value selects. Tags are keyed
// by exact type and value (1, True and 1.0 never meet); objects whose type
// keeps the default equality are keyed by identity.
struct TaggedUnion {
    std::string field;
    std::uint64_t field_hash = 0;
    // The tag field's name as the validator's str object (an index into its
    // FieldNameStrs, or FieldNameSet::NO_NAME_OBJECTS): dict keys written as
    // literals are that very object.
    std::uint32_t field_object_at = FieldNameSet::NO_NAME_OBJECTS;
    // Per member, its prepared pass when the member is a record: the member
    // a tag selects is decided by it at once.
    std::vector<TaggedMemberPass> member_passes;
    TextIndex strs;
    std::unordered_map<std::int64_t, std::uint32_t, FxWordHash> ints;
    PointerMap<std::uint32_t> objects;  // None, True, False and such objects
};

// The prepared tests of a list or tuple's positions, read as a fixed
// prefix and a repeated tail: one per prefix item, and the tail's (with no
// form where the walk decides the items).
struct SequenceChecks {
    LinearShape shape;
    std::vector<FastCheck> prefix;
    FastCheck tail;
    bool all_fast = false;  // every position's test has a form
};

using FieldNameTable = NodeMap<FieldNameSet>;
using TaggedUnionTable = NodeMap<TaggedUnion>;
using SequenceTable = NodeMap<SequenceChecks>;

// The keys of the tables: the node's id, which no rewrite of the tree moves.
inline std::uint32_t record_key(const Schema& record) { return record.id; }
inline std::uint32_t union_key(const Schema& u) { return u.id; }
inline std::uint32_t sequence_key(const Schema& sequence) { return sequence.id; }

// The field-name set of a record: each name with its (last) position.
FieldNameSet field_name_set_of(const Schema& record);
// Whether the record's field at `position` is the last of its name, the one
// every pass reads.
bool is_last_of_its_name(const FieldNameSet& names, const Schema& record, std::size_t position);

}  // namespace kestrome
