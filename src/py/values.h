// Reading Python ints and strs in place, without Python code.
#pragma once
#include "py/error.h"
#include "py/no_python.h"

#include <cstddef>
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

// The UTF-8 text of a str (or str subclass) as the object holds it: an ASCII
// string's own data, or the UTF-8 form a str keeps once it has been encoded.
// Nothing when neither is at hand; only encoding would tell, and encoding can
// raise and allocate, and so run the collector. Never reaches the interpreter.
inline std::optional<std::string_view> str_utf8_in_place(PyObject* s) noexcept {
#if PY_VERSION_HEX < 0x030C0000
    if (!PyUnicode_IS_READY(s)) [[unlikely]] return std::nullopt;
#endif
    if (PyUnicode_IS_COMPACT_ASCII(s)) {
        return std::string_view(reinterpret_cast<const char*>(reinterpret_cast<PyASCIIObject*>(s) + 1),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)));
    }
    const auto* compact = reinterpret_cast<const PyCompactUnicodeObject*>(s);
    if (compact->utf8 == nullptr) return std::nullopt;
    return std::string_view(compact->utf8, static_cast<std::size_t>(compact->utf8_length));
}

// The UTF-8 text of a str (or str subclass), encoding it when it is not at
// hand; nothing when it does not encode (the error dropped).
inline std::optional<std::string_view> str_utf8(PyObject* s) {
    if (const std::optional<std::string_view> text = str_utf8_in_place(s)) return text;
    may_call_python();
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(s, &size);
    if (utf8 == nullptr) {
        discard_error();
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

}  // namespace kestrome::py
