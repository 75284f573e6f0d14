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
std::uint64_t fx_hash_bytes(const void* data, std::size_t len);

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
