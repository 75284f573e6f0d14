import concurrent.futures
import multiprocessing
import pickle

import pytest

import kestrome
from kestrome import ValidationError, Validator, recursive
from kestrome import _kestrome

from support import failure, on_small_stack


def test_type_identity_and_metadata():
    assert kestrome.ValidationError is _kestrome.ValidationError
    assert ValidationError.__name__ == "ValidationError"
    assert ValidationError.__module__ == "_kestrome"
    assert ValidationError.__doc__ == "Raised when a value is not a member of a schema's set."
    assert issubclass(ValidationError, Exception)
    assert ValidationError.__bases__ == (Exception,)
    assert _kestrome.__all__[0] == "ValidationError"


@pytest.mark.parametrize("entry", ["validate", "ensure"])
def test_raised_instance_is_exactly_the_module_type(entry):
    with pytest.raises(ValidationError) as info:
        getattr(Validator(int), entry)("a")
    assert type(info.value) is ValidationError


def test_single_failure_attributes():
    e = failure(Validator(int), "a")
    message = "expected int, got 'a' [int_type]"
    assert str(e) == message
    assert e.args == (message,)
    assert list(vars(e)) == ["code", "expected", "value", "message", "path", "errors"]
    assert (e.code, e.expected, e.value, e.message, e.path) == ("int_type", "int", "'a'", message, ())
    assert e.errors == ({"code": "int_type", "path": (), "message": message, "expected": "int", "value": "'a'"},)
    assert list(e.errors[0]) == ["code", "path", "message", "expected", "value"]
    assert all(type(getattr(e, name)) is str for name in ("code", "expected", "value", "message"))
    assert type(e.path) is tuple and type(e.errors) is tuple and type(e.errors[0]) is dict


@pytest.mark.parametrize(
    "schema, value, path, text",
    [
        ({"a": [{"b": int}]}, {"a": [{"b": "x"}]}, ("a", 0, "b"), "a[0].b"),
        (list[{"a": int}], [{"a": "x"}], (0, "a"), "[0].a"),
        ({"a": {"b": int}}, {"a": {"b": "x"}}, ("a", "b"), "a.b"),
        ({"a": list[int]}, {"a": [1, "x"]}, ("a", 1), "a[1]"),
        (list[list[int]], [[], ["x"]], (1, 0), "[1][0]"),
        ({"x.y[0]": int}, {"x.y[0]": "x"}, ("x.y[0]",), "x.y[0]"),
        ({"": {"": int}}, {"": {"": "x"}}, ("", ""), ""),
        ({"": list[int]}, {"": ["x"]}, ("", 0), "[0]"),
    ],
)
def test_path_tuple_and_text(schema, value, path, text):
    e = failure(Validator(schema), value)
    assert e.path == path
    assert all(type(seg) is (int if isinstance(p, int) else str) for seg, p in zip(e.path, path))
    expected_line = "expected int, got 'x' [int_type]"
    assert e.message == (f"at {text}: {expected_line}" if text else expected_line)


def test_several_failures():
    e = failure(Validator({"a": int, "b": list[str]}), {"a": None, "b": ["s", 2]})
    first = "at a: expected int, got None [int_type]"
    second = "at b[1]: expected str, got 2 [string_type]"
    assert str(e) == f"2 validation errors:\n{first}\n{second}"
    assert e.args == (str(e),)
    assert (e.code, e.expected, e.value, e.message, e.path) == ("int_type", "int", "None", first, ("a",))
    assert [d["message"] for d in e.errors] == [first, second]
    assert e.errors[1] == {"code": "string_type", "path": ("b", 1), "message": second, "expected": "str", "value": "2"}


def test_many_failures_count_in_decimal():
    e = failure(Validator(list[int]), ["x"] * 12)
    lines = str(e).split("\n")
    assert lines[0] == "12 validation errors:"
    assert lines[1:] == [f"at [{i}]: expected int, got 'x' [int_type]" for i in range(12)]
    assert not str(e).endswith("\n")


class Repr:
    def __init__(self, text=None, exc=None):
        self.text, self.exc = text, exc

    def __repr__(self):
        if self.exc is not None:
            raise self.exc
        return self.text


@pytest.mark.parametrize(
    "value, text",
    [
        ("x" * 100, repr("x" * 100)[:80] + "..."),
        (Repr("y" * 80), "y" * 80),
        (Repr("y" * 81), "y" * 80 + "..."),
        (Repr("é" * 80), "é" * 80),
        (Repr("€" * 81), "€" * 80 + "..."),
        (Repr(exc=ValueError()), "<unrepresentable>"),
        (Repr(exc=KeyboardInterrupt()), "<unrepresentable>"),
        (Repr("a\ud800b"), "a\ufffd\ufffd\ufffdb"),
    ],
)
def test_value_text(value, text):
    e = failure(Validator(int), value)
    assert e.value == text
    assert e.errors[0]["value"] == text
    assert str(e) == f"expected int, got {text} [int_type]"


def cut(text):
    return text if len(text) <= 80 else text[:80] + "..."


class OwnList(list):
    pass


class OwnRepr(list):
    def __repr__(self):
        return "own"


def cyclic_list():
    a = [1]
    a.append(a)
    return a


def cyclic_dict():
    d = {"k": 1}
    d["d"] = d
    return d


# Containers are written part by part; the text is their repr() all the same.
@pytest.mark.parametrize(
    "value",
    [
        [],
        [1, "a", None, 1.5, b"b"],
        (),
        (1,),
        (1, (2,), ()),
        {},
        {"a": [1, (2,)], 3: {}},
        set(),
        {1},
        frozenset(),
        frozenset({frozenset({1})}),
        list(range(100)),
        {i: str(i) * 3 for i in range(30)},
        [Repr("y" * 79), 1],
        [Repr("€" * 81)],
        cyclic_list(),
        cyclic_dict(),
        OwnList([1, OwnList([2])]),
        [OwnRepr([1])],
    ],
    ids=repr,
)
def test_value_text_of_a_container(value):
    assert failure(Validator(int), value).value == cut(repr(value))


def test_value_text_of_a_container_whose_part_raises():
    assert failure(Validator(int), [1, {"a": Repr(exc=ValueError())}]).value == "<unrepresentable>"


def nest(levels, wrap, leaf):
    for _ in range(levels):
        leaf = wrap(leaf)
    return leaf


# A value far deeper than its repr() could go on the native stack still has
# the text its repr() begins with.
@pytest.mark.parametrize(
    "wrap",
    [lambda x: [x], lambda x: (x,), lambda x: {"a": x}, lambda x: frozenset([x])],
    ids=["list", "tuple", "dict", "frozenset"],
)
def test_value_text_of_a_deep_container(wrap):
    deep = nest(100_000, wrap, 0)
    assert on_small_stack(lambda: failure(Validator(int), deep).value) == cut(repr(nest(100, wrap, 0)))


def test_a_report_of_a_deep_value_fits_the_stack_the_walk_left():
    v = recursive(lambda t: {"a": t | None})
    e = on_small_stack(lambda: failure(v, nest(16256, lambda x: {"a": x}, None)))
    assert e.value == cut(repr(nest(100, lambda x: {"a": x}, None)))


def test_value_text_asks_for_no_part_past_the_cut():
    calls = []

    class Counted:
        def __repr__(self):
            calls.append(1)
            return "c"

    value = [Counted() for _ in range(1000)]
    assert failure(Validator(int), value).value == cut("[" + ", ".join(["c"] * 1000) + "]")
    assert len(calls) == 28  # "[c" and 27 times ", c" make the first 81 characters


class IterRaisingSet(set):
    def __iter__(self):
        raise ValueError("no")


@pytest.mark.parametrize(
    "schema, value",
    [
        (set[int], IterRaisingSet({1})),
        ({"a": set[int]}, {"a": IterRaisingSet({1})}),
        (list[set[int]], [IterRaisingSet({1})]),
    ],
)
def test_failure_without_record_uses_fallback(schema, value):
    e = failure(Validator(schema), value)
    message = "expected a member of the schema's set, got  [validation_error]"
    assert str(e) == message
    assert (e.code, e.expected, e.value, e.message, e.path) == (
        "validation_error",
        "a member of the schema's set",
        "",
        message,
        (),
    )
    assert e.errors == (
        {"code": "validation_error", "path": (), "message": message, "expected": "a member of the schema's set", "value": ""},
    )



# ---------------------------------------------------------------- pickling

ATTRIBUTES = ("code", "path", "expected", "value", "message", "errors")


def several_failures():
    schema = Validator({"a": int, "b": [str], "c?": list[int]})
    return failure(schema, {"a": "x", "b": [1, "ok", 2], "c": [None], "d": 0})


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickle_round_trip_keeps_message_and_attributes(protocol):
    e = several_failures()
    e.add_note("while reading orders.json")
    back = pickle.loads(pickle.dumps(e, protocol))
    assert type(back) is ValidationError
    assert back.args == e.args
    assert str(back) == str(e)
    assert len(back.errors) == 5
    for name in ATTRIBUTES:
        assert getattr(back, name) == getattr(e, name), name
    assert back.__notes__ == ["while reading orders.json"]
    assert ValidationError.__module__ == "_kestrome"


def test_error_raised_in_a_worker_process_reaches_the_caller():
    raising = "from kestrome import Validator; Validator({'a': int, 'b': str}).validate({'a': 'x', 'b': 1})"
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=context) as pool:
        with pytest.raises(ValidationError) as info:
            pool.submit(exec, raising).result()
    e = info.value
    assert str(e) == "2 validation errors:\nat a: expected int, got 'x' [int_type]\nat b: expected str, got 1 [string_type]"
    assert (e.code, e.path, e.expected, e.value) == ("int_type", ("a",), "int", "'x'")
    assert e.message == "at a: expected int, got 'x' [int_type]"
    assert [entry["path"] for entry in e.errors] == [("a",), ("b",)]


@pytest.mark.parametrize(
    "made",
    [lambda: ValidationError("boom"), lambda: ValidationError(), lambda: ValidationError("a", 2)],
)
def test_an_error_made_by_user_code_has_every_attribute(made):
    e = made()
    assert e.errors == ()
    assert (e.code, e.path, e.expected, e.value, e.message) == (None, None, None, None, None)
    assert list(vars(e)) == ["code", "expected", "value", "message", "path", "errors"]
    handled = []
    try:
        raise e
    except ValidationError as caught:
        handled.extend(entry["message"] for entry in caught.errors)
    assert handled == []


def test_a_raised_error_shadows_the_defaults_with_its_own():
    e = failure(Validator(int), "a")
    assert e.code == "int_type" and len(e.errors) == 1
    assert ValidationError("x").errors == ()


def test_the_signature_is_that_of_its_arguments():
    import inspect

    assert str(inspect.signature(ValidationError)) == "(*args)"
    assert ValidationError.__doc__ == "Raised when a value is not a member of a schema's set."
    assert str(ValidationError("a", 2)) == "('a', 2)"


def test_a_subclass_made_by_user_code_has_the_attributes_too():
    class Mine(ValidationError):
        def __init__(self, text, extra):
            super().__init__(text)
            self.extra = extra

    e = Mine("boom", 1)
    assert (e.errors, e.code, e.extra, e.args) == ((), None, 1, ("boom",))
    assert pickle.loads(pickle.dumps(ValidationError("x"))).errors == ()
