// The byte-level program a syntax tree compiles to: an NFA over UTF-8 bytes.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "regex/syntax.h"

namespace kestrome::regex {

struct Transition {
    std::uint8_t lo;
    std::uint8_t hi;
    std::uint32_t next;
};

struct Inst {
    enum class Op : std::uint8_t { Range, Sparse, Split, Jump, Look, Match, Fail };
    Op op = Op::Fail;
    std::uint8_t lo = 0, hi = 0;  // Range
    Look look = Look::Start;      // Look
    std::uint32_t next = 0;       // Range, Split, Jump, Look; Sparse: first transition
    std::uint32_t alt = 0;        // Split; Sparse: number of transitions
};

struct Program {
    std::vector<Inst> insts;
    std::vector<Transition> transitions;  // of Sparse instructions, each run sorted
    std::uint32_t start = 0;
    bool has_looks = false;
    // Only text-edge assertions (\A, \z): a DFA needs no context then.
    bool edge_looks_only = true;
    std::array<std::uint8_t, 256> byte_class{};
    std::uint32_t class_count = 1;
    // A DFA row spans 1 << stride_shift transitions (at least class_count).
    std::uint32_t stride_shift = 0;
};

// Our size accounting: every instruction counts INST_BYTES and every
// byte-range transition of a multi-way branch TRANSITION_BYTES more; a
// program past SIZE_LIMIT is rejected. The weights are about what the
// reference engine's NFA spends per state and transition, so that the same
// patterns fit: `\w{209}` does (about 50 kB per Unicode `\w`), `\w{210}`
// does not, and `a{1001}` is far from the bound.
inline constexpr std::size_t SIZE_LIMIT = 10485760;
inline constexpr std::size_t INST_BYTES = 38;
inline constexpr std::size_t TRANSITION_BYTES = 32;

// What a literal of these code points adds to the program.
std::size_t literal_bytes(std::u32string_view text);

// Compiles `syntax` anchored at both ends; false when past the size limit.
bool compile_program(const Syntax& syntax, Program& out);

}  // namespace kestrome::regex
