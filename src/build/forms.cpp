// Generic aliases (list[T], dict[K, V], tuple[...], unions, literals, ...)
// and list literals.
#include "build/compile.h"
#include "build/typing_names.h"
#include "util/text.h"

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

constexpr const char* ONE_ARGUMENT = "expected exactly one type argument";

py::Ref single_type_argument(PyObject* args) {
    if (PyTuple_GET_SIZE(args) != 1) {
        not_implemented_error(ONE_ARGUMENT);
        return py::Ref();
    }
    return py::Ref::borrow(PyTuple_GET_ITEM(args, 0));
}

py::Result<Schema> compile_single(PyObject* args, ConstantsPool& pool, std::vector<Schema>& definitions) {
    py::Ref arg = single_type_argument(args);
    if (!arg) return py::raised;
    return compile_schema(arg.get(), pool, definitions);
}

// Compiles every element `get(i)` for i < n in order, rejecting `...`.
template <class Get>
py::Result<std::vector<Schema>> compile_items(std::size_t n, Get&& get, const char* ellipsis_message,
                                              ConstantsPool& pool, std::vector<Schema>& definitions) {
    std::vector<Schema> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        py::Ref item = get(i);
        if (!item) return py::raised;
        if (is_ellipsis(item.get())) {
            not_implemented_error(ellipsis_message);
            return py::raised;
        }
        py::Result<Schema> schema = compile_schema(item.get(), pool, definitions);
        if (!schema) return py::raised;
        out.push_back(std::move(*schema));
    }
    return out;
}

// The shape of positions followed by an optional tail (`tail` null when
// there is none).
SeqShape positions_shape(std::vector<Schema> items, std::optional<Schema> tail) {
    if (!tail) return seq_shape_concat(std::move(items));
    if (items.empty()) return seq_shape_repeat(std::move(*tail));
    return seq_shape_prefix_tail(std::move(items), std::move(*tail));
}

// The shape of the positional notation shared by tuple[...] and list
// literals: a trailing `...` repeats the element before it.
template <class Get>
py::Result<SeqShape> compile_positions(std::size_t n, Get&& get, const char* ellipsis_message,
                                       ConstantsPool& pool, std::vector<Schema>& definitions) {
    bool tail = false;
    if (n >= 2) {
        py::Ref last = get(n - 1);
        if (!last) return py::raised;
        tail = is_ellipsis(last.get());
    }
    py::Result<std::vector<Schema>> items =
        compile_items(tail ? n - 1 : n, get, ellipsis_message, pool, definitions);
    if (!items) return py::raised;
    if (!tail) return positions_shape(std::move(*items), std::nullopt);
    Schema last = std::move(items->back());
    items->pop_back();
    return positions_shape(std::move(*items), std::move(last));
}

constexpr const char* TUPLE_ELLIPSIS = "`...` may appear only as the last element of a tuple schema";

// The arguments of the tuple an argument unpacks (*tuple[...] or
// Unpack[tuple[...]]); empty with nothing pending when it unpacks none.
py::Result<py::Ref> unpacked_tuple_args(PyObject* arg, const TypingNames& names) {
    if (PyType_Check(arg) || is_ellipsis(arg)) return py::Ref();
    py::Ref tuple_form;
    if (Py_IS_TYPE(arg, &Py_GenericAliasType)) {
        py::Ref unpacked = py::Ref::steal(PyObject_GetAttr(arg, names.str(Name::Unpacked)));
        if (!unpacked) return py::raised;
        const int truth = PyObject_IsTrue(unpacked.get());
        if (truth < 0) return py::raised;
        if (truth == 0) return py::Ref();
        tuple_form = py::Ref::borrow(arg);
    } else {
        py::Ref origin = py::Ref::steal(PyObject_CallOneArg(names.get_origin, arg));
        if (!origin) return py::raised;
        py::Result<bool> unpack = is_typing_marker(origin.get(), Name::Unpack, names);
        if (!unpack) return py::raised;
        if (!*unpack) return py::Ref();
        py::Ref inner = py::Ref::steal(PyObject_CallOneArg(names.get_args, arg));
        if (!inner) return py::raised;
        if (!PyTuple_Check(inner.get()) || PyTuple_GET_SIZE(inner.get()) != 1) return py::Ref();
        tuple_form = py::Ref::borrow(PyTuple_GET_ITEM(inner.get(), 0));
    }
    py::Ref origin = py::Ref::steal(PyObject_CallOneArg(names.get_origin, tuple_form.get()));
    if (!origin) return py::raised;
    // Unpack[Ts] of a TypeVarTuple is left to the general road, which refuses it.
    if (origin.get() != reinterpret_cast<PyObject*>(&PyTuple_Type)) return py::Ref();
    py::Ref args = py::Ref::steal(PyObject_CallOneArg(names.get_args, tuple_form.get()));
    if (!args) return py::raised;
    if (!PyTuple_Check(args.get())) {
        py::set_type_mismatch(args.get(), reinterpret_cast<PyObject*>(&PyTuple_Type));
        return py::raised;
    }
    return args;
}

// Tuple arguments with every unpacked tuple spread in place: a fixed one
// gives its positions, tuple[X, ...] the tail X, after which nothing may come.
struct SpreadArgs {
    std::vector<py::Ref> positions;
    py::Ref tail;
    bool unpacked = false;
};

py::Result<SpreadArgs> spread_tuple_args(PyObject* args, const TypingNames& names) {
    struct Frame {
        py::Ref args;
        std::size_t next;
        std::size_t end;
        bool tail_after;  // args[end] is the tail once the positions are read
    };
    SpreadArgs out;
    // Iterative: unpacked tuples may nest without bound.
    std::vector<Frame> stack;
    stack.push_back(Frame{py::Ref::borrow(args), 0, static_cast<std::size_t>(PyTuple_GET_SIZE(args)), false});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.end) {
            if (frame.tail_after) out.tail = py::Ref::borrow(PyTuple_GET_ITEM(frame.args.get(), frame.end));
            stack.pop_back();
            continue;
        }
        py::Ref arg = py::Ref::borrow(PyTuple_GET_ITEM(frame.args.get(), frame.next));
        ++frame.next;
        if (out.tail) {
            not_implemented_error("an unpacked tuple[X, ...] must be the last element of a tuple schema");
            return py::raised;
        }
        py::Result<py::Ref> inner = unpacked_tuple_args(arg.get(), names);
        if (!inner) return py::raised;
        if (!*inner) {
            out.positions.push_back(std::move(arg));
            continue;
        }
        out.unpacked = true;
        const std::size_t n = static_cast<std::size_t>(PyTuple_GET_SIZE(inner->get()));
        const bool tail = n >= 2 && is_ellipsis(PyTuple_GET_ITEM(inner->get(), n - 1));
        // The reference moves into the frame; `frame` may dangle after the push.
        stack.push_back(Frame{std::move(*inner), 0, tail ? n - 2 : n, tail});
    }
    return out;
}

py::Result<Schema> compile_all_union(PyObject* args, ConstantsPool& pool, std::vector<Schema>& definitions) {
    const std::size_t n = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    std::vector<Schema> members;
    members.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        py::Ref arg = py::Ref::borrow(PyTuple_GET_ITEM(args, i));
        py::Result<Schema> schema = compile_schema(arg.get(), pool, definitions);
        if (!schema) return py::raised;
        members.push_back(std::move(*schema));
    }
    return union_of(std::move(members));
}

// Whether `origin` is one of the markers of a typed dict's keys (Required,
// NotRequired, ReadOnly): a marker compiles as its argument, since the
// typed dict reads which keys are required apart. A marker that typing
// lacks is not the origin.
py::Result<bool> is_key_marker(PyObject* origin, const TypingNames& names) {
    for (Name name : {Name::Required, Name::NotRequired, Name::ReadOnly}) {
        py::Result<bool> marker = is_typing_marker(origin, name, names);
        if (!marker || *marker) return marker;
    }
    return false;
}

py::Result<Schema> compile_tuple(PyObject* args, ConstantsPool& pool, std::vector<Schema>& definitions) {
    const TypingNames* names = typing_names();
    if (names == nullptr) return py::raised;
    py::Result<SpreadArgs> spread = spread_tuple_args(args, *names);
    if (!spread) return py::raised;
    if (!spread->unpacked) {
        auto get = [args](std::size_t i) { return py::Ref::borrow(PyTuple_GET_ITEM(args, i)); };
        py::Result<SeqShape> shape = compile_positions(static_cast<std::size_t>(PyTuple_GET_SIZE(args)), get,
                                                       TUPLE_ELLIPSIS, pool, definitions);
        if (!shape) return py::raised;
        return sequence_of(TUPLE_FLAG, std::move(*shape));
    }
    auto get = [&](std::size_t i) { return py::Ref::borrow(spread->positions[i].get()); };
    py::Result<std::vector<Schema>> items =
        compile_items(spread->positions.size(), get, TUPLE_ELLIPSIS, pool, definitions);
    if (!items) return py::raised;
    std::optional<Schema> tail;
    if (spread->tail) {
        auto tail_get = [&](std::size_t) { return py::Ref::borrow(spread->tail.get()); };
        py::Result<std::vector<Schema>> compiled = compile_items(1, tail_get, TUPLE_ELLIPSIS, pool, definitions);
        if (!compiled) return py::raised;
        tail = std::move(compiled->front());
    }
    return sequence_of(TUPLE_FLAG, positions_shape(std::move(*items), std::move(tail)));
}

}  // namespace

py::Result<Schema> compile_typing_form(PyObject* origin, PyObject* args, ConstantsPool& pool,
                                       std::vector<Schema>& definitions) {
    const std::size_t n = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    if (origin == reinterpret_cast<PyObject*>(&PyList_Type)) {
        if (n != 1) {
            not_implemented_error(ONE_ARGUMENT);
            return py::raised;
        }
        py::Result<Schema> item = compile_schema(PyTuple_GET_ITEM(args, 0), pool, definitions);
        if (!item) return py::raised;
        return sequence_of(LIST_FLAG, seq_shape_repeat(std::move(*item)));
    }
    if (origin == reinterpret_cast<PyObject*>(&PySet_Type) ||
        origin == reinterpret_cast<PyObject*>(&PyFrozenSet_Type)) {
        py::Result<Schema> element = compile_single(args, pool, definitions);
        if (!element) return py::raised;
        const Kind kind = origin == reinterpret_cast<PyObject*>(&PySet_Type) ? Kind::Set : Kind::FrozenSet;
        return boxed(kind, std::move(*element));
    }
    if (origin == reinterpret_cast<PyObject*>(&PyDict_Type)) {
        if (n != 2) {
            not_implemented_error("dict[...] needs a key type and a value type");
            return py::raised;
        }
        py::Result<Schema> key = compile_schema(PyTuple_GET_ITEM(args, 0), pool, definitions);
        if (!key) return py::raised;
        py::Result<Schema> value = compile_schema(PyTuple_GET_ITEM(args, 1), pool, definitions);
        if (!value) return py::raised;
        return dict_record_of(std::move(*key), std::move(*value));
    }
    if (origin == reinterpret_cast<PyObject*>(&PyTuple_Type)) return compile_tuple(args, pool, definitions);

    const TypingNames* names = typing_names();
    if (names == nullptr) return py::raised;
    py::Result<bool> marked = is_key_marker(origin, *names);
    if (!marked) return py::raised;
    if (*marked) return compile_single(args, pool, definitions);
    if (origin == names->union_form || origin == names->union_type || origin == names->literal) {
        return compile_all_union(args, pool, definitions);
    }
    if (origin == names->callable) {
        return indexed(Kind::Instance, pool_intern(pool, origin));
    }
    not_implemented_error("unsupported typing form with origin " + value_repr(origin) +
                          "; supported: list, set, dict, tuple, Union, Optional, Literal, Callable");
    return py::raised;
}

py::Result<Schema> compile_list_literal(PyObject* list, ConstantsPool& pool, std::vector<Schema>& definitions) {
    const std::size_t n = static_cast<std::size_t>(PyList_GET_SIZE(list));
    // Elements are read by index when needed; a list shortened meanwhile
    // raises its own IndexError.
    auto get = [list](std::size_t i) {
        return py::Ref::borrow(PyList_GetItem(list, static_cast<Py_ssize_t>(i)));
    };
    constexpr const char* message = "`...` may appear only as the last element of a list schema";
    if (n == 1) {
        py::Ref only = get(0);
        if (!only) return py::raised;
        if (!is_ellipsis(only.get())) {
            py::Result<Schema> item = compile_schema(only.get(), pool, definitions);
            if (!item) return py::raised;
            return sequence_of(LIST_FLAG, seq_shape_repeat(std::move(*item)));
        }
    }
    py::Result<SeqShape> shape = compile_positions(n, get, message, pool, definitions);
    if (!shape) return py::raised;
    return sequence_of(LIST_FLAG, std::move(*shape));
}

}  // namespace kestrome
