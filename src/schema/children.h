// The direct child schemas of a node, in their fixed order.
#pragma once
#include "schema/schema.h"

namespace kestrome {

// Calls `visit(child)` for the item schemas of a shape from left to right;
// stops and returns true as soon as a visit returns true.
template <class F>
bool for_each_shape_child(const SeqShape& shape, F&& visit) {
    switch (shape.form) {
        case ShapeForm::Empty: return false;
        case ShapeForm::Item: return visit(*shape.item);
        case ShapeForm::Repeat: return for_each_shape_child(*shape.inner(), visit);
        // The compiler builds no alternation today; readers of shapes stay total.
        case ShapeForm::Concat:
        case ShapeForm::Alternation:
            for (const SeqShape& part : shape.parts) {
                if (for_each_shape_child(part, visit)) return true;
            }
            return false;
    }
    return false;
}

// The same over a node's children: sequence items, the inner schema, record
// fields then each clause's key and value, members, object attributes, a
// refinement's base. Back edges are not followed.
template <class F>
bool for_each_child(const Schema& node, F&& visit) {
    switch (node.kind) {
        case Kind::Sequence: return for_each_shape_child(node.shape(), visit);
        case Kind::Set:
        case Kind::FrozenSet:
        case Kind::Complement:
        case Kind::Refinement: return visit(*node.inner());
        case Kind::Record:
            for (const Field& f : node.fields()) {
                if (visit(f.schema)) return true;
            }
            for (const CatchAll& c : node.clauses()) {
                if (visit(c.key) || visit(c.value)) return true;
            }
            return false;
        case Kind::Object:
            for (const Field& f : node.fields()) {
                if (visit(f.schema)) return true;
            }
            return false;
        case Kind::Union:
        case Kind::Intersection:
            for (const Schema& m : node.members()) {
                if (visit(m)) return true;
            }
            return false;
        default: return false;
    }
}

}  // namespace kestrome
