"""Hostile values and schemas: deep nesting, re-entrant predicates and inputs
that would make a naive walk exponential. Each must end, with the same
answers and reports as a benign input of the same kind."""

import json
from types import SimpleNamespace as Meta
from typing import Annotated, Literal

import pytest

from kestrome import ValidationError, Validator, anything, intersection, recursive, union

from support import failure, on_small_stack

NESTING_LIMIT = 1500
NESTING_EXPECTED = f"at most {NESTING_LIMIT} levels of nesting"
LIMIT = ("recursion_limit", NESTING_EXPECTED)

def wrapped(levels, wrap):
    """A body for recursive(): t wrapped `levels` times."""

    def body(t):
        for _ in range(levels):
            t = wrap(t)
        return t

    return body


def nest(levels, wrap, leaf):
    value = leaf
    for _ in range(levels):
        value = wrap(value)
    return value


def outcomes(v, value):
    """is_valid, then validate's and fail-fast validate's (code, expected), or None when valid."""

    def report(**kw):
        try:
            v.validate(value, **kw)
        except ValidationError as e:
            return (e.code, e.expected)
        return None

    return on_small_stack(lambda: (v.is_valid(value), report(), report(fail_fast=True)))


# ------------------------------------------------------------------ nesting

DICT_BODY = recursive(wrapped(126, lambda t: {"a": t}))


def test_dict_nested_128_times_127_levels_reaches_the_nesting_limit():
    value = nest(128 * 127, lambda x: {"a": x}, {})
    assert outcomes(DICT_BODY, value) == (False, LIMIT, LIMIT)


def deep_intersections(t):
    """Six walk levels that change no answer and no report."""
    for _ in range(3):
        t = intersection(intersection(t, anything), anything)
    return t


# Values nested a little below and past the limit, for walks of every kind,
# and the report past it. A union whose members the limit refuses reports
# the refusal, not a failure of its own.
NESTED = [
    (recursive(wrapped(126, lambda t: {"a?": t})), lambda x: {"a": x}, {}, 1, LIMIT),
    (recursive(wrapped(126, lambda t: dict[str, t])), lambda x: {"a": x}, {}, 1, LIMIT),
    (recursive(wrapped(126, lambda t: {"z?": int, str: t})), lambda x: {"a": x}, {}, 1, LIMIT),
    (recursive(wrapped(60, lambda t: list[t])), lambda x: [x], [], 1, LIMIT),
    (recursive(wrapped(60, lambda t: tuple[t, ...])), lambda x: (x,), (), 1, LIMIT),
    (recursive(wrapped(60, lambda t: frozenset[t])), lambda x: frozenset([x]), frozenset(), 1, LIMIT),
    (recursive(wrapped(40, lambda t: union(int, list[t]))), lambda x: [x], 1, 2, LIMIT),
    (recursive(wrapped(40, lambda t: Annotated[list[t], lambda x: x is not None])), lambda x: [x], [], 2, LIMIT),
    (recursive(lambda t: list[deep_intersections(deep_intersections(t))]), lambda x: [x], [], 14, LIMIT),
]


@pytest.mark.parametrize("v, wrap, leaf, levels_per_value, report", NESTED)
def test_nesting_below_the_limit_is_walked_and_past_it_is_refused(v, wrap, leaf, levels_per_value, report):
    below = NESTING_LIMIT * 9 // 10 // levels_per_value
    assert outcomes(v, nest(below, wrap, leaf)) == (True, None, None)
    past = nest(NESTING_LIMIT + 10, wrap, leaf)
    assert outcomes(v, past) == (False, report, report)


def intersections(n):
    """n walk levels around t that change no answer and no report."""

    def around(t):
        for _ in range(n):
            t = intersection(t, anything)
        return t

    return around


# Values whose recursion is shallow but whose levels are many walk levels deep.
@pytest.mark.parametrize(
    "v, value",
    [
        (recursive(wrapped(20, lambda t: list[t])), nest(50 * 20, lambda x: [x], [])),
        (recursive(lambda t: union(int, intersections(8)(list[t]))), nest(100, lambda x: [x], 1)),
    ],
)
def test_the_limit_admits_what_the_recursion_guard_admits(v, value):
    assert outcomes(v, value) == (True, None, None)


# Where the limit refuses a union's members, at the union's own level, the
# report is the refusal there, never a member's failure.
@pytest.mark.parametrize(
    "body",
    [
        lambda t: union(int, intersections(16)(list[t])),
        lambda t: intersections(16)(union(int, list[t])),
        lambda t: union(intersections(16)(int), intersections(16)(list[t])),
    ],
)
def test_a_union_whose_members_the_limit_refuses_reports_the_refusal(body):
    v = recursive(body)
    below = NESTING_LIMIT * 9 // 10 // 19  # 19 walk levels a list
    assert outcomes(v, nest(below, lambda x: [x], 1)) == (True, None, None)
    past = nest(NESTING_LIMIT // 19 + 10, lambda x: [x], 1)
    assert outcomes(v, past) == (False, LIMIT, LIMIT)
    e = on_small_stack(lambda: failure(v, past))
    assert len(e.errors) == 1
    assert NESTING_LIMIT // 19 - 2 <= len(e.path) <= NESTING_LIMIT // 19


# A list field decided by a scan of its items is still one walk level: the
# limit falls where it falls when the list is walked.
def test_list_fields_decided_in_place_meet_the_limit_where_walked_lists_do():
    fast = recursive(wrapped(120, lambda t: {"tags": list[int], "next?": t}))
    walked = recursive(wrapped(120, lambda t: {"tags": list[intersection(int, anything)], "next?": t}))
    seen = set()
    for levels in range(NESTING_LIMIT - 20, NESTING_LIMIT):
        value = nest(levels, lambda x: {"tags": [], "next": x}, {"tags": []})
        outcome = outcomes(fast, value)
        assert outcome == outcomes(walked, value), levels
        seen.add(outcome[0])
    assert seen == {True, False}


TAGGED = union({"k": Literal["a"], "c": int}, {"k": Literal["b"]})


# So are the parts that a prepared road decides at once (a record's fields,
# the items of a list or a set, a literal union's members, the member a tag
# selects): past the limit they are refused as the walk refuses any part.
@pytest.mark.parametrize(
    "leaf_schema, leaf, height",
    [
        (int, 1, 1),
        (list[int], [1, 2], 2),
        (tuple[int, ...], (1,), 2),
        (frozenset[int], frozenset([1]), 2),
        (Literal[1, 2], 2, 2),
        (Annotated[int, Meta(ge=0)], 1, 2),
        ({"c": int}, {"c": 1}, 2),
        (dict[str, int], {"c": 1}, 2),
        (list[{"c": int}], [{"c": 1}], 3),
        (TAGGED, {"k": "a", "c": 1}, 4),  # Literal["a"] is a union of one literal
        (list[TAGGED], [{"k": "a", "c": 1}], 5),
    ],
)
def test_parts_decided_at_once_meet_the_limit_where_walked_parts_do(leaf_schema, leaf, height):
    v = recursive(wrapped(60, lambda t: {"a?": t, "b?": leaf_schema}))

    def value(levels, inner):
        return nest(levels, lambda x: {"a": x}, inner)

    # The deepest nesting whose innermost record is within the limit.
    low, high = NESTING_LIMIT - 60, NESTING_LIMIT
    while high - low > 1:
        middle = (low + high) // 2
        low, high = (middle, high) if on_small_stack(lambda: v.is_valid(value(middle, {}))) else (low, middle)
    last = low
    assert outcomes(v, value(last - height, {"b": leaf})) == (True, None, None)
    assert outcomes(v, value(last - height + 1, {"b": leaf})) == (False, LIMIT, LIMIT)


SLOW_INT = intersection(int, anything)  # the same ints, without a prepared test
TWELVE = intersections(12)

# Twins that meet the limit at the same levels, one decided by prepared
# passes, the other by the walk (through a field the value never has, or
# items, that no prepared test covers): a tagged union's items, a list of
# records, a record, a list of ints. Each value is nested close to the
# limit; each walk level more around the root takes its deepest level from
# below the limit, through exactly the limit, to past it.
AT_THE_LIMIT = [
    pytest.param(
        lambda x: recursive(lambda t: list[union({"k": Literal["a"], "n": TWELVE(t)}, {"k": Literal["b"], **x})]),
        nest(93, lambda v: [{"k": "a", "n": v}], [{"k": "b"}]),
        id="tagged-union-items",
    ),
    pytest.param(
        lambda x: recursive(lambda t: {"n?": TWELVE(t), "items": list[{"v": int, **x}]}),
        nest(106, lambda v: {"items": [{"v": 1}], "n": v}, {"items": [{"v": 2}]}),
        id="list-of-records",
    ),
    pytest.param(
        lambda x: recursive(lambda t: {"n?": TWELVE(t), "inner": {"v": int, **x}}),
        nest(106, lambda v: {"inner": {"v": 1}, "n": v}, {"inner": {"v": 2}}),
        id="record",
    ),
    pytest.param(
        lambda x: recursive(lambda t: {"n?": TWELVE(t), "tags": list[SLOW_INT if x else int]}),
        nest(106, lambda v: {"tags": [], "n": v}, {"tags": []}),
        id="list-of-ints",
    ),
]
ACCEPTED = [True, None, None, True, None, None]
REFUSED = [False, {"recursion_limit"}, {"recursion_limit"}, False, {"recursion_limit"}, {"recursion_limit"}]


def summary_of_every_mode(v, value):
    return summary(on_small_stack(lambda: run_every_mode(v, value, "json")))


@pytest.mark.parametrize("schema, value", AT_THE_LIMIT)
def test_prepared_passes_meet_the_limit_where_the_walk_does(schema, value):
    prepared, walked = schema({}), schema({"x?": SLOW_INT})
    seen = []
    for pad in range(20):
        outcome = summary_of_every_mode(Validator(intersections(pad)(prepared)), value)
        assert outcome == summary_of_every_mode(Validator(intersections(pad)(walked)), value), pad
        seen.append(outcome)
    # every mode agrees at every depth, and the limit falls between two of them
    assert seen == [ACCEPTED] * seen.count(ACCEPTED) + [REFUSED] * seen.count(REFUSED)
    assert ACCEPTED in seen and REFUSED in seen


def test_json_nested_past_the_limit_is_refused_in_every_json_mode():
    v = recursive(lambda t: union(int, list[deep_intersections(deep_intersections(t))]))
    doc = json.dumps(nest(110, lambda x: [x], 1))  # within the reader's 200 levels, 15 walk levels each
    assert not on_small_stack(lambda: v.is_valid_json(doc))
    e = on_small_stack(lambda: failure(v, json.loads(doc)))
    assert (e.code, e.expected) == ("recursion_limit", NESTING_EXPECTED)
    with pytest.raises(ValidationError) as info:
        on_small_stack(lambda: v.validate_json(doc))
    assert info.value.code == "recursion_limit"
    shallow = json.dumps(nest(90, lambda x: [x], 1))
    assert on_small_stack(lambda: (v.is_valid_json(shallow), v.load(shallow))) == (True, json.loads(shallow))


def test_the_limit_reports_where_the_walk_stopped():
    v = recursive(wrapped(126, lambda t: {"a?": t}))
    e = on_small_stack(lambda: failure(v, nest(2 * NESTING_LIMIT, lambda x: {"a": x}, {})))
    assert len(e.errors) == 1
    assert set(e.path) == {"a"} and NESTING_LIMIT - 20 < len(e.path) < NESTING_LIMIT


# ------------------------------------------------------------------ re-entry


@pytest.mark.parametrize(
    "check, argument",
    [("is_valid", lambda x: x), ("is_valid_json", json.dumps), ("validate", lambda x: x)],
)
def test_a_predicate_that_checks_again_ends_in_recursion_error(check, argument):
    def reenter(x):
        getattr(v, check)(argument(x))
        return True

    v = Validator(Annotated[int, reenter])
    with pytest.raises(RecursionError):
        on_small_stack(lambda: v.is_valid(1))
    with pytest.raises(RecursionError):
        on_small_stack(lambda: v.validate(1))


# ------------------------------------------------------------------ repeated walks


class Counted:
    """A predicate that counts its calls."""

    def __init__(self, answer):
        self.answer = answer
        self.calls = 0

    def __call__(self, x):
        self.calls += 1
        return self.answer(x)


def run_every_mode(v, value, modes):
    """Each mode's outcome: is_valid, then (modes "python" and "json")
    validate's and fail-fast validate's records, then (mode "json") those of
    the JSON methods on the value written as JSON."""

    def report(f):
        try:
            f()
        except ValidationError as e:
            return [(d["code"], d["path"], d["expected"], d["value"]) for d in e.errors]
        return None

    if modes == "boolean":
        return [v.is_valid(value)]
    out = [v.is_valid(value), report(lambda: v.validate(value)), report(lambda: v.validate(value, fail_fast=True))]
    if modes == "python":
        return out
    doc = json.dumps(value)
    return out + [v.is_valid_json(doc), report(lambda: v.load(doc)), report(lambda: v.validate_json(doc))]


def records_union(leaf):
    return recursive(lambda t: union({"a": t, "b?": int}, {"a": t, "c?": str}, leaf))


def expression(leaf):
    return recursive(
        lambda e: union(
            {"op": Literal["add"], "args": list[e]},
            {"op": Literal["mul"], "args": list[e]},
            leaf,
        )
    )


def expr(depth, leaf):
    """A tree that writes "args" before "op", as a document may."""
    return nest(depth, lambda x: {"args": [x, 2], "op": "mul"}, leaf)


def twice_list(leaf):
    return recursive(lambda t: union(intersection(list[t], list[t]), leaf))


def list_or(leaf):
    return recursive(lambda t: union(list[t], leaf))


def shared(depth, leaf):
    """depth levels of lists whose two elements are one list: 2**depth paths, depth + 1 objects."""
    return nest(depth, lambda x: [x, x], leaf)


def dicts(leaf):
    return lambda n: nest(n, lambda x: {"a": x}, leaf)


def lists(leaf):
    return lambda n: nest(n, lambda x: [x], leaf)


HOSTILE = [
    # members that descend into the same value, at every level
    pytest.param(lambda p: records_union(Annotated[str, p]), dicts("leaf"), "json", id="records-union-non-member"),
    pytest.param(lambda p: records_union(Annotated[str, p]), dicts("ok"), "json", id="records-union-member"),
    pytest.param(lambda p: expression(Annotated[int, p]), lambda n: expr(n, 1), "json", id="expression-member"),
    pytest.param(lambda p: expression(Annotated[int, p]), lambda n: expr(n, "x"), "json", id="expression-non-member"),
    pytest.param(lambda p: twice_list(Annotated[int, p]), lists(1), "json", id="intersection-member"),
    pytest.param(lambda p: twice_list(Annotated[int, p]), lists(0), "json", id="intersection-non-member"),
    # one object reached along many paths (a report lists every path that
    # fails, so only the answer can be had in time polynomial in the objects)
    pytest.param(lambda p: list_or(Annotated[int, p]), lambda n: shared(n, 1), "python", id="shared-member"),
    pytest.param(lambda p: list_or(Annotated[int, p]), lambda n: shared(n, 0), "boolean", id="shared-non-member"),
]


def summary(outcomes):
    """Answers as they are, reports as the set of their codes."""
    return [{r[0] for r in o} if isinstance(o, list) else o for o in outcomes]


@pytest.mark.parametrize("schema, value, modes", HOSTILE)
def test_repeated_walks_are_decided_once(schema, value, modes):
    """The predicate at the leaves runs a bounded number of times per check,
    not once per path (2**depth), and the outcomes do not depend on depth."""
    counted = Counted(lambda x: x != "leaf" and x != 0 and x != "x")
    v = schema(counted)
    small = run_every_mode(v, value(4), modes)
    counted.calls = 0
    deep = run_every_mode(v, value(40), modes)
    assert counted.calls <= 40 * 6 * 4
    assert summary(deep) == summary(small)


@pytest.mark.parametrize("leaf", [10**30, "a shared text"])
def test_shared_leaves_are_decided_as_distinct_ones_are(leaf):
    """A leaf that many entries share, as a document's small ints and interned
    keys are, is decided by its own test each time, exactly like equal leaves
    that are distinct objects: sharing never turns the memo of decisions on."""
    counted = Counted(lambda x: True)
    v = recursive(lambda j: union(None, Annotated[int, counted], Annotated[str, counted], list[j], dict[str, j]))
    shared = [{"a": leaf, "b": leaf, "c": [leaf, leaf]} for _ in range(30)]
    copies = json.loads(json.dumps(shared))
    assert copies[0]["a"] is not copies[0]["b"]
    for value in (shared, copies):
        counted.calls = 0
        assert v.is_valid(value) is True
        assert counted.calls == 30 * 4


@pytest.mark.parametrize("levels", [125, 126, 127, 128, 129])
def test_repeated_walks_keep_the_recursion_limit(levels):
    """Near the 128 open levels, a union that repeats its walks answers and
    reports as one that does not."""
    hostile = records_union(int)
    plain = recursive(lambda t: union({"a": t}, int))
    value = nest(levels, lambda x: {"a": x}, 1)
    assert hostile.is_valid(value) == plain.is_valid(value)
    assert summary(run_every_mode(hostile, value, "json")) == summary(run_every_mode(plain, value, "json"))


# A first field whose union decides one value twice turns the memo of
# decisions on for the check.
WARM = recursive(lambda w: union({"a": w, "x": int}, {"a": w}, int))


def near_the_limit(members, pad):
    """97 records of 15 walk levels each, then records of `members`, with
    `pad` walk levels around them all."""
    t = recursive(lambda t: union({"c": TWELVE(t)}, *members(t), int))
    return Validator({"warm": WARM, "deep": intersections(pad)(t)})


NEAR_THE_LIMIT = {"warm": {"a": {"a": {"a": 1}}}, "deep": nest(97, lambda x: {"c": x}, nest(3, lambda x: {"a": x}, 1))}


# Members that decide one value at two depths, against members that decide
# it only at the depth the outcome rests on. Deeper first: its decision,
# refused by the limit, is not the other member's. Deeper second: the first
# member's decision is given again only where its walk would fit, and a walk
# that was given decisions again is as high as if it had walked them.
@pytest.mark.parametrize(
    "members, alike",
    [
        pytest.param(lambda t: [{"a": deep_intersections(t)}, {"a": t}], lambda t: [{"a": t}], id="deeper-first"),
        pytest.param(
            lambda t: [intersection({"a": t}, {"a": deep_intersections(t)})],
            lambda t: [intersection({"a": deep_intersections(t)}, anything)],
            id="deeper-second",
        ),
    ],
)
def test_repeated_walks_keep_the_nesting_limit(members, alike):
    seen = set()
    for pad in range(40):
        outcome = summary_of_every_mode(near_the_limit(members, pad), NEAR_THE_LIMIT)
        assert outcome == summary_of_every_mode(near_the_limit(alike, pad), NEAR_THE_LIMIT), pad
        seen.add(outcome[0])
    assert seen == {True, False}


def test_intersection_reports_a_failure_its_members_share_once():
    v = Validator(intersection(list[int], list[int], list[Annotated[int, lambda x: x > 0]]))
    assert [(d["code"], d["path"]) for d in failure(v, ["a", -1]).errors] == [
        ("int_type", (0,)),
        ("predicate_failed", (1,)),
    ]
