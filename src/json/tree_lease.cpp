#include "json/tree_lease.h"

#include <cstddef>

namespace kestrome {

namespace {

thread_local JsonTree cached_tree;
thread_local bool cached_tree_busy = false;

// Storage up to this size is kept for the next check whatever it held.
constexpr std::size_t ALWAYS_KEPT_BYTES = std::size_t{8} << 20;
// Larger storage is kept, up to this size, while the documents fill at least
// a quarter of it: a caller checking large documents one after another
// reuses pages already mapped, while a small document after a large one
// gives the large storage back.
constexpr std::size_t MAX_KEPT_BYTES = std::size_t{256} << 20;

bool keep_storage(const JsonTree& tree) {
    const std::size_t held = tree.capacity_bytes();
    if (held <= ALWAYS_KEPT_BYTES) return true;
    return held <= MAX_KEPT_BYTES && tree.used_bytes() >= held / 4;
}

}  // namespace

TreeLease::TreeLease() : cached_(!cached_tree_busy) {
    if (cached_) cached_tree_busy = true;
}

TreeLease::~TreeLease() {
    if (!cached_) return;
    cached_tree_busy = false;
    if (!keep_storage(cached_tree)) cached_tree = JsonTree();
}

JsonTree& TreeLease::tree() { return cached_ ? cached_tree : own_; }

}  // namespace kestrome
