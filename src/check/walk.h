// The membership walk: whether a value belongs to a schema, recording why
// not unless the walk runs in boolean mode. Written once over the value
// kind; Python values are walked as PyObject*.
#pragma once
#include "check/context.h"

namespace kestrome {

template <class V>
bool walk_value(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records);

template <>
bool walk_value<PyObject*>(const Schema&, PyObject*, Path&, const WalkContext&, Records&);

// A child walk with the scalar type tests of boolean mode done in place,
// which is most of the work of large homogeneous containers.
inline bool walk_child(const Schema& node, PyObject* value, Path& path, const WalkContext& ctx, Records& records) {
    if (ctx.mode == WalkMode::Boolean && !*ctx.stop) {
        switch (node.kind) {
            case Kind::Anything:
            case Kind::Any: return true;
            case Kind::NoneType: return value == Py_None;
            case Kind::Bool: return Py_IS_TYPE(value, &PyBool_Type);
            case Kind::Int: return PyLong_Check(value);
            case Kind::Float: return PyFloat_Check(value);
            case Kind::Str: return PyUnicode_Check(value);
            case Kind::Bytes: return PyBytes_Check(value);
            default: break;
        }
    }
    return walk_value(node, value, path, ctx, records);
}

// The validate core: success, or the held fatal exception, or the
// ValidationError of the records, left pending (false).
bool validate_core(const ValidatorState& state, PyObject* value, bool fail_fast);

// The boolean check: 1 member, 0 non-member, -1 with the held fatal
// exception pending.
int is_member(const ValidatorState& state, PyObject* value);

}  // namespace kestrome
