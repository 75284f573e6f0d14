// The typing objects the compiler compares specs against, resolved once
// per process and compared by identity.
#pragma once
#include "py/ref.h"

namespace kestrome {

struct TypingNames {
    PyObject* any = nullptr;          // typing.Any
    PyObject* union_form = nullptr;   // typing.Union
    PyObject* optional = nullptr;     // typing.Optional
    PyObject* union_type = nullptr;   // types.UnionType
    PyObject* literal = nullptr;      // typing.Literal
    PyObject* object = nullptr;       // builtins.object
    PyObject* enum_class = nullptr;   // enum.Enum
    PyObject* callable = nullptr;     // collections.abc.Callable
    PyObject* ellipsis = nullptr;     // builtins.Ellipsis
    PyObject* never = nullptr;        // typing.Never, when present
    PyObject* no_return = nullptr;    // typing.NoReturn, when present
    PyObject* type_alias_type = nullptr;  // typing.TypeAliasType, when present
};

// The process-wide record, or nullptr with the resolution's exception pending.
const TypingNames* typing_names();

// Whether `obj` is the Ellipsis; false (the error discarded) when the typing
// objects cannot be resolved.
bool is_ellipsis(PyObject* obj);

}  // namespace kestrome
