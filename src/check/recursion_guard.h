// The pairs (value identity, definition index) whose definitions are being
// walked on the current recursion path. At most 129 pairs are ever held,
// so a fixed table of 256 slots never fills. The table lives off the native
// stack, so that a check started by Python code inside another check costs
// little stack: each thread keeps one table for its outermost check that
// meets a back edge, and a nested check takes a table of its own. Every
// pair inserted is removed again, so a table goes back empty.
//
// The same block holds a small filter of the decisions of definitions made
// lately in the check (by a hash of their memo key), through which the walk
// notices that a decision repeats. A reused block's filter is not cleared:
// each check tags its entries with a number of its own.
#pragma once
#include "util/fx_hash.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrome {

inline constexpr std::size_t MAX_OPEN_RECURSION = 128;

class OpenRecursionSet {
public:
    OpenRecursionSet() = default;
    OpenRecursionSet(const OpenRecursionSet&) = delete;
    OpenRecursionSet& operator=(const OpenRecursionSet&) = delete;
    ~OpenRecursionSet() {
        if (block_ == nullptr || block_ != spare().get()) return;
        // A walk cut short by an internal failure leaves its pairs behind.
        if (size_ != 0) std::fill(slots_, slots_ + CAPACITY, Slot{0, 0});
        spare_busy() = false;
    }

    // Whether a decision with this key hash was noted lately in this check.
    // Both only once a pair was inserted, which gives the check its table.
    bool decided_recently(std::uint64_t hash) const { return block_->recent[hash & RECENT_MASK] == (hash ^ tag_); }
    void note_decided(std::uint64_t hash) { block_->recent[hash & RECENT_MASK] = hash ^ tag_; }

    // The hash a pair is placed by, for insert and remove.
    static std::uint64_t pair_hash(std::uint64_t id, std::uint64_t def) { return fx_hash_pair(id, def); }

    // Inserts the pair; false when it was present already.
    [[gnu::always_inline]] bool insert(std::uint64_t id, std::uint64_t def, std::uint64_t hash) {
        if (block_ == nullptr) lease();
        std::size_t i = slot_of(hash);
        while (slots_[i].id != 0) {
            if (slots_[i].id == id && slots_[i].def == def) return false;
            i = (i + 1) & MASK;
        }
        slots_[i] = Slot{id, def};
        ++size_;
        return true;
    }

    // Removes a pair that is present (backward-shift deletion).
    void remove(std::uint64_t id, std::uint64_t def, std::uint64_t hash) {
        std::size_t i = slot_of(hash);
        while (!(slots_[i].id == id && slots_[i].def == def)) i = (i + 1) & MASK;
        std::size_t hole = i;
        for (std::size_t j = (hole + 1) & MASK; slots_[j].id != 0; j = (j + 1) & MASK) {
            const std::size_t home = slot_of(pair_hash(slots_[j].id, slots_[j].def));
            // Move j into the hole unless its home lies cyclically in (hole, j].
            if (((j - home) & MASK) >= ((j - hole) & MASK)) {
                slots_[hole] = slots_[j];
                hole = j;
            }
        }
        slots_[hole] = Slot{0, 0};
        --size_;
    }

    std::size_t size() const { return size_; }

private:
    // id 0 marks an empty slot (no value lives at address 0).
    struct Slot {
        std::uint64_t id;
        std::uint64_t def;
    };
    static constexpr std::size_t CAPACITY = 256;
    static constexpr std::size_t MASK = CAPACITY - 1;
    static constexpr std::size_t RECENT = 64;
    static constexpr std::size_t RECENT_MASK = RECENT - 1;
    struct Block {
        Slot slots[CAPACITY];
        std::uint64_t recent[RECENT];
    };
    using BlockPtr = std::unique_ptr<Block>;

    static BlockPtr& spare() {
        static thread_local BlockPtr block;
        return block;
    }
    static bool& spare_busy() {
        static thread_local bool busy = false;
        return busy;
    }
    static std::uint64_t next_tag() {
        static thread_local std::uint64_t checks = 0;
        return ++checks * 0x9e3779b97f4a7c15ULL;
    }

    [[gnu::noinline]] void lease() {
        if (!spare_busy()) {
            if (!spare()) spare() = std::make_unique<Block>();
            spare_busy() = true;
            block_ = spare().get();
        } else {
            own_ = std::make_unique<Block>();
            block_ = own_.get();
        }
        slots_ = block_->slots;
        tag_ = next_tag();
    }

    static std::size_t slot_of(std::uint64_t hash) { return static_cast<std::size_t>(hash >> 56) & MASK; }

    Block* block_ = nullptr;
    Slot* slots_ = nullptr;
    BlockPtr own_;
    std::size_t size_ = 0;
    std::uint64_t tag_ = 0;
};

}  // namespace kestrome
