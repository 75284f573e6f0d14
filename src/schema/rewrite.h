// The one copy of a tree that the rewrites share: the same shape, with pool
// indices, back edges and placeholders passed through a rule.
//
// A rule provides:
//   std::uint64_t pool(std::uint64_t index) const;     // Literal, Instance, Object, pooled constraints
//   Schema back_edge(std::uint64_t index) const;       // the copy of BackEdge(index)
//   Schema placeholder(std::uint64_t id) const;        // the copy of Placeholder(id)
// and may provide
//   std::optional<Schema> special(const Schema&) const;  // its own result for a node, or nothing
#pragma once
#include <memory>
#include <optional>
#include <utility>
#include <vector>
#include "schema/schema.h"

namespace kestrome {

template <class Rule>
Schema rewrite_schema(const Schema& node, const Rule& rule);

template <class Rule>
SeqShape rewrite_seq_shape(const SeqShape& shape, const Rule& rule) {
    SeqShape out;
    out.form = shape.form;
    switch (shape.form) {
        case ShapeForm::Empty: break;
        case ShapeForm::Item: out.item = std::make_unique<Schema>(rewrite_schema(*shape.item, rule)); break;
        // The compiler builds no alternation today; readers of shapes stay total.
        case ShapeForm::Concat:
        case ShapeForm::Alternation:
            out.parts.reserve(shape.parts.size());
            for (const SeqShape& part : shape.parts) out.parts.push_back(rewrite_seq_shape(part, rule));
            break;
        case ShapeForm::Repeat: out.inner() = std::make_unique<SeqShape>(rewrite_seq_shape(*shape.inner(), rule)); break;
    }
    return out;
}

template <class Rule>
std::vector<Field> rewrite_fields(const std::vector<Field>& fields, const Rule& rule) {
    std::vector<Field> out;
    out.reserve(fields.size());
    for (const Field& f : fields) out.push_back(Field{f.name, rewrite_schema(f.schema, rule), f.required});
    return out;
}

template <class Rule>
std::vector<Schema> rewrite_schema_vec(const std::vector<Schema>& nodes, const Rule& rule) {
    std::vector<Schema> out;
    out.reserve(nodes.size());
    for (const Schema& n : nodes) out.push_back(rewrite_schema(n, rule));
    return out;
}

template <class Rule>
Schema rewrite_schema(const Schema& node, const Rule& rule) {
    if constexpr (requires { rule.special(node); }) {
        if (std::optional<Schema> own = rule.special(node)) return std::move(*own);
    }
    switch (node.kind) {
        case Kind::Literal:
        case Kind::Instance: return indexed(node.kind, rule.pool(node.index));
        case Kind::BackEdge: return rule.back_edge(node.index);
        case Kind::Placeholder: return rule.placeholder(node.index);
        case Kind::Sequence: return sequence_of(node.tuple_flag, rewrite_seq_shape(node.shape(), rule));
        case Kind::Set:
        case Kind::FrozenSet:
        case Kind::Complement: return boxed(node.kind, rewrite_schema(*node.inner(), rule));
        case Kind::Record: {
            Schema out(Kind::Record);
            out.fields() = rewrite_fields(node.fields(), rule);
            out.clauses().reserve(node.clauses().size());
            for (const CatchAll& c : node.clauses()) {
                Schema key = rewrite_schema(c.key, rule);
                out.clauses().push_back(CatchAll{std::move(key), rewrite_schema(c.value, rule)});
            }
            return out;
        }
        case Kind::Union:
        case Kind::Intersection: {
            Schema out(node.kind);
            out.members() = rewrite_schema_vec(node.members(), rule);
            return out;
        }
        case Kind::Object: {
            Schema out = indexed(Kind::Object, rule.pool(node.index));
            out.fields() = rewrite_fields(node.fields(), rule);
            return out;
        }
        case Kind::Refinement: {
            Schema out = boxed(Kind::Refinement, rewrite_schema(*node.inner(), rule));
            out.constraints() = node.constraints();
            for (Constraint& c : out.constraints()) {
                if (c.kind != ConstraintKind::MinLen && c.kind != ConstraintKind::MaxLen &&
                    c.kind != ConstraintKind::Regex) {
                    c.value = rule.pool(c.value);
                }
            }
            return out;
        }
        default: return leaf(node.kind);
    }
}

}  // namespace kestrome
