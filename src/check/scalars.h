// Records, type mismatches, literals and instance tests.
#pragma once
#include "check/fast.h"
#include "check/walk.h"
#include "json/tree.h"
#include "util/text.h"

namespace kestrome {

// What the walk needs of a value beyond its kind's own tests: its text, its
// identity (for the recursion guard) and a Python object for it (the value
// itself, or a conversion of a JSON node, empty with the exception pending).
inline std::string value_ref_repr(PyObject* value) { return value_repr(value); }

inline std::string value_ref_repr(JsonRef value) {
    py::Ref converted = json_value_to_py(*value.tree, *value.node);
    if (!converted) {
        py::discard_error();
        return "<unrepresentable>";
    }
    return value_repr(converted.get());
}

inline std::uint64_t value_identity(PyObject* value) { return reinterpret_cast<std::uintptr_t>(value); }
inline std::uint64_t value_identity(JsonRef value) { return reinterpret_cast<std::uintptr_t>(value.node); }

inline py::Ref to_python(PyObject* value) { return py::Ref::borrow(value); }
inline py::Ref to_python(JsonRef value) { return json_value_to_py(*value.tree, *value.node); }


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

// A child walk that decides scalar type tests in place; only a failure in a
// recording mode goes through the general walk, which records it.
template <class V>
bool walk_child(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    if (const std::optional<bool> answer = scalar_member(node.kind, value)) {
        if (*answer || !ctx.makes_records()) return *answer && !*ctx.stop;
    }
    return walk_value(node, value, path, ctx, records);
}

// Walks a part of the value under one more path step (made by `step`, and
// only when the walk makes records).
template <class V, class Step>
bool walk_part(const Schema& schema, V value, Step&& step, Path& path, const WalkContext& ctx, Records& records) {
    if (!ctx.makes_records()) return walk_child(schema, value, path, ctx, records);
    path.push_back(step());
    const bool member = walk_value(schema, value, path, ctx, records);
    path.pop_back();
    return member;
}

template <class V>
[[gnu::noinline]] bool walk_literal(const Schema& node, V value, const Path& path, const WalkContext& ctx, Records& records) {
    PyObject* constant = ctx.constant(node.index);
    if (constant == nullptr) return false;
    bool ok = false;
    // A plain constant (a str, an int, None, a bool, an object equal only to
    // itself) is compared without a Python call, and a JSON node without
    // being converted.
    const std::optional<bool> plain =
        is_plain_constant(constant) ? constant_member(constant, value) : std::optional<bool>();
    if (plain) {
        ok = *plain;
    } else if (has_exact_type(value, Py_TYPE(constant))) {
        const py::Ref object = to_python(value);
        ok = object ? fold_truth(py::Ref::steal(PyObject_RichCompare(object.get(), constant, Py_EQ)), ctx)
                    : fold_pending_error(ctx);
    }
    if (!ok && ctx.makes_records()) {
        push_record("literal_error", "the literal " + value_repr(constant), value_ref_repr(value), path, records);
    }
    return ok;
}

template <class V>
[[gnu::noinline]] bool walk_instance(const Schema& node, V value, const Path& path, const WalkContext& ctx, Records& records) {
    PyObject* cls = ctx.constant(node.index);
    if (cls == nullptr) return false;
    const py::Ref object = to_python(value);
    const bool ok = object ? fold_check_result(PyObject_IsInstance(object.get(), cls), ctx) : fold_pending_error(ctx);
    if (!ok && ctx.makes_records()) {
        push_record("instance_type", class_display_name(cls), value_ref_repr(value), path, records);
    }
    return ok;
}

}  // namespace kestrome
