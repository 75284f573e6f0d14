// The Fx hash: a multiply-rotate hash for lookups in internal tables.
// Results never escape: no observable behaviour depends on table order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kestrome {

inline constexpr std::uint64_t FX_SEED = 0xf1357aea2e62a9c5ULL;

struct FxHasher {
    std::uint64_t state = 0;
    void add(std::uint64_t word) { state = (state + word) * FX_SEED; }
    std::uint64_t finish() const { return (state << 26) | (state >> 38); }
};

// Folds a byte string into one word.
std::uint64_t fx_hash_bytes_long(const void* data, std::size_t len);

inline std::uint64_t fx_multiply_mix(std::uint64_t x, std::uint64_t y) {
    const unsigned __int128 full = static_cast<unsigned __int128>(x) * y;
    return static_cast<std::uint64_t>(full) ^ static_cast<std::uint64_t>(full >> 64);
}

// Short texts (field names, literal strings) are folded inline.
inline std::uint64_t fx_hash_bytes(const void* data, std::size_t len) {
    if (len > 16) return fx_hash_bytes_long(data, len);
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint64_t s0 = 0x243f6a8885a308d3ULL;
    std::uint64_t s1 = 0x13198a2e03707344ULL;
    if (len >= 8) {
        std::uint64_t a, b;
        std::memcpy(&a, bytes, 8);
        std::memcpy(&b, bytes + len - 8, 8);
        s0 ^= a;
        s1 ^= b;
    } else if (len >= 4) {
        std::uint32_t a, b;
        std::memcpy(&a, bytes, 4);
        std::memcpy(&b, bytes + len - 4, 4);
        s0 ^= a;
        s1 ^= b;
    } else if (len > 0) {
        s0 ^= bytes[0];
        s1 ^= (static_cast<std::uint64_t>(bytes[len - 1]) << 8) | bytes[len / 2];
    }
    return fx_multiply_mix(s0, s1) ^ static_cast<std::uint64_t>(len);
}

inline std::uint64_t fx_hash_word(std::uint64_t word) {
    FxHasher h;
    h.add(word);
    return h.finish();
}

inline std::uint64_t fx_hash_pair(std::uint64_t a, std::uint64_t b) {
    FxHasher h;
    h.add(a);
    h.add(b);
    return h.finish();
}

inline std::uint64_t fx_hash_text(std::string_view text) {
    return fx_hash_word(fx_hash_bytes(text.data(), text.size()));
}

// Equal texts of n bytes, read a word (or half of one) at a time from both
// ends: the short texts of table lookups (keys, names) take two or four
// loads and no call.
inline bool same_text(const char* a, const char* b, std::size_t n) {
    if (n >= 8) {
        std::uint64_t x, y, u, v;
        for (std::size_t k = 0; k + 8 < n; k += 8) {
            std::memcpy(&x, a + k, 8);
            std::memcpy(&y, b + k, 8);
            if (x != y) return false;
        }
        std::memcpy(&u, a + n - 8, 8);
        std::memcpy(&v, b + n - 8, 8);
        return u == v;
    }
    if (n >= 4) {
        std::uint32_t x, y, u, v;
        std::memcpy(&x, a, 4);
        std::memcpy(&y, b, 4);
        std::memcpy(&u, a + n - 4, 4);
        std::memcpy(&v, b + n - 4, 4);
        return x == y && u == v;
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (a[k] != b[k]) return false;
    }
    return true;
}

inline bool same_text(std::string_view a, std::string_view b) {
    return a.size() == b.size() && same_text(a.data(), b.data(), a.size());
}

// Hashers for the standard containers; the text one also serves
// heterogeneous lookups by std::string_view.
struct FxPointerHash {
    std::size_t operator()(const void* p) const {
        return static_cast<std::size_t>(fx_hash_word(reinterpret_cast<std::uintptr_t>(p)));
    }
};

struct FxWordHash {
    std::size_t operator()(std::uint64_t w) const { return static_cast<std::size_t>(fx_hash_word(w)); }
    std::size_t operator()(std::int64_t w) const {
        return static_cast<std::size_t>(fx_hash_word(static_cast<std::uint64_t>(w)));
    }
};

struct FxTextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return static_cast<std::size_t>(fx_hash_text(s)); }
    std::size_t operator()(const std::string& s) const { return operator()(std::string_view(s)); }
    std::size_t operator()(const char* s) const { return operator()(std::string_view(s)); }
};

struct TextEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return a == b; }
};

}  // namespace kestrome
