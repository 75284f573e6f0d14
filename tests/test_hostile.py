"""Hostile values and schemas: deep nesting, re-entrant predicates and inputs
that would make a naive walk exponential. Each must end, with the same
answers and reports as a benign input of the same kind."""

import json
import os
import threading
from typing import Annotated

import pytest

from kestrome import ValidationError, Validator, anything, intersection, recursive, union

from support import failure

NESTING_LIMIT = 1000
NESTING_EXPECTED = f"at most {NESTING_LIMIT} levels of nesting"
LIMIT = ("recursion_limit", NESTING_EXPECTED)

# The walk's deepest legal nesting must fit well inside a thread of 2 MiB;
# the sanitizers' stack redzones make every frame several times larger.
STACK_SIZE = 2 * 1024 * 1024 * (4 if os.environ.get("KESTROME_SANITIZED") else 1)


def on_small_stack(f):
    """Runs f on a thread with a 2 MiB stack; returns its result or raises its exception."""
    out = {}

    def target():
        try:
            out["result"] = f()
        except BaseException as e:  # noqa: BLE001 - handed back to the caller
            out["error"] = e

    old = threading.stack_size(STACK_SIZE)
    try:
        t = threading.Thread(target=target)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    if "error" in out:
        raise out["error"]
    return out["result"]


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
# and the report past it. A union reports the refusal as it reports any
# failure at its own level when the limit falls on one of its members.
NESTED = [
    (recursive(wrapped(126, lambda t: {"a?": t})), lambda x: {"a": x}, {}, 1, LIMIT),
    (recursive(wrapped(126, lambda t: dict[str, t])), lambda x: {"a": x}, {}, 1, LIMIT),
    (recursive(wrapped(126, lambda t: {"z?": int, str: t})), lambda x: {"a": x}, {}, 1, LIMIT),
    (recursive(wrapped(60, lambda t: list[t])), lambda x: [x], [], 1, LIMIT),
    (recursive(wrapped(60, lambda t: tuple[t, ...])), lambda x: (x,), (), 1, LIMIT),
    (recursive(wrapped(60, lambda t: frozenset[t])), lambda x: frozenset([x]), frozenset(), 1, LIMIT),
    (recursive(wrapped(40, lambda t: union(int, list[t]))), lambda x: [x], 1, 2, ("union_error", "one of: int, list")),
    (recursive(wrapped(40, lambda t: Annotated[list[t], lambda x: x is not None])), lambda x: [x], [], 2, LIMIT),
    (recursive(lambda t: list[deep_intersections(t)]), lambda x: [x], [], 8, LIMIT),
]


@pytest.mark.parametrize("v, wrap, leaf, levels_per_value, report", NESTED)
def test_nesting_below_the_limit_is_walked_and_past_it_is_refused(v, wrap, leaf, levels_per_value, report):
    below = NESTING_LIMIT * 9 // 10 // levels_per_value
    assert outcomes(v, nest(below, wrap, leaf)) == (True, None, None)
    past = nest(NESTING_LIMIT + 10, wrap, leaf)
    assert outcomes(v, past) == (False, report, report)


def test_json_nested_past_the_limit_is_refused_in_every_json_mode():
    v = recursive(lambda t: union(int, list[deep_intersections(t)]))
    doc = json.dumps(nest(150, lambda x: [x], 1))  # within the reader's 200 levels, 9 walk levels each
    assert not on_small_stack(lambda: v.is_valid_json(doc))
    e = on_small_stack(lambda: failure(v, json.loads(doc)))
    assert (e.code, e.expected) == ("recursion_limit", NESTING_EXPECTED)
    with pytest.raises(ValidationError) as info:
        on_small_stack(lambda: v.validate_json(doc))
    assert info.value.code == "recursion_limit"
    shallow = json.dumps(nest(100, lambda x: [x], 1))
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
