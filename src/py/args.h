// Argument parsing from a static description per callable, with the
// messages that callers of the module see.
#pragma once
#include "py/python.h"

#include <cstddef>
#include <span>

namespace kestrome::py {

struct KeywordOnlyParameter {
    const char* name;
    bool required;
};

struct FunctionDescription {
    const char* class_name;  // nullptr for a module function
    const char* name;
    std::span<const char* const> positional;  // positional-or-keyword, in order
    std::size_t required_positional;
    std::span<const KeywordOnlyParameter> keyword_only;
    bool varargs;  // takes any number of further positional arguments
};

// The extra positional arguments of a callable with varargs.
struct VarArgs {
    PyObject* const* items = nullptr;
    std::size_t count = 0;
};

// Fills `out` (one borrowed slot per positional, then keyword-only, parameter;
// nullptr when not given). Returns false with the TypeError set.
bool parse_fastcall(const FunctionDescription& desc, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames, PyObject** out, VarArgs* varargs = nullptr);

// The same for the tuple-and-dict convention (type constructors).
bool parse_tuple_dict(const FunctionDescription& desc, PyObject* args, PyObject* kwargs,
                      PyObject** out);

// The method-table entry of a METH_FASTCALL | METH_KEYWORDS function: the
// table has one pointer type for every calling convention, and the flags say
// which one the interpreter calls it with.
using FastcallFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
inline PyMethodDef fastcall_method(const char* name, FastcallFunction function, const char* doc) {
    return PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
                       METH_FASTCALL | METH_KEYWORDS, doc};
}

}  // namespace kestrome::py
