#include "algebra/simplify.h"

#include "algebra/emptiness.h"
#include "algebra/inclusion.h"
#include "schema/rewrite.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

// The unchanged leaves of every rewrite here.
struct Keep {
    std::uint64_t pool(std::uint64_t i) const { return i; }
    Schema back_edge(std::uint64_t i) const { return indexed(Kind::BackEdge, i); }
    Schema placeholder(std::uint64_t id) const { return indexed(Kind::Placeholder, id); }
};

void sort_unique(std::vector<Schema>& members) {
    if (members.size() < 2) return;
    std::stable_sort(members.begin(), members.end(),
                     [](const Schema& a, const Schema& b) { return cmp_schema(a, b) < 0; });
    members.erase(std::unique(members.begin(), members.end(),
                              [](const Schema& a, const Schema& b) { return eq_schema(a, b); }),
                  members.end());
}

Schema many(Kind kind, std::vector<Schema> members) {
    if (members.size() == 1) return std::move(members[0]);
    Schema out(kind);
    out.members() = std::move(members);
    return out;
}

// Flattens members of the same kind, drops the identity and stops at the
// absorbing element; nothing when the absorbing element was met.
std::optional<std::vector<Schema>> flatten(std::vector<Schema> members, Kind kind, Kind identity) {
    std::vector<Schema> out;
    for (Schema& m : members) {
        if (m.kind == identity) continue;
        if (m.kind == Kind::Anything || m.kind == Kind::Nothing) return std::nullopt;  // the absorbing one
        if (m.kind == kind) {
            for (Schema& inner : m.members()) out.push_back(std::move(inner));
        } else {
            out.push_back(std::move(m));
        }
    }
    return out;
}

Schema simplify_members(const Schema& node, Kind identity, Kind absorbing) {
    std::vector<Schema> members;
    members.reserve(node.members().size());
    for (const Schema& m : node.members()) {
        Schema s = simplify_schema(m);
        if (s.kind == absorbing) return leaf(absorbing);
        members.push_back(std::move(s));
    }
    std::optional<std::vector<Schema>> flat = flatten(std::move(members), node.kind, identity);
    if (node.kind == Kind::Union) return canonical_union(std::move(*flat));
    return canonical_intersection(std::move(*flat));
}

Schema simplify_refinement(const Schema& node) {
    Schema base = simplify_schema(*node.inner());
    std::vector<Constraint> constraints = node.constraints();
    while (base.kind == Kind::Refinement) {
        std::vector<Constraint> merged = std::move(base.constraints());
        merged.insert(merged.end(), constraints.begin(), constraints.end());
        constraints = std::move(merged);
        Schema inner = std::move(*base.inner());
        base = std::move(inner);
    }
    if (constraints.size() > 1) {
        std::sort(constraints.begin(), constraints.end(),
                  [](const Constraint& a, const Constraint& b) { return cmp_constraint(a, b) < 0; });
        constraints.erase(std::unique(constraints.begin(), constraints.end(), eq_constraint), constraints.end());
    }
    if (constraints.empty()) return base;
    Schema out = boxed(Kind::Refinement, std::move(base));
    out.constraints() = std::move(constraints);
    return out;
}

struct SimplifyRule : Keep {
    std::optional<Schema> special(const Schema& node) const {
        switch (node.kind) {
            case Kind::Union: return simplify_members(node, Kind::Nothing, Kind::Anything);
            case Kind::Intersection: return simplify_members(node, Kind::Anything, Kind::Nothing);
            case Kind::Complement: return complement_nnf(simplify_schema(*node.inner()));
            case Kind::Refinement: return simplify_refinement(node);
            default: return std::nullopt;
        }
    }
};

struct OpenRule : Keep {
    bool open;
    std::optional<Schema> special(const Schema& node) const {
        if (node.kind != Kind::Record || node.fields().empty()) return std::nullopt;
        Schema out(Kind::Record);
        out.fields() = rewrite_fields(node.fields(), *this);
        if (open) out.clauses().push_back(CatchAll{leaf(Kind::Anything), leaf(Kind::Anything)});
        return out;
    }
};

}  // namespace

Schema simplify_schema(const Schema& node) { return rewrite_schema(node, SimplifyRule{}); }

Schema canonical_union(std::vector<Schema> members) {
    sort_unique(members);
    if (members.empty()) return leaf(Kind::Nothing);
    KindMask mask = 0;
    for (const Schema& m : members) {
        const ExactMask e = exact_kind_mask(m);
        if (!e.inexact) mask |= e.mask;
    }
    if (holds_complement_pair(members)) return leaf(Kind::Anything);
    DisjointPairScan inners;
    for (const Schema& m : members) {
        if (m.kind == Kind::Complement) inners.add(*m.inner());
    }
    if (inners.found()) return leaf(Kind::Anything);
    if (mask == ALL_KINDS) return leaf(Kind::Anything);
    return many(Kind::Union, std::move(members));
}

Schema canonical_intersection(std::vector<Schema> members) {
    sort_unique(members);
    if (members.empty()) return leaf(Kind::Anything);
    KindMask mask = ALL_KINDS;
    for (const Schema& m : members) {
        const ExactMask e = exact_kind_mask(m);
        if (!e.inexact) mask &= e.mask;
    }
    if (holds_complement_pair(members) || some_pair_disjoint(members)) return leaf(Kind::Nothing);
    if (mask == 0) return leaf(Kind::Nothing);
    return many(Kind::Intersection, std::move(members));
}

Schema complement_nnf(Schema x) {
    switch (x.kind) {
        case Kind::Anything: return leaf(Kind::Nothing);
        case Kind::Nothing: return leaf(Kind::Anything);
        case Kind::Complement: return std::move(*x.inner());
        case Kind::Union:
        case Kind::Intersection: {
            // De Morgan: the dual form over the members' complements.
            const bool is_union = x.kind == Kind::Union;
            std::vector<Schema> members;
            members.reserve(x.members().size());
            for (Schema& m : x.members()) members.push_back(complement_nnf(std::move(m)));
            const Kind dual = is_union ? Kind::Intersection : Kind::Union;
            std::optional<std::vector<Schema>> flat =
                flatten(std::move(members), dual, is_union ? Kind::Anything : Kind::Nothing);
            if (!flat) return leaf(is_union ? Kind::Nothing : Kind::Anything);
            return is_union ? canonical_intersection(std::move(*flat)) : canonical_union(std::move(*flat));
        }
        default: return complement_of(std::move(x));
    }
}

Schema set_records_open(const Schema& node, bool open) { return rewrite_schema(node, OpenRule{{}, open}); }

}  // namespace kestrome
