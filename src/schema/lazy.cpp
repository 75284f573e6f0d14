// The build of a validator's lookup tables, in one pass over its trees.
#include "schema/lazy.h"

#include "py/equality.h"
#include "py/error.h"
#include "py/str_hash.h"
#include "py/values.h"
#include "schema/children.h"
#include "schema/fast_check.h"
#include "schema/lookup_tables.h"
#include "schema/state.h"

#include <algorithm>
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
    const py::DecidedBy by = py::decided_by(constant);
    if (by == py::DecidedBy::Text) {
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
    if (by == py::DecidedBy::Int) {
        const auto [at, inserted] = tagged.ints.try_emplace(*py::exact_int_value(constant), member);
        return inserted || at->second == member;
    }
    if (by == py::DecidedBy::Identity) {
        if (const std::uint32_t* at = tagged.objects.find(constant)) return *at == member;
        tagged.objects.try_emplace(constant, member);
        return true;
    }
    return false;
}

// Where a record's field-name objects start in the validator's table.
std::uint32_t name_objects_at(const Schema& node, const FieldNameStrs& name_strs) {
    const std::uint32_t* first = name_strs.first.find(node.id);
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
            for (std::size_t position = 0; position < node.constraints().size(); ++position) {
                const Constraint& c = node.constraints()[position];
                if (c.kind != ConstraintKind::Regex) continue;
                auto it = tables.regexes.by_text.find(c.pattern);
                if (it == tables.regexes.by_text.end()) {
                    std::unique_ptr<regex::Regex> re = compile_anchored_regex(c.pattern);
                    if (!re) continue;
                    it = tables.regexes.by_text.emplace(c.pattern, std::move(re)).first;
                }
                tables.regexes.by_constraint.try_emplace(constraint_key(node, position), it->second.get());
            }
            break;
        default: break;
    }
}

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

// The prepared tests of a list or tuple's positions, once the union table
// is complete.
void add_sequence_checks(const Schema& node, const std::vector<py::Ref>& constants, LazyPrecompute& tables) {
    const std::optional<LinearShape> linear = linearize_seq_shape(node.shape());
    if (!linear) return;
    const auto prepare = [&](const Schema& s) {
        return prepare_fast_check(s, constants.data(), constants.size(), &tables.unions);
    };
    SequenceChecks checks;
    checks.shape = *linear;
    checks.prefix.reserve(linear->prefix_len);
    for (std::size_t i = 0; i < linear->prefix_len; ++i) checks.prefix.push_back(prepare(linear->prefix(i)));
    if (linear->tail != nullptr) checks.tail = prepare(*linear->tail);
    // A list or tuple of one item type that a kind test decides is walked as
    // fast without an entry (its test is made at once): leaving those out
    // keeps a validator of many list fields small.
    if (linear->prefix_len == 0 && checks.tail.form == FastForm::Scalar) return;
    const auto has_form = [](const FastCheck& check) { return check.form != FastForm::None; };
    checks.all_fast = std::all_of(checks.prefix.begin(), checks.prefix.end(), has_form) &&
                      (linear->tail == nullptr || has_form(checks.tail));
    tables.sequences.try_emplace(sequence_key(node), std::move(checks));
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
        } else if (node.kind == Kind::Sequence) {
            add_sequence_checks(node, state.constants, tables);
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
