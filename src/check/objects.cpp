// Objects with typed attributes, refinements and their constraint checks.
#include "check/parts.h"
#include "check/step.h"
#include "schema/anchored_regex.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kestrome {

namespace {

bool walk_attributes(const Schema& node, PyObject* value, Path& path, const WalkContext& ctx, Records& records) {
    PyObject* cls = ctx.constant(node.index);
    if (cls == nullptr) return false;
    if (!fold_check_result(PyObject_IsInstance(value, cls), ctx)) {
        if (ctx.makes_records()) {
            push_record("instance_type", class_display_name(cls), value_ref_repr(value), path, records);
        }
        return false;
    }
    bool ok = true;
    for (std::size_t i = 0; i < node.fields().size(); ++i) {
        const Field& attribute = node.fields()[i];
        PyObject* made = ctx.name_strs != nullptr ? ctx.name_strs->get(node, i) : nullptr;
        const py::Ref name = made != nullptr ? py::Ref::borrow(made) : make_str(attribute.name);
        py::Ref item = py::Ref::steal(PyObject_GetAttr(value, name.get()));
        bool passed;
        if (!item) {
            py::Ref exc = py::take_error();
            if (is_fatal_exception(exc.get())) {
                store_fatal_error(std::move(exc), ctx);
                return false;
            }
            if (ctx.makes_records()) {
                records.push_back(make_key_error_record(path, attribute.name, "missing_attribute",
                                                        "attribute " + debug_quote(attribute.name), "missing"));
            }
            passed = false;
        } else {
            passed = walk_part(
                attribute.schema, item.get(), [&] { return PathSegment::named(attribute.name); }, path, ctx, records);
        }
        if (!passed) {
            ok = false;
            if (ctx.stops_early()) return false;
        }
    }
    return ok;
}

// "ValueError: bad", the text of an exception a predicate raised.
std::string exception_text(PyObject* exc) {
    std::string text;
    py::Ref qualname = py::Ref::steal(PyType_GetQualName(Py_TYPE(exc)));
    if (qualname) {
        text = display_text(qualname.get());
    } else {
        py::discard_error();
    }
    py::Ref str = py::Ref::steal(PyObject_Str(exc));
    if (!str) {
        py::discard_error();
        return text + ": <exception str() failed>";
    }
    return text + ": " + display_text(str.get());
}

const char* const BOUND_OPERATORS[] = {">=", ">", "<=", "<"};
const char* const BOUND_CODES[] = {"greater_than_equal", "greater_than", "less_than_equal", "less_than"};
const int BOUND_OPS[] = {Py_GE, Py_GT, Py_LE, Py_LT};

// value >= bound and the like; exact ints compare without a Python call.
bool bound_holds(PyObject* value, PyObject* bound, std::size_t kind, const WalkContext& ctx) {
    const std::optional<std::int64_t> v = exact_int_value(value);
    const std::optional<std::int64_t> b = v ? exact_int_value(bound) : std::nullopt;
    if (b) {
        switch (kind) {
            case 0: return *v >= *b;
            case 1: return *v > *b;
            case 2: return *v <= *b;
            default: return *v < *b;
        }
    }
    return fold_truth(py::Ref::steal(PyObject_RichCompare(value, bound, BOUND_OPS[kind])), ctx);
}

bool regex_matches(const Constraint& constraint, std::uint64_t key, PyObject* value, const WalkContext& ctx) {
    if (!PyUnicode_Check(value)) return false;
    const std::optional<std::string_view> utf8 = str_utf8(value);
    if (!utf8) return false;
    const std::string_view text = *utf8;
    if (const regex::Regex* const* re = ctx.regexes->by_constraint.find(key)) {
        return regex_full_match(**re, text);
    }
    const auto it = ctx.regexes->by_text.find(std::string_view(constraint.pattern));
    if (it != ctx.regexes->by_text.end()) return regex_full_match(*it->second, text);
    const std::unique_ptr<regex::Regex> once = compile_anchored_regex(constraint.pattern);
    return once != nullptr && regex_full_match(*once, text);
}

py::Ref call_mod(PyObject* value, PyObject* divisor) {
    static PyObject* name = PyUnicode_InternFromString("__mod__");
    PyObject* args[] = {value, divisor};
    return py::Ref::steal(PyObject_VectorcallMethod(name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

bool check_bound(const Constraint& c, PyObject* value, const Path& path, const WalkContext& ctx, Records& records) {
    const auto kind = static_cast<std::size_t>(c.kind);
    PyObject* bound = ctx.constant(c.value);
    if (bound == nullptr) return false;
    if (bound_holds(value, bound, kind, ctx)) return true;
    if (ctx.makes_records()) {
        push_record(BOUND_CODES[kind], std::string(BOUND_OPERATORS[kind]) + " " + value_repr(bound), value_repr(value),
                    path, records);
    }
    return false;
}

bool check_length(const Constraint& c, PyObject* value, const Path& path, const WalkContext& ctx, Records& records) {
    const Py_ssize_t size = PyObject_Size(value);
    const bool min = c.kind == ConstraintKind::MinLen;
    bool ok;
    if (size < 0) {
        ok = fold_pending_error(ctx);
    } else {
        const auto n = static_cast<std::uint64_t>(size);
        ok = min ? n >= c.value : n <= c.value;
    }
    if (!ok && ctx.makes_records()) {
        std::string expected = min ? "length >= " : "length <= ";
        append_decimal(expected, c.value);
        push_record(min ? "too_short" : "too_long", std::move(expected), value_repr(value), path, records);
    }
    return ok;
}

bool check_multiple_of(const Constraint& c, PyObject* value, const Path& path, const WalkContext& ctx,
                       Records& records) {
    PyObject* divisor = ctx.constant(c.value);
    if (divisor == nullptr) return false;
    py::Ref remainder = call_mod(value, divisor);
    bool ok = false;
    if (!remainder) {
        fold_pending_error(ctx);
    } else {
        const int truth = PyObject_IsTrue(remainder.get());
        ok = truth < 0 ? fold_pending_error(ctx) : truth == 0;
    }
    if (!ok && ctx.makes_records()) {
        push_record("multiple_of", "a multiple of " + value_repr(divisor), value_repr(value), path, records);
    }
    return ok;
}

bool check_predicate(const Constraint& c, PyObject* value, const Path& path, const WalkContext& ctx,
                     Records& records) {
    PyObject* predicate = ctx.constant(c.value);
    if (predicate == nullptr) return false;
    py::Ref result = py::Ref::steal(PyObject_CallOneArg(predicate, value));
    const int truth = result ? PyObject_IsTrue(result.get()) : -1;
    if (truth == 1) return true;
    if (truth < 0) {
        py::Ref exc = py::take_error();
        if (is_fatal_exception(exc.get())) {
            store_fatal_error(std::move(exc), ctx);
            return false;
        }
        if (ctx.makes_records()) {
            push_record("predicate_error", "a predicate that does not raise (raised " + exception_text(exc.get()) + ")",
                        value_repr(value), path, records);
        }
        return false;
    }
    if (ctx.makes_records()) push_record("predicate_failed", "a passing predicate", value_repr(value), path, records);
    return false;
}

bool check_pattern(const Constraint& c, std::uint64_t key, PyObject* value, const Path& path, const WalkContext& ctx,
                   Records& records) {
    if (regex_matches(c, key, value, ctx)) return true;
    if (ctx.makes_records()) {
        push_record("string_pattern_mismatch", "a string matching " + debug_quote(c.pattern), value_repr(value), path,
                    records);
    }
    return false;
}

// The constraint at `position` of a refinement.
bool check_constraint(const Schema& refinement, std::size_t position, PyObject* value, const Path& path,
                      const WalkContext& ctx, Records& records) {
    const Constraint& c = refinement.constraints()[position];
    switch (c.kind) {
        case ConstraintKind::Ge:
        case ConstraintKind::Gt:
        case ConstraintKind::Le:
        case ConstraintKind::Lt: return check_bound(c, value, path, ctx, records);
        case ConstraintKind::MinLen:
        case ConstraintKind::MaxLen: return check_length(c, value, path, ctx, records);
        case ConstraintKind::MultipleOf: return check_multiple_of(c, value, path, ctx, records);
        case ConstraintKind::Predicate: return check_predicate(c, value, path, ctx, records);
        case ConstraintKind::Regex:
            return check_pattern(c, constraint_key(refinement, position), value, path, ctx, records);
    }
    return false;
}

}  // namespace

// The attributes of an object are Python objects whatever the value kind: a
// JSON node is converted for the reads, and one that cannot be is a
// non-member without a record.
template <class V>
bool walk_object(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    const py::Ref object = to_python(value);
    if (!object) {
        py::discard_error();
        return false;
    }
    return walk_attributes(node, object.get(), path, ctx, records);
}

template <class V>
bool walk_refinement(const Schema& node, V value, Path& path, const WalkContext& ctx, Records& records) {
    if (!walk_value(*node.inner(), value, path, ctx, records)) return false;
    const py::Ref object = to_python(value);
    if (!object) {
        py::discard_error();
        return false;
    }
    bool ok = true;
    for (std::size_t position = 0; position < node.constraints().size(); ++position) {
        if (!check_constraint(node, position, object.get(), path, ctx, records)) {
            ok = false;
            if (ctx.stops_early()) return false;
        }
    }
    return ok;
}

KESTROME_INSTANTIATE_WALK(walk_object);
KESTROME_INSTANTIATE_WALK(walk_refinement);

}  // namespace kestrome
