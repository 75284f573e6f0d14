"""repr() of a validator: its schema written back as annotation text."""

import dataclasses
import enum
import typing
from types import SimpleNamespace as Meta
from typing import Annotated, Any, Literal, Optional, TypedDict

import pytest

import kestrome
from kestrome import Validator, complement, intersection, recursive, union

from support import BadRepr, Repr


def text(schema):
    return repr(Validator(schema))


class Colour(enum.Enum):
    RED = 1


@dataclasses.dataclass
class Point:
    x: int


class Movie(TypedDict):
    title: str


def is_even(value):
    return value % 2 == 0


# --- leaves and classes

@pytest.mark.parametrize(
    "schema, expected",
    [
        (int, "int"),
        (bool, "bool"),
        (float, "float"),
        (str, "str"),
        (bytes, "bytes"),
        (None, "None"),
        (type(None), "None"),
        (Any, "Any"),
        (object, "anything"),
        (typing.Never, "nothing"),
        (typing.NoReturn, "nothing"),
        (list, "list"),
        (Colour, "Colour"),
        (Point, "Point"),
        (typing.Callable, "Callable"),
    ],
)
def test_leaves_and_classes(schema, expected):
    assert text(schema) == expected


def test_ready_made_validators():
    assert repr(kestrome.anything) == "anything"
    assert repr(kestrome.nothing) == "nothing"


def _meta_with_name(name):
    return type("Meta", (type,), {"__name__": name})


@pytest.mark.parametrize(
    "name",
    [
        property(lambda cls: 1 / 0),
        property(lambda cls: (_ for _ in ()).throw(KeyboardInterrupt)),
        42,
        None,
        "\ud800",
    ],
)
def test_class_without_a_usable_name_shows_its_repr(name):
    cls = _meta_with_name(name)("Odd", (), {})
    assert text(cls) == repr(cls)


def test_class_name_is_not_cut():
    cls = type("N" * 200, (), {})
    assert text(cls) == "N" * 200
    assert text(list[cls]) == f"list[{'N' * 200}]"


# --- literals

@pytest.mark.parametrize(
    "schema, expected",
    [
        (1, "Literal[1]"),
        ("a", "Literal['a']"),
        (b"\x00", "Literal[b'\\x00']"),
        (1.5, "Literal[1.5]"),
        (True, "Literal[True]"),
        (..., "Literal[Ellipsis]"),
        (frozenset(), "Literal[frozenset()]"),
        (Colour.RED, "Literal[<Colour.RED: 1>]"),
        (Literal[1], "Literal[1]"),
        (Literal[1, 2], "Literal[1] | Literal[2]"),
        (Repr("x" * 80), "Literal[" + "x" * 80 + "]"),
        (Repr("x" * 81), "Literal[" + "x" * 80 + "...]"),
        (Repr("é" * 81), "Literal[" + "é" * 80 + "...]"),
        (Repr("界" * 80), "Literal[" + "界" * 80 + "]"),
        (Repr(""), "Literal[]"),
        (Repr("a\ud800b"), "Literal[a\ufffd\ufffd\ufffdb]"),
    ],
)
def test_literal_values_are_shown_by_their_repr(schema, expected):
    assert text(schema) == expected


@pytest.mark.parametrize("exc", [ValueError("no"), KeyboardInterrupt(), RecursionError(), SystemExit(1)])
def test_literal_whose_repr_raises_is_unrepresentable(exc):
    v = Validator(BadRepr(exc))
    assert repr(v) == "Literal[<unrepresentable>]"
    assert repr(Validator([BadRepr(exc), int])) == "[Literal[<unrepresentable>], int]"


# --- sequences, sets, records

@pytest.mark.parametrize(
    "schema, expected",
    [
        (list[int], "list[int]"),
        ([int], "list[int]"),
        ([], "[]"),
        ([int, str], "[int, str]"),
        ([int, str, ...], "[int, str, ...]"),
        ([int, str, bytes, ...], "[int, str, bytes, ...]"),
        (tuple[int, ...], "tuple[int, ...]"),
        (tuple[()], "tuple[]"),
        (tuple[int], "tuple[int]"),
        (tuple[int, str], "tuple[int, str]"),
        (tuple[int, str, ...], "tuple[int, str, ...]"),
        (list[list[tuple[int, ...]]], "list[list[tuple[int, ...]]]"),
        (set[int], "set[int]"),
        (frozenset[str | None], "frozenset[str | None]"),
    ],
)
def test_sequences_and_sets(schema, expected):
    assert text(schema) == expected


@pytest.mark.parametrize(
    "schema, expected",
    [
        (dict[str, int], "dict[str, int]"),
        ({str: int}, "dict[str, int]"),
        (dict[object, object], "dict[anything, anything]"),
        ({object: Any}, "dict[anything, Any]"),
        ({}, "{}"),
        ({"a": int, "b?": str, str: int}, "{'a': int, 'b?': str, str: int}"),
        ({str: int, "a": int}, "{'a': int, str: int}"),
        ({"a": int, object: object}, "{'a': int, ...}"),
        ({"a": int, Any: Any}, "{'a': int, Any: Any}"),
        ({"a": int, object: Any}, "{'a': int, anything: Any}"),
        ({str: int, bytes: str}, "{str: int, bytes: str}"),
        ({"?": int}, "{'?': int}"),
        ({"a??": int}, "{'a??': int}"),
        ({"it's": int, 'q"': str}, "{'it's': int, 'q\"': str}"),
        ({"a": int, "a?": str}, "{'a': int, 'a?': str}"),
        ({1: str}, "dict[Literal[1], str]"),
        (Movie, "{'title': str}"),
        ({"p": {"q?": list[int]}}, "{'p': {'q?': list[int]}}"),
    ],
)
def test_records(schema, expected):
    assert text(schema) == expected


# --- unions, intersections, complements

@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda: Validator(Optional[int]), "int | None"),
        (lambda: union(), "nothing"),
        (lambda: union(int), "int"),
        (lambda: union(int, str), "int | str"),
        (lambda: union(int, union(str, bytes)), "int | str | bytes"),
        (lambda: Validator(int) | str | None, "int | str | None"),
        (lambda: None | Validator(int), "None | int"),
        (lambda: union(kestrome.nothing, int), "nothing | int"),
        (lambda: intersection(), "anything"),
        (lambda: intersection(int), "intersection(int)"),
        (lambda: intersection(int, str), "intersection(int, str)"),
        (lambda: complement(int), "complement(int)"),
        (lambda: complement(complement(int)), "complement(complement(int))"),
        (lambda: complement(kestrome.anything), "complement(anything)"),
        (lambda: intersection(int | None, complement(None)), "intersection(int | None, complement(None))"),
        (lambda: Validator(list[union(int, str)]), "list[int | str]"),
    ],
)
def test_combinators(make, expected):
    assert repr(make()) == expected


# --- refinements

@pytest.mark.parametrize(
    "schema, expected",
    [
        (Annotated[int, Meta(ge=0), Meta(max_length=5)], "Annotated[int, Ge(0), MaxLen(5)]"),
        (Annotated[int, Meta(gt=1.5, lt=-2)], "Annotated[int, Gt(1.5), Lt(-2)]"),
        (Annotated[int, Meta(le="x" * 90)], "Annotated[int, Le('" + "x" * 79 + "...)]"),
        (Annotated[int, Meta(multiple_of=Repr("3"))], "Annotated[int, MultipleOf(3)]"),
        (Annotated[int, Meta(ge=BadRepr(KeyboardInterrupt()))], "Annotated[int, Ge(<unrepresentable>)]"),
        (Annotated[str, Meta(min_length=1), is_even], "Annotated[str, MinLen(1), Predicate(...)]"),
        (Annotated[int, lambda v: True], "Annotated[int, Predicate(...)]"),
        (Annotated[list[int], Meta(min_length=1)], "Annotated[list[int], MinLen(1)]"),
        (Annotated[int | None, Meta(ge=0)], "Annotated[int | None, Ge(0)]"),
        (list[Annotated[int, Meta(ge=0)]], "list[Annotated[int, Ge(0)]]"),
    ],
)
def test_refinements(schema, expected):
    assert text(schema) == expected


@pytest.mark.parametrize(
    "pattern, quoted",
    [
        ("a|b", '"a|b"'),
        (r"\d+", r'"\\d+"'),
        ('say "hi"', r'"say \"hi\""'),
        ("it's", '"it\'s"'),
        ("\t\r\n", r'"\t\r\n"'),
        ("a\x00b", r'"a\0b"'),
        ("\x01\x1f\x7f", r'"\u{1}\u{1f}\u{7f}"'),
        ("e\u0301", r'"e\u{301}"'),
        ("é~ ", '"é~ "'),
    ],
)
def test_regex_patterns_are_shown_in_debug_quotes(pattern, quoted):
    assert text(Annotated[str, Meta(pattern=pattern)]) == f"Annotated[str, Regex({quoted})]"


# --- recursion

@pytest.mark.parametrize(
    "builder, expected",
    [
        (lambda t: [t], "list[...]"),
        (lambda t: union(list[t], None), "list[...] | None"),
        (lambda t: union(None, {"next?": t, "value": int}), "None | {'next?': ..., 'value': int}"),
        (lambda t: [t, t], "[..., ...]"),
        (lambda t: {str: t}, "dict[str, ...]"),
        (lambda t: {t: int}, "dict[..., int]"),
        (lambda t: tuple[int, t], "tuple[int, ...]"),
        (lambda t: set[t], "set[...]"),
        (lambda t: int, "int"),
    ],
)
def test_back_edges_to_the_definition_in_progress(builder, expected):
    assert repr(recursive(builder)) == expected


def test_placeholder_renders_as_ellipsis_inside_the_builder():
    seen = []

    def builder(t):
        seen.append(repr(t))
        return [t]

    recursive(builder)
    assert seen == ["..."]


def test_definition_is_written_out_once_per_path():
    tree = recursive(lambda t: [t])
    assert repr(Validator([tree, tree])) == "[list[...], list[...]]"
    assert repr(Validator({"k": tree, "v?": tree})) == "{'k': list[...], 'v?': list[...]}"
    chain = recursive(lambda t: {"tree": tree, "next?": t})
    assert repr(chain) == "{'tree': list[...], 'next?': ...}"
    assert repr(union(chain, tree)) == "{'tree': list[...], 'next?': ...} | list[...]"


def _chain(base, links):
    v = recursive(lambda t: base)
    for _ in range(links):
        v = recursive(lambda t, inner=v: [inner])
    return v


def test_depth_cap():
    # each link is a back edge and a list: two levels of nesting per link
    assert repr(_chain(list[int], 99)) == "list[" * 100 + "int" + "]" * 100
    assert repr(_chain(int, 99)) == "list[" * 99 + "int" + "]" * 99
    assert repr(_chain(int, 100)) == "list[" * 100 + "..." + "]" * 100


# --- str

@pytest.mark.parametrize(
    "make",
    [
        lambda: Validator(int),
        lambda: Validator({"a": int, "b?": [str, ...]}),
        lambda: recursive(lambda t: [t]),
        lambda: Validator(Annotated[str, Meta(pattern="\\w")]),
        lambda: Validator(BadRepr(ValueError())),
    ],
)
def test_str_equals_repr(make):
    v = make()
    assert str(v) == repr(v)
