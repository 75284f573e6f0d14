// Copying a compiled validator's trees into another compile.
#pragma once
#include "schema/schema.h"

#include <cstdint>
#include <vector>

namespace kestrome {

struct RebaseMap {
    const std::vector<std::uint64_t>& index_table;  // imported pool index -> target pool index
    std::uint64_t definition_offset;
};

Schema rebase_schema(const Schema& node, const RebaseMap& map);

}  // namespace kestrome
