#include "check/walk.h"

#include "check/parts.h"
#include "check/step.h"
#include "exception/validation_error.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace kestrome {

namespace {

template <class V>
using KindWalk = bool (*)(const Schema&, V, Path&, const WalkContext&, Records&);

template <class V>
bool walk_no_kind(const Schema&, V, Path&, const WalkContext&, Records&) {
    return false;
}

template <class V>
constexpr KindWalk<V> walk_of(Kind kind) {
    switch (kind) {
        case Kind::Nothing:
        case Kind::Anything:
        case Kind::Any:
        case Kind::NoneType:
        case Kind::Bool:
        case Kind::Int:
        case Kind::Float:
        case Kind::Str:
        case Kind::Bytes: return &walk_scalar<V>;
        case Kind::Literal: return &walk_literal<V>;
        case Kind::Sequence: return &walk_sequence<V>;
        case Kind::Set:
        case Kind::FrozenSet: return &walk_set<V>;
        case Kind::Record: return &walk_record<V>;
        case Kind::Union: return &walk_union<V>;
        case Kind::Intersection: return &walk_intersection<V>;
        case Kind::Complement: return &walk_complement<V>;
        case Kind::Instance: return &walk_instance<V>;
        case Kind::Object: return &walk_object<V>;
        case Kind::Refinement: return &walk_refinement<V>;
        case Kind::BackEdge: return &walk_back_edge<V>;
        case Kind::Placeholder: return &walk_placeholder<V>;
    }
    return &walk_no_kind<V>;
}

// Each kind's walk, by every value a kind's byte can hold: a level of the
// walk makes one call, to the kind it meets.
template <class V>
constexpr std::array<KindWalk<V>, 256> KIND_WALKS = [] {
    std::array<KindWalk<V>, 256> table{};
    for (std::size_t k = 0; k < table.size(); ++k) table[k] = walk_of<V>(static_cast<Kind>(k));
    return table;
}();

template <class V>
[[gnu::noinline]] bool walk_past_nesting_limit(V value, const Path& path, const WalkContext& ctx, Records& records) {
    ctx.call->nesting.refuse();
    if (ctx.makes_records()) {
        push_record("recursion_limit", "at most " + std::to_string(MAX_WALK_DEPTH) + " levels of nesting",
                    value_ref_repr(value), path, records);
    }
    return false;
}

}  // namespace

template <class V>
bool walk_value(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    py::may_call_python();
    if (*ctx.stop) return false;
    WalkDepth& nesting = ctx.call->nesting;
    if (!nesting.enter()) [[unlikely]] return walk_past_nesting_limit(value, path, ctx, records);
    const bool member = KIND_WALKS<V>[static_cast<std::uint8_t>(node.kind)](node, value, path, ctx, records);
    nesting.leave();
    return member;
}

template bool walk_value<PyObject*>(const Schema&, PyObject*, Path&, const WalkContext&, Records&);
template bool walk_value<JsonRef>(const Schema&, JsonRef, Path&, const WalkContext&, Records&);

namespace {

// A check started by Python code inside another check (a predicate that
// checks again) counts as a level of the interpreter's recursion, so that
// such a loop ends in RecursionError as plain Python recursion does.
class ReentryGuard {
public:
    ReentryGuard() : entered_(Py_EnterRecursiveCall(" while checking a value") == 0) {}
    ~ReentryGuard() {
        if (entered_) Py_LeaveRecursiveCall();
    }
    ReentryGuard(const ReentryGuard&) = delete;
    ReentryGuard& operator=(const ReentryGuard&) = delete;
    bool entered() const { return entered_; }

private:
    bool entered_;
};

}  // namespace

bool validate_core(const ValidatorState& state, PyObject* value, bool fail_fast) {
    const ReentryGuard reentry;
    if (!reentry.entered()) return false;
    const LazyPrecompute& tables = state.lazy.get_or_build(state);
    WalkState walk;
    Path path;
    Records records;
    const WalkContext ctx = walk.context(state, tables, fail_fast ? WalkMode::FailFast : WalkMode::Collect);
    const bool member = walk_value(state.root, value, path, ctx, records);
    if (walk.fatal.exception) {
        py::restore_error(std::move(walk.fatal.exception));
        return false;
    }
    if (member) return true;
    build_validation_error(records);
    return false;
}

namespace {

template <class V>
int boolean_check(const ValidatorState& state, V value) {
    const ReentryGuard reentry;
    if (!reentry.entered()) return -1;
    const LazyPrecompute& tables = state.lazy.get_or_build(state);
    WalkState walk;
    Path path;
    Records records;
    const bool member = walk_value(state.root, value, path, walk.context(state, tables, WalkMode::Boolean), records);
    if (walk.fatal.exception) {
        py::restore_error(std::move(walk.fatal.exception));
        return -1;
    }
    return member ? 1 : 0;
}

}  // namespace

int is_member(const ValidatorState& state, PyObject* value) { return boolean_check(state, value); }

int is_json_member(const ValidatorState& state, const JsonTree& tree) {
    return boolean_check(state, JsonRef{&tree, &tree.root()});
}

}  // namespace kestrome
