// The compiled form of a schema: a strict tree of tagged nodes that never
// holds a Python reference. Python objects are named by their index in the
// validator's constants, recursive definitions by their index in its
// definitions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrome {

class SipHasher13;

enum class Kind : std::uint8_t {
    Anything = 0,
    Any,
    Nothing,
    NoneType,
    Bool,
    Int,
    Float,
    Str,
    Bytes,
    Literal,
    Sequence,
    Set,
    FrozenSet,
    Record,
    Union,
    Intersection,
    Complement,
    Instance,
    Object,
    Refinement,
    BackEdge,
    Placeholder,
};

enum class ShapeForm : std::uint8_t { Empty = 0, Item, Concat, Alternation, Repeat };

enum class ConstraintKind : std::uint8_t { Ge = 0, Gt, Le, Lt, MinLen, MaxLen, MultipleOf, Predicate, Regex };

inline constexpr std::uint8_t LIST_FLAG = 0;
inline constexpr std::uint8_t TUPLE_FLAG = 1;

struct Schema;
struct Field;
struct CatchAll;

// The item shape of a Sequence.
struct SeqShape {
    ShapeForm form = ShapeForm::Empty;
    std::unique_ptr<Schema> item;     // Item
    std::vector<SeqShape> parts;      // Concat, Alternation
    std::unique_ptr<SeqShape> inner;  // Repeat

    SeqShape() = default;
    SeqShape(SeqShape&&) noexcept = default;
    SeqShape& operator=(SeqShape&&) noexcept = default;
    SeqShape(const SeqShape&) = delete;
    SeqShape& operator=(const SeqShape&) = delete;
    ~SeqShape();
};

// One condition of a Refinement: a pool index (bounds, divisor, predicate),
// a length (MinLen, MaxLen) or a pattern (Regex).
struct Constraint {
    ConstraintKind kind = ConstraintKind::Ge;
    std::uint64_t value = 0;
    std::string pattern;
};

struct Schema {
    Kind kind = Kind::Anything;
    std::uint8_t tuple_flag = LIST_FLAG;  // Sequence
    // Literal, Instance and Object: pool index; BackEdge: definition index;
    // Placeholder: placeholder id.
    std::uint64_t index = 0;
    std::unique_ptr<Schema> inner;  // Set, FrozenSet, Complement, Refinement base
    SeqShape shape;                 // Sequence
    std::vector<Schema> members;    // Union, Intersection
    std::vector<Field> fields;      // Record fields, Object attributes
    std::vector<CatchAll> clauses;  // Record
    std::vector<Constraint> constraints;  // Refinement

    Schema() = default;
    explicit Schema(Kind k) : kind(k) {}
    Schema(Schema&&) noexcept = default;
    Schema& operator=(Schema&&) noexcept = default;
    Schema(const Schema&) = delete;
    Schema& operator=(const Schema&) = delete;
    ~Schema();
};

struct Field {
    std::string name;
    Schema schema;
    bool required = true;
};

struct CatchAll {
    Schema key;
    Schema value;
};

// A sequence shape read as a fixed prefix and an optional repeated tail.
// It borrows from its shape: prefix item i is *prefix_items[i].item.
struct LinearShape {
    const SeqShape* prefix_items = nullptr;
    std::size_t prefix_len = 0;
    const Schema* tail = nullptr;

    const Schema& prefix(std::size_t i) const { return *prefix_items[i].item; }
};

bool eq_schema(const Schema& a, const Schema& b);

// Definitions [count, 2 * count) copied from [0, count): a back edge to a copy
// and one to its original name the same definition.
struct DefinitionMirror {
    std::uint64_t count = 0;
    std::uint64_t image(std::uint64_t i) const { return i >= count && i - count < count ? i - count : i; }
};

// Equality that reads back edges through the mirror.
bool eq_schema(const Schema& a, const Schema& b, const DefinitionMirror& mirror);
bool eq_seq_shape(const SeqShape& a, const SeqShape& b);
bool eq_constraint(const Constraint& a, const Constraint& b);
bool eq_constraint_slice(const std::vector<Constraint>& a, const std::vector<Constraint>& b);

// Total order agreeing with equality: negative, zero or positive.
int cmp_schema(const Schema& a, const Schema& b);
int cmp_seq_shape(const SeqShape& a, const SeqShape& b);
int cmp_constraint(const Constraint& a, const Constraint& b);

void hash_schema(const Schema& node, SipHasher13& hasher);
void hash_seq_shape(const SeqShape& shape, SipHasher13& hasher);

// Where a node's children go in a structural hash: hashed into the same
// stream in turn (the whole-tree hash), or written as a hash kept for them.
struct ChildHasher {
    void (*hash)(const void* context, const Schema& child, SipHasher13& hasher);
    const void* context;
};

// One node of a structural hash: its own payload, back edges through the
// mirror, and each child through `child`.
void hash_schema_node(const Schema& node, SipHasher13& hasher, const ChildHasher& child,
                      const DefinitionMirror& mirror);

Schema clone_schema(const Schema& node);

// Constructors.
Schema leaf(Kind kind);
Schema indexed(Kind kind, std::uint64_t index);
Schema boxed(Kind kind, Schema inner);
Schema union_of(std::vector<Schema> members);
Schema intersection_of(std::vector<Schema> members);
Schema complement_of(Schema inner);
Schema dict_record_of(Schema key, Schema value);
Schema sequence_of(std::uint8_t tuple_flag, SeqShape shape);
SeqShape seq_shape_item(Schema item);
SeqShape seq_shape_repeat(Schema item);
SeqShape seq_shape_concat(std::vector<Schema> items);
SeqShape seq_shape_prefix_tail(std::vector<Schema> prefix, Schema tail);

std::optional<LinearShape> linearize_seq_shape(const SeqShape& shape);

}  // namespace kestrome
