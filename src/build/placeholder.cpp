#include "build/placeholder.h"

#include "schema/children.h"
#include "schema/rewrite.h"

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

struct ResolveRule {
    std::uint64_t id;
    std::uint64_t index;
    std::uint64_t pool(std::uint64_t i) const { return i; }
    Schema back_edge(std::uint64_t i) const { return indexed(Kind::BackEdge, i); }
    Schema placeholder(std::uint64_t other) const {
        return other == id ? indexed(Kind::BackEdge, index) : indexed(Kind::Placeholder, other);
    }
};

bool guards(Kind kind) {
    return kind == Kind::Sequence || kind == Kind::Set || kind == Kind::FrozenSet || kind == Kind::Record ||
           kind == Kind::Object;
}

struct GuardSearch {
    std::uint64_t index;
    const std::vector<Schema>& definitions;
    std::set<std::pair<std::uint64_t, bool>> entered;  // imported definitions already searched

    bool search(const Schema& node, bool guarded) {
        if (node.kind == Kind::BackEdge) {
            if (node.index == index) {
                return !guarded;
            }
            // An imported definition: an unguarded path may run through it.
            if (node.index < definitions.size() && entered.emplace(node.index, guarded).second) {
                return search(definitions[node.index], guarded);
            }
            return false;
        }
        const bool inner = guarded || guards(node.kind);
        return for_each_child(node, [&](const Schema& child) { return search(child, inner); });
    }
};

}  // namespace

Schema resolve_placeholder(const Schema& node, std::uint64_t id, std::uint64_t index) {
    return rewrite_schema(node, ResolveRule{id, index});
}

bool has_unguarded_back_edge(const Schema& node, std::uint64_t index, bool guarded,
                             const std::vector<Schema>& definitions) {
    GuardSearch search{index, definitions, {}};
    return search.search(node, guarded);
}

}  // namespace kestrome
