// The parsed value tree of a JSON document, walked in place by is_valid_json.
#pragma once
#include "py/ref.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace kestrome {

// Storage for the value tree's tables. Past the size kept between documents
// a large document's tables are new memory on every call: they are mapped in
// huge pages where the system allows, so that touching them costs a few page
// faults rather than one per 4 kB.
void* allocate_tree_block(std::size_t bytes);
void free_tree_block(void* block, std::size_t bytes) noexcept;

// A growable table of plain records, in blocks from allocate_tree_block:
// doubled when full, kept when cleared, appended to with one copy.
template <class T>
class TreeTable {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    TreeTable() = default;
    TreeTable(TreeTable&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    TreeTable& operator=(TreeTable&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    TreeTable(const TreeTable&) = delete;
    TreeTable& operator=(const TreeTable&) = delete;
    ~TreeTable() { release(); }

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    T& back() { return data_[size_ - 1]; }
    const T& back() const { return data_[size_ - 1]; }

    void clear() { size_ = 0; }
    // Drops the records from `size` on.
    void truncate(std::size_t size) { size_ = size; }
    void reserve(std::size_t capacity) {
        if (capacity > capacity_) regrow(capacity);
    }
    void push_back(const T& record) {
        if (size_ == capacity_) grow(size_ + 1);
        data_[size_++] = record;
    }
    void append(const T* first, std::size_t count) {
        if (size_ + count > capacity_) grow(size_ + count);
        if (count <= 4) {  // most runs are short: no call
            for (std::size_t k = 0; k < count; ++k) data_[size_ + k] = first[k];
        } else {
            std::memcpy(data_ + size_, first, count * sizeof(T));
        }
        size_ += count;
    }

private:
    void grow(std::size_t needed) { regrow(std::max({needed, capacity_ * 2, std::size_t{64}})); }
    void regrow(std::size_t capacity) {
        T* block = static_cast<T*>(allocate_tree_block(capacity * sizeof(T)));
        if (size_ != 0) std::memcpy(block, data_, size_ * sizeof(T));
        release();
        data_ = block;
        capacity_ = capacity;
    }
    void release() noexcept {
        if (data_ != nullptr) free_tree_block(data_, capacity_ * sizeof(T));
        data_ = nullptr;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

enum class JsonKind : std::uint8_t { Null, Bool, Int, BigInt, Float, String, Array, Object };

// 16 bytes a node. String and BigInt name a text in the tree's arena or in
// the input, Array a run of the tree's nodes (its elements), Object a run of
// its entries: `first` and `count`.
struct JsonNode {
    JsonKind kind = JsonKind::Null;
    bool in_arena = false;  // a text copied (escapes resolved), else a view of the input
    std::uint32_t count = 0;
    union {
        bool truth;            // Bool
        std::int64_t integer;  // Int
        double number;         // Float
        std::uint32_t first;   // String, BigInt, Array, Object
    };

    JsonNode() : integer(0) {}
    explicit JsonNode(JsonKind k) : kind(k), integer(0) {}
};

struct JsonEntry {
    std::uint32_t key_first;  // the key text, in the arena or in the input
    std::uint32_t key_count;
    std::uint32_t value;  // node index
    bool key_in_arena;
};

struct JsonTree {
    void clear() {
        nodes.clear();
        entries.clear();
        arena.clear();
        node_stack.clear();
        entry_stack.clear();
    }
    // The storage held, to decide whether to keep it for the next document.
    std::size_t capacity_bytes() const {
        return (nodes.capacity() + node_stack.capacity()) * sizeof(JsonNode) +
               (entries.capacity() + entry_stack.capacity()) * sizeof(JsonEntry) + arena.capacity();
    }
    // The part of it the last document filled.
    std::size_t used_bytes() const {
        return nodes.size() * sizeof(JsonNode) + entries.size() * sizeof(JsonEntry) + arena.size();
    }

    TreeTable<JsonNode> nodes;  // the children of each container in one run; the root last
    TreeTable<JsonEntry> entries;
    std::string arena;     // texts with escapes resolved
    std::string_view input;  // the document, which outlives the tree's use
    // While reading: the children of the open containers.
    TreeTable<JsonNode> node_stack;
    TreeTable<JsonEntry> entry_stack;

    const JsonNode& root() const { return nodes.back(); }
    std::string_view text(std::uint32_t first, std::uint32_t count, bool in_arena) const {
        return std::string_view((in_arena ? arena.data() : input.data()) + first, count);
    }
    std::string_view text(const JsonNode& node) const { return text(node.first, node.count, node.in_arena); }
    std::string_view key(const JsonEntry& entry) const {
        return text(entry.key_first, entry.key_count, entry.key_in_arena);
    }
    const JsonNode& item(const JsonNode& array, std::uint32_t i) const { return nodes[array.first + i]; }
    const JsonEntry& entry(const JsonNode& object, std::uint32_t i) const { return entries[object.first + i]; }
    const JsonNode& value(const JsonEntry& entry) const { return nodes[entry.value]; }
};

// A node under check, with the tree it belongs to.
struct JsonRef {
    const JsonTree* tree;
    const JsonNode* node;
};

// A new Python object for the node and everything below it, or an empty
// reference with the exception pending.
py::Ref json_value_to_py(const JsonTree& tree, const JsonNode& node);

}  // namespace kestrome
