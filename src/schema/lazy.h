// Per-validator lookup tables for the membership walk, built once on the
// first membership check. They hold no Python objects.
#pragma once
#include "schema/anchored_regex.h"
#include "schema/schema.h"
#include "util/fx_hash.h"
#include "util/tables.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace kestrome {

struct ValidatorState;

// Field name to the position of its (last) field; number of required fields.
struct FieldNameSet {
    TextMap names;
    std::uint64_t required_count = 0;
};

// Exact int (64-bit) and str literals of an all-literal union.
struct UnionLiteralSets {
    IntSet ints;
    TextMap strs;
};

using FieldNameTable = PointerMap<FieldNameSet>;
using UnionTable = PointerMap<UnionLiteralSets>;
using RegexTable = std::unordered_map<std::string, std::unique_ptr<re2::RE2>, FxTextHash, TextEqual>;

struct LazyPrecompute {
    FieldNameTable field_names;  // keyed by the record's field storage
    UnionTable unions;           // keyed by the union's member storage
    RegexTable regexes;          // keyed by pattern text
};

// Identity keys of the tables.
inline const void* record_key(const Schema& record) { return record.fields.data(); }
inline const void* union_key(const Schema& u) { return u.members.data(); }

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
