// Scalar kinds, literals and instance tests.
#include "check/parts.h"
#include "check/step.h"
#include "py/equality.h"

#include <optional>

namespace kestrome {

template <class V>
bool walk_scalar(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    return push_type_error(*scalar_member(node.kind, value), node, value, path, ctx, records);
}

template <class V>
bool walk_literal(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    PyObject* constant = ctx.constant(node.index);
    if (constant == nullptr) return false;
    bool ok = false;
    // A plain constant (a str, an int, None, a bool, an object equal only to
    // itself) is compared without a Python call, and a JSON node without
    // being converted.
    const py::DecidedBy by = py::decided_by(constant);
    const std::optional<bool> plain = py::is_plain(by) ? constant_member(constant, by, value) : std::optional<bool>();
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
bool walk_instance(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    PyObject* cls = ctx.constant(node.index);
    if (cls == nullptr) return false;
    const py::Ref object = to_python(value);
    const bool ok = object ? fold_check_result(PyObject_IsInstance(object.get(), cls), ctx) : fold_pending_error(ctx);
    if (!ok && ctx.makes_records()) {
        push_record("instance_type", class_display_name(cls), value_ref_repr(value), path, records);
    }
    return ok;
}

std::optional<bool> scalar_type_test(Kind kind, PyObject* value) { return scalar_member(kind, value); }

KESTROME_INSTANTIATE_WALK(walk_scalar);
KESTROME_INSTANTIATE_WALK(walk_literal);
KESTROME_INSTANTIATE_WALK(walk_instance);

}  // namespace kestrome
