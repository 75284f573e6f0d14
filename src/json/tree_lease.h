// The value tree a check parses a document into, borrowed from its thread.
#pragma once
#include "json/tree.h"

namespace kestrome {

// Each thread keeps the storage of its last value tree, so that a check
// does not allocate it again; a check started from inside another one (by a
// predicate) gets a tree of its own.
class TreeLease {
public:
    TreeLease();
    ~TreeLease();
    TreeLease(const TreeLease&) = delete;
    TreeLease& operator=(const TreeLease&) = delete;
    JsonTree& tree();

private:
    bool cached_;
    JsonTree own_;
};

}  // namespace kestrome
