#include "module/combinators.h"

#include "build/compile.h"
#include "build/placeholder.h"
#include "py/args.h"
#include "validator/validator_object.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

std::atomic<std::uint64_t> NEXT_PLACEHOLDER_ID{0};

constexpr char UNION_DOC[] =
    "union(*schemas)\n--\n\n"
    "The union of the given schemas: a value in at least one of their sets.\n\n"
    "With no argument the result admits no value. Members keep their order and are neither\n"
    "flattened nor deduplicated; simplify() does that on request.";

constexpr char INTERSECTION_DOC[] =
    "intersection(*schemas)\n--\n\n"
    "The intersection of the given schemas: a value in every one of their sets.\n\n"
    "With no argument the result admits every value.";

constexpr char COMPLEMENT_DOC[] =
    "complement(schema)\n--\n\n"
    "The complement of a schema: every value not in its set.\n\n"
    "Membership is decided by the inner schema, so a value whose check against the inner\n"
    "schema raises an ordinary Python exception is not a member of the inner schema and\n"
    "therefore is a member of the complement.";

constexpr char RECURSIVE_DOC[] =
    "recursive(builder)\n--\n\n"
    "Build a recursive schema as a checked fixpoint.\n\n"
    "The builder is called once with a placeholder validator that stands for the schema\n"
    "being defined, and returns its body. The placeholder's self-reference is resolved to a\n"
    "back edge; a body whose reference does not occur under a structural constructor (a\n"
    "list, tuple, set, dict, record or object) is not contractive and is rejected.";

// Wraps the outcome of a body into a new Validator.
PyObject* finish(py::Result<ValidatorState> state) {
    if (!state) return nullptr;
    return new_validator_object(std::move(*state));
}

py::Result<ValidatorState> assemble(Schema root, ConstantsPool& pool, std::vector<Schema>& definitions) {
    return assemble_validator_state(std::move(root), std::move(pool.objects), std::move(definitions));
}

py::Result<ValidatorState> members_body(const py::VarArgs& schemas, bool is_union) {
    ConstantsPool pool;
    std::vector<Schema> definitions;
    std::vector<Schema> members;
    members.reserve(schemas.count);
    for (std::size_t i = 0; i < schemas.count; ++i) {
        py::Result<Schema> member = compile_schema(schemas.items[i], pool, definitions);
        if (!member) return py::raised;
        members.push_back(std::move(*member));
    }
    Schema root = is_union ? union_of(std::move(members)) : intersection_of(std::move(members));
    return assemble(std::move(root), pool, definitions);
}

PyObject* members_entry(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const char* name,
                        bool is_union) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        const py::FunctionDescription desc{nullptr, name, {}, 0, {}, true};
        py::VarArgs schemas;
        if (!py::parse_fastcall(desc, args, nargs, kwnames, nullptr, &schemas)) return nullptr;
        return finish(members_body(schemas, is_union));
    });
}

PyObject* union_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return members_entry(args, nargs, kwnames, "union", true);
}

PyObject* intersection_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return members_entry(args, nargs, kwnames, "intersection", false);
}

PyObject* complement_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const positional[] = {"schema"};
        static const py::FunctionDescription desc{nullptr, "complement", positional, 1, {}, false};
        PyObject* schema = nullptr;
        if (!py::parse_fastcall(desc, args, nargs, kwnames, &schema)) return nullptr;
        ConstantsPool pool;
        std::vector<Schema> definitions;
        py::Result<Schema> inner = compile_schema(schema, pool, definitions);
        if (!inner) return nullptr;
        return finish(assemble(complement_of(std::move(*inner)), pool, definitions));
    });
}

py::Result<ValidatorState> recursive_body(PyObject* builder) {
    const std::uint64_t id = NEXT_PLACEHOLDER_ID.fetch_add(1, std::memory_order_relaxed);
    py::Ref body;
    {
        py::Ref placeholder = py::Ref::steal(validator_from_schema(indexed(Kind::Placeholder, id)));
        if (!placeholder) return py::raised;
        body = py::Ref::steal(PyObject_CallOneArg(builder, placeholder.get()));
    }
    if (!body) return py::raised;
    ConstantsPool pool;
    std::vector<Schema> definitions;
    py::Result<Schema> compiled = compile_schema(body.get(), pool, definitions);
    if (!compiled) return py::raised;
    const std::uint64_t n = definitions.size();
    // Placeholders of this call inside imported definitions are resolved as
    // well, so the contractiveness test follows back edges into them.
    for (Schema& d : definitions) {
        d = resolve_placeholder(d, id, n);
    }
    Schema resolved = resolve_placeholder(*compiled, id, n);
    if (has_unguarded_back_edge(resolved, n, false, definitions)) {
        py::set_error(PyExc_ValueError,
                      "recursive schema is not contractive: the recursive reference must occur under a structural "
                      "constructor (a list, tuple, set, dict, record, or object)");
        return py::raised;
    }
    definitions.push_back(std::move(resolved));
    return assemble(indexed(Kind::BackEdge, n), pool, definitions);
}

PyObject* recursive_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const positional[] = {"builder"};
        static const py::FunctionDescription desc{nullptr, "recursive", positional, 1, {}, false};
        PyObject* builder = nullptr;
        if (!py::parse_fastcall(desc, args, nargs, kwnames, &builder)) return nullptr;
        return finish(recursive_body(builder));
    });
}

}  // namespace

PyMethodDef UNION_DEF = py::fastcall_method("union", union_function, UNION_DOC);
PyMethodDef INTERSECTION_DEF = py::fastcall_method("intersection", intersection_function, INTERSECTION_DOC);
PyMethodDef COMPLEMENT_DEF = py::fastcall_method("complement", complement_function, COMPLEMENT_DOC);
PyMethodDef RECURSIVE_DEF = py::fastcall_method("recursive", recursive_function, RECURSIVE_DOC);

}  // namespace kestrome
