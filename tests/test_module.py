"""The module object, its attributes, and the Validator type itself."""

import copy
import gc
import importlib.util
import inspect
import types
import typing
import weakref

import pytest

import kestrome
import kestrome._kestrome as native
from kestrome import Validator, anything, complement, intersection, nothing, recursive, union

from support import bytes_hash, u64

EXPECTED_ALL = [
    "ValidationError",
    "Validator",
    "union",
    "intersection",
    "complement",
    "recursive",
    "anything",
    "nothing",
    "MAX_SCHEMA_DEPTH",
    "MAX_DEFINITIONS",
    "MAX_SCHEMA_NODES",
]

# CPython type flags
HEAPTYPE = 1 << 9
BASETYPE = 1 << 10
HAVE_GC = 1 << 14
IMMUTABLETYPE = 1 << 8


# ---------------------------------------------------------------- module


def test_all_lists_every_public_name_in_order():
    assert native.__all__ == EXPECTED_ALL
    assert kestrome.__all__ == EXPECTED_ALL
    for name in EXPECTED_ALL:
        assert getattr(kestrome, name) is getattr(native, name)


@pytest.mark.parametrize(
    "name, value",
    [("MAX_SCHEMA_DEPTH", 128), ("MAX_DEFINITIONS", 128), ("MAX_SCHEMA_NODES", 100000)],
)
def test_limit_constants_are_plain_ints(name, value):
    got = getattr(native, name)
    assert type(got) is int
    assert got == value


def test_module_has_a_docstring():
    assert isinstance(native.__doc__, str) and native.__doc__.strip()


def test_validation_error_is_an_ordinary_exception_type():
    err = native.ValidationError
    assert isinstance(err, type)
    assert issubclass(err, Exception)
    assert err.__module__ == "_kestrome"
    assert err.__doc__ == "Raised when a value is not a member of a schema's set."


@pytest.mark.parametrize(
    "func, signature, first_sentence",
    [
        (union, "(*schemas)", "The union of the given schemas: a value in at least one of their sets."),
        (
            intersection,
            "(*schemas)",
            "The intersection of the given schemas: a value in every one of their sets.",
        ),
        (complement, "(schema)", "The complement of a schema: every value not in its set."),
        (recursive, "(builder)", "Build a recursive schema as a checked fixpoint."),
    ],
)
def test_functions_are_builtins_bound_to_the_module(func, signature, first_sentence):
    assert isinstance(func, types.BuiltinFunctionType)
    assert func.__self__ is native
    assert func.__module__ == native.__name__ == "kestrome._kestrome"
    assert getattr(native, func.__name__) is func
    assert func.__text_signature__ == signature
    assert func.__doc__.startswith(first_sentence)


def test_each_module_execution_gets_its_own_instances_but_shares_the_types():
    found = importlib.util.find_spec("kestrome._kestrome")
    fresh = importlib.util.module_from_spec(found)
    found.loader.exec_module(fresh)
    assert fresh is not native
    assert fresh.__all__ == EXPECTED_ALL
    assert fresh.Validator is Validator
    assert fresh.ValidationError is native.ValidationError
    assert fresh.anything is not anything and fresh.anything == anything
    assert fresh.nothing is not nothing and fresh.nothing == nothing
    assert fresh.union is not union
    assert fresh.union.__self__ is fresh
    assert repr(fresh.union(int, None)) == "int | None"


# ---------------------------------------------------------- Validator type


def test_validator_type_identity():
    assert Validator.__name__ == "Validator"
    assert Validator.__qualname__ == "Validator"
    assert Validator.__module__ == "kestrome._kestrome"
    assert Validator.__bases__ == (object,)
    assert str(inspect.signature(Validator)) == "(schema)"
    assert Validator.__doc__.startswith("A compiled, immutable schema validator.")


def test_validator_type_flags():
    flags = Validator.__flags__
    assert flags & HEAPTYPE
    assert not flags & BASETYPE
    assert flags & HAVE_GC
    assert not flags & IMMUTABLETYPE


def test_validator_class_object_accepts_new_attributes():
    Validator._scratch_attribute = 1
    try:
        assert Validator._scratch_attribute == 1
    finally:
        del Validator._scratch_attribute


def test_validator_cannot_be_subclassed():
    with pytest.raises(TypeError, match="is not an acceptable base type"):

        class Sub(Validator):  # noqa: F841
            pass


def test_instances_have_no_attributes_or_weakrefs_and_are_gc_tracked():
    v = Validator(int)
    with pytest.raises(AttributeError):
        v.extra = 1
    with pytest.raises(AttributeError):
        v.__dict__
    with pytest.raises(TypeError):
        weakref.ref(v)
    assert gc.is_tracked(v)


def test_copy_hook_signatures():
    assert Validator.__copy__.__text_signature__ == "($self)"
    assert Validator.__deepcopy__.__text_signature__ == "($self, _memo)"


# ------------------------------------------------------------ constructor


def test_schema_may_be_given_by_keyword():
    assert Validator(schema=int) == Validator(int)
    assert repr(Validator(schema=list[str])) == "list[str]"


def test_none_is_an_accepted_schema():
    assert repr(Validator(None)) == "None"
    assert repr(Validator(schema=None)) == "None"


def _call(func, /, *args, **kwargs):
    return lambda: func(*args, **kwargs)


@pytest.mark.parametrize(
    "call, message",
    [
        (_call(Validator), "Validator.__new__() missing 1 required positional argument: 'schema'"),
        (_call(Validator, int, str), "Validator.__new__() takes 1 positional arguments but 2 were given"),
        (
            _call(Validator, int, str, float),
            "Validator.__new__() takes 1 positional arguments but 3 were given",
        ),
        (_call(Validator, int, schema=str), "Validator.__new__() got multiple values for argument 'schema'"),
        (_call(Validator, kind=int), "Validator.__new__() got an unexpected keyword argument 'kind'"),
        # positional count is checked before any keyword
        (
            _call(Validator, int, str, kind=int),
            "Validator.__new__() takes 1 positional arguments but 2 were given",
        ),
        # keywords are checked in the order given
        (
            _call(Validator, int, kind=1, schema=2),
            "Validator.__new__() got an unexpected keyword argument 'kind'",
        ),
        (
            _call(Validator, int, schema=2, kind=1),
            "Validator.__new__() got multiple values for argument 'schema'",
        ),
        # an unknown keyword is reported before the missing argument
        (_call(Validator, kind=1), "Validator.__new__() got an unexpected keyword argument 'kind'"),
        (_call(complement), "complement() missing 1 required positional argument: 'schema'"),
        (_call(complement, int, str), "complement() takes 1 positional arguments but 2 were given"),
        (_call(complement, int, schema=str), "complement() got multiple values for argument 'schema'"),
        (_call(complement, x=int), "complement() got an unexpected keyword argument 'x'"),
        (_call(recursive), "recursive() missing 1 required positional argument: 'builder'"),
        (_call(recursive, list, list), "recursive() takes 1 positional arguments but 2 were given"),
        (_call(recursive, f=list), "recursive() got an unexpected keyword argument 'f'"),
        (_call(union, schemas=int), "union() got an unexpected keyword argument 'schemas'"),
        (_call(union, int, str, x=1), "union() got an unexpected keyword argument 'x'"),
        (_call(intersection, schemas=int), "intersection() got an unexpected keyword argument 'schemas'"),
        (
            _call(Validator(int).__deepcopy__),
            "Validator.__deepcopy__() missing 1 required positional argument: '_memo'",
        ),
        (
            _call(Validator(int).__deepcopy__, {}, {}),
            "Validator.__deepcopy__() takes 1 positional arguments but 2 were given",
        ),
        (
            _call(Validator(int).__deepcopy__, memo={}),
            "Validator.__deepcopy__() got an unexpected keyword argument 'memo'",
        ),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keyword_forms_that_are_accepted():
    assert repr(complement(schema=int)) == "complement(int)"
    assert repr(recursive(builder=lambda r: [r])) == "list[...]"
    v = Validator(int)
    assert v.__deepcopy__(_memo=None) == v
    assert v.__deepcopy__("any object at all") == v


def test_failed_construction_leaves_the_module_usable():
    with pytest.raises(NotImplementedError):
        Validator(set())
    assert repr(Validator(int)) == "int"
    assert copy.copy(anything) == anything


# ---------------------------------------------------- anything and nothing


def test_anything_and_nothing_are_ready_made_validators():
    assert type(anything) is Validator and type(nothing) is Validator
    assert repr(anything) == "anything"
    assert repr(nothing) == "nothing"
    assert anything == Validator(object) == intersection()
    assert nothing == union() == Validator(typing.NoReturn)
    assert anything != nothing


@pytest.mark.parametrize("validator, kind", [(anything, 0), (nothing, 2)])
def test_anything_and_nothing_hash_their_single_node(validator, kind):
    assert hash(validator) == bytes_hash(u64(kind) + u64(0))
