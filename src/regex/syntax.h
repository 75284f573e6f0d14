// The syntax tree a pattern is translated into: classes are code point
// sets, flags are gone, and assertions name exactly what they test.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "regex/class_set.h"

namespace kestrome::regex {

enum class Look : std::uint8_t {
    Start,             // \A, and ^ without m
    End,               // \z, and $ without m
    StartLF,           // ^ under m
    EndLF,             // $ under m
    StartCRLF,         // ^ under m and R
    EndCRLF,           // $ under m and R
    WordAscii,         // \b under (?-u)
    NotWordAscii,
    WordUnicode,
    NotWordUnicode,
    WordStartAscii,    // \< and \b{start}
    WordEndAscii,      // \> and \b{end}
    WordStartUnicode,
    WordEndUnicode,
    WordStartHalfAscii,
    WordEndHalfAscii,
    WordStartHalfUnicode,
    WordEndHalfUnicode,
};

inline constexpr std::uint64_t UNBOUNDED = ~std::uint64_t{0};

struct Syntax {
    enum class Kind : std::uint8_t { Empty, Literal, Class, Look, Repeat, Concat, Alternate };
    Kind kind = Kind::Empty;
    Look look = Look::Start;
    std::uint32_t min = 0;
    std::uint64_t max = 0;  // UNBOUNDED for no upper bound
    std::u32string text;        // Literal: code points matched in turn
    // Class: equal sets of one pattern share their storage (and the
    // compiler its work on them).
    std::shared_ptr<const ClassSet> set;
    std::vector<Syntax> subs;   // Repeat (one), Concat, Alternate
};

}  // namespace kestrome::regex
