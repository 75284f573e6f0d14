// The ValidationError type, made once per process.
#pragma once
#include "py/python.h"

namespace kestrome {

// The type object (borrowed). Failing to create it is an internal failure.
PyObject* validation_error_type();

}  // namespace kestrome
