// The value-kind adapter: what the walk reads of a container, for a Python
// value (PyObject*) and for a node of a parsed JSON document (JsonRef), so
// that each container kind's walk is written once over both.
//
// A Python value can run code while it is walked (a predicate, __eq__), so
// its adapter hands out references to hold (`hold`) and rereads what that
// code may change; a JSON tree is fixed for the whole check, and holding is
// free.
#pragma once
#include "check/fast.h"

#include <string_view>

namespace kestrome {

template <class V>
struct ValueKind;

template <>
struct ValueKind<PyObject*> {
    using Held = py::Ref;
    static Held hold(PyObject* value) { return py::Ref::borrow(value); }

    // Lists and tuples.
    static bool is_sequence(PyObject* value, bool tuple) {
        return tuple ? PyTuple_Check(value) != 0 : PyList_Check(value) != 0;
    }
    static std::size_t length(PyObject* value) { return static_cast<std::size_t>(Py_SIZE(value)); }
    static PyObject* const* items(PyObject* value, bool tuple) {
        return tuple ? reinterpret_cast<PyTupleObject*>(value)->ob_item
                     : reinterpret_cast<PyListObject*>(value)->ob_item;
    }
    // Python code run by the walk may shrink a list: its items are reread.
    static bool has_item(PyObject* value, bool tuple, std::size_t i) {
        return tuple || i < static_cast<std::size_t>(PyList_GET_SIZE(value));
    }
    static PyObject* item(PyObject* value, bool tuple, std::size_t i) { return items(value, tuple)[i]; }
    // The leading items the prepared test certainly accepts: no Python code
    // runs, so the items cannot change under the scan.
    static std::size_t accepted_run(const FastCheck& check, PyObject* value, bool tuple) {
        return fast_accepted_run(check, items(value, tuple), length(value));
    }

    // Sets and frozensets.
    static constexpr bool has_sets = true;
    static bool is_set(PyObject* value, bool frozen) {
        return frozen ? PyFrozenSet_Check(value) != 0 : PySet_Check(value) != 0;
    }
};

template <>
struct ValueKind<JsonRef> {
    struct Held {};
    static Held hold(JsonRef) { return {}; }

    // Arrays; no JSON node is a tuple.
    static bool is_sequence(JsonRef value, bool tuple) { return !tuple && value.node->kind == JsonKind::Array; }
    static std::size_t length(JsonRef value) { return value.node->count; }
    static bool has_item(JsonRef, bool, std::size_t) { return true; }
    static JsonRef item(JsonRef value, bool, std::size_t i) {
        return JsonRef{value.tree, &value.tree->item(*value.node, static_cast<std::uint32_t>(i))};
    }
    static std::size_t accepted_run(const FastCheck& check, JsonRef value, bool tuple) {
        const std::size_t n = length(value);
        std::size_t i = 0;
        while (i < n && fast_accepts(check, item(value, tuple, i))) ++i;
        return i;
    }

    // No JSON node is a set.
    static constexpr bool has_sets = false;
    static bool is_set(JsonRef, bool) { return false; }
};

}  // namespace kestrome
