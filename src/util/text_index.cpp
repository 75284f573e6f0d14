#include "util/text_index.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kestrome {

void SlotArray::reset_for(std::size_t count) {
    std::size_t n = 8;
    while (n < count * 4) n *= 2;
    owned_ = std::make_unique<std::uint32_t[]>(n);
    slots_ = owned_.get();
    mask_ = n - 1;
}

void SlotArray::place(std::uint64_t hash, std::size_t entry) {
    std::size_t i = static_cast<std::size_t>(hash) & mask_;
    while (owned_[i] != 0) i = (i + 1) & mask_;
    owned_[i] = static_cast<std::uint32_t>(entry + 1);
}

void TextIndex::reserve(std::size_t count, std::size_t bytes) {
    entries_.reserve(count);
    arena_.reserve(bytes);
}

void TextIndex::insert(std::string_view text, std::uint64_t str_hash, std::uint64_t value) {
    if (const Entry* e = entry_of(text, str_hash)) {
        const_cast<Entry*>(e)->value = value;  // the last value of a text wins
        return;
    }
    delete by_bytes_.exchange(nullptr);  // made again, with this text, when next needed
    entries_.push_back(Entry{str_hash, static_cast<std::uint32_t>(arena_.size()),
                             static_cast<std::uint32_t>(text.size()), value});
    arena_.append(text);
    if (entries_.size() * 4 > by_str_.size()) {
        by_str_.reset_for(entries_.size());
        for (std::size_t i = 0; i < entries_.size(); ++i) by_str_.place(entries_[i].str_hash, i);
    } else {
        by_str_.place(str_hash, entries_.size() - 1);
    }
}

const TextIndex::BytesIndex& TextIndex::bytes_index() const {
    auto fresh = std::make_unique<BytesIndex>();
    fresh->slots.reset_for(entries_.size());
    fresh->hashes.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        fresh->hashes.push_back(bytes_hash(std::string_view(arena_.data() + e.offset, e.size)));
        fresh->slots.place(fresh->hashes.back(), i);
    }
    BytesIndex* expected = nullptr;
    if (by_bytes_.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) {
        return *fresh.release();
    }
    return *expected;  // another lookup made it first
}

}  // namespace kestrome
