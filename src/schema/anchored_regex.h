// Whole-string matchers for Regex constraints.
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "regex/regex.h"

namespace kestrome {

// A matcher for `pattern` that matches whole strings only, as "\A(?:pattern)\z"
// would. The anchors are part of the compiled program, not of the pattern's
// text, so a pattern with unbalanced groups (such as "a)|(?:b") is rejected
// instead of escaping them. On failure returns nullptr and sets `error` to the
// dialect's error display.
std::unique_ptr<regex::Regex> compile_anchored_regex(std::string_view pattern, std::string* error = nullptr);

// Whether the matcher matches the whole UTF-8 text.
inline bool regex_full_match(const regex::Regex& re, std::string_view text) { return re.full_match(text); }

}  // namespace kestrome
