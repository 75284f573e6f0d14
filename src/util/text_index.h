// A table of texts found by a Python str's cached hash or by UTF-8 bytes
// alone, over a small open-addressing slot array.
#pragma once
#include "util/fx_hash.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrome {

// An open-addressing index: a power-of-two array of slots, each 0 (empty)
// or an entry number plus one. An index without slots reads as one empty
// slot, so that a lookup needs no test for it.
class SlotArray {
public:
    SlotArray() = default;
    SlotArray(SlotArray&& other) noexcept
        : owned_(std::move(other.owned_)),
          slots_(std::exchange(other.slots_, &NONE)),
          mask_(std::exchange(other.mask_, 0)) {}
    SlotArray& operator=(SlotArray&& other) noexcept {
        owned_ = std::move(other.owned_);
        slots_ = std::exchange(other.slots_, &NONE);
        mask_ = std::exchange(other.mask_, 0);
        return *this;
    }

    // Empty slots for `count` entries: at most a quarter full.
    void reset_for(std::size_t count);
    std::size_t size() const { return owned_ != nullptr ? mask_ + 1 : 0; }
    // Puts entry number `entry` at the first empty slot from `hash` on.
    void place(std::uint64_t hash, std::size_t entry);

    [[gnu::always_inline]] std::size_t mask() const { return mask_; }
    [[gnu::always_inline]] std::uint32_t operator[](std::size_t i) const { return slots_[i]; }

private:
    static constexpr std::uint32_t NONE = 0;
    std::unique_ptr<std::uint32_t[]> owned_;
    const std::uint32_t* slots_ = &NONE;
    std::size_t mask_ = 0;
};

// Texts found from a Python str by the hash the str caches, and from UTF-8
// bytes alone (a JSON string) by the Fx fold of the bytes. The texts are
// copied into one arena; each hash index is a SlotArray, at most a quarter
// full so that most lookups find their key, or an empty slot, at the first
// probe. The bytes index serves only JSON: it is made on the first lookup by
// bytes.
class TextIndex {
public:
    TextIndex() = default;
    TextIndex(TextIndex&& other) noexcept
        : entries_(std::move(other.entries_)),
          arena_(std::move(other.arena_)),
          by_str_(std::move(other.by_str_)),
          by_bytes_(other.by_bytes_.exchange(nullptr)) {}
    TextIndex& operator=(TextIndex&& other) noexcept {
        if (this != &other) {
            entries_ = std::move(other.entries_);
            arena_ = std::move(other.arena_);
            by_str_ = std::move(other.by_str_);
            delete by_bytes_.exchange(other.by_bytes_.exchange(nullptr));
        }
        return *this;
    }
    TextIndex(const TextIndex&) = delete;
    TextIndex& operator=(const TextIndex&) = delete;
    ~TextIndex() { delete by_bytes_.load(std::memory_order_acquire); }

    // Room for `count` texts of `bytes` bytes in all.
    void reserve(std::size_t count, std::size_t bytes);
    // Maps `text` to `value`; `str_hash` is str_hash() of the text as a str.
    void insert(std::string_view text, std::uint64_t str_hash, std::uint64_t value);

    [[gnu::always_inline]] const std::uint64_t* find(std::string_view text, std::uint64_t str_hash) const {
        const Entry* e = entry_of(text, str_hash);
        return e != nullptr ? &e->value : nullptr;
    }

    [[gnu::always_inline]] const std::uint64_t* find(std::string_view text) const {
        const Entry* e = entry_of(text);
        return e != nullptr ? &e->value : nullptr;
    }

    // The same lookup by bytes, trying first the entry at `cursor`: texts
    // often come in the order they were inserted (a document's keys in the
    // order of the record's fields). The cursor moves past the entry found.
    [[gnu::always_inline]] const std::uint64_t* find_next(std::string_view text, std::size_t& cursor) const {
        if (cursor < entries_.size() && holds(entries_[cursor], text)) return &entries_[cursor++].value;
        const Entry* e = entry_of(text);
        if (e == nullptr) return nullptr;
        cursor = static_cast<std::size_t>(e - entries_.data()) + 1;
        return &e->value;
    }

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    struct Entry {
        std::uint64_t str_hash;
        std::uint32_t offset;
        std::uint32_t size;
        std::uint64_t value;
    };
    struct BytesIndex {
        SlotArray slots;
        std::vector<std::uint64_t> hashes;  // bytes_hash of each entry's text
    };

    [[gnu::always_inline]] const Entry* entry_of(std::string_view text, std::uint64_t str_hash) const {
        const std::size_t mask = by_str_.mask();
        for (std::size_t i = static_cast<std::size_t>(str_hash) & mask;; i = (i + 1) & mask) {
            const std::uint32_t at = by_str_[i];
            if (at == 0) return nullptr;
            const Entry& e = entries_[at - 1];
            if (e.str_hash == str_hash && holds(e, text)) return &e;
        }
    }
    // The hash of the bytes index: the Fx fold of the bytes, already mixed.
    static std::uint64_t bytes_hash(std::string_view text) { return fx_hash_bytes(text.data(), text.size()); }
    // The entry of a text by its bytes alone.
    [[gnu::always_inline]] const Entry* entry_of(std::string_view text) const {
        const BytesIndex* index = by_bytes_.load(std::memory_order_acquire);
        if (index == nullptr) {
            if (entries_.empty()) return nullptr;
            index = &bytes_index();
        }
        const std::uint64_t hash = bytes_hash(text);
        const std::size_t mask = index->slots.mask();
        for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
            const std::uint32_t at = index->slots[i];
            if (at == 0) return nullptr;
            const Entry& e = entries_[at - 1];
            if (index->hashes[at - 1] == hash && holds(e, text)) return &e;
        }
    }
    bool holds(const Entry& e, std::string_view text) const {
        return e.size == text.size() && same_text(arena_.data() + e.offset, text.data(), text.size());
    }
    // The bytes index, made now if no lookup by bytes made it before.
    const BytesIndex& bytes_index() const;

    std::vector<Entry> entries_;
    std::string arena_;
    SlotArray by_str_;
    mutable std::atomic<BytesIndex*> by_bytes_{nullptr};
};

}  // namespace kestrome
