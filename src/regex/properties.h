// Unicode classes by name: \p{...}, the Perl classes and POSIX-style ASCII classes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "regex/class_set.h"

namespace kestrome::regex {

enum class PropertyLookup { Found, PropertyNotFound, ValueNotFound };

// A bare name (`\pL`, `\p{Greek}`): binary property, else general category,
// else script. The name is matched loosely.
PropertyLookup property_class(std::string_view name, ClassSet& out);

// A name and value (`\p{sc=Greek}`), both matched loosely.
PropertyLookup property_value_class(std::string_view name, std::string_view value, ClassSet& out);

// The loose form of a name: one leading "is" (any case) dropped, ASCII
// space, `_` and `-` and every non-ASCII character dropped, lowercase.
std::string loose_name(std::string_view name);

enum class PerlClass { Digit, Space, Word };
ClassSet perl_unicode_class(PerlClass kind);
ClassSet perl_ascii_class(PerlClass kind);

// `[:name:]` classes; nothing for an unknown name.
std::optional<ClassSet> ascii_class(std::string_view name);

// Whether a code point is a word character of `\w` (and of `\b`).
bool is_word_code_point(std::uint32_t cp);

// Unicode White_Space, which `x` mode skips.
bool is_white_space(std::uint32_t cp);

}  // namespace kestrome::regex
