#include "algebra/oracle.h"

#include "check/walk.h"
#include "py/equality.h"
#include "py/error.h"
#include "py/once.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kestrome {

namespace {

struct FloorCeil {
    PyObject* floor = nullptr;
    PyObject* ceil = nullptr;
};

py::ProcessOnce<FloorCeil> FLOOR_CEIL;

bool resolve_floor_ceil(FloorCeil& out) {
    py::Ref name = py::Ref::steal(PyUnicode_FromString("math"));
    if (!name) return false;
    py::Ref math = py::Ref::steal(PyImport_Import(name.get()));
    if (!math) return false;
    py::Ref floor = py::Ref::steal(PyObject_GetAttrString(math.get(), "floor"));
    if (!floor) return false;
    py::Ref ceil = py::Ref::steal(PyObject_GetAttrString(math.get(), "ceil"));
    if (!ceil) return false;
    out.floor = floor.release();  // kept for the life of the process
    out.ceil = ceil.release();
    return true;
}

// What a class inclusion is proven against: the instance checks whose
// answer for a class follows its __mro__. type's own check is nominal.
// ABCMeta's asks the class's __subclasshook__ first and takes a definite
// answer as final, then looks at the __mro__, the registry and, through
// each subclass's own check, the subclasses; so it admits every nominal
// subclass when the hook never answers no: object's default, or one of the
// standard ABCs' (which answer yes or "not implemented").
struct ClassChecks {
    PyObject* instancecheck_name = nullptr;
    PyObject* subclasscheck_name = nullptr;
    PyObject* hook_name = nullptr;
    PyObject* type_instancecheck = nullptr;
    PyObject* abc_instancecheck = nullptr;
    PyObject* abc_subclasscheck = nullptr;
    std::vector<PyObject*> hooks_never_refusing;  // object's, then the standard ABCs'
};

py::ProcessOnce<ClassChecks> CLASS_CHECKS;

// Everything found is kept for the life of the process.
bool resolve_class_checks(ClassChecks& out) {
    py::Ref instancecheck = py::Ref::steal(PyUnicode_InternFromString("__instancecheck__"));
    py::Ref subclasscheck = py::Ref::steal(PyUnicode_InternFromString("__subclasscheck__"));
    py::Ref hook = py::Ref::steal(PyUnicode_InternFromString("__subclasshook__"));
    if (!instancecheck || !subclasscheck || !hook) return false;
    py::Ref abc = py::Ref::steal(PyImport_ImportModule("abc"));
    py::Ref abc_meta = abc ? py::Ref::steal(PyObject_GetAttrString(abc.get(), "ABCMeta")) : py::Ref();
    py::Ref standard = abc_meta ? py::Ref::steal(PyImport_ImportModule("_collections_abc")) : py::Ref();
    if (!standard) return false;
    if (!PyType_Check(abc_meta.get())) {
        PyErr_SetString(PyExc_TypeError, "abc.ABCMeta is not a class");
        return false;
    }
    const auto lookup = [](PyObject* type, PyObject* name) {
        return _PyType_Lookup(reinterpret_cast<PyTypeObject*>(type), name);
    };
    std::vector<PyObject*> hooks{lookup(reinterpret_cast<PyObject*>(&PyBaseObject_Type), hook.get())};
    PyObject* names = PyModule_GetDict(standard.get());
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    for (Py_ssize_t pos = 0; PyDict_Next(names, &pos, &key, &item);) {
        if (!PyType_Check(item) || !PyObject_TypeCheck(item, reinterpret_cast<PyTypeObject*>(abc_meta.get()))) continue;
        PyObject* found = lookup(item, hook.get());
        if (found != nullptr && std::find(hooks.begin(), hooks.end(), found) == hooks.end()) hooks.push_back(found);
    }
    out.type_instancecheck = lookup(reinterpret_cast<PyObject*>(&PyType_Type), instancecheck.get());
    out.abc_instancecheck = lookup(abc_meta.get(), instancecheck.get());
    out.abc_subclasscheck = lookup(abc_meta.get(), subclasscheck.get());
    for (PyObject* kept : hooks) Py_XINCREF(kept);
    for (PyObject* kept : {out.type_instancecheck, out.abc_instancecheck, out.abc_subclasscheck}) Py_XINCREF(kept);
    out.hooks_never_refusing = std::move(hooks);
    out.instancecheck_name = instancecheck.release();
    out.subclasscheck_name = subclasscheck.release();
    out.hook_name = hook.release();
    return true;
}

enum class ClassTest { Nominal, Abc, Other };

// How isinstance(x, cls) is answered, by cls's metaclass.
ClassTest class_test_of(PyObject* cls, const ClassChecks& c) {
    PyTypeObject* meta = Py_TYPE(cls);
    PyObject* check = _PyType_Lookup(meta, c.instancecheck_name);
    if (check != nullptr && check == c.type_instancecheck) return ClassTest::Nominal;
    if (check != nullptr && check == c.abc_instancecheck &&
        _PyType_Lookup(meta, c.subclasscheck_name) == c.abc_subclasscheck) {
        return ClassTest::Abc;
    }
    return ClassTest::Other;
}

// Whether every instance of every subclass of cls is an instance of cls.
bool admits_subclasses(PyObject* cls, const ClassChecks& c) {
    switch (class_test_of(cls, c)) {
        case ClassTest::Nominal: return true;
        case ClassTest::Abc: {
            PyObject* hook = _PyType_Lookup(reinterpret_cast<PyTypeObject*>(cls), c.hook_name);
            const auto& safe = c.hooks_never_refusing;
            return hook != nullptr && std::find(safe.begin(), safe.end(), hook) != safe.end();
        }
        case ClassTest::Other: return false;
    }
    return false;
}

// Whether every value that isinstance admits to sub it admits to sup, for
// every subclass of sub too. sup must be in sub's __mro__ and admit all its
// subclasses. An ABC sub may hold values of no subclass of its own (its
// registry, its hook): an ABC sup reaches them through its subclasses'
// checks, down sub's __mro__, which must pass them on.
std::uint8_t class_inclusion(PyObject* sub, PyObject* sup, const ClassChecks& c) {
    if (sub == sup) return LEAF_INCLUDED;
    PyTypeObject* a = reinterpret_cast<PyTypeObject*>(sub);
    PyTypeObject* b = reinterpret_cast<PyTypeObject*>(sup);
    if (!PyType_IsSubtype(a, b)) return LEAF_NOT_INCLUDED;
    if (!admits_subclasses(sup, c)) return LEAF_UNDECIDED;
    switch (class_test_of(sub, c)) {
        case ClassTest::Nominal: return LEAF_INCLUDED;
        case ClassTest::Other: return LEAF_UNDECIDED;
        case ClassTest::Abc: break;
    }
    if (class_test_of(sup, c) != ClassTest::Abc) return LEAF_UNDECIDED;
    PyObject* mro = a->tp_mro;
    if (mro == nullptr || !PyTuple_Check(mro)) return LEAF_UNDECIDED;
    for (Py_ssize_t i = 1; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* between = PyTuple_GET_ITEM(mro, i);
        if (between == sup || !PyType_Check(between) ||
            !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(between), b)) {
            continue;
        }
        if (class_test_of(between, c) != ClassTest::Abc || !admits_subclasses(between, c)) return LEAF_UNDECIDED;
    }
    return LEAF_INCLUDED;
}

const ClassChecks* class_checks() {
    const ClassChecks* c = CLASS_CHECKS.get(resolve_class_checks);
    if (c == nullptr) py::discard_error();
    return c;
}

const PoolOracle& pool(const void* data) { return *static_cast<const PoolOracle*>(data); }

PyObject* constant(const PoolOracle& o, std::uint64_t i) {
    return i < o.constants->size() ? (*o.constants)[i].get() : nullptr;
}

// The truth of a rich comparison; nothing when it raises.
std::optional<bool> truth_of(PyObject* a, PyObject* b, int op) {
    py::Ref result = py::Ref::steal(PyObject_RichCompare(a, b, op));
    const int truth = result ? PyObject_IsTrue(result.get()) : -1;
    if (truth < 0) {
        py::discard_error();
        return std::nullopt;
    }
    return truth == 1;
}

// ==, then <, then >: 0, -1, 1; undecided when all are false or one raises.
std::int8_t order_of(PyObject* a, PyObject* b) {
    const std::optional<bool> eq = truth_of(a, b, Py_EQ);
    if (!eq) return ORDER_UNDECIDED;
    if (*eq) return 0;
    const std::optional<bool> lt = truth_of(a, b, Py_LT);
    if (!lt) return ORDER_UNDECIDED;
    if (*lt) return -1;
    const std::optional<bool> gt = truth_of(a, b, Py_GT);
    if (!gt) return ORDER_UNDECIDED;
    return *gt ? 1 : ORDER_UNDECIDED;
}

// Whether every value of the constant's exact type that equals it is a value
// no schema can tell from the constant, so that the constant alone answers
// for its literal. Equality reaches further for a float zero (0.0 == -0.0),
// NaN (equal to nothing, itself included), containers (frozenset({1}) ==
// frozenset({1.0})) and every type with an equality of its own.
// Identity equality (an enum member or any object that keeps the default
// __eq__) leaves only the constant itself.
bool equal_only_to_itself(PyObject* value) {
    switch (py::decided_by(value)) {
        case py::DecidedBy::FloatZeroOrNaN:
        case py::DecidedBy::Python: return false;
        default: return true;
    }
}

// A literal whose equality reaches other values, against a schema that
// looks further than the type: included only where an instance test admits
// every instance of the constant's exact type.
std::uint8_t instance_test_admits_type(const PoolOracle& o, PyObject* value, const Schema& sup) {
    if (sup.kind != Kind::Instance) return LEAF_UNDECIDED;
    PyObject* cls = constant(o, sup.index);
    if (cls == nullptr || !PyType_Check(cls)) return LEAF_UNDECIDED;
    PyTypeObject* type = Py_TYPE(value);
    // A class of its own metaclass may answer isinstance as it likes; only
    // the exact type itself is then known to hold all of its instances.
    if (reinterpret_cast<PyObject*>(type) == cls) return LEAF_INCLUDED;
    const ClassChecks* c = class_checks();
    if (c != nullptr && PyType_IsSubtype(type, reinterpret_cast<PyTypeObject*>(cls)) && admits_subclasses(cls, *c)) {
        return LEAF_INCLUDED;
    }
    return LEAF_UNDECIDED;
}

std::uint8_t pool_leaf_subtype(const void* data, const Schema& sub, const Schema& sup) {
    const PoolOracle& o = pool(data);
    if (sub.kind == Kind::Instance) {
        if (sup.kind != Kind::Instance) return LEAF_UNDECIDED;
        PyObject* a = constant(o, sub.index);
        PyObject* b = constant(o, sup.index);
        if (a == nullptr || b == nullptr) return LEAF_UNDECIDED;
        if (!PyType_Check(a)) return LEAF_NOT_INCLUDED;
        const int is = PyObject_IsSubclass(a, b);
        if (is < 0) {
            py::discard_error();
            return LEAF_NOT_INCLUDED;
        }
        if (is == 0) return LEAF_NOT_INCLUDED;
        // issubclass answers for the class alone; a subclass of it may
        // leave a class that admits by its methods (Hashable, a protocol).
        const ClassChecks* c = PyType_Check(b) ? class_checks() : nullptr;
        return c != nullptr ? class_inclusion(a, b, *c) : LEAF_UNDECIDED;
    }
    if (sub.kind == Kind::Literal) {
        PyObject* value = constant(o, sub.index);
        if (value == nullptr) return LEAF_UNDECIDED;
        // A scalar type test answers for every value of the constant's type.
        if (!equal_only_to_itself(value) && !scalar_type_test(sup.kind, value).has_value()) {
            return instance_test_admits_type(o, value, sup);
        }
        static const LazyPrecompute no_tables;
        WalkState walk;
        Path path;
        Records records;
        const WalkContext ctx = walk.context(*o.constants, *o.definitions, nullptr, no_tables, WalkMode::Boolean);
        const bool member = walk_value(sup, value, path, ctx, records);
        return member ? LEAF_INCLUDED : LEAF_NOT_INCLUDED;  // a held fatal exception is dropped with `walk`
    }
    return LEAF_UNDECIDED;
}

std::int8_t pool_compare(const void* data, std::uint64_t i, std::uint64_t j) {
    const PoolOracle& o = pool(data);
    PyObject* a = constant(o, i);
    PyObject* b = constant(o, j);
    if (a == nullptr || b == nullptr) return ORDER_UNDECIDED;
    return order_of(a, b);
}

py::Ref call_method_with_one(PyObject* obj, const char* name) {
    py::Ref method_name = py::Ref::steal(PyUnicode_FromString(name));
    py::Ref one = py::Ref::steal(PyLong_FromLong(1));
    if (!method_name || !one) return py::Ref();
    PyObject* args[] = {obj, one.get()};
    return py::Ref::steal(
        PyObject_VectorcallMethod(method_name.get(), args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// The smallest (lower) or largest (upper) integer a bound admits.
py::Ref admitted_integer(const FloorCeil& fc, PyObject* bound, bool strict, bool lower) {
    PyObject* round = lower == strict ? fc.floor : fc.ceil;
    py::Ref rounded = py::Ref::steal(PyObject_CallOneArg(round, bound));
    if (!rounded || !strict) return rounded;
    return call_method_with_one(rounded.get(), lower ? "__add__" : "__sub__");
}

std::uint8_t pool_int_gap(const void* data, std::uint64_t lo, bool lo_strict, std::uint64_t hi, bool hi_strict) {
    const FloorCeil* fc = FLOOR_CEIL.get(resolve_floor_ceil);
    if (fc == nullptr) {
        py::discard_error();
        return GAP_UNDECIDED;
    }
    const PoolOracle& o = pool(data);
    PyObject* low = constant(o, lo);
    PyObject* high = constant(o, hi);
    if (low == nullptr || high == nullptr) return GAP_UNDECIDED;
    py::Ref smallest = admitted_integer(*fc, low, lo_strict, true);
    py::Ref largest = smallest ? admitted_integer(*fc, high, hi_strict, false) : py::Ref();
    if (!largest) {
        py::discard_error();
        return GAP_UNDECIDED;
    }
    const std::int8_t order = order_of(smallest.get(), largest.get());
    if (order == ORDER_UNDECIDED) return GAP_UNDECIDED;
    return order == 1 ? GAP_EMPTY : GAP_FILLED;
}

const LeafOracleOps POOL_ORACLE_OPS = {pool_leaf_subtype, pool_compare, pool_int_gap};

}  // namespace

LeafOracle PoolOracle::oracle() const { return LeafOracle{this, &POOL_ORACLE_OPS}; }

}  // namespace kestrome
