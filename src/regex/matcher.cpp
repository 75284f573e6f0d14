#include "regex/matcher.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>
#endif

#include "regex/properties.h"

namespace kestrome::regex {

namespace {

constexpr std::uint32_t NOT_A_CODE_POINT = 0xFFFFFFFF;

// The code point that starts at `p`, or NOT_A_CODE_POINT at the end or on a
// malformed sequence.
std::uint32_t decode_at(std::string_view text, std::size_t p) {
    if (p >= text.size()) return NOT_A_CODE_POINT;
    const auto b0 = static_cast<unsigned char>(text[p]);
    if (b0 < 0x80) return b0;
    const int len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    if (len == 0 || p + len > text.size()) return NOT_A_CODE_POINT;
    std::uint32_t cp = b0 & (0x7F >> len);
    for (int i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(text[p + i]);
        if ((b & 0xC0) != 0x80) return NOT_A_CODE_POINT;
        cp = (cp << 6) | (b & 0x3F);
    }
    return cp;
}

// The code point that ends at `p`.
std::uint32_t decode_before(std::string_view text, std::size_t p) {
    if (p == 0) return NOT_A_CODE_POINT;
    std::size_t start = p - 1;
    while (start > 0 && p - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    return decode_at(text, start);
}

bool word_byte(std::string_view text, std::size_t p) {
    if (p >= text.size()) return false;
    const auto b = static_cast<unsigned char>(text[p]);
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_';
}

bool word_code_point(std::uint32_t cp) { return cp != NOT_A_CODE_POINT && is_word_code_point(cp); }

bool look_holds(Look look, std::string_view text, std::size_t p) {
    const std::size_t n = text.size();
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    switch (look) {
        case Look::Start: return p == 0;
        case Look::End: return p == n;
        case Look::StartLF: return p == 0 || at(p - 1) == '\n';
        case Look::EndLF: return p == n || at(p) == '\n';
        case Look::StartCRLF:
            return p == 0 || at(p - 1) == '\n' || (at(p - 1) == '\r' && (p >= n || at(p) != '\n'));
        case Look::EndCRLF: return p == n || at(p) == '\r' || (at(p) == '\n' && (p == 0 || at(p - 1) != '\r'));
        default: break;
    }
    bool before, after;
    switch (look) {
        case Look::WordAscii:
        case Look::NotWordAscii:
        case Look::WordStartAscii:
        case Look::WordEndAscii:
        case Look::WordStartHalfAscii:
        case Look::WordEndHalfAscii:
            before = p > 0 && word_byte(text, p - 1);
            after = word_byte(text, p);
            break;
        default:
            before = word_code_point(decode_before(text, p));
            after = word_code_point(decode_at(text, p));
            break;
    }
    switch (look) {
        case Look::WordAscii:
        case Look::WordUnicode: return before != after;
        case Look::NotWordAscii:
        case Look::NotWordUnicode: return before == after;
        case Look::WordStartAscii:
        case Look::WordStartUnicode: return !before && after;
        case Look::WordEndAscii:
        case Look::WordEndUnicode: return before && !after;
        case Look::WordStartHalfAscii:
        case Look::WordStartHalfUnicode: return !before;
        case Look::WordEndHalfAscii:
        case Look::WordEndHalfUnicode: return !after;
        default: return false;
    }
}

// The target of a consuming instruction on byte `b`, or UINT32_MAX.
inline std::uint32_t step(const Program& prog, const Inst& inst, std::uint8_t b) {
    if (inst.op == Inst::Op::Range) return (b >= inst.lo && b <= inst.hi) ? inst.next : UINT32_MAX;
    if (inst.op == Inst::Op::Sparse) {
        const Transition* t = prog.transitions.data() + inst.next;
        const Transition* end = t + inst.alt;
        for (; t != end; ++t) {
            if (b < t->lo) return UINT32_MAX;
            if (b <= t->hi) return t->next;
        }
    }
    return UINT32_MAX;
}

// Adds `pc` and everything reachable from it without consuming a byte,
// following an assertion where `holds` says it holds.
template <class Holds>
void follow_closure(const Program& prog, MatchCache& cache, SparseSet& set, std::uint32_t pc, Holds&& holds) {
    auto& stack = cache.stack;
    stack.push_back(pc);
    while (!stack.empty()) {
        pc = stack.back();
        stack.pop_back();
        if (set.contains(pc)) continue;
        set.insert(pc);
        const Inst& inst = prog.insts[pc];
        switch (inst.op) {
            case Inst::Op::Jump: stack.push_back(inst.next); break;
            case Inst::Op::Split:
                stack.push_back(inst.alt);
                stack.push_back(inst.next);
                break;
            case Inst::Op::Look:
                if (holds(inst.look)) stack.push_back(inst.next);
                break;
            default: break;
        }
    }
}

// Most targets consume a byte, with nothing to follow: those are added
// without the stack.
template <class Holds>
inline void add_closure(const Program& prog, MatchCache& cache, SparseSet& set, std::uint32_t pc, Holds&& holds) {
    const Inst::Op op = prog.insts[pc].op;
    if (op == Inst::Op::Jump || op == Inst::Op::Split || op == Inst::Op::Look) {
        follow_closure(prog, cache, set, pc, holds);
    } else if (!set.contains(pc)) {
        set.insert(pc);
    }
}

void pike_add(const Program& prog, MatchCache& cache, SparseSet& set, std::uint32_t pc, std::string_view text,
              std::size_t p) {
    add_closure(prog, cache, set, pc, [&](Look look) { return look_holds(look, text, p); });
}

// The DFA's closure: \A holds only for the start state; \z stays a member
// and is resolved once the text has ended.
void dfa_add(const Program& prog, MatchCache& cache, SparseSet& set, std::uint32_t pc, bool at_start, bool at_end) {
    add_closure(prog, cache, set, pc,
                [&](Look look) { return (look == Look::Start && at_start) || (look == Look::End && at_end); });
}

constexpr std::int32_t FULL = -2;
// The lazy DFA's budget per cache. A state counts its row, its members twice
// (the list and the key that finds it) and the rest at a flat rate.
constexpr std::size_t CACHE_BYTES = std::size_t{2} << 20;
constexpr std::size_t STATE_OVERHEAD = 128;
// A full cache is emptied and the match goes on, but once it has been
// emptied a few times in one match, the states made since the last time
// must each have served this many bytes on average; otherwise making states
// costs more than the NFA simulation would, which takes over.
constexpr std::size_t MIN_CLEARS = 3;
constexpr std::size_t MIN_BYTES_PER_STATE = 10;

std::size_t state_bytes(const Program& prog, std::size_t members) {
    return (sizeof(std::int32_t) << prog.stride_shift) + 2 * sizeof(std::uint32_t) * members + STATE_OVERHEAD;
}

bool is_member(const Inst& inst) {
    return inst.op == Inst::Op::Range || inst.op == Inst::Op::Sparse || inst.op == Inst::Op::Match ||
           (inst.op == Inst::Op::Look && inst.look == Look::End);
}

// Leaves only the dead state.
void reset_states(const Program& prog, MatchCache& cache) {
    cache.states.clear();
    cache.members.clear();
    cache.member_start.assign({0, 0});
    cache.transitions.assign(std::size_t{1} << prog.stride_shift, 0);
    cache.accepting.assign(1, 0);
    cache.acceleration.assign(1, MatchCache::Acceleration{MatchCache::Acceleration::No});
    cache.stay_tables.clear();
    cache.start = -1;
    cache.bytes = 0;
    cache.made = 0;
}

// The instructions of `set` that make up a state, sorted into cache.sorted.
void collect_members(const Program& prog, MatchCache& cache, const SparseSet& set) {
    std::vector<std::uint32_t>& members = cache.sorted;
    members.clear();
    for (std::uint32_t pc : set) {
        if (is_member(prog.insts[pc])) members.push_back(pc);
    }
    std::sort(members.begin(), members.end());
}

// The state of the members in cache.sorted, made if new; FULL when it does
// not fit in what is left of the budget.
std::int32_t intern_state(const Program& prog, MatchCache& cache, bool is_start) {
    const std::vector<std::uint32_t>& members = cache.sorted;
    if (members.empty()) return 0;
    cache.key.assign(1, is_start ? '\1' : '\0');
    cache.key.append(reinterpret_cast<const char*>(members.data()), members.size() * sizeof(std::uint32_t));
    if (auto it = cache.states.find(cache.key); it != cache.states.end()) return it->second;
    const std::size_t size = state_bytes(prog, members.size());
    if (cache.bytes + size > CACHE_BYTES) return FULL;
    cache.bytes += size;
    ++cache.made;
    const auto id = static_cast<std::int32_t>(cache.member_start.size() - 1);
    cache.members.insert(cache.members.end(), members.begin(), members.end());
    cache.member_start.push_back(static_cast<std::uint32_t>(cache.members.size()));
    cache.transitions.resize(cache.transitions.size() + (std::size_t{1} << prog.stride_shift), MatchCache::UNKNOWN);
    cache.states.emplace(cache.key, id);
    // Whether the text may end here.
    SparseSet& scratch = cache.next;
    scratch.clear();
    for (std::uint32_t pc : members) dfa_add(prog, cache, scratch, pc, is_start, true);
    bool accepts = false;
    for (std::uint32_t pc : scratch) accepts = accepts || prog.insts[pc].op == Inst::Op::Match;
    cache.accepting.push_back(accepts ? 1 : 0);
    cache.acceleration.emplace_back();
    return id;
}

std::int32_t start_state(const Program& prog, MatchCache& cache) {
    SparseSet& set = cache.current;
    set.clear();
    dfa_add(prog, cache, set, prog.start, true, false);
    collect_members(prog, cache, set);
    return intern_state(prog, cache, true);
}

// The target of `from` on `b`, recorded in its row; FULL leaves the
// target's members in cache.sorted.
std::int32_t dfa_transition(const Program& prog, MatchCache& cache, std::int32_t from, std::uint8_t b) {
    SparseSet& set = cache.current;
    set.clear();
    for (std::uint32_t k = cache.member_start[from]; k < cache.member_start[from + 1]; ++k) {
        const std::uint32_t target = step(prog, prog.insts[cache.members[k]], b);
        if (target != UINT32_MAX) dfa_add(prog, cache, set, target, false, false);
    }
    collect_members(prog, cache, set);
    const std::int32_t to = intern_state(prog, cache, false);
    if (to != FULL) {
        cache.transitions[(static_cast<std::size_t>(from) << prog.stride_shift) + prog.byte_class[b]] =
            to == 0 ? MatchCache::TAGGED : to << prog.stride_shift;
    }
    return to;
}

// The NFA simulation from `p` on, cache.current holding the threads there.
bool pike_from(const Program& prog, MatchCache& cache, std::string_view text, std::size_t p) {
    SparseSet* current = &cache.current;
    SparseSet* next = &cache.next;
    for (; p < text.size(); ++p) {
        if (current->size() == 0) return false;
        next->clear();
        const auto b = static_cast<std::uint8_t>(text[p]);
        for (std::uint32_t pc : *current) {
            const std::uint32_t target = step(prog, prog.insts[pc], b);
            if (target != UINT32_MAX) pike_add(prog, cache, *next, target, text, p + 1);
        }
        std::swap(current, next);
    }
    for (std::uint32_t pc : *current) {
        if (prog.insts[pc].op == Inst::Op::Match) return true;
    }
    return false;
}

bool pike_full_match(const Program& prog, MatchCache& cache, std::string_view text) {
    cache.current.clear();
    pike_add(prog, cache, cache.current, prog.start, text, 0);
    return pike_from(prog, cache, text, 0);
}

// Where the DFA stops at `p`: the NFA simulation goes on from the members of
// the state reached there, held in cache.sorted.
bool pike_resume(const Program& prog, MatchCache& cache, std::string_view text, std::size_t p) {
    cache.current.clear();
    for (std::uint32_t pc : cache.sorted) pike_add(prog, cache, cache.current, pc, text, p);
    return pike_from(prog, cache, text, p);
}

// The state a transition leads to, or -1 when it is not built yet.
inline std::int32_t target_of(const Program& prog, std::int32_t t) {
    if (t == MatchCache::UNKNOWN) return -1;
    return (t & ~MatchCache::TAGGED) >> prog.stride_shift;
}

// Sets or clears the tag on the transitions of `s` to itself.
void tag_loops(const Program& prog, MatchCache& cache, std::int32_t s, bool tagged) {
    const std::int32_t row = s << prog.stride_shift;
    for (std::uint32_t c = 0; c < prog.class_count; ++c) {
        std::int32_t& t = cache.transitions[static_cast<std::size_t>(row) + c];
        if ((t & ~MatchCache::TAGGED) == row && t != MatchCache::UNKNOWN) t = tagged ? row | MatchCache::TAGGED : row;
    }
}

// Fills a state's whole row of transitions and works out which bytes keep
// it; its loops on itself are tagged so that the walk stops there and skips.
void analyze_acceleration(const Program& prog, MatchCache& cache, std::int32_t s) {
    using Acceleration = MatchCache::Acceleration;
    cache.acceleration[s].kind = Acceleration::No;
    MatchCache::Stays stays{};
    for (int b = 0; b < 256; ++b) {
        const std::size_t at = (static_cast<std::size_t>(s) << prog.stride_shift) + prog.byte_class[b];
        std::int32_t t = target_of(prog, cache.transitions[at]);
        if (t < 0) t = dfa_transition(prog, cache, s, static_cast<std::uint8_t>(b));
        if (t == FULL) return;
        stays.bytes[b] = t == s;
    }
    Acceleration accel;
    accel.kind = Acceleration::Yes;
    int ranges = 0;
    for (int b = 0; b < 256 && ranges <= Acceleration::MAX_RANGES; ++b) {
        if (!stays.bytes[b] || (b > 0 && stays.bytes[b - 1])) continue;
        int last = b;
        while (last < 255 && stays.bytes[last + 1]) ++last;
        if (ranges < Acceleration::MAX_RANGES) {
            std::fill_n(stays.lo[ranges], 16, static_cast<std::uint8_t>(b));
            std::fill_n(stays.width[ranges], 16, static_cast<std::uint8_t>(last - b));
        }
        ++ranges;
    }
    if (ranges <= Acceleration::MAX_RANGES) accel.ranges = static_cast<std::uint8_t>(ranges);
    accel.stays = static_cast<std::uint32_t>(cache.stay_tables.size());
    cache.stay_tables.push_back(stays);
    cache.bytes += sizeof(stays);
    cache.acceleration[s] = accel;
    tag_loops(prog, cache, s, true);
}

constexpr std::ptrdiff_t FIRST_BYTES = 8;
// A state is on probation for its first PROBATION_SKIPS stretches; if they
// average fewer than MIN_SKIPPED bytes, its loops are untagged for good.
constexpr std::uint32_t PROBATION_SKIPS = 64;
constexpr std::size_t MIN_SKIPPED = 8;
// Past this average, the first bytes are not worth trying one at a time.
constexpr std::size_t LONG_SKIPPED = 2 * FIRST_BYTES;

#if defined(__SSE2__)
// The first byte at or after `p` not in one of the N ranges of `stays`, or
// the start of the last partial block of 16 bytes.
template <int N>
const std::uint8_t* skip_ranges(const MatchCache::Stays& stays, const std::uint8_t* p, const std::uint8_t* end) {
    // A byte x is in [lo, lo + width] when x - lo, wrapping, saturates to
    // zero less the width.
    __m128i lo[N], width[N];
    for (int i = 0; i < N; ++i) {
        lo[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(stays.lo[i]));
        width[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(stays.width[i]));
    }
    const __m128i zero = _mm_setzero_si128();
    for (; end - p >= 16; p += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i in = _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(x, lo[0]), width[0]), zero);
        for (int i = 1; i < N; ++i) {
            in = _mm_or_si128(in, _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(x, lo[i]), width[i]), zero));
        }
        const unsigned out = ~static_cast<unsigned>(_mm_movemask_epi8(in)) & 0xFFFF;
        if (out != 0) return p + __builtin_ctz(out);
    }
    return p;
}
#endif

// The first byte at or after `p` that leaves an accelerated state.
const std::uint8_t* skip(const MatchCache& cache, const MatchCache::Acceleration& a, const std::uint8_t* p,
                         const std::uint8_t* end) {
    const MatchCache::Stays& stays = cache.stay_tables[a.stays];
    const std::uint8_t* const bytes = stays.bytes;
    // Most stretches are short: the first bytes one at a time.
    const std::uint8_t* const scalar_end = a.ranges == 0 || end - p < FIRST_BYTES ? end
                                           : a.bytes_first                       ? p + FIRST_BYTES
                                                                                 : p;
    for (; scalar_end - p >= 4; p += 4) {
        if (!bytes[p[0]]) return p;
        if (!bytes[p[1]]) return p + 1;
        if (!bytes[p[2]]) return p + 2;
        if (!bytes[p[3]]) return p + 3;
    }
    for (; p != scalar_end; ++p) {
        if (!bytes[*p]) return p;
    }
    if (p == end) return p;
#if defined(__SSE2__)
    switch (a.ranges) {
        case 1: p = skip_ranges<1>(stays, p, end); break;
        case 2: p = skip_ranges<2>(stays, p, end); break;
        case 3: p = skip_ranges<3>(stays, p, end); break;
        default: p = skip_ranges<4>(stays, p, end); break;
    }
#endif
    while (p != end && bytes[*p]) ++p;
    return p;
}

// Follows the built transitions from `row` at `p` while no stop is tagged;
// returns where it stopped (the end, or a byte whose transition is tagged or
// not built), with `row` the state there.
inline const std::uint8_t* walk(const std::int32_t* table, const std::uint8_t* classes, std::int32_t& row,
                                const std::uint8_t* p, const std::uint8_t* end) {
    // Offsets as wide as a pointer spare a sign extension per byte; the two
    // alternate, so that a stop finds the state it stopped in without a copy.
    std::intptr_t a = row, b;
    const std::uint8_t* const last4 = end - p >= 4 ? end - 3 : p;  // before it, 4 bytes are left
    for (; p < last4; p += 4) {
        b = table[a + classes[p[0]]];
        if (b < 0) break;
        a = table[b + classes[p[1]]];
        if (a < 0) {
            row = static_cast<std::int32_t>(b);
            return p + 1;
        }
        b = table[a + classes[p[2]]];
        if (b < 0) {
            row = static_cast<std::int32_t>(a);
            return p + 2;
        }
        a = table[b + classes[p[3]]];
        if (a < 0) {
            row = static_cast<std::int32_t>(b);
            return p + 3;
        }
    }
    for (; p != end; ++p) {
        b = table[a + classes[*p]];
        if (b < 0) break;
        a = b;
    }
    row = static_cast<std::int32_t>(a);
    return p;
}

bool dfa_full_match(const Program& prog, MatchCache& cache, std::string_view text) {
    if (cache.start < 0) {
        std::int32_t s = start_state(prog, cache);
        if (s == FULL) {
            reset_states(prog, cache);
            s = intern_state(prog, cache, true);
        }
        if (s == FULL) return pike_resume(prog, cache, text, 0);
        cache.start = s;
    }
    const std::uint32_t shift = prog.stride_shift;
    const std::uint8_t* classes = prog.byte_class.data();
    std::int32_t row = cache.start << shift;
    const auto* begin = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto* p = begin;
    const auto* end = p + text.size();
    // Since the cache was last emptied in this match (or the match began).
    std::size_t clears = 0;
    const std::uint8_t* epoch = p;
    std::size_t epoch_made = cache.made;
    for (;;) {
        p = walk(cache.transitions.data(), classes, row, p, end);
        if (p == end) break;
        std::int32_t next = cache.transitions[static_cast<std::size_t>(row) + classes[*p]];
        if (next == MatchCache::UNKNOWN) {
            const std::int32_t from = row >> shift;
            std::int32_t t = dfa_transition(prog, cache, from, *p);
            if (t == FULL) {
                const auto served = static_cast<std::size_t>(p - epoch);
                const bool thrashing = clears >= MIN_CLEARS && served < MIN_BYTES_PER_STATE * (cache.made - epoch_made);
                if (thrashing || state_bytes(prog, cache.sorted.size()) > CACHE_BYTES) {
                    return pike_resume(prog, cache, text, static_cast<std::size_t>(p + 1 - begin));
                }
                reset_states(prog, cache);
                ++clears;
                epoch = p;
                epoch_made = 0;
                t = intern_state(prog, cache, false);  // fits: the cache is empty
                if (t == 0) return false;
                row = t << shift;
                ++p;
                continue;
            }
            if (t == 0) return false;
            // The state's first loop on itself: from here on it skips.
            if (t == from && cache.acceleration[t].kind == MatchCache::Acceleration::Unknown) {
                analyze_acceleration(prog, cache, t);
            }
            next = cache.transitions[static_cast<std::size_t>(row) + classes[*p]];
            if (next == MatchCache::UNKNOWN) next = t << shift;  // the analysis ran out of room
        }
        ++p;
        if (next >= 0) {
            row = next;
            continue;
        }
        row = next & ~MatchCache::TAGGED;
        if (row == 0) return false;
        MatchCache::Acceleration& a = cache.acceleration[row >> shift];
        const std::uint8_t* const stop = skip(cache, a, p, end);
        if (a.skips < PROBATION_SKIPS) {
            a.skipped += static_cast<std::size_t>(stop - p);
            if (++a.skips == PROBATION_SKIPS) {
                if (a.skipped < PROBATION_SKIPS * MIN_SKIPPED) {
                    a.kind = MatchCache::Acceleration::No;
                    tag_loops(prog, cache, row >> shift, false);
                }
                a.bytes_first = a.skipped < PROBATION_SKIPS * LONG_SKIPPED;
            }
        }
        p = stop;
    }
    return cache.accepting[row >> shift] != 0;
}

}  // namespace

MatchCache::MatchCache(const Program& program) {
    current.resize(program.insts.size());
    next.resize(program.insts.size());
    reset_states(program, *this);
}

bool full_match(const Program& prog, MatchCache& cache, std::string_view text) {
    return prog.edge_looks_only ? dfa_full_match(prog, cache, text) : pike_full_match(prog, cache, text);
}

}  // namespace kestrome::regex
