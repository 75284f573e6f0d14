from types import SimpleNamespace as Meta
from typing import Annotated, Literal

import pytest

from kestrome import ValidationError, Validator, complement, intersection, recursive, union

from support import check_membership, failure, raising


def records(e):
    """The errors as (code, path, expected) tuples, leaving out the value."""
    return [(d["code"], d["path"], d["expected"]) for d in e.errors]


class IntSub(int):
    pass


class StrSub(str):
    pass


BIG = 10**100


@pytest.mark.parametrize(
    "schema, members, others",
    [
        (
            Literal[1, 2, "a"],
            [1, 2, "a"],
            [True, False, 3, IntSub(2), StrSub("a"), 2.0, "b", "", "a\x00", "aa", BIG, -1, "\ud800", None],
        ),
        (Literal[True, 1.5], [True, 1.5], [1, 1.0, False]),
        (Literal[-1, 5], [-1, 5], [0, -2, True]),
        (Literal[BIG, 2**63, 2**63 - 1, -(2**63)], [BIG, 2**63, 2**63 - 1, -(2**63)], [BIG + 1, -(2**63) - 1, 0]),
        (Literal["\ud800", "b"], ["\ud800", "b"], ["\udc00", "a"]),
        (union(1, "a", 2.5), [1, "a", 2.5], [True, 2, "b"]),
    ],
)
def test_literal_union_answers_agree_in_every_mode(schema, members, others):
    v = Validator(schema)
    for x in members:
        assert v.is_valid(x), x
        assert x in v
        v.validate(x)
    for x in others:
        assert not v.is_valid(x), x
        assert x not in v
        with pytest.raises(ValidationError):
            v.validate(x)


def test_literal_union_report_names_each_member_kind():
    e = failure(Validator(Literal[1, 2, "a"]), 3)
    assert records(e) == [("union_error", (), "one of: literal, literal, literal")]
    assert e.value == "3"


def test_literal_union_large_int_member_through_general_path():
    v = Validator(Literal[1, BIG])
    assert v.is_valid(BIG)
    assert v.is_valid(int(str(BIG)))  # equal, not identical
    assert not v.is_valid(IntSub(BIG))


def test_mixed_union_of_literal_and_int():
    v = Validator(int | Literal["a", "b"])
    assert v.is_valid(True)
    assert v.is_valid("b")
    assert not v.is_valid("c")


@pytest.mark.parametrize(
    "schema, value, expected",
    [
        (int | str, 1.5, [("union_error", (), "one of: int, str")]),
        (int | None, "x", [("union_error", (), "one of: int, None")]),
        (list[int] | dict[str, int], [1, "a"], [("int_type", (1,), "int")]),
        (dict[str, int] | list[int], [1, "a"], [("int_type", (1,), "int")]),
        (list[int] | list[str], [1.5], [("int_type", (0,), "int")]),
        (list[str] | list[int], [1.5], [("string_type", (0,), "str")]),
        (list[int] | list[list[int]], [["x"]], [("int_type", (0, 0), "int")]),
        (list[list[int]] | list[int], [["x"]], [("int_type", (0, 0), "int")]),
        (union({"a": int}, {"a": {"b": int}}), {"a": {"b": "x"}}, [("int_type", ("a", "b"), "int")]),
        (list[int] | None, ["a", 1, "b"], [("int_type", (0,), "int"), ("int_type", (2,), "int")]),
    ],
)
def test_union_reports_deepest_member_first_on_tie(schema, value, expected):
    v = Validator(schema)
    assert not v.is_valid(value)
    assert records(failure(v, value)) == expected


def test_union_report_path_under_an_enclosing_container():
    e = failure(Validator(list[int | str]), [1, 2.5])
    assert e.message == "at [1]: expected one of: int, str, got 2.5 [union_error]"
    e = failure(Validator({"k": list[int] | list[str]}), {"k": [None]})
    assert records(e) == [("int_type", ("k", 0), "int")]


def test_fail_fast_union_still_reports_every_failure_of_the_closest_member():
    v = Validator(list[int] | None)
    e = failure(v, ["a", "b"], fail_fast=True)
    assert [d["path"] for d in e.errors] == [(0,), (1,)]


def test_union_of_seventy_members():
    counts = [0] * 70

    def make(i):
        def pred(x):
            counts[i] += 1
            return False

        return Annotated[int, pred]

    v = Validator(union(*[make(i) for i in range(70)]))
    assert not v.is_valid(5)
    assert counts == [1] * 70
    counts[:] = [0] * 70
    e = failure(v, 5)
    # the first pass tries all 70, the report pass only the first 64
    assert counts == [2] * 64 + [1] * 6
    assert records(e) == [("union_error", (), "one of: " + ", ".join(["int"] * 70))]


def test_union_of_seventy_literals_names_them_all():
    v = Validator(union(*range(70)))
    e = failure(v, "x")
    assert e.expected == "one of: " + ", ".join(["literal"] * 70)


def test_union_stops_at_the_first_accepting_member():
    calls = []
    v = Validator(union(Annotated[int, lambda x: calls.append("a") or True], Annotated[int, lambda x: calls.append("b") or True]))
    v.validate(1)
    assert calls == ["a"]


def test_fatal_exception_in_union_member_propagates():
    def stop(x):
        raise KeyboardInterrupt

    v = Validator(union(Annotated[int, stop], str))
    with pytest.raises(KeyboardInterrupt):
        v.validate(1)
    with pytest.raises(KeyboardInterrupt):
        v.is_valid(1)
    assert v.is_valid("a")


GE0 = Meta(ge=0)
EVEN = Meta(multiple_of=2)


def test_intersection_collects_every_failing_member_in_order():
    v = Validator(intersection(Annotated[int, GE0], Annotated[int, EVEN]))
    assert v.is_valid(4)
    assert not v.is_valid(-3)
    assert records(failure(v, -3)) == [
        ("greater_than_equal", (), ">= 0"),
        ("multiple_of", (), "a multiple of 2"),
    ]
    assert records(failure(v, -3, fail_fast=True)) == [("greater_than_equal", (), ">= 0")]
    assert records(failure(v, 3)) == [("multiple_of", (), "a multiple of 2")]


def test_intersection_of_containers():
    v = Validator(intersection(list[int | str], list[int]))
    assert v.is_valid([1])
    assert records(failure(v, ["a"])) == [("int_type", (0,), "int")]


def test_empty_intersection_accepts_everything():
    v = Validator(intersection())
    for x in (None, 1, [object()]):
        assert v.is_valid(x)
        v.validate(x)


@pytest.mark.parametrize(
    "schema, members, others, expected",
    [
        (complement(int), ["a", None, 1.5], [5, True], "not int"),
        (complement(list[int]), [[1, "a"], (1,)], [[], [1]], "not list"),
        (complement(None), [0], [None], "not None"),
        (complement(Annotated[int, raising(ValueError("x"))]), [5, "a"], [], None),
        (complement(complement(str)), ["a"], [1], "not complement"),
    ],
)
def test_complement(schema, members, others, expected):
    errors = check_membership(Validator(schema), members, others)
    for x, e in zip(others, errors):
        assert (e.code, e.expected, e.value, e.path) == ("unexpected_match", expected, repr(x), ())


def test_complement_with_fatal_inner_exception_propagates():
    v = Validator(complement(Annotated[int, raising(KeyboardInterrupt())]))
    with pytest.raises(KeyboardInterrupt):
        v.is_valid(5)
    with pytest.raises(KeyboardInterrupt):
        v.validate(5)


def nested(depth):
    value = []
    for _ in range(depth - 1):
        value = [value]
    return value


@pytest.fixture
def tree():
    return Validator(recursive(lambda t: list[t]))


def test_recursion_guard_allows_128_levels(tree):
    assert tree.is_valid(nested(128))
    tree.validate(nested(128))


def test_recursion_guard_refuses_129_levels(tree):
    assert not tree.is_valid(nested(129))
    e = failure(tree, nested(129))
    assert (e.code, e.expected, e.value) == ("recursion_limit", "at most 128 levels of recursion", "[]")
    assert e.path == (0,) * 128
    assert len(e.errors) == 1


def test_recursion_guard_refuses_self_containing_list(tree):
    loop = []
    loop.append(loop)
    assert not tree.is_valid(loop)
    e = failure(tree, loop)
    assert (e.code, e.expected, e.value, e.path) == (
        "recursion_loop",
        "a finite (non-cyclic) value",
        "[[...]]",
        (0,),
    )


def test_recursion_guard_releases_shared_values(tree):
    shared = nested(100)
    value = [shared, shared, [shared]]
    assert tree.is_valid(value)
    tree.validate(value)
    # the guard counts open levels, not visits: many siblings of depth 127 are fine
    wide = [nested(127) for _ in range(50)]
    assert tree.is_valid(wide)


def test_recursive_record_reports_at_depth():
    v = Validator(recursive(lambda t: {"value": int, "next?": t}))
    assert v.is_valid({"value": 1, "next": {"value": 2}})
    e = failure(v, {"value": 1, "next": {"value": 2, "next": {"value": "x"}}})
    assert records(e) == [("int_type", ("next", "next", "value"), "int")]
