#include "json/reader.h"

#include "json/powers_of_five.h"

#include "py/error.h"
#include "util/fx_hash.h"
#include "util/utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if (defined(__SSE2__) || defined(_M_X64)) && !defined(KESTROME_NO_SIMD)
#include <emmintrin.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#define KESTROME_SSE2 1
#endif

namespace kestrome {

namespace {

constexpr const char* EOF_LIST = "EOF while parsing a list";
constexpr const char* EOF_OBJECT = "EOF while parsing an object";
constexpr const char* EOF_STRING = "EOF while parsing a string";
constexpr const char* EOF_VALUE = "EOF while parsing a value";
constexpr const char* EXPECTED_COLON = "expected `:`";
constexpr const char* EXPECTED_LIST_COMMA = "expected `,` or `]`";
constexpr const char* EXPECTED_OBJECT_COMMA = "expected `,` or `}`";
constexpr const char* EXPECTED_IDENT = "expected ident";
constexpr const char* EXPECTED_VALUE = "expected value";
constexpr const char* INVALID_ESCAPE = "invalid escape";
constexpr const char* INVALID_NUMBER = "invalid number";
constexpr const char* NUMBER_OUT_OF_RANGE = "number out of range";
constexpr const char* INVALID_CODE_POINT = "invalid unicode code point";
constexpr const char* CONTROL_CHARACTER = "control character (\\u0000-\\u001F) found while parsing a string";
constexpr const char* KEY_MUST_BE_STRING = "key must be a string";
constexpr const char* LONE_SURROGATE = "lone leading surrogate in hex escape";
constexpr const char* TRAILING_COMMA = "trailing comma";
constexpr const char* TRAILING_CHARACTERS = "trailing characters";
constexpr const char* END_OF_HEX_ESCAPE = "unexpected end of hex escape";
constexpr const char* RECURSION_LIMIT = "recursion limit exceeded";
constexpr const char* TOO_MANY_DIGITS = "integer exceeds the limit of ";  // "{} digits" follows
constexpr const char* TOO_LARGE = "document too large (4 GiB or more)";

// The interpreter refuses to make an int of more digits than its limit
// (decimal conversion is quadratic); the limit is never below this, so
// shorter integers need not look it up.
constexpr std::size_t INT_DIGITS_THRESHOLD = 640;

// sys.get_int_max_str_digits(), 0 for no limit. Should the function be
// unusable, the interpreter's default holds.
long int_max_str_digits() {
    PyObject* get = PySys_GetObject("get_int_max_str_digits");  // borrowed
    if (get != nullptr) {
        py::Ref limit = py::Ref::steal(PyObject_CallNoArgs(get));
        if (limit) {
            const long value = PyLong_AsLong(limit.get());
            if (value >= 0) return value;
        }
    }
    py::discard_error();
    return 4300;
}

// Out of range of a double: true when the magnitude is past the largest
// double, false when it is below the smallest. `text` is a valid JSON number.
bool overflows(std::string_view text) {
    std::size_t i = text[0] == '-' ? 1 : 0;
    // The value is 0.D x 10^(exponent + point) where D starts at the first
    // nonzero digit; exponent + point >= 1 means at least 1.
    long long point = 0;
    bool seen_nonzero = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (text[i] != '0') seen_nonzero = true;
        if (seen_nonzero) ++point;
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (seen_nonzero) continue;
            if (text[i] != '0') {
                seen_nonzero = true;
            } else {
                --point;
            }
        }
    }
    long long exponent = 0;
    if (i < text.size()) {  // 'e' or 'E'
        ++i;
        const bool negative = text[i] == '-';
        if (text[i] == '+' || text[i] == '-') ++i;
        for (; i < text.size(); ++i) {
            exponent = std::min<long long>(exponent * 10 + (text[i] - '0'), 1LL << 40);
        }
        if (negative) exponent = -exponent;
    }
    return exponent + point >= 1;
}

// The four JSON whitespace bytes, one load a byte.
struct SpaceTable {
    bool is[256] = {};
    constexpr SpaceTable() { is[' '] = is['\t'] = is['\n'] = is['\r'] = true; }
};
inline constexpr SpaceTable SPACES;
inline bool is_space(unsigned char c) { return SPACES.is[c]; }

inline int count_trailing_zeros(unsigned mask) { return __builtin_ctz(mask); }

#ifdef KESTROME_SSE2
inline __m128i bytes_equal(__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }
#endif

// The first byte at or after i that `stop` accepts (n when none), 16 bytes at
// a time where `stops` gives the mask of such bytes in a vector.
template <class Stops, class Stop>
inline std::size_t scan_until(const unsigned char* s, std::size_t i, std::size_t n, Stops&& stops, Stop&& stop) {
#ifdef KESTROME_SSE2
    for (; i + 16 <= n; i += 16) {
        const unsigned mask = stops(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
        if (mask != 0) return i + static_cast<std::size_t>(count_trailing_zeros(mask));
    }
#else
    (void)stops;
#endif
    while (i < n && !stop(s[i])) ++i;
    return i;
}

// The first byte at or after i that is not whitespace: runs of indentation
// are skipped 16 bytes at a time.
inline std::size_t skip_space_run(const unsigned char* s, std::size_t i, std::size_t n) {
    return scan_until(
        s, i, n,
        [](auto v) {
#ifdef KESTROME_SSE2
            const __m128i blank = _mm_or_si128(_mm_or_si128(bytes_equal(v, ' '), bytes_equal(v, '\t')),
                                               _mm_or_si128(bytes_equal(v, '\n'), bytes_equal(v, '\r')));
            return ~static_cast<unsigned>(_mm_movemask_epi8(blank)) & 0xFFFF;
#else
            return 0u;
#endif
        },
        [](unsigned char c) { return !is_space(c); });
}

// The first byte at or after i that ends a plain run of string text: a
// quote, a backslash, a control character or a non-ASCII byte.
inline std::size_t plain_run_end(const unsigned char* s, std::size_t i, std::size_t n) {
    return scan_until(
        s, i, n,
        [](auto v) {
#ifdef KESTROME_SSE2
            // Compared as signed bytes, those below the space are the control
            // characters and every non-ASCII byte.
            const __m128i stop = _mm_or_si128(_mm_or_si128(bytes_equal(v, '"'), bytes_equal(v, '\\')),
                                              _mm_cmplt_epi8(v, _mm_set1_epi8(' ')));
            return static_cast<unsigned>(_mm_movemask_epi8(stop));
#else
            return 0u;
#endif
        },
        [](unsigned char c) { return c < 0x20 || c >= 0x80 || c == '"' || c == '\\'; });
}

#ifdef KESTROME_SSE2
inline __m128i splat(unsigned char b) { return _mm_set1_epi8(static_cast<char>(b)); }

// A mask of the bytes of a block that show the UTF-8 to be broken at or
// before them; the block starts at a code point boundary. A sequence that the
// block's end cuts is not flagged.
inline unsigned utf8_errors(__m128i v) {
    const __m128i p1 = _mm_slli_si128(v, 1), p2 = _mm_slli_si128(v, 2), p3 = _mm_slli_si128(v, 3);
    // A continuation byte must follow, and only follow, a lead byte within
    // its length: a byte from C0 one before, from E0 two before, from F0
    // three before.
    const __m128i needed = _mm_or_si128(_mm_or_si128(_mm_subs_epu8(p1, splat(0xBF)), _mm_subs_epu8(p2, splat(0xDF))),
                                        _mm_subs_epu8(p3, splat(0xEF)));
    // Continuation bytes, 80 to BF, are the signed bytes below -64.
    const __m128i continuation = _mm_cmplt_epi8(v, splat(0xC0));
    __m128i bad = _mm_cmpeq_epi8(_mm_cmpeq_epi8(needed, _mm_setzero_si128()), continuation);
    // C0 and C1 start only overlong sequences.
    bad = _mm_or_si128(bad, _mm_cmpeq_epi8(_mm_and_si128(v, splat(0xFE)), splat(0xC0)));
    // The rest concerns the leads E0, ED and F0 and above, rare in most
    // scripts: F5 to FF start nothing; after E0 and F0 a second byte below
    // A0 and 90 is overlong, after ED one from A0 is a surrogate, after F4
    // one from 90 is past U+10FFFF.
    const __m128i rare = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, splat(0xE0)), _mm_cmpeq_epi8(v, splat(0xED))),
                                      _mm_cmpeq_epi8(_mm_max_epu8(v, splat(0xF0)), v));
    if (_mm_movemask_epi8(rare) != 0) {
        bad = _mm_or_si128(bad, _mm_cmpeq_epi8(_mm_max_epu8(v, splat(0xF5)), v));
        // After E0 and F0 the lower bound, A0 or 90, is 80 - lead (mod 256).
        const __m128i low = _mm_and_si128(_mm_cmpeq_epi8(_mm_and_si128(p1, splat(0xEF)), splat(0xE0)),
                                          _mm_cmpgt_epi8(_mm_sub_epi8(splat(0x80), p1), v));
        const __m128i surrogate = _mm_and_si128(_mm_cmpeq_epi8(p1, splat(0xED)), _mm_cmpgt_epi8(v, splat(0x9F)));
        const __m128i beyond = _mm_and_si128(_mm_cmpeq_epi8(p1, splat(0xF4)), _mm_cmpgt_epi8(v, splat(0x8F)));
        const __m128i high = _mm_or_si128(surrogate, beyond);
        bad = _mm_or_si128(bad, _mm_or_si128(low, high));
    }
    return static_cast<unsigned>(_mm_movemask_epi8(bad));
}
#endif

// The first byte at or after i, a code point boundary, that ends a run of
// string text of any script: a quote, a backslash, a control character (n
// when none). The UTF-8 on the way is validated; at an invalid sequence the
// run ends at its first byte with `invalid` set. Blocks of 16 bytes are
// checked at once; one with an error is read again byte by byte, which finds
// the error's exact place.
inline std::size_t text_run_end(const unsigned char* s, std::size_t i, std::size_t n, bool& invalid) {
#ifdef KESTROME_SSE2
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, splat(0x1F)), v);
        const unsigned stop = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(bytes_equal(v, '"'), bytes_equal(v, '\\')), control)));
        if (_mm_movemask_epi8(v) != 0) {
            // The bytes up to and with the stop byte, which ends any sequence.
            const unsigned checked = stop != 0 ? (2u << count_trailing_zeros(stop)) - 1 : 0xFFFF;
            if ((utf8_errors(v) & checked) != 0) break;
        }
        if (stop != 0) return i + static_cast<std::size_t>(count_trailing_zeros(stop));
        // The next block starts at the lead byte of a sequence this one cuts.
        const std::size_t back = std::size_t{s[i + 15] >= 0xC0} | (std::size_t{s[i + 14] >= 0xE0} << 1) |
                                 (std::size_t{s[i + 13] >= 0xF0} * 3);
        i += 16 - back;
    }
#endif
    while (i < n) {
        const unsigned char c = s[i];
        if (c == '"' || c == '\\' || c < 0x20) return i;
        if (c < 0x80) {
            ++i;
            continue;
        }
        const Utf8Prefix seq = utf8_prefix(s, i, n);
        if (seq.length == 0 || seq.valid != seq.length) {
            invalid = true;
            return i;
        }
        i += seq.length;
    }
    return n;
}

inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// The decimal digits that start the 8 bytes at p (little-endian words): how
// many (0 to 8), and in `out` their value. A byte flagged as no digit lets
// carries and borrows spill only into the bytes after it, so the first flag
// is exact.
inline int leading_digits(const unsigned char* p, std::uint64_t& out) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    std::uint64_t d = x - 0x3030303030303030ULL;
    const std::uint64_t flags = ((x + 0x4646464646464646ULL) | d) & 0x8080808080808080ULL;
    const int k = flags == 0 ? 8 : __builtin_ctzll(flags) >> 3;
    if (k == 0) {
        out = 0;
        return 0;
    }
    // The k digits moved to the top bytes read as a number with leading zeros.
    if (k < 8) d <<= 8 * (8 - k);
    d = d * 10 + (d >> 8);
    out = (((d & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
           (((d >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
          32;
    return k;
}

constexpr std::uint64_t POWERS_OF_TEN[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Powers of ten that doubles hold exactly.
constexpr double EXACT_POWERS[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// w x 10^q as the nearest double (Eisel and Lemire's method: the top bits
// of w times a 128-bit 5^q settle the rounding, given at most 19 digits), or
// false where the result is not a normal double: the general reading
// decides those.
bool decimal_to_double(std::uint64_t w, long long q, bool negative, double& out) {
    if (w == 0 || q < SMALLEST_POWER_OF_FIVE || q > LARGEST_POWER_OF_FIVE) return false;
    const int zeros = __builtin_clzll(w);
    w <<= zeros;
    const auto index = 2 * static_cast<std::size_t>(q - SMALLEST_POWER_OF_FIVE);
    const unsigned __int128 first = static_cast<unsigned __int128>(w) * POWERS_OF_FIVE[index];
    auto high = static_cast<std::uint64_t>(first >> 64);
    auto low = static_cast<std::uint64_t>(first);
    // The bits below the 55 kept are all ones: the next word of 5^q may
    // carry into them.
    constexpr std::uint64_t PRECISION_MASK = ~std::uint64_t{0} >> 55;
    if ((high & PRECISION_MASK) == PRECISION_MASK) {
        const unsigned __int128 second = static_cast<unsigned __int128>(w) * POWERS_OF_FIVE[index + 1];
        const auto second_high = static_cast<std::uint64_t>(second >> 64);
        low += second_high;
        if (second_high > low) ++high;
    }
    const int upper_bit = static_cast<int>(high >> 63);
    const int shift = upper_bit + 64 - 52 - 3;
    std::uint64_t mantissa = high >> shift;
    int power2 = static_cast<int>(((152170 + 65536) * q) >> 16) + 63 + upper_bit - zeros + 1023;
    if (power2 <= 0) return false;
    // Exactly halfway (only possible where 5^q fits a word): to even.
    if (low <= 1 && q >= -4 && q <= 23 && (mantissa & 3) == 1 && (mantissa << shift) == high) {
        mantissa &= ~std::uint64_t{1};
    }
    mantissa += mantissa & 1;
    mantissa >>= 1;
    if (mantissa >= (std::uint64_t{2} << 52)) {
        mantissa = std::uint64_t{1} << 52;
        ++power2;
    }
    if (power2 >= 0x7FF) return false;
    const std::uint64_t bits = (static_cast<std::uint64_t>(negative) << 63) |
                               (static_cast<std::uint64_t>(power2) << 52) | (mantissa & ~(std::uint64_t{1} << 52));
    std::memcpy(&out, &bits, sizeof out);
    return true;
}

int hex_digit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The recursive-descent parser, over a sink that builds the result.
template <class Sink>
class Parser {
public:
    using Value = typename Sink::Value;

    Parser(std::string_view input, Sink& sink)
        : s_(reinterpret_cast<const unsigned char*>(input.data())), n_(input.size()), sink_(sink) {}

    bool parse(Value& out) {
        skip_whitespace();
        if (!value(out, 0, EOF_VALUE)) return false;
        skip_whitespace();
        if (i_ < n_) return fail(TRAILING_CHARACTERS, i_);
        return true;
    }

    JsonError error;

private:
    bool fail(const char* kind, std::size_t index) {
        error.kind = kind;
        error.index = index;
        return false;
    }

    // The hot loops keep the position in a local: stores through the byte
    // pointer would otherwise force it back to memory at every byte.
    void skip_whitespace() {
        std::size_t i = i_;
        if (i < n_ && is_space(s_[i])) {
            ++i;
            if (i < n_ && is_space(s_[i])) i = skip_space_run(s_, i + 1, n_);
        }
        i_ = i;
    }

    // Strings and numbers, most of every document, are read in the loops
    // over entries; containers, literal names and errors out of line.
    [[gnu::always_inline]] bool value(Value& out, int depth, const char* at_eof) {
        if (i_ >= n_) return fail(at_eof, i_);
        const unsigned char c = s_[i_];
        if (c == '"') {
            std::string_view text;
            bool in_input = true;
            if (!string(text, in_input)) return false;
            out = sink_.string(text, in_input, ascii_);
            return true;
        }
        if (is_digit(c) || c == '-') return short_number(out) || number(out);
        return other_value(out, depth, c);
    }

    // An integer of up to 7 digits, most numbers of most documents, read with
    // one word; a fraction goes on below. False when the number is another
    // (an exponent, a longer integer, more than 19 digits, the end near):
    // the general reading takes it from the start.
    [[gnu::always_inline]] bool short_number(Value& out) {
        const bool negative = s_[i_] == '-';
        std::size_t i = i_ + (negative ? 1 : 0);
        if (i + 8 > n_) return false;
        std::uint64_t value = 0;
        const auto k = static_cast<std::size_t>(leading_digits(s_ + i, value));
        if (k == 0 || k == 8 || (s_[i] == '0' && k != 1)) return false;
        i += k;
        const unsigned char next = s_[i];
        if (next == '.') return short_fraction(out, negative, value, k, i + 1);
        if ((next | 0x20) == 'e') return false;
        i_ = i;
        const auto v = static_cast<std::int64_t>(value);
        out = sink_.integer(negative ? -v : v);
        return true;
    }

    // The digits after the point of a number whose integer part is read.
    [[gnu::always_inline]] bool short_fraction(Value& out, bool negative, std::uint64_t mantissa, std::size_t int_digits,
                                               std::size_t i) {
        std::size_t frac_digits = 0;
        while (true) {
            if (i + 8 > n_) return false;
            std::uint64_t run = 0;
            const auto k = static_cast<std::size_t>(leading_digits(s_ + i, run));
            mantissa = mantissa * POWERS_OF_TEN[k] + run;
            i += k;
            frac_digits += k;
            if (k < 8) break;
        }
        if (frac_digits == 0 || int_digits + frac_digits > 19 || (s_[i] | 0x20) == 'e') return false;
        double d = 0;
        if (mantissa <= (std::uint64_t{1} << 53) && frac_digits <= 22) {
            d = static_cast<double>(mantissa) / EXACT_POWERS[frac_digits];
            if (negative) d = -d;
        } else if (!decimal_to_double(mantissa, -static_cast<long long>(frac_digits), negative, d)) {
            return false;
        }
        i_ = i;
        out = sink_.floating(d);
        return true;
    }

    [[gnu::noinline]] bool other_value(Value& out, int depth, unsigned char c) {
        switch (c) {
            case '[': return array(out, depth + 1);
            case '{': return object(out, depth + 1);
            case 't': return ident("true", out, [&] { return sink_.boolean(true); });
            case 'f': return ident("false", out, [&] { return sink_.boolean(false); });
            case 'n': return ident("null", out, [&] { return sink_.null(); });
            default: return fail(EXPECTED_VALUE, i_);
        }
    }

    template <std::size_t N, class Make>
    bool ident(const char (&word)[N], Value& out, Make&& make) {
        constexpr std::size_t len = N - 1;
        if (i_ + len > n_ || std::memcmp(s_ + i_, word, len) != 0) {
            // The first byte that differs, for the error's position.
            for (std::size_t k = 1; k < len; ++k) {
                if (i_ + k >= n_) return fail(EOF_VALUE, n_);
                if (s_[i_ + k] != static_cast<unsigned char>(word[k])) return fail(EXPECTED_IDENT, i_ + k);
            }
        }
        i_ += len;
        out = make();
        return true;
    }

    // Digits from i into `mantissa` (which wraps past 19 digits: callers
    // count them); the end of the digits.
    std::size_t digits(std::size_t i, std::uint64_t& mantissa) const {
        while (i + 8 <= n_) {
            std::uint64_t run = 0;
            const int k = leading_digits(s_ + i, run);
            mantissa = mantissa * POWERS_OF_TEN[k] + run;
            i += static_cast<std::size_t>(k);
            if (k < 8) return i;
        }
        while (i < n_ && is_digit(s_[i])) {
            mantissa = mantissa * 10 + (s_[i] - '0');
            ++i;
        }
        return i;
    }

    [[gnu::noinline]] bool number(Value& out) {
        const std::size_t start = i_;
        std::size_t i = start;
        const bool negative = s_[i] == '-';
        if (negative) ++i;
        const std::size_t int_start = i;
        std::uint64_t mantissa = 0;
        if (i < n_ && s_[i] == '0') {
            ++i;
        } else if (i < n_ && is_digit(s_[i])) {
            i = digits(i, mantissa);
        } else {
            return fail(INVALID_NUMBER, i < n_ ? i : start);
        }
        const std::size_t int_digits = i - int_start;
        std::size_t frac_digits = 0;
        bool is_float = false;
        if (i < n_ && s_[i] == '.') {
            ++i;
            is_float = true;
            const std::size_t frac_start = i;
            i = digits(i, mantissa);
            frac_digits = i - frac_start;
            if (frac_digits == 0) return fail(INVALID_NUMBER, i < n_ ? i : start);
        }
        long long exponent = 0;
        if (i < n_ && (s_[i] == 'e' || s_[i] == 'E')) {
            ++i;
            is_float = true;
            bool exponent_negative = false;
            if (i < n_ && (s_[i] == '+' || s_[i] == '-')) exponent_negative = s_[i++] == '-';
            const std::size_t exp_start = i;
            for (; i < n_ && is_digit(s_[i]); ++i) exponent = std::min(exponent * 10 + (s_[i] - '0'), 1LL << 40);
            if (i == exp_start) return fail(INVALID_NUMBER, i < n_ ? i : start);
            if (exponent_negative) exponent = -exponent;
        }
        i_ = i;
        const char* first = reinterpret_cast<const char*>(s_ + start);
        const char* last = reinterpret_cast<const char*>(s_ + i);
        if (is_float) {
            // Few digits and a small power of ten: one exact operation,
            // correctly rounded; otherwise the general reading.
            const long long power = exponent - static_cast<long long>(frac_digits);
            if (int_digits + frac_digits <= 19 && mantissa <= (std::uint64_t{1} << 53) && power >= -22 &&
                power <= 22) {
                double d = static_cast<double>(mantissa);
                d = power < 0 ? d / EXACT_POWERS[-power] : d * EXACT_POWERS[power];
                out = sink_.floating(negative ? -d : d);
                return true;
            }
            double d = 0;
            if (int_digits + frac_digits <= 19 && decimal_to_double(mantissa, power, negative, d)) {
                out = sink_.floating(d);
                return true;
            }
            const auto [ptr, ec] = std::from_chars(first, last, d);
            if (ec == std::errc::result_out_of_range) {
                // An underflow reads as a zero of the number's sign.
                if (overflows(std::string_view(first, static_cast<std::size_t>(last - first)))) {
                    return fail(NUMBER_OUT_OF_RANGE, start);
                }
                d = negative ? -0.0 : 0.0;
            }
            out = sink_.floating(d);
            return true;
        }
        if (int_digits <= 19) {
            if (mantissa <= static_cast<std::uint64_t>(INT64_MAX)) {
                const auto v = static_cast<std::int64_t>(mantissa);
                out = sink_.integer(negative ? -v : v);
                return true;
            }
            if (negative && mantissa == static_cast<std::uint64_t>(INT64_MAX) + 1) {
                out = sink_.integer(INT64_MIN);
                return true;
            }
        } else if (int_digits > INT_DIGITS_THRESHOLD) {
            if (digit_limit_ < 0) digit_limit_ = int_max_str_digits();
            if (digit_limit_ > 0 && int_digits > static_cast<std::size_t>(digit_limit_)) {
                error.digit_limit = digit_limit_;
                return fail(TOO_MANY_DIGITS, start);
            }
        }
        out = sink_.big_integer(std::string_view(first, static_cast<std::size_t>(last - first)));
        return true;
    }

    // Reads four hex digits at i_; the code unit or -1 with the error set.
    long hex4() {
        long unit = 0;
        for (int k = 0; k < 4; ++k) {
            if (i_ >= n_) return fail(EOF_STRING, n_), -1;
            const int d = hex_digit(s_[i_]);
            if (d < 0) return fail(INVALID_ESCAPE, i_), -1;
            unit = unit * 16 + d;
            ++i_;
        }
        return unit;
    }

    bool escape(std::string& out) {
        // i_ is at the character after the backslash
        if (i_ >= n_) return fail(EOF_STRING, n_);
        const unsigned char c = s_[i_++];
        switch (c) {
            case '"': out.push_back('"'); return true;
            case '\\': out.push_back('\\'); return true;
            case '/': out.push_back('/'); return true;
            case 'b': out.push_back('\b'); return true;
            case 'f': out.push_back('\f'); return true;
            case 'n': out.push_back('\n'); return true;
            case 'r': out.push_back('\r'); return true;
            case 't': out.push_back('\t'); return true;
            case 'u': break;
            default: return fail(INVALID_ESCAPE, i_ - 1);
        }
        const long unit = hex4();
        if (unit < 0) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(INVALID_CODE_POINT, i_ - 1);
        if (unit >= 0x80) ascii_ = false;
        if (unit < 0xD800 || unit > 0xDBFF) {
            append_utf8(out, static_cast<std::uint32_t>(unit));
            return true;
        }
        // A leading surrogate must be followed by an escaped trailing one.
        if (i_ >= n_) return fail(EOF_STRING, n_);
        if (s_[i_] != '\\') return fail(LONE_SURROGATE, i_);
        if (i_ + 1 >= n_) return fail(EOF_STRING, n_);
        if (s_[i_ + 1] != 'u') return fail(END_OF_HEX_ESCAPE, i_ + 1);
        i_ += 2;
        const long low = hex4();
        if (low < 0) return false;
        if (low < 0xDC00 || low > 0xDFFF) return fail(LONE_SURROGATE, i_ - 1);
        append_utf8(out, 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) +
                             (static_cast<std::uint32_t>(low) - 0xDC00));
        return true;
    }

    // A string at i_ (the opening quote); `text` is a view of the input when
    // it holds no escape (`in_input`), else of the parser's scratch buffer.
    // Sets ascii_ when the text is all ASCII. Plain ASCII text, most keys and
    // values, is read here; the rest goes on out of line.
    [[gnu::always_inline]] bool string(std::string_view& text, bool& in_input) {
        const std::size_t start = i_ + 1;
        const std::size_t i = plain_run_end(s_, start, n_);
        in_input = true;
        ascii_ = true;
        if (i < n_ && s_[i] == '"') {
            text = std::string_view(reinterpret_cast<const char*>(s_ + start), i - start);
            i_ = i + 1;
            return true;
        }
        return string_rest(text, in_input, start, i);
    }

    // The string from i on, where plain text ended without its closing quote.
    [[gnu::noinline]] bool string_rest(std::string_view& text, bool& in_input, std::size_t start, std::size_t i) {
        std::size_t run = start;  // start of the unescaped run not yet copied
        while (true) {
            if (i >= n_) return fail(EOF_STRING, n_);
            const unsigned char c = s_[i];
            if (c == '"') break;
            if (c == '\\') {
                if (in_input) scratch_.clear();
                scratch_.append(reinterpret_cast<const char*>(s_ + run), i - run);
                in_input = false;
                i_ = i + 1;
                if (!escape(scratch_)) return false;
                i = run = i_;
            } else {
                if (c < 0x20) return fail(CONTROL_CHARACTER, i);
                ascii_ = false;
                bool invalid = false;
                i = text_run_end(s_, i, n_, invalid);
                if (invalid) return fail(INVALID_CODE_POINT, i);
                continue;
            }
            i = plain_run_end(s_, i, n_);
        }
        if (in_input) {
            text = std::string_view(reinterpret_cast<const char*>(s_ + start), i - start);
        } else {
            scratch_.append(reinterpret_cast<const char*>(s_ + run), i - run);
            text = scratch_;
        }
        i_ = i + 1;  // past the closing quote
        return true;
    }

    // The entries of an array or an object between its brackets, each read
    // by `entry`, separated by commas; a trailing comma is refused.
    template <class Entry>
    bool entries(unsigned char close, const char* at_eof, const char* expected_comma, int depth, Entry&& entry) {
        if (depth > JSON_RECURSION_LIMIT) return fail(RECURSION_LIMIT, i_);
        ++i_;
        skip_whitespace();
        if (i_ >= n_) return fail(at_eof, n_);
        if (s_[i_] == close) {
            ++i_;
            return true;
        }
        while (true) {
            if (!entry()) return false;
            skip_whitespace();
            if (i_ >= n_) return fail(at_eof, n_);
            if (s_[i_] == close) {
                ++i_;
                return true;
            }
            if (s_[i_] != ',') return fail(expected_comma, i_);
            ++i_;
            skip_whitespace();
            if (i_ < n_ && s_[i_] == close) return fail(TRAILING_COMMA, i_);
        }
    }

    bool array(Value& out, int depth) {
        auto builder = sink_.begin_array();
        const bool ok = entries(']', EOF_LIST, EXPECTED_LIST_COMMA, depth, [&] {
            Value item{};
            if (!value(item, depth, EOF_VALUE)) return false;
            sink_.push(builder, std::move(item));
            return true;
        });
        if (ok) out = sink_.end_array(builder);
        return ok;
    }

    bool object(Value& out, int depth) {
        auto builder = sink_.begin_object();
        const bool ok = entries('}', EOF_OBJECT, EXPECTED_OBJECT_COMMA, depth, [&] {
            if (i_ >= n_) return fail(EOF_OBJECT, n_);
            if (s_[i_] != '"') return fail(KEY_MUST_BE_STRING, i_);
            std::string_view key_view;
            bool in_input = true;
            if (!string(key_view, in_input)) return false;
            auto key = sink_.key(key_view, in_input, ascii_);
            skip_whitespace();
            if (i_ >= n_) return fail(EOF_OBJECT, n_);
            if (s_[i_] != ':') return fail(EXPECTED_COLON, i_);
            ++i_;
            skip_whitespace();
            Value item{};
            if (!value(item, depth, EOF_VALUE)) return false;
            sink_.add(builder, std::move(key), std::move(item));
            return true;
        });
        if (ok) out = sink_.end_object(builder);
        return ok;
    }

    const unsigned char* s_;
    std::size_t n_;
    std::size_t i_ = 0;
    Sink& sink_;
    std::string scratch_;
    bool ascii_ = true;      // the last string read was all ASCII
    long digit_limit_ = -1;  // looked up at the first long integer
};

py::Ref checked(PyObject* obj) {
    if (obj == nullptr) py::internal_failure("could not create a Python object for a JSON value");
    return py::Ref::steal(obj);
}

// Decodes valid UTF-8 into characters of one width; runs of ASCII are
// widened 16 bytes at a time.
template <class Char>
void decode_utf8(const unsigned char* s, std::size_t n, Char* out) {
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
#ifdef KESTROME_SSE2
            if constexpr (sizeof(Char) <= 2) {
                while (i + 16 <= n) {
                    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
                    if (_mm_movemask_epi8(v) != 0) break;
                    if constexpr (sizeof(Char) == 1) {
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
                    } else {
                        const __m128i zero = _mm_setzero_si128();
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
                    }
                    out += 16;
                    i += 16;
                }
                if (i >= n || s[i] >= 0x80) continue;
            }
#endif
            *out++ = s[i];
            i += 1;
        } else if (c < 0xE0) {
            // Text of one script repeats its sequence length: runs of it go
            // round a loop of their own.
            do {
                *out++ = static_cast<Char>(((s[i] & 0x1F) << 6) | (s[i + 1] & 0x3F));
                i += 2;
            } while (i < n && (s[i] & 0xE0) == 0xC0);
        } else if (c < 0xF0) {
            do {
                *out++ = static_cast<Char>(((s[i] & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F));
                i += 3;
            } while (i < n && (s[i] & 0xF0) == 0xE0);
        } else {
            *out++ = static_cast<Char>(((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
                                       (s[i + 3] & 0x3F));
            i += 4;
        }
    }
}

// The characters of valid UTF-8 text (its bytes that continue no sequence)
// and its largest byte.
void measure_utf8(const unsigned char* s, std::size_t n, std::size_t& length, unsigned char& widest) {
    std::size_t continuations = 0;
    unsigned char top = 0;
#ifdef KESTROME_SSE2
    if (n >= 16) {
        __m128i most = _mm_setzero_si128();
        const __m128i zero = _mm_setzero_si128();
        const __m128i below = _mm_set1_epi8(-64);
        // Whole blocks, the last one ending at the text's end and counting
        // only the bytes no block before it has.
        const std::size_t blocks = (n + 15) / 16;
        for (std::size_t b = 0; b < blocks;) {
            // Continuation bytes, 80 to BF, are the signed bytes below -64;
            // each lane counts them (as -1 per byte) for up to 255 blocks.
            __m128i counts = zero;
            const std::size_t stop = std::min(blocks, b + 255);
            for (; b < stop; ++b) {
                const std::size_t at = std::min(16 * b, n - 16);
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
                if (at != 16 * b) {
                    // The bytes before 16 * b were counted: made ASCII.
                    alignas(16) static constexpr unsigned char seen[32] = {
                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
                    const __m128i keep = _mm_loadu_si128(reinterpret_cast<const __m128i*>(seen + 16 - (16 * b - at)));
                    v = _mm_andnot_si128(keep, v);
                }
                most = _mm_max_epu8(most, v);
                counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(v, below));
            }
            const __m128i sums = _mm_sad_epu8(counts, zero);
            continuations += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
        }
        most = _mm_max_epu8(most, _mm_srli_si128(most, 8));
        most = _mm_max_epu8(most, _mm_srli_si128(most, 4));
        most = _mm_max_epu8(most, _mm_srli_si128(most, 2));
        most = _mm_max_epu8(most, _mm_srli_si128(most, 1));
        length = n - continuations;
        widest = static_cast<unsigned char>(_mm_cvtsi128_si32(most) & 0xFF);
        return;
    }
#endif
    for (std::size_t i = 0; i < n; ++i) {
        continuations += (s[i] & 0xC0) == 0x80;
        top = std::max(top, s[i]);
    }
    length = n - continuations;
    widest = top;
}

// A str of valid UTF-8 text. ASCII text is copied in directly; other text is
// measured first (its length and widest character), so that the str is made
// once at its final width.
py::Ref make_json_str(std::string_view text, bool ascii) {
    if (ascii) {
        py::Ref s = checked(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
        std::memcpy(PyUnicode_DATA(s.get()), text.data(), text.size());
        return s;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t length = 0;
    unsigned char widest = 0;
    measure_utf8(bytes, text.size(), length, widest);
    // Lead bytes C2 and C3 start the characters up to U+00FF, E0 to EF those
    // up to U+FFFF.
    const Py_UCS4 max_char = widest < 0xC4 ? 0xFF : widest < 0xF0 ? 0xFFFF : 0x10FFFF;
    py::Ref s = checked(PyUnicode_New(static_cast<Py_ssize_t>(length), max_char));
    void* data = PyUnicode_DATA(s.get());
    switch (PyUnicode_KIND(s.get())) {
        case PyUnicode_1BYTE_KIND: decode_utf8(bytes, text.size(), static_cast<Py_UCS1*>(data)); break;
        case PyUnicode_2BYTE_KIND: decode_utf8(bytes, text.size(), static_cast<Py_UCS2*>(data)); break;
        default: decode_utf8(bytes, text.size(), static_cast<Py_UCS4*>(data)); break;
    }
    return s;
}

bool all_ascii(std::string_view text) {
    unsigned char any = 0;
    for (const char c : text) any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

py::Ref make_json_str(std::string_view text) { return make_json_str(text, all_ascii(text)); }

// Object keys made by recent documents, shared by every call: real documents
// repeat a few short ASCII keys, and a str made once keeps its hash. Only
// threads holding the interpreter lock touch it; the references live as long
// as the process.
constexpr std::size_t KEY_CACHE_SLOTS = 2048;
constexpr std::size_t MAX_CACHED_KEY = 64;

// A cached key with its text at hand, so that a hit reads one line.
struct KeySlot {
    PyObject* key = nullptr;
    const char* text = nullptr;  // the str's own ASCII characters
    std::size_t size = 0;
};
// A key sits in either of two slots, chosen by two parts of its hash. A new
// key takes its first slot and moves the key there to that one's other slot:
// keys of one document that share a slot would otherwise push each other out
// at every turn.
KeySlot key_cache[KEY_CACHE_SLOTS];
std::uint64_t key_cache_replaced = 0;  // keys put in since the process began

struct KeySlots {
    KeySlot* first;
    KeySlot* second;
};

KeySlots key_slots(std::uint64_t hash) {
    return KeySlots{key_cache + (hash & (KEY_CACHE_SLOTS - 1)), key_cache + ((hash >> 32) & (KEY_CACHE_SLOTS - 1))};
}

KeySlots key_slots(std::string_view text) { return key_slots(fx_hash_bytes(text.data(), text.size())); }

bool holds(const KeySlot& slot, std::string_view text) {
    return slot.size == text.size() && slot.key != nullptr && same_text(slot.text, text.data(), text.size());
}

void set_slot(KeySlot& slot, PyObject* key) {
    slot.key = key;
    slot.text = static_cast<const char*>(PyUnicode_DATA(key));
    slot.size = static_cast<std::size_t>(PyUnicode_GET_LENGTH(key));
}

// Puts an ASCII str into its first slot (or its second, when only that one
// is free); the key it displaces moves to its own other slot, pushing out
// whatever was there.
void put_key(const KeySlots& slots, py::Ref key) {
    ++key_cache_replaced;
    if (slots.first->key == nullptr || slots.second->key != nullptr) {
        const KeySlot old = *slots.first;
        set_slot(*slots.first, key.release());
        if (old.key == nullptr) return;
        const KeySlots its = key_slots(std::string_view(old.text, old.size));
        KeySlot* other = its.first == slots.first ? its.second : its.first;
        if (other == slots.first) {
            Py_DECREF(old.key);
            return;
        }
        Py_XDECREF(other->key);
        *other = old;
        return;
    }
    set_slot(*slots.second, key.release());
}

py::Ref cached_key(std::string_view text) {
    const KeySlots slots = key_slots(fx_hash_bytes(text.data(), text.size()));
    if (holds(*slots.first, text)) return py::Ref::borrow(slots.first->key);
    if (holds(*slots.second, text)) return py::Ref::borrow(slots.second->key);
    py::Ref key = make_json_str(text, true);
    put_key(slots, key);
    return key;
}

// An object key: short ASCII keys are shared through the cache.
py::Ref json_key(std::string_view text, bool ascii) {
    if (ascii && text.size() <= MAX_CACHED_KEY) return cached_key(text);
    return make_json_str(text, ascii);
}

py::Ref json_key(std::string_view text) { return json_key(text, all_ascii(text)); }

}  // namespace

std::uint64_t prefer_json_keys(const py::Ref* strs, std::size_t count, std::uint64_t replaced_before) {
    if (replaced_before == key_cache_replaced) return replaced_before;
    // A bounded share of the cache, so that a wide schema costs little per call.
    count = std::min(count, KEY_CACHE_SLOTS / 8);
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* s = strs[i].get();
        if (s == nullptr || !PyUnicode_CheckExact(s) || !PyUnicode_IS_COMPACT_ASCII(s)) continue;
        const std::string_view text(static_cast<const char*>(PyUnicode_DATA(s)),
                                    static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)));
        if (text.size() > MAX_CACHED_KEY) continue;
        const KeySlots slots = key_slots(text);
        if (slots.first->key != s && slots.second->key != s) put_key(slots, py::Ref::borrow(s));
    }
    return key_cache_replaced;
}

namespace {

// Builds Python objects directly. The children of the open containers wait
// on one stack (an object's as key, value pairs) until their container
// closes and is made at its final size.
struct PythonSink {
    using Value = py::Ref;
    std::vector<py::Ref> stack;

    // Objects made before, by the shape of their keys: an object with the
    // same key objects in the same order (the records of an array) starts
    // as a copy of one, whose table is copied at its final size where
    // inserting would grow it again and again. Only objects without repeated
    // keys are kept, so a copy holds exactly the keys its object names.
    // Small documents (one a line of a JSON-lines file) keep none: the
    // table is made once a document has shown enough objects to repeat.
    static constexpr std::size_t SHAPE_SLOTS = 64;
    static constexpr std::size_t MIN_SHAPE_KEYS = 6;
    static constexpr std::size_t SHAPES_AFTER = 16;
    struct Shape {
        py::Ref dict;
        std::vector<PyObject*> keys;  // held by `dict`
    };
    std::unique_ptr<std::array<Shape, SHAPE_SLOTS>> shapes;
    std::size_t wide_objects = 0;

    Value null() { return py::Ref::borrow(Py_None); }
    Value boolean(bool b) { return py::Ref::borrow(b ? Py_True : Py_False); }
    Value integer(std::int64_t v) { return checked(PyLong_FromLongLong(v)); }
    Value big_integer(std::string_view digits) {
        const std::string text(digits);
        return checked(PyLong_FromString(text.c_str(), nullptr, 10));
    }
    Value floating(double d) { return checked(PyFloat_FromDouble(d)); }
    Value string(std::string_view text, bool, bool ascii) { return make_json_str(text, ascii); }
    Value key(std::string_view text, bool, bool ascii) { return json_key(text, ascii); }

    std::size_t begin_array() { return stack.size(); }
    void push(std::size_t, py::Ref item) { stack.push_back(std::move(item)); }
    Value end_array(std::size_t mark) {
        const std::size_t count = stack.size() - mark;
        py::Ref list = checked(PyList_New(static_cast<Py_ssize_t>(count)));
        for (std::size_t k = 0; k < count; ++k) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), stack[mark + k].release());
        }
        stack.resize(mark);
        return list;
    }

    std::size_t begin_object() { return stack.size(); }
    void add(std::size_t, py::Ref key, py::Ref item) {
        stack.push_back(std::move(key));
        stack.push_back(std::move(item));
    }
    Shape& shape_slot(std::size_t mark, std::size_t count) {
        FxHasher h;
        h.add(count);
        h.add(reinterpret_cast<std::uintptr_t>(stack[mark].get()));
        h.add(reinterpret_cast<std::uintptr_t>(stack[stack.size() - 2].get()));
        if (!shapes) shapes = std::make_unique<std::array<Shape, SHAPE_SLOTS>>();
        return (*shapes)[h.finish() % SHAPE_SLOTS];
    }
    // Whether `shape` holds the keys above `mark`, in their order.
    bool same_keys(const Shape& shape, std::size_t mark, std::size_t count) const {
        if (shape.keys.size() != count) return false;
        for (std::size_t i = 0; i < count; ++i) {
            if (shape.keys[i] != stack[mark + 2 * i].get()) return false;
        }
        return true;
    }
    void set_items(PyObject* dict, std::size_t mark) {
        const std::size_t end = stack.size();
        for (std::size_t k = mark; k < end; k += 2) {
            if (PyDict_SetItem(dict, stack[k].get(), stack[k + 1].get()) < 0) {
                py::internal_failure("could not set a dict item");
            }
        }
    }
    Value end_object(std::size_t mark) {
        const std::size_t count = (stack.size() - mark) / 2;
        Shape* shape = nullptr;
        if (count >= MIN_SHAPE_KEYS && ++wide_objects > SHAPES_AFTER) shape = &shape_slot(mark, count);
        if (shape != nullptr && same_keys(*shape, mark, count)) {
            py::Ref dict = checked(PyDict_Copy(shape->dict.get()));
            set_items(dict.get(), mark);
            stack.resize(mark);
            return dict;
        }
        // A new empty dict, not a presized one: presized tables are made for
        // keys of any type, and every later lookup pays for it.
        py::Ref dict = checked(PyDict_New());
        set_items(dict.get(), mark);
        if (shape != nullptr && static_cast<std::size_t>(PyDict_GET_SIZE(dict.get())) == count) {
            shape->dict = dict;
            shape->keys.clear();
            shape->keys.reserve(count);
            for (std::size_t k = mark; k < stack.size(); k += 2) shape->keys.push_back(stack[k].get());
        }
        stack.resize(mark);
        return dict;
    }
};

// Builds the value tree: the nodes of the open containers' children wait on
// a stack (an object's keys on a second one) and move into one run of the
// tree's nodes when their container closes.
struct TreeSink {
    using Value = bool;  // the value read is the top of the node stack
    JsonTree& tree;
    TreeTable<JsonNode>& stack = tree.node_stack;
    TreeTable<JsonEntry>& entry_stack = tree.entry_stack;

    Value add_node(JsonNode node) {
        stack.push_back(node);
        return true;
    }
    // Where a text lives: a view of the input when it is one, else a copy.
    std::uint32_t place(std::string_view text, bool in_input) {
        if (in_input) return static_cast<std::uint32_t>(text.data() - tree.input.data());
        const auto at = static_cast<std::uint32_t>(tree.arena.size());
        tree.arena.append(text);
        return at;
    }
    JsonNode text_node(JsonKind kind, std::string_view text, bool in_input) {
        JsonNode node(kind);
        node.first = place(text, in_input);
        node.in_arena = !in_input;
        node.count = static_cast<std::uint32_t>(text.size());
        return node;
    }
    // Moves the nodes above `mark` to the tree; where their run starts.
    std::uint32_t move_run(std::size_t mark) {
        if (mark == 0 && tree.nodes.empty()) {
            // The whole stack is the run (a root whose children are all
            // scalars): the tables trade places instead of copying it.
            std::swap(tree.nodes, stack);
            return 0;
        }
        const auto first = static_cast<std::uint32_t>(tree.nodes.size());
        tree.nodes.append(stack.data() + mark, stack.size() - mark);
        stack.truncate(mark);
        return first;
    }

    Value null() { return add_node(JsonNode(JsonKind::Null)); }
    Value boolean(bool b) {
        JsonNode node(JsonKind::Bool);
        node.truth = b;
        return add_node(node);
    }
    Value integer(std::int64_t v) {
        JsonNode node(JsonKind::Int);
        node.integer = v;
        return add_node(node);
    }
    Value big_integer(std::string_view digits) { return add_node(text_node(JsonKind::BigInt, digits, true)); }
    Value floating(double d) {
        JsonNode node(JsonKind::Float);
        node.number = d;
        return add_node(node);
    }
    Value string(std::string_view text, bool in_input, bool) {
        return add_node(text_node(JsonKind::String, text, in_input));
    }
    JsonEntry key(std::string_view text, bool in_input, bool) {
        return JsonEntry{place(text, in_input), static_cast<std::uint32_t>(text.size()), 0, !in_input};
    }

    std::size_t begin_array() { return stack.size(); }
    void push(std::size_t, Value) {}
    Value end_array(std::size_t mark) {
        JsonNode node(JsonKind::Array);
        node.count = static_cast<std::uint32_t>(stack.size() - mark);
        node.first = move_run(mark);
        return add_node(node);
    }

    struct ObjectMark {
        std::size_t nodes, entries;
    };
    ObjectMark begin_object() { return ObjectMark{stack.size(), entry_stack.size()}; }
    void add(const ObjectMark&, const JsonEntry& key, Value) { entry_stack.push_back(key); }
    Value end_object(const ObjectMark& mark) {
        const std::uint32_t values = move_run(mark.nodes);
        JsonNode node(JsonKind::Object);
        node.first = static_cast<std::uint32_t>(tree.entries.size());
        node.count = static_cast<std::uint32_t>(entry_stack.size() - mark.entries);
        for (std::uint32_t k = 0; k < node.count; ++k) entry_stack[mark.entries + k].value = values + k;
        tree.entries.append(entry_stack.data() + mark.entries, entry_stack.size() - mark.entries);
        entry_stack.truncate(mark.entries);
        return add_node(node);
    }
};

}  // namespace

#if defined(__linux__) && defined(MADV_HUGEPAGE)
namespace {

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;
constexpr std::size_t HUGE_BLOCK = std::size_t{8} << 20;  // smaller blocks come from malloc

std::size_t mapped_size(std::size_t bytes) { return (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE; }

}  // namespace

// A block of whole huge pages, aligned to one: the mapping is made a huge
// page larger, then trimmed at both ends.
void* allocate_tree_block(std::size_t bytes) {
    if (bytes < HUGE_BLOCK) return ::operator new(bytes);
    const std::size_t size = mapped_size(bytes);
    void* mapped = mmap(nullptr, size + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    auto* start = static_cast<char*>(mapped);
    char* block = start + (HUGE_PAGE - reinterpret_cast<std::uintptr_t>(start) % HUGE_PAGE) % HUGE_PAGE;
    if (block > start) munmap(start, static_cast<std::size_t>(block - start));
    char* const end = start + size + HUGE_PAGE;
    if (end > block + size) munmap(block + size, static_cast<std::size_t>(end - (block + size)));
    madvise(block, size, MADV_HUGEPAGE);  // advice only: ordinary pages do as well
    return block;
}

void free_tree_block(void* block, std::size_t bytes) noexcept {
    if (bytes < HUGE_BLOCK) {
        ::operator delete(block);
    } else {
        munmap(block, mapped_size(bytes));
    }
}
#else
void* allocate_tree_block(std::size_t bytes) { return ::operator new(bytes); }
void free_tree_block(void* block, std::size_t) noexcept { ::operator delete(block); }
#endif

// No Python code runs while a document is read, so the collector can wait:
// a large document would otherwise trigger it again and again as its
// containers are made.
class CollectorPause {
public:
    CollectorPause() : was_enabled_(PyGC_Disable() == 1) {}
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;

private:
    bool was_enabled_;
};

namespace {

// Most documents hold a value every 8 to 16 bytes; storage is sized from
// that for large ones, within a bound, then grows as it must.
constexpr std::size_t LARGE_DOCUMENT = std::size_t{2} << 20;
constexpr std::size_t MAX_RESERVED_NODES = std::size_t{1} << 22;

bool refuse_large(std::string_view input, JsonError& error) {
    if (input.size() <= JSON_MAX_BYTES) return false;
    error = JsonError{TOO_LARGE, JsonError::NO_POSITION};
    return true;
}

}  // namespace

py::Ref parse_json_python(std::string_view input, JsonError& error) {
    if (refuse_large(input, error)) return py::Ref();
    const CollectorPause pause;
    PythonSink sink;
    Parser<PythonSink> parser(input, sink);
    py::Ref out;
    if (!parser.parse(out)) {
        error = parser.error;
        return py::Ref();
    }
    return out;
}

bool parse_json_tree(std::string_view input, JsonTree& tree, JsonError& error) {
    if (refuse_large(input, error)) return false;
    tree.clear();
    tree.input = input;
    if (input.size() > LARGE_DOCUMENT) {
        // Fresh storage at about its final size at once: growing it by
        // doubling would copy it and touch twice as much new memory.
        tree.nodes.reserve(std::min(input.size() / 8, MAX_RESERVED_NODES));
        tree.entries.reserve(std::min(input.size() / 16, MAX_RESERVED_NODES));
    }
    TreeSink sink{tree};
    Parser<TreeSink> parser(input, sink);
    bool root = false;
    if (!parser.parse(root)) {
        error = parser.error;
        return false;
    }
    tree.nodes.push_back(tree.node_stack.back());
    tree.node_stack.clear();
    return true;
}

std::string json_error_text(const JsonError& error, std::string_view input) {
    if (error.index == JsonError::NO_POSITION) return error.kind;
    std::string kind = error.kind;
    if (error.kind == TOO_MANY_DIGITS) kind += std::to_string(error.digit_limit) + " digits";
    std::size_t line = 1;
    std::size_t line_start = 0;
    std::size_t column = 0;
    bool found = false;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
        if (i == error.index) {
            column = i + 1 - line_start;
            found = true;
            break;
        }
    }
    if (!found) column = input.size() - line_start;
    return kind + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

py::Ref json_value_to_py(const JsonTree& tree, const JsonNode& node) {
    switch (node.kind) {
        case JsonKind::Null: return py::Ref::borrow(Py_None);
        case JsonKind::Bool: return py::Ref::borrow(node.truth ? Py_True : Py_False);
        case JsonKind::Int: return checked(PyLong_FromLongLong(node.integer));
        case JsonKind::BigInt: {
            // The digit limit may have been lowered since the document was read.
            const std::string text(tree.text(node));
            return py::Ref::steal(PyLong_FromString(text.c_str(), nullptr, 10));
        }
        case JsonKind::Float: return checked(PyFloat_FromDouble(node.number));
        case JsonKind::String: return make_json_str(tree.text(node));
        case JsonKind::Array: {
            py::Ref list = checked(PyList_New(static_cast<Py_ssize_t>(node.count)));
            for (std::uint32_t i = 0; i < node.count; ++i) {
                py::Ref item = json_value_to_py(tree, tree.item(node, i));
                if (!item) return py::Ref();
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
            }
            return list;
        }
        case JsonKind::Object: {
            py::Ref dict = checked(PyDict_New());
            for (std::uint32_t i = 0; i < node.count; ++i) {
                const JsonEntry& entry = tree.entry(node, i);
                py::Ref value = json_value_to_py(tree, tree.value(entry));
                if (!value) return py::Ref();
                py::Ref key = json_key(tree.key(entry));
                if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return py::Ref();
            }
            return dict;
        }
    }
    return py::Ref();
}

}  // namespace kestrome
