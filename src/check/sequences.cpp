// Lists, tuples, sets and frozensets.
#include "check/parts.h"
#include "check/step.h"
#include "check/value_kind.h"
#include "py/no_python.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace kestrome {

namespace {

template <class V>
void push_length_error(const char* code, const char* kind, std::size_t n, bool tail, V value, const Path& path,
                       Records& records) {
    std::string expected = kind;
    expected += tail ? " of length at least " : " of length ";
    append_decimal(expected, n);
    push_record(code, std::move(expected), value_ref_repr(value), path, records);
}

// Whether the prepared test accepts every element of an exact set or
// frozenset, read from its hash table (a free slot has no key, a deleted one
// the hash -1, which no element has).
bool set_elements_accepted(PyObject* set, const FastCheck& check) {
    const auto* table = reinterpret_cast<PySetObject*>(set);
    const py::NoPythonScope no_python;
    return with_fast_test(check, [table](auto test) {
        for (Py_ssize_t i = 0; i <= table->mask; ++i) {
            const setentry& entry = table->table[i];
            if (entry.key == nullptr || entry.hash == -1) continue;
            if (!test(entry.key)) return false;
        }
        return true;
    });
}

bool walk_set_elements(const Schema& node, PyObject* value, Path& path, const WalkContext& ctx, Records& records) {
    const FastCheck element_check = prepare_fast_check(*node.inner(), ctx);
    if (PyAnySet_CheckExact(value) && element_check.form != FastForm::None &&
        set_elements_accepted(value, element_check)) {
        return true;
    }
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(value));
    if (!iterator) return fold_pending_error(ctx);
    bool ok = true;
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        const std::optional<bool> fast = fast_member(element_check, item.get());
        const bool member = fast && (*fast || !ctx.makes_records())
                                ? *fast && !*ctx.stop
                                : walk_value(*node.inner(), item.get(), path, ctx, records);
        if (!member) {
            ok = false;
            if (ctx.stops_early()) return false;
        }
    }
    // A set whose size changed while it was walked (or a failing __iter__)
    // is not a member; the exception is folded like any other.
    if (PyErr_Occurred()) return fold_pending_error(ctx);
    return ok;
}

// Whether a list or tuple of `len` items has a length the shape admits.
bool length_fits(const LinearShape& shape, std::size_t len) {
    return shape.tail != nullptr ? len >= shape.prefix_len : len == shape.prefix_len;
}

// Whether a list or tuple whose every position has a prepared test is
// certainly accepted, decided by those tests alone (no Python code runs, so
// the items cannot change under the scan).
template <class V>
bool sequence_fast_accepts(const Schema& node, const SequenceChecks& checks, V value) {
    using Values = ValueKind<V>;
    const bool tuple = node.tuple_flag == TUPLE_FLAG;
    if (!Values::is_sequence(value, tuple)) return false;
    const std::size_t len = Values::length(value);
    const std::size_t n = checks.shape.prefix_len;
    if (!length_fits(checks.shape, len)) return false;
    for (std::size_t i = 0; i < len; ++i) {
        const FastCheck& check = i < n ? checks.prefix[i] : checks.tail;
        const std::optional<bool> fast = fast_member(check, Values::item(value, tuple, i));
        if (!fast || !*fast) return false;
    }
    return true;
}

// The leading items of a list or tuple of such lists or tuples that their
// tests certainly accept, where the roads are open. Each item stands for one
// more walk level, which the memo of decisions reads in the peak.
template <class V>
std::size_t sequences_accepted_run(const Schema& item_node, const SequenceChecks& checks, V sequence, bool tuple,
                                   const WalkContext& ctx) {
    using Values = ValueKind<V>;
    const std::size_t n = Values::length(sequence);
    if (n == 0 || !ctx.call->nesting.note_below()) return 0;
    const py::NoPythonScope no_python;
    std::size_t i = 0;
    while (i < n && sequence_fast_accepts(item_node, checks, Values::item(sequence, tuple, i))) ++i;
    return i;
}

// No test: where the roads are closed.
const FastCheck NO_CHECK{};

// The walk of a list or tuple by its shape and its positions' tests.
template <class V>
[[gnu::always_inline]] inline bool walk_sequence_with(const Schema& node, const SequenceChecks& checks, V value,
                                                      Path& path, const WalkContext& ctx, Records& records) {
    using Values = ValueKind<V>;
    const LinearShape& linear = checks.shape;
    const bool tuple = node.tuple_flag == TUPLE_FLAG;
    if (!Values::is_sequence(value, tuple)) {
        if (ctx.makes_records()) {
            push_record(tuple ? "tuple_type" : "list_type", tuple ? "tuple" : "list", value_ref_repr(value), path,
                        records);
        }
        return false;
    }
    const std::size_t len = Values::length(value);
    const std::size_t n = linear.prefix_len;
    const bool has_tail = linear.tail != nullptr;
    if (!length_fits(linear, len)) {
        if (ctx.makes_records()) {
            push_length_error(tuple ? "tuple_length" : "list_length", tuple ? "tuple" : "list", n, has_tail, value,
                              path, records);
        }
        return false;
    }
    const bool roads = roads_open(*ctx.call);
    const FastCheck& tail_check = roads ? checks.tail : NO_CHECK;
    std::size_t start = 0;
    if (n == 0 && has_tail && tail_check.form != FastForm::None) {
        start = Values::accepted_run(tail_check, value, tuple);
        if (start == len) return true;
    } else if (roads && n == 0 && has_tail && linear.tail->kind == Kind::Record) {
        // Records decided by their prepared pass skip a walk level each.
        if (const FieldNameSet* names = ctx.field_names->find(record_key(*linear.tail))) {
            start = records_accepted_run(*names, value, tuple, ctx);
            if (start == len) return true;
        }
    } else if (roads && n == 0 && has_tail && linear.tail->kind == Kind::Sequence) {
        // And lists or tuples decided by their positions' tests alone.
        const SequenceChecks* items = ctx.sequences->find(sequence_key(*linear.tail));
        if (items != nullptr && items->all_fast) {
            start = sequences_accepted_run(*linear.tail, *items, value, tuple, ctx);
            if (start == len) return true;
        }
    } else if (roads && n == 0 && has_tail && linear.tail->kind == Kind::Union && !ctx.tagged->empty()) {
        // So are the members a tagged union's tags select.
        if (const TaggedUnion* tagged = ctx.tagged->find(union_key(*linear.tail))) {
            start = tagged_accepted_run(*tagged, *linear.tail, value, tuple, ctx);
            if (start == len) return true;
        }
    }
    [[maybe_unused]] const auto held = Values::hold(value);
    bool ok = true;
    for (std::size_t i = start; i < len; ++i) {
        if (*ctx.stop) return false;
        if (!Values::has_item(value, tuple, i)) break;
        const V item = Values::item(value, tuple, i);
        const bool in_prefix = i < n;
        const Schema& schema = in_prefix ? linear.prefix(i) : *linear.tail;
        // Decided without Python code: no reference or path step is needed.
        const std::optional<bool> fast = !roads                     ? std::nullopt
                                         : !in_prefix               ? fast_member(tail_check, item)
                                         : i < checks.prefix.size() ? fast_member(checks.prefix[i], item)
                                                                    : scalar_member(schema.kind, item);
        bool member;
        if (fast && (*fast || !ctx.makes_records())) {
            member = *fast;
        } else {
            [[maybe_unused]] const auto held_item = Values::hold(item);
            member = walk_part(schema, item, [i] { return PathSegment::at(i); }, path, ctx, records);
        }
        if (!member) {
            ok = false;
            if (ctx.stops_early()) break;
        }
    }
    return ok;
}

}  // namespace

// The shape and the positions' tests are prepared once per validator,
// except for a list or tuple whose items a kind test decides and in the
// algebra's walk, which has no tables: then the tail's test is made for the
// node, and the prefix is tested by kind alone.
template <class V>
bool walk_sequence(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    if (const SequenceChecks* checks = ctx.sequences->find(sequence_key(node))) {
        return walk_sequence_with(node, *checks, value, path, ctx, records);
    }
    const std::optional<LinearShape> linear = linearize_seq_shape(node.shape());
    if (!linear) return false;
    SequenceChecks made;
    made.shape = *linear;
    if (linear->tail != nullptr) made.tail = prepare_fast_check(*linear->tail, ctx);
    return walk_sequence_with(node, made, value, path, ctx, records);
}

template <class V>
bool walk_set(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    const bool frozen = node.kind == Kind::FrozenSet;
    if (!ValueKind<V>::is_set(value, frozen)) {
        if (ctx.makes_records()) {
            push_record(frozen ? "frozen_set_type" : "set_type", frozen ? "frozenset" : "set", value_ref_repr(value),
                        path, records);
        }
        return false;
    }
    if constexpr (ValueKind<V>::has_sets) {
        return walk_set_elements(node, value, path, ctx, records);
    } else {
        return false;
    }
}

KESTROME_INSTANTIATE_WALK(walk_sequence);
KESTROME_INSTANTIATE_WALK(walk_set);

}  // namespace kestrome
