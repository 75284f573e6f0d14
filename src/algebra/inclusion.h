// Set inclusion and equivalence of schemas, decided soundly under a budget.
#pragma once
#include "algebra/emptiness.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace kestrome {

struct ExactMask {
    bool inexact;
    KindMask mask;
};

ExactMask exact_kind_mask(const Schema& node);

// `receiver_definitions`: how many of the definitions belong to the
// receiver; when the ones after them repeat them (a validator compared with
// itself), back edges to either copy name the same definition.
bool decide_subtype(const Schema& sub, const Schema& sup, const LeafOracle& oracle,
                    const std::vector<Schema>& definitions, std::uint64_t receiver_definitions);
bool decide_equivalent(const Schema& a, const Schema& b, const LeafOracle& oracle,
                       const std::vector<Schema>& definitions, std::uint64_t receiver_definitions);

}  // namespace kestrome
