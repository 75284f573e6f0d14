// A class's type hints as typing.get_type_hints(cls, include_extras=True)
// gives them.
#pragma once
#include "build/typing_names.h"
#include "py/ref.h"

namespace kestrome {

// Calls `typing.get_type_hints` (looked up on every call) with `cls` and
// include_extras=True, and hands back whatever it returns, or empty with its
// exception pending. When the function found is typing's own and the class's
// annotations hold nothing it would evaluate (no string, no forward
// reference), its answer is read from the annotations directly instead: the
// same entries in the same order, without running its Python code. From 3.14
// on, annotations not yet made are made by type's own getter, as
// get_type_hints makes them.
py::Ref fetch_type_hints(PyObject* cls, const TypingNames& names);

}  // namespace kestrome
