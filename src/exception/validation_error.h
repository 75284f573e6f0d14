// The ValidationError type, made once per process.
#pragma once
#include "errors/record.h"
#include "py/python.h"

namespace kestrome {

// The type object (borrowed). Failing to create it is an internal failure.
PyObject* validation_error_type();

// Sets the pending exception for a failed check: a ValidationError built from
// the records (or the fallback record when there are none), or the failure
// of setting one of its attributes.
void build_validation_error(const Records& records);

}  // namespace kestrome
