"""Compiling classes: scalars, typed dicts, dataclasses, named tuples, enums,
protocols and plain classes."""

import dataclasses
import enum
import importlib
import sys
import typing
from typing import Annotated, ClassVar, Literal, NamedTuple, NotRequired, Protocol, Required, TypedDict

import pytest

import kestrome
from kestrome import Validator

from support import ANYTHING, BOOL, BYTES, FLOAT, INT, NONE, STR, expected_hash, field, u64


# --- hash feed helpers (the shared ones are in support.py)

def instance(index=0):
    return u64(17) + u64(index)


def obj(index, *attributes):
    return u64(18) + u64(index) + u64(len(attributes)) + b"".join(attributes)


def record(*fields):
    return u64(13) + u64(len(fields)) + b"".join(fields) + u64(0)


class Gt:
    def __init__(self, gt):
        self.gt = gt


PROTOCOL_MESSAGE = "a Protocol must be @runtime_checkable to be used as a schema"


# --- scalar classes and the top class

@pytest.mark.parametrize(
    "cls, text, node",
    [
        (bool, "bool", BOOL),
        (int, "int", INT),
        (float, "float", FLOAT),
        (str, "str", STR),
        (bytes, "bytes", BYTES),
        (type(None), "None", NONE),
        (object, "anything", ANYTHING),
    ],
)
def test_builtin_classes_compile_to_their_own_kind(cls, text, node):
    v = Validator(cls)
    assert repr(v) == text
    assert hash(v) == expected_hash(node)


def test_bool_is_not_int_and_none_type_is_none():
    assert Validator(bool) != Validator(int)
    assert Validator(type(None)) == Validator(None)
    assert Validator(object) == kestrome.anything
    assert Validator(object) != Validator(typing.Any)


class MyInt(int):
    pass


class MyStr(str):
    pass


class BareTuple(tuple):
    pass


class PlainAnnotated:
    x: "NoSuchName"  # noqa: F821  (never read)
    y: int


@pytest.mark.parametrize(
    "cls",
    [MyInt, MyStr, BareTuple, list, dict, tuple, set, frozenset, PlainAnnotated],
)
def test_other_classes_compile_to_an_instance_test(cls):
    v = Validator(cls)
    assert repr(v) == cls.__name__
    assert hash(v) == expected_hash(instance(0))
    assert v == Validator(cls)


def test_scalar_subclass_is_not_its_base():
    assert Validator(MyInt) != Validator(int)
    assert Validator(MyInt) != Validator(MyStr)


@pytest.mark.parametrize("form", [typing.Union, typing.Optional])
def test_bare_union_and_optional_are_rejected(form):
    with pytest.raises(NotImplementedError) as info:
        Validator(form)
    if isinstance(form, type):
        expected = (f"{form!r} is a typing special form, not a value; write a concrete type "
                    "(for a union, X | Y or Union[X, Y])")
    else:
        expected = (f"{form!r} is a typing construct, not a value: a type variable, ParamSpec, "
                    "TypeVarTuple, or special form (such as Final or ClassVar) cannot be a schema; "
                    "use a concrete type")
    assert str(info.value) == expected


# --- typed dicts

class Movie(TypedDict):
    title: str
    year: NotRequired[int]


class Partial(TypedDict, total=False):
    name: Required[str]
    tags: list[str]


class Child(Movie):
    rating: Annotated[int, Gt(0)]


def test_typed_dict_is_a_closed_record_with_declared_required_flags():
    v = Validator(Movie)
    assert repr(v) == "{'title': str, 'year?': int}"
    assert v == Validator({"title": str, "year?": int})
    assert hash(v) == expected_hash(record(field("title", STR), field("year", INT, False)))
    assert repr(Validator(Partial)) == "{'name': str, 'tags?': list[str]}"


def test_typed_dict_keeps_annotated_extras_and_inherited_keys():
    assert repr(Validator(Child)) == "{'title': str, 'year?': int, 'rating': Annotated[int, Gt(0)]}"


POSTPONED_TYPED_DICTS = """
from __future__ import annotations
from typing import Annotated, NotRequired, Required, TypedDict

class Track(TypedDict):
    artist: str
    seconds: NotRequired[float]

class Draft(TypedDict, total=False):
    id: Required[int]
    note: str
    rank: Annotated[Required[int], "m"]

class Release(Draft):
    cover: NotRequired[bytes]
    label: int
"""


@pytest.mark.parametrize(
    "name, text",
    [
        ("Track", "{'artist': str, 'seconds?': float}"),
        ("Draft", "{'id': int, 'note?': str, 'rank': int}"),
        ("Release", "{'id': int, 'note?': str, 'rank': int, 'cover?': bytes, 'label': int}"),
    ],
)
def test_typed_dict_flags_under_postponed_annotations_follow_the_markers(name, text, tmp_path, monkeypatch):
    (tmp_path / "postponed_typed_dicts.py").write_text(POSTPONED_TYPED_DICTS)
    monkeypatch.syspath_prepend(str(tmp_path))
    monkeypatch.delitem(sys.modules, "postponed_typed_dicts", raising=False)
    module = importlib.import_module("postponed_typed_dicts")
    assert repr(Validator(getattr(module, name))) == text


def test_typed_dict_class_is_not_pooled():
    # membership asks only for a dict with the declared keys
    class Other(TypedDict):
        title: str
        year: NotRequired[int]

    assert Validator(Other) == Validator(Movie)


# --- enums

class Colour(enum.Enum):
    RED = 1


class Level(enum.IntEnum):
    LOW = 1


class Flags(enum.Flag):
    A = 1


@pytest.mark.parametrize("cls", [Colour, Level, Flags])
def test_enum_classes_are_instance_tests(cls):
    v = Validator(cls)
    assert repr(v) == cls.__name__
    assert hash(v) == expected_hash(instance(0))
    assert v != Validator(int)


# --- dataclasses and named tuples

@dataclasses.dataclass
class Point:
    x: int
    y: str = "origin"


@dataclasses.dataclass
class Point3(Point):
    z: float = 0.0


@dataclasses.dataclass
class Tagged:
    kind: Literal["t"]
    value: int


@dataclasses.dataclass
class Empty:
    pass


class Pair(NamedTuple):
    left: int
    right: bytes = b""


def test_dataclass_attributes_are_all_required_in_hint_order():
    assert repr(Validator(Point)) == "Point"
    assert hash(Validator(Point)) == expected_hash(obj(0, field("x", INT), field("y", STR)))
    assert hash(Validator(Point3)) == expected_hash(
        obj(0, field("x", INT), field("y", STR), field("z", FLOAT))
    )


def test_dataclass_class_takes_its_pool_slot_before_its_attributes():
    union_of_literal_1 = u64(14) + u64(1) + u64(9) + u64(1)
    assert hash(Validator(Tagged)) == expected_hash(
        obj(0, field("kind", union_of_literal_1), field("value", INT))
    )


def test_dataclass_without_fields_is_an_object_not_an_instance():
    assert hash(Validator(Empty)) == expected_hash(obj(0))


def test_dataclasses_with_the_same_fields_differ_by_class():
    @dataclasses.dataclass
    class Twin:
        x: int
        y: str

    assert hash(Validator(Twin)) == hash(Validator(Point))
    assert Validator(Twin) != Validator(Point)


def test_named_tuple_is_an_object_of_its_fields():
    v = Validator(Pair)
    assert repr(v) == "Pair"
    assert hash(v) == expected_hash(obj(0, field("left", INT), field("right", BYTES)))


class PlainBase:
    note: str


@dataclasses.dataclass
class WithClassVar:
    x: int
    count: ClassVar[int] = 0


@dataclasses.dataclass
class WithInitVar:
    x: int
    seed: dataclasses.InitVar[int] = 0


@dataclasses.dataclass
class WithInitVarNoDefault:
    x: int
    seed: dataclasses.InitVar[int]


@dataclasses.dataclass
class WithKwOnly:
    x: int
    _: dataclasses.KW_ONLY
    y: str = ""


@dataclasses.dataclass
class OverPlainBase(PlainBase):
    x: int


@dataclasses.dataclass
class OverDataclass(Point):
    z: bytes = b""
    x: int = 0


@pytest.mark.parametrize(
    "cls, attributes, member",
    [
        (WithClassVar, [field("x", INT)], WithClassVar(1)),
        (WithInitVar, [field("x", INT)], WithInitVar(1, 5)),
        (WithInitVarNoDefault, [field("x", INT)], WithInitVarNoDefault(1, 5)),
        (WithKwOnly, [field("x", INT), field("y", STR)], WithKwOnly(1, y="a")),
        (OverPlainBase, [field("x", INT)], OverPlainBase(1)),
        (OverDataclass, [field("x", INT), field("y", STR), field("z", BYTES)], OverDataclass(1, "a")),
    ],
)
def test_dataclass_attributes_are_its_fields(cls, attributes, member):
    v = Validator(cls)
    assert hash(v) == expected_hash(obj(0, *attributes))
    assert v.is_valid(member)
    v.validate(member)


def test_dataclass_field_is_still_typed_by_its_hint():
    bad = WithKwOnly(1, y=2)
    with pytest.raises(kestrome.ValidationError) as info:
        Validator(WithKwOnly).validate(bad)
    assert info.value.path == ("y",)
    assert info.value.code == "string_type"


def test_self_referential_dataclass_hits_the_nesting_guard():
    @dataclasses.dataclass
    class Node:
        next: "Node"

    Node.__annotations__["next"] = Node
    with pytest.raises(NotImplementedError) as info:
        Validator(Node)
    assert str(info.value) == (
        "schema nesting is too deep to compile: the frontend descended 128 levels without "
        "reaching a leaf. A class whose own type appears in its fields is recursive and never "
        "bottoms out; write it with recursive(...), which ties the fixpoint explicitly."
    )
    assert repr(Validator(Point)) == "Point"


# --- protocols

class Plain(Protocol):
    def close(self) -> None: ...


@typing.runtime_checkable
class Closable(Protocol):
    def close(self) -> None: ...


def test_runtime_checkable_protocol_is_an_instance_test():
    v = Validator(Closable)
    assert repr(v) == "Closable"
    assert hash(v) == expected_hash(instance(0))


def test_plain_protocol_is_rejected():
    with pytest.raises(NotImplementedError) as info:
        Validator(Plain)
    assert str(info.value) == PROTOCOL_MESSAGE


class _Raises:
    def __init__(self, exc):
        self.exc = exc

    def __bool__(self):
        raise self.exc


def _with_markers(**markers):
    meta = type("Meta", (type,), {
        name: property(lambda cls, value=value: value() if callable(value) else value)
        for name, value in markers.items()
    })
    return meta("Marked", (), {})


def _raise(exc):
    def f():
        raise exc
    return f


@pytest.mark.parametrize(
    "markers, rejected",
    [
        ({"_is_protocol": _raise(KeyboardInterrupt())}, False),
        ({"_is_protocol": _Raises(ValueError())}, False),
        ({"_is_protocol": True, "_is_runtime_protocol": _raise(RuntimeError())}, True),
        ({"_is_protocol": True, "_is_runtime_protocol": _Raises(KeyboardInterrupt())}, True),
        ({"_is_protocol": 1, "_is_runtime_protocol": 0}, True),
        ({"_is_protocol": 1, "_is_runtime_protocol": "yes"}, False),
    ],
)
def test_protocol_markers_that_fail_count_as_false(markers, rejected):
    cls = _with_markers(**markers)
    if rejected:
        with pytest.raises(NotImplementedError) as info:
            Validator(cls)
        assert str(info.value) == PROTOCOL_MESSAGE
    else:
        assert repr(Validator(cls)) == "Marked"


# --- errors of the type-hint machinery

def test_unresolvable_string_annotation_propagates():
    @dataclasses.dataclass
    class Broken:
        x: "Undefined"  # noqa: F821

    with pytest.raises(NameError, match="Undefined"):
        Validator(Broken)


class Boom(Exception):
    pass


def explode():
    raise Boom("from hints")


def test_exception_raised_while_evaluating_hints_propagates_unchanged():
    class BrokenDict(TypedDict):
        x: "explode()"

    with pytest.raises(Boom, match="from hints"):
        Validator(BrokenDict)


@pytest.fixture
def hints(monkeypatch):
    """Replace typing.get_type_hints by one returning a prepared object."""
    calls = []

    def install(result):
        def fake(cls, *args, **kwargs):
            calls.append((cls, args, kwargs))
            return result() if callable(result) else result
        monkeypatch.setattr(typing, "get_type_hints", fake)
        return calls

    return install


def test_hints_are_fetched_with_extras_on_every_compile(hints):
    calls = hints({"x": int})
    Validator(Point)
    Validator(Point)
    assert calls == [(Point, (), {"include_extras": True})] * 2


@pytest.mark.parametrize(
    "result, message",
    [
        ([("x", int)], "'list' object is not an instance of 'dict'"),
        (None, "'None' is not an instance of 'dict'"),
    ],
)
@pytest.mark.parametrize("cls", [Point, Movie])
def test_hints_that_are_not_a_dict_raise_type_error(hints, cls, result, message):
    hints(lambda: result)
    with pytest.raises(TypeError) as info:
        Validator(cls)
    assert str(info.value) == message


class Key:
    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


class BadKey:
    def __str__(self):
        raise LookupError("no text")


def test_hint_keys_are_named_by_their_str(hints):
    class Name(str):
        def __str__(self):
            return "renamed"

    hints({Key("a"): int, Name("b"): str})
    assert hash(Validator(Pair)) == expected_hash(obj(0, field("a", INT), field("renamed", STR)))


def test_dict_subclass_hints_are_accepted(hints):
    class Hints(dict):
        pass

    hints(Hints(x=int))
    assert hash(Validator(Pair)) == expected_hash(obj(0, field("x", INT)))


@pytest.mark.parametrize("cls", [Pair, Movie])
def test_hint_key_errors_propagate(hints, cls):
    hints({BadKey(): int})
    with pytest.raises(LookupError, match="no text"):
        Validator(cls)
    hints({"\ud800": int})
    with pytest.raises(ValueError) as info:
        Validator(cls)
    assert str(info.value) == "a record key must be valid Unicode; a field name cannot contain a lone surrogate"


def test_hint_value_errors_propagate(hints):
    hints({"x": (int, str)})
    with pytest.raises(NotImplementedError, match="a tuple literal is not a schema"):
        Validator(Point)


def test_typed_dict_required_flag_tests_the_hint_key_itself(hints, monkeypatch):
    a, b = Key("a"), Key("a")
    hints({a: int, b: str})
    monkeypatch.setattr(Movie, "__required_keys__", frozenset({a}), raising=False)
    assert hash(Validator(Movie)) == expected_hash(record(field("a", INT), field("a", STR, False)))


def test_typed_dict_membership_test_errors_propagate(hints, monkeypatch):
    class Keys:
        def __contains__(self, key):
            raise ArithmeticError("cannot tell")

    hints({"a": int})
    monkeypatch.setattr(Movie, "__required_keys__", Keys(), raising=False)
    with pytest.raises(ArithmeticError, match="cannot tell"):
        Validator(Movie)


class Mutates:
    """A NewType-like hint that edits the hints dict while it is compiled."""

    def __init__(self, target, edit):
        self.target, self.edit, self.done = target, edit, False

    @property
    def __supertype__(self):
        if not self.done:
            self.done = True
            self.edit(self.target)
        return int


def _grow(d):
    d["late"] = str


def _swap(d):
    del d["x"]
    d["late"] = str


@pytest.mark.parametrize(
    "edit, message",
    [
        (_grow, "dictionary changed size during iteration"),
        (_swap, "dictionary keys changed during iteration"),
    ],
)
@pytest.mark.parametrize("cls", [Pair, Movie])
def test_hints_dict_changed_while_compiling_is_an_internal_failure(hints, cls, edit, message):
    d = {}
    d["x"] = Mutates(d, edit)
    d["y"] = str
    hints(d)
    with pytest.raises(BaseException) as info:
        Validator(cls)
    assert not isinstance(info.value, Exception)
    assert str(info.value) == message
    assert repr(Validator(list[int])) == "list[int]"


# --- hints read from the annotations give what typing.get_type_hints gives

class Inner(TypedDict):
    a: int


class Shapes(TypedDict):
    none: None
    optional: typing.Optional[int]
    either: int | None
    literal: Literal["a", 1, True, None, b"x", Colour.RED]
    annotated: Annotated[int, Gt(0)]
    items: list[int]
    table: dict[str, list[tuple[int, ...]]]
    old_list: typing.List[int]
    nested: Inner


class Forward(TypedDict):
    later: list["int"]
    named: "Inner"
    optional_named: typing.Optional["Inner"]


@dataclasses.dataclass
class Base:
    x: int
    y: str


@dataclasses.dataclass
class Override(Base):
    x: bool
    z: list[Base]


@typing.no_type_check
@dataclasses.dataclass
class Unchecked:
    x: int


class NoCheckMeta(type):
    def __getattr__(cls, name):
        if name == "__no_type_check__":
            return True
        raise AttributeError(name)


@dataclasses.dataclass
class MetaUnchecked(metaclass=NoCheckMeta):
    x: int


class Text(str):
    pass


@dataclasses.dataclass
class TextHint:
    x: int


TextHint.__annotations__["x"] = Text("int")  # a forward reference to get_type_hints


@pytest.mark.parametrize(
    "cls", [Movie, Partial, Child, Shapes, Forward, Point, Point3, Tagged, Empty, Pair, Base, Override, Unchecked,
            MetaUnchecked, TextHint])
def test_hints_match_those_of_get_type_hints_itself(monkeypatch, cls):
    read = Validator(cls)
    real = typing.get_type_hints
    monkeypatch.setattr(typing, "get_type_hints", lambda *args, **kwargs: real(*args, **kwargs))
    asked = Validator(cls)
    assert repr(read) == repr(asked)
    assert hash(read) == hash(asked)


def get_type_hints_calls(build):
    """How many times typing.get_type_hints runs while `build` runs."""
    code, calls = typing.get_type_hints.__code__, []

    def profile(frame, event, arg):
        if event == "call" and frame.f_code is code:
            calls.append(1)

    sys.setprofile(profile)
    try:
        build()
    finally:
        sys.setprofile(None)
    return len(calls)


@pytest.mark.parametrize(
    "cls, settled",
    [(Base, True), (Override, True), (Shapes, True), (Movie, True), (Point, True), (Empty, True),
     (Forward, False), (TextHint, False)],
)
def test_settled_hints_are_read_without_running_get_type_hints(cls, settled):
    Validator(cls)  # annotations made on demand are made once, by the first compile
    assert (get_type_hints_calls(lambda: Validator(cls)) == 0) is settled


@pytest.mark.parametrize("make", [
    lambda: TypedDict("Fresh", {"a": int, "b": list[str]}),
    lambda: dataclasses.make_dataclass("Fresh", [("a", int), ("b", list[int])]),
    lambda: type("Fresh", (Base,), {"__annotations__": {"z": Colour}}),
])
def test_fresh_classes_are_read_without_running_get_type_hints(make):
    cls = make()
    assert get_type_hints_calls(lambda: Validator(cls)) == 0


@pytest.mark.skipif(sys.version_info < (3, 14), reason="annotations are evaluated when the class is made")
def test_annotations_that_fail_when_made_fail_the_compile_as_get_type_hints_does():
    namespace = {"TypedDict": TypedDict}
    exec("class Late(TypedDict):\n    a: Undefined\n", namespace)
    with pytest.raises(NameError, match="Undefined"):
        Validator(namespace["Late"])
    namespace["Undefined"] = int
    assert Validator(namespace["Late"]).is_valid({"a": 1})


@pytest.mark.parametrize("cls", [Unchecked, MetaUnchecked])
def test_classes_marked_no_type_check_have_no_hints(cls):
    assert hash(Validator(cls)) == expected_hash(obj(0))


def holder_replacing_its_annotations_when_read():
    """A dataclass with an annotation whose __class__, read by isinstance,
    replaces the class's annotations while they are being read."""
    @dataclasses.dataclass
    class Holder:
        x: int

    class Sneaky:
        @property
        def __class__(self):
            Holder.__annotations__ = {"x": int}
            return Sneaky

    Holder.__annotations__["y"] = Sneaky()
    return Holder


def test_annotations_replaced_while_read_give_what_get_type_hints_gives(monkeypatch):
    read = Validator(holder_replacing_its_annotations_when_read())
    real = typing.get_type_hints
    monkeypatch.setattr(typing, "get_type_hints", lambda *args, **kwargs: real(*args, **kwargs))
    assert hash(read) == hash(Validator(holder_replacing_its_annotations_when_read()))
