// The Validator object: the Python header followed by one ValidatorState.
#pragma once
#include "py/ref.h"
#include "schema/state.h"

namespace kestrome {

struct ValidatorObject {
    PyObject_HEAD
    ValidatorState state;
    // Set when the garbage collector has dropped the constants to break a
    // cycle; the schema then refers to objects that are gone.
    bool cleared;
};

// The Validator type, created on first use; nullptr with an error pending.
PyTypeObject* validator_type();

// Whether `obj` is a Validator (the type or a subtype).
bool is_validator(PyObject* obj);

// The state of a validator, or nullptr with a ReferenceError pending when
// the garbage collector has cleared it (a finalizer in the same cycle may
// still hold it).
const ValidatorState* live_state(PyObject* obj);

// Wraps a finished state into a new Validator (a new reference), or returns
// nullptr with the allocation's exception pending.
PyObject* new_validator_object(ValidatorState state);

// A validator of the given root with no constants and no definitions, made
// without the size limits.
PyObject* validator_from_schema(Schema root);

}  // namespace kestrome
