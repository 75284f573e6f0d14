// Unions, intersections, complements, back edges and placeholders.
#pragma once
#include "check/scalars.h"

#include <algorithm>
#include <type_traits>

namespace kestrome {

inline constexpr std::size_t MAX_UNION_REPORT_MEMBERS = 64;

inline std::string describe_union_members(const std::vector<Schema>& members) {
    std::string out;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0) out += ", ";
        out += schema_kind_name(members[i]);
    }
    return out;
}

// The member a dict's tag selects: the first entry whose key names the tag
// field decides. Null when there is no such entry or its value is no tag.
// Reads entries and texts only, so no Python code runs.
inline const Schema* tagged_member(const TaggedUnion& tagged, const Schema& node, PyObject* value) {
    if (!PyDict_Check(value)) return nullptr;
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    while (PyDict_Next(value, &pos, &key, &item)) {
        if (!PyUnicode_Check(key) || str_hash(key) != tagged.field_hash) continue;
        const std::optional<std::string_view> text = str_utf8(key);
        if (!text || *text != tagged.field) continue;
        const std::uint32_t* member = nullptr;
        if (Py_IS_TYPE(item, &PyUnicode_Type)) {
            if (const std::optional<std::string_view> tag = str_utf8(item)) {
                const std::uint64_t* at = tagged.strs.find(*tag, str_hash(item));
                return at != nullptr ? &node.members[*at] : nullptr;
            }
        } else if (Py_IS_TYPE(item, &PyLong_Type)) {
            if (const std::optional<std::int64_t> tag = exact_int_value(item)) {
                const auto at = tagged.ints.find(*tag);
                return at != tagged.ints.end() ? &node.members[at->second] : nullptr;
            }
        } else {
            member = tagged.objects.find(item);
        }
        return member != nullptr ? &node.members[*member] : nullptr;
    }
    return nullptr;
}

// The same for a JSON object: the last entry of the tag field decides, as
// it is the one a dict made from the document keeps.
inline const Schema* tagged_member(const TaggedUnion& tagged, const Schema& node, JsonRef value) {
    if (value.node->kind != JsonKind::Object) return nullptr;
    const JsonTree& tree = *value.tree;
    for (std::uint32_t i = value.node->count; i-- > 0;) {
        const JsonEntry& entry = tree.entry(*value.node, i);
        if (tree.key(entry) != tagged.field) continue;
        const JsonNode& tag = tree.value(entry);
        const std::uint32_t* member = nullptr;
        switch (tag.kind) {
            case JsonKind::String: {
                const std::uint64_t* at = tagged.strs.find(tree.text(tag));
                return at != nullptr ? &node.members[*at] : nullptr;
            }
            case JsonKind::Int: {
                const auto at = tagged.ints.find(tag.integer);
                return at != tagged.ints.end() ? &node.members[at->second] : nullptr;
            }
            case JsonKind::Bool: member = tagged.objects.find(tag.truth ? Py_True : Py_False); break;
            case JsonKind::Null: member = tagged.objects.find(Py_None); break;
            default: break;
        }
        return member != nullptr ? &node.members[*member] : nullptr;
    }
    return nullptr;
}

template <class V>
bool walk_union(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    // A tagged union: only the member the tag selects can accept, since
    // every member requires the tag field with a literal set of its own.
    bool first_pass = true;
    const TaggedUnion* tagged = ctx.tagged->empty() ? nullptr : ctx.tagged->find(union_key(node));
    if (const Schema* member = tagged != nullptr ? tagged_member(*tagged, node, value) : nullptr) {
        Path scratch_path;
        Records scratch_records;
        if (walk_value(*member, value, scratch_path, ctx.scratch(WalkMode::Boolean), scratch_records)) return true;
        if (!ctx.makes_records()) return false;
        first_pass = false;
    }
    // The literal sets give the first pass's answer without Python code.
    if (const UnionLiteralSets* sets = union_literal_sets(node, ctx)) {
        if (const std::optional<bool> answer = literal_set_answer(*sets, value)) {
            if (*answer || !ctx.makes_records()) return *answer;
            first_pass = false;
        }
    }
    if (first_pass) {
        const WalkContext boolean = ctx.scratch(WalkMode::Boolean);
        Path scratch_path;
        Records scratch_records;
        for (const Schema& member : node.members) {
            if (walk_value(member, value, scratch_path, boolean, scratch_records)) return true;
        }
    }
    if (!ctx.makes_records()) return false;

    // Report the member that got deepest into the value.
    const WalkContext collect = ctx.scratch(WalkMode::Collect);
    const std::size_t base = path.size();
    const std::size_t count = std::min(node.members.size(), MAX_UNION_REPORT_MEMBERS);
    Records best;
    std::size_t best_depth = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Records candidate;
        walk_value(node.members[i], value, path, collect, candidate);
        std::size_t depth = 0;
        for (const ErrorRecord& r : candidate) {
            if (r.path.size() > base) depth = std::max(depth, r.path.size() - base);
        }
        if (i == 0 || depth > best_depth) {
            best = std::move(candidate);
            best_depth = depth;
        }
    }
    if (best_depth > 0) {
        for (ErrorRecord& r : best) records.push_back(std::move(r));
    } else {
        push_record("union_error", "one of: " + describe_union_members(node.members), value_ref_repr(value), path,
                    records);
    }
    return false;
}

template <class V>
bool walk_intersection(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    bool ok = true;
    for (const Schema& member : node.members) {
        if (!walk_value(member, value, path, ctx, records)) {
            ok = false;
            if (ctx.stops_early()) return false;
        }
    }
    return ok;
}

template <class V>
bool walk_complement(const Schema& node, V value, const Path& path, const WalkContext& ctx, Records& records) {
    Path scratch_path;
    Records scratch_records;
    if (!walk_value(*node.inner, value, scratch_path, ctx.scratch(WalkMode::Boolean), scratch_records)) return true;
    if (ctx.makes_records()) {
        push_record("unexpected_match", std::string("not ") + schema_kind_name(*node.inner), value_ref_repr(value),
                    path, records);
    }
    return false;
}

template <class V>
bool walk_back_edge(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    const std::uint64_t id = value_identity(value);
    const std::uint64_t d = node.index;
    if (!ctx.recursion->insert(id, d)) {
        if (ctx.makes_records()) {
            push_record("recursion_loop", "a finite (non-cyclic) value", value_ref_repr(value), path, records);
        }
        return false;
    }
    if (ctx.recursion->size() > MAX_OPEN_RECURSION) {
        ctx.recursion->remove(id, d);
        if (ctx.makes_records()) {
            push_record("recursion_limit", "at most " + std::to_string(MAX_OPEN_RECURSION) + " levels of recursion",
                        value_ref_repr(value), path, records);
        }
        return false;
    }
    if (d >= ctx.definitions->size()) {
        ctx.recursion->remove(id, d);
        return false;
    }
    const bool ok = walk_value((*ctx.definitions)[d], value, path, ctx, records);
    ctx.recursion->remove(id, d);
    return ok;
}

template <class V>
bool walk_placeholder(V value, const Path& path, const WalkContext& ctx, Records& records) {
    if (ctx.makes_records()) {
        push_record("unresolved_recursion", "a resolved recursive value", value_ref_repr(value), path, records);
    }
    return false;
}

}  // namespace kestrome
