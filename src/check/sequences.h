// Lists, tuples, sets and frozensets.
#pragma once
#include "check/scalars.h"

namespace kestrome {

inline void push_length_error(const char* code, const char* kind, std::size_t n, bool tail, PyObject* value,
                              const Path& path, Records& records) {
    std::string expected = kind;
    expected += tail ? " of length at least " : " of length ";
    append_decimal(expected, n);
    push_record(code, std::move(expected), value_ref_repr(value), path, records);
}

inline bool walk_sequence(const Schema& node, PyObject* value, Path& path, const WalkContext& ctx,
                          Records& records) {
    const std::optional<LinearShape> linear = linearize_seq_shape(node.shape);
    if (!linear) return false;
    const bool tuple = node.tuple_flag == TUPLE_FLAG;
    if (tuple ? !PyTuple_Check(value) : !PyList_Check(value)) {
        if (ctx.makes_records()) {
            push_record(tuple ? "tuple_type" : "list_type", tuple ? "tuple" : "list", value_ref_repr(value), path,
                        records);
        }
        return false;
    }
    const std::size_t len = static_cast<std::size_t>(Py_SIZE(value));
    const std::size_t n = linear->prefix_len;
    const bool has_tail = linear->tail != nullptr;
    if (has_tail ? len < n : len != n) {
        if (ctx.makes_records()) {
            push_length_error(tuple ? "tuple_length" : "list_length", tuple ? "tuple" : "list", n, has_tail, value,
                              path, records);
        }
        return false;
    }
    py::Ref held = py::Ref::borrow(value);
    bool ok = true;
    for (std::size_t i = 0; i < len; ++i) {
        PyObject* item;
        py::Ref held_item;
        if (tuple) {
            item = PyTuple_GET_ITEM(value, static_cast<Py_ssize_t>(i));
        } else {
            // Python code run by the walk may shrink the list: stop at its end.
            if (i >= static_cast<std::size_t>(PyList_GET_SIZE(value))) break;
            item = PyList_GET_ITEM(value, static_cast<Py_ssize_t>(i));
            held_item = py::Ref::borrow(item);
        }
        const Schema& schema = i < n ? linear->prefix(i) : *linear->tail;
        bool member;
        if (ctx.makes_records()) {
            path.push_back(PathSegment::at(i));
            member = walk_value(schema, item, path, ctx, records);
            path.pop_back();
        } else {
            member = walk_child(schema, item, path, ctx, records);
        }
        if (!member) {
            ok = false;
            if (ctx.stops_early()) break;
        }
    }
    return ok;
}

inline bool walk_set(const Schema& node, PyObject* value, Path& path, const WalkContext& ctx, Records& records) {
    const bool frozen = node.kind == Kind::FrozenSet;
    if (frozen ? !PyFrozenSet_Check(value) : !PySet_Check(value)) {
        if (ctx.makes_records()) {
            push_record(frozen ? "frozen_set_type" : "set_type", frozen ? "frozenset" : "set", value_ref_repr(value),
                        path, records);
        }
        return false;
    }
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(value));
    if (!iterator) return fold_pending_error(ctx);
    bool ok = true;
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        if (!walk_value(*node.inner, item.get(), path, ctx, records)) {
            ok = false;
            if (ctx.stops_early()) return false;
        }
    }
    // A set whose size changed while it was walked (or a failing __iter__)
    // is not a member; the exception is folded like any other.
    if (PyErr_Occurred()) return fold_pending_error(ctx);
    return ok;
}

}  // namespace kestrome
