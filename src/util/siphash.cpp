#include "util/siphash.h"

#include <cstddef>
#include <cstdint>

namespace kestrome {

namespace {

inline std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

inline void sip_round(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2, std::uint64_t& v3) {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
}

}  // namespace

SipHasher13::SipHasher13(std::uint64_t k0, std::uint64_t k1)
    : v0_(k0 ^ 0x736f6d6570736575ULL),
      v1_(k1 ^ 0x646f72616e646f6dULL),
      v2_(k0 ^ 0x6c7967656e657261ULL),
      v3_(k1 ^ 0x7465646279746573ULL) {}

void SipHasher13::write(const void* data, std::size_t len) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    length_ += len;
    for (std::size_t i = 0; i < len; ++i) {
        tail_ |= static_cast<std::uint64_t>(bytes[i]) << (8 * ntail_);
        if (++ntail_ == 8) {
            v3_ ^= tail_;
            sip_round(v0_, v1_, v2_, v3_);
            v0_ ^= tail_;
            tail_ = 0;
            ntail_ = 0;
        }
    }
}

void SipHasher13::write_u64(std::uint64_t value) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
    write(bytes, 8);
}

std::uint64_t SipHasher13::finish() const {
    std::uint64_t v0 = v0_, v1 = v1_, v2 = v2_, v3 = v3_;
    const std::uint64_t b = ((length_ & 0xff) << 56) | tail_;
    v3 ^= b;
    sip_round(v0, v1, v2, v3);
    v0 ^= b;
    v2 ^= 0xff;
    sip_round(v0, v1, v2, v3);
    sip_round(v0, v1, v2, v3);
    sip_round(v0, v1, v2, v3);
    return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace kestrome
