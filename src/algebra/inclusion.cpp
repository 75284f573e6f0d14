#include "algebra/inclusion.h"

#include "schema/children.h"
#include "schema/metrics.h"
#include "util/fx_hash.h"
#include "util/siphash.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

// Structural hashes of the nodes met in one decision, equal for trees that
// eq_schema (through the mirror) finds equal; kept by node address, so only
// nodes that outlive the decision are remembered (leaves, the only kind a
// decision makes for itself, are hashed afresh).
class NodeHashes {
public:
    explicit NodeHashes(const DefinitionMirror& mirror) : mirror_(mirror) {}

    std::uint64_t of(const Schema& node) {
        const bool leaf = node.kind <= Kind::Literal || node.kind == Kind::Instance || node.kind == Kind::BackEdge ||
                          node.kind == Kind::Placeholder;
        if (leaf) return compute(node);
        if (const auto it = memo_.find(&node); it != memo_.end()) return it->second;
        const std::uint64_t h = compute(node);
        memo_.emplace(&node, h);
        return h;
    }

private:
    std::uint64_t compute(const Schema& node) {
        const ChildHasher kept{[](const void* self, const Schema& child, SipHasher13& h) {
                                   h.write_u64(static_cast<NodeHashes*>(const_cast<void*>(self))->of(child));
                               },
                               this};
        SipHasher13 hasher;
        hash_schema_node(node, hasher, kept, mirror_);
        return hasher.finish();
    }

    const DefinitionMirror& mirror_;
    std::unordered_map<const Schema*, std::uint64_t, FxPointerHash> memo_;
};

// What a literal's membership walk may visit of a schema: its nodes and
// constraints and, once it holds a back edge, every definition. Kept by
// node address for the decision, so that each node is counted once.
class WalkCosts {
public:
    explicit WalkCosts(const std::vector<Schema>& definitions) : definitions_(definitions) {}

    std::uint64_t of(const Schema& node) {
        const Cost c = cost(node);
        return c.nodes + (c.back_edge ? definitions_total() : 0);
    }

private:
    struct Cost {
        std::uint64_t nodes;
        bool back_edge;
    };

    Cost cost(const Schema& node) {
        if (const auto it = memo_.find(&node); it != memo_.end()) return it->second;
        Cost c{1 + node.constraints().size(), node.kind == Kind::BackEdge};
        for_each_child(node, [&](const Schema& child) {
            const Cost k = cost(child);
            c.nodes += k.nodes;
            c.back_edge = c.back_edge || k.back_edge;
            return false;
        });
        memo_.emplace(&node, c);
        return c;
    }

    std::uint64_t definitions_total() {
        if (!total_) {
            std::uint64_t sum = 0;
            for (const Schema& d : definitions_) sum += schema_node_count(d);
            total_ = sum;
        }
        return *total_;
    }

    const std::vector<Schema>& definitions_;
    std::unordered_map<const Schema*, Cost, FxPointerHash> memo_;
    std::optional<std::uint64_t> total_;
};

// The fields of a record by name, the last of a name winning: a short
// record is searched in place, a long one through a hash map.
class FieldIndex {
public:
    static constexpr std::size_t SHORT = 8;

    explicit FieldIndex(const std::vector<Field>& fields) : fields_(fields) {
        if (fields.size() > SHORT) {
            map_ = std::make_unique<Map>();
            for (const Field& f : fields) (*map_)[f.name] = &f;
            repeats_ = map_->size() != fields.size();
            return;
        }
        for (std::size_t i = 0; i < fields.size() && !repeats_; ++i) {
            for (std::size_t j = i + 1; j < fields.size() && !repeats_; ++j) {
                repeats_ = fields[i].name == fields[j].name;
            }
        }
    }

    const Field* find(std::string_view name) const {
        if (map_) {
            const auto it = map_->find(name);
            return it == map_->end() ? nullptr : it->second;
        }
        for (std::size_t i = fields_.size(); i-- > 0;) {
            if (fields_[i].name == name) return &fields_[i];
        }
        return nullptr;
    }

    // Whether some name is written twice.
    bool repeats() const { return repeats_; }

private:
    // Kept on the heap, so that a recursion level's frame stays small.
    using Map = std::unordered_map<std::string_view, const Field*, FxTextHash, TextEqual>;
    const std::vector<Field>& fields_;
    std::unique_ptr<Map> map_;
    bool repeats_ = false;
};

// The field indexes of the long records met in one decision, each built
// once; a short record's is built in `local`, as cheaply as it is found.
class FieldIndexes {
public:
    const FieldIndex& of(const std::vector<Field>& fields, std::optional<FieldIndex>& local) {
        if (fields.size() <= FieldIndex::SHORT) return local.emplace(fields);
        std::unique_ptr<FieldIndex>& slot = indexes_[&fields];
        if (!slot) slot = std::make_unique<FieldIndex>(fields);
        return *slot;
    }

private:
    std::unordered_map<const void*, std::unique_ptr<FieldIndex>, FxPointerHash> indexes_;
};

// The pairs of schemas being unfolded through a back edge on this path,
// found by hash: every pair holds a back edge on one side, so a pair can
// only match a question with a back edge on the same side.
using Assumptions = std::unordered_multimap<std::uint64_t, std::pair<const Schema*, const Schema*>>;

// The helpers below stay out of line so that each recursion level of a
// decision keeps a small frame.
struct SubtypeContext {
    const LeafOracle& oracle;
    const std::vector<Schema>& definitions;
    WorkBudget& budget;
    DefinitionMirror mirror;
    NodeHashes& hashes;
    WalkCosts& walk_costs;
    FieldIndexes& field_indexes;

    // Equality through the mirror. Trees that agree at their top are
    // compared by their kept hashes first, so that the same large trees
    // met again and again are not walked again and again.
    [[gnu::noinline]] bool same(const Schema& a, const Schema& b) const {
        if (&a == &b) return true;
        if (!same_top(a, b)) return false;
        return hashes.of(a) == hashes.of(b) && eq_schema(a, b, mirror);
    }

    // The node's own payload and the shape of its children, as eq_schema
    // compares them; children themselves are not looked at.
    bool same_top(const Schema& a, const Schema& b) const {
        if (a.kind != b.kind || a.tuple_flag != b.tuple_flag || a.members().size() != b.members().size() ||
            a.fields().size() != b.fields().size() || a.clauses().size() != b.clauses().size() ||
            a.shape().form != b.shape().form || a.shape().parts.size() != b.shape().parts.size() ||
            !eq_constraint_slice(a.constraints(), b.constraints())) {
            return false;
        }
        if (a.kind == Kind::BackEdge) return mirror.image(a.index) == mirror.image(b.index);
        if (a.index != b.index) return false;
        for (std::size_t i = 0; i < a.fields().size(); ++i) {
            if (a.fields()[i].name != b.fields()[i].name || a.fields()[i].required != b.fields()[i].required) return false;
        }
        return true;
    }

    // The key of a question with a back edge on one side; none without one.
    std::optional<std::uint64_t> assumption_key(const Schema& sub, const Schema& sup) const {
        if (sub.kind == Kind::BackEdge) return fx_hash_pair(2 * mirror.image(sub.index), hashes.of(sup));
        if (sup.kind == Kind::BackEdge) return fx_hash_pair(2 * mirror.image(sup.index) + 1, hashes.of(sub));
        return std::nullopt;
    }

    [[gnu::noinline]] bool assumed(const Schema& sub, const Schema& sup, const Assumptions& as) const {
        if (as.empty()) return false;
        const std::optional<std::uint64_t> key = assumption_key(sub, sup);
        if (!key) return false;
        const auto [first, last] = as.equal_range(*key);
        for (auto it = first; it != last; ++it) {
            if (same(*it->second.first, sub) && same(*it->second.second, sup)) return true;
        }
        return false;
    }

    [[gnu::noinline]] Assumptions::iterator assume(const Schema& sub, const Schema& sup, Assumptions& as) const {
        return as.emplace(*assumption_key(sub, sup), std::pair{&sub, &sup});
    }

    [[gnu::noinline]] bool proven_empty(const Schema& node) const {
        return emptiness_of(node, oracle, definitions, budget).proven_empty;
    }

    [[gnu::noinline]] bool proven_full(const Schema& node) const {
        const EmptinessVerdict v = emptiness_of(node, oracle, definitions, budget);
        return !v.inexact && v.mask == ALL_KINDS;
    }
};

bool subtype_rec(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& assumptions);

// Answers `question` with (sub, sup) assumed while it runs.
template <class F>
bool assuming(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& assumptions,
              F&& question) {
    const Assumptions::iterator entry = cx.assume(sub, sup, assumptions);
    const bool answer = question();
    assumptions.erase(entry);
    return answer;
}

[[gnu::noinline]] bool seq_shape_subtype(const SeqShape& a, const SeqShape& b, const SubtypeContext& cx, Assumptions& as) {
    if (eq_seq_shape(a, b)) return true;
    // The compiler builds no alternation today; readers of shapes stay total.
    if (a.form == ShapeForm::Alternation) {
        for (const SeqShape& part : a.parts) {
            if (!seq_shape_subtype(part, b, cx, as)) return false;
        }
        return true;
    }
    if (b.form == ShapeForm::Alternation) {
        for (const SeqShape& part : b.parts) {
            if (seq_shape_subtype(a, part, cx, as)) return true;
        }
        return false;
    }
    const std::optional<LinearShape> la = linearize_seq_shape(a);
    const std::optional<LinearShape> lb = linearize_seq_shape(b);
    if (!la || !lb) return false;
    const bool live_tail =
        la->tail != nullptr && !emptiness_of(*la->tail, cx.oracle, cx.definitions, cx.budget).proven_empty;
    if (la->prefix_len < lb->prefix_len) return false;
    for (std::size_t k = 0; k < la->prefix_len; ++k) {
        const Schema* target = k < lb->prefix_len ? &lb->prefix(k) : lb->tail;
        if (target == nullptr || !subtype_rec(la->prefix(k), *target, cx, as)) return false;
    }
    if (!live_tail) return la->prefix_len == lb->prefix_len || lb->tail != nullptr;
    return lb->tail != nullptr && subtype_rec(*la->tail, *lb->tail, cx, as);
}

// A name written twice in one record: a dict's key (and a JSON object's
// entry, read as the dict it loads to) is checked against the last field of
// its name, and only that field's flag counts. So only the last field of a
// name is read.
// Fields passed over without a question of their own take a step each.
[[gnu::noinline]] bool record_subtype(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    std::optional<FieldIndex> sub_local, sup_local;
    const FieldIndex& sub_fields = cx.field_indexes.of(sub.fields(), sub_local);
    const FieldIndex& sup_fields = cx.field_indexes.of(sup.fields(), sup_local);
    bool a = true;
    for (const Field& f : sup.fields()) {
        if (sup_fields.repeats() && sup_fields.find(f.name) != &f) continue;
        if (const Field* g = sub_fields.find(f.name)) {
            a = subtype_rec(g->schema, f.schema, cx, as) && (!f.required || g->required);
        } else {
            a = !f.required && cx.budget.step();
            for (const CatchAll& clause : sub.clauses()) {
                if (!a) break;
                a = subtype_rec(clause.value, f.schema, cx, as);
            }
        }
        if (!a) break;
    }
    bool b = true;
    for (const Field& g : sub.fields()) {
        if (sup_fields.find(g.name) != nullptr || sub_fields.find(g.name) != &g) {
            if (!cx.budget.step()) return false;
            continue;
        }
        b = false;
        for (const CatchAll& clause : sup.clauses()) {
            if ((clause.key.kind == Kind::Str || clause.key.kind == Kind::Anything) &&
                subtype_rec(g.schema, clause.value, cx, as)) {
                b = true;
                break;
            }
        }
        if (!b) break;
    }
    bool c = true;
    for (const CatchAll& k : sub.clauses()) {
        c = false;
        for (const CatchAll& k2 : sup.clauses()) {
            if (subtype_rec(k.key, k2.key, cx, as) && subtype_rec(k.value, k2.value, cx, as)) {
                c = true;
                break;
            }
        }
        if (!c) break;
    }
    return a && b && c;
}

[[gnu::noinline]] bool class_within(std::uint64_t sub_class, std::uint64_t sup_class, const LeafOracle& oracle) {
    return oracle.leaf_subtype(indexed(Kind::Instance, sub_class), indexed(Kind::Instance, sup_class)) ==
           LEAF_INCLUDED;
}

[[gnu::noinline]] bool object_subtype(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    if (sub.index != sup.index && !class_within(sub.index, sup.index, cx.oracle)) return false;
    std::optional<FieldIndex> local;
    const FieldIndex& sub_fields = cx.field_indexes.of(sub.fields(), local);
    for (const Field& f : sup.fields()) {
        const Field* g = sub_fields.find(f.name);
        if (g == nullptr || !subtype_rec(g->schema, f.schema, cx, as)) return false;
    }
    return true;
}

// Whether a sub constraint has the same content as p.
class SameConstraints {
public:
    explicit SameConstraints(const std::vector<Constraint>& sub) : set_(sub.size()) {
        for (const Constraint& q : sub) set_.insert(&q);
    }
    bool contains(const Constraint& p) const { return set_.count(&p) != 0; }

private:
    struct Hash {
        std::size_t operator()(const Constraint* c) const {
            return static_cast<std::size_t>(
                fx_hash_pair(fx_hash_pair(static_cast<std::uint64_t>(c->kind), c->value), fx_hash_text(c->pattern)));
        }
    };
    struct Equal {
        bool operator()(const Constraint* a, const Constraint* b) const { return eq_constraint(*a, *b); }
    };
    std::unordered_set<const Constraint*, Hash, Equal> set_;
};

// Whether the sub constraints imply every sup constraint: a sup constraint
// that some sub constraint repeats, or a bound or length that the sub's
// folded ones (its tightest, by the oracle's order) reach. Each sub list is
// folded once and each sup bound compared once, ORACLE_STEPS each, so the
// cost grows with the two lists, not with their product.
bool constraints_imply(const std::vector<Constraint>& sup, const std::vector<Constraint>& sub, const LeafOracle& oracle,
                       WorkBudget& budget) {
    using CK = ConstraintKind;
    if (!budget.take(sub.size())) return false;  // a step a sub constraint read
    const SameConstraints same(sub);
    std::optional<FoldedBounds> folded;
    for (const Constraint& p : sup) {
        if (same.contains(p)) continue;
        if (!folded) {
            std::vector<const Constraint*> list;
            list.reserve(sub.size());
            for (const Constraint& q : sub) list.push_back(&q);
            folded = fold_bounds(list, oracle, budget);
        }
        // How the sub's bound on p's side stands to p: 1 tighter, 0 equal.
        const auto order = [&](const std::optional<PooledBound>& q, std::int8_t tighter) -> std::int8_t {
            if (!q || !budget.take(ORACLE_STEPS)) return ORDER_UNDECIDED;
            const std::int8_t c = oracle.compare(q->index, p.value);
            return c == tighter ? 1 : c;
        };
        bool covered = false;
        switch (p.kind) {
            case CK::Ge:
            case CK::Gt:
            case CK::Le:
            case CK::Lt: {
                const bool lower = p.kind == CK::Ge || p.kind == CK::Gt;
                const std::optional<PooledBound>& q = lower ? folded->lower : folded->upper;
                const std::int8_t c = order(q, lower ? 1 : -1);
                const bool strict = p.kind == CK::Gt || p.kind == CK::Lt;
                covered = c == 1 || (c == 0 && (!strict || q->strict));
                break;
            }
            case CK::MinLen: covered = folded->min_len && *folded->min_len >= p.value; break;
            case CK::MaxLen: covered = folded->max_len && *folded->max_len <= p.value; break;
            default: break;  // equality only
        }
        if (!covered) return false;
    }
    return true;
}

// x within the complement of y: x and y share no value.
[[gnu::noinline]] bool subtype_of_complement(const Schema& x, const Schema& y, const SubtypeContext& cx) {
    return pair_intersection_empty(x, y, cx.oracle, cx.definitions, cx.budget);
}

// An object read as an instance test of its class.
[[gnu::noinline]] bool class_subtype(const Schema& object, const Schema& sup, const SubtypeContext& cx,
                                     Assumptions& as) {
    return subtype_rec(indexed(Kind::Instance, object.index), sup, cx, as);
}

// What one rule makes of a question: its answer, or the pair to ask next.
// The next pair is asked in the same activation of subtype_rec, so that a
// chain of sets, complements and refinements does not deepen the stack.
struct Step {
    const Schema* sub;  // null when `answer` is final
    const Schema* sup;
    bool answer;
};

Step answer(bool a) { return Step{nullptr, nullptr, a}; }
Step ask(const Schema& sub, const Schema& sup) { return Step{&sub, &sup, false}; }

bool every_member_within(const std::vector<Schema>& members, const Schema& sup, const SubtypeContext& cx,
                         Assumptions& as) {
    for (const Schema& m : members) {
        if (!subtype_rec(m, sup, cx, as)) return false;
    }
    return true;
}

bool within_every_member(const Schema& sub, const std::vector<Schema>& members, const SubtypeContext& cx,
                         Assumptions& as) {
    for (const Schema& m : members) {
        if (!subtype_rec(sub, m, cx, as)) return false;
    }
    return true;
}

bool within_some_member(const Schema& sub, const std::vector<Schema>& members, const SubtypeContext& cx,
                        Assumptions& as) {
    for (const Schema& m : members) {
        if (subtype_rec(sub, m, cx, as)) return true;
    }
    return false;
}

// An intersection is within sup when one of its members is, or (sup being
// a union) when it is within one of sup's members as a whole.
bool intersection_within(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    for (const Schema& m : sub.members()) {
        if (subtype_rec(m, sup, cx, as)) return true;
    }
    return sup.kind == Kind::Union && within_some_member(sub, sup.members(), cx, as);
}

// A back edge is unfolded to its definition with the question assumed, so
// that meeting it again on this path answers yes (the coinductive step).
bool unfold_sub(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    if (sub.index >= cx.definitions.size()) return false;
    const Schema& definition = cx.definitions[sub.index];
    return assuming(sub, sup, cx, as, [&] { return subtype_rec(definition, sup, cx, as); });
}

bool unfold_sup(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    if (sup.index >= cx.definitions.size()) return false;
    const Schema& definition = cx.definitions[sup.index];
    return assuming(sub, sup, cx, as, [&] { return subtype_rec(sub, definition, cx, as); });
}

bool refinement_within(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    return subtype_rec(*sub.inner(), *sup.inner(), cx, as) && constraints_imply(sup.constraints(), sub.constraints(), cx.oracle, cx.budget);
}

// The rules that read the structure of sup; a refinement sub that none of
// them settles is asked about through its base, a leaf through the oracle.
Step structural_step(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    switch (sup.kind) {
        case Kind::Sequence:
            if (sub.kind == Kind::Sequence && sub.tuple_flag == sup.tuple_flag) {
                return answer(seq_shape_subtype(sub.shape(), sup.shape(), cx, as));
            }
            break;
        case Kind::Set:
        case Kind::FrozenSet:
            if (sub.kind == sup.kind) return ask(*sub.inner(), *sup.inner());
            break;
        case Kind::Record:
            if (sub.kind == Kind::Record) return answer(record_subtype(sub, sup, cx, as));
            break;
        case Kind::Complement:
            // not x within not y exactly when y within x.
            if (sub.kind == Kind::Complement) return ask(*sup.inner(), *sub.inner());
            return answer(subtype_of_complement(sub, *sup.inner(), cx));
        case Kind::Instance:
            if (sub.kind == Kind::Object) return answer(class_subtype(sub, sup, cx, as));
            break;
        case Kind::Object:
            if (sub.kind == Kind::Object) return answer(object_subtype(sub, sup, cx, as));
            break;
        case Kind::Refinement:
            if (sub.kind == Kind::Refinement) return answer(refinement_within(sub, sup, cx, as));
            break;
        case Kind::BackEdge: return answer(unfold_sup(sub, sup, cx, as));
        default: break;
    }
    if (sub.kind == Kind::Refinement) return ask(*sub.inner(), sup);
    // A literal is walked through sup: the walk's nodes are charged first.
    if (sub.kind == Kind::Literal && !cx.budget.take(cx.walk_costs.of(sup))) return answer(false);
    return answer(cx.oracle.leaf_subtype(sub, sup) == LEAF_INCLUDED);
}

// The rules in the order they apply. First the answers that need no look
// at the structure (an assumption on this path, exact kind masks, equal
// trees, an empty sub or a full sup); then unions and intersections are
// taken apart, back edges unfolded, and last the structure is read.
Step subtype_step(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    if (cx.assumed(sub, sup, as)) return answer(true);
    const ExactMask ms = exact_kind_mask(sub);
    const ExactMask mp = exact_kind_mask(sup);
    if (!ms.inexact && !mp.inexact) return answer((ms.mask & ~mp.mask & ALL_KINDS) == 0);
    if (cx.same(sub, sup) || cx.proven_empty(sub) || cx.proven_full(sup)) return answer(true);
    if (sub.kind == Kind::Union) return answer(every_member_within(sub.members(), sup, cx, as));
    if (sup.kind == Kind::Intersection) return answer(within_every_member(sub, sup.members(), cx, as));
    if (sub.kind == Kind::Intersection) return answer(intersection_within(sub, sup, cx, as));
    if (sup.kind == Kind::Union) return answer(within_some_member(sub, sup.members(), cx, as));
    if (sub.kind == Kind::BackEdge) return answer(unfold_sub(sub, sup, cx, as));
    return structural_step(sub, sup, cx, as);
}

bool subtype_rec(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    if (!cx.budget.step()) return false;
    const DepthLevel level;
    if (!level.held()) return false;
    const Schema* a = &sub;
    const Schema* b = &sup;
    while (true) {
        const Step step = subtype_step(*a, *b, cx, as);
        if (step.sub == nullptr) return step.answer;
        if (!cx.budget.step()) return false;
        a = step.sub;
        b = step.sup;
    }
}

// Definitions [n, 2n) that repeat [0, n) with every back edge moved by n,
// as when a validator is compared with itself: a mirror of n.
DefinitionMirror mirror_of(const std::vector<Schema>& definitions, std::uint64_t receiver_definitions) {
    const DefinitionMirror mirror{receiver_definitions};
    const std::uint64_t n = receiver_definitions;
    if (n == 0 || definitions.size() < 2 * n) return DefinitionMirror{};
    for (std::uint64_t i = 0; i < n; ++i) {
        if (!eq_schema(definitions[i], definitions[n + i], mirror)) return DefinitionMirror{};
    }
    return mirror;
}

bool subtype_with_budget(const Schema& sub, const Schema& sup, const LeafOracle& oracle,
                         const std::vector<Schema>& definitions, DefinitionMirror mirror, WorkBudget& budget) {
    NodeHashes hashes(mirror);
    WalkCosts walk_costs(definitions);
    FieldIndexes field_indexes;
    const SubtypeContext cx{oracle, definitions, budget, mirror, hashes, walk_costs, field_indexes};
    Assumptions assumptions;
    return subtype_rec(sub, sup, cx, assumptions);
}

}  // namespace

ExactMask exact_kind_mask(const Schema& node) {
    switch (node.kind) {
        case Kind::Anything:
        case Kind::Nothing:
        case Kind::NoneType:
        case Kind::Bool:
        case Kind::Int:
        case Kind::Float:
        case Kind::Str:
        case Kind::Bytes: return {false, kind_values(node.kind)};
        case Kind::Union:
        case Kind::Intersection: {
            const bool is_union = node.kind == Kind::Union;
            KindMask mask = is_union ? 0 : ALL_KINDS;
            for (const Schema& m : node.members()) {
                const ExactMask e = exact_kind_mask(m);
                if (e.inexact) return {true, 0};
                mask = is_union ? (mask | e.mask) : (mask & e.mask);
            }
            return {false, mask};
        }
        case Kind::Complement: {
            const ExactMask e = exact_kind_mask(*node.inner());
            return {e.inexact, static_cast<KindMask>(ALL_KINDS & ~e.mask)};
        }
        default: return {true, 0};
    }
}

bool decide_subtype(const Schema& sub, const Schema& sup, const LeafOracle& oracle,
                    const std::vector<Schema>& definitions, std::uint64_t receiver_definitions) {
    WorkBudget budget;
    const DefinitionMirror mirror = mirror_of(definitions, receiver_definitions);
    return subtype_with_budget(sub, sup, oracle, definitions, mirror, budget);
}

bool decide_equivalent(const Schema& a, const Schema& b, const LeafOracle& oracle,
                       const std::vector<Schema>& definitions, std::uint64_t receiver_definitions) {
    WorkBudget budget;
    const DefinitionMirror mirror = mirror_of(definitions, receiver_definitions);
    return subtype_with_budget(a, b, oracle, definitions, mirror, budget) &&
           subtype_with_budget(b, a, oracle, definitions, mirror, budget);
}

}  // namespace kestrome
