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
    cache.transitions.resize(cache.transitions.size() + (std::size_t{1} << prog.stride_shift), -1);
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
            to << prog.stride_shift;
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

// Fills a state's whole row of transitions and decides whether it can skip.
void analyze_acceleration(const Program& prog, MatchCache& cache, std::int32_t s) {
    MatchCache::Acceleration accel;
    accel.kind = MatchCache::Acceleration::No;
    bool escapes[256];
    for (int b = 0; b < 256; ++b) {
        const std::size_t at = (static_cast<std::size_t>(s) << prog.stride_shift) + prog.byte_class[b];
        std::int32_t t = cache.transitions[at];
        if (t >= 0) t >>= prog.stride_shift;
        if (t < 0) t = dfa_transition(prog, cache, s, static_cast<std::uint8_t>(b));
        if (t == FULL) {
            cache.acceleration[s] = accel;
            return;
        }
        escapes[b] = t != s;
    }
    int high = 0;
    for (int b = 0x80; b < 256; ++b) high += escapes[b];
    if (high != 0 && high != 128) {
        cache.acceleration[s] = accel;
        return;
    }
    accel.high = high != 0;
    for (int b = 0; b < 0x80; ++b) {
        if (!escapes[b]) continue;
        if (accel.count == 3) {
            cache.acceleration[s] = MatchCache::Acceleration{MatchCache::Acceleration::No};
            return;
        }
        accel.bytes[accel.count++] = static_cast<std::uint8_t>(b);
    }
    accel.kind = MatchCache::Acceleration::Yes;
    cache.acceleration[s] = accel;
}

// The first byte at or after `p` that leaves an accelerated state.
const std::uint8_t* skip(const MatchCache::Acceleration& a, const std::uint8_t* p, const std::uint8_t* end) {
    const std::uint8_t b0 = a.count > 0 ? a.bytes[0] : 0;
    const std::uint8_t b1 = a.count > 1 ? a.bytes[1] : b0;
    const std::uint8_t b2 = a.count > 2 ? a.bytes[2] : b0;
    const bool any_ascii = a.count > 0;
#if defined(__SSE2__)
    const __m128i v0 = _mm_set1_epi8(static_cast<char>(b0));
    const __m128i v1 = _mm_set1_epi8(static_cast<char>(b1));
    const __m128i v2 = _mm_set1_epi8(static_cast<char>(b2));
    for (; end - p >= 16; p += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        int mask = 0;
        if (any_ascii) {
            mask = _mm_movemask_epi8(
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, v0), _mm_cmpeq_epi8(x, v1)), _mm_cmpeq_epi8(x, v2)));
        }
        if (a.high) mask |= _mm_movemask_epi8(x);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    for (; p != end; ++p) {
        const std::uint8_t c = *p;
        if ((a.high && c >= 0x80) || (any_ascii && (c == b0 || c == b1 || c == b2))) return p;
    }
    return end;
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
    // Reloaded after a slow path, which may grow the cache.
    const std::int32_t* table = cache.transitions.data();
    const MatchCache::Acceleration* accel = cache.acceleration.data();
    const auto* begin = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto* p = begin;
    const auto* end = p + text.size();
    // Since the cache was last emptied in this match (or the match began).
    std::size_t clears = 0;
    const std::uint8_t* epoch = p;
    std::size_t epoch_made = cache.made;
    while (p != end) {
        std::int32_t next = table[row + classes[*p]];
        if (next < 0) {
            std::int32_t t = dfa_transition(prog, cache, row >> shift, *p);
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
            }
            next = t << shift;
            table = cache.transitions.data();
            accel = cache.acceleration.data();
        }
        if (next == 0) return false;
        ++p;
        // Skipping ahead pays only on long stretches; short texts never try.
        if (end - p >= 64 && next == row) {
            const MatchCache::Acceleration& a = accel[row >> shift];
            if (a.kind == MatchCache::Acceleration::Yes) {
                p = skip(a, p, end);
            } else if (a.kind == MatchCache::Acceleration::Unknown) {
                analyze_acceleration(prog, cache, row >> shift);
                table = cache.transitions.data();
                accel = cache.acceleration.data();
            }
        }
        row = next;
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
