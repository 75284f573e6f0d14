// The membership walk: whether a value belongs to a schema, recording why
// not unless the walk runs in boolean mode. Written once over the value
// kind: a Python value (PyObject*) or a node of a parsed JSON document
// (JsonRef), which value_kind.h adapts to what a container's walk reads.
//
// This is the walk's only header for other code. Inside: walk.cpp holds the
// levels and the entry points, each kind's walk lives in the source file of
// its kind (scalars, sequences, records, objects, logic) and is instantiated
// there for both value kinds; fast.h holds the prepared item tests, memo.h
// and recursion_guard.h the recursion guard and the memo of decisions.
#pragma once
#include "check/context.h"
#include "json/tree.h"

#include <optional>

namespace kestrome {

template <class V>
bool walk_value(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records);

extern template bool walk_value<PyObject*>(const Schema&, PyObject*, Path&, const WalkContext&, Records&);
extern template bool walk_value<JsonRef>(const Schema&, JsonRef, Path&, const WalkContext&, Records&);

// The validate core: success, or the held fatal exception, or the
// ValidationError of the records, left pending (false).
bool validate_core(const ValidatorState& state, PyObject* value, bool fail_fast);

// The boolean check: 1 member, 0 non-member, -1 with the held fatal
// exception pending.
int is_member(const ValidatorState& state, PyObject* value);

// The same for the root of a parsed JSON document.
int is_json_member(const ValidatorState& state, const JsonTree& tree);

// The answer of a scalar kind's type test (Nothing's included), or nothing
// for a kind that is not scalar.
std::optional<bool> scalar_type_test(Kind kind, PyObject* value);

}  // namespace kestrome
