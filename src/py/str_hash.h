// The interpreter's own hash of a str, read from the object where it is
// cached, and the same hash of a UTF-8 text.
#pragma once
#include "py/python.h"

#include <cstdint>
#include <string_view>

namespace kestrome {

// The text tables are keyed by the interpreter's own str hash, which every
// str caches in the object (a dict key always has it), so that a lookup
// reads it instead of hashing the text. str's own hash function is used for
// instances of str subclasses too: it runs no Python code.
inline std::uint64_t str_hash(PyObject* str) {
    Py_hash_t h = reinterpret_cast<PyASCIIObject*>(str)->hash;
    if (h == -1) h = PyUnicode_Type.tp_hash(str);
    return static_cast<std::uint64_t>(h);
}

// The same hash of a UTF-8 text.
std::uint64_t text_hash(std::string_view text);

}  // namespace kestrome
