// Text helpers shared by messages, records and renderings.
#pragma once
#include "py/ref.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrome {

// Decodes bytes as UTF-8, each maximal invalid subpart becoming U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// The display conversion of a str object: its UTF-8 text, with each unpaired
// surrogate turned into replacement characters. Never fails.
std::string display_text(PyObject* str);

// Double-quoted text with escapes for quotes, backslashes, control,
// non-printable and grapheme-extending characters.
std::string debug_quote(std::string_view text);

// The first n characters (code points), then "..." when the text was longer.
std::string truncate_chars(std::string_view text, std::size_t n);

// repr() of a value cut after 80 characters, or "<unrepresentable>".
std::string value_repr(PyObject* obj);

// A class's __name__ when it is a str, else value_repr of the class.
std::string class_display_name(PyObject* cls);

// A new str object; failing to make one is an internal failure.
py::Ref make_str(std::string_view text);

// Appends an unsigned number in decimal.
void append_decimal(std::string& out, std::uint64_t value);

}  // namespace kestrome
