// Records, type mismatches, literals and instance tests.
#pragma once
#include "check/fast.h"
#include "check/walk.h"
#include "util/text.h"

namespace kestrome {

// The text of the value under check.
inline std::string value_ref_repr(PyObject* value) { return value_repr(value); }

// Records a failure when the mode makes records; callers build `expected`
// only after testing the mode themselves where it is costly.
inline void push_record(const char* code, std::string expected, std::string value_text, const Path& path,
                        Records& records) {
    records.push_back(ErrorRecord{path, std::move(expected), std::move(value_text), code});
}

inline bool push_type_error(bool ok, const Schema& node, PyObject* value, const Path& path, const WalkContext& ctx,
                            Records& records) {
    if (!ok && ctx.makes_records()) {
        push_record(schema_error_code(node), schema_kind_name(node), value_ref_repr(value), path, records);
    }
    return ok;
}

// A child walk that decides scalar type tests in place; only a failure in a
// recording mode goes through the general walk, which records it.
inline bool walk_child(const Schema& node, PyObject* value, Path& path, const WalkContext& ctx, Records& records) {
    if (const std::optional<bool> answer = scalar_member(node.kind, value)) {
        if (*answer || !ctx.makes_records()) return *answer && !*ctx.stop;
    }
    return walk_value(node, value, path, ctx, records);
}

inline bool walk_literal(const Schema& node, PyObject* value, const Path& path, const WalkContext& ctx,
                         Records& records) {
    PyObject* constant = ctx.constant(node.index);
    if (constant == nullptr) return false;
    bool ok = false;
    if (Py_TYPE(value) == Py_TYPE(constant)) {
        ok = fold_truth(py::Ref::steal(PyObject_RichCompare(value, constant, Py_EQ)), ctx);
    }
    if (!ok && ctx.makes_records()) {
        push_record("literal_error", "the literal " + value_repr(constant), value_ref_repr(value), path, records);
    }
    return ok;
}

inline bool walk_instance(const Schema& node, PyObject* value, const Path& path, const WalkContext& ctx,
                          Records& records) {
    PyObject* cls = ctx.constant(node.index);
    if (cls == nullptr) return false;
    const bool ok = fold_check_result(PyObject_IsInstance(value, cls), ctx);
    if (!ok && ctx.makes_records()) {
        push_record("instance_type", class_display_name(cls), value_ref_repr(value), path, records);
    }
    return ok;
}

}  // namespace kestrome
