#include "build/type_hints.h"

#include "py/error.h"
#include "py/once.h"

#include <cstddef>
#include <iterator>

namespace kestrome {

namespace {

// What reading the annotations directly needs: typing's forward-reference
// and alias classes, and interned attribute names.
struct HintTypes {
    PyObject* forward_ref = nullptr;    // typing.ForwardRef
    PyObject* generic_alias = nullptr;  // typing._GenericAlias
    PyObject* alias_classes = nullptr;  // (typing._GenericAlias, types.GenericAlias, types.UnionType)
    PyObject* annotations = nullptr;    // "__annotations__"
    PyObject* args = nullptr;           // "__args__"
    PyObject* origin = nullptr;         // "__origin__"
    PyObject* unpacked = nullptr;       // "__unpacked__"
    // Where a class keeps annotations made on demand, and its annotate
    // function: "__annotations_cache__", then "__annotate__", "__annotate_func__".
    PyObject* annotations_cache = nullptr;
    PyObject* annotate_names[2] = {};
    PyObject* annotations_getter = nullptr;  // type.__dict__["__annotations__"], from 3.14 on
    // Names whose presence in a class or its metaclass changes what
    // get_type_hints reads: "__no_type_check__", then the metaclass's own
    // "__mro__", "__dict__", "__getattribute__", "__getattr__".
    PyObject* class_names[1] = {};
    PyObject* meta_names[4] = {};
};

py::ProcessOnce<HintTypes> hint_types_cell;

PyObject* interned(const char* text) { return PyUnicode_InternFromString(text); }

bool resolve_hint_types(HintTypes& out) {
    py::Ref typing = py::Ref::steal(PyImport_ImportModule("typing"));
    if (!typing) return false;
    py::Ref forward_ref = py::Ref::steal(PyObject_GetAttrString(typing.get(), "ForwardRef"));
    if (!forward_ref) return false;
    py::Ref generic_alias = py::Ref::steal(PyObject_GetAttrString(typing.get(), "_GenericAlias"));
    if (!generic_alias) return false;
    const TypingNames* names = typing_names();
    if (names == nullptr) return false;
    py::Ref classes = py::Ref::steal(PyTuple_Pack(3, generic_alias.get(),
                                                  reinterpret_cast<PyObject*>(&Py_GenericAliasType), names->union_type));
    if (!classes) return false;
    PyObject* texts[] = {interned("__annotations__"), interned("__args__"),    interned("__origin__"),
                         interned("__unpacked__"),    interned("__no_type_check__"), interned("__mro__"),
                         interned("__dict__"),        interned("__getattribute__"),  interned("__getattr__"),
                         interned("__annotations_cache__"), interned("__annotate__"), interned("__annotate_func__")};
    for (PyObject* text : texts) {
        if (text == nullptr) return false;
    }
    out.forward_ref = forward_ref.release();
    out.generic_alias = generic_alias.release();
    out.alias_classes = classes.release();
    out.annotations = texts[0];
    out.args = texts[1];
    out.origin = texts[2];
    out.unpacked = texts[3];
    out.class_names[0] = texts[4];
    for (int i = 0; i < 4; ++i) out.meta_names[i] = texts[5 + i];
    out.annotations_cache = texts[9];
    out.annotate_names[0] = texts[10];
    out.annotate_names[1] = texts[11];
#if PY_VERSION_HEX >= 0x030E0000
    const py::Ref type_dict = py::Ref::steal(PyType_GetDict(&PyType_Type));
    if (!type_dict) return false;
    out.annotations_getter = PyDict_GetItemWithError(type_dict.get(), texts[0]);
    if (out.annotations_getter == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "type has no __annotations__ getter");
        return false;
    }
    Py_INCREF(out.annotations_getter);
#endif
    return true;
}

enum class Settled { Yes, No, Failed };

inline constexpr int MAX_HINT_NESTING = 32;

bool is_static_type(PyObject* obj) {
    return PyType_Check(obj) && !(reinterpret_cast<PyTypeObject*>(obj)->tp_flags & Py_TPFLAGS_HEAPTYPE);
}

Settled settled_hint(PyObject* t, const HintTypes& types, const TypingNames& names, bool in_builtin_alias,
                     int depth);

// Every argument of an alias settled.
Settled settled_args(PyObject* alias, const HintTypes& types, const TypingNames& names, bool builtin_alias,
                     int depth) {
    py::Ref args = py::Ref::steal(PyObject_GetAttr(alias, types.args));
    if (!args) return Settled::Failed;
    if (!PyTuple_CheckExact(args.get())) return Settled::No;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args.get()); ++i) {
        const Settled s = settled_hint(PyTuple_GET_ITEM(args.get(), i), types, names, builtin_alias, depth + 1);
        if (s != Settled::Yes) return s;
    }
    return Settled::Yes;
}

// Whether typing's _eval_type hands `t` back as it is, or an equal alias,
// evaluating nothing: no ForwardRef anywhere in it, nor a str among the
// arguments of a builtin alias such as list["X"] (which it would make one).
// A builtin alias over a class of Python code is not settled: _eval_type
// subscripts its origin again, which runs that class's own code.
Settled settled_hint(PyObject* t, const HintTypes& types, const TypingNames& names, bool in_builtin_alias,
                     int depth) {
    if (depth > MAX_HINT_NESTING) return Settled::No;
    PyTypeObject* type = Py_TYPE(t);
    if (t == Py_None || type == &PyLong_Type || type == &PyBool_Type || type == &PyBytes_Type ||
        type == &PyFloat_Type || type == &PyType_Type) {
        return Settled::Yes;
    }
    // A builtin alias makes a forward reference of any str among its arguments.
    if (PyUnicode_Check(t)) return in_builtin_alias ? Settled::No : Settled::Yes;
    if (type == &Py_GenericAliasType) {
        py::Ref origin = py::Ref::steal(PyObject_GetAttr(t, types.origin));
        if (!origin) return Settled::Failed;
        if (!is_static_type(origin.get())) return Settled::No;
        py::Ref unpacked = py::Ref::steal(PyObject_GetAttr(t, types.unpacked));
        if (!unpacked) return Settled::Failed;
        if (unpacked.get() != Py_False) return Settled::No;
        return settled_args(t, types, names, true, depth);
    }
    if (reinterpret_cast<PyObject*>(type) == names.union_type) {
        return settled_args(t, types, names, false, depth);
    }
    if (PyType_IsSubtype(type, reinterpret_cast<PyTypeObject*>(types.generic_alias))) {
        return settled_args(t, types, names, false, depth);
    }
    // Anything else is handed back as it is unless isinstance (which may
    // read __class__) calls it a forward reference or an alias.
    const int forward = PyObject_IsInstance(t, types.forward_ref);
    if (forward < 0) return Settled::Failed;
    if (forward == 1) return Settled::No;
    const int alias = PyObject_IsInstance(t, types.alias_classes);
    if (alias < 0) return Settled::Failed;
    return alias == 1 ? Settled::No : Settled::Yes;
}

// A class's own namespace, held: from 3.12 on a static builtin type keeps
// it apart from tp_dict. Empty with no error pending where it has none.
py::Ref own_dict(PyObject* type) {
#if PY_VERSION_HEX >= 0x030C0000
    return py::Ref::steal(PyType_GetDict(reinterpret_cast<PyTypeObject*>(type)));
#else
    return py::Ref::borrow(reinterpret_cast<PyTypeObject*>(type)->tp_dict);
#endif
}

// Whether any class of the tuple `mro` (borrowed), skipping `type` and
// `object`, defines one of `names` in its own dict.
Settled defines_any(PyObject* mro, PyObject* const* names, std::size_t count) {
    if (mro == nullptr || !PyTuple_Check(mro)) return Settled::Yes;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* base = PyTuple_GET_ITEM(mro, i);
        if (base == reinterpret_cast<PyObject*>(&PyType_Type) ||
            base == reinterpret_cast<PyObject*>(&PyBaseObject_Type)) {
            continue;
        }
        if (!PyType_Check(base)) return Settled::Yes;
        const py::Ref dict = own_dict(base);
        if (!dict) return Settled::Yes;
        for (std::size_t k = 0; k < count; ++k) {
            const int has = PyDict_Contains(dict.get(), names[k]);
            if (has < 0) return Settled::Failed;
            if (has == 1) return Settled::Yes;
        }
    }
    return Settled::No;
}

// Looks up `name` in a class's own dict (exact dict, no code run); Failed
// with the error pending when the lookup fails.
Settled own_entry(PyObject* dict, PyObject* name, py::Ref& out) {
    out = py::Ref::borrow(PyDict_GetItemWithError(dict, name));
    if (!out && PyErr_Occurred()) return Settled::Failed;
    return out ? Settled::Yes : Settled::No;
}

// The annotations of the class `cls`, whose own dict is `dict` (held), as
// get_type_hints reads them: Yes with `out` set, or empty where it has none;
// No where only get_type_hints can tell.
Settled own_annotations(PyObject* cls, PyObject* dict, const HintTypes& types, py::Ref& out) {
    Settled found = own_entry(dict, types.annotations, out);
    if (found != Settled::No) return found;
#if PY_VERSION_HEX >= 0x030E0000
    // Annotations are made on demand by the class's annotate function, and
    // kept once made; a class that has none of its own has no function.
    found = own_entry(dict, types.annotations_cache, out);
    if (found != Settled::No) return found;
    py::Ref annotate;
    for (PyObject* name : types.annotate_names) {
        found = own_entry(dict, name, annotate);
        if (found == Settled::Failed) return found;
        if (found == Settled::Yes && annotate.get() != Py_None) {
            // Made by type's own __annotations__ getter, which calls the
            // function and keeps what it gives: get_type_hints reads each
            // class's annotations through that getter first, too.
            descrgetfunc get = Py_TYPE(types.annotations_getter)->tp_descr_get;
            if (get == nullptr) return Settled::No;
            out = py::Ref::steal(get(types.annotations_getter, cls, reinterpret_cast<PyObject*>(Py_TYPE(cls))));
            return out ? Settled::Yes : Settled::Failed;
        }
    }
#else
    (void)types, (void)cls;
#endif
    return Settled::Yes;
}

// The hints read from the annotations as get_type_hints reads a class's:
// each class of its MRO from the last, its own annotations, None read as
// NoneType, later classes overriding earlier ones in place. Empty with no
// error pending when something would need get_type_hints itself.
py::Ref hints_from_annotations(PyObject* cls, const HintTypes& types, const TypingNames& names) {
    if (!PyType_Check(cls)) return py::Ref();
    PyTypeObject* meta = Py_TYPE(cls);
    if (meta->tp_getattro != PyType_Type.tp_getattro) return py::Ref();
    // Held: the checks below may run Python code, which may replace what they read.
    const py::Ref mro_ref = py::Ref::borrow(reinterpret_cast<PyTypeObject*>(cls)->tp_mro);
    PyObject* mro = mro_ref.get();
    if (mro == nullptr || !PyTuple_Check(mro)) return py::Ref();
    // Whatever the metaclass or a class defines of these names sends us to
    // get_type_hints; so does a failing lookup, its error discarded.
    const Settled defined[] = {
        defines_any(meta->tp_mro, types.meta_names, std::size(types.meta_names)),
        defines_any(meta->tp_mro, types.class_names, std::size(types.class_names)),
        defines_any(mro, types.class_names, std::size(types.class_names)),
    };
    for (const Settled d : defined) {
        if (d == Settled::Failed) py::discard_error();
        if (d != Settled::No) return py::Ref();
    }
    py::Ref hints = py::Ref::steal(PyDict_New());
    if (!hints) {
        py::discard_error();  // get_type_hints is called next and meets the same failure
        return hints;
    }
    for (Py_ssize_t i = PyTuple_GET_SIZE(mro) - 1; i >= 0; --i) {
        PyObject* base = PyTuple_GET_ITEM(mro, i);
        if (!PyType_Check(base)) return py::Ref();
        const py::Ref dict = own_dict(base);
        if (!dict) return py::Ref();
        py::Ref annotations;
        const Settled own = own_annotations(base, dict.get(), types, annotations);
        if (own == Settled::Failed) py::discard_error();
        if (own != Settled::Yes) return py::Ref();
        if (!annotations) continue;
        if (!PyDict_CheckExact(annotations.get())) return py::Ref();
        Py_ssize_t pos = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(annotations.get(), &pos, &name, &value)) {
            const py::Ref held_name = py::Ref::borrow(name);
            const py::Ref held_value = py::Ref::borrow(value);
            // A str of any class is a forward reference to get_type_hints.
            if (!PyUnicode_CheckExact(name) || PyUnicode_Check(value)) return py::Ref();
            if (value == Py_None) value = reinterpret_cast<PyObject*>(Py_TYPE(Py_None));
            const Settled settled = settled_hint(value, types, names, false, 0);
            if (settled == Settled::Failed) py::discard_error();
            if (settled != Settled::Yes) return py::Ref();
            if (PyDict_SetItem(hints.get(), name, value) < 0) {
                py::discard_error();
                return py::Ref();
            }
        }
    }
    return hints;
}

// Whether `function` is typing's own get_type_hints, not a replacement.
bool is_typing_get_type_hints(PyObject* function, PyObject* typing, const TypingNames& names) {
    if (!PyFunction_Check(function) || !PyModule_Check(typing)) return false;
    PyFunctionObject* f = reinterpret_cast<PyFunctionObject*>(function);
    if (f->func_globals != PyModule_GetDict(typing)) return false;
    if (!PyUnicode_Check(f->func_qualname)) return false;
    const int same = PyUnicode_Compare(f->func_qualname, names.str(Name::GetTypeHints));
    if (same == -1 && PyErr_Occurred()) py::discard_error();
    return same == 0;
}

}  // namespace

py::Ref fetch_type_hints(PyObject* cls, const TypingNames& names) {
    py::Ref typing = typing_module(names);
    if (!typing) return py::Ref();
    py::Ref get_type_hints = py::Ref::steal(PyObject_GetAttr(typing.get(), names.str(Name::GetTypeHints)));
    if (!get_type_hints) return py::Ref();
    if (is_typing_get_type_hints(get_type_hints.get(), typing.get(), names)) {
        const HintTypes* types = hint_types_cell.get(resolve_hint_types);
        if (types == nullptr) return py::Ref();
        if (py::Ref hints = hints_from_annotations(cls, *types, names)) return hints;
    }
    PyObject* argv[] = {cls, Py_True};
    return py::Ref::steal(PyObject_Vectorcall(get_type_hints.get(), argv, 1, names.include_extras));
}

}  // namespace kestrome
