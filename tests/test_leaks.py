"""Reference leaks show up as resident memory that grows with every call."""

import dataclasses
import gc
import os
from typing import Annotated, Literal

import pytest

from kestrome import ValidationError, Validator, recursive

PAGE = os.sysconf("SC_PAGE_SIZE")
MARGIN = 2 * 1024 * 1024


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


@dataclasses.dataclass
class Item:
    name: str
    tags: frozenset[str]


def positive(x):
    return x > 0


SCHEMA = {
    "id": Annotated[int, positive],
    "kind": Literal["a", "b", 7],
    "items": list[Item | None],
    "extra": dict[str, tuple[int, ...] | set[float]],
    "tree": recursive(lambda t: list[t] | int),
    "name?": Annotated[str, type("M", (), {"pattern": "[a-z]+", "max_length": 10})()],
}

GOOD = {
    "id": 10**30,
    "kind": "b",
    "items": [Item("x", frozenset({"p", "q"})), None],
    "extra": {"k": (1, 2), "s": {1.5}},
    "tree": [1, [2, [3]], []],
    "name": "abc",
}

BAD = {
    "id": -5,
    "kind": 8,
    "items": [Item(3, frozenset({1})), "no"],
    "extra": {"k": (1, "x"), 5: {"y"}},
    "tree": [1, [2, ["z"]]],
    "name": "ABCDEFGHIJKLMNOP",
    "unexpected" * 10: object(),
}

# fails only in its last entry, so the boolean walk goes through everything else
LATE_BAD = {**GOOD, "name": "ABC"}


def interrupting(x):
    raise KeyboardInterrupt


FATAL = Validator(list[Annotated[int, interrupting]])


def failing_validate(v):
    try:
        v.validate(BAD)
    except ValidationError:
        pass
    else:
        raise AssertionError("expected a failure")


def failing_fail_fast(v):
    try:
        v.validate(BAD, fail_fast=True)
    except ValidationError:
        pass


def fatal(v):
    try:
        FATAL.is_valid([1, 2])
    except KeyboardInterrupt:
        pass


def bad_argument(v):
    try:
        v.validate(GOOD, fail_fast=1)
    except TypeError:
        pass


@pytest.mark.parametrize(
    "step, count",
    [
        (failing_validate, 50_000),
        (failing_fail_fast, 100_000),
        (lambda v: v.is_valid(GOOD) or 1 / 0, 200_000),
        (lambda v: v.is_valid(LATE_BAD) and 1 / 0, 200_000),
        (lambda v: v.ensure(GOOD), 100_000),
        (fatal, 100_000),
        (bad_argument, 100_000),
    ],
    ids=["validate-failing", "validate-fail-fast", "is_valid-passing", "is_valid-failing", "ensure", "fatal", "bad-argument"],
)
def test_repeated_checks_do_not_grow_memory(step, count):
    v = Validator(SCHEMA)
    for _ in range(count // 10):
        step(v)
    gc.collect()
    before = resident_bytes()
    for _ in range(count):
        step(v)
    gc.collect()
    grown = resident_bytes() - before
    assert grown < MARGIN, f"resident memory grew by {grown} bytes over {count} checks"
