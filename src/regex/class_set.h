// Sets of code points as sorted, disjoint, non-adjacent ranges.
#pragma once
#include <cstdint>
#include <vector>

namespace kestrome::regex {

struct CodeRange {
    std::uint32_t lo;
    std::uint32_t hi;
};

using ClassSet = std::vector<CodeRange>;

inline constexpr std::uint32_t MAX_CODE_POINT = 0x10FFFF;

// Sorts and merges overlapping or adjacent ranges.
void canonicalize(ClassSet& set);

ClassSet set_union(const ClassSet& a, const ClassSet& b);
ClassSet set_intersection(const ClassSet& a, const ClassSet& b);
ClassSet set_difference(const ClassSet& a, const ClassSet& b);
ClassSet set_symmetric_difference(const ClassSet& a, const ClassSet& b);

// The complement among Unicode scalar values (surrogates are never members).
ClassSet set_negate(const ClassSet& set);

// Adds every code point equivalent under simple case folding.
void case_fold(ClassSet& set);

// Adds the other ASCII case of every ASCII letter.
void ascii_case_fold(ClassSet& set);

bool set_contains(const ClassSet& set, std::uint32_t cp);
inline bool set_is_ascii(const ClassSet& set) { return set.empty() || set.back().hi < 0x80; }

}  // namespace kestrome::regex
