"""Compiling generic aliases (list, set, dict, tuple, unions, Literal, Callable)
and list literals."""

import collections.abc
import enum
import types
import typing
from typing import Callable, ClassVar, Final, Literal, NotRequired, Optional, Required, Union

import pytest

from kestrome import Validator

UNSUPPORTED = "unsupported typing form with origin {}; supported: list, set, dict, tuple, Union, Optional, Literal, Callable"
ONE_ARG = "expected exactly one type argument"
DICT_ARGS = "dict[...] needs a key type and a value type"
TUPLE_DOTS = "`...` may appear only as the last element of a tuple schema"
LIST_DOTS = "`...` may appear only as the last element of a list schema"


class Colour(enum.Enum):
    RED = 1


class Items(list):
    pass


T = typing.TypeVar("T")


class Box(typing.Generic[T]):
    pass


LongGeneric = types.new_class("Generic" + "X" * 100, (typing.Generic[T],))


@pytest.mark.parametrize(
    "schema, text",
    [
        (list[int], "list[int]"),
        (typing.List[str], "list[str]"),
        (set[int], "set[int]"),
        (typing.Set[bytes], "set[bytes]"),
        (frozenset[str], "frozenset[str]"),
        (typing.FrozenSet[int], "frozenset[int]"),
        (dict[str, int], "dict[str, int]"),
        (typing.Dict[bytes, list[int]], "dict[bytes, list[int]]"),
        (tuple[int, ...], "tuple[int, ...]"),
        (typing.Tuple[int, ...], "tuple[int, ...]"),
        (tuple[int, str], "tuple[int, str]"),
        (tuple[int], "tuple[int]"),
        (tuple[()], "tuple[]"),
        (typing.Tuple, "tuple[]"),
        (tuple[int, str, ...], "tuple[int, str, ...]"),
        (tuple[int, str, bytes, ...], "tuple[int, str, bytes, ...]"),
        (list[...], "list[Literal[Ellipsis]]"),
        (set[...], "set[Literal[Ellipsis]]"),
        ([], "[]"),
        ([int], "list[int]"),
        ([int, ...], "list[int]"),
        ([int, str], "[int, str]"),
        ([int, str, ...], "[int, str, ...]"),
        ([int, str, bytes, ...], "[int, str, bytes, ...]"),
        ([[int], str], "[list[int], str]"),
        (Items([int, str]), "[int, str]"),
        (Items([float]), "list[float]"),
    ],
)
def test_sequence_set_and_dict_forms(schema, text):
    assert repr(Validator(schema)) == text


@pytest.mark.parametrize(
    "a, b",
    [
        (list[int], [int]),
        (list[int], [int, ...]),
        (list[int], typing.List[int]),
        (tuple[()], typing.Tuple),
        (dict[str, int], {str: int}),
        (dict[str, int], typing.Dict[str, int]),
        (set[int], typing.Set[int]),
        (frozenset[int], typing.FrozenSet[int]),
        (tuple[int, ...], typing.Tuple[int, ...]),
    ],
)
def test_equivalent_spellings_compile_alike(a, b):
    va, vb = Validator(a), Validator(b)
    assert va == vb
    assert hash(va) == hash(vb)


@pytest.mark.parametrize(
    "a, b",
    [
        (list[int], tuple[int, ...]),
        ([int, str], tuple[int, str]),
        ([], tuple[()]),
        ([int], [int, int]),
        ([int, str, ...], [int, str]),
        (set[int], frozenset[int]),
        (tuple[int], tuple[int, ...]),
    ],
)
def test_distinct_sequence_forms_differ(a, b):
    assert Validator(a) != Validator(b)


@pytest.mark.parametrize(
    "schema, message",
    [
        (typing.List, ONE_ARG),
        (typing.Set, ONE_ARG),
        (typing.FrozenSet, ONE_ARG),
        (typing.Dict, DICT_ARGS),
        (tuple[...], TUPLE_DOTS),
        (tuple[..., int], TUPLE_DOTS),
        (tuple[int, ..., str], TUPLE_DOTS),
        (tuple[int, ..., ...], TUPLE_DOTS),
        ([...], LIST_DOTS),
        ([..., int], LIST_DOTS),
        ([int, ..., str], LIST_DOTS),
        ([int, ..., ...], LIST_DOTS),
        ([..., ...], LIST_DOTS),
    ],
)
def test_malformed_forms_are_rejected(schema, message):
    with pytest.raises(NotImplementedError) as info:
        Validator(schema)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "schema, message",
    [
        (list[((int, str),)], "a tuple literal"),
        (dict[str, {int}], "a set literal"),
        (dict[{int}, typing.Any], "a set literal"),
        (tuple[int, {int}], "a set literal"),
        ([int, {int}, ...], "a set literal"),
        (Optional[list[((int, str),)]], "a tuple literal"),
    ],
)
def test_nested_rejection_propagates(schema, message):
    with pytest.raises(NotImplementedError, match=message):
        Validator(schema)


def test_list_literal_shrunk_while_compiling_raises_index_error():
    class Shrinks:
        def __init__(self, target):
            self.target = target

        @property
        def __supertype__(self):
            self.target.clear()
            return int

    schema = []
    schema.extend([Shrinks(schema), str])
    with pytest.raises(IndexError):
        Validator(schema)


# --- unions

@pytest.mark.parametrize(
    "schema, text",
    [
        (Optional[int], "int | None"),
        (int | None, "int | None"),
        (Union[int, str], "int | str"),
        (int | str | None, "int | str | None"),
        (Union[str, int], "str | int"),
        (Optional[list[int]], "list[int] | None"),
        (Union[int, Literal[1]], "int | Literal[1]"),
    ],
)
def test_unions_keep_argument_order(schema, text):
    assert repr(Validator(schema)) == text


def test_union_spellings_compile_alike():
    assert Validator(Optional[int]) == Validator(int | None) == Validator(Union[int, None])
    assert Validator(Union[int, str]) == Validator(int | str)
    assert Validator(Union[int, str]) != Validator(Union[str, int])
    assert Validator(Optional[int]) != Validator(int)


# --- literals

@pytest.mark.parametrize(
    "schema, text",
    [
        (Literal[1], "Literal[1]"),
        (Literal["a"], "Literal['a']"),
        (Literal[1, "a"], "Literal[1] | Literal['a']"),
        (Literal[b"x", True], "Literal[b'x'] | Literal[True]"),
        (Literal[None], "None"),
        (Literal[int], "int"),
        (Literal[Colour.RED], "Literal[<Colour.RED: 1>]"),
    ],
)
def test_literal_arguments_compile_as_specs(schema, text):
    assert repr(Validator(schema)) == text


def test_literal_form_is_a_union_even_with_one_argument():
    assert Validator(Literal[1]) != Validator(1)
    assert Validator(Literal[None]) != Validator(None)
    assert Validator(Literal[1]) == Validator(Literal[1])
    assert Validator(Literal[1, 2]) != Validator(Literal[2, 1])


def test_literal_of_a_tuple_value_is_rejected_as_a_tuple_literal():
    with pytest.raises(NotImplementedError, match="^a tuple literal is not a schema"):
        Validator(Literal[3, (1, 2)])


# --- Callable, Required, NotRequired

@pytest.mark.parametrize(
    "schema",
    [Callable[[int], str], Callable[..., int], typing.Callable, collections.abc.Callable[[str], None]],
)
def test_callable_forms_are_an_instance_test_of_callable(schema):
    v = Validator(schema)
    assert repr(v) == "Callable"
    assert v == Validator(collections.abc.Callable)


@pytest.mark.parametrize(
    "schema, plain",
    [
        (Required[int], int),
        (NotRequired[str], str),
        (Required[list[int]], list[int]),
        (NotRequired[Optional[int]], Optional[int]),
    ],
)
def test_required_markers_outside_typed_dict_are_dropped(schema, plain):
    assert Validator(schema) == Validator(plain)
    assert repr(Validator(schema)) == repr(Validator(plain))


def read_only_markers():
    import typing_extensions

    markers = [typing_extensions.ReadOnly]
    if hasattr(typing, "ReadOnly"):
        markers.append(typing.ReadOnly)
    return markers


@pytest.mark.parametrize("read_only", read_only_markers())
def test_read_only_marker_compiles_as_its_argument(read_only):
    import typing_extensions

    assert Validator(read_only[int]) == Validator(int)

    class Movie(typing_extensions.TypedDict):
        title: read_only[str]
        year: read_only[NotRequired[int]]

    v = Validator(Movie)
    assert repr(v) == "{'title': str, 'year?': int}"
    assert v.is_valid({"title": "x"})
    assert not v.is_valid({"title": 1})


# --- unpacked tuples

def unpacked_tuple_cases():
    import typing_extensions

    rest = [tuple[int, *tuple[str, ...]], tuple[int, typing_extensions.Unpack[tuple[str, ...]]]]
    if hasattr(typing, "Unpack"):
        rest.append(tuple[int, typing.Unpack[tuple[str, ...]]])
    cases = [(schema, tuple[int, str, ...]) for schema in rest]
    cases += [
        (tuple[*tuple[int, ...]], tuple[int, ...]),
        (tuple[*tuple[int, str], float], tuple[int, str, float]),
        (tuple[*tuple[()], int], tuple[int]),
        (tuple[int, *tuple[str, *tuple[bytes, ...]]], tuple[int, str, bytes, ...]),
        (tuple[int, *tuple[str, bytes, ...]], tuple[int, str, bytes, ...]),
    ]
    return cases


@pytest.mark.parametrize("schema, same_as", unpacked_tuple_cases())
def test_unpacked_tuples_spread_in_place(schema, same_as):
    v = Validator(schema)
    assert v == Validator(same_as)
    assert repr(v) == repr(Validator(same_as))


@pytest.mark.parametrize(
    "value, member",
    [((1,), True), ((1, "a", "b"), True), ((1, ("a", "b")), False), ((1, "a", 2), False), (("a",), False)],
)
def test_unpacked_tail_takes_the_remaining_items(value, member):
    assert Validator(tuple[int, *tuple[str, ...]]).is_valid(value) is member


@pytest.mark.parametrize(
    "schema, message",
    [
        (tuple[*tuple[int, ...], str], "an unpacked tuple[X, ...] must be the last element of a tuple schema"),
        (tuple[*tuple[int, ...], *tuple[str, ...]],
         "an unpacked tuple[X, ...] must be the last element of a tuple schema"),
        (tuple[*tuple[..., int]], TUPLE_DOTS),
        (tuple[int, *tuple[..., ...]], TUPLE_DOTS),
    ],
)
def test_unpacked_tuples_that_cannot_be_read_are_rejected(schema, message):
    with pytest.raises(NotImplementedError) as info:
        Validator(schema)
    assert str(info.value) == message


def test_unpacked_type_var_tuple_stays_unsupported():
    shape = typing.TypeVarTuple("Shape")
    with pytest.raises(NotImplementedError) as info:
        Validator(tuple[int, *shape])
    assert str(info.value).startswith("unsupported typing form with origin typing.Unpack")


# --- unsupported origins

@pytest.mark.parametrize(
    "schema, origin",
    [
        (type[int], type),
        (typing.Type[int], type),
        (ClassVar[int], ClassVar),
        (Final[int], Final),
        (collections.abc.Sequence[int], collections.abc.Sequence),
        (collections.abc.Mapping[str, int], collections.abc.Mapping),
        (Box[int], Box),
    ],
)
def test_unsupported_origins_name_the_origin(schema, origin):
    with pytest.raises(NotImplementedError) as info:
        Validator(schema)
    assert str(info.value) == UNSUPPORTED.format(repr(origin))


def test_unsupported_origin_text_is_cut_like_a_value():
    text = repr(LongGeneric)
    assert len(text) > 80
    with pytest.raises(NotImplementedError) as info:
        Validator(LongGeneric[int])
    assert str(info.value) == UNSUPPORTED.format(text[:80] + "...")
