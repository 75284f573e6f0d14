// SipHash-1-3 over a byte stream (the validator's hash).
#pragma once
#include <cstddef>
#include <cstdint>

namespace kestrome {

class SipHasher13 {
public:
    SipHasher13(std::uint64_t k0 = 0, std::uint64_t k1 = 0);
    void write(const void* data, std::size_t len);
    void write_u8(std::uint8_t byte) { write(&byte, 1); }
    void write_u64(std::uint64_t value);  // 8 bytes, least significant first
    std::uint64_t finish() const;

private:
    std::uint64_t v0_, v1_, v2_, v3_;
    std::uint64_t tail_ = 0;  // pending bytes, little-endian
    std::size_t ntail_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace kestrome
