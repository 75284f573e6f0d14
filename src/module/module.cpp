// Module initialisation: one multi-phase definition with one exec slot.
#include "exception/validation_error.h"
#include "module/combinators.h"
#include "py/dict_iter.h"
#include "py/error.h"
#include "py/no_python.h"
#include "schema/state.h"
#include "validator/validator_object.h"

namespace kestrome {

namespace {

constexpr char MODULE_DOC[] =
    "The native core of kestrome: strict membership checks of Python values against schemas\n"
    "written as type annotations, and reasoning about schemas as sets.\n\n"
    "Every shared surface is immutable or internally synchronised: a Validator is frozen, its\n"
    "schema, constants and definitions never change after construction, its only lazy state\n"
    "is a once-initialised cell of lookup tables without Python objects, and the membership\n"
    "walk keeps its recursion guard per call. The module would therefore be safe without the\n"
    "interpreter lock.";

// Appends `name` to __all__ and sets the attribute. Takes `value` over.
bool add_attribute(PyObject* module, const char* name, py::Ref value) {
    if (!value) return false;
    py::Ref all = py::Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        py::discard_error();
        all = py::Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    if (!PyList_Check(all.get())) {
        py::set_type_mismatch(all.get(), reinterpret_cast<PyObject*>(&PyList_Type));
        return false;
    }
    py::Ref text = py::Ref::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) {
        py::internal_failure("could not append __name__ to __all__");
    }
    return PyObject_SetAttrString(module, name, value.get()) == 0;
}

bool add_function(PyObject* module, PyMethodDef* def) {
    py::Ref module_name = py::Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return false;
    return add_attribute(module, def->ml_name, py::Ref::steal(PyCFunction_NewEx(def, module, module_name.get())));
}

bool populate_module(PyObject* module) {
    return add_attribute(module, "ValidationError", py::Ref::borrow(validation_error_type())) &&
           add_attribute(module, "Validator", py::Ref::borrow(reinterpret_cast<PyObject*>(validator_type()))) &&
           add_function(module, &UNION_DEF) && add_function(module, &INTERSECTION_DEF) &&
           add_function(module, &COMPLEMENT_DEF) && add_function(module, &RECURSIVE_DEF) &&
           add_attribute(module, "anything", py::Ref::steal(validator_from_schema(leaf(Kind::Anything)))) &&
           add_attribute(module, "nothing", py::Ref::steal(validator_from_schema(leaf(Kind::Nothing)))) &&
           add_attribute(module, "MAX_SCHEMA_DEPTH", py::Ref::steal(PyLong_FromUnsignedLongLong(MAX_SCHEMA_DEPTH))) &&
           add_attribute(module, "MAX_DEFINITIONS", py::Ref::steal(PyLong_FromUnsignedLongLong(MAX_DEFINITIONS))) &&
           add_attribute(module, "MAX_SCHEMA_NODES", py::Ref::steal(PyLong_FromUnsignedLongLong(MAX_SCHEMA_NODES)));
}

// The process-wide cells (the Validator type, the typing names, the
// exception types) hold objects of the interpreter that filled them first;
// another interpreter would compare its own objects against them.
constexpr char SUBINTERPRETER_REFUSED[] =
    "kestrome._kestrome can only be imported in the main interpreter: it keeps process-wide state that "
    "holds the main interpreter's objects, so it cannot be loaded in a sub-interpreter";

int module_exec_slot(PyObject* module) {
    return py::guard_entry<int>(-1, [&] {
        if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
            py::set_error(PyExc_ImportError, SUBINTERPRETER_REFUSED);
            return -1;
        }
        if (!PyModule_Check(module)) {
            py::set_type_mismatch(module, reinterpret_cast<PyObject*>(&PyModule_Type));
            return -1;
        }
        py::check_in_place_entries();
#ifdef KESTROME_CHECK_NO_PYTHON
        if (!py::count_collections()) return -1;
#endif
        return populate_module(module) ? 0 : -1;
    });
}

PyModuleDef_Slot MODULE_SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec_slot)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT, "_kestrome", MODULE_DOC, 0, nullptr, MODULE_SLOTS, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace kestrome

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__kestrome() {
    return PyModuleDef_Init(&kestrome::MODULE_DEF);
}
