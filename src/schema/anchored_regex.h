// Whole-string matchers for Regex constraints.
#pragma once
#include <re2/re2.h>

#include <memory>
#include <string>
#include <string_view>

namespace kestrome {

// A matcher for `pattern` that matches whole strings only, as "\A(?:pattern)\z"
// would. The pattern is compiled on its own and anchored at match time, so a
// pattern with unbalanced groups (such as "a)|(?:b") is rejected instead of
// escaping the anchors. On failure returns nullptr and sets `error` to the
// regex engine's error text.
std::unique_ptr<re2::RE2> compile_anchored_regex(std::string_view pattern, std::string* error = nullptr);

// Whether the matcher matches the whole text.
inline bool regex_full_match(const re2::RE2& re, std::string_view text) {
    return re.Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), re2::RE2::ANCHOR_BOTH,
                    nullptr, 0);
}

}  // namespace kestrome
