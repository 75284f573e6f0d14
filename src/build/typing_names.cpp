#include "build/typing_names.h"

#include "py/error.h"
#include "py/once.h"

#include <cstddef>
#include <iterator>

namespace kestrome {

namespace {

py::ProcessOnce<TypingNames> typing_names_cell;

py::Ref import(const char* name) {
    py::Ref text = py::Ref::steal(PyUnicode_FromString(name));
    return text ? import_module(text.get()) : py::Ref();
}

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
    py::Ref get_origin = lookup(typing, "get_origin");
    if (!get_origin) return false;
    py::Ref get_args = lookup(typing, "get_args");
    if (!get_args) return false;
    py::Ref include_extras = py::Ref::steal(Py_BuildValue("(s)", "include_extras"));
    if (!include_extras) return false;
    py::Ref union_alias = lookup_optional(typing, "_UnionGenericAlias");
    py::Ref literal_alias = lookup_optional(typing, "_LiteralGenericAlias");
    py::Ref alias_getattr;
    if (py::Ref base = lookup_optional(typing, "_BaseGenericAlias"); base && PyType_Check(base.get())) {
        alias_getattr = py::Ref::borrow(
            PyDict_GetItemString(reinterpret_cast<PyTypeObject*>(base.get())->tp_dict, "__getattr__"));
    }
    static constexpr const char* texts[] = {
        "typing",   "dataclasses",  "get_type_hints", "is_dataclass", "Required",         "NotRequired",
        "TypeVar",  "ParamSpec",    "TypeVarTuple",   "_SpecialForm", "__metadata__",     "__origin__",
        "__supertype__", "__value__", "__required_keys__", "_fields", "_is_protocol", "_is_runtime_protocol",
        "__args__", "__getattr__", "ReadOnly", "Unpack", "Annotated", "fields", "name", "__unpacked__",
        "typing_extensions",
    };
    static_assert(std::size(texts) == static_cast<std::size_t>(Name::Count));
    py::Ref strs[std::size(texts)];
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        strs[i] = py::Ref::steal(PyUnicode_InternFromString(texts[i]));
        if (!strs[i]) return false;
    }
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
    out.get_origin = get_origin.release();
    out.get_args = get_args.release();
    out.include_extras = include_extras.release();
    out.union_alias = union_alias.release();
    out.literal_alias = literal_alias.release();
    out.alias_getattr = alias_getattr.release();
    for (std::size_t i = 0; i < std::size(texts); ++i) out.names[i] = strs[i].release();
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

py::Ref typing_module(const TypingNames& names) { return import_module(names.str(Name::Typing)); }

py::Result<bool> is_typing_marker(PyObject* obj, Name name, const TypingNames& names) {
    py::Ref typing = typing_module(names);
    if (!typing) return py::raised;
    // Only when loaded: a spec made with it was made after it loaded.
    py::Ref extensions = py::Ref::steal(PyImport_GetModule(names.str(Name::TypingExtensions)));
    if (!extensions) py::discard_error();
    for (const py::Ref& module : {typing, extensions}) {
        if (!module || module.get() == Py_None) continue;
        // Read from a plain module's namespace: a name the
        // module lacks (ReadOnly before 3.13) then raises no AttributeError,
        // whose making costs more than the rest of the test.
        PyObject* namespace_dict = PyModule_CheckExact(module.get()) ? PyModule_GetDict(module.get()) : nullptr;
        if (namespace_dict != nullptr) {
            PyObject* bound = PyDict_GetItemWithError(namespace_dict, names.str(name));
            if (bound != nullptr) {
                if (obj == bound) return true;
                continue;
            }
            if (PyErr_Occurred()) return py::raised;
            if (PyDict_GetItemWithError(namespace_dict, names.str(Name::Getattr)) == nullptr) {
                if (PyErr_Occurred()) return py::raised;
                continue;
            }
        }
        py::Ref marker = py::Ref::steal(PyObject_GetAttr(module.get(), names.str(name)));
        if (!marker) {
            py::discard_error();
            continue;
        }
        if (obj == marker.get()) return true;
    }
    return false;
}

bool is_extensions_type_alias(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    if (!(type->tp_flags & Py_TPFLAGS_HEAPTYPE) || type->tp_dict == nullptr) return false;
    PyObject* qualname = reinterpret_cast<PyHeapTypeObject*>(type)->ht_qualname;
    PyObject* module = PyDict_GetItemString(type->tp_dict, "__module__");
    return qualname != nullptr && module != nullptr && PyUnicode_CheckExact(qualname) && PyUnicode_CheckExact(module) &&
           PyUnicode_CompareWithASCIIString(qualname, "TypeAliasType") == 0 &&
           PyUnicode_CompareWithASCIIString(module, "typing_extensions") == 0;
}

py::Ref import_module(PyObject* name) {
    py::Ref module = py::Ref::steal(PyImport_GetModule(name));
    if (module && module.get() != Py_None) return module;
    if (PyErr_Occurred()) return py::Ref();
    // Absent, or None (import blocked): the import machinery says what to.
    return py::Ref::steal(PyImport_Import(name));
}

}  // namespace kestrome
