// Set inclusion and equivalence of schemas, decided soundly under a budget.
#pragma once
#include "algebra/emptiness.h"

#include <utility>

namespace kestrome {

struct ExactMask {
    bool inexact;
    KindMask mask;
};

ExactMask exact_kind_mask(const Schema& node);

bool decide_subtype(const Schema& sub, const Schema& sup, const LeafOracle& oracle,
                    const std::vector<Schema>& definitions);
bool decide_equivalent(const Schema& a, const Schema& b, const LeafOracle& oracle,
                       const std::vector<Schema>& definitions);

}  // namespace kestrome
