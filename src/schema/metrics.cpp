#include "schema/metrics.h"

#include "schema/children.h"

#include <algorithm>
#include <cstdint>

namespace kestrome {

std::uint64_t schema_node_count(const Schema& node) {
    std::uint64_t total = 1;
    if (node.kind == Kind::Refinement) {
        total += node.constraints().size();
    }
    for_each_child(node, [&](const Schema& child) {
        total = saturating_add(total, schema_node_count(child));
        return false;
    });
    return total;
}

std::uint64_t seq_shape_depth(const SeqShape& shape) {
    switch (shape.form) {
        case ShapeForm::Empty:
        case ShapeForm::Item: return 0;
        case ShapeForm::Repeat: return 1 + seq_shape_depth(*shape.inner());
        // The compiler builds no alternation today; readers of shapes stay total.
        case ShapeForm::Concat:
        case ShapeForm::Alternation: {
            std::uint64_t deepest = 0;
            for (const SeqShape& part : shape.parts) deepest = std::max(deepest, seq_shape_depth(part));
            return 1 + deepest;
        }
    }
    return 0;
}

std::uint64_t schema_depth(const Schema& node) {
    const std::uint64_t own = node.kind == Kind::Sequence ? 1 + seq_shape_depth(node.shape()) : 1;
    std::uint64_t deepest = 0;
    for_each_child(node, [&](const Schema& child) {
        deepest = std::max(deepest, schema_depth(child));
        return false;
    });
    return own + deepest;
}

}  // namespace kestrome
