from types import SimpleNamespace as Meta
import enum
import typing
from typing import Annotated, Literal, Optional

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


class Shade(enum.Enum):
    DARK = 1


@pytest.mark.parametrize(
    "schema, value, expected",
    [
        (Literal[1, 2, "a"], 3, "one of: 1, 2, 'a'"),
        (Literal["DE", "FR", "US"], "XX", "one of: 'DE', 'FR', 'US'"),
        (Optional[Literal[1, 2]], 3, "one of: 1, 2, None"),
        (Literal[1] | list[int], "x", "one of: 1, list"),
        (int | Literal[Shade.DARK, b"x"], "x", "one of: int, <Shade.DARK: 1>, b'x'"),
        (Literal["x" * 100, 1], 2, "one of: '" + "x" * 79 + "..."),
        (union(*range(40)), "x", "one of: " + ", ".join(map(str, range(40)))[:80] + "..."),
        (int | Literal[1] | list[Literal[1]], "x", "one of: int, 1, list"),
        (Literal[1] | Literal[2, "a"], "x", "one of: 1, 2, 'a'"),
        (int | Optional[str], 1.5, "one of: int, str, None"),
    ],
)
def test_literal_members_of_a_union_are_named_by_their_value(schema, value, expected):
    e = failure(Validator(schema), value)
    assert records(e) == [("union_error", (), expected)]
    assert e.value == repr(value)


def test_nested_union_that_is_not_all_literals_keeps_its_kind_name():
    nested = Validator(union(int, union(str, Literal[1])))
    assert failure(nested, 1.5).expected == "one of: int, union"


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
    assert e.expected == "one of: " + ", ".join(map(str, range(70)))[:80] + "..."


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


# --- a tagged union reports against the member its tag selects

SHIPPING = {"kind": Literal["ship"], "address": str, "weight?": float}
PICKUP = {"kind": Literal["pickup"], "store": int}
DIGITAL = union({"kind": Literal["email", "sms"], "to": str}, {"kind": Literal["none"]})
DELIVERY = [SHIPPING, PICKUP, DIGITAL]


def errors_of(v, value, fail_fast=False):
    with pytest.raises(ValidationError) as info:
        v.validate(value, fail_fast=fail_fast)
    return info.value.errors


@pytest.mark.parametrize("fail_fast", [False, True])
@pytest.mark.parametrize(
    "value, member",
    [
        ({"kind": "pickup", "store": "x"}, PICKUP),
        ({"kind": "pickup"}, PICKUP),
        ({"kind": "pickup", "store": 1, "address": "a"}, PICKUP),
        ({"kind": "pickup", "store": "x", "extra": 1}, PICKUP),
        ({"kind": "ship", "store": 1}, SHIPPING),
        ({"kind": "ship", "address": "a", "weight": "heavy"}, SHIPPING),
        ({"address": "a", "kind": "ship", "weight": None}, SHIPPING),
        ({"kind": "sms", "to": 5}, DIGITAL),
        ({"kind": "none", "to": "x"}, DIGITAL),
    ],
)
def test_tagged_union_reports_the_selected_member_alone(value, member, fail_fast):
    tagged = Validator(union(*DELIVERY))
    assert errors_of(tagged, value, fail_fast) == errors_of(Validator(member), value, fail_fast)
    nested = Validator(list[union(*DELIVERY)])
    expected = [{**e, "path": (0, *e["path"]), "message": None} for e in errors_of(Validator(member), value, fail_fast)]
    got = [{**e, "message": None} for e in errors_of(nested, [value], fail_fast)]
    assert got == expected


def test_tagged_union_with_typed_dict_members_reports_the_selected_member():
    class A(typing.TypedDict):
        kind: Literal["a"]
        x: int

    class B(typing.TypedDict):
        kind: Literal["b"]
        y: str

    e = failure(Validator(A | B), {"kind": "b", "y": 1})
    assert records(e) == [("string_type", ("y",), "str")]


@pytest.mark.parametrize(
    "value, expected",
    [
        # an unknown tag: the deepest member, the first on a tie
        ({"kind": "boat", "store": 1}, [("union_error", ("kind",), "one of: 'ship'"),
                                       ("missing_key", ("address",), 'required key "address"'),
                                       ("extra_forbidden", ("store",), "no unexpected key")]),
        # no tag at all
        ({"store": 1}, [("missing_key", ("kind",), 'required key "kind"'),
                        ("missing_key", ("address",), 'required key "address"'),
                        ("extra_forbidden", ("store",), "no unexpected key")]),
        ("x", [("union_error", (), "one of: dict, dict, union")]),
    ],
)
def test_tagged_union_without_a_selecting_tag_keeps_the_deepest_member_report(value, expected):
    assert records(failure(Validator(union(*DELIVERY)), value)) == expected
