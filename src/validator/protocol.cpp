// The protocol of Validator: repr(), hash(), ==/!=, the | operator and the
// copy hooks.
#include "build/compile.h"
#include "py/args.h"
#include "render/render.h"
#include "util/siphash.h"
#include "util/text.h"
#include "validator/slots.h"
#include "validator/validator_object.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

// Pairwise identical or equal under Python ==; a raising comparison counts
// as unequal and its exception is dropped.
bool constants_equal(const std::vector<py::Ref>& a, const std::vector<py::Ref>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].get() == b[i].get()) continue;
        const int eq = PyObject_RichCompareBool(a[i].get(), b[i].get(), Py_EQ);
        if (eq < 0) {
            py::discard_error();
            return false;
        }
        if (eq == 0) return false;
    }
    return true;
}

bool validators_equal(const ValidatorState& a, const ValidatorState& b) {
    if (!eq_schema(a.root, b.root) || a.definitions.size() != b.definitions.size()) return false;
    for (std::size_t i = 0; i < a.definitions.size(); ++i) {
        if (!eq_schema(a.definitions[i], b.definitions[i])) return false;
    }
    return constants_equal(a.constants, b.constants);
}

PyObject* copy_of(PyObject* self) {
    const ValidatorState* state = live_state(self);
    if (state == nullptr) return nullptr;
    return new_validator_object(clone_validator_state(*state));
}

// self | other (or other | self when reflected), in written order.
py::Result<ValidatorState> or_state(PyObject* self, PyObject* other, bool reflected) {
    const ValidatorState* live = live_state(self);
    if (live == nullptr) return py::raised;
    ConstantsPool pool;
    std::vector<Schema> definitions;
    py::Result<Schema> compiled = compile_beside(*live, other, pool, definitions);
    if (!compiled) return py::raised;
    std::vector<Schema> members;
    members.reserve(2);
    Schema own = clone_schema(live->root);
    if (reflected) {
        members.push_back(std::move(*compiled));
        members.push_back(std::move(own));
    } else {
        members.push_back(std::move(own));
        members.push_back(std::move(*compiled));
    }
    return assemble_validator_state(union_of(std::move(members)), std::move(pool.objects), std::move(definitions));
}

PyObject* or_of(PyObject* self, PyObject* other, bool reflected) {
    py::Result<ValidatorState> state = or_state(self, other, reflected);
    return state ? new_validator_object(std::move(*state)) : nullptr;
}

constexpr char COPY_DOC[] =
    "__copy__($self)\n--\n\n"
    "A new Validator equal to this one. The validator is immutable, so the copy shares the\n"
    "pooled constants, classes and predicates instead of duplicating them.";

PyObject* copy(PyObject* self, PyObject*) {
    return py::guard_entry<PyObject*>(nullptr, [&] { return copy_of(self); });
}

constexpr char DEEPCOPY_DOC[] =
    "__deepcopy__($self, _memo)\n--\n\n"
    "A new Validator equal to this one; it shares the pool like __copy__ and ignores the memo.";

PyObject* deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* const positional[] = {"_memo"};
        static const py::FunctionDescription desc{"Validator", "__deepcopy__", positional, 1, {}, false};
        PyObject* memo = nullptr;
        if (!py::parse_fastcall(desc, args, nargs, kwnames, &memo)) return nullptr;
        return copy_of(self);
    });
}

}  // namespace

PyObject* validator_repr(PyObject* self) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        const ValidatorState* state = live_state(self);
        if (state == nullptr) return nullptr;
        InProgressDefinitions in_progress;
        return make_str(render_schema(state->root, state->constants, state->definitions, in_progress, 0)).release();
    });
}

Py_hash_t validator_hash(PyObject* self) {
    const ValidatorState* state = live_state(self);
    if (state == nullptr) return -1;
    SipHasher13 hasher;
    hash_schema(state->root, hasher);
    hasher.write_u64(state->definitions.size());
    for (const Schema& d : state->definitions) hash_schema(d, hasher);
    std::uint64_t h = hasher.finish();
    if (h == UINT64_MAX) h = UINT64_MAX - 1;
    return static_cast<Py_hash_t>(h);
}

PyObject* validator_richcompare(PyObject* self, PyObject* other, int op) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        if (op == Py_EQ) {
            if (!is_validator(other)) Py_RETURN_FALSE;
            const ValidatorState* mine = live_state(self);
            const ValidatorState* theirs = mine ? live_state(other) : nullptr;
            if (theirs == nullptr) return nullptr;
            return Py_NewRef(validators_equal(*mine, *theirs) ? Py_True : Py_False);
        }
        if (op == Py_NE) {
            // Python's == itself, not PyObject_RichCompareBool, whose
            // shortcut for identical operands would skip the test above.
            const py::Ref eq = py::Ref::steal(PyObject_RichCompare(self, other, Py_EQ));
            const int truth = eq ? PyObject_IsTrue(eq.get()) : -1;
            if (truth < 0) return nullptr;
            return Py_NewRef(truth ? Py_False : Py_True);
        }
        Py_RETURN_NOTIMPLEMENTED;
    });
}

PyObject* validator_or(PyObject* left, PyObject* right) {
    return py::guard_entry<PyObject*>(nullptr, [&]() -> PyObject* {
        if (is_validator(left)) return or_of(left, right, false);
        if (is_validator(right)) return or_of(right, left, true);
        Py_RETURN_NOTIMPLEMENTED;
    });
}

const PyMethodDef COPY_METHOD = {"__copy__", copy, METH_NOARGS, COPY_DOC};
const PyMethodDef DEEPCOPY_METHOD = py::fastcall_method("__deepcopy__", deepcopy, DEEPCOPY_DOC);

}  // namespace kestrome
