// Per-validator lookup tables for the membership walk, built once on the
// first membership check. They hold no Python objects.
#pragma once
#include "py/python.h"
#include "json/tree.h"
#include "py/ref.h"
#include "schema/anchored_regex.h"
#include "schema/schema.h"
#include "util/fx_hash.h"
#include "util/tables.h"

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrome {

struct ValidatorState;

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
    std::uint32_t mask = 0;                       // ScalarMask: one bit per scalar kind
    union {
        const UnionLiteralSets* sets = nullptr;  // LiteralSets
        PyObject* type;                          // ExactType, Constant: borrowed from the pool
    };
    std::int64_t lo = INT64_MIN, hi = INT64_MAX;  // IntRange, inclusive
};

inline constexpr std::uint32_t kind_bit(Kind kind) { return 1u << static_cast<unsigned>(kind); }

// The kinds decided by a type test alone.
inline bool is_scalar_kind(Kind kind) { return kind <= Kind::Bytes; }

// The scalar kinds whose type test accepts a JSON node of this kind: true
// and false are ints too.
constexpr std::uint32_t kinds_accepting(JsonKind kind) {
    const std::uint32_t bits = kind_bit(Kind::Anything) | kind_bit(Kind::Any);
    switch (kind) {
        case JsonKind::Null: return bits | kind_bit(Kind::NoneType);
        case JsonKind::Bool: return bits | kind_bit(Kind::Bool) | kind_bit(Kind::Int);
        case JsonKind::Int:
        case JsonKind::BigInt: return bits | kind_bit(Kind::Int);
        case JsonKind::Float: return bits | kind_bit(Kind::Float);
        case JsonKind::String: return bits | kind_bit(Kind::Str);
        default: return bits;
    }
}

// The exact type of the object a JSON node of this kind loads to.
inline PyTypeObject* loaded_type(JsonKind kind) {
    switch (kind) {
        case JsonKind::Null: return Py_TYPE(Py_None);
        case JsonKind::Bool: return &PyBool_Type;
        case JsonKind::Int:
        case JsonKind::BigInt: return &PyLong_Type;
        case JsonKind::Float: return &PyFloat_Type;
        case JsonKind::String: return &PyUnicode_Type;
        case JsonKind::Array: return &PyList_Type;
        case JsonKind::Object: return &PyDict_Type;
    }
    return nullptr;
}

// An open-addressing index: a power-of-two array of slots, each 0 (empty)
// or an entry number plus one. An index without slots reads as one empty
// slot, so that a lookup needs no test for it.
class SlotArray {
public:
    SlotArray() = default;
    SlotArray(SlotArray&& other) noexcept
        : owned_(std::move(other.owned_)),
          slots_(std::exchange(other.slots_, &NONE)),
          mask_(std::exchange(other.mask_, 0)) {}
    SlotArray& operator=(SlotArray&& other) noexcept {
        owned_ = std::move(other.owned_);
        slots_ = std::exchange(other.slots_, &NONE);
        mask_ = std::exchange(other.mask_, 0);
        return *this;
    }

    // Empty slots for `count` entries: at most a quarter full.
    void reset_for(std::size_t count);
    std::size_t size() const { return owned_ != nullptr ? mask_ + 1 : 0; }
    // Puts entry number `entry` at the first empty slot from `hash` on.
    void place(std::uint64_t hash, std::size_t entry);

    [[gnu::always_inline]] std::size_t mask() const { return mask_; }
    [[gnu::always_inline]] std::uint32_t operator[](std::size_t i) const { return slots_[i]; }

private:
    static constexpr std::uint32_t NONE = 0;
    std::unique_ptr<std::uint32_t[]> owned_;
    const std::uint32_t* slots_ = &NONE;
    std::size_t mask_ = 0;
};

// Texts found from a Python str by the hash the str caches, and from UTF-8
// bytes alone (a JSON string) by the Fx fold of the bytes. The texts are
// copied into one arena; each hash index is a SlotArray, at most a quarter
// full so that most lookups find their key, or an empty slot, at the first
// probe. The bytes index serves only JSON: it is made on the first lookup by
// bytes.
class TextIndex {
public:
    TextIndex() = default;
    TextIndex(TextIndex&& other) noexcept
        : entries_(std::move(other.entries_)),
          arena_(std::move(other.arena_)),
          by_str_(std::move(other.by_str_)),
          by_bytes_(other.by_bytes_.exchange(nullptr)) {}
    TextIndex& operator=(TextIndex&& other) noexcept {
        if (this != &other) {
            entries_ = std::move(other.entries_);
            arena_ = std::move(other.arena_);
            by_str_ = std::move(other.by_str_);
            delete by_bytes_.exchange(other.by_bytes_.exchange(nullptr));
        }
        return *this;
    }
    TextIndex(const TextIndex&) = delete;
    TextIndex& operator=(const TextIndex&) = delete;
    ~TextIndex() { delete by_bytes_.load(std::memory_order_acquire); }

    // Room for `count` texts of `bytes` bytes in all.
    void reserve(std::size_t count, std::size_t bytes);
    // Maps `text` to `value`; `str_hash` is str_hash() of the text as a str.
    void insert(std::string_view text, std::uint64_t str_hash, std::uint64_t value);

    [[gnu::always_inline]] const std::uint64_t* find(std::string_view text, std::uint64_t str_hash) const {
        const Entry* e = entry_of(text, str_hash);
        return e != nullptr ? &e->value : nullptr;
    }

    [[gnu::always_inline]] const std::uint64_t* find(std::string_view text) const {
        const Entry* e = entry_of(text);
        return e != nullptr ? &e->value : nullptr;
    }

    // The same lookup by bytes, trying first the entry at `cursor`: texts
    // often come in the order they were inserted (a document's keys in the
    // order of the record's fields). The cursor moves past the entry found.
    [[gnu::always_inline]] const std::uint64_t* find_next(std::string_view text, std::size_t& cursor) const {
        if (cursor < entries_.size() && holds(entries_[cursor], text)) return &entries_[cursor++].value;
        const Entry* e = entry_of(text);
        if (e == nullptr) return nullptr;
        cursor = static_cast<std::size_t>(e - entries_.data()) + 1;
        return &e->value;
    }

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    struct Entry {
        std::uint64_t str_hash;
        std::uint32_t offset;
        std::uint32_t size;
        std::uint64_t value;
    };
    struct BytesIndex {
        SlotArray slots;
        std::vector<std::uint64_t> hashes;  // bytes_hash of each entry's text
    };

    [[gnu::always_inline]] const Entry* entry_of(std::string_view text, std::uint64_t str_hash) const {
        const std::size_t mask = by_str_.mask();
        for (std::size_t i = static_cast<std::size_t>(str_hash) & mask;; i = (i + 1) & mask) {
            const std::uint32_t at = by_str_[i];
            if (at == 0) return nullptr;
            const Entry& e = entries_[at - 1];
            if (e.str_hash == str_hash && holds(e, text)) return &e;
        }
    }
    // The hash of the bytes index: the Fx fold of the bytes, already mixed.
    static std::uint64_t bytes_hash(std::string_view text) { return fx_hash_bytes(text.data(), text.size()); }
    // The entry of a text by its bytes alone.
    [[gnu::always_inline]] const Entry* entry_of(std::string_view text) const {
        const BytesIndex* index = by_bytes_.load(std::memory_order_acquire);
        if (index == nullptr) {
            if (entries_.empty()) return nullptr;
            index = &bytes_index();
        }
        const std::uint64_t hash = bytes_hash(text);
        const std::size_t mask = index->slots.mask();
        for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
            const std::uint32_t at = index->slots[i];
            if (at == 0) return nullptr;
            const Entry& e = entries_[at - 1];
            if (index->hashes[at - 1] == hash && holds(e, text)) return &e;
        }
    }
    bool holds(const Entry& e, std::string_view text) const {
        return e.size == text.size() && same_text(arena_.data() + e.offset, text.data(), text.size());
    }
    // The bytes index, made now if no lookup by bytes made it before.
    const BytesIndex& bytes_index() const;

    std::vector<Entry> entries_;
    std::string arena_;
    SlotArray by_str_;
    mutable std::atomic<BytesIndex*> by_bytes_{nullptr};
};

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

// The text tables are keyed by the interpreter's own str hash, which every
// str caches in the object (a dict key always has it), so that a lookup
// reads it instead of hashing the text. str's own hash function is used for
// instances of str subclasses too: it runs no Python code.
inline std::uint64_t str_hash(PyObject* str) {
    Py_hash_t h = reinterpret_cast<PyASCIIObject*>(str)->hash;
    if (h == -1) h = PyUnicode_Type.tp_hash(str);
    return static_cast<std::uint64_t>(h);
}

// The same hash of a UTF-8 text.
std::uint64_t text_hash(std::string_view text);

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

using FieldNameTable = PointerMap<FieldNameSet>;
using UnionTable = PointerMap<UnionLiteralSets>;
using TaggedUnionTable = PointerMap<TaggedUnion>;

// The test of `node`; `unions` may be null (then no literal sets).
FastCheck prepare_fast_check(const Schema& node, const py::Ref* constants, std::size_t constant_count,
                             const UnionTable* unions);
// Compiled patterns by text, and by the constraint that holds them: the walk
// finds its pattern by the constraint's address, without hashing the text.
struct RegexTable {
    std::unordered_map<std::string, std::unique_ptr<regex::Regex>, FxTextHash, TextEqual> by_text;
    PointerMap<const regex::Regex*> by_constraint;
};

struct LazyPrecompute {
    FieldNameTable field_names;  // keyed by the record's field storage, or
                                 // its clause storage when it has no field
    UnionTable unions;           // keyed by the union's member storage
    TaggedUnionTable tagged;     // keyed by the union's member storage
    RegexTable regexes;          // by pattern text and by constraint
    // Whether checking a value may call Python code (a predicate, a literal
    // or bound of a type with its own comparison, an instance test that a
    // metaclass may answer, an object's attributes). Without such a check
    // the walk over a JSON document's tree decides exactly what the walk
    // over the Python objects it parses to would.
    bool may_run_python = true;
};

// Identity keys of the tables.
inline const void* record_key(const Schema& record) {
    return record.fields().empty() ? static_cast<const void*>(record.clauses().data()) : record.fields().data();
}
inline const void* union_key(const Schema& u) { return u.members().data(); }

// The field-name set of a record: each name with its (last) position.
FieldNameSet field_name_set_of(const Schema& record);
// Whether the record's field at `position` is the last of its name, the one
// every pass reads.
bool is_last_of_its_name(const FieldNameSet& names, const Schema& record, std::size_t position);

// Whether a literal's members are exactly the values of its constant's exact
// type equal to it by that type's own C-level equality: a str, an int within
// 64 bits, None, a bool, or an object whose type keeps identity as equality.
bool is_plain_constant(PyObject* constant);

LazyPrecompute build_lazy_precompute(const ValidatorState& state);

// The once-initialised cell that holds a validator's tables.
class LazyCell {
public:
    LazyCell() = default;
    LazyCell(LazyCell&& other) noexcept : ptr_(other.ptr_.exchange(nullptr)) {}
    LazyCell& operator=(LazyCell&&) = delete;
    ~LazyCell() { delete ptr_.load(std::memory_order_acquire); }

    // Builds the tables on first use; called with the interpreter held.
    const LazyPrecompute& get_or_build(const ValidatorState& state) const;

private:
    mutable std::atomic<LazyPrecompute*> ptr_{nullptr};
};

}  // namespace kestrome
