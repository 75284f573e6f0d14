// Per-validator lookup tables for the membership walk, built once on the
// first membership check. They hold no Python objects.
#pragma once
#include "py/python.h"
#include "schema/anchored_regex.h"
#include "schema/schema.h"
#include "util/fx_hash.h"
#include "util/tables.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace kestrome {

struct ValidatorState;

// Field name to the position of its (last) field; number of required fields.
struct FieldNameSet {
    TextMap names;
    std::uint64_t required_count = 0;
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
    TextMap strs;
};

using FieldNameTable = PointerMap<FieldNameSet>;
using UnionTable = PointerMap<UnionLiteralSets>;
using RegexTable = std::unordered_map<std::string, std::unique_ptr<regex::Regex>, FxTextHash, TextEqual>;

struct LazyPrecompute {
    FieldNameTable field_names;  // keyed by the record's field storage
    UnionTable unions;           // keyed by the union's member storage
    RegexTable regexes;          // keyed by pattern text
};

// Identity keys of the tables.
inline const void* record_key(const Schema& record) { return record.fields.data(); }
inline const void* union_key(const Schema& u) { return u.members.data(); }

// The field-name set of a record: each name with its (last) position.
FieldNameSet field_name_set_of(const Schema& record);

LazyPrecompute build_lazy_precompute(const ValidatorState& state);

// The once-initialised cell that holds a validator's tables.
class LazyCell {
public:
    LazyCell() = default;
    LazyCell(LazyCell&& other) noexcept : ptr_(other.ptr_.exchange(nullptr)) {}
    LazyCell& operator=(LazyCell&&) = delete;
    ~LazyCell() { delete ptr_.load(std::memory_order_acquire); }

    bool is_built() const { return ptr_.load(std::memory_order_acquire) != nullptr; }
    // Builds the tables on first use; called with the interpreter held.
    const LazyPrecompute& get_or_build(const ValidatorState& state) const;

private:
    mutable std::atomic<LazyPrecompute*> ptr_{nullptr};
};

}  // namespace kestrome
