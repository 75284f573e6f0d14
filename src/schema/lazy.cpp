#include "schema/lazy.h"

#include "py/error.h"
#include "py/values.h"
#include "schema/children.h"
#include "schema/state.h"
#include "util/text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

// The exact int and str literals of an all-literal union; no entry when a
// member is not a literal with a valid pool index.
void add_union_entry(const Schema& node, const std::vector<py::Ref>& constants, LazyPrecompute& tables) {
    UnionLiteralSets sets;
    for (const Schema& member : node.members()) {
        if (member.kind != Kind::Literal || member.index >= constants.size()) {
            return;
        }
        PyObject* value = constants[member.index].get();
        if (Py_IS_TYPE(value, &PyLong_Type)) {
            const long v = PyLong_AsLong(value);
            if (v == -1 && PyErr_Occurred()) {
                py::discard_error();
            } else {
                sets.ints.insert(v);
            }
        } else if (Py_IS_TYPE(value, &PyUnicode_Type)) {
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
            if (utf8 == nullptr) {
                py::discard_error();
            } else {
                sets.strs.insert(std::string_view(utf8, static_cast<std::size_t>(size)), str_hash(value), 0);
            }
        }
    }
    tables.unions.try_emplace(union_key(node), std::move(sets));
}

// None, the two bools and objects whose type keeps the default equality.
bool identity_is_equality(PyObject* constant) {
    return constant == Py_None || Py_IS_TYPE(constant, &PyBool_Type) ||
           Py_TYPE(constant)->tp_richcompare == PyBaseObject_Type.tp_richcompare;
}

// The records a union member stands for: itself, or the members of a union
// of records.
bool member_records(const Schema& member, std::vector<const Schema*>& out) {
    if (member.kind == Kind::Record) {
        out.push_back(&member);
        return true;
    }
    if (member.kind != Kind::Union || member.members().empty()) return false;
    for (const Schema& m : member.members()) {
        if (m.kind != Kind::Record) return false;
        out.push_back(&m);
    }
    return true;
}

// The pool indices of a literal or of a union of literals.
bool literal_indices(const Schema& node, std::vector<std::uint64_t>& out) {
    if (node.kind == Kind::Literal) {
        out.push_back(node.index);
        return true;
    }
    if (node.kind != Kind::Union || node.members().empty()) return false;
    for (const Schema& m : node.members()) {
        if (m.kind != Kind::Literal) return false;
        out.push_back(m.index);
    }
    return true;
}

// The record's only field of this name when it is required, else null.
const Field* sole_required_field(const Schema& record, std::string_view name) {
    const Field* found = nullptr;
    for (const Field& f : record.fields()) {
        if (f.name != name) continue;
        if (found != nullptr) return nullptr;
        found = &f;
    }
    return found != nullptr && found->required ? found : nullptr;
}

// Maps a tag constant to a member; false when the constant cannot serve as
// a tag (its equality reaches other values) or another member has it.
bool add_tag(TaggedUnion& tagged, PyObject* constant, std::uint32_t member) {
    if (Py_IS_TYPE(constant, &PyUnicode_Type)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(constant, &size);
        if (utf8 == nullptr) {
            py::discard_error();
            return false;
        }
        const std::string_view text(utf8, static_cast<std::size_t>(size));
        if (const std::uint64_t* at = tagged.strs.find(text, str_hash(constant))) return *at == member;
        tagged.strs.insert(text, str_hash(constant), member);
        return true;
    }
    if (Py_IS_TYPE(constant, &PyLong_Type)) {
        const std::optional<std::int64_t> v = py::exact_int_value(constant);
        if (!v) return false;
        const auto [at, inserted] = tagged.ints.try_emplace(*v, member);
        return inserted || at->second == member;
    }
    if (identity_is_equality(constant)) {
        if (const std::uint32_t* at = tagged.objects.find(constant)) return *at == member;
        tagged.objects.try_emplace(constant, member);
        return true;
    }
    return false;
}

// Where a record's field-name objects start in the validator's table.
std::uint32_t name_objects_at(const Schema& node, const FieldNameStrs& name_strs) {
    const std::uint32_t* first = node.fields().empty() ? nullptr : name_strs.first.find(node.fields().data());
    return first != nullptr ? *first : FieldNameSet::NO_NAME_OBJECTS;
}

// The tag table of a union, tried with each required field of its first
// record as the tag, in order.
void add_tagged_entry(const Schema& node, const std::vector<py::Ref>& constants, const FieldNameStrs& name_strs,
                      LazyPrecompute& tables) {
    if (node.members().size() < 2) return;
    std::vector<std::vector<const Schema*>> records(node.members().size());
    for (std::size_t i = 0; i < node.members().size(); ++i) {
        if (!member_records(node.members()[i], records[i])) return;
    }
    for (const Field& candidate : records[0][0]->fields()) {
        if (!candidate.required) continue;
        TaggedUnion tagged;
        bool ok = true;
        for (std::size_t i = 0; ok && i < records.size(); ++i) {
            for (const Schema* record : records[i]) {
                const Field* field = sole_required_field(*record, candidate.name);
                std::vector<std::uint64_t> indices;
                ok = field != nullptr && literal_indices(field->schema, indices);
                for (std::size_t k = 0; ok && k < indices.size(); ++k) {
                    ok = indices[k] < constants.size() &&
                         add_tag(tagged, constants[indices[k]].get(), static_cast<std::uint32_t>(i));
                }
                if (!ok) break;
            }
        }
        if (ok) {
            tagged.field = candidate.name;
            tagged.field_hash = text_hash(candidate.name);
            const Schema& first = *records[0][0];
            const std::uint32_t at = name_objects_at(first, name_strs);
            if (at != FieldNameSet::NO_NAME_OBJECTS) {
                tagged.field_object_at = at + static_cast<std::uint32_t>(&candidate - first.fields().data());
            }
            tables.tagged.try_emplace(union_key(node), std::move(tagged));
            return;
        }
    }
}

void add_record_entry(const Schema& node, const FieldNameStrs& name_strs, LazyPrecompute& tables) {
    if (node.fields().empty() && node.clauses().empty()) return;
    FieldNameSet set = field_name_set_of(node);
    set.node = &node;
    if (set.names_unique) set.name_objects_at = name_objects_at(node, name_strs);
    tables.field_names.try_emplace(record_key(node), std::move(set));
}

// The items' test of a list or tuple of one item type, or the pass of a
// record (or of each record of a list or tuple of them), or none.
template <class Prepare>
ItemsCheck items_check_of(const Schema& field, const Prepare& prepare, const FieldNameTable& field_names) {
    const auto record_names = [&](const Schema& record) -> const FieldNameSet* {
        return record.kind == Kind::Record ? field_names.find(record_key(record)) : nullptr;
    };
    if (const FieldNameSet* names = record_names(field)) return ItemsCheck{{}, false, true, names};
    if (field.kind != Kind::Sequence) return {};
    const std::optional<LinearShape> linear = linearize_seq_shape(field.shape());
    if (!linear || linear->prefix_len != 0 || linear->tail == nullptr) return {};
    const bool tuple = field.tuple_flag == TUPLE_FLAG;
    ItemsCheck check{prepare(*linear->tail), tuple, false, nullptr};
    if (check.items.form == FastForm::None) check.record = record_names(*linear->tail);
    return check;
}

// The prepared tests of a record's fields and clauses, once the union
// table is complete (its entries no longer move). Returns the record's set
// when this filled it, else null.
FieldNameSet* add_record_checks(const Schema& node, const std::vector<py::Ref>& constants, LazyPrecompute& tables) {
    FieldNameSet* set = tables.field_names.find_mut(record_key(node));
    if (set == nullptr || !set->field_checks.empty() || !set->clause_checks.empty()) return nullptr;
    const auto prepare = [&](const Schema& s) {
        return prepare_fast_check(s, constants.data(), constants.size(), &tables.unions);
    };
    set->field_checks.reserve(node.fields().size());
    set->clause_checks.reserve(2 * node.clauses().size());
    for (const Field& f : node.fields()) set->field_checks.push_back(prepare(f.schema));
    for (const CatchAll& c : node.clauses()) {
        set->clause_checks.push_back(prepare(c.key));
        set->clause_checks.push_back(prepare(c.value));
    }
    set->all_fast = true;
    const std::size_t field_count = node.fields().size();
    for (std::size_t i = 0; i < field_count; ++i) {
        if (set->field_checks[i].form != FastForm::None) continue;
        const ItemsCheck items = field_count < UINT16_MAX
                                     ? items_check_of(node.fields()[i].schema, prepare, tables.field_names)
                                     : ItemsCheck{};
        if (items.items.form == FastForm::None && items.record == nullptr) {
            set->all_fast = false;
            continue;
        }
        if (set->items_index.empty()) set->items_index.assign(field_count, 0);
        set->items_checks.push_back(items);
        set->items_index[i] = static_cast<std::uint16_t>(set->items_checks.size());
    }
    set->items_checks.shrink_to_fit();
    for (const FastCheck& c : set->clause_checks) set->all_fast = set->all_fast && c.form != FastForm::None;
    return set;
}

// Bounds of a refinement of int whose every constraint is a bound that is
// an exact int: the inclusive range they allow.
bool int_range_of(const Schema& node, const py::Ref* constants, std::size_t count, FastCheck& out) {
    if (node.kind != Kind::Refinement || node.inner()->kind != Kind::Int) return false;
    for (const Constraint& c : node.constraints()) {
        if (c.kind > ConstraintKind::Lt || c.value >= count) return false;
        const std::optional<std::int64_t> b = py::exact_int_value(constants[c.value].get());
        if (!b) return false;
        switch (c.kind) {
            case ConstraintKind::Ge: out.lo = std::max(out.lo, *b); break;
            case ConstraintKind::Gt:
                if (*b == INT64_MAX) return false;
                out.lo = std::max(out.lo, *b + 1);
                break;
            case ConstraintKind::Le: out.hi = std::min(out.hi, *b); break;
            case ConstraintKind::Lt:
                if (*b == INT64_MIN) return false;
                out.hi = std::min(out.hi, *b - 1);
                break;
            default: return false;
        }
    }
    return true;
}

// Calls `visit` on the node and every node below it (back edges are not
// followed; the definitions are visited on their own).
template <class F>
void visit_tree(const Schema& node, F& visit) {
    visit(node);
    for_each_child(node, [&](const Schema& child) {
        visit_tree(child, visit);
        return false;
    });
}

void add_entries(const Schema& node, const std::vector<py::Ref>& constants, const FieldNameStrs& name_strs,
                 LazyPrecompute& tables) {
    switch (node.kind) {
        case Kind::Union:
            add_union_entry(node, constants, tables);
            add_tagged_entry(node, constants, name_strs, tables);
            break;
        case Kind::Record: add_record_entry(node, name_strs, tables); break;
        case Kind::Refinement:
            for (const Constraint& c : node.constraints()) {
                if (c.kind != ConstraintKind::Regex) continue;
                auto it = tables.regexes.by_text.find(c.pattern);
                if (it == tables.regexes.by_text.end()) {
                    std::unique_ptr<regex::Regex> re = compile_anchored_regex(c.pattern);
                    if (!re) continue;
                    it = tables.regexes.by_text.emplace(c.pattern, std::move(re)).first;
                }
                tables.regexes.by_constraint.try_emplace(&c, it->second.get());
            }
            break;
        default: break;
    }
}

}  // namespace

bool is_plain_constant(PyObject* constant) {
    if (Py_IS_TYPE(constant, &PyUnicode_Type)) return true;
    if (Py_IS_TYPE(constant, &PyLong_Type)) return py::exact_int_value(constant).has_value();
    return identity_is_equality(constant);
}

namespace {

// The JSON node kinds the prepared test accepts by kind alone, a bit per
// node kind: for a scalar kind read from a table made at compile time
// (prepared tests are made on every walk of a container).
constexpr unsigned JSON_KIND_COUNT = static_cast<unsigned>(JsonKind::Object) + 1;
constexpr unsigned SCALAR_KIND_COUNT = static_cast<unsigned>(Kind::Bytes) + 1;

constexpr std::array<std::uint8_t, SCALAR_KIND_COUNT> JSON_KINDS_OF = [] {
    std::array<std::uint8_t, SCALAR_KIND_COUNT> table{};
    for (unsigned kind = 0; kind < SCALAR_KIND_COUNT; ++kind) {
        for (unsigned k = 0; k < JSON_KIND_COUNT; ++k) {
            if ((kinds_accepting(static_cast<JsonKind>(k)) & kind_bit(static_cast<Kind>(kind))) != 0) {
                table[kind] = static_cast<std::uint8_t>(table[kind] | (1u << k));
            }
        }
    }
    return table;
}();

std::uint8_t json_kinds_accepted(const FastCheck& check) {
    std::uint8_t kinds = 0;
    switch (check.form) {
        case FastForm::Scalar: return JSON_KINDS_OF[static_cast<unsigned>(check.kind)];
        case FastForm::ScalarMask:
            for (std::uint32_t mask = check.mask; mask != 0; mask &= mask - 1) {
                kinds = static_cast<std::uint8_t>(kinds | JSON_KINDS_OF[static_cast<unsigned>(__builtin_ctz(mask))]);
            }
            return kinds;
        case FastForm::ExactType:
            for (unsigned k = 0; k < JSON_KIND_COUNT; ++k) {
                if (loaded_type(static_cast<JsonKind>(k)) == reinterpret_cast<PyTypeObject*>(check.type)) {
                    kinds = static_cast<std::uint8_t>(kinds | (1u << k));
                }
            }
            return kinds;
        default: return 0;
    }
}

// The test's form, before its JSON kinds are set.
FastCheck fast_check_form(const Schema& node, const py::Ref* constants, std::size_t constant_count,
                          const UnionTable* unions) {
    FastCheck check;
    if (is_scalar_kind(node.kind) && node.kind != Kind::Nothing) {
        check.form = FastForm::Scalar;
        check.kind = node.kind;
    } else if (node.kind == Kind::Union && node.members().size() == 1) {
        return prepare_fast_check(node.members()[0], constants, constant_count, unions);
    } else if (node.kind == Kind::Union) {
        if (const UnionLiteralSets* sets = unions != nullptr ? unions->find(union_key(node)) : nullptr) {
            check.form = FastForm::LiteralSets;
            check.sets = sets;
            return check;
        }
        std::uint32_t mask = 0;
        for (const Schema& member : node.members()) {
            if (!is_scalar_kind(member.kind)) return check;
            mask |= kind_bit(member.kind);
        }
        check.form = FastForm::ScalarMask;
        check.mask = mask;
    } else if (int_range_of(node, constants, constant_count, check)) {
        check.form = FastForm::IntRange;
    } else if (node.kind == Kind::Literal && node.index < constant_count &&
               is_plain_constant(constants[node.index].get())) {
        check.form = FastForm::Constant;
        check.type = constants[node.index].get();
    } else if (node.kind == Kind::Instance && node.index < constant_count &&
               PyType_Check(constants[node.index].get())) {
        check.form = FastForm::ExactType;
        check.type = constants[node.index].get();
    }
    return check;
}

}  // namespace

FastCheck prepare_fast_check(const Schema& node, const py::Ref* constants, std::size_t constant_count,
                             const UnionTable* unions) {
    FastCheck check = fast_check_form(node, constants, constant_count, unions);
    check.json_kinds = json_kinds_accepted(check);
    return check;
}

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

std::uint64_t text_hash(std::string_view text) { return str_hash(make_str(text).get()); }

bool is_last_of_its_name(const FieldNameSet& names, const Schema& record, std::size_t position) {
    const std::string& name = record.fields()[position].name;
    const std::uint64_t* at = names.names.find(name, text_hash(name));
    return at != nullptr && *at == position;
}

FieldNameSet field_name_set_of(const Schema& record) {
    FieldNameSet set;
    std::size_t bytes = 0;
    for (const Field& field : record.fields()) bytes += field.name.size();
    set.names.reserve(record.fields().size(), bytes);
    for (std::size_t i = 0; i < record.fields().size(); ++i) {
        const Field& field = record.fields()[i];
        set.names.insert(field.name, text_hash(field.name), i);
    }
    // A name written twice is its last field's: only that one counts.
    for (std::size_t i = 0; i < record.fields().size(); ++i) {
        const Field& field = record.fields()[i];
        const bool last = is_last_of_its_name(set, record, i);
        set.names_unique = set.names_unique && last;
        if (field.required && last) ++set.required_count;
    }
    return set;
}

namespace {

bool is_exact_number(PyObject* value) { return PyLong_CheckExact(value) || PyFloat_CheckExact(value); }

// Whether checking this node itself (not its children) may call Python code.
bool node_may_run_python(const Schema& node, const std::vector<py::Ref>& constants) {
    const auto constant = [&](std::uint64_t index) {
        return index < constants.size() ? constants[index].get() : nullptr;
    };
    switch (node.kind) {
        case Kind::Literal: {
            PyObject* value = constant(node.index);
            return value == nullptr || !is_plain_constant(value);
        }
        case Kind::Instance: {
            // isinstance() against a class whose metaclass is type itself
            // runs no Python code.
            PyObject* cls = constant(node.index);
            return cls == nullptr || !Py_IS_TYPE(cls, &PyType_Type);
        }
        case Kind::Object:
        case Kind::Placeholder: return true;
        case Kind::Refinement:
            for (const Constraint& c : node.constraints()) {
                switch (c.kind) {
                    case ConstraintKind::Predicate: return true;
                    case ConstraintKind::Ge:
                    case ConstraintKind::Gt:
                    case ConstraintKind::Le:
                    case ConstraintKind::Lt:
                    case ConstraintKind::MultipleOf: {
                        PyObject* bound = constant(c.value);
                        if (bound == nullptr || !is_exact_number(bound)) return true;
                        break;
                    }
                    case ConstraintKind::MinLen:
                    case ConstraintKind::MaxLen:
                    case ConstraintKind::Regex: break;
                }
            }
            return false;
        default: return false;
    }
}

}  // namespace

LazyPrecompute build_lazy_precompute(const ValidatorState& state) {
    LazyPrecompute tables;
    const auto for_all_trees = [&](auto&& visit) {
        visit_tree(state.root, visit);
        for (const Schema& d : state.definitions) visit_tree(d, visit);
    };
    bool may_run_python = false;
    for_all_trees([&](const Schema& node) {
        add_entries(node, state.constants, state.name_strs, tables);
        may_run_python = may_run_python || node_may_run_python(node, state.constants);
    });
    tables.may_run_python = may_run_python;
    // The tables' entries no longer move: their addresses can be kept.
    std::vector<FieldNameSet*> record_sets;  // parents before the records inside them
    for_all_trees([&](const Schema& node) {
        if (node.kind == Kind::Record) {
            if (FieldNameSet* set = add_record_checks(node, state.constants, tables)) record_sets.push_back(set);
        } else if (TaggedUnion* tagged = node.kind == Kind::Union ? tables.tagged.find_mut(union_key(node)) : nullptr) {
            for (const Schema& member : node.members()) {
                TaggedMemberPass pass;
                const Field* tag = member.kind == Kind::Record ? sole_required_field(member, tagged->field) : nullptr;
                if (tag != nullptr) {
                    pass.names = tables.field_names.find(record_key(member));
                    pass.tag_at = static_cast<std::size_t>(tag - member.fields().data());
                }
                tagged->member_passes.push_back(pass);
            }
        }
    });
    // A record's pass decides a record inside it only when that one's pass
    // decides it all: otherwise every try would descend only to give up.
    for (auto it = record_sets.rbegin(); it != record_sets.rend(); ++it) {
        for (const ItemsCheck& check : (*it)->items_checks) {
            if (check.record != nullptr && !check.record->all_fast) (*it)->all_fast = false;
        }
    }
    return tables;
}

const LazyPrecompute& LazyCell::get_or_build(const ValidatorState& state) const {
    if (LazyPrecompute* built = ptr_.load(std::memory_order_acquire)) {
        return *built;
    }
    auto fresh = std::make_unique<LazyPrecompute>(build_lazy_precompute(state));
    LazyPrecompute* expected = nullptr;
    if (ptr_.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) {
        return *fresh.release();
    }
    return *expected;  // another build won; ours is dropped
}

}  // namespace kestrome
