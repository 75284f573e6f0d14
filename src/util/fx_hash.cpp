#include "util/fx_hash.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrome {

namespace {

constexpr std::uint64_t SEED1 = 0x243f6a8885a308d3ULL;
constexpr std::uint64_t SEED2 = 0x13198a2e03707344ULL;
constexpr std::uint64_t PREVENT_TRIVIAL_ZERO_COLLAPSE = 0xa4093822299f31d0ULL;

std::uint64_t load64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

}  // namespace

std::uint64_t fx_hash_bytes_long(const void* data, std::size_t len) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint64_t s0 = SEED1;
    std::uint64_t s1 = SEED2;
    std::size_t off = 0;
    while (off < len - 16) {
        const std::uint64_t x = load64(bytes + off);
        const std::uint64_t y = load64(bytes + off + 8);
        const std::uint64_t t = fx_multiply_mix(s0 ^ x, PREVENT_TRIVIAL_ZERO_COLLAPSE ^ y);
        s0 = s1;
        s1 = t;
        off += 16;
    }
    s0 ^= load64(bytes + len - 16);
    s1 ^= load64(bytes + len - 8);
    return fx_multiply_mix(s0, s1) ^ static_cast<std::uint64_t>(len);
}

}  // namespace kestrome
