"""The module combinators union, intersection, complement and recursive, and the | operator.

Everything is observed through repr() and ==: two validators are equal when their trees and
definitions are equal and their pooled constants compare equal pair by pair, so == reveals how
many constants were pooled and in which order.
"""

import dataclasses
from types import SimpleNamespace
from typing import Annotated, Optional, TypedDict

import pytest

from kestrome import Validator, anything, complement, intersection, nothing, recursive, union

from support import DEFINITIONS_MESSAGE, DEPTH_MESSAGE, NODES_MESSAGE, SET_MESSAGE, TUPLE_MESSAGE, self_list

NOT_CONTRACTIVE = (
    "recursive schema is not contractive: the recursive reference must occur under a structural "
    "constructor (a list, tuple, set, dict, record, or object)"
)


def self_record():
    """One definition, {'x': ...}."""
    return recursive(lambda r: {"x": r})


def big(value=10**20):
    """A fresh int object equal to `value` but never identical to another call's result."""
    return int(str(value))


# --- union and intersection ---------------------------------------------------------------------


def test_empty_union_and_intersection_are_nothing_and_anything():
    assert repr(union()) == "nothing"
    assert repr(intersection()) == "anything"
    assert union() == nothing
    assert intersection() == anything
    assert union() != intersection()


def test_one_member_keeps_its_union_or_intersection_node():
    assert repr(union(int)) == "int"
    assert union(int) != Validator(int)
    assert union(int) == union(int)
    assert repr(intersection(int)) == "intersection(int)"
    assert intersection(int) != Validator(int)


def test_duplicate_members_are_kept():
    assert repr(union(int, int)) == "int | int"
    assert union(int, int) != union(int)
    assert repr(intersection(int, str, int)) == "intersection(int, str, int)"


def test_members_are_neither_flattened_nor_sorted():
    inner = union(int, str)
    assert repr(union(inner, bytes)) == "int | str | bytes"
    assert union(inner, bytes) != union(int, str, bytes)
    assert union(inner) != inner
    assert union(str, int) != union(int, str)
    assert repr(union(str, int)) == "str | int"


def test_first_failing_operand_ends_the_call():
    class RaisingLookup:
        def __getattr__(self, name):
            raise RuntimeError(name)

    # the operand after the rejected tuple literal is never looked at
    with pytest.raises(NotImplementedError) as info:
        union(int, (int, str), RaisingLookup())
    assert str(info.value) == TUPLE_MESSAGE
    with pytest.raises(RuntimeError, match="__metadata__"):
        intersection(RaisingLookup(), (int, str))


# --- complement ---------------------------------------------------------------------------------


def test_complement_is_never_simplified():
    assert repr(complement(complement(int))) == "complement(complement(int))"
    assert complement(complement(int)) != Validator(int)
    assert repr(complement(anything)) == "complement(anything)"
    assert complement(anything) != nothing
    assert complement(schema=int) == complement(int)


# --- the | operator -----------------------------------------------------------------------------


def test_chained_or_nests_one_level_per_operator():
    a, b, c = self_list(), Validator("s"), self_record()
    left = a | b | c
    assert repr(left) == "list[...] | Literal['s'] | {'x': ...}"
    assert left == union(union(a, b), c)
    assert left != union(a, b, c)
    right = a | (b | c)
    assert right == union(a, union(b, c))
    assert right != left


@pytest.mark.parametrize(
    "build, text",
    [
        (lambda v: 3 | v, "Literal[3] | str"),
        (lambda v: v | 3, "str | Literal[3]"),
        (lambda v: None | v, "None | str"),
        (lambda v: v | None, "str | None"),
        (lambda v: int | v, "int | str"),
        (lambda v: list[int] | v, "list[int] | str"),
        (lambda v: [int] | v, "list[int] | str"),
        (lambda v: v | {"a": int}, "str | {'a': int}"),
    ],
)
def test_or_keeps_the_written_order(build, text):
    assert repr(build(Validator(str))) == text


def test_or_equals_the_union_of_its_operands_in_written_order():
    v = Validator(str)
    assert 3 | v == union(3, v)
    assert v | 3 == union(v, 3)
    assert None | v == union(None, v)
    assert None | v != v | None


@pytest.mark.parametrize(
    "build, message",
    [
        (lambda v: v | (int, str), TUPLE_MESSAGE),
        (lambda v: (int, str) | v, TUPLE_MESSAGE),
        (lambda v: v | {int}, SET_MESSAGE),
        # set.__or__ gives up, the validator's reflected | then rejects the set literal
        (lambda v: {int} | v, SET_MESSAGE),
    ],
)
def test_or_with_a_rejected_operand_raises_instead_of_deferring(build, message):
    with pytest.raises(NotImplementedError) as info:
        build(Validator(int))
    assert str(info.value) == message


def test_or_takes_precedence_over_the_right_operands_reflected_or():
    class Reflecting:
        def __ror__(self, other):
            return "reflected"

    thing = Reflecting()
    result = Validator(int) | thing
    assert isinstance(result, Validator)
    assert result == union(int, thing)


def test_or_after_the_left_operand_gives_up():
    class Declining:
        def __or__(self, other):
            return NotImplemented

    thing = Declining()
    assert thing | Validator(int) == union(thing, int)


def test_or_leaves_its_operands_unchanged():
    a, b = self_list(), Validator("s")
    before_a, before_b = repr(a), repr(b)
    a | b
    b | a
    assert (repr(a), repr(b)) == (before_a, before_b)
    assert a == self_list()
    assert b == Validator("s")


# --- pooling of constants -----------------------------------------------------------------------


def test_an_object_shared_by_operands_is_pooled_once():
    p, q = big(), big()
    assert p == q and p is not q
    assert union(p, p) == union(p, p)
    assert union(p, p) == union(q, q)  # one pooled constant each, equal by ==
    assert union(p, p) != union(p, q)  # one constant against two
    assert union(p, q) == union(q, p)  # two constants each, equal pairwise


def test_unhashable_objects_are_pooled_by_identity():
    x, y = bytearray(b"k"), bytearray(b"k")
    assert union(x, x) == union(y, y)
    assert union(x, x) != union(x, y)
    assert repr(union(x, y)) == "Literal[bytearray(b'k')] | Literal[bytearray(b'k')]"


def test_objects_pooled_by_imported_validators_share_one_slot():
    p, q = big(), big()
    assert union(Validator(p), Validator(p)) == union(p, p)
    assert union(Validator(p), p) == union(p, p)
    assert union(Validator(p), Validator(q)) == union(p, q)
    assert union(Validator(p), Validator(q)) != union(p, p)


def test_or_compiles_the_other_operand_into_the_validators_pool():
    p, q = big(), big()
    v = Validator(p)
    assert v | p == union(p, p)
    assert v | q == union(p, q)
    assert p | v == union(p, p)
    # the reflected operand is pooled after the validator's own constants
    w = Validator("a")
    assert repr("x" | w) == "Literal['x'] | Literal['a']"
    assert w | "x" == union(w, "x")
    assert "x" | w != union("x", w)


def test_validator_or_validator_matches_union_of_both():
    a = union("p", self_list())
    b = union("q", self_record())
    assert a | b == union(a, b)
    assert b | a == union(b, a)
    assert a | b != b | a


# --- importing validators -----------------------------------------------------------------------


def test_back_edges_of_each_imported_validator_are_shifted():
    r1, r2 = self_list(), self_record()
    assert repr(union(r1, r2)) == "list[...] | {'x': ...}"
    assert repr(union(r2, r1)) == "{'x': ...} | list[...]"
    assert repr(union(r1, r1, r2, r2)) == "list[...] | list[...] | {'x': ...} | {'x': ...}"
    assert union(r1, r2) != union(r2, r1)
    assert repr(complement(r2)) == "complement({'x': ...})"


def test_back_edges_inside_imported_definitions_are_shifted_too():
    # two definitions: the imported list and the record that refers to it
    two = recursive(lambda r: {"y": [r], "z": self_list()})
    assert repr(two) == "{'y': list[...], 'z': list[...]}"
    assert repr(union(self_record(), two)) == "{'x': ...} | {'y': list[...], 'z': list[...]}"
    assert repr(union(self_record(), self_record(), self_record(), two)) == (
        "{'x': ...} | {'x': ...} | {'x': ...} | {'y': list[...], 'z': list[...]}"
    )


def test_definitions_that_do_not_refer_to_themselves_are_shifted():
    assert repr(union(recursive(lambda r: int), recursive(lambda r: str))) == "int | str"
    assert union(recursive(lambda r: int), recursive(lambda r: str)) != union(int, str)


class Base:
    pass


class Other:
    pass


@dataclasses.dataclass
class Point:
    x: int


@pytest.mark.parametrize(
    "second, text",
    [
        ("q", "Literal['p'] | Literal['q']"),
        (Other, "Literal['p'] | Other"),
        (Point, "Literal['p'] | Point"),
        (Annotated[int, SimpleNamespace(ge=5)], "Literal['p'] | Annotated[int, Ge(5)]"),
        (Annotated[int, SimpleNamespace(lt=9, multiple_of=3)], "Literal['p'] | Annotated[int, Lt(9), MultipleOf(3)]"),
        (union("q", "p"), "Literal['p'] | Literal['q'] | Literal['p']"),
    ],
)
def test_constants_of_an_imported_validator_are_remapped(second, text):
    # the second validator's constant 0 lands behind 'p' in the shared pool
    assert repr(union(Validator("p"), Validator(second))) == text
    assert repr(Validator("p") | Validator(second)) == text


def test_remapping_keeps_existing_slots_and_order():
    pq, qp = union("p", "q"), union("q", "p")
    assert repr(union(pq, qp)) == "Literal['p'] | Literal['q'] | Literal['q'] | Literal['p']"
    assert repr(union(Base, union(Other, Base))) == "Base | Other | Base"


# --- recursive: contractiveness -----------------------------------------------------------------


@pytest.mark.parametrize(
    "body",
    [
        lambda r: r,
        lambda r: union(r, None),
        lambda r: union(None, r),
        lambda r: r | None,
        lambda r: None | r,
        lambda r: intersection(r, int),
        lambda r: complement(r),
        lambda r: complement(complement(r)),
        lambda r: Annotated[r, SimpleNamespace(ge=0)],
        lambda r: union(int, intersection(str, complement(r))),
        lambda r: Validator(r),
        lambda r: union([r], r),
    ],
    ids=[
        "self",
        "union",
        "union-right",
        "or",
        "ror",
        "intersection",
        "complement",
        "double-complement",
        "refinement",
        "nested-logic",
        "validator-of-self",
        "guarded-and-unguarded",
    ],
)
def test_reference_outside_a_structural_constructor_is_rejected(body):
    with pytest.raises(ValueError) as info:
        recursive(body)
    assert str(info.value) == NOT_CONTRACTIVE


@pytest.mark.parametrize(
    "body, text",
    [
        (lambda r: [r], "list[...]"),
        (lambda r: list[r], "list[...]"),
        (lambda r: set[r], "set[...]"),
        (lambda r: frozenset[r], "frozenset[...]"),
        (lambda r: tuple[int, r], "tuple[int, ...]"),
        (lambda r: [int, r, ...], "[int, ..., ...]"),
        (lambda r: {"a": r}, "{'a': ...}"),
        (lambda r: {"a?": r}, "{'a?': ...}"),
        (lambda r: {r: int}, "dict[..., int]"),
        (lambda r: dict[str, r], "dict[str, ...]"),
        (lambda r: union(None, {"a": r}), "None | {'a': ...}"),
        (lambda r: None | Validator([r]), "None | list[...]"),
        (lambda r: complement(intersection(int, [r])), "complement(intersection(int, list[...]))"),
        (lambda r: Annotated[list[r], SimpleNamespace(min_length=1)], "Annotated[list[...], MinLen(1)]"),
        (lambda r: dataclasses.make_dataclass("Node", [("next", r)]), "Node"),
        (lambda r: TypedDict("Tree", {"children": r}), "{'children': ...}"),
        (lambda r: int, "int"),
    ],
)
def test_reference_under_a_structural_constructor_is_accepted(body, text):
    assert repr(recursive(body)) == text


def test_body_without_the_reference_is_one_definition_behind_a_back_edge():
    v = recursive(lambda r: int)
    assert repr(v) == "int"
    assert v == recursive(lambda r: int)
    assert v != Validator(int)
    assert v != recursive(lambda r: str)


def test_separately_built_recursive_validators_are_equal():
    assert recursive(lambda r: union(None, [r])) == recursive(lambda r: union(None, [r]))
    assert hash(recursive(lambda r: {"a": r})) == hash(recursive(lambda r: {"a": r}))
    assert recursive(lambda r: [r]) != recursive(lambda r: set[r])


# --- recursive: the builder ---------------------------------------------------------------------


def test_builder_gets_one_placeholder_validator():
    seen = []

    def builder(*args, **kwargs):
        seen.append((args, kwargs))
        return [args[0]]

    recursive(builder)
    [(args, kwargs)] = seen
    assert kwargs == {}
    assert len(args) == 1 and isinstance(args[0], Validator)


def test_kept_placeholder_renders_as_ellipsis_and_stays_usable():
    kept = []
    recursive(lambda r: kept.append(r) or [r])
    recursive(lambda r: kept.append(r) or [r])
    first, second = kept
    assert repr(first) == "..."
    assert repr(union(first, int)) == "... | int"
    assert first == first
    assert first != second  # every call hands out its own reference


def test_a_placeholder_of_another_call_is_not_this_calls_reference():
    kept = []
    recursive(lambda r: kept.append(r) or [r])
    stale = kept[0]
    v = recursive(lambda r: stale)  # not our own reference: nothing to guard
    assert repr(v) == "..."
    assert v == recursive(lambda r: stale)
    assert repr(recursive(lambda r: union(stale, [r]))) == "... | list[...]"


def test_builder_exception_propagates_unchanged():
    error = LookupError("no body")

    def builder(r):
        raise error

    with pytest.raises(LookupError) as info:
        recursive(builder)
    assert info.value is error


def test_builder_base_exception_propagates_unchanged():
    class Stop(BaseException):
        pass

    def builder(r):
        raise Stop

    with pytest.raises(Stop):
        recursive(builder)
    assert repr(recursive(lambda r: [r])) == "list[...]"


@pytest.mark.parametrize(
    "builder, message",
    [
        (5, "'int' object is not callable"),
        (None, "'NoneType' object is not callable"),
    ],
)
def test_non_callable_builder_is_a_type_error(builder, message):
    with pytest.raises(TypeError) as info:
        recursive(builder)
    assert str(info.value) == message


def test_builder_that_takes_no_argument_is_a_type_error():
    with pytest.raises(TypeError):
        recursive(lambda: [int])


def test_body_that_fails_to_compile_propagates():
    with pytest.raises(NotImplementedError) as info:
        recursive(lambda r: (r, int))
    assert str(info.value) == TUPLE_MESSAGE


def test_builder_may_be_given_by_keyword():
    assert recursive(builder=lambda r: [r]) == recursive(lambda r: [r])


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: complement(), "complement() missing 1 required positional argument: 'schema'"),
        (lambda: complement(int, str), "complement() takes 1 positional arguments but 2 were given"),
        (lambda: complement(int, schema=str), "complement() got multiple values for argument 'schema'"),
        (lambda: recursive(), "recursive() missing 1 required positional argument: 'builder'"),
        (lambda: recursive(list, list), "recursive() takes 1 positional arguments but 2 were given"),
        (lambda: recursive(list, builder=list), "recursive() got multiple values for argument 'builder'"),
        (lambda: recursive(fn=list), "recursive() got an unexpected keyword argument 'fn'"),
        (lambda: union(schemas=int), "union() got an unexpected keyword argument 'schemas'"),
        (lambda: union(int, schemas=int), "union() got an unexpected keyword argument 'schemas'"),
        (lambda: intersection(schemas=int), "intersection() got an unexpected keyword argument 'schemas'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_builder_is_not_called_on_an_argument_error():
    calls = []
    with pytest.raises(TypeError):
        recursive(lambda r: calls.append(r), builder=None)
    assert calls == []


# --- recursive: references held inside imported definitions -------------------------------------


def test_outer_reference_inside_a_nested_recursive_is_resolved():
    kept = []

    def build():
        def outer(o):
            inner = recursive(lambda i: {"a": list[o], "b": list[i]})
            kept.append(inner)
            return inner

        return recursive(outer)

    first, second = build(), build()
    assert repr(first) == "{'a': list[...], 'b': list[...]}"
    # the inner validators still hold their own call's outer placeholder, which differs per call
    assert kept[0] != kept[1]
    # the finished validators hold no placeholder any more, so they match
    assert first == second
    assert hash(first) == hash(second)


def test_references_from_several_enclosing_calls_are_all_resolved():
    def build():
        return recursive(lambda a: recursive(lambda b: recursive(lambda c: {"x": union(a, b, c)})))

    assert repr(build()) == "{'x': ... | ... | ...}"
    assert build() == build()


@pytest.mark.parametrize(
    "build",
    [
        lambda: recursive(lambda o: recursive(lambda i: union(o, [i]))),
        lambda: recursive(lambda o: recursive(lambda i: intersection(complement(o), [i]))),
        lambda: recursive(lambda o: union(None, recursive(lambda i: union([i], o)))),
        # three levels: the outermost reference is unguarded
        lambda: recursive(lambda a: recursive(lambda b: recursive(lambda c: union(a, [b], [c])))),
        # the unguarded path runs through two imported definitions; the first definition is also
        # reached on a guarded path before (or after) the unguarded one
        lambda: recursive(lambda o: recursive(lambda j: union([j], recursive(lambda i: union(o, [i]))))),
        lambda: recursive(lambda o: recursive(lambda j: union(recursive(lambda i: union(o, [i])), [j]))),
        lambda: recursive(lambda o: recursive(lambda j: union({"k": j}, recursive(lambda i: union([i], o))))),
    ],
    ids=[
        "union",
        "complement",
        "under-outer-union",
        "three-levels",
        "guarded-path-first",
        "unguarded-path-first",
        "record-path-first",
    ],
)
def test_unguarded_path_through_imported_definitions_is_rejected(build):
    with pytest.raises(ValueError) as info:
        build()
    assert str(info.value) == NOT_CONTRACTIVE


@pytest.mark.parametrize(
    "build, text",
    [
        (lambda: recursive(lambda o: [recursive(lambda i: union(o, [i]))]), "list[... | list[...]]"),
        (
            lambda: recursive(lambda o: union(None, recursive(lambda i: {"k": o, "l": [i]}))),
            "None | {'k': ..., 'l': list[...]}",
        ),
        (lambda: recursive(lambda o: recursive(lambda i: {"k": union(o, i)})), "{'k': ... | ...}"),
        (
            lambda: recursive(lambda o: recursive(lambda j: union([j], recursive(lambda i: union([o], [i]))))),
            "list[...] | list[...] | list[...]",
        ),
        (
            lambda: recursive(lambda a: recursive(lambda b: [recursive(lambda c: union(a, b, [c]))])),
            "list[... | ... | list[...]]",
        ),
    ],
)
def test_guarded_path_through_imported_definitions_is_accepted(build, text):
    v = build()
    assert repr(v) == text
    assert v == build()


def test_imported_definitions_without_the_reference_do_not_matter():
    lst = self_list()
    assert repr(recursive(lambda o: union(lst, [o]))) == "list[...] | list[...]"
    with pytest.raises(ValueError) as info:
        recursive(lambda o: union(lst, o))
    assert str(info.value) == NOT_CONTRACTIVE


def test_placeholder_of_another_call_inside_an_imported_definition_is_left_alone():
    kept = []
    recursive(lambda r: kept.append(r) or [r])
    stale = kept[0]

    def build():
        return recursive(lambda o: recursive(lambda i: union(stale, [i])))

    assert repr(build()) == "... | list[...]"
    assert build() == build()


# --- limits -------------------------------------------------------------------------------------


def lists(count):
    return [self_list() for _ in range(count)]


def test_128_definitions_are_accepted():
    assert repr(union(*lists(128))) == " | ".join(["list[...]"] * 128)
    v = recursive(lambda r: union([r], *lists(127)))
    assert repr(v).startswith("list[...] | list[...]")


@pytest.mark.parametrize(
    "build",
    [
        lambda: union(*lists(129)),
        lambda: intersection(*lists(129)),
        lambda: union(*([self_list()] * 129)),  # each occurrence brings its definitions again
        lambda: union(*lists(128)) | self_list(),
        lambda: self_list() | union(*lists(128)),
        lambda: complement(union(*lists(128))) | self_list(),
        # the body itself is one more definition
        lambda: recursive(lambda r: union([r], *lists(128))),
    ],
    ids=["union", "intersection", "repeated", "or", "ror", "complement-or", "recursive-body"],
)
def test_129_definitions_are_rejected(build):
    with pytest.raises(ValueError) as info:
        build()
    assert str(info.value) == DEFINITIONS_MESSAGE.format(129)


def test_doubling_with_or_stops_at_the_node_limit():
    v = Validator(int)
    for _ in range(15):
        v = v | v  # 2**(k + 1) - 1 nodes after k steps
    before = repr(v)
    assert before.count("int") == 32768
    with pytest.raises(ValueError) as info:
        v | v
    assert str(info.value) == NODES_MESSAGE.format(131071)
    with pytest.raises(ValueError) as info:
        union(v, v)
    assert str(info.value) == NODES_MESSAGE.format(131071)
    assert repr(v) == before


@pytest.mark.parametrize(
    "step, start, accepted_steps, reached",
    [
        (complement, int, 127, 129),
        (union, int, 127, 129),
        (intersection, int, 127, 129),
        (lambda v: v | None, int, 127, 129),
        (lambda v: None | v, int, 127, 129),
        # two levels in one step, from Optional[int] (depth 2): 128 is reached exactly, then 130
        (lambda v: intersection({"k": v}), Optional[int], 63, 130),
    ],
    ids=["complement", "union", "intersection", "or", "ror", "two-levels"],
)
def test_nesting_combinators_stops_at_the_depth_limit(step, start, accepted_steps, reached):
    v = Validator(start)
    for _ in range(accepted_steps):
        v = step(v)
    with pytest.raises(ValueError) as info:
        step(v)
    assert str(info.value) == DEPTH_MESSAGE.format(reached)
