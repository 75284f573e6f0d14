// Generic aliases (list[T], dict[K, V], tuple[...], unions, literals, ...)
// and list literals.
#include "build/compile.h"
#include "build/typing_names.h"
#include "util/text.h"

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
    if (!tail) return seq_shape_concat(std::move(*items));
    Schema last = std::move(items->back());
    items->pop_back();
    if (items->empty()) return seq_shape_repeat(std::move(last));
    return seq_shape_prefix_tail(std::move(*items), std::move(last));
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

// Whether `origin` is typing's Required or NotRequired: a marker compiles
// as its argument, since a typed dict reads which keys are required from
// its class. A marker that typing lacks is not the origin.
py::Result<bool> is_required_marker(PyObject* origin, const TypingNames& names) {
    py::Ref typing = typing_module(names);
    if (!typing) return py::raised;
    for (Name name : {Name::Required, Name::NotRequired}) {
        py::Ref marker = py::Ref::steal(PyObject_GetAttr(typing.get(), names.str(name)));
        if (!marker) {
            py::discard_error();
            continue;
        }
        if (origin == marker.get()) return true;
    }
    return false;
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
    if (origin == reinterpret_cast<PyObject*>(&PyTuple_Type)) {
        auto get = [args](std::size_t i) { return py::Ref::borrow(PyTuple_GET_ITEM(args, i)); };
        py::Result<SeqShape> shape =
            compile_positions(n, get, "`...` may appear only as the last element of a tuple schema", pool,
                              definitions);
        if (!shape) return py::raised;
        return sequence_of(TUPLE_FLAG, std::move(*shape));
    }

    const TypingNames* names = typing_names();
    if (names == nullptr) return py::raised;
    py::Result<bool> marked = is_required_marker(origin, *names);
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
