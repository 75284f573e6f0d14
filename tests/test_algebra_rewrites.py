"""The rewrites simplify, open and close.

Each returns a new validator and leaves the receiver as it was. Results are observed through
repr() and ==; == compares the pooled constants pair by pair (identical objects without a call),
so it also shows which constants a rewritten validator holds.
"""

import dataclasses
from types import SimpleNamespace as Meta
from typing import Annotated, Any, Optional, TypedDict

import pytest

from kestrome import Validator, anything, complement, intersection, nothing, recursive, union

from support import NODES_MESSAGE


def big(value=10**20):
    """An int equal to `value` that is never the same object as another call's result."""
    return int(str(value))


def refined(base, *metadata):
    return Annotated[(base, *metadata)]


def positive(x):
    return x > 0


class Distinct:
    """Equal to nothing, itself included, and counts how often it was asked."""

    asked = 0

    def __eq__(self, other):
        Distinct.asked += 1
        return False

    __hash__ = object.__hash__

    def __repr__(self):
        return "Distinct()"


class TD(TypedDict):
    a: int


@dataclasses.dataclass
class Point:
    x: int
    y: int


@dataclasses.dataclass
class Holder:
    d: TD


@dataclasses.dataclass
class Unsorted:
    x: "str | int"


@dataclasses.dataclass
class Sorted:
    x: "int | str"


class Base:
    pass


# ------------------------------------------------------------------ simplify


@pytest.mark.parametrize(
    "schema, text",
    [
        # identities and the empty forms
        pytest.param(union(), "nothing", id="empty union"),
        pytest.param(intersection(), "anything", id="empty intersection"),
        pytest.param(union(int), "int", id="one-member union"),
        pytest.param(intersection(int), "int", id="one-member intersection"),
        pytest.param(union(nothing, int, nothing), "int", id="nothing dropped from a union"),
        pytest.param(intersection(anything, int), "int", id="anything dropped from an intersection"),
        pytest.param(union(int, anything, Point), "anything", id="anything absorbs a union"),
        pytest.param(union(int, union(str, complement(str))), "anything", id="member simplifying to anything"),
        pytest.param(intersection(int, nothing, Any), "nothing", id="nothing absorbs an intersection"),
        pytest.param(union(nothing, nothing), "nothing", id="union of nothings"),
        pytest.param(intersection(anything), "anything", id="intersection of anything"),
        # sorting, flattening, deduplicating
        pytest.param(union(int, str, int), "int | str", id="duplicate dropped"),
        pytest.param(union(str, int), "int | str", id="kind order"),
        pytest.param(union(union(str, int), union(bytes, union(float))), "int | float | str | bytes", id="flattened"),
        pytest.param(intersection(intersection(Any, int), int, Any), "intersection(Any, int)", id="flat intersection"),
        pytest.param(
            union(Base, {"a": int}, frozenset[int], set[int], tuple[int, ...], list[int], 5, bytes, str, float, int,
                  bool, None, Any),
            "Any | None | bool | int | float | str | bytes | Literal[5] | list[int] | tuple[int, ...] | set[int] "
            "| frozenset[int] | {'a': int} | Base",
            id="every kind in order",
        ),
        pytest.param(union(tuple[int, ...], list[str]), "list[str] | tuple[int, ...]", id="list before tuple"),
        pytest.param(union(list[int], [int, str]), "[int, str] | list[int]", id="fixed before repeated"),
        pytest.param(union([str, int], [int, str]), "[int, str] | [str, int]", id="positions in order"),
        pytest.param(union([int, str, int], [int, str]), "[int, str] | [int, str, int]", id="shorter first"),
        pytest.param(union({"a": int}, dict[str, int]), "dict[str, int] | {'a': int}", id="no fields first"),
        pytest.param(union({"b": int}, {"a": str}), "{'a': str} | {'b': int}", id="field names first"),
        pytest.param(union({"a": int}, {"a?": int}), "{'a?': int} | {'a': int}", id="optional before required"),
        pytest.param(union({"a": int}, {"Z": int}, {"é": int}), "{'Z': int} | {'a': int} | {'é': int}", id="bytes"),
        pytest.param(union(2, 1), "Literal[2] | Literal[1]", id="literals by pool position"),
        pytest.param(union(5, 5), "Literal[5]", id="one literal object"),
        pytest.param(
            union(big(), big()),
            "Literal[100000000000000000000] | Literal[100000000000000000000]",
            id="equal literals of two objects",
        ),
        # no absorption between members
        pytest.param(union(bool, int), "bool | int", id="bool beside int"),
        pytest.param(intersection(bool, int), "intersection(bool, int)", id="bool with int"),
        pytest.param(union(5, int), "int | Literal[5]", id="literal beside its class"),
        pytest.param(union(object, int), "anything", id="object is anything"),
        pytest.param(union(Any, int), "Any | int", id="Any is not anything"),
        pytest.param(intersection(Any, int), "intersection(Any, int)", id="Any in an intersection"),
        pytest.param(union(None, bool, int, float, str, bytes), "None | bool | int | float | str | bytes", id="63"),
        # complements meeting their members
        pytest.param(union(str, complement(str)), "anything", id="str or not str"),
        pytest.param(union(complement(int), complement(str)), "anything", id="disjoint complements"),
        pytest.param(union(complement(bool), complement(int)), "complement(bool) | complement(int)", id="nested"),
        pytest.param(union(list[int], complement(list[int])), "anything", id="list or not list"),
        pytest.param(union(complement(list[int]), complement(set[int])), "anything", id="disjoint inner bases"),
        pytest.param(intersection(int, str), "nothing", id="int and str"),
        pytest.param(intersection(list[int], complement(list[int])), "nothing", id="list and not list"),
        pytest.param(intersection(list[int], set[int]), "nothing", id="disjoint bases"),
        pytest.param(intersection(int, Annotated[str, Meta(min_length=1)]), "nothing", id="refined base kind"),
        pytest.param(intersection(Any, complement(Any)), "intersection(Any, complement(Any))", id="Any and not Any"),
        pytest.param(union(Any, complement(Any)), "Any | complement(Any)", id="Any or not Any"),
        pytest.param(intersection(float, complement(float)), "nothing", id="masks meet"),
        # negation-normal form
        pytest.param(complement(complement(int)), "int", id="double complement"),
        pytest.param(complement(anything), "nothing", id="not anything"),
        pytest.param(complement(nothing), "anything", id="not nothing"),
        pytest.param(complement(int | str), "intersection(complement(int), complement(str))", id="not a union"),
        pytest.param(complement(intersection(Any, int)), "complement(Any) | complement(int)", id="not intersection"),
        pytest.param(complement(union(int, complement(str))), "intersection(str, complement(int))", id="mixed"),
        pytest.param(complement(intersection(int, str)), "anything", id="not an empty intersection"),
        pytest.param(complement(list[union(str, int)]), "complement(list[int | str])", id="inner simplified"),
        pytest.param(
            intersection(list[int] | set[int], complement(list[int] | set[int])),
            "intersection(list[int] | set[int], complement(list[int]), complement(set[int]))",
            id="union and its pushed complement",
        ),
        # refinements
        pytest.param(refined(int, positive, Meta(ge=0)), "Annotated[int, Ge(0), Predicate(...)]", id="bound first"),
        pytest.param(
            refined(Validator(refined(int, Meta(le=9))), Meta(ge=0)), "Annotated[int, Ge(0), Le(9)]", id="merged"
        ),
        pytest.param(
            refined(Validator(refined(int, Meta(max_length=3), positive)), positive, Meta(min_length=1)),
            "Annotated[int, MinLen(1), MaxLen(3), Predicate(...)]",
            id="merged without duplicates",
        ),
        pytest.param(
            refined(str, Meta(pattern="b"), Meta(pattern="a"), positive, Meta(multiple_of=4), Meta(max_length=2),
                    Meta(min_length=10), Meta(min_length=3), Meta(lt=9), Meta(le=8), Meta(gt=1), Meta(ge=0)),
            'Annotated[str, Ge(0), Gt(1), Le(8), Lt(9), MinLen(3), MinLen(10), MaxLen(2), MultipleOf(4), '
            'Predicate(...), Regex("a"), Regex("b")]',
            id="constraint order",
        ),
        pytest.param(refined(int, Meta(ge=0), Meta(ge=5)), "Annotated[int, Ge(0), Ge(5)]", id="bounds not folded"),
        pytest.param(refined(int, Meta(ge=5, gt=5)), "Annotated[int, Ge(5), Gt(5)]", id="ge and gt of one entry"),
        pytest.param(
            refined(int, Meta(ge=big()), Meta(ge=big())),
            "Annotated[int, Ge(100000000000000000000), Ge(100000000000000000000)]",
            id="equal bounds of two objects",
        ),
        pytest.param(
            union(3, refined(int, Meta(ge=7), Meta(ge=3))),
            "Literal[3] | Annotated[int, Ge(3), Ge(7)]",
            id="bounds by pool position",
        ),
        pytest.param(refined(union(str, int), Meta(ge=0)), "Annotated[int | str, Ge(0)]", id="base simplified"),
        pytest.param(refined(union(int), Meta(ge=0)), "Annotated[int, Ge(0)]", id="base unwrapped"),
        # structure kept, schemas inside simplified
        pytest.param({"b": union(str, int), "a?": union(int)}, "{'b': int | str, 'a?': int}", id="fields in order"),
        pytest.param({str: union(int, int), "a": int}, "{'a': int, str: int}", id="clause simplified"),
        pytest.param({union(bytes, str): int}, "dict[str | bytes, int]", id="clause key simplified"),
        pytest.param([int, union(str, str), ...], "[int, str, ...]", id="shape kept"),
        pytest.param(tuple[union(int), ...], "tuple[int, ...]", id="tuple shape kept"),
        pytest.param(set[union(str, int)], "set[int | str]", id="set element"),
        pytest.param(frozenset[union(int, nothing)], "frozenset[int]", id="frozenset element"),
        pytest.param({"a": nothing}, "{'a': nothing}", id="empty record kept"),
        pytest.param(set[nothing], "set[nothing]", id="set of nothing kept"),
        pytest.param(refined(int, Meta(gt=0), Meta(lt=1)), "Annotated[int, Gt(0), Lt(1)]", id="empty refinement kept"),
        pytest.param(
            recursive(lambda t: union(list[t], None, None)), "None | list[...]", id="definition simplified"
        ),
    ],
)
def test_simplify(schema, text):
    v = Validator(schema)
    s = v.simplify()
    assert repr(s) == text
    assert s.simplify() == s


def test_simplified_validators_compare_equal():
    assert union(int, str, int).simplify() == union(int, str).simplify()
    assert union(str, int).simplify() == union(int, str).simplify()
    assert union(str, int).simplify() != union(str, int)
    assert union(int).simplify() == Validator(int)
    assert complement(complement(int)).simplify() == Validator(int)
    assert Validator(Point).simplify() == Validator(Point)


def test_simplify_sorts_inside_object_attributes():
    # the hash feeds the tree without the pooled classes
    assert hash(Validator(Unsorted).simplify()) == hash(Validator(Sorted))
    assert hash(Validator(Unsorted)) != hash(Validator(Sorted))
    assert repr(Validator(Unsorted).simplify()) == "Unsorted"


def test_simplify_keeps_back_edges_and_rewrites_every_definition():
    r = recursive(lambda t: union(str, {"kids": list[t], "tag": union(bytes, str, bytes)}, int))
    s = r.simplify()
    assert repr(s) == "int | str | {'kids': list[...], 'tag': str | bytes}"
    assert s.is_equivalent(r)
    assert s.simplify() == s


SAMPLES = [None, True, 0, 5, -3, 2.5, "", "ab", b"x", [], [1, "a"], (1,), {1}, frozenset(), {}, {"a": 1}, object()]


@pytest.mark.parametrize(
    "schema",
    [
        union(str, int, str, nothing),
        complement(int | str),
        complement(intersection(int, complement(bool))),
        intersection(list[int] | set[int], complement(list[int] | set[int])),
        union(complement(list[int]), complement(set[int])),
        refined(Validator(refined(int, Meta(le=9))), Meta(ge=0), positive),
        {"a?": union(int, complement(int))},
        [union(bytes, str), ...],
        union(Any, complement(Any)),
    ],
)
def test_simplified_membership_agrees(schema):
    v = Validator(schema)
    s = v.simplify()
    for value in SAMPLES:
        assert s.is_valid(value) == v.is_valid(value), value


@pytest.mark.parametrize(
    "schema",
    [union(str, int, str), complement(int | str), complement(complement(int)), union(bool, int, nothing)],
)
def test_simplified_validator_is_equivalent(schema):
    v = Validator(schema)
    assert v.simplify().is_equivalent(v) is True


# ------------------------------------------------------------------ open and close


@pytest.mark.parametrize(
    "schema, opened, closed",
    [
        pytest.param({"a": int, "b?": str}, "{'a': int, 'b?': str, ...}", "{'a': int, 'b?': str}", id="fields"),
        pytest.param({"a": int, str: int}, "{'a': int, ...}", "{'a': int}", id="typed clause"),
        pytest.param({"a": int, Any: Any}, "{'a': int, ...}", "{'a': int}", id="Any clause"),
        pytest.param({"a": int, str: int, bytes: str}, "{'a': int, ...}", "{'a': int}", id="two clauses"),
        pytest.param(TD, "{'a': int, ...}", "{'a': int}", id="TypedDict"),
        pytest.param(dict[str, int], "dict[str, int]", "dict[str, int]", id="dict"),
        pytest.param({}, "{}", "{}", id="empty record"),
        pytest.param(dict[str, TD], "dict[str, {'a': int, ...}]", "dict[str, {'a': int}]", id="record in a clause"),
        pytest.param({TD: int}, "dict[{'a': int, ...}, int]", "dict[{'a': int}, int]", id="record as a clause key"),
        pytest.param(
            {"a": {"b": int, str: int}}, "{'a': {'b': int, ...}, ...}", "{'a': {'b': int}}", id="nested records"
        ),
        pytest.param(list[TD], "list[{'a': int, ...}]", "list[{'a': int}]", id="in a list"),
        pytest.param([int, TD, ...], "[int, {'a': int, ...}, ...]", "[int, {'a': int}, ...]", id="list tail"),
        pytest.param(tuple[TD, int], "tuple[{'a': int, ...}, int]", "tuple[{'a': int}, int]", id="tuple position"),
        pytest.param(Optional[TD], "{'a': int, ...} | None", "{'a': int} | None", id="in a union"),
        pytest.param(
            intersection(TD, Any), "intersection({'a': int, ...}, Any)", "intersection({'a': int}, Any)", id="meet"
        ),
        pytest.param(complement(TD), "complement({'a': int, ...})", "complement({'a': int})", id="complement"),
        pytest.param(
            refined(TD, Meta(min_length=1)),
            "Annotated[{'a': int, ...}, MinLen(1)]",
            "Annotated[{'a': int}, MinLen(1)]",
            id="in a refinement",
        ),
        pytest.param(
            recursive(lambda t: {"a": int, "kids": list[t]}),
            "{'a': int, 'kids': list[...], ...}",
            "{'a': int, 'kids': list[...]}",
            id="recursive definition",
        ),
        pytest.param(
            recursive(lambda t: union(None, {"next": t, str: int})),
            "None | {'next': ..., ...}",
            "None | {'next': ...}",
            id="recursive definition with a clause",
        ),
        pytest.param(Point, "Point", "Point", id="object"),
        pytest.param(int, "int", "int", id="scalar"),
    ],
)
def test_open_and_close(schema, opened, closed):
    v = Validator(schema)
    before = repr(v)
    o, c = v.open(), v.close()
    assert (repr(o), repr(c)) == (opened, closed)
    assert repr(v) == before
    # idempotent projections: the second rewrite alone decides
    assert o.open() == o
    assert c.close() == c
    assert o.close() == c
    assert c.open() == o


def test_open_keeps_fields_and_required_flags():
    v = Validator({"a": int, "b?": str})
    o = v.open()
    assert o.close() == v
    assert o.is_valid({"a": 1, "zzz": b""}) and not v.is_valid({"a": 1, "zzz": b""})
    assert o.is_valid({"a": 1}) and not o.is_valid({"b": "x"})
    assert not o.is_valid({"a": "x"}) and not o.is_valid({"a": 1, "b": 2})


def test_open_widens_a_typed_clause_and_close_drops_it():
    v = Validator({"a": int, str: int})
    assert v.is_valid({"a": 1, "b": 2}) and not v.is_valid({"a": 1, "b": "x"})
    assert v.open().is_valid({"a": 1, "b": "x", 3: None})
    assert not v.close().is_valid({"a": 1, "b": 2})
    assert v.close() == Validator({"a": int})


def test_records_without_fields_are_unchanged():
    for schema in (dict[str, int], {}, {str: int}, dict[object, object]):
        v = Validator(schema)
        assert v.open() == v
        assert v.close() == v
    assert not Validator({}).open().is_valid({"x": 1})
    assert Validator({}).open().is_valid({})


def test_objects_keep_their_attributes_and_records_inside_are_rewritten():
    v = Validator(Holder)
    assert Validator(Point).open() == Validator(Point)
    assert Validator(Point).close() == Validator(Point)
    assert v.open() != v
    assert v.close() == v
    assert v.open().close() == v
    extra = Holder(d={"a": 1, "extra": 2})
    assert not v.is_valid(extra)
    assert v.open().is_valid(extra)
    assert not v.open().is_valid(Holder(d={"extra": 2}))


def test_records_inside_recursive_definitions_are_opened():
    v = recursive(lambda t: union(None, {"value": int, "next": t}))
    linked = {"value": 1, "next": {"value": 2, "next": None, "note": "x"}}
    assert not v.is_valid(linked)
    assert v.open().is_valid(linked)
    assert not v.open().close().is_valid(linked)
    assert v.open().close() == v


def record_union(n):
    """A union of n records with one field each: 1 + 2n nodes, 1 + 4n once opened."""
    return union(*[{"a": int}] * n)


def test_open_can_cross_the_node_limit():
    assert repr(record_union(24999).open()).endswith("{'a': int, ...}")  # 99997 nodes
    v = record_union(25000)
    before = repr(v)
    with pytest.raises(ValueError) as info:
        v.open()
    assert str(info.value) == NODES_MESSAGE.format(100001)
    assert repr(v) == before
    assert v.close() == v


def test_simplify_can_cross_the_node_limit():
    # each complement over a union of k literals becomes an intersection of k complements
    values = iter(range(50000))
    parts = [complement(union(*[next(values) for _ in range(1000)])) for _ in range(50)]
    v = union(*parts)  # 1 + 50 * 1002 nodes
    with pytest.raises(ValueError) as info:
        v.simplify()
    assert str(info.value) == NODES_MESSAGE.format(1 + 50 * 2001)
    assert repr(v).startswith("complement(Literal[0] | Literal[1]")


# ------------------------------------------------------------------ constants and the surface


@pytest.mark.parametrize("rewrite", ["simplify", "open", "close"])
def test_rewrites_keep_every_constant_object(rewrite):
    x = Distinct()
    v = union(anything, {"a": x})  # simplify drops the only node that names x
    r = getattr(v, rewrite)()
    asked = Distinct.asked
    assert r == getattr(v, rewrite)()  # the same object in both pools, compared without a call
    assert Distinct.asked == asked
    assert r != getattr(union(anything, {"a": Distinct()}), rewrite)()  # an equal-looking other object
    if rewrite == "simplify":
        assert repr(r) == "anything"
        assert r != Validator(anything)  # x is still pooled
        assert r == union(anything, x).simplify()


@pytest.mark.parametrize("rewrite", ["simplify", "open", "close"])
def test_rewrites_keep_the_pool_order(rewrite):
    a, b = Distinct(), Distinct()
    v = union(a, {"k": b})
    assert getattr(v, rewrite)() == getattr(union(a, {"k": b}), rewrite)()
    assert getattr(v, rewrite)() != getattr(union(b, {"k": a}), rewrite)()


@pytest.mark.parametrize(
    "method, extra",
    [
        ("open", "ValueError"),
        ("close", None),
        ("simplify", "ValueError"),
    ],
)
def test_rewrite_docstrings(method, extra):
    m = getattr(Validator, method)
    assert m.__text_signature__ == "($self)"
    doc = " ".join(m.__doc__.split())
    assert "Returns a new validator; this one is unchanged." in doc
    if extra:
        assert extra in doc


@pytest.mark.parametrize("method", ["simplify", "open", "close"])
def test_rewrites_take_no_arguments_and_return_new_validators(method):
    v = Validator(union(int, str))
    r = getattr(v, method)()
    assert type(r) is Validator and r is not v
    with pytest.raises(TypeError):
        getattr(v, method)(1)


@pytest.mark.parametrize(
    "members, text",
    [
        pytest.param([{f"k{i}": int} for i in range(3000)] + [list[int]], "nothing", id="record and list far apart"),
        pytest.param([{f"k{i}": int} for i in range(3000)] + [complement({"k7": int})], "nothing",
                     id="complement pair far apart"),
        pytest.param([refined(int, positive)] * 3000 + [bool], None, id="bool and int meet"),
    ],
)
def test_simplify_of_wide_intersections(members, text):
    v = Validator(intersection(*members)).simplify()
    if text is None:
        assert repr(v).startswith("intersection(bool, Annotated[int,")
    else:
        assert repr(v) == text


def test_simplify_of_wide_unions_of_complements():
    disjoint = [complement({f"k{i}": int}) for i in range(3000)] + [complement(list[int])]
    assert repr(Validator(union(*disjoint)).simplify()) == "anything"
    meeting = [complement(refined(int, Meta(ge=i))) for i in range(3000)] + [complement(bool)]
    assert repr(Validator(union(*meeting)).simplify()).startswith("complement(bool) | complement(Annotated[int, Ge(0)])")
