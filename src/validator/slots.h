// The slot functions and methods of the Validator type, defined beside the
// behaviour they expose.
#pragma once
#include "py/python.h"

namespace kestrome {

// Protocol: repr, hash, comparison, copies.
PyObject* validator_repr(PyObject* self);
Py_hash_t validator_hash(PyObject* self);
PyObject* validator_richcompare(PyObject* self, PyObject* other, int op);
PyObject* validator_copy(PyObject* self, PyObject* unused);
PyObject* validator_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The | operator.
PyObject* validator_or(PyObject* left, PyObject* right);

// Membership.
PyObject* validator_validate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validator_is_valid(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validator_ensure(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
int validator_contains(PyObject* self, PyObject* value);

// JSON documents.
PyObject* validator_validate_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validator_load(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validator_is_valid_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Decisions and rewrites.
PyObject* validator_is_empty(PyObject* self, PyObject* unused);
PyObject* validator_is_subtype_of(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validator_is_equivalent(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validator_open(PyObject* self, PyObject* unused);
PyObject* validator_close(PyObject* self, PyObject* unused);
PyObject* validator_simplify(PyObject* self, PyObject* unused);

extern const char IS_EMPTY_DOC[];
extern const char IS_SUBTYPE_OF_DOC[];
extern const char IS_EQUIVALENT_DOC[];
extern const char OPEN_DOC[];
extern const char CLOSE_DOC[];
extern const char SIMPLIFY_DOC[];
extern const char VALIDATE_DOC[];
extern const char IS_VALID_DOC[];
extern const char ENSURE_DOC[];
extern const char VALIDATE_JSON_DOC[];
extern const char LOAD_DOC[];
extern const char IS_VALID_JSON_DOC[];
extern const char COPY_DOC[];
extern const char DEEPCOPY_DOC[];

}  // namespace kestrome
