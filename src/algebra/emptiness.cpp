#include "algebra/emptiness.h"

#include "util/siphash.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kestrome {

namespace {

constexpr EmptinessVerdict NOT_EMPTY_INEXACT{false, true, 0};

bool is_integral(BaseKind k) { return k == kind_base(Kind::Bool) || k == kind_base(Kind::Int); }

// Decides one constraint list, its lengths and bounds folded in list order.
// Each comparison takes ORACLE_STEPS; once the budget is spent, nothing
// more is proven.
bool list_unsatisfiable(const std::vector<const Constraint*>& list, const LeafOracle& oracle, bool integral,
                        WorkBudget& budget) {
    if (!budget.take(list.size())) return false;  // a step a constraint read
    const FoldedBounds folded = fold_bounds(list, oracle, budget);
    if (folded.min_len && folded.max_len && *folded.min_len > *folded.max_len) return true;
    const std::optional<PooledBound>& lower = folded.lower;
    const std::optional<PooledBound>& upper = folded.upper;
    if (!folded.complete || !lower || !upper || !budget.take(ORACLE_STEPS)) return false;
    const std::int8_t order = oracle.compare(lower->index, upper->index);
    if (order == 1) return true;
    if (order == 0) return lower->strict || upper->strict;
    return integral && budget.take(ORACLE_STEPS) && oracle.int_gap(lower->index, lower->strict, upper->index, upper->strict) == GAP_EMPTY;
}

EmptinessVerdict union_verdict(const Schema& node, const LeafOracle& oracle, const std::vector<Schema>& definitions,
                               DefinitionStack& stack, WorkBudget& budget) {
    bool all_empty = true, any_inexact = false;
    KindMask mask = 0;
    for (const Schema& member : node.members()) {
        const EmptinessVerdict v = emptiness_rec(member, oracle, definitions, stack, budget);
        mask |= v.mask;
        any_inexact = any_inexact || v.inexact;
        all_empty = all_empty && v.proven_empty;
        if (!all_empty && any_inexact) return NOT_EMPTY_INEXACT;
    }
    return EmptinessVerdict{all_empty, any_inexact, mask};
}

// The structural hash of a decision's complement pair test: a step a node
// hashed, children written as their kept hashes; nothing once the budget
// is spent.
class ChargedHash {
public:
    explicit ChargedHash(WorkBudget& budget) : budget_(budget) {}
    std::optional<std::uint64_t> operator()(const Schema& node) {
        const std::uint64_t h = of(node);
        if (spent_) return std::nullopt;
        return h;
    }

private:
    std::uint64_t of(const Schema& node) {
        const bool leaf = node.kind <= Kind::Literal || node.kind == Kind::Instance || node.kind == Kind::BackEdge ||
                          node.kind == Kind::Placeholder;
        if (!leaf) {
            if (const auto it = budget_.hashes.find(&node); it != budget_.hashes.end()) return it->second;
        }
        if (spent_ || !budget_.step()) {
            spent_ = true;
            return 0;
        }
        const ChildHasher kept{[](const void* self, const Schema& child, SipHasher13& h) {
                                   h.write_u64(static_cast<ChargedHash*>(const_cast<void*>(self))->of(child));
                               },
                               this};
        SipHasher13 hasher;
        hash_schema_node(node, hasher, kept, DefinitionMirror{});
        const std::uint64_t h = hasher.finish();
        if (!leaf && !spent_) budget_.hashes.emplace(&node, h);
        return h;
    }

    WorkBudget& budget_;
    bool spent_ = false;
};

// Whether some member is Complement(X), X not Any, and some member equals
// X; found through the members' hashes (nothing proven when `hash_of`
// gives none).
template <class Members, class HashOf>
bool complement_pair_in(const Members& members, HashOf&& hash_of) {
    std::unordered_multimap<std::uint64_t, const Schema*> by_hash;
    for (const Schema& c : members) {
        if (c.kind != Kind::Complement || c.inner()->kind == Kind::Any) continue;
        if (by_hash.empty()) {
            by_hash.reserve(members.size());
            for (const Schema& m : members) {
                const std::optional<std::uint64_t> h = hash_of(m);
                if (!h) return false;
                by_hash.emplace(*h, &m);
            }
        }
        const std::optional<std::uint64_t> h = hash_of(*c.inner());
        if (!h) return false;
        const auto [first, last] = by_hash.equal_range(*h);
        for (auto it = first; it != last; ++it) {
            if (eq_schema(*it->second, *c.inner())) return true;
        }
    }
    return false;
}

template <class Members>
bool some_pair_disjoint_in(const Members& members) {
    DisjointPairScan scan;
    for (const Schema& m : members) scan.add(m);
    return scan.found();
}

template <class Members>
bool bounds_empty_across(const Members& members, const LeafOracle& oracle, WorkBudget& budget) {
    std::vector<const Constraint*> gathered;
    bool integral = false;
    for (const Schema& m : members) {
        if (m.kind == Kind::Refinement) {
            for (const Constraint& c : m.constraints()) gathered.push_back(&c);
        }
        integral = integral || is_integral(schema_base_kind(m));
    }
    if (gathered.empty()) return false;
    return list_unsatisfiable(gathered, oracle, integral, budget);
}

// The intersection of `members`, a vector of schemas or a few borrowed ones.
template <class Members>
EmptinessVerdict intersection_verdict(const Members& members, const LeafOracle& oracle,
                                      const std::vector<Schema>& definitions, DefinitionStack& stack,
                                      WorkBudget& budget) {
    bool any_empty = false, any_inexact = false;
    KindMask mask = ALL_KINDS;
    for (const Schema& member : members) {
        const EmptinessVerdict v = emptiness_rec(member, oracle, definitions, stack, budget);
        mask &= v.mask;
        any_inexact = any_inexact || v.inexact;
        any_empty = any_empty || v.proven_empty;
        if (any_empty && any_inexact) return EmptinessVerdict{true, true, mask};
    }
    const auto verdict = [&](bool empty) { return EmptinessVerdict{empty, any_inexact, mask}; };
    if (any_empty) return verdict(true);
    if (!any_inexact && mask == 0) return verdict(true);
    if (members.empty()) return verdict(false);
    if (complement_pair_in(members, ChargedHash(budget)) || some_pair_disjoint_in(members)) return verdict(true);
    return verdict(bounds_empty_across(members, oracle, budget));
}

}  // namespace

FoldedBounds fold_bounds(const std::vector<const Constraint*>& list, const LeafOracle& oracle, WorkBudget& budget) {
    FoldedBounds out;
    for (const Constraint* c : list) {
        if (c->kind == ConstraintKind::MinLen) out.min_len = std::max(out.min_len.value_or(0), c->value);
        if (c->kind == ConstraintKind::MaxLen) out.max_len = std::min(out.max_len.value_or(UINT64_MAX), c->value);
    }
    for (const Constraint* c : list) {
        const bool is_lower = c->kind == ConstraintKind::Ge || c->kind == ConstraintKind::Gt;
        const bool is_upper = c->kind == ConstraintKind::Le || c->kind == ConstraintKind::Lt;
        if (!is_lower && !is_upper) continue;
        const bool strict = c->kind == ConstraintKind::Gt || c->kind == ConstraintKind::Lt;
        std::optional<PooledBound>& side = is_lower ? out.lower : out.upper;
        if (!side) {
            side = PooledBound{c->value, strict};
            continue;
        }
        if (!budget.take(ORACLE_STEPS)) {
            out.complete = false;
            return out;
        }
        const std::int8_t order = oracle.compare(c->value, side->index);
        if (order == (is_lower ? 1 : -1)) {
            side = PooledBound{c->value, strict};
        } else if (order == 0 && strict) {
            side->strict = true;
        }
    }
    return out;
}

bool pair_intersection_empty(const Schema& a, const Schema& b, const LeafOracle& oracle,
                             const std::vector<Schema>& definitions, WorkBudget& budget) {
    if (!budget.step()) return false;
    const DepthLevel level;
    if (!level.held()) return false;
    const std::array<std::reference_wrapper<const Schema>, 2> both{a, b};
    DefinitionStack stack;
    return intersection_verdict(both, oracle, definitions, stack, budget).proven_empty;
}

bool decide_empty(const Schema& root, const LeafOracle& oracle, const std::vector<Schema>& definitions) {
    WorkBudget budget;
    return emptiness_of(root, oracle, definitions, budget).proven_empty;
}

EmptinessVerdict emptiness_rec(const Schema& node, const LeafOracle& oracle, const std::vector<Schema>& definitions,
                               DefinitionStack& stack, WorkBudget& budget) {
    if (!budget.step()) return NOT_EMPTY_INEXACT;
    const DepthLevel level;
    if (!level.held()) return NOT_EMPTY_INEXACT;
    // A name written twice is read as its last field: an earlier one is never matched.
    const auto required_field_empty = [&](const std::vector<Field>& fields) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const Field& f = fields[i];
            if (!f.required || !emptiness_rec(f.schema, oracle, definitions, stack, budget).proven_empty) continue;
            const auto same_name = [&](const Field& g) { return g.name == f.name; };
            if (std::none_of(fields.begin() + static_cast<std::ptrdiff_t>(i) + 1, fields.end(), same_name)) return true;
        }
        return false;
    };
    switch (node.kind) {
        case Kind::Nothing: return EmptinessVerdict{true, false, 0};
        case Kind::Anything:
        case Kind::NoneType:
        case Kind::Bool:
        case Kind::Int:
        case Kind::Float:
        case Kind::Str:
        case Kind::Bytes: return EmptinessVerdict{false, false, kind_values(node.kind)};
        case Kind::Any:
        case Kind::Literal:
        case Kind::Set:
        case Kind::FrozenSet:
        case Kind::Instance:
        case Kind::Placeholder: return NOT_EMPTY_INEXACT;
        case Kind::Sequence: {
            // Only concatenations can be empty: an alternation of empty parts
            // or a concatenation with an empty part; a repeat always admits
            // zero repetitions.
            const auto shape_empty = [&](const auto& self, const SeqShape& s) -> bool {
                switch (s.form) {
                    case ShapeForm::Empty:
                    case ShapeForm::Repeat: return false;
                    case ShapeForm::Item: return emptiness_rec(*s.item, oracle, definitions, stack, budget).proven_empty;
                    case ShapeForm::Concat:
                        for (const SeqShape& part : s.parts) {
                            if (self(self, part)) return true;
                        }
                        return false;
                    // The compiler builds no alternation today; readers of shapes stay total.
                    case ShapeForm::Alternation:
                        for (const SeqShape& part : s.parts) {
                            if (!self(self, part)) return false;
                        }
                        return true;
                }
                return false;
            };
            return EmptinessVerdict{shape_empty(shape_empty, node.shape()), true, 0};
        }
        case Kind::Record:
        case Kind::Object: return EmptinessVerdict{required_field_empty(node.fields()), true, 0};
        case Kind::Union: return union_verdict(node, oracle, definitions, stack, budget);
        case Kind::Intersection: return intersection_verdict(node.members(), oracle, definitions, stack, budget);
        case Kind::Complement: {
            const EmptinessVerdict inner = emptiness_rec(*node.inner(), oracle, definitions, stack, budget);
            if (inner.inexact) return NOT_EMPTY_INEXACT;
            const KindMask mask = ALL_KINDS ^ inner.mask;
            return EmptinessVerdict{mask == 0, false, mask};
        }
        case Kind::Refinement: {
            const bool integral = is_integral(schema_base_kind(*node.inner()));
            if (emptiness_rec(*node.inner(), oracle, definitions, stack, budget).proven_empty) {
                return EmptinessVerdict{true, true, 0};
            }
            return EmptinessVerdict{constraints_unsatisfiable(node.constraints(), oracle, integral, budget), true, 0};
        }
        case Kind::BackEdge: {
            if (std::find(stack.begin(), stack.end(), node.index) != stack.end()) {
                return EmptinessVerdict{true, true, 0};
            }
            if (node.index >= definitions.size()) return NOT_EMPTY_INEXACT;
            stack.push_back(node.index);
            const bool empty = emptiness_rec(definitions[node.index], oracle, definitions, stack, budget).proven_empty;
            stack.pop_back();
            return EmptinessVerdict{empty, true, 0};
        }
    }
    return NOT_EMPTY_INEXACT;
}

BaseKind schema_base_kind(const Schema& node) {
    const Schema* n = &node;
    while (n->kind == Kind::Refinement) n = n->inner().get();
    const BaseKind base = kind_base(n->kind);
    return n->kind == Kind::Sequence ? static_cast<BaseKind>(base + n->tuple_flag) : base;
}

void DisjointPairScan::add(const Schema& node) {
    ++count_;
    if (node.kind == Kind::Nothing) nothing_ = true;
    const BaseKind k = schema_base_kind(node);
    if (k != NO_BASE_KIND) kinds_ |= 1u << k;
}

bool DisjointPairScan::found() const {
    // Bool and int are the one pair of different known kinds that meet.
    constexpr std::uint32_t BOOL_AND_INT = (1u << kind_base(Kind::Bool)) | (1u << kind_base(Kind::Int));
    if (count_ < 2) return false;
    return nothing_ || ((kinds_ & (kinds_ - 1)) != 0 && kinds_ != BOOL_AND_INT);
}

bool some_pair_disjoint(const std::vector<Schema>& members) { return some_pair_disjoint_in(members); }

bool holds_complement_pair(const std::vector<Schema>& members) {
    return complement_pair_in(members, [](const Schema& node) {
        SipHasher13 hasher;
        hash_schema(node, hasher);
        return std::optional<std::uint64_t>(hasher.finish());
    });
}

bool constraints_unsatisfiable(const std::vector<Constraint>& constraints, const LeafOracle& oracle, bool integral,
                               WorkBudget& budget) {
    std::vector<const Constraint*> list;
    list.reserve(constraints.size());
    for (const Constraint& c : constraints) list.push_back(&c);
    return list_unsatisfiable(list, oracle, integral, budget);
}


}  // namespace kestrome
