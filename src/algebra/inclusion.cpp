#include "algebra/inclusion.h"

#include "util/fx_hash.h"

#include <string_view>
#include <unordered_map>

namespace kestrome {

namespace {

// The pairs of schemas being unfolded through a back edge on this path.
using Assumptions = std::vector<std::pair<Schema, Schema>>;

struct SubtypeContext {
    const LeafOracle& oracle;
    const std::vector<Schema>& definitions;
    WorkBudget& budget;
};

bool subtype_rec(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& assumptions);

// Answers `question` with (sub, sup) assumed while it runs.
template <class F>
bool assuming(const Schema& sub, const Schema& sup, Assumptions& assumptions, F&& question) {
    assumptions.emplace_back(clone_schema(sub), clone_schema(sup));
    const bool answer = question();
    assumptions.pop_back();
    return answer;
}

bool seq_shape_subtype(const SeqShape& a, const SeqShape& b, const SubtypeContext& cx, Assumptions& as) {
    if (eq_seq_shape(a, b)) return true;
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

using FieldsByName = std::unordered_map<std::string_view, const Field*, FxTextHash, TextEqual>;

FieldsByName by_name(const std::vector<Field>& fields) {
    FieldsByName map;
    for (const Field& f : fields) map[f.name] = &f;  // the last of a name wins
    return map;
}

bool record_subtype(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    const FieldsByName sub_fields = by_name(sub.fields);
    const FieldsByName sup_fields = by_name(sup.fields);
    bool a = true;
    for (const Field& f : sup.fields) {
        const auto it = sub_fields.find(f.name);
        if (it != sub_fields.end()) {
            const Field& g = *it->second;
            a = subtype_rec(g.schema, f.schema, cx, as) && (!f.required || g.required);
        } else {
            a = !f.required;
            for (const CatchAll& clause : sub.clauses) {
                if (!a) break;
                a = subtype_rec(clause.value, f.schema, cx, as);
            }
        }
        if (!a) break;
    }
    bool b = true;
    for (const Field& g : sub.fields) {
        if (sup_fields.count(g.name)) continue;
        b = false;
        for (const CatchAll& clause : sup.clauses) {
            if ((clause.key.kind == Kind::Str || clause.key.kind == Kind::Anything) &&
                subtype_rec(g.schema, clause.value, cx, as)) {
                b = true;
                break;
            }
        }
        if (!b) break;
    }
    bool c = true;
    for (const CatchAll& k : sub.clauses) {
        c = false;
        for (const CatchAll& k2 : sup.clauses) {
            if (subtype_rec(k.key, k2.key, cx, as) && subtype_rec(k.value, k2.value, cx, as)) {
                c = true;
                break;
            }
        }
        if (!c) break;
    }
    return a && b && c;
}

bool object_subtype(const Schema& sub, const Schema& sup, const SubtypeContext& cx, Assumptions& as) {
    if (sub.index != sup.index &&
        cx.oracle.leaf_subtype(indexed(Kind::Instance, sub.index), indexed(Kind::Instance, sup.index)) !=
            LEAF_INCLUDED) {
        return false;
    }
    const FieldsByName sub_fields = by_name(sub.fields);
    for (const Field& f : sup.fields) {
        const auto it = sub_fields.find(f.name);
        if (it == sub_fields.end() || !subtype_rec(it->second->schema, f.schema, cx, as)) return false;
    }
    return true;
}

// Whether the sub constraints imply every sup constraint.
bool constraints_imply(const std::vector<Constraint>& sup, const std::vector<Constraint>& sub, const LeafOracle& oracle) {
    using CK = ConstraintKind;
    for (const Constraint& p : sup) {
        bool covered = false;
        for (const Constraint& q : sub) {
            if (eq_constraint(q, p)) {
                covered = true;
                break;
            }
        }
        for (std::size_t i = 0; !covered && i < sub.size(); ++i) {
            const Constraint& q = sub[i];
            const auto order = [&] { return oracle.compare(q.value, p.value); };
            switch (p.kind) {
                case CK::Ge:
                    if (q.kind == CK::Ge || q.kind == CK::Gt) {
                        const std::int8_t c = order();
                        covered = c == 0 || c == 1;
                    }
                    break;
                case CK::Gt:
                    if (q.kind == CK::Ge) {
                        covered = order() == 1;
                    } else if (q.kind == CK::Gt) {
                        const std::int8_t c = order();
                        covered = c == 0 || c == 1;
                    }
                    break;
                case CK::Le:
                    if (q.kind == CK::Le || q.kind == CK::Lt) {
                        const std::int8_t c = order();
                        covered = c == 0 || c == -1;
                    }
                    break;
                case CK::Lt:
                    if (q.kind == CK::Le) {
                        covered = order() == -1;
                    } else if (q.kind == CK::Lt) {
                        const std::int8_t c = order();
                        covered = c == 0 || c == -1;
                    }
                    break;
                case CK::MinLen: covered = q.kind == CK::MinLen && q.value >= p.value; break;
                case CK::MaxLen: covered = q.kind == CK::MaxLen && q.value <= p.value; break;
                default: break;  // equality only
            }
        }
        if (!covered) return false;
    }
    return true;
}

// x within the complement of y: x and y share no value.
bool subtype_of_complement(const Schema& x, const Schema& y, const SubtypeContext& cx) {
    std::vector<Schema> members;
    members.push_back(clone_schema(x));
    members.push_back(clone_schema(y));
    Schema both(Kind::Intersection);
    both.members = std::move(members);
    return emptiness_of(both, cx.oracle, cx.definitions, cx.budget).proven_empty;
}

bool subtype_rec(const Schema& sub_in, const Schema& sup_in, const SubtypeContext& cx, Assumptions& as) {
    const Schema* sub = &sub_in;
    const Schema* sup = &sup_in;
    if (!cx.budget.step()) return false;
    while (true) {
        for (const auto& [a, b] : as) {
            if (eq_schema(a, *sub) && eq_schema(b, *sup)) return true;
        }
        const ExactMask ms = exact_kind_mask(*sub);
        const ExactMask mp = exact_kind_mask(*sup);
        if (!ms.inexact && !mp.inexact) return (ms.mask & ~mp.mask & ALL_KINDS) == 0;
        if (eq_schema(*sub, *sup)) return true;
        if (emptiness_of(*sub, cx.oracle, cx.definitions, cx.budget).proven_empty) return true;
        const EmptinessVerdict full = emptiness_of(*sup, cx.oracle, cx.definitions, cx.budget);
        if (!full.inexact && full.mask == ALL_KINDS) return true;

        if (sub->kind == Kind::Union) {
            for (const Schema& m : sub->members) {
                if (!subtype_rec(m, *sup, cx, as)) return false;
            }
            return true;
        }
        if (sup->kind == Kind::Intersection) {
            for (const Schema& m : sup->members) {
                if (!subtype_rec(*sub, m, cx, as)) return false;
            }
            return true;
        }
        if (sub->kind == Kind::Intersection) {
            for (const Schema& m : sub->members) {
                if (subtype_rec(m, *sup, cx, as)) return true;
            }
            if (sup->kind == Kind::Union) {
                for (const Schema& m : sup->members) {
                    if (subtype_rec(*sub, m, cx, as)) return true;
                }
            }
            return false;
        }
        if (sup->kind == Kind::Union) {
            for (const Schema& m : sup->members) {
                if (subtype_rec(*sub, m, cx, as)) return true;
            }
            return false;
        }
        if (sub->kind == Kind::BackEdge) {
            if (sub->index >= cx.definitions.size()) return false;
            const Schema& definition = cx.definitions[sub->index];
            return assuming(*sub, *sup, as, [&] { return subtype_rec(definition, *sup, cx, as); });
        }

        const Schema* next_sub = nullptr;
        const Schema* next_sup = nullptr;
        switch (sup->kind) {
            case Kind::Sequence:
                if (sub->kind == Kind::Sequence && sub->tuple_flag == sup->tuple_flag) {
                    return seq_shape_subtype(sub->shape, sup->shape, cx, as);
                }
                break;
            case Kind::Set:
            case Kind::FrozenSet:
                if (sub->kind == sup->kind) {
                    next_sub = sub->inner.get();
                    next_sup = sup->inner.get();
                }
                break;
            case Kind::Record:
                if (sub->kind == Kind::Record) return record_subtype(*sub, *sup, cx, as);
                break;
            case Kind::Complement:
                if (sub->kind == Kind::Complement) {
                    next_sub = sup->inner.get();
                    next_sup = sub->inner.get();
                } else {
                    return subtype_of_complement(*sub, *sup->inner, cx);
                }
                break;
            case Kind::Instance:
                if (sub->kind == Kind::Object) {
                    return subtype_rec(indexed(Kind::Instance, sub->index), *sup, cx, as);
                }
                break;
            case Kind::Object:
                if (sub->kind == Kind::Object) return object_subtype(*sub, *sup, cx, as);
                break;
            case Kind::Refinement:
                if (sub->kind == Kind::Refinement) {
                    return subtype_rec(*sub->inner, *sup->inner, cx, as) &&
                           constraints_imply(sup->constraints, sub->constraints, cx.oracle);
                }
                break;
            case Kind::BackEdge: {
                if (sup->index >= cx.definitions.size()) return false;
                const Schema& definition = cx.definitions[sup->index];
                return assuming(*sub, *sup, as, [&] { return subtype_rec(*sub, definition, cx, as); });
            }
            default: break;
        }
        if (next_sub == nullptr) {
            if (sub->kind == Kind::Refinement) {
                next_sub = sub->inner.get();
                next_sup = sup;
            } else {
                return cx.oracle.leaf_subtype(*sub, *sup) == LEAF_INCLUDED;
            }
        }
        // Restart with the new pair.
        if (!cx.budget.step()) return false;
        sub = next_sub;
        sup = next_sup;
    }
}

bool subtype_with_budget(const Schema& sub, const Schema& sup, const LeafOracle& oracle,
                         const std::vector<Schema>& definitions, WorkBudget& budget) {
    const SubtypeContext cx{oracle, definitions, budget};
    Assumptions assumptions;
    return subtype_rec(sub, sup, cx, assumptions);
}

}  // namespace

ExactMask exact_kind_mask(const Schema& node) {
    switch (node.kind) {
        case Kind::Anything: return {false, ALL_KINDS};
        case Kind::Nothing: return {false, 0};
        case Kind::NoneType: return {false, 1};
        case Kind::Bool: return {false, 2};
        case Kind::Int: return {false, 6};
        case Kind::Float: return {false, 8};
        case Kind::Str: return {false, 16};
        case Kind::Bytes: return {false, 32};
        case Kind::Union:
        case Kind::Intersection: {
            const bool is_union = node.kind == Kind::Union;
            KindMask mask = is_union ? 0 : ALL_KINDS;
            for (const Schema& m : node.members) {
                const ExactMask e = exact_kind_mask(m);
                if (e.inexact) return {true, 0};
                mask = is_union ? (mask | e.mask) : (mask & e.mask);
            }
            return {false, mask};
        }
        case Kind::Complement: {
            const ExactMask e = exact_kind_mask(*node.inner);
            return {e.inexact, static_cast<KindMask>(ALL_KINDS & ~e.mask)};
        }
        default: return {true, 0};
    }
}

bool decide_subtype(const Schema& sub, const Schema& sup, const LeafOracle& oracle,
                    const std::vector<Schema>& definitions) {
    WorkBudget budget;
    return subtype_with_budget(sub, sup, oracle, definitions, budget);
}

bool decide_equivalent(const Schema& a, const Schema& b, const LeafOracle& oracle,
                       const std::vector<Schema>& definitions) {
    WorkBudget budget;
    return subtype_with_budget(a, b, oracle, definitions, budget) &&
           subtype_with_budget(b, a, oracle, definitions, budget);
}

}  // namespace kestrome
