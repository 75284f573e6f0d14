// Reads a pattern of the dialect into its syntax tree.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "regex/parse_error.h"
#include "regex/syntax.h"

namespace kestrome::regex {

// Nested groups, repetitions, classes, class operations and sequences of two
// or more items deeper than this are rejected.
inline constexpr std::size_t NEST_LIMIT = 250;

enum class ParseResult : std::uint8_t { Parsed, Invalid, TooBig };

// Parses `pattern` (Unicode scalars) and translates it: Invalid with `error`
// set when the pattern is rejected, TooBig when its program would be past
// the size limit (found while translating, before all of it is built).
ParseResult parse_pattern(std::u32string_view pattern, Syntax& out, ParseError& error);

}  // namespace kestrome::regex
