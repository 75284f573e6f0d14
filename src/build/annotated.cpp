// Annotated[base, *metadata]: constraint metadata read by duck typing.
#include "build/compile.h"
#include "schema/anchored_regex.h"
#include "util/text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

// An attribute that takes part only when it can be read; every failure of
// the lookup means absence.
py::Ref probe(PyObject* item, const char* name) {
    py::Ref value = py::Ref::steal(PyObject_GetAttrString(item, name));
    if (!value) py::discard_error();
    return value;
}

// A length: an int directly, anything else through its index method; a
// value that does not convert to an unsigned 64-bit number gives nothing.
std::optional<std::uint64_t> length_value(PyObject* value) {
    py::Ref number = PyLong_Check(value) ? py::Ref::borrow(value) : py::Ref::steal(PyNumber_Index(value));
    if (!number) {
        py::discard_error();
        return std::nullopt;
    }
    const unsigned long long n = PyLong_AsUnsignedLongLong(number.get());
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        py::discard_error();
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(n);
}

Constraint pooled(ConstraintKind kind, std::uint64_t index) { return Constraint{kind, index, {}}; }

// Appends the constraints of one metadata item; false with a ValueError set.
bool collect_constraints(PyObject* item, ConstantsPool& pool, std::vector<Constraint>& out) {
    if (py::Ref pattern = probe(item, "pattern"); pattern && PyUnicode_Check(pattern.get())) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(pattern.get(), &size);
        if (utf8 == nullptr) {
            py::discard_error();
        } else {
            const std::string_view text(utf8, static_cast<std::size_t>(size));
            std::string error;
            if (!compile_anchored_regex(text, &error)) {
                py::set_error(PyExc_ValueError, "invalid regular expression " + debug_quote(text) + ": " + error);
                return false;
            }
            out.push_back(Constraint{ConstraintKind::Regex, 0, std::string(text)});
        }
    }
    const std::pair<const char*, ConstraintKind> bounds[] = {
        {"ge", ConstraintKind::Ge}, {"gt", ConstraintKind::Gt}, {"le", ConstraintKind::Le}, {"lt", ConstraintKind::Lt}};
    for (const auto& [name, kind] : bounds) {
        if (py::Ref bound = probe(item, name); bound && bound.get() != Py_None) {
            out.push_back(pooled(kind, pool_intern(pool, bound.get())));
        }
    }
    if (py::Ref min_length = probe(item, "min_length")) {
        if (auto n = length_value(min_length.get())) out.push_back(Constraint{ConstraintKind::MinLen, *n, {}});
    }
    if (py::Ref max_length = probe(item, "max_length"); max_length && max_length.get() != Py_None) {
        if (auto n = length_value(max_length.get())) out.push_back(Constraint{ConstraintKind::MaxLen, *n, {}});
    }
    if (py::Ref divisor = probe(item, "multiple_of"); divisor && divisor.get() != Py_None) {
        py::Ref zero = py::Ref::steal(PyLong_FromLong(0));
        if (!zero) py::internal_failure("could not create an int");
        py::Ref equal = py::Ref::steal(PyObject_RichCompare(divisor.get(), zero.get(), Py_EQ));
        int is_zero = equal ? PyObject_IsTrue(equal.get()) : -1;
        if (is_zero < 0) {
            py::discard_error();
            is_zero = 0;
        }
        if (is_zero == 1) {
            py::set_error(PyExc_ValueError,
                          "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a nonzero "
                          "divisor.");
            return false;
        }
        out.push_back(pooled(ConstraintKind::MultipleOf, pool_intern(pool, divisor.get())));
    }
    if (PyCallable_Check(item)) {
        out.push_back(pooled(ConstraintKind::Predicate, pool_intern(pool, item)));
    } else if (py::Ref func = probe(item, "func"); func && PyCallable_Check(func.get())) {
        out.push_back(pooled(ConstraintKind::Predicate, pool_intern(pool, func.get())));
    }
    return true;
}

}  // namespace

py::Result<Schema> compile_annotated(PyObject* base, PyObject* metadata, ConstantsPool& pool,
                                     std::vector<Schema>& definitions) {
    py::Result<Schema> compiled = compile_schema(base, pool, definitions);
    if (!compiled) return py::raised;
    std::vector<Constraint> constraints;
    const Py_ssize_t n = PyTuple_GET_SIZE(metadata);
    for (Py_ssize_t i = 0; i < n; ++i) {
        py::Ref item = py::Ref::borrow(PyTuple_GET_ITEM(metadata, i));
        if (PyType_Check(item.get())) {
            continue;  // a class is never metadata, although it is callable
        }
        if (!collect_constraints(item.get(), pool, constraints)) return py::raised;
    }
    if (constraints.empty()) return compiled;
    Schema refinement = boxed(Kind::Refinement, std::move(*compiled));
    refinement.constraints() = std::move(constraints);
    return refinement;
}

}  // namespace kestrome
