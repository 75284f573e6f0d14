// The decisions is_empty, is_subtype_of and is_equivalent, and the rewrites
// open, close and simplify.
#include "algebra/emptiness.h"
#include "algebra/inclusion.h"
#include "algebra/simplify.h"
#include "build/compile.h"
#include "py/args.h"
#include "validator/slots.h"
#include "validator/validator_object.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

using Decision = bool (*)(const Schema&, const Schema&, const LeafOracle&, const std::vector<Schema>&, std::uint64_t);

// is_subtype_of and is_equivalent: `other` compiled beside this validator,
// so that the decision compares trees of one index space.
template <Decision decide, const char* name>
PyObject* decide_against(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const positional[] = {"other"};
        const py::FunctionDescription desc{"Validator", name, positional, 1, {}, false};
        PyObject* other = nullptr;
        if (!py::parse_fastcall(desc, args, nargs, kwnames, &other)) return nullptr;
        const ValidatorState* live = live_state(self);
        if (live == nullptr) return nullptr;
        const ValidatorState& state = *live;
        // The operand's compile is a level of the thread's decisions: one
        // asked from inside a decision that has no level left is not proven,
        // and its operand is not compiled.
        const DepthLevel entry;
        if (!entry.held()) return Py_NewRef(Py_False);
        ConstantsPool pool;
        std::vector<Schema> definitions;
        py::Result<Schema> compiled = compile_beside(state, other, pool, definitions);
        if (!compiled) return nullptr;
        const PoolOracle oracle{&pool.objects, &definitions};
        const bool answer = decide(state.root, *compiled, oracle.oracle(), definitions, state.definitions.size());
        return Py_NewRef(answer ? Py_True : Py_False);
    });
}

constexpr char IS_SUBTYPE_OF[] = "is_subtype_of";
constexpr char IS_SUBTYPE_OF_DOC[] =
    "is_subtype_of($self, other)\n--\n\n"
    "Whether every value of this schema is a value of `other` (any schema or validator).\n\n"
    "Sound: True only when proven, for example bool within int, list[bool] within list[int],\n"
    "a recursive schema within a wider one, a class within a base class. False for leaf\n"
    "relations that cannot be settled and past the same fixed work budget as is_empty(). May\n"
    "call a refinement's predicate when it decides a literal against it.\n\n"
    "Raises:\n"
    "    every exception of compiling `other` (NotImplementedError for a rejected schema).";

constexpr char IS_EQUIVALENT[] = "is_equivalent";
constexpr char IS_EQUIVALENT_DOC[] =
    "is_equivalent($self, other)\n--\n\n"
    "Whether this schema and `other` admit the same values: inclusion both ways, under one\n"
    "work budget (bool | int is equivalent to int).\n\n"
    "Raises:\n"
    "    every exception of compiling `other`.";

// open, close and simplify: every tree rewritten, the constants shared.
template <class Rewrite>
PyObject* rewritten(PyObject* self, Rewrite&& rewrite) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        const ValidatorState* live = live_state(self);
        if (live == nullptr) return nullptr;
        const ValidatorState& state = *live;
        Schema root = rewrite(state.root);
        std::vector<Schema> definitions;
        definitions.reserve(state.definitions.size());
        for (const Schema& d : state.definitions) definitions.push_back(rewrite(d));
        py::Result<ValidatorState> out =
            assemble_validator_state(std::move(root), copy_constants(state.constants), std::move(definitions));
        if (!out) return nullptr;
        return new_validator_object(std::move(*out));
    });
}

constexpr char IS_EMPTY_DOC[] =
    "is_empty($self)\n--\n\n"
    "Whether no value can belong to this validator's schema.\n\n"
    "True only when that is proven: an unsatisfiable intersection, a fixed sequence with an\n"
    "impossible position, a record with an impossible required field, a refinement whose\n"
    "bounds or lengths cannot hold together, a recursive schema with no base case. False for\n"
    "every form it cannot decide, and past a fixed work budget, so False can mean \"not proven\n"
    "within the bound\". May call the rich comparisons of refinement bounds.";

PyObject* is_empty(PyObject* self, PyObject*) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        const ValidatorState* live = live_state(self);
        if (live == nullptr) return nullptr;
        const ValidatorState& state = *live;
        const PoolOracle oracle{&state.constants, &state.definitions};
        return Py_NewRef(decide_empty(state.root, oracle.oracle(), state.definitions) ? Py_True : Py_False);
    });
}

constexpr char OPEN_DOC[] =
    "open($self)\n--\n\n"
    "A validator whose records admit undeclared keys with any value.\n\n"
    "Every record with fields, recursive definitions included, gets the one catch-all\n"
    "clause `...` (a typed catch-all is widened to any key and value), so that open() and\n"
    "close() are idempotent projections rather than inverses. Returns a new validator; this\n"
    "one is unchanged.\n\n"
    "Raises:\n"
    "    ValueError: when the opened schema passes the size limit.";

PyObject* open_records(PyObject* self, PyObject*) {
    return rewritten(self, [](const Schema& node) { return set_records_open(node, true); });
}

constexpr char CLOSE_DOC[] =
    "close($self)\n--\n\n"
    "A validator whose records admit only their declared keys, everywhere. Returns a new\n"
    "validator; this one is unchanged.";

PyObject* close_records(PyObject* self, PyObject*) {
    return rewritten(self, [](const Schema& node) { return set_records_open(node, false); });
}

constexpr char SIMPLIFY_DOC[] =
    "simplify($self)\n--\n\n"
    "An equivalent validator reduced by the lattice laws: unions and intersections flattened,\n"
    "sorted and deduplicated, identities and absorptions applied, complements in\n"
    "negation-normal form, nested refinements merged. Returns a new validator; this one is\n"
    "unchanged.\n\n"
    "Raises:\n"
    "    ValueError: when the simplified schema passes the size limit.";

PyObject* simplify(PyObject* self, PyObject*) { return rewritten(self, simplify_schema); }

}  // namespace

const PyMethodDef IS_EMPTY_METHOD = {"is_empty", is_empty, METH_NOARGS, IS_EMPTY_DOC};
const PyMethodDef IS_SUBTYPE_OF_METHOD =
    py::fastcall_method(IS_SUBTYPE_OF, decide_against<decide_subtype, IS_SUBTYPE_OF>, IS_SUBTYPE_OF_DOC);
const PyMethodDef IS_EQUIVALENT_METHOD =
    py::fastcall_method(IS_EQUIVALENT, decide_against<decide_equivalent, IS_EQUIVALENT>, IS_EQUIVALENT_DOC);
const PyMethodDef OPEN_METHOD = {"open", open_records, METH_NOARGS, OPEN_DOC};
const PyMethodDef CLOSE_METHOD = {"close", close_records, METH_NOARGS, CLOSE_DOC};
const PyMethodDef SIMPLIFY_METHOD = {"simplify", simplify, METH_NOARGS, SIMPLIFY_DOC};

}  // namespace kestrome
