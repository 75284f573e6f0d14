// Small open-addressing tables for the lookups of the membership walk.
#pragma once
#include "util/fx_hash.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrome {

// A set of signed 64-bit integers.
class IntSet {
public:
    void insert(std::int64_t v) {
        if ((size_ + 1) * 2 > slots_.size()) grow();
        Slot& slot = slots_[probe(v)];
        if (!slot.used) {
            slot = Slot{v, true};
            ++size_;
        }
    }

    bool contains(std::int64_t v) const { return size_ != 0 && slots_[probe(v)].used; }
    std::size_t size() const { return size_; }

private:
    struct Slot {
        std::int64_t value = 0;
        bool used = false;
    };

    std::size_t probe(std::int64_t v) const {
        // Fibonacci hashing: the top bits of the value times 2^64 / golden
        // ratio. Arithmetic progressions, the usual literal sets, spread
        // evenly over the slots, so most lookups take one probe.
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = static_cast<std::size_t>((static_cast<std::uint64_t>(v) * 0x9E3779B97F4A7C15ULL) >> shift_);
        while (slots_[i].used && slots_[i].value != v) i = (i + 1) & mask;
        return i;
    }

    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 8 : old.size() * 2, Slot{});
        shift_ = 64 - static_cast<unsigned>(__builtin_ctzll(slots_.size()));
        size_ = 0;
        for (const Slot& s : old) {
            if (s.used) insert(s.value);
        }
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    unsigned shift_ = 64;  // keeps the product's log2(slots) top bits
};

// A word (an address, or a node's id) -> T.
template <class Key, class T>
class WordMap {
public:
    // Inserts unless present; returns whether it inserted.
    bool try_emplace(Key key, T value) {
        if (find(key) != nullptr) return false;
        if ((entries_.size() + 1) * 2 > slots_.size()) grow();
        place(key, entries_.size());
        entries_.emplace_back(key, std::move(value));
        return true;
    }

    [[gnu::always_inline]] const T* find(Key key) const {
        if (entries_.empty()) return nullptr;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = slot_of(key) & mask;; i = (i + 1) & mask) {
            const std::uint32_t at = slots_[i];
            if (at == 0) return nullptr;
            if (entries_[at - 1].first == key) return &entries_[at - 1].second;
        }
    }

    T* find_mut(Key key) { return const_cast<T*>(find(key)); }
    bool contains(Key key) const { return find(key) != nullptr; }
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }

private:
    static std::size_t slot_of(Key key) {
        std::uint64_t word;
        if constexpr (std::is_pointer_v<Key>) {
            word = reinterpret_cast<std::uintptr_t>(key);
        } else {
            word = key;
        }
        return static_cast<std::size_t>(fx_hash_word(word) >> 32);
    }

    void place(Key key, std::size_t index) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = slot_of(key) & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = static_cast<std::uint32_t>(index + 1);
    }

    void grow() {
        slots_.assign(slots_.empty() ? 8 : slots_.size() * 2, 0);
        for (std::size_t i = 0; i < entries_.size(); ++i) place(entries_[i].first, i);
    }

    std::vector<std::pair<Key, T>> entries_;
    std::vector<std::uint32_t> slots_;  // entry index + 1; 0 marks an empty slot
};

// Identity (an address) -> T.
template <class T>
using PointerMap = WordMap<const void*, T>;

// A node of a validator's trees, by its id (Schema::id) -> T.
template <class T>
using NodeMap = WordMap<std::uint32_t, T>;

}  // namespace kestrome
