#include "regex/regex.h"

#include "regex/matcher.h"
#include "regex/parser.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kestrome::regex {

namespace {

// The pattern's code points; a malformed byte stands for itself.
std::u32string decode(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        const int len = b0 < 0x80 ? 1 : b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 1;
        if (len == 1 || i + len > text.size()) {
            out.push_back(b0);
            ++i;
            continue;
        }
        char32_t cp = b0 & (0x7F >> len);
        for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        out.push_back(cp);
        i += len;
    }
    return out;
}

}  // namespace

std::unique_ptr<Regex> Regex::compile(std::string_view pattern, std::string* error) {
    const std::u32string chars = decode(pattern);
    Syntax syntax;
    ParseError parse_error{};
    const ParseResult parsed = parse_pattern(chars, syntax, parse_error);
    if (parsed == ParseResult::Invalid) {
        if (error != nullptr) *error = format_parse_error(chars, parse_error);
        return nullptr;
    }
    std::unique_ptr<Regex> re(new Regex());
    if (parsed == ParseResult::TooBig || !compile_program(syntax, re->program_)) {
        if (error != nullptr) {
            *error = "Compiled regex exceeds size limit of " + std::to_string(SIZE_LIMIT) + " bytes.";
        }
        return nullptr;
    }
    return re;
}

Regex::~Regex() {
    for (auto& slot : slots_) delete slot.load(std::memory_order_acquire);
}

MatchCache* Regex::take() const {
    for (auto& slot : slots_) {
        if (MatchCache* cache = slot.exchange(nullptr, std::memory_order_acquire)) return cache;
    }
    return new MatchCache(program_);
}

void Regex::give_back(MatchCache* cache) const {
    for (auto& slot : slots_) {
        MatchCache* empty = nullptr;
        if (slot.compare_exchange_strong(empty, cache, std::memory_order_release, std::memory_order_relaxed)) return;
    }
    delete cache;
}

bool Regex::full_match(std::string_view text) const {
    MatchCache* cache = take();
    const bool answer = regex::full_match(program_, *cache, text);
    give_back(cache);
    return answer;
}

}  // namespace kestrome::regex
