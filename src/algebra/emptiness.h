// Whether a schema admits no value, decided soundly under a work budget.
#pragma once
#include "algebra/oracle.h"
#include "schema/kinds.h"
#include "schema/schema.h"
#include "util/fx_hash.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kestrome {

inline constexpr std::uint32_t WORK_BUDGET = 1000000;

// Native recursion levels decisions may hold open on a thread, emptiness
// questions and inclusion steps together; deeper, a question answers "not
// proven". A decision that Python code starts inside another (a predicate
// asked about a literal that decides again) continues the count of the one
// it runs in, so that such a loop ends with bounded stack. One level costs
// a few hundred bytes of stack (measured), so the deepest decision stays
// well within 1 MiB (about 330 KiB at the cap, on the deepest path: records
// nested in records).
inline constexpr std::uint32_t MAX_DECISION_DEPTH = 1000;

// An oracle question about pooled bounds runs up to three rich comparisons
// or a rounding in Python, several times the work of a step: it takes as
// many steps as that work (measured), so that a spent budget costs about
// the same time whatever the steps went to.
inline constexpr std::uint32_t ORACLE_STEPS = 8;

struct WorkBudget {
    std::uint32_t remaining = WORK_BUDGET;
    // The structural hashes that the decision's complement pair tests made,
    // by node address (inner nodes only: they outlive the decision), so
    // that each node is hashed, and charged, once.
    std::unordered_map<const Schema*, std::uint64_t, FxPointerHash> hashes;
    // Takes one step; false when the budget is spent.
    bool step() {
        if (remaining == 0) return false;
        --remaining;
        return true;
    }
    // Takes `steps` steps at once, for work that grows with the schema
    // without a step of its own; false (the budget spent) when fewer remain.
    bool take(std::uint64_t steps) {
        if (steps > remaining) {
            remaining = 0;
            return false;
        }
        remaining -= static_cast<std::uint32_t>(steps);
        return true;
    }
};

// One recursion level of a decision, held while it lives; not held (and
// the question not to be pursued) past the depth cap.
class DepthLevel {
public:
    DepthLevel() : held_(open_levels() < MAX_DECISION_DEPTH) {
        if (held_) ++open_levels();
    }
    ~DepthLevel() {
        if (held_) --open_levels();
    }
    DepthLevel(const DepthLevel&) = delete;
    DepthLevel& operator=(const DepthLevel&) = delete;
    bool held() const { return held_; }

private:
    static std::uint32_t& open_levels() {
        static thread_local std::uint32_t levels = 0;
        return levels;
    }
    bool held_;
};

struct EmptinessVerdict {
    bool proven_empty;
    bool inexact;
    KindMask mask;  // the exact kinds of the schema, when not inexact
};

using DefinitionStack = std::vector<std::uint64_t>;

bool decide_empty(const Schema& root, const LeafOracle& oracle, const std::vector<Schema>& definitions);

EmptinessVerdict emptiness_rec(const Schema& node, const LeafOracle& oracle, const std::vector<Schema>& definitions,
                               DefinitionStack& stack, WorkBudget& budget);

// An emptiness question asked from outside the recursion: a fresh stack.
inline EmptinessVerdict emptiness_of(const Schema& node, const LeafOracle& oracle,
                                     const std::vector<Schema>& definitions, WorkBudget& budget) {
    DefinitionStack stack;
    return emptiness_rec(node, oracle, definitions, stack, budget);
}

// Whether the intersection of a and b is proven empty, as the emptiness of
// an intersection node holding the two would be, without making one.
bool pair_intersection_empty(const Schema& a, const Schema& b, const LeafOracle& oracle,
                             const std::vector<Schema>& definitions, WorkBudget& budget);

// A constraint list's lengths (the largest MinLen, the smallest MaxLen) and
// bounds, folded in list order: a later bound replaces the current one of
// its side only when the oracle orders it strictly tighter, and an equal
// strict bound makes the current one strict. One budget step a comparison;
// `complete` is false when the budget ran out on the way.
struct PooledBound {
    std::uint64_t index;
    bool strict;
};
struct FoldedBounds {
    std::optional<std::uint64_t> min_len, max_len;
    std::optional<PooledBound> lower, upper;
    bool complete = true;
};
FoldedBounds fold_bounds(const std::vector<const Constraint*>& list, const LeafOracle& oracle, WorkBudget& budget);

// The base kind (see KIND_CLASSES) of a schema, through its refinements.
BaseKind schema_base_kind(const Schema& node);
// The bound checks take ORACLE_STEPS per comparison they ask for.
bool constraints_unsatisfiable(const std::vector<Constraint>& constraints, const LeafOracle& oracle, bool integral,
                               WorkBudget& budget);

// Whether some two of the schemas added (at different positions) share no
// value by their base kinds alone (Nothing meets nothing; bool and int are
// the one pair of different kinds that meet), found in one pass.
class DisjointPairScan {
public:
    void add(const Schema& node);
    bool found() const;

private:
    std::size_t count_ = 0;
    bool nothing_ = false;
    std::uint32_t kinds_ = 0;  // known base kinds seen, as bits
};

bool some_pair_disjoint(const std::vector<Schema>& members);

// Whether some member is the complement (not over Any) of another member,
// found through hashes of the members.
bool holds_complement_pair(const std::vector<Schema>& members);

}  // namespace kestrome
