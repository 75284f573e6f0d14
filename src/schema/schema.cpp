#include "schema/schema.h"

#include "schema/rewrite.h"
#include "util/siphash.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrome {

SeqShape::~SeqShape() = default;
Schema::~Schema() = default;

namespace {

template <class T>
int cmp_num(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

int cmp_text(const std::string& a, const std::string& b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);  // unsigned bytes
    if (c != 0) {
        return c < 0 ? -1 : 1;
    }
    return cmp_num(a.size(), b.size());
}

template <class T, class Cmp>
int cmp_vec(const std::vector<T>& a, const std::vector<T>& b, Cmp cmp) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (int c = cmp(a[i], b[i])) {
            return c;
        }
    }
    return cmp_num(a.size(), b.size());
}

template <class T, class Eq>
bool eq_vec(const std::vector<T>& a, const std::vector<T>& b, Eq eq) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!eq(a[i], b[i])) {
            return false;
        }
    }
    return true;
}


int cmp_field(const Field& a, const Field& b) {
    if (int c = cmp_text(a.name, b.name)) return c;
    if (int c = cmp_schema(a.schema, b.schema)) return c;
    return cmp_num<int>(a.required, b.required);
}

int cmp_clause(const CatchAll& a, const CatchAll& b) {
    if (int c = cmp_schema(a.key, b.key)) return c;
    return cmp_schema(a.value, b.value);
}

const DefinitionMirror NO_MIRROR{};

void hash_text(const std::string& text, SipHasher13& h) {
    h.write(text.data(), text.size());
    h.write_u8(0xFF);
}

void hash_fields(const std::vector<Field>& fields, SipHasher13& h, const ChildHasher& child) {
    h.write_u64(fields.size());
    for (const Field& f : fields) {
        hash_text(f.name, h);
        child.hash(child.context, f.schema, h);
        h.write_u8(f.required ? 1 : 0);
    }
}

void hash_shape_with(const SeqShape& shape, SipHasher13& h, const ChildHasher& child) {
    h.write_u64(static_cast<std::uint64_t>(shape.form));
    switch (shape.form) {
        case ShapeForm::Empty: break;
        case ShapeForm::Item: child.hash(child.context, *shape.item, h); break;
        // The compiler builds no alternation today; readers of shapes stay total.
        case ShapeForm::Concat:
        case ShapeForm::Alternation:
            h.write_u64(shape.parts.size());
            for (const SeqShape& part : shape.parts) hash_shape_with(part, h, child);
            break;
        case ShapeForm::Repeat: hash_shape_with(*shape.inner(), h, child); break;
    }
}

// The whole-tree hash: each child hashed into the same stream in turn.
const ChildHasher WHOLE_TREE{[](const void*, const Schema& child, SipHasher13& h) { hash_schema(child, h); }, nullptr};

}  // namespace

bool eq_constraint(const Constraint& a, const Constraint& b) {
    return a.kind == b.kind && a.value == b.value && a.pattern == b.pattern;
}

bool eq_constraint_slice(const std::vector<Constraint>& a, const std::vector<Constraint>& b) {
    return eq_vec(a, b, eq_constraint);
}

namespace {

// Structural equality, back edges compared through the mirror's image.
struct MirroredEq {
    const DefinitionMirror& mirror;

    bool field(const Field& a, const Field& b) const {
        return a.name == b.name && a.required == b.required && schema(a.schema, b.schema);
    }
    bool clause(const CatchAll& a, const CatchAll& b) const { return schema(a.key, b.key) && schema(a.value, b.value); }
    bool fields(const std::vector<Field>& a, const std::vector<Field>& b) const {
        return eq_vec(a, b, [this](const Field& x, const Field& y) { return field(x, y); });
    }

    bool shape(const SeqShape& a, const SeqShape& b) const {
        if (a.form != b.form) {
            return false;
        }
        switch (a.form) {
            case ShapeForm::Empty: return true;
            case ShapeForm::Item: return schema(*a.item, *b.item);
            // The compiler builds no alternation today; readers of shapes stay total.
            case ShapeForm::Concat:
            case ShapeForm::Alternation:
                return eq_vec(a.parts, b.parts, [this](const SeqShape& x, const SeqShape& y) { return shape(x, y); });
            case ShapeForm::Repeat: return shape(*a.inner(), *b.inner());
        }
        return false;
    }

    bool schema(const Schema& a, const Schema& b) const {
        if (a.kind != b.kind) {
            return false;
        }
        switch (a.kind) {
            case Kind::BackEdge: return mirror.image(a.index) == mirror.image(b.index);
            case Kind::Literal:
            case Kind::Instance:
            case Kind::Placeholder: return a.index == b.index;
            case Kind::Sequence: return a.tuple_flag == b.tuple_flag && shape(a.shape(), b.shape());
            case Kind::Set:
            case Kind::FrozenSet:
            case Kind::Complement: return schema(*a.inner(), *b.inner());
            case Kind::Record:
                return fields(a.fields(), b.fields()) &&
                       eq_vec(a.clauses(), b.clauses(), [this](const CatchAll& x, const CatchAll& y) { return clause(x, y); });
            case Kind::Union:
            case Kind::Intersection:
                return eq_vec(a.members(), b.members(), [this](const Schema& x, const Schema& y) { return schema(x, y); });
            case Kind::Object: return a.index == b.index && fields(a.fields(), b.fields());
            case Kind::Refinement: return schema(*a.inner(), *b.inner()) && eq_constraint_slice(a.constraints(), b.constraints());
            default: return true;
        }
    }
};

}  // namespace

bool eq_seq_shape(const SeqShape& a, const SeqShape& b) { return MirroredEq{NO_MIRROR}.shape(a, b); }

bool eq_schema(const Schema& a, const Schema& b) { return MirroredEq{NO_MIRROR}.schema(a, b); }

bool eq_schema(const Schema& a, const Schema& b, const DefinitionMirror& mirror) {
    return MirroredEq{mirror}.schema(a, b);
}

int cmp_constraint(const Constraint& a, const Constraint& b) {
    if (int c = cmp_num(static_cast<int>(a.kind), static_cast<int>(b.kind))) return c;
    if (a.kind == ConstraintKind::Regex) return cmp_text(a.pattern, b.pattern);
    return cmp_num(a.value, b.value);
}

int cmp_seq_shape(const SeqShape& a, const SeqShape& b) {
    if (int c = cmp_num(static_cast<int>(a.form), static_cast<int>(b.form))) return c;
    switch (a.form) {
        case ShapeForm::Empty: return 0;
        case ShapeForm::Item: return cmp_schema(*a.item, *b.item);
        // The compiler builds no alternation today; readers of shapes stay total.
        case ShapeForm::Concat:
        case ShapeForm::Alternation: return cmp_vec(a.parts, b.parts, cmp_seq_shape);
        case ShapeForm::Repeat: return cmp_seq_shape(*a.inner(), *b.inner());
    }
    return 0;
}

int cmp_schema(const Schema& a, const Schema& b) {
    if (int c = cmp_num(static_cast<int>(a.kind), static_cast<int>(b.kind))) return c;
    switch (a.kind) {
        case Kind::Literal:
        case Kind::Instance:
        case Kind::BackEdge:
        case Kind::Placeholder: return cmp_num(a.index, b.index);
        case Kind::Sequence:
            if (int c = cmp_num(a.tuple_flag, b.tuple_flag)) return c;
            return cmp_seq_shape(a.shape(), b.shape());
        case Kind::Set:
        case Kind::FrozenSet:
        case Kind::Complement: return cmp_schema(*a.inner(), *b.inner());
        case Kind::Record:
            if (int c = cmp_vec(a.fields(), b.fields(), cmp_field)) return c;
            return cmp_vec(a.clauses(), b.clauses(), cmp_clause);
        case Kind::Union:
        case Kind::Intersection: return cmp_vec(a.members(), b.members(), cmp_schema);
        case Kind::Object:
            if (int c = cmp_num(a.index, b.index)) return c;
            return cmp_vec(a.fields(), b.fields(), cmp_field);
        case Kind::Refinement:
            if (int c = cmp_schema(*a.inner(), *b.inner())) return c;
            return cmp_vec(a.constraints(), b.constraints(), cmp_constraint);
        default: return 0;
    }
}

void hash_schema(const Schema& node, SipHasher13& h) { hash_schema_node(node, h, WHOLE_TREE, NO_MIRROR); }

void hash_schema_node(const Schema& node, SipHasher13& h, const ChildHasher& child, const DefinitionMirror& mirror) {
    h.write_u64(static_cast<std::uint64_t>(node.kind));
    switch (node.kind) {
        case Kind::BackEdge: h.write_u64(mirror.image(node.index)); break;
        case Kind::Literal:
        case Kind::Instance:
        case Kind::Placeholder: h.write_u64(node.index); break;
        case Kind::Sequence:
            h.write_u64(node.tuple_flag);
            hash_shape_with(node.shape(), h, child);
            break;
        case Kind::Set:
        case Kind::FrozenSet:
        case Kind::Complement: child.hash(child.context, *node.inner(), h); break;
        case Kind::Record:
            hash_fields(node.fields(), h, child);
            h.write_u64(node.clauses().size());
            for (const CatchAll& c : node.clauses()) {
                child.hash(child.context, c.key, h);
                child.hash(child.context, c.value, h);
            }
            break;
        case Kind::Union:
        case Kind::Intersection:
            h.write_u64(node.members().size());
            for (const Schema& m : node.members()) child.hash(child.context, m, h);
            break;
        case Kind::Object:
            h.write_u64(node.index);
            hash_fields(node.fields(), h, child);
            break;
        case Kind::Refinement:
            child.hash(child.context, *node.inner(), h);
            h.write_u64(node.constraints().size());
            for (const Constraint& c : node.constraints()) {
                h.write_u64(static_cast<std::uint64_t>(c.kind));
                if (c.kind == ConstraintKind::Regex) {
                    hash_text(c.pattern, h);
                } else {
                    h.write_u64(c.value);
                }
            }
            break;
        default: break;
    }
}

namespace {
struct CopyRule {
    std::uint64_t pool(std::uint64_t i) const { return i; }
    Schema back_edge(std::uint64_t i) const { return indexed(Kind::BackEdge, i); }
    Schema placeholder(std::uint64_t id) const { return indexed(Kind::Placeholder, id); }
};
}  // namespace

Schema clone_schema(const Schema& node) { return rewrite_schema(node, CopyRule{}); }

Schema leaf(Kind kind) { return Schema(kind); }

Schema indexed(Kind kind, std::uint64_t index) {
    Schema s(kind);
    s.index = index;
    return s;
}

Schema boxed(Kind kind, Schema inner) {
    Schema s(kind);
    s.inner() = std::make_unique<Schema>(std::move(inner));
    return s;
}

Schema union_of(std::vector<Schema> members) {
    if (members.empty()) {
        return Schema(Kind::Nothing);
    }
    Schema s(Kind::Union);
    s.members() = std::move(members);
    return s;
}

Schema intersection_of(std::vector<Schema> members) {
    if (members.empty()) {
        return Schema(Kind::Anything);
    }
    Schema s(Kind::Intersection);
    s.members() = std::move(members);
    return s;
}

Schema complement_of(Schema inner) { return boxed(Kind::Complement, std::move(inner)); }

Schema dict_record_of(Schema key, Schema value) {
    Schema s(Kind::Record);
    s.clauses().push_back(CatchAll{std::move(key), std::move(value)});
    return s;
}

Schema sequence_of(std::uint8_t tuple_flag, SeqShape shape) {
    Schema s(Kind::Sequence);
    s.tuple_flag = tuple_flag;
    s.shape() = std::move(shape);
    return s;
}

SeqShape seq_shape_item(Schema item) {
    SeqShape s;
    s.form = ShapeForm::Item;
    s.item = std::make_unique<Schema>(std::move(item));
    return s;
}

SeqShape seq_shape_repeat(Schema item) {
    SeqShape s;
    s.form = ShapeForm::Repeat;
    s.inner() = std::make_unique<SeqShape>(seq_shape_item(std::move(item)));
    return s;
}

SeqShape seq_shape_concat(std::vector<Schema> items) {
    SeqShape s;
    s.form = ShapeForm::Concat;
    s.parts.reserve(items.size());
    for (Schema& item : items) s.parts.push_back(seq_shape_item(std::move(item)));
    return s;
}

SeqShape seq_shape_prefix_tail(std::vector<Schema> prefix, Schema tail) {
    SeqShape s = seq_shape_concat(std::move(prefix));
    s.parts.push_back(seq_shape_repeat(std::move(tail)));
    return s;
}

std::optional<LinearShape> linearize_seq_shape(const SeqShape& shape) {
    LinearShape out;
    switch (shape.form) {
        case ShapeForm::Empty: return out;
        case ShapeForm::Item:
            out.prefix_items = &shape;
            out.prefix_len = 1;
            return out;
        case ShapeForm::Repeat:
            if (shape.inner()->form != ShapeForm::Item) return std::nullopt;
            out.tail = shape.inner()->item.get();
            return out;
        case ShapeForm::Concat: {
            const std::size_t n = shape.parts.size();
            for (std::size_t i = 0; i < n; ++i) {
                const SeqShape& part = shape.parts[i];
                if (part.form == ShapeForm::Item) {
                    continue;
                }
                const bool last_repeat = i + 1 == n && part.form == ShapeForm::Repeat &&
                                         part.inner()->form == ShapeForm::Item;
                if (!last_repeat) return std::nullopt;
                out.tail = part.inner()->item.get();
            }
            out.prefix_items = shape.parts.data();
            out.prefix_len = out.tail ? n - 1 : n;
            return out;
        }
        // The compiler builds no alternation today; readers of shapes stay total.
        case ShapeForm::Alternation: return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace kestrome
