import enum
import typing
from typing import Literal

import pytest

import kestrome
from kestrome import Validator

from support import EqTruthless, RaisingEq, failure


class IntSub(int):
    pass


class FloatSub(float):
    pass


class StrSub(str):
    pass


class BytesSub(bytes):
    pass


class ClaimsStr:
    """isinstance() says str, but the object's own type is not."""

    @property
    def __class__(self):
        return str


SCALARS = [
    # schema, members, non-members, code, expected
    (int, [0, -7, 10**100, True, False, IntSub(3)], [1.0, "1", None, b"1", 1j], "int_type", "int"),
    (bool, [True, False], [1, 0, IntSub(1), None, "True"], "bool_type", "bool"),
    (float, [1.0, float("nan"), FloatSub(2.5)], [1, True, "1.0", None], "float_type", "float"),
    (str, ["", "a", StrSub("a")], [b"a", ClaimsStr(), 1, None], "string_type", "str"),
    (bytes, [b"", b"a", BytesSub(b"a")], [bytearray(b"a"), memoryview(b"a"), "a"], "bytes_type", "bytes"),
    (None, [None], [0, False, "", [], "None"], "none_type", "None"),
    (type(None), [None], [0, False], "none_type", "None"),
]


@pytest.mark.parametrize("schema, members, others, code, expected", SCALARS)
def test_scalar_kinds_test_the_value_own_type(schema, members, others, code, expected):
    v = Validator(schema)
    for x in members:
        assert v.is_valid(x), x
        assert v.validate(x) is None
    for x in others:
        assert not v.is_valid(x), x
        e = failure(v, x)
        assert (e.code, e.expected, e.value, e.path) == (code, expected, repr(x), ())
        assert str(e) == f"expected {expected}, got {x!r} [{code}]"


def test_class_attribute_claiming_str_is_not_a_str():
    obj = ClaimsStr()
    assert isinstance(obj, str)
    assert not Validator(str).is_valid(obj)
    assert obj not in Validator(str)


class Color(enum.Enum):
    RED = 1
    GREEN = 2


class Level(enum.IntEnum):
    LOW = 1


class Other(enum.Enum):
    RED = 1


LITERALS = [
    # constant, members, non-members
    (1, [1], [True, 1.0, IntSub(1), Level.LOW, 2, "1"]),
    (True, [True], [1, 1.0, False]),
    (1.0, [1.0], [1, True, FloatSub(1.0)]),
    ("a", ["a"], [StrSub("a"), b"a", "A"]),
    (b"a", [b"a"], [bytearray(b"a"), BytesSub(b"a")]),
    (Color.RED, [Color.RED], [1, Other.RED, Color.GREEN]),
    (Level.LOW, [Level.LOW], [1, True]),
    (10**100, [10**100], [10**100 + 1, float(10**100)]),
    ((2**64), [2**64], [2**64 - 1]),
]


@pytest.mark.parametrize("constant, members, others", LITERALS)
def test_literal_needs_the_same_type_and_equality(constant, members, others):
    for v in (Validator(constant), Validator(Literal[constant])):
        for x in members:
            assert v.is_valid(x), x
            v.validate(x)
        for x in others:
            assert not v.is_valid(x), x
            assert x not in v


def test_literal_record():
    e = failure(Validator(1), True)
    assert (e.code, e.expected, e.value, e.path) == ("literal_error", "the literal 1", "True", ())
    e = failure(Validator("a"), "b")
    assert e.expected == "the literal 'a'"
    assert str(e) == "expected the literal 'a', got 'b' [literal_error]"


def test_literal_compares_value_on_the_left():
    calls = []

    class Tracked:
        def __init__(self, name):
            self.name = name

        def __eq__(self, other):
            calls.append((self.name, other.name))
            return True

        __hash__ = object.__hash__

    v = Validator(Tracked("constant"))
    assert v.is_valid(Tracked("value"))
    assert calls == [("value", "constant")]


@pytest.mark.parametrize("exc", [ValueError("bad"), TypeError("bad"), LookupError("bad"), ArithmeticError()])
def test_ordinary_exception_from_eq_is_a_non_member(exc):
    v = Validator(RaisingEq(exc))
    assert not v.is_valid(RaisingEq(exc))
    e = failure(v, RaisingEq(exc))
    assert (e.code, e.expected, e.value) == ("literal_error", "the literal RaisingEq()", "RaisingEq()")


def test_raising_truth_of_eq_result_is_a_non_member():
    v = Validator(EqTruthless(ValueError("no truth")))
    assert not v.is_valid(EqTruthless(ValueError("no truth")))
    assert failure(v, EqTruthless(ValueError("no truth"))).code == "literal_error"


class CustomBase(BaseException):
    pass


class MyMemoryError(MemoryError):
    pass


@pytest.mark.parametrize(
    "exc_type",
    [KeyboardInterrupt, SystemExit, GeneratorExit, CustomBase, MemoryError, MyMemoryError, RecursionError],
)
def test_fatal_exception_from_eq_propagates_unchanged(exc_type):
    exc = exc_type("stop")
    v = Validator(RaisingEq(exc))
    for call in (v.validate, v.is_valid, v.ensure, lambda x: x in v):
        with pytest.raises(exc_type) as info:
            call(RaisingEq(exc))
        assert info.value is exc


class Plain:
    pass


class PlainChild(Plain):
    pass


class PretendsPlain:
    @property
    def __class__(self):
        return Plain


def test_instance_check_honours_subclasses_and_class_attribute():
    v = Validator(Plain)
    assert v.is_valid(Plain())
    assert v.is_valid(PlainChild())
    # unlike the built-in type tests, the instance test runs isinstance()
    assert v.is_valid(PretendsPlain())
    assert not v.is_valid(object())
    e = failure(v, 5)
    assert (e.code, e.expected, e.value) == ("instance_type", "Plain", "5")


class RaisingMeta(type):
    exc = TypeError("no")

    def __instancecheck__(cls, obj):
        raise cls.exc


class Guarded(metaclass=RaisingMeta):
    pass


class AcceptAllMeta(type):
    def __instancecheck__(cls, obj):
        return True


class Everything(metaclass=AcceptAllMeta):
    pass


def test_metaclass_instancecheck_raising_is_a_non_member():
    RaisingMeta.exc = TypeError("no")
    v = Validator(Guarded)
    assert not v.is_valid(1)
    e = failure(v, 1)
    assert (e.code, e.expected, e.value) == ("instance_type", "Guarded", "1")


def test_metaclass_instancecheck_raising_fatal_propagates():
    v = Validator(Guarded)
    RaisingMeta.exc = KeyboardInterrupt()
    try:
        with pytest.raises(KeyboardInterrupt):
            v.validate(1)
        with pytest.raises(KeyboardInterrupt):
            v.is_valid(1)
    finally:
        RaisingMeta.exc = TypeError("no")


def test_metaclass_instancecheck_is_consulted():
    assert Validator(Everything).is_valid(3)


@pytest.mark.parametrize("v", [kestrome.anything, Validator(typing.Any), Validator(kestrome.anything)])
def test_anything_roots_accept_every_value(v):
    for x in (None, 0, "x", [1, [2]], object(), RaisingEq(KeyboardInterrupt())):
        assert v.is_valid(x)
        assert v.validate(x) is None
        assert v.ensure(x) is x


@pytest.mark.parametrize("v", [kestrome.nothing, Validator(kestrome.nothing)])
def test_nothing_root_rejects_every_value(v):
    for x in (None, 0, "x", [], object()):
        assert not v.is_valid(x)
        e = failure(v, x)
        assert (e.code, e.expected, e.value, e.path) == ("no_match", "nothing", repr(x), ())
        assert len(e.errors) == 1


def test_kept_placeholder_rejects_every_value():
    keep = []
    kestrome.recursive(lambda r: keep.append(r) or [r])
    placeholder = keep[0]
    for x in (1, None, [], [[]]):
        assert not placeholder.is_valid(x)
        e = failure(placeholder, x)
        assert (e.code, e.expected, e.value, e.path) == (
            "unresolved_recursion",
            "a resolved recursive value",
            repr(x),
            (),
        )


def test_placeholder_inside_a_schema_records_at_its_path():
    keep = []
    kestrome.recursive(lambda r: keep.append(r) or [r])
    v = Validator(list[keep[0]])
    assert v.is_valid([])
    e = failure(v, [1, 2])
    assert [(d["code"], d["path"]) for d in e.errors] == [
        ("unresolved_recursion", (0,)),
        ("unresolved_recursion", (1,)),
    ]
