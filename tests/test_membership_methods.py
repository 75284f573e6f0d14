import threading
from typing import Annotated

import pytest

from kestrome import ValidationError, Validator, union

from support import check_method_signature, RaisingEq, failure


# fails in two independent places
TWO = {"a": int, "b": int}
BAD = {"a": "x", "b": "y"}


@pytest.mark.parametrize(
    "name, text, shown",
    [
        ("validate", "($self, obj, *, fail_fast=False)", "(obj, *, fail_fast=False)"),
        ("is_valid", "($self, obj)", "(obj)"),
        ("ensure", "($self, obj)", "(obj)"),
    ],
)
def test_signatures_and_docstrings(name, text, shown):
    check_method_signature(name, text, shown)


def test_validate_docstring_states_check_only():
    assert "Check-only: `obj` is never copied or coerced." in Validator.validate.__doc__


def test_validate_returns_none_or_raises():
    v = Validator(int)
    assert v.validate(1) is None
    assert v.validate(obj=1) is None
    assert v.is_valid(obj=1) is True
    assert v.ensure(obj=1) == 1
    with pytest.raises(ValidationError):
        v.validate(obj="a")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda v: v.validate(), "Validator.validate() missing 1 required positional argument: 'obj'"),
        (lambda v: v.is_valid(), "Validator.is_valid() missing 1 required positional argument: 'obj'"),
        (lambda v: v.ensure(), "Validator.ensure() missing 1 required positional argument: 'obj'"),
        (lambda v: v.validate(fail_fast=True), "Validator.validate() missing 1 required positional argument: 'obj'"),
        (lambda v: v.validate(1, True), "Validator.validate() takes 1 positional arguments but 2 were given"),
        (lambda v: v.is_valid(1, 2), "Validator.is_valid() takes 1 positional arguments but 2 were given"),
        (lambda v: v.ensure(1, 2, 3), "Validator.ensure() takes 1 positional arguments but 3 were given"),
        (lambda v: v.ensure(1, fail_fast=True), "Validator.ensure() got an unexpected keyword argument 'fail_fast'"),
        (lambda v: v.is_valid(1, fail_fast=True), "Validator.is_valid() got an unexpected keyword argument 'fail_fast'"),
        (lambda v: v.validate(1, value=2), "Validator.validate() got an unexpected keyword argument 'value'"),
        (lambda v: v.validate(1, obj=2), "Validator.validate() got multiple values for argument 'obj'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(Validator(int))
    assert str(info.value) == message


class Truthy:
    def __bool__(self):
        return True


@pytest.mark.parametrize(
    "flag, message",
    [
        (1, "'int' object is not an instance of 'bool'"),
        (0, "'int' object is not an instance of 'bool'"),
        (None, "'None' is not an instance of 'bool'"),
        ("yes", "'str' object is not an instance of 'bool'"),
        (Truthy(), "'Truthy' object is not an instance of 'bool'"),
    ],
)
@pytest.mark.parametrize("value", [1, "not an int"])
def test_fail_fast_must_be_exactly_bool(flag, message, value):
    calls = []
    v = Validator(Annotated[int, lambda x: calls.append(x) or True])
    with pytest.raises(TypeError) as info:
        v.validate(value, fail_fast=flag)
    assert not isinstance(info.value, ValidationError)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'fail_fast'"]
    assert calls == []


def test_fail_fast_chooses_the_mode():
    v = Validator(TWO)
    assert len(failure(v, BAD).errors) == 2
    assert len(failure(v, BAD, fail_fast=False).errors) == 2
    assert len(failure(v, BAD, fail_fast=True).errors) == 1
    with pytest.raises(ValidationError) as info:
        v.ensure(BAD)
    assert len(info.value.errors) == 2


def test_numpy_bool_is_accepted_as_fail_fast():
    np = pytest.importorskip("numpy")
    v = Validator(TWO)
    assert len(failure(v, BAD, fail_fast=np.bool_(True)).errors) == 1
    assert len(failure(v, BAD, fail_fast=np.bool_(False)).errors) == 2
    assert v.validate({"a": 1, "b": 2}, fail_fast=np.True_) is None
    with pytest.raises(TypeError) as info:
        v.validate(BAD, fail_fast=np.int64(1))
    assert info.value.__notes__ == ["while processing 'fail_fast'"]


def test_ensure_returns_the_identical_object():
    value = {"a": [1, 2], "b": 3}
    v = Validator({"a": list[int], "b": int})
    assert v.ensure(value) is value
    assert value == {"a": [1, 2], "b": 3}
    big = 10**50
    assert Validator(int).ensure(big) is big


@pytest.mark.parametrize(
    "v, values",
    [
        (Validator(list[int]), [[], [1], [1, "a"], (1,), None, "x"]),
        (Validator(int | str), [1, "a", 1.5, None, True]),
        (Validator({"a": int}), [{"a": 1}, {}, {"a": 1, "b": 2}, []]),
    ],
)
def test_in_agrees_with_is_valid(v, values):
    for x in values:
        answer = v.is_valid(x)
        assert type(answer) is bool
        assert (x in v) is answer
        assert (x not in v) is (not answer)


def test_ordinary_exception_never_reaches_the_caller():
    v = Validator(RaisingEq(ValueError("boom")))
    other = RaisingEq(ValueError("boom"))
    assert v.is_valid(other) is False
    assert (other in v) is False
    with pytest.raises(ValidationError):
        v.validate(other)
    with pytest.raises(ValidationError):
        v.ensure(other)


def test_fatal_exception_reaches_every_entry():
    v = Validator(RaisingEq(KeyboardInterrupt()))
    other = RaisingEq(KeyboardInterrupt())
    for call in (v.validate, v.is_valid, v.ensure, lambda x: x in v, lambda x: x not in v):
        with pytest.raises(KeyboardInterrupt):
            call(other)


def test_first_check_of_fresh_validator_answers_like_later_ones():
    values = [1, 2, "a", "b", 3, True, {"k": 1}]
    answers = [Validator(int | str).is_valid(x) for x in values]  # one fresh validator per value
    v = Validator(int | str)
    assert [v.is_valid(x) for x in values] == answers
    assert answers == [True, True, True, True, True, True, False]
    fresh = Validator(int | str)
    with pytest.raises(ValidationError):
        fresh.validate({"k": 1})


def test_reentrant_checks_from_inside_a_predicate():
    seen = []

    def pred(x):
        # checks against the same validator, from inside its own walk
        seen.append(holder[0].is_valid([]))
        seen.append(holder[0].is_valid(["no"]))
        try:
            holder[0].validate(["p", "q"])
        except ValidationError as e:
            seen.append([d["path"] for d in e.errors])
        return True

    holder = [Validator(list[Annotated[int, pred]])]
    v = holder[0]
    e = failure(v, [1, "x"])
    assert [(d["code"], d["path"]) for d in e.errors] == [("int_type", (1,))]
    assert seen == [True, False, [(0,), (1,)]]
    seen.clear()
    assert v.is_valid([1])
    assert seen == [True, False, [(0,), (1,)]]


def test_reentrant_check_from_eq_of_a_literal():
    holder = []

    class Probe:
        def __eq__(self, other):
            return holder[0].is_valid([]) and not holder[0].is_valid([1.5])

        __hash__ = object.__hash__

    v = Validator(union(list[Probe()], list[int]))
    holder.append(v)
    assert v.is_valid([Probe(), Probe()])
    assert v.is_valid([1])


def test_threads_share_one_validator():
    v = Validator({"items": list[int | str], "tag?": Annotated[str, lambda s: s.isalpha()]})
    good = {"items": [1, "a", 2], "tag": "ok"}
    bad = {"items": [1, None], "tag": "no!"}
    barrier = threading.Barrier(8)
    problems = []

    def work():
        barrier.wait()
        for _ in range(300):
            if not v.is_valid(good) or v.is_valid(bad) or good not in v:
                problems.append("answer")
            try:
                v.validate(bad)
                problems.append("no error")
            except ValidationError as e:
                if [d["path"] for d in e.errors] != [("items", 1), ("tag",)]:
                    problems.append(e.errors)
            if v.ensure(good) is not good:
                problems.append("ensure")

    threads = [threading.Thread(target=work) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert problems == []
