// A compiled pattern of the dialect, matched against whole texts.
#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "regex/program.h"

namespace kestrome::regex {

struct MatchCache;

// Immutable once compiled and safe to share between threads: the scratch
// space of a match (sets of the NFA simulation, the lazy DFA's states) is
// taken from a few slots for the duration of one match and put back, so a
// warm match allocates nothing.
class Regex {
public:
    // Compiles a UTF-8 pattern; on failure returns nullptr with the
    // dialect's error display in `error`.
    static std::unique_ptr<Regex> compile(std::string_view pattern, std::string* error = nullptr);

    // Whether the whole UTF-8 text matches.
    bool full_match(std::string_view text) const;

    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

private:
    Regex() = default;

    static constexpr int SLOTS = 4;
    Program program_;
    mutable std::atomic<MatchCache*> slots_[SLOTS] = {};

    MatchCache* take() const;
    void give_back(MatchCache* cache) const;
};

}  // namespace kestrome::regex
