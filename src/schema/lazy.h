// Per-validator lookup tables for the membership walk, built once on the
// first membership check. They hold no Python objects.
#pragma once
#include "py/python.h"
#include "py/ref.h"
#include "schema/anchored_regex.h"
#include "schema/schema.h"
#include "util/fx_hash.h"
#include "util/tables.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

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
    std::uint32_t mask = 0;                       // ScalarMask: one bit per scalar kind
    const UnionLiteralSets* sets = nullptr;       // LiteralSets
    PyObject* type = nullptr;                     // ExactType, Constant: borrowed from the pool
    std::int64_t lo = INT64_MIN, hi = INT64_MAX;  // IntRange, inclusive
};

inline constexpr std::uint32_t kind_bit(Kind kind) { return 1u << static_cast<unsigned>(kind); }

// The kinds decided by a type test alone.
inline bool is_scalar_kind(Kind kind) { return kind <= Kind::Bytes; }

// Texts found from a Python str by the hash the str caches, and from UTF-8
// bytes alone (a JSON string) by the Fx hash of the bytes.
struct TextIndex {
    TextMap by_str;
    TextMap by_bytes;

    void insert(std::string_view text, std::uint64_t str_hash, std::uint64_t value) {
        by_str.insert(text, str_hash, value);
        by_bytes.insert(text, fx_hash_text(text), value);
    }
    [[gnu::always_inline]] const std::uint64_t* find(std::string_view text, std::uint64_t str_hash) const {
        return by_str.find(text, str_hash);
    }
    [[gnu::always_inline]] const std::uint64_t* find(std::string_view text) const {
        return by_bytes.empty() ? nullptr : by_bytes.find(text, fx_hash_text(text));
    }
};

// Field name to the position of its (last) field; number of required fields;
// the prepared test of each field, and of each clause's key and value.
struct FieldNameSet {
    TextIndex names;
    std::uint64_t required_count = 0;
    std::vector<FastCheck> field_checks;
    std::vector<FastCheck> clause_checks;  // key, value per clause
    bool all_fast = false;                 // every check above has a form
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

// A union whose members are records (or unions of records) that each
// require one field of the same name, its schema a literal set disjoint from
// every other member's: the member that a tag value selects. Tags are keyed
// by exact type and value (1, True and 1.0 never meet); objects whose type
// keeps the default equality are keyed by identity.
struct TaggedUnion {
    std::string field;
    std::uint64_t field_hash = 0;
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
};

// Identity keys of the tables.
inline const void* record_key(const Schema& record) {
    return record.fields.empty() ? static_cast<const void*>(record.clauses.data()) : record.fields.data();
}
inline const void* union_key(const Schema& u) { return u.members.data(); }

// The field-name set of a record: each name with its (last) position.
FieldNameSet field_name_set_of(const Schema& record);

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
