import dataclasses
import re
from types import SimpleNamespace as Meta
from typing import Annotated, Any, NamedTuple

import pytest

from kestrome import Validator

from support import failure, raising, records

# int.__mod__(2.5) returns NotImplemented, whose truth is deprecated
pytestmark = pytest.mark.filterwarnings("ignore:NotImplemented should not be used:DeprecationWarning")


@dataclasses.dataclass
class Point:
    x: int
    y: int


class Coords(NamedTuple):
    lat: float
    lon: float


def without(obj, name):
    delattr(obj, name)
    return obj


class Surprising(Point):
    """A Point whose y is a property that raises what the class says."""

    exc = ValueError("unreadable")

    @property
    def y(self):
        raise type(self).exc


def surprising(exc):
    obj = object.__new__(type("S", (Surprising,), {"exc": exc}))
    obj.x = 1
    return obj


def test_object_members():
    v = Validator(Point)
    assert v.is_valid(Point(1, 2))
    assert v.is_valid(Point(True, -1))
    assert not v.is_valid(Point(1, "a"))
    assert not v.is_valid({"x": 1, "y": 2})
    c = Validator(Coords)
    assert c.is_valid(Coords(1.0, 2.0))
    assert not c.is_valid((1.0, 2.0))
    assert not c.is_valid(Coords(1, 2.0))


@pytest.mark.parametrize(
    "value, expected",
    [
        (Point(1, "a"), [("int_type", ("y",), "int", "'a'")]),
        (without(Point(1, 2), "y"), [("missing_attribute", ("y",), 'attribute "y"', "missing")]),
        (5, [("instance_type", (), "Point", "5")]),
        (surprising(ValueError("x")), [("missing_attribute", ("y",), 'attribute "y"', "missing")]),
        (surprising(AttributeError("x")), [("missing_attribute", ("y",), 'attribute "y"', "missing")]),
        (surprising(LookupError("x")), [("missing_attribute", ("y",), 'attribute "y"', "missing")]),
    ],
)
def test_object_reports(value, expected):
    assert records(failure(Validator(Point), value)) == expected


def test_object_message_has_attribute_path():
    assert failure(Validator(Point), Point(1, "a")).message == "at y: expected int, got 'a' [int_type]"
    e = failure(Validator(list[Point]), [Point(1, 2), Point(None, 2)])
    assert e.message == "at [1].x: expected int, got None [int_type]"


def test_object_collect_and_fail_fast():
    v = Validator(Point)
    value = Point("a", "b")
    assert [d["path"] for d in failure(v, value).errors] == [("x",), ("y",)]
    assert [d["path"] for d in failure(v, value, fail_fast=True).errors] == [("x",)]
    missing = without(without(Point(1, 2), "x"), "y")
    assert [d["code"] for d in failure(v, missing).errors] == ["missing_attribute"] * 2
    assert len(failure(v, missing, fail_fast=True).errors) == 1


@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, MemoryError, RecursionError, SystemExit])
def test_fatal_exception_from_attribute_read_propagates(exc_type):
    v = Validator(Point)
    for call in (v.validate, v.is_valid, v.ensure):
        with pytest.raises(exc_type):
            call(surprising(exc_type()))


def test_object_attributes_not_read_after_failure_in_fail_fast():
    reads = []

    class Spy(Point):
        def __getattribute__(self, name):
            reads.append(name)
            return object.__getattribute__(self, name)

    value = Spy("bad", 2)
    reads.clear()
    assert not Validator(Point).is_valid(value)
    assert [r for r in reads if r in ("x", "y")] == ["x"]


CONSTRAINTS = [
    # schema, passing values, (failing value, expected, code)
    (Annotated[int, Meta(ge=0)], [0, 5], [(-1, ">= 0", "greater_than_equal")]),
    (Annotated[int, Meta(gt=0)], [1], [(0, "> 0", "greater_than")]),
    (Annotated[int, Meta(le=10)], [10], [(11, "<= 10", "less_than_equal")]),
    (Annotated[int, Meta(lt=10)], [9], [(10, "< 10", "less_than")]),
    (Annotated[float, Meta(ge=0.5)], [0.5], [(0.25, ">= 0.5", "greater_than_equal")]),
    (Annotated[str, Meta(ge="b")], ["b", "c"], [("a", ">= 'b'", "greater_than_equal")]),
    (Annotated[int, Meta(gt="x")], [], [(5, "> 'x'", "greater_than")]),
    (Annotated[Any, Meta(min_length=2)], ["ab", [1, 2], {1: 2, 3: 4}], [("a", "length >= 2", "too_short"), (5, "length >= 2", "too_short")]),
    (Annotated[list[int], Meta(max_length=0)], [[]], [([1], "length <= 0", "too_long")]),
    (Annotated[str, Meta(min_length=1, max_length=3)], ["a", "abc"], [("", "length >= 1", "too_short"), ("abcd", "length <= 3", "too_long")]),
    (Annotated[int, Meta(multiple_of=3)], [6, 0, -3], [(7, "a multiple of 3", "multiple_of")]),
    (Annotated[float, Meta(multiple_of=0.5)], [1.5], [(1.2, "a multiple of 0.5", "multiple_of")]),
    (Annotated[int, Meta(multiple_of=2.5)], [], [(5, "a multiple of 2.5", "multiple_of")]),
    (Annotated[Any, Meta(multiple_of=3)], [], [(None, "a multiple of 3", "multiple_of")]),
    (Annotated[Any, lambda x: x], [1, [0]], [(0, "a passing predicate", "predicate_failed"), ([], "a passing predicate", "predicate_failed")]),
    (Annotated[Any, Meta(func=bool)], [1], [(0, "a passing predicate", "predicate_failed")]),
    (Annotated[str, Meta(pattern="a+")], ["a", "aaa"], [("baa", 'a string matching "a+"', "string_pattern_mismatch"), ("aa\n", 'a string matching "a+"', "string_pattern_mismatch")]),
    (Annotated[Any, Meta(pattern="a+")], [], [(5, 'a string matching "a+"', "string_pattern_mismatch"), (b"a", 'a string matching "a+"', "string_pattern_mismatch")]),
    (Annotated[str, Meta(pattern="a|b")], ["a", "b"], [("ab", 'a string matching "a|b"', "string_pattern_mismatch")]),
    (Annotated[str, Meta(pattern=r"\d+")], ["12"], [("x1", r'a string matching "\\d+"', "string_pattern_mismatch")]),
    (Annotated[str, re.compile("[a-c]{2}")], ["ab"], [("abc", 'a string matching "[a-c]{2}"', "string_pattern_mismatch")]),
    (Annotated[str, Meta(pattern="x"), Meta(pattern="x")], ["x"], [("y", 'a string matching "x"', "string_pattern_mismatch")]),
]


@pytest.mark.parametrize("schema, passing, failing", CONSTRAINTS)
def test_constraints(schema, passing, failing):
    v = Validator(schema)
    for x in passing:
        assert v.is_valid(x), x
        v.validate(x)
    for x, expected, code in failing:
        assert not v.is_valid(x), x
        e = failure(v, x, fail_fast=True)
        assert (e.code, e.expected, e.value, e.path) == (code, expected, repr(x), ())


class StrSub(str):
    pass


def test_regex_accepts_str_subclass_and_rejects_lone_surrogate():
    v = Validator(Annotated[str, Meta(pattern=".+")])
    assert v.is_valid(StrSub("abc"))
    assert not v.is_valid("\ud800")
    assert failure(v, "\ud800").code == "string_pattern_mismatch"


class HasMod:
    def __init__(self, result):
        self.result = result

    def __mod__(self, other):
        return self.result


class ReflectedZero:
    def __rmod__(self, other):
        return 0

    def __repr__(self):
        return "ReflectedZero()"


def test_multiple_of_calls_the_value_mod_by_name():
    v = Validator(Annotated[Any, Meta(multiple_of=7)])
    assert v.is_valid(HasMod(0))
    assert not v.is_valid(HasMod(1))
    # the divisor's reflected operation is never tried
    r = Validator(Annotated[int, Meta(multiple_of=ReflectedZero())])
    assert 5 % ReflectedZero() == 0
    assert not r.is_valid(5)
    assert failure(r, 5).expected == "a multiple of ReflectedZero()"


class Outer:
    class Problem(Exception):
        pass


class Unprintable(Exception):
    def __str__(self):
        raise RuntimeError


class BadTruth:
    def __bool__(self):
        raise ValueError("undecidable")


@pytest.mark.parametrize(
    "pred, text",
    [
        (raising(ValueError("bad")), "a predicate that does not raise (raised ValueError: bad)"),
        (raising(ValueError()), "a predicate that does not raise (raised ValueError: )"),
        (raising(Outer.Problem("deep")), "a predicate that does not raise (raised Outer.Problem: deep)"),
        (raising(Unprintable()), "a predicate that does not raise (raised Unprintable: <exception str() failed>)"),
        (lambda x: BadTruth(), "a predicate that does not raise (raised ValueError: undecidable)"),
        (raising(TypeError("x\ud800")), "a predicate that does not raise (raised TypeError: x\ufffd\ufffd\ufffd)"),
    ],
)
def test_raising_predicate_records_its_exception(pred, text):
    v = Validator(Annotated[int, pred])
    assert not v.is_valid(1)
    e = failure(v, 1)
    assert (e.code, e.expected, e.value) == ("predicate_error", text, "1")


@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, MemoryError, RecursionError])
def test_fatal_predicate_exception_propagates(exc_type):
    v = Validator(Annotated[int, raising(exc_type("stop"))])
    for call in (v.validate, v.is_valid, v.ensure, lambda x: x in v):
        with pytest.raises(exc_type):
            call(1)


@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, MemoryError])
def test_fatal_comparison_exception_propagates(exc_type):
    class Bound:
        def __lt__(self, other):
            raise exc_type()

        __gt__ = __le__ = __ge__ = __lt__

    v = Validator(Annotated[int, Meta(ge=Bound())])
    with pytest.raises(exc_type):
        v.validate(3)


def test_base_failure_skips_constraints():
    calls = []
    v = Validator(Annotated[int, lambda x: calls.append(x) or False, Meta(ge=0)])
    assert records(failure(v, "x")) == [("int_type", (), "int", "'x'")]
    assert not v.is_valid("x")
    assert calls == []


def test_collect_tests_every_constraint_fail_fast_the_first():
    calls = []
    v = Validator(Annotated[int, Meta(ge=0), lambda x: calls.append(x) or False, Meta(multiple_of=2)])
    e = failure(v, -3)
    assert [d["code"] for d in e.errors] == ["greater_than_equal", "predicate_failed", "multiple_of"]
    assert calls == [-3]
    calls.clear()
    assert [d["code"] for d in failure(v, -3, fail_fast=True).errors] == ["greater_than_equal"]
    assert not v.is_valid(-3)
    assert calls == []


def test_constraint_order_of_one_metadata_object():
    e = failure(Validator(Annotated[Any, Meta(pattern="z", ge="m", min_length=5)]), "abc")
    assert [d["code"] for d in e.errors] == ["string_pattern_mismatch", "greater_than_equal", "too_short"]


def test_two_fatal_exceptions_keep_the_first():
    calls = []

    def first(x):
        calls.append("first")
        raise MemoryError("first")

    def second(x):
        calls.append("second")
        raise MemoryError("second")

    v = Validator(Annotated[int, first, second])
    with pytest.raises(MemoryError, match="^first$"):
        v.validate(1)
    assert calls == ["first", "second"]

    calls.clear()
    with pytest.raises(MemoryError, match="^first$"):
        v.is_valid(1)
    assert calls == ["first"]

    calls.clear()
    with pytest.raises(MemoryError, match="^first$"):
        Validator(list[Annotated[int, first, second]]).validate([1, 2, 3])
    assert calls == ["first", "second"]


def test_fatal_exception_wins_over_recorded_failures():
    def stop(x):
        raise KeyboardInterrupt

    v = Validator({"a": int, "b": Annotated[int, stop]})
    with pytest.raises(KeyboardInterrupt):
        v.validate({"a": "wrong", "b": 1})
