// The slots and method entries of the Validator type. Each is defined
// beside the behaviour it exposes, its docstring with it; validator.cpp puts
// them into the type.
#pragma once
#include "py/python.h"

namespace kestrome {

// Slots (protocol.cpp, membership.cpp).
PyObject* validator_repr(PyObject* self);
Py_hash_t validator_hash(PyObject* self);
PyObject* validator_richcompare(PyObject* self, PyObject* other, int op);
PyObject* validator_or(PyObject* left, PyObject* right);
int validator_contains(PyObject* self, PyObject* value);

// Membership of Python values and JSON documents (membership.cpp).
extern const PyMethodDef VALIDATE_METHOD;
extern const PyMethodDef IS_VALID_METHOD;
extern const PyMethodDef ENSURE_METHOD;
extern const PyMethodDef VALIDATE_JSON_METHOD;
extern const PyMethodDef LOAD_METHOD;
extern const PyMethodDef IS_VALID_JSON_METHOD;

// Decisions and rewrites (algebra_methods.cpp).
extern const PyMethodDef IS_EMPTY_METHOD;
extern const PyMethodDef IS_SUBTYPE_OF_METHOD;
extern const PyMethodDef IS_EQUIVALENT_METHOD;
extern const PyMethodDef OPEN_METHOD;
extern const PyMethodDef CLOSE_METHOD;
extern const PyMethodDef SIMPLIFY_METHOD;

// The copy hooks (protocol.cpp).
extern const PyMethodDef COPY_METHOD;
extern const PyMethodDef DEEPCOPY_METHOD;

}  // namespace kestrome
