"""Annotated metadata: duck-typed constraint objects compiled into refinements."""

import re
from types import SimpleNamespace as Meta
from typing import Annotated, Literal

import pytest

from kestrome import Validator

from support import INT, EqTruthless, RaisingEq, expected_hash, u64

ZERO_DIVISOR = "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a nonzero divisor."


def refinement(base, *constraints):
    """Constraints as (variant, pool index) pairs."""
    return u64(19) + base + u64(len(constraints)) + b"".join(u64(k) + u64(i) for k, i in constraints)


GE, GT, LE, LT, MULTIPLE_OF, PREDICATE = 0, 1, 2, 3, 6, 7


def shown(*metadata, base=int):
    return repr(Validator(Annotated[(base, *metadata)]))


class Everything:
    """A callable item that carries every recognised attribute."""

    pattern = "a"
    ge, gt, le, lt = 1, 2, 3, 4
    min_length, max_length = 5, 6
    multiple_of = 7

    def __call__(self, value):
        return True


class Index:
    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


class Hostile:
    """Every attribute lookup raises the given exception."""

    def __init__(self, exc):
        object.__setattr__(self, "_exc", exc)

    def __getattribute__(self, name):
        raise object.__getattribute__(self, "_exc")


def is_even(value):
    return value % 2 == 0


# --- which items take part

@pytest.mark.parametrize(
    "metadata",
    [("a note",), (3,), (None,), (Meta(),), (Meta(ge=None, lt=None, multiple_of=None, func=3),)],
)
def test_metadata_without_constraints_leaves_the_base_unchanged(metadata):
    v = Validator(Annotated[(int, *metadata)])
    assert v == Validator(int)
    assert repr(v) == "int"


def test_class_items_are_skipped_whole():
    class Bounds:
        ge = 1
        pattern = "x"
        func = staticmethod(is_even)

    class CallableClass:
        def __call__(self, value):
            return True

    assert Validator(Annotated[int, Bounds, CallableClass, int]) == Validator(int)


def test_one_object_gives_its_constraints_in_collection_order():
    assert shown(Everything(), base=str) == (
        'Annotated[str, Regex("a"), Ge(1), Gt(2), Le(3), Lt(4), MinLen(5), MaxLen(6), '
        "MultipleOf(7), Predicate(...)]"
    )


def test_items_contribute_in_item_order():
    assert shown(Meta(le=10), Meta(ge=1), is_even) == "Annotated[int, Le(10), Ge(1), Predicate(...)]"


def test_none_bounds_are_passed_over():
    assert shown(Meta(ge=1, gt=None, le=10, lt=None)) == "Annotated[int, Ge(1), Le(10)]"


@pytest.mark.parametrize("bound", ["x", 1.5, b"", (1, 2), [3]])
def test_bounds_of_any_type_are_kept_as_given(bound):
    assert shown(Meta(gt=bound)) == f"Annotated[int, Gt({bound!r})]"


def test_bounds_are_pooled_by_identity():
    shared = int("1" * 30)  # too large for any interpreter to share
    twin = int("1" * 30)
    assert hash(Validator(Annotated[int, Meta(ge=shared, le=shared)])) == expected_hash(
        refinement(INT, (GE, 0), (LE, 0))
    )
    assert hash(Validator(Annotated[int, Meta(ge=shared, le=twin)])) == expected_hash(
        refinement(INT, (GE, 0), (LE, 1))
    )


def test_base_constants_are_pooled_before_the_metadata():
    base_literal = u64(14) + u64(1) + u64(9) + u64(0)
    assert hash(Validator(Annotated[Literal["x"], Meta(gt=5), is_even])) == expected_hash(
        refinement(base_literal, (GT, 1), (PREDICATE, 2))
    )


def test_failing_base_stops_before_metadata_is_read():
    with pytest.raises(NotImplementedError, match="^a set literal"):
        Validator(Annotated[list[{int}], Hostile(AssertionError("metadata read"))])


# --- lengths

@pytest.mark.parametrize(
    "value, text",
    [
        (0, "0"),
        (3, "3"),
        (True, "1"),
        (Index(3), "3"),
        (2**64 - 1, "18446744073709551615"),
    ],
)
@pytest.mark.parametrize("name, label", [("min_length", "MinLen"), ("max_length", "MaxLen")])
def test_lengths_convert_to_counts(name, label, value, text):
    assert shown(Meta(**{name: value}), base=str) == f"Annotated[str, {label}({text})]"


class BadIndex:
    def __index__(self):
        raise KeyboardInterrupt


@pytest.mark.parametrize("value", [-1, None, 1.5, 2**64, "3", Index(-2), BadIndex()])
@pytest.mark.parametrize("name", ["min_length", "max_length"])
def test_lengths_that_do_not_convert_are_passed_over(name, value):
    assert Validator(Annotated[str, Meta(**{name: value})]) == Validator(str)


# --- divisors

class EqualsZero:
    def __eq__(self, other):
        return other == 0

    __hash__ = object.__hash__


@pytest.mark.parametrize("divisor", [0, 0.0, -0.0, False, 0j, EqualsZero()])
def test_zero_divisor_is_rejected(divisor):
    with pytest.raises(ValueError) as info:
        Validator(Annotated[int, Meta(multiple_of=divisor)])
    assert str(info.value) == ZERO_DIVISOR


@pytest.mark.parametrize(
    "divisor, text",
    [
        (2, "2"),
        (0.5, "0.5"),
        (True, "True"),
        (RaisingEq(ValueError("no")), "RaisingEq()"),
        (RaisingEq(KeyboardInterrupt()), "RaisingEq()"),
        (EqTruthless(RuntimeError("no truth")), "EqTruthless()"),
    ],
)
def test_nonzero_or_undecidable_divisors_are_accepted(divisor, text):
    assert shown(Meta(multiple_of=divisor)) == f"Annotated[int, MultipleOf({text})]"


def test_rejection_stops_reading_later_items():
    with pytest.raises(ValueError) as info:
        Validator(Annotated[int, Meta(multiple_of=0), Hostile(AssertionError("read"))])
    assert str(info.value) == ZERO_DIVISOR


# --- predicates

def test_callable_item_is_the_predicate_and_its_func_is_not_read():
    class Check:
        func = staticmethod(is_even)

        def __call__(self, value):
            return True

    item = Check()
    v = Validator(Annotated[int, item])
    assert repr(v) == "Annotated[int, Predicate(...)]"
    assert v == Validator(Annotated[int, Meta(func=item)])
    assert v != Validator(Annotated[int, is_even])


def test_non_callable_item_with_callable_func_gives_that_func():
    v = Validator(Annotated[int, Meta(func=is_even)])
    assert repr(v) == "Annotated[int, Predicate(...)]"
    assert v == Validator(Annotated[int, is_even])
    assert v != Validator(Annotated[int, lambda x: True])


# --- patterns

@pytest.mark.parametrize(
    "item, text",
    [
        (Meta(pattern="a|b"), 'Regex("a|b")'),
        (re.compile(r"\d+"), r'Regex("\\d+")'),
        (Meta(pattern=type("Sub", (str,), {})("x+")), 'Regex("x+")'),
    ],
)
def test_patterns_are_kept_as_written(item, text):
    assert shown(item, base=str) == f"Annotated[str, {text}]"


@pytest.mark.parametrize(
    "item",
    [Meta(pattern=None), Meta(pattern=b"x"), re.compile(rb"\d"), Meta(pattern="\ud800"), Meta(pattern=3)],
)
def test_non_text_patterns_are_passed_over(item):
    assert Validator(Annotated[str, item]) == Validator(str)


@pytest.mark.parametrize(
    "pattern, quoted",
    [
        ("(", '"("'),
        ("a)", '"a)"'),
        ("[", '"["'),
        ("\\", '"\\\\"'),
        ('x"(', '"x\\"("'),
        ("\t(", '"\\t("'),
        ("(?=a)", '"(?=a)"'),
        # balanced only once wrapped in a group: it must not escape the anchors
        ("a)|(?:b", '"a)|(?:b"'),
    ],
)
def test_invalid_regular_expression_is_rejected_with_its_pattern(pattern, quoted):
    with pytest.raises(ValueError) as info:
        Validator(Annotated[str, Meta(pattern=pattern)])
    message = str(info.value)
    prefix = f"invalid regular expression {quoted}: "
    assert message.startswith(prefix)
    assert len(message) > len(prefix)


# --- lookups that fail

@pytest.mark.parametrize(
    "exc",
    [AttributeError("gone"), KeyboardInterrupt(), RuntimeError("boom"), MemoryError(), SystemExit(3)],
)
def test_failing_attribute_lookups_count_as_absent(exc):
    assert Validator(Annotated[int, Hostile(exc)]) == Validator(int)


def test_one_failing_attribute_does_not_hide_the_others():
    class Partly:
        le = 5
        func = staticmethod(is_even)

        @property
        def ge(self):
            raise KeyboardInterrupt

        @property
        def pattern(self):
            raise ValueError("no pattern")

        @property
        def min_length(self):
            raise SystemExit(1)

    assert shown(Partly()) == "Annotated[int, Le(5), Predicate(...)]"
