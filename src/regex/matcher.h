// Whole-text matching of a byte-level program: a lazy DFA where the program
// needs no context beyond the text's edges, an NFA simulation otherwise.
// Both take time linear in the text's length, and the DFA's states are held
// in a bounded number of bytes.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "regex/program.h"

namespace kestrome::regex {

class SparseSet {
public:
    void resize(std::size_t n) {
        dense_.resize(n);
        sparse_.resize(n);
        size_ = 0;
    }
    bool contains(std::uint32_t i) const {
        const std::uint32_t s = sparse_[i];
        return s < size_ && dense_[s] == i;
    }
    void insert(std::uint32_t i) {
        dense_[size_] = i;
        sparse_[i] = static_cast<std::uint32_t>(size_++);
    }
    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }
    const std::uint32_t* begin() const { return dense_.data(); }
    const std::uint32_t* end() const { return dense_.data() + size_; }

private:
    std::vector<std::uint32_t> dense_;
    std::vector<std::uint32_t> sparse_;
    std::size_t size_ = 0;
};

// Per-thread scratch of one compiled program.
struct MatchCache {
    SparseSet current, next;
    std::vector<std::uint32_t> stack;
    // Lazy DFA: state 0 is dead. A transition holds the offset of its
    // target's row; UNKNOWN when not yet built; with the TAGGED bit set when
    // the walk must stop there (to the dead state, or a state's loop on
    // itself that skips ahead).
    static constexpr std::int32_t UNKNOWN = -1;
    static constexpr std::int32_t TAGGED = INT32_MIN;
    std::vector<std::int32_t> transitions;
    std::vector<std::uint32_t> members;       // NFA instructions of all states, back to back
    std::vector<std::uint32_t> member_start;  // per state, and one past the last
    std::vector<std::uint8_t> accepting;
    // A state that loops on itself skips ahead to the first byte that leaves
    // it; worked out once the state first loops on itself. The bytes that
    // keep the state are in a table, tested one at a time for the first few
    // (unless the stretches turn out long), then 16 at a time where they make
    // a few ranges. A state whose stretches turn out short walks the table
    // instead, which costs less on those.
    struct Acceleration {
        enum Kind : std::uint8_t { Unknown, No, Yes } kind = Unknown;
        static constexpr int MAX_RANGES = 4;
        std::uint8_t ranges = 0;  // 0: the table only
        std::uint32_t stays = 0;  // index into stay_tables
        bool bytes_first = true;  // whether to try the first few bytes one at a time
        std::uint32_t skips = 0;  // stretches skipped so far, while on probation
        std::size_t skipped = 0;  // and their bytes
    };
    std::vector<Acceleration> acceleration;
    struct Stays {
        std::uint8_t bytes[256];  // 1 where the byte keeps the state
        // The ranges, each byte repeated 16 times: the lowest, and the width.
        alignas(16) std::uint8_t lo[Acceleration::MAX_RANGES][16];
        alignas(16) std::uint8_t width[Acceleration::MAX_RANGES][16];
    };
    std::vector<Stays> stay_tables;
    std::unordered_map<std::string, std::int32_t> states;
    std::int32_t start = -1;  // the start state, or -1 while it is not made
    // What the states hold, counted against the cache's budget, and how many
    // were made since the cache was last emptied.
    std::size_t bytes = 0;
    std::size_t made = 0;
    std::string key;
    std::vector<std::uint32_t> sorted;

    explicit MatchCache(const Program& program);
};

// Whether the whole text matches: the lazy DFA answers where the program
// needs no context beyond the text's edges, until its states stop paying
// for themselves; the NFA simulation answers otherwise, or goes on from
// where the DFA stopped.
bool full_match(const Program& program, MatchCache& cache, std::string_view text);

}  // namespace kestrome::regex
