#include "schema/lazy.h"

#include "py/error.h"
#include "py/values.h"
#include "schema/state.h"
#include "util/text.h"

#include <algorithm>

namespace kestrome {

namespace {

void precompute_schema(const Schema& node, const std::vector<py::Ref>& constants, LazyPrecompute& tables);

void precompute_seq_shape(const SeqShape& shape, const std::vector<py::Ref>& constants, LazyPrecompute& tables) {
    switch (shape.form) {
        case ShapeForm::Empty: break;
        case ShapeForm::Item: precompute_schema(*shape.item, constants, tables); break;
        case ShapeForm::Repeat: precompute_seq_shape(*shape.inner, constants, tables); break;
        case ShapeForm::Concat:
        case ShapeForm::Alternation:
            for (const SeqShape& part : shape.parts) precompute_seq_shape(part, constants, tables);
            break;
    }
}

// The exact int and str literals of an all-literal union; no entry when a
// member is not a literal with a valid pool index.
void add_union_entry(const Schema& node, const std::vector<py::Ref>& constants, LazyPrecompute& tables) {
    UnionLiteralSets sets;
    for (const Schema& member : node.members) {
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

void add_record_entry(const Schema& node, const std::vector<py::Ref>& constants, LazyPrecompute& tables) {
    if ((node.fields.empty() && node.clauses.empty()) || tables.field_names.contains(record_key(node))) {
        return;
    }
    FieldNameSet set = field_name_set_of(node);
    // Without literal sets: the union table is still growing here.
    for (const Field& f : node.fields) {
        set.field_checks.push_back(prepare_fast_check(f.schema, constants.data(), constants.size(), nullptr));
    }
    for (const CatchAll& c : node.clauses) {
        set.clause_checks.push_back(prepare_fast_check(c.key, constants.data(), constants.size(), nullptr));
        set.clause_checks.push_back(prepare_fast_check(c.value, constants.data(), constants.size(), nullptr));
    }
    set.all_fast = true;
    for (const auto* checks : {&set.field_checks, &set.clause_checks}) {
        for (const FastCheck& c : *checks) set.all_fast = set.all_fast && c.form != FastForm::None;
    }
    tables.field_names.try_emplace(record_key(node), std::move(set));
}

// Bounds of a refinement of int whose every constraint is a bound that is
// an exact int: the inclusive range they allow.
bool int_range_of(const Schema& node, const py::Ref* constants, std::size_t count, FastCheck& out) {
    if (node.kind != Kind::Refinement || node.inner->kind != Kind::Int) return false;
    for (const Constraint& c : node.constraints) {
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

void precompute_schema(const Schema& node, const std::vector<py::Ref>& constants, LazyPrecompute& tables) {
    switch (node.kind) {
        case Kind::Union:
            add_union_entry(node, constants, tables);
            for (const Schema& m : node.members) precompute_schema(m, constants, tables);
            break;
        case Kind::Intersection:
            for (const Schema& m : node.members) precompute_schema(m, constants, tables);
            break;
        case Kind::Complement:
        case Kind::Set:
        case Kind::FrozenSet: precompute_schema(*node.inner, constants, tables); break;
        case Kind::Sequence: precompute_seq_shape(node.shape, constants, tables); break;
        case Kind::Record:
            add_record_entry(node, constants, tables);
            for (const Field& f : node.fields) precompute_schema(f.schema, constants, tables);
            for (const CatchAll& c : node.clauses) {
                precompute_schema(c.key, constants, tables);
                precompute_schema(c.value, constants, tables);
            }
            break;
        case Kind::Object:
            for (const Field& f : node.fields) precompute_schema(f.schema, constants, tables);
            break;
        case Kind::Refinement:
            precompute_schema(*node.inner, constants, tables);
            for (const Constraint& c : node.constraints) {
                if (c.kind != ConstraintKind::Regex || tables.regexes.count(c.pattern)) {
                    continue;
                }
                if (auto re = compile_anchored_regex(c.pattern)) {
                    tables.regexes.emplace(c.pattern, std::move(re));
                }
            }
            break;
        default: break;
    }
}

}  // namespace

FastCheck prepare_fast_check(const Schema& node, const py::Ref* constants, std::size_t constant_count,
                             const UnionTable* unions) {
    FastCheck check;
    if (is_scalar_kind(node.kind) && node.kind != Kind::Nothing) {
        check.form = FastForm::Scalar;
        check.kind = node.kind;
    } else if (node.kind == Kind::Union) {
        if (const UnionLiteralSets* sets = unions != nullptr ? unions->find(union_key(node)) : nullptr) {
            check.form = FastForm::LiteralSets;
            check.sets = sets;
            return check;
        }
        std::uint32_t mask = 0;
        for (const Schema& member : node.members) {
            if (!is_scalar_kind(member.kind)) return check;
            mask |= kind_bit(member.kind);
        }
        check.form = FastForm::ScalarMask;
        check.mask = mask;
    } else if (int_range_of(node, constants, constant_count, check)) {
        check.form = FastForm::IntRange;
    } else if (node.kind == Kind::Instance && node.index < constant_count &&
               PyType_Check(constants[node.index].get())) {
        check.form = FastForm::ExactType;
        check.type = constants[node.index].get();
    }
    return check;
}

std::uint64_t text_hash(std::string_view text) { return str_hash(make_str(text).get()); }

FieldNameSet field_name_set_of(const Schema& record) {
    FieldNameSet set;
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
        const Field& field = record.fields[i];
        set.names.insert(field.name, text_hash(field.name), i);
        if (field.required) ++set.required_count;
    }
    return set;
}

LazyPrecompute build_lazy_precompute(const ValidatorState& state) {
    LazyPrecompute tables;
    precompute_schema(state.root, state.constants, tables);
    for (const Schema& d : state.definitions) {
        precompute_schema(d, state.constants, tables);
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
