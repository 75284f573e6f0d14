from typing import Annotated, NamedTuple

import pytest

from kestrome import ValidationError, Validator

from support import check_membership, failure, records


class Pair(NamedTuple):
    a: int
    b: int


class MyList(list):
    pass


class MyTuple(tuple):
    pass


class LyingTuple(tuple):
    def __len__(self):
        return 0

    def __getitem__(self, i):
        return "lie"

    def __iter__(self):
        return iter(())


class LyingList(list):
    """Overrides every read protocol; the walk must see the stored items."""

    def __len__(self):
        return 0

    def __getitem__(self, i):
        return "lie"

    def __iter__(self):
        return iter(["lie"])


MEMBERSHIP = [
    # schema, members, non-members
    (list[int], [[], [1, True], MyList([1]), LyingList([1, 2])], [(1,), {1}, "1", [1, "a"], LyingList(["x"])]),
    ([int], [[], [1, 2]], [(1,), [None]]),
    ([int, str], [[1, "a"]], [[1], [1, "a", 2], ["a", 1], (1, "a")]),
    ([int, str, float, ...], [[1, "a"], [1, "a", 1.0], [1, "a", 1.0, 2.0]], [[1], [1, "a", 1], [1.0, "a"]]),
    (tuple[int, ...], [(), (1, 2), MyTuple((1,)), Pair(1, 2), LyingTuple((1,))], [[1, 2], (1, "a"), LyingTuple(("x",))]),
    (tuple[int, int], [LyingTuple((1, 2))], [LyingTuple(())]),
    (tuple[()], [()], [(1,), []]),
    (tuple[int, str], [(1, "a")], [(1,), ("a", 1), (1, "a", 2), [1, "a"]]),
    (tuple[int, int], [Pair(1, 2)], [Pair(1, "x")]),
    (tuple[int, str, ...], [(1,), (1, "a", "b")], [(), (1, 2)]),
    (set[int], [set(), {1, 2}], [frozenset({1}), {"a"}, [1]]),
    (frozenset[int], [frozenset(), frozenset({1})], [{1}, frozenset({"a"})]),
]


@pytest.mark.parametrize("schema, members, others", MEMBERSHIP)
def test_sequence_and_set_membership(schema, members, others):
    check_membership(Validator(schema), members, others)


REPORTS = [
    (list[int], (1,), [("list_type", (), "list", "(1,)")]),
    (list[int], [1, "a"], [("int_type", (1,), "int", "'a'")]),
    ([int, str], [1], [("list_length", (), "list of length 2", "[1]")]),
    ([int, str, float, ...], [1], [("list_length", (), "list of length at least 2", "[1]")]),
    ([int, str, float, ...], [1, "a", 1.0, 2], [("float_type", (3,), "float", "2")]),
    ([int], [1, None], [("int_type", (1,), "int", "None")]),
    (tuple[int, ...], [1, 2], [("tuple_type", (), "tuple", "[1, 2]")]),
    (tuple[()], (1,), [("tuple_length", (), "tuple of length 0", "(1,)")]),
    (tuple[int, str], (1, "a", 2), [("tuple_length", (), "tuple of length 2", "(1, 'a', 2)")]),
    (tuple[int, str, ...], (), [("tuple_length", (), "tuple of length at least 1", "()")]),
    (tuple[int, str, ...], (1, "a", 2), [("string_type", (2,), "str", "2")]),
    (set[int], frozenset({1}), [("set_type", (), "set", "frozenset({1})")]),
    (frozenset[int], {1}, [("frozen_set_type", (), "frozenset", "{1}")]),
    (set[int], {"a"}, [("int_type", (), "int", "'a'")]),
    (list[list[int]], [[1], [1, "x"]], [("int_type", (1, 1), "int", "'x'")]),
    (list[set[int]], [set(), {None}], [("int_type", (1,), "int", "None")]),
]


@pytest.mark.parametrize("schema, value, expected", REPORTS)
def test_container_reports(schema, value, expected):
    assert records(failure(Validator(schema), value)) == expected


def test_wrong_length_walks_no_element():
    calls = []
    v = Validator([Annotated[int, calls.append], int])
    failure(v, [1, 2, 3])
    assert not v.is_valid([1])
    assert calls == []


def test_nested_path_in_message():
    e = failure(Validator(list[list[int]]), [[1], [1, "x"]])
    assert e.message == "at [1][1]: expected int, got 'x' [int_type]"


@pytest.mark.parametrize(
    "schema, value, paths",
    [
        (list[int], ["a", "b"], [(0,), (1,)]),
        (tuple[int, ...], ("a", 1, "b"), [(0,), (2,)]),
        ([int, str], ["a", 1], [(0,), (1,)]),
        (set[int], {"a", "b"}, [(), ()]),
        (frozenset[int], frozenset({"a", "b"}), [(), ()]),
    ],
)
def test_collect_reports_every_element_fail_fast_the_first(schema, value, paths):
    v = Validator(schema)
    e = failure(v, value)
    assert [d["path"] for d in e.errors] == paths
    assert str(e).startswith(f"{len(paths)} validation errors:\n")
    e = failure(v, value, fail_fast=True)
    assert [d["path"] for d in e.errors] == paths[:1]


def counting(pred_result):
    calls = []

    def pred(x):
        calls.append(x)
        return pred_result

    return calls, pred


@pytest.mark.parametrize(
    "schema_of, make",
    [(lambda t: list[t], list), (lambda t: tuple[t, ...], tuple), (lambda t: set[t], set)],
)
def test_fail_fast_and_boolean_stop_at_first_failing_element(schema_of, make):
    calls, pred = counting(False)
    v = Validator(schema_of(Annotated[int, pred]))
    value = make([1, 2, 3])
    assert not v.is_valid(value)
    assert len(calls) == 1
    calls.clear()
    failure(v, value, fail_fast=True)
    assert len(calls) == 1
    calls.clear()
    e = failure(v, value)
    assert len(calls) == 3
    assert [d["code"] for d in e.errors] == ["predicate_failed"] * 3


def test_list_shrunk_during_walk_stops_at_new_end():
    target = [1, 2, 3, "not an int", "nor this"]

    def shrink(x):
        del target[2:]
        return True

    v = Validator(list[Annotated[int, shrink]])
    assert v.is_valid(target)
    target[:] = [1, 2, 3, "not an int", "nor this"]
    v.validate(target)
    assert target == [1, 2]


def test_list_emptied_by_element_eq_during_walk():
    target = []

    class Clearing:
        def __eq__(self, other):
            target.clear()
            return True

        __hash__ = object.__hash__

    v = Validator(list[Clearing()])
    target[:] = [Clearing(), Clearing(), "stranger"]
    assert v.is_valid(target)
    target[:] = [Clearing(), Clearing(), "stranger"]
    assert v.validate(target) is None
    assert target == []


def test_elements_appended_during_walk_are_not_visited():
    target = [1, 2]
    seen = []

    def grow(x):
        seen.append(x)
        target.append("late")
        return True

    v = Validator(list[Annotated[int, grow]])
    assert v.is_valid(target)
    assert seen == [1, 2]
    assert target == [1, 2, "late", "late"]


class IterOverridingSet(set):
    def __iter__(self):
        return iter(["x"])


class IterOverridingFrozenSet(frozenset):
    def __iter__(self):
        return iter([1])


def test_set_subclass_is_walked_through_its_iter():
    assert not Validator(set[int]).is_valid(IterOverridingSet({1}))
    assert Validator(frozenset[int]).is_valid(IterOverridingFrozenSet({"a"}))
    e = failure(Validator(set[int]), IterOverridingSet({1}))
    assert records(e) == [("int_type", (), "int", "'x'")]


class RaisingIterSet(set):
    exc = ValueError("no iteration")

    def __iter__(self):
        raise type(self).exc


def test_set_iteration_raising_ordinary_exception_is_a_non_member():
    v = Validator(set[int])
    assert not v.is_valid(RaisingIterSet({1}))
    failure(v, RaisingIterSet({1}))


def test_set_iteration_raising_fatal_exception_propagates():
    class Interrupting(RaisingIterSet):
        exc = KeyboardInterrupt()

    v = Validator(set[int])
    with pytest.raises(KeyboardInterrupt):
        v.is_valid(Interrupting({1}))
    with pytest.raises(KeyboardInterrupt):
        v.validate(Interrupting({1}))


def test_set_resized_during_walk_is_a_non_member():
    target = set()

    def resize(x):
        target.add(x + 1000)
        return True

    v = Validator(set[Annotated[int, resize]])
    for check in (v.is_valid, v.validate, lambda x: v.validate(x, fail_fast=True), v.__contains__):
        target.clear()
        target.update({1, 2, 3})
        try:
            result = check(target)
        except ValidationError:
            result = False
        assert result is False


def test_set_resized_during_walk_inside_a_container_fails_only_that_set():
    target = set()

    def resize(x):
        target.add(x + 1000)
        return True

    v = Validator({"s": set[Annotated[int, resize]], "n": int})
    target.update({1, 2})
    e = failure(v, {"s": target, "n": "x"})
    assert ("int_type", ("n",)) in [(d["code"], d["path"]) for d in e.errors]
