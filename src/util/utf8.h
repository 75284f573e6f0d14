// UTF-8 encoding and validation.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrome {

inline void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// How many bytes of a sequence that starts with byte s[i] form a valid
// prefix of a UTF-8 sequence, and how long the whole sequence must be (0 for
// a byte that cannot start one).
struct Utf8Prefix {
    std::size_t valid;
    std::size_t length;
};

inline Utf8Prefix utf8_prefix(const unsigned char* s, std::size_t i, std::size_t n) {
    const unsigned char b0 = s[i];
    std::size_t length;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return Utf8Prefix{0, 0};
    }
    std::size_t k = 1;
    while (k < length && i + k < n) {
        const unsigned char b = s[i + k];
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) break;
        ++k;
    }
    return Utf8Prefix{k, length};
}

}  // namespace kestrome
