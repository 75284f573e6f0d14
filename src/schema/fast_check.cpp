#include "schema/fast_check.h"

#include "json/kinds.h"
#include "py/values.h"
#include "schema/lookup_tables.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrome {

bool is_plain_constant(PyObject* constant) { return py::is_plain(py::decided_by(constant)); }

namespace {

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
    } else if (node.kind == Kind::Literal && node.index < constant_count) {
        const py::DecidedBy by = py::decided_by(constants[node.index].get());
        if (py::is_plain(by)) {
            check.form = FastForm::Constant;
            check.decided_by = by;
            check.type = constants[node.index].get();
        }
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

}  // namespace kestrome
