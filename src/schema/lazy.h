// Per-validator lookup tables for the membership walk, built once on the
// first membership check. They hold no Python objects.
#pragma once
#include "schema/anchored_regex.h"
#include "schema/lookup_tables.h"
#include "util/fx_hash.h"
#include "util/tables.h"

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>

namespace kestrome {

struct ValidatorState;

// Compiled patterns by text, and by the constraint that holds them (its
// refinement's node id and its position there): the walk finds its pattern
// without hashing the text.
struct RegexTable {
    std::unordered_map<std::string, std::unique_ptr<regex::Regex>, FxTextHash, TextEqual> by_text;
    WordMap<std::uint64_t, const regex::Regex*> by_constraint;
};

inline std::uint64_t constraint_key(const Schema& refinement, std::size_t position) {
    return std::uint64_t{refinement.id} << 32 | position;
}

struct LazyPrecompute {
    FieldNameTable field_names;  // by record_key
    UnionTable unions;           // by union_key
    TaggedUnionTable tagged;     // by union_key
    SequenceTable sequences;     // by sequence_key
    RegexTable regexes;          // by pattern text and by constraint
    // Whether checking a value may call Python code (a predicate, a literal
    // or bound of a type with its own comparison, an instance test that a
    // metaclass may answer, an object's attributes). Without such a check
    // the walk over a JSON document's tree decides exactly what the walk
    // over the Python objects it parses to would.
    bool may_run_python = true;
};

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
