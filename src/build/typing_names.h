// The typing objects the compiler compares specs against, and the names it
// looks up on every compile, resolved once per process and compared by
// identity.
#pragma once
#include "py/error.h"
#include "py/ref.h"

#include <cstddef>

namespace kestrome {

// Interned texts of the module and attribute names the compiler reads on
// every compile, so that no lookup makes a string from C text.
enum class Name : std::size_t {
    Typing,
    Dataclasses,
    GetTypeHints,
    IsDataclass,
    Required,
    NotRequired,
    TypeVar,
    ParamSpec,
    TypeVarTuple,
    SpecialForm,
    Metadata,
    Origin,
    Supertype,
    Value,
    RequiredKeys,
    Fields,
    IsProtocol,
    IsRuntimeProtocol,
    Args,
    Getattr,
    ReadOnly,
    Unpack,
    Annotated,
    DataclassFields,
    FieldName,
    Unpacked,
    TypingExtensions,
    Count,
};

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
    PyObject* get_origin = nullptr;   // typing.get_origin
    PyObject* get_args = nullptr;     // typing.get_args
    PyObject* include_extras = nullptr;  // the keyword names ("include_extras",)
    // typing's own aliases of Optional/Union and Literal, and the __getattr__
    // they inherit, when present: the dispatch reads these directly.
    PyObject* union_alias = nullptr;     // typing._UnionGenericAlias
    PyObject* literal_alias = nullptr;   // typing._LiteralGenericAlias
    PyObject* alias_getattr = nullptr;   // typing._BaseGenericAlias.__getattr__
    PyObject* names[static_cast<std::size_t>(Name::Count)] = {};

    PyObject* str(Name name) const { return names[static_cast<std::size_t>(name)]; }
};

// The process-wide record, or nullptr with the resolution's exception pending.
const TypingNames* typing_names();

// Whether `obj` is the Ellipsis; false (the error discarded) when the typing
// objects cannot be resolved.
bool is_ellipsis(PyObject* obj);

// The module of that name as `import` gives it: read from sys.modules when
// it is there (and initialised), imported otherwise; empty with the
// exception pending on failure. Modules are read afresh on every call, so a
// module replaced or patched meanwhile is seen.
py::Ref import_module(PyObject* name);

// typing as sys.modules holds it now, the one road every compile takes to
// it: never kept, so that a module replaced meanwhile is the one asked for
// hints and markers, and a compile still fails while typing is blocked.
py::Ref typing_module(const TypingNames& names);

// Whether `obj` is the marker of that name on typing or, when some code has
// loaded it, on typing_extensions, whose markers may be objects of their
// own. A name a module lacks is no marker; a failure to import typing is
// pending.
py::Result<bool> is_typing_marker(PyObject* obj, Name name, const TypingNames& names);

// Whether `obj` is an instance of typing_extensions' own TypeAliasType (a
// class apart from typing's), known by the module and name of its exact
// type so that the module need not be imported. Runs no Python code.
bool is_extensions_type_alias(PyObject* obj);

}  // namespace kestrome
