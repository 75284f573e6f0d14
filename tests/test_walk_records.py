import json
import types
from typing import Annotated, NotRequired, Required, TypedDict

import pytest

from kestrome import ValidationError, Validator

from support import check_membership, failure, records


class StrSub(str):
    pass


class DictSub(dict):
    pass


class LyingDict(dict):
    """Overrides the read protocols; the walk must see the stored entries."""

    def __getitem__(self, key):
        return 1

    def __iter__(self):
        return iter(["zzz"])

    def items(self):
        return [("a", 1)]

    def keys(self):
        return ["a"]

    def get(self, key, default=None):
        return 1

    def __len__(self):
        return 0


RECORD = {"a": int}
WITH_OPTIONAL = {"a": int, "b?": str}

MEMBERSHIP = [
    (RECORD, [{"a": 1}, {"a": True}, DictSub(a=1), {StrSub("a"): 1}, LyingDict(a=1)],
     [{}, {"a": "x"}, {"a": 1, "b": 2}, {"a\x00": 1}, {"A": 1}, [("a", 1)], types.MappingProxyType({"a": 1}), LyingDict(a="x")]),
    ({"a?": int, "b": int}, [{"b": 1}, {"a": 1, "b": 1}], [{"a": 1}, {}, {"a": 1, "c": 1}]),
    (WITH_OPTIONAL, [{"a": 1}, {"a": 1, "b": "x"}], [{"b": "x"}, {"a": 1, "b": None}, {"a": 1, "c": 1}]),
    (dict[str, int], [{}, {"x": 1}, DictSub(y=2)], [{"x": "y"}, {1: 1}, [], {"x": 1.0}]),
    ({}, [{}], [{"a": 1}, []]),
    ({"a": int, str: str}, [{"a": 1}, {"a": 1, "b": "x"}], [{}, {"a": 1, "b": 2}, {"a": "x"}, {"a": 1, 1: "x"}]),
    ({str: int, int: str}, [{"a": 1, 2: "b"}], [{"a": "b"}, {2: 3}, {1.5: 1}]),
]


@pytest.mark.parametrize("schema, members, others", MEMBERSHIP)
def test_record_membership(schema, members, others):
    check_membership(Validator(schema), members, others)


# A name written twice is read as its last field by every pass: the boolean
# passes, the report and the JSON road agree.
REPEATED = [
    ({"a": int, "a?": int}, [{"a": 1}, {}], [{"a": "x"}, {"b": 1}],
     [[("int_type", ("a",), "int")], [("extra_forbidden", ("b",), "no unexpected key")]]),
    ({"a?": int, "a": str}, [{"a": "x"}], [{}, {"a": 1}],
     [[("missing_key", ("a",), 'required key "a"')], [("string_type", ("a",), "str")]]),
    ({"a": int, "b": int, "a?": str}, [{"b": 1}, {"a": "x", "b": 1}], [{"a": 1, "b": 1}, {}],
     [[("string_type", ("a",), "str")], [("missing_key", ("b",), 'required key "b"')]]),
    ({"a": int, "a?": int, str: bytes}, [{}, {"a": 1, "c": b""}], [{"a": b""}],
     [[("int_type", ("a",), "int")]]),
]


@pytest.mark.parametrize("schema, members, others, reports", REPEATED)
def test_repeated_field_names_are_read_as_their_last_field(schema, members, others, reports):
    v = Validator(schema)
    errors = check_membership(v, members, others)
    assert [[r[:3] for r in records(e)] for e in errors] == reports
    for x in members + others:
        if all(isinstance(item, (int, str)) for item in x.values()):
            assert v.is_valid_json(json.dumps(x)) is (x in members)
    with_tables = Validator(list[schema])
    assert with_tables.is_valid(members) and not with_tables.is_valid(others[:1])


REPORTS = [
    (RECORD, {"a": "x"}, [("int_type", ("a",), "int", "'x'")]),
    (RECORD, {}, [("missing_key", ("a",), 'required key "a"', "missing")]),
    (RECORD, {"a": 1, "b": 2}, [("extra_forbidden", ("b",), "no unexpected key", '"b"')]),
    (RECORD, [], [("dict_type", (), "dict", "[]")]),
    ({"a": list[int], "b": int}, {"a": ["x"], "b": "y"}, [("int_type", ("a", 0), "int", "'x'"), ("int_type", ("b",), "int", "'y'")]),
    (RECORD, types.MappingProxyType({"a": 1}), [("dict_type", (), "dict", "mappingproxy({'a': 1})")]),
    (RECORD, LyingDict(a="x"), [("int_type", ("a",), "int", "'x'")]),
    (WITH_OPTIONAL, {"a": 1, "b": None}, [("string_type", ("b",), "str", "None")]),
    ({'q"uote': int}, {}, [("missing_key", ('q"uote',), r'required key "q\"uote"', "missing")]),
    (RECORD, {"a": 1, 'x\ty': 0}, [("extra_forbidden", ("x\ty",), "no unexpected key", r'"x\ty"')]),
    (dict[str, int], {"x": "y"}, [("int_type", ("x",), "int", "'y'")]),
    (dict[str, int], {1: 1}, [("string_type", ("1",), "str", "1")]),
    (dict[str, int], {1: "y"}, [("string_type", ("1",), "str", "1"), ("int_type", ("1",), "int", "'y'")]),
    (dict[str, int], ["x"], [("dict_type", (), "dict", "['x']")]),
    # only the first clause is reported
    ({str: int, int: str}, {"a": "b"}, [("int_type", ("a",), "int", "'b'")]),
    ({str: int, int: str}, {2: 3}, [("string_type", ("2",), "str", "2")]),
    ({"a": int, str: str}, {"a": 1, "b": 2}, [("string_type", ("b",), "str", "2")]),
    ({"a": int, str: str}, {"a": 1, 5: "x"}, [("string_type", ("5",), "str", "5")]),
]


@pytest.mark.parametrize("schema, value, expected", REPORTS)
def test_record_reports(schema, value, expected):
    assert records(failure(Validator(schema), value)) == expected


def test_collect_lists_fields_in_declared_order_then_undeclared_keys_in_dict_order():
    v = Validator({"a": int, "b": int, "c?": int})
    e = failure(v, {"z": 0, "b": "x", "y": 0, "c": None})
    assert [(d["code"], d["path"]) for d in e.errors] == [
        ("missing_key", ("a",)),
        ("int_type", ("b",)),
        ("int_type", ("c",)),
        ("extra_forbidden", ("z",)),
        ("extra_forbidden", ("y",)),
    ]


def test_fail_fast_stops_at_first_declared_field():
    v = Validator({"a": int, "b": int})
    value = {"b": "x", "a": "y"}
    assert [d["path"] for d in failure(v, value).errors] == [("a",), ("b",)]
    assert [d["path"] for d in failure(v, value, fail_fast=True).errors] == [("a",)]


def test_fail_fast_stops_at_first_undeclared_key():
    v = Validator({"a": int})
    e = failure(v, {"a": 1, "x": 1, "y": 1}, fail_fast=True)
    assert [d["path"] for d in e.errors] == [("x",)]


def test_fail_fast_undeclared_key_reports_its_key_and_value():
    e = failure(Validator(dict[str, int]), {1: "x", 2: "y"}, fail_fast=True)
    assert [(d["code"], d["path"]) for d in e.errors] == [("string_type", ("1",)), ("int_type", ("1",))]


def test_undeclared_key_text_cut_to_forty_characters_for_clauses():
    v = Validator(dict[str, int])
    long_key = "k" * 50
    assert failure(v, {long_key: "x"}).path == ("k" * 40 + "...",)
    assert failure(v, {"k" * 40: "x"}).path == ("k" * 40,)
    assert failure(v, {"k" * 41: "x"}).path == ("k" * 40 + "...",)


def test_undeclared_key_text_whole_without_clauses():
    long_key = "k" * 50
    e = failure(Validator({"a?": int}), {long_key: 1})
    assert records(e) == [("extra_forbidden", (long_key,), "no unexpected key", f'"{long_key}"')]


class BadStrKey:
    def __init__(self, exc):
        self.exc = exc

    def __str__(self):
        raise self.exc

    def __repr__(self):
        return "BadStrKey()"


@pytest.mark.parametrize("exc", [ValueError("x"), KeyboardInterrupt()])
def test_undeclared_key_with_raising_str(exc):
    e = failure(Validator(dict[str, int]), {BadStrKey(exc): 1})
    assert records(e) == [("string_type", ("BadStrKey()",), "str", "BadStrKey()")]
    e = failure(Validator({"a?": int}), {BadStrKey(exc): 1})
    assert records(e) == [("extra_forbidden", ("",), "no unexpected key", '""')]
    assert e.message == 'expected no unexpected key, got "" [extra_forbidden]'


def test_undeclared_lone_surrogate_key():
    e = failure(Validator({"a?": int}), {"\ud800": 1})
    assert e.code == "extra_forbidden"
    assert e.path == ("\ufffd" * 3,)


def test_str_subclass_key_names_the_field():
    v = Validator({"a": int})
    assert v.is_valid({StrSub("a"): 1})
    assert records(failure(v, {StrSub("a"): "x"})) == [("int_type", ("a",), "int", "'x'")]


class OwnHashStr(str):
    """Equal to its text but hashed apart from it, so a dict keeps it beside the str."""

    def __hash__(self):
        return hash(str(self)) + 1


def many_fields(n):
    return {f"f{i}": int for i in range(n)}


@pytest.mark.parametrize(
    "schema, value, missing",
    [
        ({"a": int, "b": int}, {"a": 1, OwnHashStr("a"): 2}, "b"),
        # positions past the first 64 are counted apart
        ({**many_fields(70), "z": int}, {**{f"f{i}": i for i in range(70)}, OwnHashStr("f69"): 0}, "z"),
        ({**many_fields(70), "z": int}, {**{f"f{i}": i for i in range(70)}, OwnHashStr("f3"): 0}, "z"),
    ],
)
def test_a_required_field_named_by_two_keys_counts_once(schema, value, missing):
    v = Validator(schema)
    assert len(value) == len(schema)  # one key short, one key doubled
    assert not v.is_valid(value)
    assert records(failure(v, value)) == [("missing_key", (missing,), f'required key "{missing}"', "missing")]


class CollidingKey:
    """Hashes like "a" and raises when compared with it."""

    def __hash__(self):
        return hash("a")

    def __eq__(self, other):
        raise ValueError("no comparison")

    def __str__(self):
        return "colliding"


def test_field_lookup_raising_in_report_gives_dict_record():
    value = {CollidingKey(): 1}
    e = failure(Validator({"a": int}), value)
    assert records(e)[0] == ("dict_type", (), "dict", repr(value))
    assert ("extra_forbidden", ("colliding",)) in [(d["code"], d["path"]) for d in e.errors]


class TD(TypedDict):
    a: int
    b: NotRequired[str]


class Partial(TypedDict, total=False):
    x: int
    y: Required[list[int]]


@pytest.mark.parametrize(
    "schema, value, expected",
    [
        (TD, {"a": 1}, None),
        (TD, {"a": 1, "b": "s"}, None),
        (TD, {"b": "s"}, [("missing_key", ("a",), 'required key "a"', "missing")]),
        (TD, {"a": 1, "b": 2}, [("string_type", ("b",), "str", "2")]),
        (TD, {"a": 1, "c": 2}, [("extra_forbidden", ("c",), "no unexpected key", '"c"')]),
        (Partial, {"y": []}, None),
        (Partial, {}, [("missing_key", ("y",), 'required key "y"', "missing")]),
        (Partial, {"y": [1, "z"]}, [("int_type", ("y", 1), "int", "'z'")]),
    ],
)
def test_typed_dict(schema, value, expected):
    v = Validator(schema)
    assert v.is_valid(value) is (expected is None)
    if expected is None:
        v.validate(value)
    else:
        assert records(failure(v, value)) == expected


def test_nested_walks_are_not_called_again_on_success():
    calls = []
    v = Validator({"a": Annotated[int, lambda x: calls.append(x) or True]})
    v.validate({"a": 1})
    assert calls == [1]


def test_report_pass_walks_fields_again():
    calls = []
    v = Validator({"a": Annotated[int, lambda x: calls.append(x) or False]})
    e = failure(v, {"a": 1})
    assert e.code == "predicate_failed"
    assert calls == [1, 1]


def test_fatal_exception_in_field_propagates():
    def stop(x):
        raise KeyboardInterrupt

    v = Validator({"a": Annotated[int, stop], "b": int})
    with pytest.raises(KeyboardInterrupt):
        v.validate({"a": 1, "c": 2})
    with pytest.raises(KeyboardInterrupt):
        v.is_valid({"a": 1})


def internal_failure(call, *args):
    with pytest.raises(BaseException) as info:
        call(*args)
    assert not isinstance(info.value, Exception)
    return info.value


@pytest.mark.parametrize("schema_of", [lambda t: dict[str, t], lambda t: {"a": t, str: t}])
def test_dict_resized_during_walk_is_an_internal_failure(schema_of):
    target = {}

    def grow(x):
        target[f"new{len(target)}"] = 1
        return True

    v = Validator(schema_of(Annotated[int, grow]))
    for call in (v.is_valid, v.validate):
        target.clear()
        target.update(a=1, b=2)
        exc = internal_failure(call, target)
        assert str(exc) == "dictionary changed size during iteration"
