"""The algebra against membership, on random schemas and values sampled near their boundaries.

A decision that answers True must hold for every sampled value: is_empty admits none of them,
is_subtype_of sends every member of the left side into the right side, is_equivalent gives
both sides the same members. simplify keeps the members of every value; open and close give
exactly the members of the same schema written with every record opened or closed. Values that
JSON can carry are checked through is_valid_json as well.

Each example checks every ordered pair of a small family of schemas (a few random ones and
small changes of them). KESTROME_ALGEBRA_EXAMPLES sets the number of examples for a long local
run, KESTROME_ALGEBRA_TALLY names a file that gets the number of pairs checked; CI runs a short
seeded run.
"""

import json
import math
import os
import random
from functools import partial
from decimal import Decimal
from types import SimpleNamespace as Meta
from typing import Annotated, Any, Literal

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from kestrome import Validator, anything, complement, intersection, nothing, recursive, union

EXAMPLES = int(os.environ.get("KESTROME_ALGEBRA_EXAMPLES", "60"))
PROPERTY_SETTINGS = settings(
    max_examples=EXAMPLES,
    deadline=None,
    derandomize=bool(os.environ.get("CI")),
    suppress_health_check=list(HealthCheck),
    database=None,
)

# ------------------------------------------------------------------ schemas
#
# A schema is a small tree of tuples, turned into a spec by `spec` and into sample values by
# `sample`. ("self",) stands for the enclosing recursive schema.

SCALARS = ["int", "bool", "float", "str", "bytes", "none", "any", "anything", "nothing"]
LITERALS = [0, 1, -1, 2, True, False, 1.0, 0.0, -0.0, 2.5, "a", "", "b", b"a", None, frozenset({1}), Decimal("1")]
NAMES = ["a", "b", "c"]


def positive_sign(x):
    return math.copysign(1.0, x) > 0


def exact_int(x):
    return type(x) is int


REPR_PREDICATES = {}


def repr_is(c):
    """A predicate true of the values written as c is (one function object per text)."""
    text = repr(c)
    if text not in REPR_PREDICATES:
        REPR_PREDICATES[text] = lambda x: repr(x) == text
    return REPR_PREDICATES[text]


PREDICATES = {"positive_sign": positive_sign, "exact_int": exact_int}


def predicate(name):
    return PREDICATES[name] if name in PREDICATES else repr_is(LITERALS[name])
BOUNDS = [-1, 0, 1, 2, 0.5, 1.5]


# Strategies are built once, with named functions: hypothesis describes a lambda by reading
# its source, which costs more than the whole check.


def one_tuple(k):
    return (k,)


def tagged(kind, x):
    return (kind, x)


def tagged_tuple(kind, xs):
    return (kind, tuple(xs))


def literal_of(positions):
    return ("lit", tuple(LITERALS[i] for i in positions))


def annotated_of(base, cs):
    return ("ann", base, tuple(cs))


def tuple_of(t):
    return ("tuple", tuple(t[0]), t[1])


def record_of(t):
    return ("record", tuple(t[0]), tuple(t[1]))


def recursive_of(t):
    return ("rec", t[0], t[1])


def constraints(base):
    numeric = base in ("int", "float", "bool", "object")
    kinds = ["ge", "gt", "le", "lt"] if numeric else ["min_length", "max_length"]
    values = st.sampled_from(BOUNDS) if numeric else st.integers(0, 2)
    bounds = st.tuples(st.sampled_from(kinds), values)
    predicates = st.tuples(st.just("pred"), st.sampled_from([*PREDICATES, *range(len(LITERALS))]))
    return st.lists(bounds | predicates, min_size=1, max_size=3)


SCALAR_NODES = st.sampled_from(SCALARS).map(one_tuple)
LITERAL_NODES = st.lists(st.sampled_from(range(len(LITERALS))), min_size=1, max_size=3).map(literal_of)
ANNOTATED_NODES = st.one_of(
    [constraints(base).map(partial(annotated_of, base)) for base in ("int", "float", "bool", "str", "list", "object")]
)
CLAUSE_KEYS = st.sampled_from([("str",), ("int",), ("anything",), ("lit", ("a",))])


def records(structural):
    # names may repeat: "a" and "a?" in one literal
    fields = st.lists(st.tuples(st.sampled_from(NAMES), structural, st.booleans()), max_size=3)
    clauses = st.lists(st.tuples(CLAUSE_KEYS, structural), max_size=2)
    return st.tuples(fields, clauses).map(record_of)


def compound(inner, self_allowed):
    structural = inner | st.just(("self",)) if self_allowed else inner
    members = st.lists(inner, min_size=1, max_size=3)
    return st.one_of(
        structural.map(partial(tagged, "list")),
        st.tuples(st.lists(structural, max_size=2), st.none() | structural).map(tuple_of),
        inner.map(partial(tagged, "set")),
        inner.map(partial(tagged, "frozenset")),
        records(structural),
        members.map(partial(tagged_tuple, "union")),
        members.map(partial(tagged_tuple, "inter")),
        inner.map(partial(tagged, "not")),
    )


SCHEMAS = st.recursive(st.one_of(SCALAR_NODES, LITERAL_NODES, ANNOTATED_NODES), partial(compound, self_allowed=False),
                       max_leaves=6)
RECURSIVE_SCHEMAS = st.tuples(st.one_of(SCALAR_NODES, LITERAL_NODES), compound(SCHEMAS, True)).map(recursive_of)
# Records and literals also stand at the top, where a change of the schema shows at once.
ANY_SCHEMA = st.one_of(SCHEMAS, RECURSIVE_SCHEMAS, records(SCHEMAS), LITERAL_NODES)


# A second schema is often a small change of the first, so that inclusions hold and the
# decisions have something to prove.

LITERAL_TYPES = {bool: "bool", int: "int", float: "float", str: "str", bytes: "bytes", type(None): "none"}


def widen_literal(node, rnd):
    c = rnd.choice(node[1])
    position = next(i for i, x in enumerate(LITERALS) if x is c)
    choices = [("ann", "object", (("pred", position),)), ("lit", node[1][:1]), ("any",)]
    if type(c) in LITERAL_TYPES:
        choices.append((LITERAL_TYPES[type(c)],))
    if isinstance(c, frozenset):
        choices += [("frozenset", ("int",)), ("frozenset", ("lit", (1,))), ("frozenset", ("float",))]
    if isinstance(c, (int, float)) and not isinstance(c, bool):
        choices += [("ann", "float", (("pred", "positive_sign"),)), ("ann", "int", (("pred", "exact_int"),))]
    return rnd.choice(choices)


def change_here(node, rnd):
    kind = node[0]
    general = [("union", (node, rnd.choice(SMALL))), ("inter", (node, node)), ("not", ("not", node)), ("anything",)]
    own = []
    if kind in SCALARS:
        own = [(k,) for k in SCALARS]
    elif kind == "lit":
        own = [widen_literal(node, rnd)]
    elif kind == "ann":
        base = {"list": ("list", ("int",)), "object": ("anything",)}.get(node[1], (node[1],))
        own = [base, ("ann", node[1], node[2][:-1] or node[2])]
    elif kind == "tuple":
        own = [("tuple", node[1], node[1][0] if node[1] else ("int",)), ("tuple", node[1][:-1], node[2])]
    elif kind == "record":
        fields, clauses = node[1], node[2]
        if fields:
            name, schema, required = rnd.choice(fields)
            twice = ("record", fields + ((name, schema, not required),), clauses)
            own = [
                twice,
                twice,
                ("record", ((name, schema, not required),) + fields, clauses),
                ("record", tuple(f for f in fields if f[0] != name), clauses),
                ("record", tuple((n, x, False) for n, x, _ in fields), clauses),
            ]
        own.append(("record", fields, clauses + ((("str",), ("anything",)),)))
    elif kind in ("union", "inter"):
        members = list(node[1])
        rnd.shuffle(members)
        own = [(kind, tuple(members)), (kind, tuple(members[:-1]) or node[1])]
    return rnd.choice(own + general) if own and rnd.random() < 0.7 else rnd.choice(general)


def mutate(node, rnd, rate=0.3):
    if rnd.random() < rate:
        return change_here(node, rnd)
    kind = node[0]
    m = lambda x: mutate(x, rnd, rate)  # noqa: E731
    if kind in ("list", "set", "frozenset", "not"):
        return (kind, m(node[1]))
    if kind == "tuple":
        return ("tuple", tuple(m(x) for x in node[1]), None if node[2] is None else m(node[2]))
    if kind == "record":
        return ("record", tuple((n, m(x), r) for n, x, r in node[1]), tuple((k, m(v)) for k, v in node[2]))
    if kind in ("union", "inter"):
        return (kind, tuple(m(x) for x in node[1]))
    if kind == "rec":
        return ("rec", m(node[1]), m(node[2]))
    return node


SMALL = [("int",), ("str",), ("none",), ("lit", (1,)), ("list", ("int",)), ("record", (("a", ("int",), True),), ())]


@st.composite
def schema_families(draw):
    """A few schemas and small changes of them: every ordered pair of the family is checked."""
    family = draw(st.lists(ANY_SCHEMA, min_size=2, max_size=4))
    rnd = random.Random(draw(st.integers(0, 2**32 - 1)))
    return family + [mutate(x, rnd, rate) for rate in (0.3, 0.6) for x in family]


# ------------------------------------------------------------------ specs


def meta(kind, value):
    return Meta(**{kind: value})


def spec(node, me=None, opened=None):
    """The spec of a node; `opened` is None, or True/False to open/close every record."""
    kind = node[0]
    simple = {"int": int, "bool": bool, "float": float, "str": str, "bytes": bytes, "none": None, "any": Any}
    if kind in simple:
        return simple[kind]
    if kind == "anything":
        return anything
    if kind == "nothing":
        return nothing
    if kind == "self":
        return me
    if kind == "lit":
        return Literal[node[1]] if len(node[1]) > 1 else Literal[node[1][0]]
    if kind == "ann":
        base = {"int": int, "float": float, "bool": bool, "str": str, "list": list[int], "object": object}[node[1]]
        return Annotated[(base, *[predicate(v) if k == "pred" else meta(k, v) for k, v in node[2]])]
    sub = lambda x: spec(x, me, opened)  # noqa: E731
    if kind == "list":
        return list[sub(node[1])]
    if kind == "tuple":
        items = [sub(x) for x in node[1]]
        if node[2] is not None:
            return tuple[(*items, sub(node[2]), ...)] if items else tuple[sub(node[2]), ...]
        return tuple[tuple(items)] if items else tuple[()]
    if kind == "set":
        return set[sub(node[1])]
    if kind == "frozenset":
        return frozenset[sub(node[1])]
    if kind == "record":
        fields, clauses = node[1], node[2]
        out = {}
        for name, schema, required in fields:
            key = name if required else name + "?"
            out.pop(key, None)  # a key written again moves to the end, as the last field of its name
            out[key] = sub(schema)
        if fields and opened is not None:
            clauses = ((("anything",), ("anything",)),) if opened else ()
        for k, v in clauses:
            out[sub(k)] = sub(v)
        return out
    if kind == "union":
        return union(*[sub(x) for x in node[1]])
    if kind == "inter":
        return intersection(*[sub(x) for x in node[1]])
    if kind == "not":
        return complement(sub(node[1]))
    if kind == "rec":
        return recursive(lambda t: union(spec(node[1], t, opened), spec(node[2], t, opened)))
    raise AssertionError(node)


def validator(node, opened=None):
    try:
        return Validator(spec(node, opened=opened))
    except (ValueError, NotImplementedError, TypeError):
        return None


# ------------------------------------------------------------------ values

COMMON = [None, True, False, 0, 1, -1, 2, 1.0, 0.0, -0.0, 0.5, 2.5, math.inf, math.nan, "", "a", "b", "ab", b"",
          b"a", [], [1], (), (1,), set(), frozenset(), frozenset({1}), frozenset({1.0}), frozenset({True}), {},
          {"a": 1}, Decimal("1"), Decimal("1.0")]


TYPICAL = {
    "int": [0, 1, -1, 7, True],
    "bool": [True, False],
    "float": [1.0, 0.0, -0.0, 2.5],
    "str": ["", "a", "abc"],
    "bytes": [b"", b"a"],
    "none": [None],
    "any": [1, "a"],
    "anything": [1, "a"],
    "nothing": [],
}


def equal_others(c):
    """Values of the constant's type (or of others) that compare equal to it."""
    out = []
    if isinstance(c, bool):
        out += [int(c), float(c)]
    elif isinstance(c, int):
        out += [float(c)] + ([bool(c)] if c in (0, 1) else [])
    elif isinstance(c, float):
        out += [-c, int(c) if c.is_integer() else c]
    elif isinstance(c, frozenset):
        out += [frozenset({1.0}), frozenset({True})]
    elif isinstance(c, Decimal):
        out += [Decimal("1.0"), Decimal("1.00"), 1]
    return out


def sample(node, rnd, me=None, depth=0):
    """Values near the schema: mostly members, some just outside."""
    kind = node[0]
    if depth > 4:
        return [None, 0, []]
    deeper = lambda x: sample(x, rnd, me, depth + 1)  # noqa: E731
    one = lambda x: rnd.choice(deeper(x))  # noqa: E731
    if kind == "self":
        return deeper(me) if me is not None else [None]
    if kind in TYPICAL:
        return TYPICAL[kind] + rnd.sample(COMMON, 3)
    if kind == "lit":
        out = list(node[1])
        for c in node[1]:
            out += equal_others(c)
        return out
    if kind == "ann":
        base = node[1]
        out = []
        for k, v in node[2]:
            if k == "pred":
                c = LITERALS[v] if isinstance(v, int) else rnd.choice(LITERALS)
                out += [c, *equal_others(c)]
            elif base == "object":
                out += [v, -v, v + 1, float(v)]
            elif base == "list":
                out += [[1] * max(v - 1, 0), [1] * v, [1] * (v + 1)]
            elif base == "str":
                out += ["a" * max(v - 1, 0), "a" * v, "a" * (v + 1)]
            else:
                for x in (v - 1, v, v + 1, v - 0.5, v + 0.5, math.floor(v), math.ceil(v)):
                    out.append(bool(x) if base == "bool" and x in (0, 1) else (float(x) if base == "float" else int(x)))
        return out
    if kind == "list":
        return [[], [one(node[1])], [one(node[1]), one(node[1])], (one(node[1]),)]
    if kind == "tuple":
        items = [one(x) for x in node[1]]
        out = [tuple(items), tuple(items[:-1]), list(items)]
        if node[2] is not None:
            out += [tuple(items + [one(node[2])]), tuple(items + [one(node[2]), one(node[2])])]
        else:
            out.append(tuple(items + [0]))
        return out
    if kind in ("set", "frozenset"):
        make = set if kind == "set" else frozenset
        out = [make()]
        for v in deeper(node[1])[:3]:
            try:
                out.append(make([v]))
            except TypeError:
                pass
        out.append(list(out[-1]) if kind == "set" else set(out[-1]))
        return out
    if kind == "record":
        fields, clauses = node[1], node[2]
        full, partial = {}, {}
        for name, schema, required in fields:
            full[name] = one(schema)
            if required or rnd.random() < 0.5:
                partial[name] = full[name]
        out = [full, partial, {}]
        for k, v in clauses:
            key = rnd.choice([x for x in deeper(k) if isinstance(x, (str, int, bytes, type(None)))] or ["z"])
            extra = dict(full)
            extra[key] = one(v)
            out.append(extra)
        out.append(dict(full, zz=1))
        return out
    if kind == "union":
        return [v for x in node[1] for v in deeper(x)]
    if kind == "inter":
        return [v for x in node[1][:2] for v in deeper(x)]
    if kind == "not":
        return deeper(node[1]) + rnd.sample(COMMON, 3)
    if kind == "rec":
        return deeper(node[1]) + sample(node[2], rnd, node, depth + 1)
    raise AssertionError(node)


def as_json(value):
    """The JSON text of a value that JSON carries exactly, else None."""
    def plain(v):
        if v is None or type(v) in (bool, str):
            return True
        if type(v) is int:
            return True
        if type(v) is float:
            return math.isfinite(v) and v != 0.0  # a zero's sign and int-valued floats stay apart
        if type(v) is list:
            return all(plain(x) for x in v)
        if type(v) is dict:
            return all(type(k) is str and plain(x) for k, x in v.items())
        return False

    if not plain(value):
        return None
    text = json.dumps(value)
    return text if json.loads(text) == value else None


def check(v, x):
    """Membership of a sampled value: a JSON text stands for its document."""
    return v.is_valid_json(x[1]) if isinstance(x, tuple) and len(x) == 2 and x[0] is JSON else v.is_valid(x)


JSON = object()


def probes(values):
    out = []
    for x in values:
        out.append(x)
        text = as_json(x)
        if text is not None:
            out.append((JSON, text))
    return out


def described(node):
    return repr(node)[:300]


# ------------------------------------------------------------------ properties


def assert_decisions_sound(family, rnd):
    """Checks every decision within the family against membership; returns the pairs checked."""
    built = [(node, v) for node, v in ((node, validator(node)) for node in family) if v is not None]
    values = probes([x for node, _ in built for x in sample(node, rnd)] + rnd.sample(COMMON, 6))
    members = [[check(v, x) for x in values] for _, v in built]
    for (a, va), in_a in zip(built, members):
        if va.is_empty():
            assert not any(in_a), (described(a), [x for x, m in zip(values, in_a) if m])
        assert va.is_subtype_of(va) is True, described(a)
        for (b, vb), in_b in zip(built, members):
            if va.is_subtype_of(vb):
                bad = [x for x, ma, mb in zip(values, in_a, in_b) if ma and not mb]
                assert not bad, (described(a), described(b), bad)
            if va.is_equivalent(vb):
                bad = [x for x, ma, mb in zip(values, in_a, in_b) if ma != mb]
                assert not bad, (described(a), described(b), bad)
    return len(built) ** 2


PAIRS = []


@pytest.fixture(scope="module", autouse=True)
def tally():
    """With KESTROME_ALGEBRA_TALLY set, adds the number of pairs checked to that file."""
    yield
    path = os.environ.get("KESTROME_ALGEBRA_TALLY")
    if path:
        with open(path, "a") as f:
            f.write(f"{sum(PAIRS)}\n")


@PROPERTY_SETTINGS
@given(family=schema_families(), seed=st.integers(0, 2**32 - 1))
def test_decisions_never_contradict_membership(family, seed):
    PAIRS.append(assert_decisions_sound(family, random.Random(seed)))


@PROPERTY_SETTINGS
@given(a=ANY_SCHEMA, seed=st.integers(0, 2**32 - 1))
def test_rewrites_keep_or_change_membership_as_they_say(a, seed):
    rnd = random.Random(seed)
    v = validator(a)
    if v is None:
        return
    values = probes(sample(a, rnd) + rnd.sample(COMMON, 6))
    simplified = v.simplify()
    for x in values:
        assert check(simplified, x) == check(v, x), (described(a), x)
    for opened in (True, False):
        rewritten = v.open() if opened else v.close()
        expected = validator(a, opened=opened)
        if expected is None:
            continue
        for x in values + probes([dict(x, zz=1) for x in values if type(x) is dict]):
            assert check(rewritten, x) == check(expected, x), (described(a), opened, x)
