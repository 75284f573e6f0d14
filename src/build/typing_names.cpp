#include "build/typing_names.h"

#include "py/error.h"
#include "py/once.h"

namespace kestrome {

namespace {

py::ProcessOnce<TypingNames> typing_names_cell;

py::Ref import(const char* name) { return py::Ref::steal(PyImport_ImportModule(name)); }

py::Ref lookup(const py::Ref& module, const char* name) {
    return py::Ref::steal(PyObject_GetAttrString(module.get(), name));
}

// A slot that may be absent: a failing lookup leaves it empty.
py::Ref lookup_optional(const py::Ref& module, const char* name) {
    py::Ref value = lookup(module, name);
    if (!value) {
        py::discard_error();
    }
    return value;
}

bool resolve_typing_names(TypingNames& out) {
    py::Ref typing = import("typing");
    if (!typing) return false;
    py::Ref builtins = import("builtins");
    if (!builtins) return false;
    py::Ref any = lookup(typing, "Any");
    if (!any) return false;
    py::Ref never = lookup_optional(typing, "Never");
    py::Ref no_return = lookup_optional(typing, "NoReturn");
    py::Ref type_alias_type = lookup_optional(typing, "TypeAliasType");
    py::Ref union_form = lookup(typing, "Union");
    if (!union_form) return false;
    py::Ref optional = lookup(typing, "Optional");
    if (!optional) return false;
    py::Ref types = import("types");
    if (!types) return false;
    py::Ref union_type = lookup(types, "UnionType");
    if (!union_type) return false;
    py::Ref literal = lookup(typing, "Literal");
    if (!literal) return false;
    py::Ref object = lookup(builtins, "object");
    if (!object) return false;
    py::Ref enum_module = import("enum");
    if (!enum_module) return false;
    py::Ref enum_class = lookup(enum_module, "Enum");
    if (!enum_class) return false;
    py::Ref abc = import("collections.abc");
    if (!abc) return false;
    py::Ref callable = lookup(abc, "Callable");
    if (!callable) return false;
    py::Ref ellipsis = lookup(builtins, "Ellipsis");
    if (!ellipsis) return false;
    // The references are kept for the life of the process.
    out.any = any.release();
    out.union_form = union_form.release();
    out.optional = optional.release();
    out.union_type = union_type.release();
    out.literal = literal.release();
    out.object = object.release();
    out.enum_class = enum_class.release();
    out.callable = callable.release();
    out.ellipsis = ellipsis.release();
    out.never = never.release();
    out.no_return = no_return.release();
    out.type_alias_type = type_alias_type.release();
    return true;
}

}  // namespace

const TypingNames* typing_names() { return typing_names_cell.get(resolve_typing_names); }

bool is_ellipsis(PyObject* obj) {
    const TypingNames* names = typing_names();
    if (names == nullptr) {
        py::discard_error();
        return false;
    }
    return obj == names->ellipsis;
}

}  // namespace kestrome
