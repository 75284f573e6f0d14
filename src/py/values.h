// Reading Python ints and strs in place, without Python code.
#pragma once
#include "py/error.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrome::py {

// The value of an exact int that fits in 64 bits.
inline std::optional<std::int64_t> exact_int_value(PyObject* value) {
    if (!PyLong_CheckExact(value)) return std::nullopt;
#if PY_VERSION_HEX < 0x030C0000
    const Py_ssize_t size = Py_SIZE(value);
    if (size >= -1 && size <= 1) {
        const auto digit = static_cast<std::int64_t>(reinterpret_cast<PyLongObject*>(value)->ob_digit[0]);
        return size * digit;
    }
#endif
    int overflow = 0;
    const long v = PyLong_AsLongAndOverflow(value, &overflow);
    if (overflow != 0) return std::nullopt;
    return v;
}

// The UTF-8 text of a str (or str subclass), or nothing when it does not
// encode (the error dropped). Compact ASCII strings are read in place.
inline std::optional<std::string_view> str_utf8(PyObject* s) {
    if (PyUnicode_IS_COMPACT_ASCII(s)) {
        return std::string_view(reinterpret_cast<const char*>(reinterpret_cast<PyASCIIObject*>(s) + 1),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)));
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(s, &size);
    if (utf8 == nullptr) {
        discard_error();
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

}  // namespace kestrome::py
