#include "regex/class_set.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "regex/unicode_tables.h"

namespace kestrome::regex {

void canonicalize(ClassSet& set) {
    std::sort(set.begin(), set.end(), [](const CodeRange& a, const CodeRange& b) { return a.lo < b.lo; });
    std::size_t out = 0;
    for (const CodeRange& r : set) {
        if (out > 0 && r.lo <= set[out - 1].hi + 1) {
            set[out - 1].hi = std::max(set[out - 1].hi, r.hi);
        } else {
            set[out++] = r;
        }
    }
    set.resize(out);
}

ClassSet set_union(const ClassSet& a, const ClassSet& b) {
    ClassSet out(a);
    out.insert(out.end(), b.begin(), b.end());
    canonicalize(out);
    return out;
}

ClassSet set_intersection(const ClassSet& a, const ClassSet& b) {
    ClassSet out;
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const std::uint32_t lo = std::max(a[i].lo, b[j].lo);
        const std::uint32_t hi = std::min(a[i].hi, b[j].hi);
        if (lo <= hi) out.push_back({lo, hi});
        if (a[i].hi < b[j].hi) {
            ++i;
        } else {
            ++j;
        }
    }
    return out;
}

namespace {

const ClassSet& scalar_values() {
    static const ClassSet all{{0, 0xD7FF}, {0xE000, MAX_CODE_POINT}};
    return all;
}

// Complement within [0, MAX_CODE_POINT].
ClassSet complement(const ClassSet& set) {
    ClassSet out;
    std::uint32_t next = 0;
    for (const CodeRange& r : set) {
        if (r.lo > next) out.push_back({next, r.lo - 1});
        next = r.hi + 1;
    }
    if (next <= MAX_CODE_POINT) out.push_back({next, MAX_CODE_POINT});
    return out;
}

}  // namespace

ClassSet set_difference(const ClassSet& a, const ClassSet& b) { return set_intersection(a, complement(b)); }

ClassSet set_symmetric_difference(const ClassSet& a, const ClassSet& b) {
    return set_difference(set_union(a, b), set_intersection(a, b));
}

ClassSet set_negate(const ClassSet& set) { return set_intersection(complement(set), scalar_values()); }

void case_fold(ClassSet& set) {
    const std::size_t n = set.size();
    constexpr auto* begin = std::begin(ucd::FOLD_ORBITS);
    constexpr auto* end = std::end(ucd::FOLD_ORBITS);
    for (std::size_t k = 0; k < n; ++k) {
        const CodeRange r = set[k];
        auto* it = std::lower_bound(begin, end, r.lo,
                                    [](const ucd::OrbitStep& s, std::uint32_t cp) { return s.from < cp; });
        for (; it != end && it->from <= r.hi; ++it) {
            // Walk the orbit from this member back round to it.
            std::uint32_t cp = it->to;
            while (cp != it->from) {
                set.push_back({cp, cp});
                auto* step = std::lower_bound(begin, end, cp,
                                              [](const ucd::OrbitStep& s, std::uint32_t c) { return s.from < c; });
                cp = step->to;
            }
        }
    }
    canonicalize(set);
}

void ascii_case_fold(ClassSet& set) {
    const std::size_t n = set.size();
    for (std::size_t k = 0; k < n; ++k) {
        const CodeRange r = set[k];
        const std::uint32_t lo_upper = std::max<std::uint32_t>(r.lo, 'A'), hi_upper = std::min<std::uint32_t>(r.hi, 'Z');
        if (lo_upper <= hi_upper) set.push_back({lo_upper + 32, hi_upper + 32});
        const std::uint32_t lo_lower = std::max<std::uint32_t>(r.lo, 'a'), hi_lower = std::min<std::uint32_t>(r.hi, 'z');
        if (lo_lower <= hi_lower) set.push_back({lo_lower - 32, hi_lower - 32});
    }
    canonicalize(set);
}

bool set_contains(const ClassSet& set, std::uint32_t cp) {
    auto it = std::upper_bound(set.begin(), set.end(), cp, [](std::uint32_t c, const CodeRange& r) { return c < r.lo; });
    return it != set.begin() && (it - 1)->hi >= cp;
}

}  // namespace kestrome::regex
