// Walking a part of a value and recording a failure: what every kind's walk
// uses.
#pragma once
#include "check/value_kind.h"
#include "check/walk.h"

#include <optional>
#include <string>
#include <utility>

namespace kestrome {

// Records a failure when the mode makes records; callers build `expected`
// only after testing the mode themselves where it is costly.
inline void push_record(const char* code, std::string expected, std::string value_text, const Path& path,
                        Records& records) {
    records.push_back(ErrorRecord{path, std::move(expected), std::move(value_text), code});
}

template <class V>
bool push_type_error(bool ok, const Schema& node, V value, const Path& path, const WalkContext& ctx,
                     Records& records) {
    if (!ok && ctx.makes_records()) {
        push_record(schema_error_code(node), schema_kind_name(node), value_ref_repr(value), path, records);
    }
    return ok;
}

// A scalar type test decided in place, where the roads are open.
template <class V>
[[gnu::always_inline]] inline std::optional<bool> in_place_answer(const Schema& node, V value, const WalkContext& ctx) {
    return roads_open(*ctx.call) ? scalar_member(node.kind, value) : std::nullopt;
}

// A child walk that decides scalar type tests in place; only a failure in a
// recording mode goes through the general walk, which records it.
template <class V>
bool walk_child(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    if (const std::optional<bool> answer = in_place_answer(node, value, ctx)) {
        if (*answer || !ctx.makes_records()) return *answer && !*ctx.stop;
    }
    return walk_value(node, value, path, ctx, records);
}

// Walks a part of the value under one more path step (made by `step`, and
// only when the walk makes records).
template <class V, class Step>
[[gnu::always_inline]] inline bool walk_part(const Schema& schema, V value, Step&& step, Path& path, const WalkContext& ctx, Records& records) {
    if (!ctx.makes_records()) return walk_child(schema, value, path, ctx, records);
    // A part that a type test accepts records nothing: no step is made.
    if (const std::optional<bool> answer = in_place_answer(schema, value, ctx); answer && *answer) return !*ctx.stop;
    path.push_back(step());
    const bool member = walk_value(schema, value, path, ctx, records);
    path.pop_back();
    return member;
}

}  // namespace kestrome
