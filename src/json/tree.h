// The parsed value tree of a JSON document, walked in place by is_valid_json.
#pragma once
#include "py/ref.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrome {

// Storage for the value tree's tables. Past the size kept between documents
// a large document's tables are new memory on every call: they are mapped in
// huge pages where the system allows, so that touching them costs a few page
// faults rather than one per 4 kB.
void* allocate_tree_block(std::size_t bytes);
void free_tree_block(void* block, std::size_t bytes) noexcept;

template <class T>
struct TreeAllocator {
    using value_type = T;
    TreeAllocator() = default;
    template <class U>
    TreeAllocator(const TreeAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(allocate_tree_block(n * sizeof(T))); }
    void deallocate(T* block, std::size_t n) noexcept { free_tree_block(block, n * sizeof(T)); }
    template <class U>
    bool operator==(const TreeAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using TreeTable = std::vector<T, TreeAllocator<T>>;

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
