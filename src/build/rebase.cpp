#include "build/rebase.h"

#include "schema/rewrite.h"

#include <cstdint>

namespace kestrome {

namespace {

struct RebaseRule {
    const RebaseMap& map;
    std::uint64_t pool(std::uint64_t i) const {
        return i < map.index_table.size() ? map.index_table[i] : i;
    }
    Schema back_edge(std::uint64_t i) const { return indexed(Kind::BackEdge, i + map.definition_offset); }
    Schema placeholder(std::uint64_t id) const { return indexed(Kind::Placeholder, id); }
};

}  // namespace

Schema rebase_schema(const Schema& node, const RebaseMap& map) { return rewrite_schema(node, RebaseRule{map}); }

}  // namespace kestrome
