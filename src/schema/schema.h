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
#include <type_traits>
#include <utility>
#include <variant>
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

    SeqShape() = default;
    SeqShape(SeqShape&&) noexcept = default;
    SeqShape& operator=(SeqShape&&) noexcept = default;
    SeqShape(const SeqShape&) = delete;
    SeqShape& operator=(const SeqShape&) = delete;
    ~SeqShape();

    // Repeat (read like a Schema's parts).
    std::unique_ptr<SeqShape>& inner() { return inner_; }
    const std::unique_ptr<SeqShape>& inner() const { return inner_; }

private:
    std::unique_ptr<SeqShape> inner_;
};

// One condition of a Refinement: a pool index (bounds, divisor, predicate),
// a length (MinLen, MaxLen) or a pattern (Regex).
struct Constraint {
    ConstraintKind kind = ConstraintKind::Ge;
    std::uint64_t value = 0;
    std::string pattern;
};

struct SchemaBody;

// A node is its kind, a flag and an index; the parts only some kinds have
// (an inner schema, a shape, members, fields and clauses, constraints) sit
// in a body of that family's own shape, allocated when a part of the node's
// kind is first written. A part the node's kind does not hold reads as empty.
struct Schema {
    Kind kind = Kind::Anything;
    std::uint8_t tuple_flag = LIST_FLAG;  // Sequence
    // The node's number in its validator's trees (from 1, given when the
    // validator's state is made), which keys the validator's tables; 0 in a
    // tree no validator holds. Not part of the schema's value.
    std::uint32_t id = 0;
    // Literal, Instance and Object: pool index; BackEdge: definition index;
    // Placeholder: placeholder id.
    std::uint64_t index = 0;

    Schema() = default;
    explicit Schema(Kind k) : kind(k) {}
    Schema(Schema&&) noexcept = default;
    Schema& operator=(Schema&&) noexcept = default;
    Schema(const Schema&) = delete;
    Schema& operator=(const Schema&) = delete;
    ~Schema();

    const std::unique_ptr<Schema>& inner() const;  // Set, FrozenSet, Complement, Refinement base
    const SeqShape& shape() const;                 // Sequence
    const std::vector<Schema>& members() const;    // Union, Intersection
    const std::vector<Field>& fields() const;      // Record fields, Object attributes
    const std::vector<CatchAll>& clauses() const;  // Record
    const std::vector<Constraint>& constraints() const;  // Refinement
    std::unique_ptr<Schema>& inner();
    SeqShape& shape();
    std::vector<Schema>& members();
    std::vector<Field>& fields();
    std::vector<CatchAll>& clauses();
    std::vector<Constraint>& constraints();

private:
    template <class Part>
    const Part* part() const;
    template <class Part>
    Part& own_part();

    std::unique_ptr<SchemaBody> body_;
};

static_assert(sizeof(Schema) == 24, "a node's id sits in the room before its index");

struct Field {
    std::string name;
    Schema schema;
    bool required = true;
};

struct CatchAll {
    Schema key;
    Schema value;
};

// The body's shapes, one per family of kinds.
struct BoxedPart {  // Set, FrozenSet, Complement, Refinement
    std::unique_ptr<Schema> inner;
    std::vector<Constraint> constraints;
};
struct RecordPart {  // Record, Object
    std::vector<Field> fields;
    std::vector<CatchAll> clauses;
};
struct SchemaBody {
    using Parts = std::variant<BoxedPart, SeqShape, std::vector<Schema>, RecordPart>;
    Parts part;
};

namespace schema_empty {
inline const BoxedPart BOXED{};
inline const SeqShape SHAPE{};
inline const std::vector<Schema> MEMBERS{};
inline const RecordPart RECORD{};
}  // namespace schema_empty

template <class Part>
inline const Part* Schema::part() const {
    return body_ != nullptr ? std::get_if<Part>(&body_->part) : nullptr;
}

// Whether nodes of `kind` hold `Part`.
template <class Part>
constexpr bool kind_holds(Kind kind) {
    if constexpr (std::is_same_v<Part, BoxedPart>) {
        return kind == Kind::Set || kind == Kind::FrozenSet || kind == Kind::Complement || kind == Kind::Refinement;
    } else if constexpr (std::is_same_v<Part, SeqShape>) {
        return kind == Kind::Sequence;
    } else if constexpr (std::is_same_v<Part, RecordPart>) {
        return kind == Kind::Record || kind == Kind::Object;
    } else {
        return kind == Kind::Union || kind == Kind::Intersection;
    }
}

// A node's kind never changes, so its body always has the part of its kind.
// A part its kind does not hold reads as empty here too, from a scratch
// value that nothing keeps (what is written there is dropped); no body is
// made for it.
template <class Part>
inline Part& Schema::own_part() {
    if (!kind_holds<Part>(kind)) {
        thread_local Part none;
        none = Part{};
        return none;
    }
    if (body_ == nullptr) {
        body_ = std::make_unique<SchemaBody>(SchemaBody{SchemaBody::Parts(std::in_place_type<Part>)});
    }
    return std::get<Part>(body_->part);
}

inline const std::unique_ptr<Schema>& Schema::inner() const {
    const BoxedPart* p = part<BoxedPart>();
    return (p != nullptr ? p : &schema_empty::BOXED)->inner;
}
inline const SeqShape& Schema::shape() const {
    const SeqShape* p = part<SeqShape>();
    return p != nullptr ? *p : schema_empty::SHAPE;
}
inline const std::vector<Schema>& Schema::members() const {
    const std::vector<Schema>* p = part<std::vector<Schema>>();
    return p != nullptr ? *p : schema_empty::MEMBERS;
}
inline const std::vector<Field>& Schema::fields() const {
    const RecordPart* p = part<RecordPart>();
    return (p != nullptr ? p : &schema_empty::RECORD)->fields;
}
inline const std::vector<CatchAll>& Schema::clauses() const {
    const RecordPart* p = part<RecordPart>();
    return (p != nullptr ? p : &schema_empty::RECORD)->clauses;
}
inline const std::vector<Constraint>& Schema::constraints() const {
    const BoxedPart* p = part<BoxedPart>();
    return (p != nullptr ? p : &schema_empty::BOXED)->constraints;
}
inline std::unique_ptr<Schema>& Schema::inner() { return own_part<BoxedPart>().inner; }
inline SeqShape& Schema::shape() { return own_part<SeqShape>(); }
inline std::vector<Schema>& Schema::members() { return own_part<std::vector<Schema>>(); }
inline std::vector<Field>& Schema::fields() { return own_part<RecordPart>().fields; }
inline std::vector<CatchAll>& Schema::clauses() { return own_part<RecordPart>().clauses; }
inline std::vector<Constraint>& Schema::constraints() { return own_part<BoxedPart>().constraints; }

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
