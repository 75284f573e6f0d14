"""Container items that the walk decides without Python code must get the
same answers, and the same records, as the general walk."""
from typing import Annotated, Literal

import pytest

from kestrome import ValidationError, Validator


class Bound:
    def __init__(self, **kw):
        self.__dict__.update(kw)


class LoggingInt(int):
    calls = []

    def __ge__(self, other):
        LoggingInt.calls.append(("ge", int(self), other))
        return int(self) >= other


class Text(str):
    pass


RANGE = Validator(list[Annotated[int, Bound(ge=0), Bound(lt=10)]])


@pytest.mark.parametrize(
    "items, member",
    [
        ([0, 9, 5], True),
        ([10], False),
        ([-1], False),
        ([True, False], True),  # bool is an int; compared as one
        ([2**70], False),  # past 64 bits: compared by Python
        ([-(2**70)], False),
        ([1.5], False),
        (["3"], False),
    ],
)
def test_integer_bounds_on_list_items(items, member):
    assert RANGE.is_valid(items) is member
    assert (items in RANGE) is member


def test_integer_bounds_call_an_int_subclass_comparison():
    LoggingInt.calls.clear()
    assert RANGE.is_valid([LoggingInt(3)])
    assert LoggingInt.calls == [("ge", 3, 0)]


def test_bounds_past_64_bits_are_compared_by_python():
    huge = Validator(list[Annotated[int, Bound(gt=2**64)]])
    assert huge.is_valid([2**65]) and not huge.is_valid([5])
    top = Validator(list[Annotated[int, Bound(gt=2**63 - 1)]])
    assert top.is_valid([2**63]) and not top.is_valid([2**63 - 1])


def test_records_of_items_decided_in_place_keep_their_paths():
    with pytest.raises(ValidationError) as info:
        RANGE.validate([1, 11, "x", 3, -4])
    assert [(e["path"], e["code"]) for e in info.value.errors] == [
        ((1,), "less_than"),
        ((2,), "int_type"),
        ((4,), "greater_than_equal"),
    ]


WORDS = Validator(list[Literal["a", "bb", "ccc", 1, 2]])


@pytest.mark.parametrize(
    "items, member",
    [
        (["a", "bb", 2], True),
        (["".join(["c", "cc"])], True),  # equal text, another object
        (["d"], False),
        ([Text("a")], False),  # same text, another type
        ([True], False),
        ([1.0], False),
        ([3], False),
        (["\ud800"], False),
    ],
)
def test_literal_union_items(items, member):
    assert WORDS.is_valid(items) is member


def test_literal_union_reports_like_the_general_walk():
    with pytest.raises(ValidationError) as info:
        WORDS.validate(["a", "zz"])
    assert info.value.path == (1,)
    assert info.value.code == "union_error"
    assert info.value.expected == "one of: literal, literal, literal, literal, literal"


def test_set_elements_and_record_fields_decided_in_place():
    s = Validator(set[Literal["x", "y"]])
    assert s.is_valid({"x", "y"}) and not s.is_valid({"x", "z"})
    r = Validator({"a": int, "b?": Literal["p", "q"]})
    assert r.is_valid({"a": True, "b": "p"})
    with pytest.raises(ValidationError) as info:
        r.validate({"a": 1.0, "b": "r"})
    assert [e["path"] for e in info.value.errors] == [("a",), ("b",)]
