#include "render/render.h"

#include "util/text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrome {

namespace {

struct Renderer {
    const std::vector<py::Ref>& constants;
    const std::vector<Schema>& definitions;
    InProgressDefinitions& in_progress;

    std::string constant(std::uint64_t index) const {
        return index < constants.size() ? value_repr(constants[index].get()) : "<unknown>";
    }

    std::string class_name(std::uint64_t index) const {
        return index < constants.size() ? class_display_name(constants[index].get()) : "<unknown>";
    }

    std::string join(const std::vector<Schema>& nodes, const char* sep, std::uint64_t depth) {
        std::string out;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            if (i > 0) out += sep;
            out += render(nodes[i], depth);
        }
        return out;
    }

    std::string sequence(const Schema& node, std::uint64_t depth) {
        const std::optional<LinearShape> linear = linearize_seq_shape(node.shape());
        if (!linear) return "<sequence>";
        const bool tuple = node.tuple_flag == TUPLE_FLAG;
        if (linear->tail != nullptr && linear->prefix_len == 0) {
            const std::string tail = render(*linear->tail, depth + 1);
            return tuple ? "tuple[" + tail + ", ...]" : "list[" + tail + "]";
        }
        std::string items;
        for (std::size_t i = 0; i < linear->prefix_len; ++i) {
            if (i > 0) items += ", ";
            items += render(linear->prefix(i), depth + 1);
        }
        if (linear->tail != nullptr) {
            items += ", " + render(*linear->tail, depth + 1) + ", ...";
        }
        return tuple ? "tuple[" + items + "]" : "[" + items + "]";
    }

    std::string record(const Schema& node, std::uint64_t depth) {
        if (node.fields().empty() && node.clauses().size() == 1) {
            return "dict[" + render(node.clauses()[0].key, depth + 1) + ", " + render(node.clauses()[0].value, depth + 1) +
                   "]";
        }
        std::string out = "{";
        bool first = true;
        auto part = [&](const std::string& text) {
            if (!first) out += ", ";
            first = false;
            out += text;
        };
        for (const Field& f : node.fields()) {
            part("'" + f.name + (f.required ? "" : "?") + "': " + render(f.schema, depth + 1));
        }
        for (const CatchAll& c : node.clauses()) {
            if (c.key.kind == Kind::Anything && c.value.kind == Kind::Anything) {
                part("...");
            } else {
                part(render(c.key, depth + 1) + ": " + render(c.value, depth + 1));
            }
        }
        return out + "}";
    }

    std::string constraint(const Constraint& c) const {
        switch (c.kind) {
            case ConstraintKind::Ge: return "Ge(" + constant(c.value) + ")";
            case ConstraintKind::Gt: return "Gt(" + constant(c.value) + ")";
            case ConstraintKind::Le: return "Le(" + constant(c.value) + ")";
            case ConstraintKind::Lt: return "Lt(" + constant(c.value) + ")";
            case ConstraintKind::MinLen: return "MinLen(" + std::to_string(c.value) + ")";
            case ConstraintKind::MaxLen: return "MaxLen(" + std::to_string(c.value) + ")";
            case ConstraintKind::MultipleOf: return "MultipleOf(" + constant(c.value) + ")";
            case ConstraintKind::Predicate: return "Predicate(...)";
            case ConstraintKind::Regex: return "Regex(" + debug_quote(c.pattern) + ")";
        }
        return "";
    }

    std::string back_edge(std::uint64_t index, std::uint64_t depth) {
        if (in_progress.count(index)) return "...";
        in_progress.insert(index);
        std::string out = index < definitions.size() ? render(definitions[index], depth + 1) : "...";
        in_progress.erase(index);
        return out;
    }

    std::string render(const Schema& node, std::uint64_t depth) {
        if (depth > MAX_RENDER_DEPTH) return "...";
        switch (node.kind) {
            case Kind::Anything: return "anything";
            case Kind::Any: return "Any";
            case Kind::Nothing: return "nothing";
            case Kind::NoneType: return "None";
            case Kind::Bool: return "bool";
            case Kind::Int: return "int";
            case Kind::Float: return "float";
            case Kind::Str: return "str";
            case Kind::Bytes: return "bytes";
            case Kind::Literal: return "Literal[" + constant(node.index) + "]";
            case Kind::Sequence: return sequence(node, depth);
            case Kind::Set: return "set[" + render(*node.inner(), depth + 1) + "]";
            case Kind::FrozenSet: return "frozenset[" + render(*node.inner(), depth + 1) + "]";
            case Kind::Record: return record(node, depth);
            case Kind::Union: return join(node.members(), " | ", depth + 1);
            case Kind::Intersection: return "intersection(" + join(node.members(), ", ", depth + 1) + ")";
            case Kind::Complement: return "complement(" + render(*node.inner(), depth + 1) + ")";
            case Kind::Instance:
            case Kind::Object: return class_name(node.index);
            case Kind::Refinement: {
                std::string out = "Annotated[" + render(*node.inner(), depth + 1);
                for (const Constraint& c : node.constraints()) out += ", " + constraint(c);
                return out + "]";
            }
            case Kind::BackEdge: return back_edge(node.index, depth);
            case Kind::Placeholder: return "...";
        }
        return "";
    }
};

}  // namespace

std::string render_schema(const Schema& node, const std::vector<py::Ref>& constants,
                          const std::vector<Schema>& definitions, InProgressDefinitions& in_progress,
                          std::uint64_t depth) {
    return Renderer{constants, definitions, in_progress}.render(node, depth);
}

}  // namespace kestrome
