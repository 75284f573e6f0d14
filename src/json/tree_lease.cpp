#include "json/tree_lease.h"

#include <cstddef>

namespace kestrome {

namespace {

thread_local JsonTree cached_tree;
thread_local bool cached_tree_busy = false;

// Storage past this size is given back rather than kept for the next check.
constexpr std::size_t MAX_KEPT_BYTES = std::size_t{8} << 20;

}  // namespace

TreeLease::TreeLease() : cached_(!cached_tree_busy) {
    if (cached_) cached_tree_busy = true;
}

TreeLease::~TreeLease() {
    if (!cached_) return;
    cached_tree_busy = false;
    if (cached_tree.capacity_bytes() > MAX_KEPT_BYTES) cached_tree = JsonTree();
}

JsonTree& TreeLease::tree() { return cached_ ? cached_tree : own_; }

}  // namespace kestrome
