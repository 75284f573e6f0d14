"""Schemas and values generated from fixed seeds, and what a build of kestrome
answers for them: the same cases in any process, so that two builds can be
compared (tests/test_differential.py runs this file under each).

    python differential_cases.py FAMILY COUNT

prints, as JSON, the file of the kestrome module it imported and, for each
case of the family, its name and a canonical text of every answer: is_valid,
`in`, validate's and fail-fast validate's errors and message, the same for
the JSON text of the value (is_valid_json, validate_json, load), and the
calls that predicates and logging keys made during each."""

import enum
import json
import random
import sys
from types import SimpleNamespace as Meta
from typing import Annotated, Literal, NotRequired, TypedDict

from kestrome import ValidationError, Validator, anything, intersection, recursive, union

LOG = []


class Color(enum.Enum):
    RED = 1
    GREEN = 2


class Level(enum.IntEnum):
    LOW = 1
    HIGH = 2


class LoggingStr(str):
    """A str subclass whose comparisons are logged; equal to the str of its text."""

    def __eq__(self, other):
        LOG.append(("eq", str(self), repr(other)))
        return str.__eq__(self, other)

    def __ne__(self, other):
        return not self.__eq__(other)

    __hash__ = str.__hash__


class SaltedStr(str):
    """A str subclass with a hash of its own: it never finds the str of its text in a dict."""

    def __eq__(self, other):
        LOG.append(("salted_eq", str(self), repr(other)))
        return str.__eq__(self, other)

    def __hash__(self):
        return str.__hash__(self) ^ 1


class LoggingInt(int):
    def __ge__(self, other):
        LOG.append(("ge", int(self), repr(other)))
        return int(self) >= other

    def __lt__(self, other):
        LOG.append(("lt", int(self), repr(other)))
        return int(self) < other


class SubDict(dict):
    pass


class Slots:
    """Instances keep their attributes in a split-table dict, read as a value."""

    def __init__(self, pairs):
        for k, v in pairs:
            setattr(self, k, v)


def predicate(name, test):
    def check(x):
        LOG.append((name, repr(x)))
        return test(x)

    return check


def not_three(x):
    return x % 3 != 0


def short(x):
    return len(x) < 6


# ------------------------------------------------------------------ values


def junk(rng):
    """A value of some other kind, fresh each time."""
    return rng.choice(
        [
            lambda: None,
            lambda: True,
            lambda: 0,
            lambda: -7,
            lambda: 2**70,
            lambda: 1.5,
            lambda: "",
            lambda: "x",
            lambda: "kind",
            lambda: "\ud800",  # no UTF-8 form
            lambda: b"b",
            lambda: [],
            lambda: [1, "a"],
            lambda: {},
            lambda: {"a": 1},
            lambda: (),
            lambda: Color.RED,
            lambda: LoggingStr("a"),
            lambda: LoggingInt(4),
        ]
    )()


def make_dict(pairs, rng):
    """A dict of these entries in one of its table forms."""
    form = rng.choice(["plain", "plain", "plain", "deleted", "split", "sub", "logging_keys", "salted_keys", "copy"])
    if form == "deleted":
        d = {}
        for i, (k, v) in enumerate(pairs):
            if i % 2 == 0:
                d[f"gone{i}"] = 0
            d[k] = v
        for i in range(0, len(pairs), 2):
            del d[f"gone{i}"]
        return d
    if form == "split" and all(type(k) is str and k.isidentifier() for k, _ in pairs):
        return vars(Slots(pairs))
    if form == "sub":
        return SubDict(pairs)
    if form == "logging_keys":
        return {LoggingStr(k) if type(k) is str else k: v for k, v in pairs}
    if form == "salted_keys" and len(pairs) > 0:
        k, v = pairs[0]
        return dict([(SaltedStr(k) if type(k) is str else k, v), *pairs[1:]])
    if form == "copy":
        return dict(dict(pairs))
    return dict(pairs)


# ------------------------------------------------------------------ schemas
#
# A schema is a small tree of tuples: ("kind", ...parts). annotation() makes the
# annotation, member() a member of it.

WORDS = ["a", "bb", "kind", "x", "yes", "é", "\U0001f600", "long-word-here"]
SCALARS = ["int", "str", "float", "bool", "none", "bytes", "any"]


def gen_literal(rng):
    pool = rng.choice(
        [
            [0, 1, 2, 3, -5, 2**40],
            WORDS,
            [1, "a", None, True],
            [Color.RED, Color.GREEN, 2],
            [Level.LOW, "x", False],
            list(range(20)) + ["w%d" % i for i in range(20)],
        ]
    )
    return ("lit", rng.sample(pool, rng.randint(1, min(len(pool), 6))))


def gen_leaf(rng):
    r = rng.random()
    if r < 0.45:
        return (rng.choice(SCALARS),)
    if r < 0.65:
        return gen_literal(rng)
    if r < 0.75:
        lo = rng.randint(-3, 5)
        return ("bounded", lo, lo + rng.randint(0, 10))
    if r < 0.82:
        return ("pattern", rng.choice(["[a-c]+", "x?y*", "\\w+", "[^é]*"]))
    if r < 0.88:
        return ("strlen", rng.randint(0, 2), rng.randint(2, 5))
    if r < 0.94:
        return ("pred_int",)
    return ("pred_str",)


FIELD_NAMES = ["a", "b", "c", "d", "e", "f", "kind", "x_y", "é"]


def gen_fields(rng, depth, count, taken=()):
    """Fields with names of their own, many (past a machine word's worth of bits) now and then."""
    pool = [name for name in FIELD_NAMES if name not in taken]
    names = rng.sample(pool, count) if count <= len(pool) else [f"k{i}" for i in range(count)]
    return [(name, gen_schema(rng, depth + 1), rng.random() < 0.7) for name in names]


def gen_record(rng, depth, fields=None):
    if fields is None:
        fields = gen_fields(rng, depth, rng.choice([0, 1, 2, 3, 4, 12, 70] if depth < 2 else [1, 2]))
    catch = None
    if rng.random() < 0.3:
        catch = (rng.choice([("str",), ("lit", ["p", "q", "r"]), ("int",)]), gen_leaf(rng))
    style = "typeddict" if catch is None and fields and rng.random() < 0.3 else "literal"
    return ("record", fields, catch, style)


def gen_tagged(rng, depth):
    field = rng.choice(["kind", "type", "t"])
    tags = rng.choice([["a", "b", "c"], [1, 2, 3], ["a", 2, None], ["x", "y"], [True, False]])
    members = []
    for i, tag in enumerate(tags):
        tag_values = [tag] if rng.random() < 0.8 or i > 0 else [tag, "extra"]
        fields = [(field, ("lit", tag_values), True)] + gen_fields(rng, depth, rng.randint(0, 3), taken=(field,))
        if rng.random() < 0.3:
            rng.shuffle(fields)
        members.append(gen_record(rng, depth, fields))
    return ("union", members)


def gen_schema(rng, depth=0):
    if depth >= 4:
        return gen_leaf(rng)
    r = rng.random()
    if r < 0.25:
        return gen_leaf(rng)
    if r < 0.40:
        return (rng.choice(["list", "list", "tuple_rep"]), gen_schema(rng, depth + 1))
    if r < 0.45:
        kind = rng.choice(["tuple_fixed", "list_fixed"])
        return (kind, [gen_schema(rng, depth + 1) for _ in range(rng.randint(0 if kind == "tuple_fixed" else 2, 3))])
    if r < 0.50:
        return (rng.choice(["set", "frozenset"]), rng.choice([(s,) for s in ("int", "str", "any")] + [gen_literal(rng)]))
    if r < 0.68:
        return gen_record(rng, depth)
    if r < 0.73:
        return ("dict", rng.choice([("str",), ("int",), ("lit", ["a", "b", "c"])]), gen_schema(rng, depth + 1))
    if r < 0.83:
        return gen_tagged(rng, depth)
    if r < 0.93:
        return ("union", [gen_schema(rng, depth + 1) for _ in range(rng.randint(1, 3))])
    if r < 0.96:
        return ("optional", gen_schema(rng, depth + 1))
    return ("both", gen_schema(rng, depth + 1))


def annotation(node, memo):
    """The annotation of a node. `memo` keeps the classes made for it."""
    kind = node[0]
    scalar = {"int": int, "str": str, "float": float, "bool": bool, "none": None, "bytes": bytes, "any": object}
    if kind in scalar:
        return scalar[kind]
    if kind == "lit":
        return Literal[tuple(node[1])]
    if kind == "bounded":
        return Annotated[int, Meta(ge=node[1]), Meta(lt=node[2])]
    if kind == "pattern":
        return Annotated[str, Meta(pattern=node[1])]
    if kind == "strlen":
        return Annotated[str, Meta(min_length=node[1], max_length=node[2])]
    if kind == "pred_int":
        return Annotated[int, predicate("not_three", not_three)]
    if kind == "pred_str":
        return Annotated[str, predicate("short", short)]
    if kind == "list":
        return list[annotation(node[1], memo)]
    if kind == "tuple_rep":
        return tuple[annotation(node[1], memo), ...]
    if kind == "tuple_fixed":
        return tuple[tuple(annotation(n, memo) for n in node[1])] if node[1] else tuple[()]
    if kind == "list_fixed":
        return [annotation(n, memo) for n in node[1]]
    if kind == "set":
        return set[annotation(node[1], memo)]
    if kind == "frozenset":
        return frozenset[annotation(node[1], memo)]
    if kind == "dict":
        return dict[annotation(node[1], memo), annotation(node[2], memo)]
    if kind == "record":
        _, fields, catch, style = node
        if style == "typeddict":
            hints = {name: annotation(t, memo) if required else NotRequired[annotation(t, memo)] for name, t, required in fields}
            cls = TypedDict(f"TD{len(memo)}", hints)
            memo.append(cls)
            return cls
        literal = {(name if required else name + "?"): annotation(t, memo) for name, t, required in fields}
        if catch is not None:
            literal[annotation(catch[0], memo)] = annotation(catch[1], memo)
        return literal
    if kind == "union":
        return union(*[annotation(n, memo) for n in node[1]])
    if kind == "optional":
        return union(annotation(node[1], memo), None)
    if kind == "both":
        return intersection(annotation(node[1], memo), anything)
    raise AssertionError(kind)


def leaf_member(node, rng):
    kind = node[0]
    if kind == "int":
        return rng.choice([0, 1, -3, 2**62, 2**70, True, LoggingInt(5)])
    if kind == "str":
        return rng.choice(["", "a", "kind", "é", "\U0001f600", "\ud800", LoggingStr("s")])
    if kind == "float":
        return rng.choice([0.0, 1.5, -2.25, 1e300])
    if kind == "bool":
        return rng.choice([True, False])
    if kind == "none":
        return None
    if kind == "bytes":
        return rng.choice([b"", b"ab"])
    if kind == "any":
        return junk(rng)
    if kind == "lit":
        return rng.choice(node[1])
    if kind == "bounded":
        return rng.randrange(node[1], node[2]) if node[2] > node[1] else node[1] - 1
    if kind == "pattern":
        return {"[a-c]+": "abca", "x?y*": "xyy", "\\w+": "é_1", "[^é]*": "abc"}[node[1]]
    if kind == "strlen":
        return "abcdef"[: rng.randint(node[1], node[2])]
    if kind == "pred_int":
        return rng.choice([1, 2, 4, 3])
    if kind == "pred_str":
        return rng.choice(["a", "abc", "longer text"])
    return None


def member(node, rng, depth=0):
    """A member of the node (or, where a random choice misses, a near one)."""
    kind = node[0]
    if kind in ("list", "tuple_rep"):
        n = rng.choice([0, 1, 2, 3, 5, 20]) if depth < 3 else rng.randint(0, 2)
        items = [member(node[1], rng, depth + 1) for _ in range(n)]
        return items if kind == "list" else tuple(items)
    if kind in ("tuple_fixed", "list_fixed"):
        items = [member(n, rng, depth + 1) for n in node[1]]
        return tuple(items) if kind == "tuple_fixed" else items
    if kind in ("set", "frozenset"):
        items = set()
        for _ in range(rng.randint(0, 4)):
            x = member(node[1], rng, depth + 1)
            try:
                items.add(x)
            except TypeError:
                pass
        return items if kind == "set" else frozenset(items)
    if kind == "dict":
        pairs = []
        for _ in range(rng.choice([0, 1, 2, 4, 40]) if depth < 2 else rng.randint(0, 2)):
            k = member(node[1], rng, depth + 1)
            if not isinstance(k, (list, dict, set)):
                pairs.append((k, member(node[2], rng, depth + 1)))
        return make_dict(pairs, rng)
    if kind == "record":
        _, fields, catch, _ = node
        pairs = [(name, member(t, rng, depth + 1)) for name, t, required in fields if required or rng.random() < 0.5]
        if rng.random() < 0.3:
            rng.shuffle(pairs)
        if catch is not None:
            for _ in range(rng.randint(0, 2)):
                k = member(catch[0], rng, depth + 1)
                if k not in {name for name, _, _ in fields}:
                    pairs.append((k, member(catch[1], rng, depth + 1)))
        return make_dict(pairs, rng)
    if kind == "union":
        return member(rng.choice(node[1]), rng, depth) if node[1] else None
    if kind == "optional":
        return None if rng.random() < 0.2 else member(node[1], rng, depth)
    if kind == "both":
        return member(node[1], rng, depth)
    return leaf_member(node, rng)


# ------------------------------------------------------------------ near misses


def spots(value, path=()):
    """Every place in the value where one change can be made."""
    yield path
    if type(value) in (list, tuple):
        yield path + (("resize",),)  # an item more or less
        for i, x in enumerate(value):
            yield from spots(x, path + (i,))
    elif isinstance(value, dict):
        for k, x in list(value.items()):
            yield path + (("key", k),)
            yield from spots(x, path + (("at", k),))
    elif isinstance(value, (set, frozenset)):
        yield path + (("add",),)


def changed(value, path, rng):
    """The value with the place at `path` changed; lists and dicts change in place."""
    if not path:
        return junk(rng)
    step, rest = path[0], path[1:]
    if step == ("resize",):
        items = list(value)
        if items and rng.random() < 0.5:
            items.pop()
        else:
            items.append(items[0] if items else junk(rng))
        return items if isinstance(value, list) else tuple(items)
    if isinstance(value, list):
        value[step] = changed(value[step], rest, rng)
        return value
    if isinstance(value, tuple):
        return value[:step] + (changed(value[step], rest, rng),) + value[step + 1 :]
    if isinstance(value, dict):
        k = step[1]
        if step[0] == "at":
            value[k] = changed(value[k], rest, rng)
        elif rng.random() < 0.5:
            del value[k]  # a field goes missing
        else:
            item = value.pop(k)
            value[rng.choice(["zz", "kind", "\ud800", 3, LoggingStr("a"), SaltedStr("a")])] = item
        return value
    extra = junk(rng)
    try:
        return type(value)(value | {extra})
    except TypeError:
        return type(value)(value | {"y"})


def near_miss(value, rng):
    places = list(spots(value))
    return changed(value, rng.choice(places), rng)


# ------------------------------------------------------------------ outcomes


def json_text(value):
    try:
        return json.dumps(value)
    except (TypeError, ValueError, RecursionError):
        return None


def repeated_keys_text(value, rng):
    """A JSON text of the value in which some objects name a key twice, with
    another value first: it loads to the same value. None where no object
    has a key to repeat."""
    repeated = False

    def write(v):
        nonlocal repeated
        if isinstance(v, dict):
            parts = []
            for k, x in v.items():
                key = json.dumps(next(iter(json.loads(json.dumps({k: None})))))  # as json.dumps writes it
                if rng.random() < 0.3:
                    parts.append(f"{key}: {json.dumps(junk_json(rng))}")
                    repeated = True
                parts.append(f"{key}: {write(x)}")
            return "{" + ", ".join(parts) + "}"
        if isinstance(v, (list, tuple)):
            return "[" + ",".join(write(x) for x in v) + "]"
        return json.dumps(v)

    if json_text(value) is None:
        return None
    text = write(value)
    return text if repeated else None


def junk_json(rng):
    return rng.choice([None, 1, -2, 1.5, "x", "kind", [], {}, [1], {"a": 1}, True])


def answers(v, value, rng):
    """A canonical text of everything the validator says about the value."""
    out = []

    def run(name, call):
        LOG.clear()
        try:
            result = ("ok", repr(call()))
        except ValidationError as e:
            result = ("invalid", repr(e.errors), str(e))
        except Exception as e:  # noqa: BLE001 - the exception is part of the answer
            result = ("raised", type(e).__name__, str(e))
        out.append((name, result, list(LOG)))

    run("is_valid", lambda: v.is_valid(value))
    run("in", lambda: value in v)
    run("validate", lambda: v.validate(value))
    run("validate_fail_fast", lambda: v.validate(value, fail_fast=True))
    for name, text in (("", json_text(value)), ("repeated keys: ", repeated_keys_text(value, rng))):
        if text is not None:
            run(name + "is_valid_json", lambda: v.is_valid_json(text))
            run(name + "validate_json", lambda: v.validate_json(text))
            run(name + "validate_json_fail_fast", lambda: v.validate_json(text.encode(), fail_fast=True))
            run(name + "load", lambda: v.load(text))
    return repr(out)


def short_repr(value):
    try:
        text = repr(value)
    except RecursionError:
        text = "<deep value>"
    return text if len(text) < 300 else text[:300] + "..."


def generated(node, seed, memo):
    """Cases of one generated schema: members and near misses."""
    try:
        v = Validator(annotation(node, memo))
    except Exception as e:  # noqa: BLE001 - both builds must refuse it alike
        return [(None, f"{type(e).__name__}: {e}")]
    cases = []
    for k in range(6):
        value = member(node, random.Random(seed * 100 + k))
        cases.append((v, value))
        if k < 4:
            miss = near_miss(member(node, random.Random(seed * 100 + k)), random.Random(seed * 100 + k + 50))
            cases.append((v, miss))
    cases.append((v, junk(random.Random(seed))))
    return cases


def family_mixed(seed, memo):
    return generated(gen_schema(random.Random(seed)), seed, memo)


def family_records(seed, memo):
    rng = random.Random(seed)
    return generated(gen_record(rng, 0), seed, memo)


def family_tagged_lists(seed, memo):
    rng = random.Random(seed)
    tagged = gen_tagged(rng, 1)
    node = rng.choice([("list", tagged), ("tuple_rep", tagged), ("record", [("items", ("list", tagged), True)], None, "literal")])
    return generated(node, seed, memo)


def family_sequences(seed, memo):
    rng = random.Random(seed)
    inner = rng.choice([gen_leaf(rng), ("union", [gen_leaf(rng), gen_leaf(rng)]), gen_literal(rng), gen_record(rng, 3)])
    node = (rng.choice(["list", "tuple_rep", "set", "frozenset"]), inner)
    if node[0] in ("set", "frozenset") and inner[0] in ("record", "union"):
        node = ("list", inner)
    if rng.random() < 0.3:
        node = (rng.choice(["tuple_fixed", "list_fixed"]), [inner, gen_leaf(rng)])
        if rng.random() < 0.5:  # lists of short fixed lists (points, pairs)
            node = ("list", node)
    return generated(node, seed, memo)


# Recursive schemas, each with a member maker of a given depth.
def recursive_cases(seed):
    rng = random.Random(seed)
    leaf = gen_leaf(rng)
    leaf_annotation = annotation(leaf, [])

    def nested_lists(d):
        return leaf_member(leaf, rng) if d == 0 or rng.random() < 0.2 else [nested_lists(d - 1) for _ in range(rng.randint(0, 3))]

    def linked(d):
        node = {"v": leaf_member(leaf, rng)}
        if d > 0:
            node["next"] = linked(d - 1)
        return node

    def tree(d):
        if d == 0 or rng.random() < 0.3:
            return {"kind": "leaf", "v": leaf_member(leaf, rng)}
        return {"kind": "node", "kids": [tree(d - 1) for _ in range(rng.randint(0, 3))]}

    def document(d):
        if d == 0:
            return rng.choice([None, True, 1, 2.5, "s"])
        if rng.random() < 0.5:
            return [document(d - 1) for _ in range(rng.randint(0, 3))]
        return make_dict([(f"k{i}", document(d - 1)) for i in range(rng.randint(0, 3))], rng)

    return [
        (recursive(lambda t: union(leaf_annotation, list[t])), nested_lists),
        (recursive(lambda t: {"v": leaf_annotation, "next?": t}), linked),
        (
            recursive(
                lambda t: union({"kind": Literal["leaf"], "v": leaf_annotation}, {"kind": Literal["node"], "kids": list[t]})
            ),
            tree,
        ),
        (recursive(lambda t: union(None, bool, int, float, str, list[t], dict[str, t])), document),
    ]


def family_recursive(seed, memo):
    cases = []
    for i, (v, make) in enumerate(recursive_cases(seed)):
        for d in (0, 1, 3, 6):
            value = make(d)
            cases.append((v, value))
            cases.append((v, near_miss(make(d), random.Random(seed * 1000 + i * 10 + d))))
    return cases


# Values nested near the walk's nesting cap: the last levels below it and
# the first past it, with leaves that every road decides in its own way.
def family_deep(seed, memo):
    rng = random.Random(seed)
    per = rng.choice([10, 20, 30])

    def wrapped(wrap):
        def body(t):
            for _ in range(per):
                t = wrap(t)
            return t

        return body

    leaf = rng.choice([[1, 2], [], ["a"], [{"a": 1}], 5])
    shapes = [
        (recursive(wrapped(lambda t: list[union(int, str, t, {"a": int})])), lambda x: [x]),
        (recursive(wrapped(lambda t: union(int, list[t], {"a": int}))), lambda x: [x]),
        (recursive(wrapped(lambda t: {"a": union(t, int, list[int])})), lambda x: {"a": x}),
        (recursive(wrapped(lambda t: union(dict[str, t], list[int], int))), lambda x: {"k": x}),
        (recursive(wrapped(lambda t: tuple[union(t, int, list[int]), ...])), lambda x: (x,)),
    ]
    v, wrap = shapes[seed % len(shapes)]
    cases = []
    # Two walk levels a value level, and a back edge every `per` of them.
    crossing = int(1500 / (2 + 1 / per))
    for levels in range(crossing - 3, crossing + 3):
        value = leaf if not isinstance(leaf, list) else list(leaf)
        for _ in range(levels - 1):
            value = wrap(value)
        cases.append((v, value))
    return cases


FAMILIES = {
    "mixed": family_mixed,
    "records": family_records,
    "tagged_lists": family_tagged_lists,
    "sequences": family_sequences,
    "recursive": family_recursive,
    "deep": family_deep,
}


def main(family, count):
    import kestrome

    memo = []
    results = []
    schemas = 0
    for seed in range(count):
        cases = FAMILIES[family](seed, memo)
        schemas += len({id(v) for v, _ in cases})
        for n, (v, value) in enumerate(cases):
            if v is None:
                results.append((f"{family} seed {seed}: not compiled", value))
                continue
            answered = answers(v, value, random.Random(seed * 100 + n))
            results.append((f"{family} seed {seed} case {n}: {v!r} with {short_repr(value)}", answered))
    json.dump({"module": kestrome.__file__, "schemas": schemas, "cases": results}, sys.stdout)


if __name__ == "__main__":
    sys.setrecursionlimit(10000)
    main(sys.argv[1], int(sys.argv[2]))
