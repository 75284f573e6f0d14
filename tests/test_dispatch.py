"""How a schema is recognised and compiled: None, typing names, literal values, dict
literals, rejected values and typing constructs, NewType, the nesting guard, and
the value texts used in renderings and messages."""

import collections
import dataclasses
import enum
import subprocess
import sys
import textwrap
import threading
import typing
from types import SimpleNamespace

import pytest

from kestrome import Validator, anything, complement, intersection, nothing, recursive, union

from support import (
    ANY,
    ANYTHING,
    INT,
    NONE,
    NOTHING,
    SET_MESSAGE,
    STR,
    TUPLE_MESSAGE,
    BadRepr,
    Repr,
    bytes_hashes,
    field,
    u64,
)

CONSTRUCT_MESSAGE = (
    "{} is a typing construct, not a value: a type variable, ParamSpec, TypeVarTuple, or special form "
    "(such as Final or ClassVar) cannot be a schema; use a concrete type"
)
GUARD_MESSAGE = (
    "schema nesting is too deep to compile: the frontend descended 128 levels without reaching a leaf. "
    "A class whose own type appears in its fields is recursive and never bottoms out; write it with "
    "recursive(...), which ties the fixpoint explicitly."
)
SURROGATE_MESSAGE = "a record key must be valid Unicode; a field name cannot contain a lone surrogate"


# ------------------------------------------------------------- hash feed

def literal(index):
    return u64(9) + u64(index)


def back_edge(index):
    return u64(20) + u64(index)


def list_of(item):
    return u64(10) + u64(0) + u64(4) + u64(1) + item


def union_feed(*members):
    return u64(14) + u64(len(members)) + b"".join(members)


def record(fields=(), clauses=()):
    return (
        u64(13)
        + u64(len(fields))
        + b"".join(fields)
        + u64(len(clauses))
        + b"".join(key + value for key, value in clauses)
    )


def validator_feed(root, *definitions):
    return root + u64(len(definitions)) + b"".join(definitions)


# ------------------------------------------------------------- fixtures

class Color(enum.Enum):
    RED = 1


class Hostile:
    """Equality, hashing and truth all raise; interning must not touch them."""

    def __eq__(self, other):
        raise RuntimeError("eq")

    def __hash__(self):
        raise RuntimeError("hash")

    def __bool__(self):
        raise RuntimeError("bool")

    def __repr__(self):
        return "Hostile()"


def newtype_chain(levels, base=int):
    schema = base
    for i in range(levels):
        schema = typing.NewType(f"N{i}", schema)
    return schema


@dataclasses.dataclass
class SelfNode:
    child: "SelfNode"


# ------------------------------------------------------- basic dispatch

@pytest.mark.parametrize(
    "schema, text, root",
    [
        (None, "None", NONE),
        (typing.Any, "Any", ANY),
        (object, "anything", ANYTHING),
        (typing.NoReturn, "nothing", NOTHING),
        (typing.Never, "nothing", NOTHING),
        (int, "int", INT),
        (5, "Literal[5]", literal(0)),
        ({}, "{}", record()),
        ({"a?": int}, "{'a?': int}", record([field("a", INT, 0)])),
        ({"?": int}, "{'?': int}", record([field("", INT, 0)])),
        ({"a??": int}, "{'a??': int}", record([field("a?", INT, 0)])),
        ({"a": int, "a?": str}, "{'a': int, 'a?': str}", record([field("a", INT, 1), field("a", STR, 0)])),
        ({"a": int, "b?": str}, "{'a': int, 'b?': str}", record([field("a", INT, 1), field("b", STR, 0)])),
        ({str: int}, "dict[str, int]", record(clauses=[(STR, INT)])),
        ({1: str}, "dict[Literal[1], str]", record(clauses=[(literal(0), STR)])),
        (
            {"a": int, str: int, "b?": str},
            "{'a': int, 'b?': str, str: int}",
            record([field("a", INT, 1), field("b", STR, 0)], [(STR, INT)]),
        ),
        (list[int], "list[int]", list_of(INT)),
    ],
)
def test_root_node_repr_and_hash_feed(schema, text, root):
    v = Validator(schema)
    assert repr(v) == text
    (expected,) = bytes_hashes(validator_feed(root))
    assert hash(v) == expected


def test_hash_feed_builders_give_the_expected_bytes():
    assert len(list_of(INT)) == 40
    assert record([field("a", INT, 1), field("b", STR, 0)]).hex() == (
        "0d00000000000000" "0200000000000000" "61ff" "0500000000000000" "01"
        "62ff" "0700000000000000" "00" "0000000000000000"
    )


def test_typing_any_is_not_object():
    assert Validator(typing.Any) != Validator(object)
    assert Validator(object) == anything
    assert Validator(typing.Any) == Validator(typing.Any)
    assert hash(Validator(typing.Any)) != hash(anything)


@pytest.mark.parametrize("schema", [typing.Never, typing.NoReturn])
def test_never_and_noreturn_are_nothing(schema):
    assert Validator(schema) == nothing == union()


@pytest.mark.parametrize(
    "schema, text",
    [
        ("a", "Literal['a']"),
        (True, "Literal[True]"),
        (2.5, "Literal[2.5]"),
        (b"x", "Literal[b'x']"),
        (Color.RED, "Literal[<Color.RED: 1>]"),
        (..., "Literal[Ellipsis]"),
        (frozenset(), "Literal[frozenset()]"),
        (frozenset({1}), "Literal[frozenset({1})]"),
        (bytearray(b"x"), "Literal[bytearray(b'x')]"),
        (Hostile(), "Literal[Hostile()]"),
    ],
)
def test_other_values_stand_for_themselves(schema, text):
    assert repr(Validator(schema)) == text


def test_frozenset_subclass_value_is_a_literal():
    class FS(frozenset):
        pass

    assert repr(Validator(FS({1}))) == "Literal[FS({1})]"


def test_validator_inside_a_schema_is_imported():
    assert Validator(Validator(list[int])) == Validator(list[int])
    assert Validator([Validator(int)]) == Validator(list[int])
    assert Validator({"a": Validator(str)}) == Validator({"a": str})


# ------------------------------------------------- interning by identity

def test_one_object_is_pooled_once_and_equal_objects_separately():
    x, y = int("1" * 30), int("1" * 30)  # too large for any interpreter to share
    assert x == y and x is not y
    same, distinct = union(x, x), union(x, y)
    assert repr(same) == repr(distinct) == f"Literal[{x}] | Literal[{x}]"
    assert same != distinct  # literal indices differ: (0, 0) against (0, 1)
    assert [hash(same), hash(distinct)] == bytes_hashes(
        validator_feed(union_feed(literal(0), literal(0))),
        validator_feed(union_feed(literal(0), literal(1))),
    )


def test_equal_distinct_constants_make_equal_validators():
    x, y = int("1" * 30), int("1" * 30)
    assert Validator(x) == Validator(y)
    assert hash(Validator(x)) == hash(Validator(y))
    assert union(x, y) == union(y, x)
    assert union(1, 2) != union(2, 1)


def test_identity_decides_for_nan():
    nan = float("nan")
    assert Validator(nan) == Validator(nan)
    assert Validator(float("nan")) != Validator(float("nan"))


def test_interning_never_calls_eq_or_hash():
    h = Hostile()
    v = union(h, h)
    assert repr(v) == "Literal[Hostile()] | Literal[Hostile()]"
    assert v == v
    (expected,) = bytes_hashes(validator_feed(union_feed(literal(0), literal(0))))
    assert hash(v) == expected


def test_a_validator_used_twice_brings_its_constants_once_and_its_definitions_twice():
    marker = object()
    lit = Validator(marker)
    assert union(lit, lit) == union(marker, marker)

    r = recursive(lambda r: [r])
    doubled = union(r, r)
    assert repr(doubled) == "list[...] | list[...]"
    (expected,) = bytes_hashes(
        validator_feed(
            union_feed(back_edge(0), back_edge(1)),
            list_of(back_edge(0)),
            list_of(back_edge(1)),
        )
    )
    assert hash(doubled) == expected


# --------------------------------------------------------- dict literals

def test_dict_literal_with_class_key_is_dict_alias():
    assert Validator({str: int}) == Validator(dict[str, int])
    assert repr(Validator({object: object})) == "dict[anything, anything]"
    assert repr(Validator({"x": int, object: object})) == "{'x': int, ...}"


def test_fields_keep_insertion_order():
    assert repr(Validator({"b": int, "a": str})) == "{'b': int, 'a': str}"
    assert Validator({"b": int, "a": str}) != Validator({"a": str, "b": int})


def test_str_subclass_keys_and_dict_subclasses():
    class Key(str):
        pass

    assert Validator({Key("x?"): int}) == Validator({"x?": int})
    assert Validator(collections.OrderedDict([("a", int), (str, str)])) == Validator({"a": int, str: str})


def test_record_repr_reads_back_as_the_same_record():
    v = Validator({"a": int, "b?": str, "c??": bytes})
    assert Validator(eval(repr(v))) == v


@pytest.mark.parametrize(
    "schema",
    [
        {"\ud800": int},
        {"a\udfff?": int},
        {"ok": int, "\udc00": str},
        {"\ud800": (1, 2)},  # the key is read before its value is compiled
    ],
)
def test_dict_key_with_lone_surrogate(schema):
    with pytest.raises(ValueError) as info:
        Validator(schema)
    assert str(info.value) == SURROGATE_MESSAGE


def test_lone_surrogate_in_a_value_is_just_a_literal():
    assert repr(Validator({"a": "\ud800"})) == "{'a': Literal['\\ud800']}"


# -------------------------------------------------------------- rejections

Point = collections.namedtuple("Point", "x y")


class SetSub(set):
    pass


@pytest.mark.parametrize(
    "schema, message",
    [
        ((int, str), TUPLE_MESSAGE),
        ((), TUPLE_MESSAGE),
        (Point(int, str), TUPLE_MESSAGE),
        ({int}, SET_MESSAGE),
        (set(), SET_MESSAGE),
        (SetSub([1]), SET_MESSAGE),
        ([(int,)], TUPLE_MESSAGE),
        ({"a": {int}}, SET_MESSAGE),
        ({(1,): {1}}, TUPLE_MESSAGE),  # a catch-all key is compiled before its value
        ({str: {1}}, SET_MESSAGE),
        (typing.NewType("T", (int,)), TUPLE_MESSAGE),
    ],
)
def test_tuple_and_set_values_are_rejected(schema, message):
    with pytest.raises(NotImplementedError) as info:
        Validator(schema)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "build, message",
    [
        (lambda: Validator(int) | (1, 2), TUPLE_MESSAGE),
        (lambda: (1, 2) | Validator(int), TUPLE_MESSAGE),
        (lambda: union(int, (1, 2), {1}), TUPLE_MESSAGE),
        (lambda: intersection(int, {1}), SET_MESSAGE),
        (lambda: complement(()), TUPLE_MESSAGE),
        (lambda: recursive(lambda r: {r}), SET_MESSAGE),
    ],
)
def test_rejections_propagate_through_combinators(build, message):
    with pytest.raises(NotImplementedError) as info:
        build()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "schema, shown",
    [
        (typing.TypeVar("T"), "~T"),
        (typing.ParamSpec("P"), "~P"),
        (typing.TypeVarTuple("Ts"), repr(typing.TypeVarTuple("Ts"))),  # "~Ts" from 3.15 on
        (typing.ClassVar, "typing.ClassVar"),
        (typing.Final, "typing.Final"),
        (typing.Optional, "typing.Optional"),
        (typing.Literal, "typing.Literal"),
        (typing.TypeVar("T" * 100), "~" + "T" * 79 + "..."),
    ],
)
def test_typing_constructs_are_rejected(schema, shown):
    with pytest.raises(NotImplementedError) as info:
        Validator(schema)
    assert str(info.value) == CONSTRUCT_MESSAGE.format(shown)


def test_bare_union_is_rejected_as_a_construct_or_a_special_form():
    # typing.Union is a special form up to 3.13 and a class from 3.14 on.
    with pytest.raises(NotImplementedError) as info:
        Validator(typing.Union)
    if isinstance(typing.Union, type):
        expected = (f"{typing.Union!r} is a typing special form, not a value; write a concrete type "
                    "(for a union, X | Y or Union[X, Y])")
    else:
        expected = CONSTRUCT_MESSAGE.format("typing.Union")
    assert str(info.value) == expected


# ------------------------------------------------------------- NewType

class DictWithSupertype(dict):
    __supertype__ = int


@pytest.mark.parametrize(
    "schema, same_as",
    [
        (typing.NewType("UserId", int), int),
        (typing.NewType("Names", list[str]), list[str]),
        (typing.NewType("Outer", typing.NewType("Inner", str)), str),
        (typing.NewType("Rec", {"a?": int}), {"a?": int}),
        (SimpleNamespace(__supertype__=bytes), bytes),
        (DictWithSupertype(a=str), int),  # the supertype test comes before the dict literal
    ],
)
def test_anything_with_a_supertype_compiles_as_that_supertype(schema, same_as):
    assert Validator(schema) == Validator(same_as)


# ------------------------------------------------------------ type aliases

def type_alias_cases():
    import typing_extensions

    cases = [(typing_extensions.TypeAliasType("IntList", list[int]), "list[int]")]
    if hasattr(typing, "TypeAliasType"):
        cases.append((typing.TypeAliasType("IntList", list[int]), "list[int]"))
    cases.append((typing_extensions.TypeAliasType("Outer", cases[0][0]), "list[int]"))
    cases.append((typing_extensions.TypeAliasType("Pair", tuple[int, str]), "tuple[int, str]"))
    return cases


@pytest.mark.parametrize("alias, text", type_alias_cases())
def test_type_aliases_of_typing_and_typing_extensions_stand_for_their_value(alias, text):
    v = Validator(alias)
    assert repr(v) == text
    assert v.is_valid([1]) == (text == "list[int]")
    assert not v.is_valid(alias)


def test_an_object_named_like_an_alias_class_is_not_one():
    class TypeAliasType:
        __value__ = int

    TypeAliasType.__module__ = "elsewhere"
    alias = TypeAliasType()
    v = Validator(alias)  # a value standing for itself
    assert v.is_valid(alias)
    assert not v.is_valid(1)


# ------------------------------------------------- attribute lookups that raise

class MetadataLookupFails:
    @property
    def __metadata__(self):
        raise LookupError("metadata lookup failed")


class MetadataMissing:
    @property
    def __metadata__(self):
        raise AttributeError("no metadata")

    def __repr__(self):
        return "MetadataMissing()"


class SupertypeLookupFails:
    @property
    def __supertype__(self):
        raise RuntimeError("supertype lookup failed")


def test_metadata_lookup_error_propagates():
    with pytest.raises(LookupError, match="^metadata lookup failed$"):
        Validator(MetadataLookupFails())


def test_supertype_lookup_error_propagates():
    with pytest.raises(RuntimeError, match="^supertype lookup failed$"):
        Validator(SupertypeLookupFails())


def test_metadata_attribute_error_counts_as_absent():
    assert repr(Validator(MetadataMissing())) == "Literal[MetadataMissing()]"


@pytest.mark.parametrize(
    "metadata, message",
    [
        ([SimpleNamespace(ge=0)], "'list' object is not an instance of 'tuple'"),
        (None, "'None' is not an instance of 'tuple'"),
    ],
)
def test_metadata_must_be_a_tuple(metadata, message):
    schema = SimpleNamespace(__origin__=int, __metadata__=metadata)
    with pytest.raises(TypeError) as info:
        Validator(schema)
    assert str(info.value) == message


def test_metadata_tuple_subclass_is_accepted():
    class Meta(tuple):
        pass

    schema = SimpleNamespace(__origin__=int, __metadata__=Meta([SimpleNamespace(ge=0)]))
    assert repr(Validator(schema)) == "Annotated[int, Ge(0)]"


# ------------------------------------------------------- nesting guard

def nested_list_literals(levels):
    schema = int
    for _ in range(levels):
        schema = [schema]
    return schema


def test_128_nested_compiles_are_accepted_and_129_refused():
    assert Validator(newtype_chain(127)) == Validator(int)  # 128 activations
    for _ in range(3):
        with pytest.raises(NotImplementedError) as info:
            Validator(newtype_chain(128))
        assert str(info.value) == GUARD_MESSAGE
    # the counter is back where it started after each refusal
    assert Validator(newtype_chain(127)) == Validator(int)


def test_guard_fires_during_compile_before_any_size_limit():
    with pytest.raises(NotImplementedError) as info:
        Validator(nested_list_literals(128))
    assert str(info.value) == GUARD_MESSAGE


def test_guard_counts_through_combinator_operands():
    with pytest.raises(NotImplementedError) as info:
        union(int, newtype_chain(128))
    assert str(info.value) == GUARD_MESSAGE
    assert union(int, newtype_chain(127)) == union(int, int)


def test_self_referential_dataclass_hits_the_guard():
    with pytest.raises(NotImplementedError) as info:
        Validator(SelfNode)
    assert str(info.value) == GUARD_MESSAGE
    assert Validator(newtype_chain(127)) == Validator(int)


class CompilesInside:
    """Compiling this object runs another compile from Python code while the first is open."""

    def __init__(self, inner_levels, on_thread=False):
        self.inner_levels = inner_levels
        self.on_thread = on_thread

    @property
    def __supertype__(self):
        inner = newtype_chain(self.inner_levels)
        if not self.on_thread:
            Validator(inner)
            return int
        outcome = []

        def run():
            try:
                outcome.append(Validator(inner))
            except BaseException as e:  # noqa: BLE001 - reported to the main thread
                outcome.append(e)

        t = threading.Thread(target=run)
        t.start()
        t.join()
        if isinstance(outcome[0], BaseException):
            raise outcome[0]
        return int


def test_nested_compile_on_the_same_thread_shares_the_counter():
    # the outer activation is open while the inner chain runs
    assert Validator(CompilesInside(126)) == Validator(int)
    with pytest.raises(NotImplementedError) as info:
        Validator(CompilesInside(127))
    assert str(info.value) == GUARD_MESSAGE
    assert Validator(newtype_chain(127)) == Validator(int)


def test_another_thread_has_its_own_counter():
    # 100 activations are open on this thread; the other thread still gets all 128
    assert Validator(newtype_chain(100, CompilesInside(127, on_thread=True))) == Validator(int)


# ------------------------------------------------- dict changed while compiled

class GrowsDict:
    def __init__(self, target):
        self.target = target

    @property
    def __supertype__(self):
        self.target["added"] = int
        return int


class SwapsKey:
    def __init__(self, target):
        self.target = target

    @property
    def __supertype__(self):
        if "first" in self.target:
            del self.target["first"]
            self.target["third"] = int
        return int


def _grown():
    d = {"first": None, "second": int}
    d["first"] = GrowsDict(d)
    return d


def _swapped():
    d = {"first": None, "second": int}
    d["first"] = SwapsKey(d)
    return d


@pytest.mark.parametrize(
    "make, text",
    [
        (_grown, "dictionary changed size during iteration"),
        (_swapped, "dictionary keys changed during iteration"),
    ],
)
def test_dict_changed_during_compile_is_an_internal_failure(make, text):
    with pytest.raises(BaseException) as info:
        Validator(make())
    assert not isinstance(info.value, Exception)
    assert str(info.value) == text
    # nothing is left behind: the module goes on working
    assert repr(Validator({"a": int})) == "{'a': int}"
    assert Validator(newtype_chain(127)) == Validator(int)


# ------------------------------------------------------------ value texts

@pytest.mark.parametrize(
    "text, shown",
    [
        ("x" * 80, "x" * 80),
        ("x" * 81, "x" * 80 + "..."),
        ("\u20ac" * 80, "\u20ac" * 80),  # 240 bytes, still 80 characters
        ("\u20ac" * 81, "\u20ac" * 80 + "..."),
        ("", ""),
        ("a\ud800b", "a\ufffd\ufffd\ufffdb"),
    ],
)
def test_literal_text_is_its_repr_cut_at_80_characters(text, shown):
    assert repr(Validator(Repr(text))) == f"Literal[{shown}]"


@pytest.mark.parametrize("exc", [ValueError("no"), KeyboardInterrupt(), RecursionError(), MemoryError()])
def test_unrepresentable_value(exc):
    v = Validator(BadRepr(exc))
    assert repr(v) == "Literal[<unrepresentable>]"
    assert repr(v) == "Literal[<unrepresentable>]"  # nothing left pending in between


def test_repr_returning_unprintable_str_subclass(monkeypatch):
    class Text(str):
        def __str__(self):
            raise ValueError("cannot print")

    class Odd:
        def __repr__(self):
            return Text("odd")

    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    assert repr(Validator(Odd())) == "Literal[<unprintable Text object>]"
    assert len(seen) == 1 and isinstance(seen[0].exc_value, ValueError)


# --------------------------------------------------- typing names resolution

def test_none_needs_no_typing_and_a_failed_resolution_is_retried():
    code = textwrap.dedent(
        """
        import sys
        import kestrome
        saved = sys.modules.get("typing")
        sys.modules["typing"] = None
        print(repr(kestrome.Validator(None)))
        for _ in range(2):
            try:
                kestrome.Validator(int)
            except ImportError:
                print("ImportError")
        if saved is None:
            del sys.modules["typing"]
        else:
            sys.modules["typing"] = saved
        print(repr(kestrome.Validator(int)), repr(kestrome.Validator(5)))
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, cwd="/")
    assert out.stdout.split("\n") == ["None", "ImportError", "ImportError", "int Literal[5]", ""]


# ------------------------------------- aliases and modules read on each compile

class Boxed:
    """A class whose subscription is a plain generic alias and which carries metadata."""

    __metadata__ = (SimpleNamespace(ge=0),)
    __class_getitem__ = classmethod(type(list[int]))


def test_alias_of_a_class_with_metadata_is_annotated():
    # list[int] forwards attribute lookups to its origin; so does Boxed[int].
    assert repr(Validator(Boxed[int])) == repr(Validator(typing.Annotated[Boxed, SimpleNamespace(ge=0)]))


@pytest.mark.parametrize("shared", [
    pytest.param(typing.Optional[int], marks=pytest.mark.skipif(
        not isinstance(typing.Optional[int], typing._GenericAlias), reason="unions are not typing aliases here")),
    typing.Literal["a", 1],
])
def test_typing_alias_given_metadata_of_its_own_is_read_as_annotated(shared):
    alias = type(shared)(shared.__origin__, shared.__args__)  # typing caches the shared one
    alias.__metadata__ = (SimpleNamespace(ge=0),)
    with pytest.raises(NotImplementedError, match="is a typing construct, not a value"):
        Validator(alias)


@pytest.mark.parametrize(
    "schema, root",
    [
        (typing.Optional[int], union_feed(INT, NONE)),
        (int | None, union_feed(INT, NONE)),
        (typing.Union[int, str], union_feed(INT, STR)),
        (typing.Literal["a", 1, True, b"x", 1.5], union_feed(*(literal(i) for i in range(5)))),
        (typing.Literal["a", "a"], union_feed(literal(0))),
        (list[int], list_of(INT)),
        (typing.List[int], list_of(INT)),
        (dict[str, list[int]], record(clauses=[(STR, list_of(INT))])),
        (tuple[int, ...], u64(10) + u64(1) + u64(4) + u64(1) + INT),
    ],
)
def test_common_aliases_compile_to_the_nodes_of_their_origin_and_arguments(schema, root):
    (expected,) = bytes_hashes(validator_feed(root))
    assert hash(Validator(schema)) == expected


def test_typing_module_is_read_from_sys_modules_on_every_compile(monkeypatch):
    # A replaced typing module is the one asked for hints and markers.
    calls = []

    class Proxy(type(typing)):
        def __getattr__(self, name):
            calls.append(name)
            return getattr(typing, name)

    class Movie(typing.TypedDict):
        title: str
        year: typing.NotRequired[int]

    Validator(int)  # the typing names are resolved before the module is replaced
    monkeypatch.setitem(sys.modules, "typing", Proxy("typing"))
    assert repr(Validator(Movie)) == "{'title': str, 'year?': int}"
    assert "get_type_hints" in calls and "Required" in calls


def test_a_plain_literal_value_still_needs_typing_importable():
    code = textwrap.dedent(
        """
        import sys
        import kestrome
        kestrome.Validator(int)
        sys.modules["typing"] = None
        for schema in (5, "a", int):
            try:
                print(repr(kestrome.Validator(schema)))
            except ImportError:
                print("ImportError")
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, cwd="/")
    assert out.stdout.split("\n") == ["ImportError", "ImportError", "int", ""]
