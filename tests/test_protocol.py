"""The object protocol of Validator: hashing, equality, orderings and copies."""

import copy
import dataclasses
import operator
import os
import subprocess
import sys
from types import SimpleNamespace as Meta
from typing import Annotated, Literal

import pytest

from kestrome import Validator, recursive, union

from support import EqTruthless, RaisingEq, bytes_hash, u64


def run(code, *args, seed="0"):
    out = subprocess.run(
        [sys.executable, "-c", code, *args],
        env={**os.environ, "PYTHONHASHSEED": seed},
        capture_output=True, text=True, check=True, cwd="/",
    )
    return out.stdout.strip()


LIST_INT = u64(10) + u64(0) + u64(4) + u64(1) + u64(5)


@pytest.mark.parametrize(
    "schema, feed",
    [
        (int, u64(5) + u64(0)),
        (list[int], LIST_INT + u64(0)),
        ({"a": int, "b?": str},
         u64(13) + u64(2) + b"a\xff" + u64(5) + b"\x01" + b"b\xff" + u64(7) + b"\x00" + u64(0) + u64(0)),
        (tuple[int, str, ...],
         u64(10) + u64(1) + u64(2) + u64(2) + u64(1) + u64(5) + u64(4) + u64(1) + u64(7) + u64(0)),
        (Annotated[str, Meta(pattern="a|b", min_length=2)],
         u64(19) + u64(7) + u64(2) + u64(8) + b"a|b\xff" + u64(4) + u64(2) + u64(0)),
        (Literal[1, "x"], u64(14) + u64(2) + u64(9) + u64(0) + u64(9) + u64(1) + u64(0)),
    ],
)
def test_hash_is_siphash13_of_the_tree_feed(schema, feed):
    assert hash(Validator(schema)) == bytes_hash(feed)


def test_hash_feeds_the_definitions_after_the_root():
    v = recursive(lambda t: [t])
    back_edge = u64(20) + u64(0)
    definition = u64(10) + u64(0) + u64(4) + u64(1) + back_edge
    assert hash(v) == bytes_hash(back_edge + u64(1) + definition)


def test_hash_is_the_same_in_every_process():
    code = "import kestrome; print(hash(kestrome.Validator({'a': [int], 'b?': str})))"
    theirs = {run(code, seed=seed) for seed in ("1", "12345", "random")}
    assert theirs == {str(hash(Validator({"a": [int], "b?": str})))}


def test_hash_ignores_the_pooled_objects():
    @dataclasses.dataclass
    class A:
        x: int

    @dataclasses.dataclass
    class B:
        x: int

    pairs = [(Literal[1], Literal["one"]), (A, B), (3, "three")]
    for left, right in pairs:
        assert hash(Validator(left)) == hash(Validator(right))
        assert Validator(left) != Validator(right)


# --- equality

class Eq:
    """Equal to every other Eq; records the comparisons made."""

    calls = []

    def __init__(self, tag):
        self.tag = tag

    def __eq__(self, other):
        Eq.calls.append((self.tag, getattr(other, "tag", other)))
        return isinstance(other, Eq)

    __hash__ = object.__hash__


@pytest.fixture
def eq_calls():
    Eq.calls = []
    return Eq.calls


@pytest.mark.parametrize(
    "left, right, equal",
    [
        (int, int, True),
        (int, str, False),
        (list[int], [int], True),
        (list[int], tuple[int, ...], False),
        ({"a": int}, {"a?": int}, False),
        ({"a": int}, {"b": int}, False),
        (union(1, 2), union(1, 2), True),
        (union(1, 2), union(2, 1), False),
        (int("1000"), int("1000"), True),
        (1, 1.0, True),
        (1, 2, False),
        (Literal[1], 1, False),
    ],
)
def test_structural_equality(left, right, equal):
    a, b = Validator(left), Validator(right)
    assert (a == b) is equal
    assert (a != b) is (not equal)
    if equal:
        assert hash(a) == hash(b)


@pytest.mark.parametrize("other", [5, None, "int", int, object()])
def test_non_validators_are_never_equal(other):
    v = Validator(int)
    assert (v == other) is False
    assert (other == v) is False
    assert (v != other) is True


def test_nan_constants_are_equal_only_by_identity():
    nan = float("nan")
    v = Validator(nan)
    assert v == v
    assert v == Validator(nan)
    assert v == copy.copy(v) and v == copy.deepcopy(v)
    assert Validator(float("nan")) != Validator(float("nan"))


def test_constants_are_compared_only_after_the_trees_match(eq_calls):
    a, b = Eq("a"), Eq("b")
    assert Validator([a]) != Validator({"x": b})
    assert Validator(union(a, int)) != Validator(union(b, str))
    assert eq_calls == []
    assert Validator(a) == Validator(a)
    assert eq_calls == []
    assert Validator(a) == Validator(b)
    assert eq_calls == [("a", "b")]


@pytest.mark.parametrize(
    "constant",
    [
        lambda: RaisingEq(ValueError("no")),
        lambda: RaisingEq(KeyboardInterrupt()),
        lambda: RaisingEq(SystemExit(2)),
        lambda: RaisingEq(RecursionError()),
        pytest.param(lambda: EqTruthless(KeyboardInterrupt()), id="EqTruthless"),
    ],
)
def test_raising_comparison_of_constants_is_unequal(constant):
    a, b = Validator(constant()), Validator(constant())
    assert (a == b) is False
    assert (a != b) is True
    assert repr(Validator(int)) == "int"


def test_inequality_negates_equality_with_the_validator_first():
    class Loud:
        def __eq__(self, other):
            raise ArithmeticError("loud")

        __ne__ = __eq__

    class Shy:
        def __eq__(self, other):
            return NotImplemented

        __ne__ = __eq__

    v = Validator(int)
    assert (v != Loud()) is True
    assert (v == Loud()) is False
    assert (Shy() != v) is True
    assert (Shy() == v) is False


@pytest.mark.parametrize("op", [operator.lt, operator.le, operator.gt, operator.ge])
@pytest.mark.parametrize("other", [Validator(int), 3])
def test_orderings_are_not_supported(op, other):
    with pytest.raises(TypeError):
        op(Validator(int), other)


# --- copies

class Identity:
    """Equal only to itself; repr tells the object apart."""

    def __eq__(self, other):
        return self is other

    __hash__ = object.__hash__

    def __repr__(self):
        return f"Identity#{id(self)}"

    def __deepcopy__(self, memo):
        raise AssertionError("a pooled object was deep-copied")

    def __copy__(self):
        raise AssertionError("a pooled object was copied")


@pytest.mark.parametrize(
    "make_copy",
    [
        copy.copy,
        copy.deepcopy,
        lambda v: v.__copy__(),
        lambda v: v.__deepcopy__({}),
        lambda v: v.__deepcopy__(None),
        lambda v: v.__deepcopy__(_memo={}),
    ],
)
def test_copies_share_the_pooled_objects(make_copy):
    @dataclasses.dataclass
    class Node:
        x: int

    token = Identity()
    v = Validator({"token": token, "node?": Node, "tree": recursive(lambda t: [t]), "n": float("nan")})
    c = make_copy(v)
    assert c is not v
    assert type(c) is Validator
    assert c == v and v == c
    assert hash(c) == hash(v)
    assert repr(c) == repr(v) == (
        f"{{'token': Literal[{token!r}], 'node?': Node, 'tree': list[...], 'n': Literal[nan]}}"
    )


def test_copy_does_not_change_the_original():
    v = Validator(Annotated[int, Meta(ge=1)])
    before = repr(v), hash(v)
    copy.deepcopy(v)
    copy.copy(v)
    assert (repr(v), hash(v)) == before


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda v: v.__deepcopy__(),
         "Validator.__deepcopy__() missing 1 required positional argument: '_memo'"),
        (lambda v: v.__deepcopy__({}, {}),
         "Validator.__deepcopy__() takes 1 positional arguments but 2 were given"),
        (lambda v: v.__deepcopy__({}, _memo={}),
         "Validator.__deepcopy__() got multiple values for argument '_memo'"),
        (lambda v: v.__deepcopy__(memo={}),
         "Validator.__deepcopy__() got an unexpected keyword argument 'memo'"),
    ],
)
def test_deepcopy_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(Validator(int))
    assert str(info.value) == message


def test_copy_takes_no_arguments():
    with pytest.raises(TypeError):
        Validator(int).__copy__({})
