"""Container items that the walk decides without Python code must get the
same answers, and the same records, as the general walk."""
import enum
import json
from contextlib import nullcontext
from typing import Annotated, Literal, Optional

import pytest

from kestrome import ValidationError, Validator, anything, intersection, recursive, union


class Bound:
    def __init__(self, **kw):
        self.__dict__.update(kw)


class LoggingInt(int):
    calls = []

    def __ge__(self, other):
        LoggingInt.calls.append(("ge", int(self), other))
        return int(self) >= other


class Text(str):
    pass


RANGE = Validator(list[Annotated[int, Bound(ge=0), Bound(lt=10)]])


@pytest.mark.parametrize(
    "items, member",
    [
        ([0, 9, 5], True),
        ([10], False),
        ([-1], False),
        ([True, False], True),  # bool is an int; compared as one
        ([2**70], False),  # past 64 bits: compared by Python
        ([-(2**70)], False),
        ([1.5], False),
        (["3"], False),
    ],
)
def test_integer_bounds_on_list_items(items, member):
    assert RANGE.is_valid(items) is member
    assert (items in RANGE) is member


def test_integer_bounds_call_an_int_subclass_comparison():
    LoggingInt.calls.clear()
    assert RANGE.is_valid([LoggingInt(3)])
    assert LoggingInt.calls == [("ge", 3, 0)]


def test_bounds_past_64_bits_are_compared_by_python():
    huge = Validator(list[Annotated[int, Bound(gt=2**64)]])
    assert huge.is_valid([2**65]) and not huge.is_valid([5])
    top = Validator(list[Annotated[int, Bound(gt=2**63 - 1)]])
    assert top.is_valid([2**63]) and not top.is_valid([2**63 - 1])


def test_records_of_items_decided_in_place_keep_their_paths():
    with pytest.raises(ValidationError) as info:
        RANGE.validate([1, 11, "x", 3, -4])
    assert [(e["path"], e["code"]) for e in info.value.errors] == [
        ((1,), "less_than"),
        ((2,), "int_type"),
        ((4,), "greater_than_equal"),
    ]


WORDS = Validator(list[Literal["a", "bb", "ccc", 1, 2]])


@pytest.mark.parametrize(
    "items, member",
    [
        (["a", "bb", 2], True),
        (["".join(["c", "cc"])], True),  # equal text, another object
        (["d"], False),
        ([Text("a")], False),  # same text, another type
        ([True], False),
        ([1.0], False),
        ([3], False),
        (["\ud800"], False),
    ],
)
def test_literal_union_items(items, member):
    assert WORDS.is_valid(items) is member


def test_literal_union_reports_like_the_general_walk():
    with pytest.raises(ValidationError) as info:
        WORDS.validate(["a", "zz"])
    assert info.value.path == (1,)
    assert info.value.code == "union_error"
    assert info.value.expected == "one of: 'a', 'bb', 'ccc', 1, 2"


def test_set_elements_and_record_fields_decided_in_place():
    s = Validator(set[Literal["x", "y"]])
    assert s.is_valid({"x", "y"}) and not s.is_valid({"x", "z"})
    r = Validator({"a": int, "b?": Literal["p", "q"]})
    assert r.is_valid({"a": True, "b": "p"})
    with pytest.raises(ValidationError) as info:
        r.validate({"a": 1.0, "b": "r"})
    assert [e["path"] for e in info.value.errors] == [("a",), ("b",)]


# Decisions made from prepared tables (tagged unions, records and containers
# decided in place) must agree with the general walk. Wrapping a schema in
# `intersection(T, anything)` hides it from every prepared test, so the same
# schema written that way takes the general road.
def general(schema):
    return intersection(schema, anything)


class Color(enum.Enum):
    RED = 1
    BLUE = 2


class Key(str):
    """A str key with a hash of its own: equal texts may then meet twice in one dict."""

    def __hash__(self):
        return 7


TAGGED_MEMBERS = [
    {"type": Literal["a"], "x": int},
    {"type": Literal["b", "c"], "y?": str},
    {"type": Literal[1], "z": Optional[float]},
    {"type": Literal[True]},
    union({"type": None, "n": int}, {"type": Literal[Color.RED]}),
]
TAGGED = Validator(union(*TAGGED_MEMBERS))
UNTAGGED = Validator(union(*[general(m) for m in TAGGED_MEMBERS]))


@pytest.mark.parametrize(
    "value",
    [
        {"type": "a", "x": 1},
        {"x": 1, "type": "a"},
        {"type": "a", "x": "1"},
        {"type": "b"},
        {"type": "c", "y": "s"},
        {"type": "d"},
        {"type": 1, "z": None},
        {"type": 1, "z": 2},
        {"type": True},
        {"type": 1.0, "z": None},  # equal to 1, but not of its exact type
        {"type": True, "z": None},  # True == 1, but a tag of its own
        {"type": None, "n": 3},
        {"type": Color.RED},
        {"type": Color.BLUE},
        {"type": "a"},
        {"x": 1},
        {},
        [("type", "a")],
        {"type": "a", "x": 1, Key("type"): "b"},
        {Key("type"): "b", "type": "a", "x": 1},
        {Key("type"): "a", "x": 1},
    ],
)
def test_tagged_union_agrees_with_the_general_walk(value):
    assert TAGGED.is_valid(value) == UNTAGGED.is_valid(value)
    with pytest.raises(ValidationError) if not UNTAGGED.is_valid(value) else nullcontext():
        TAGGED.validate(value)


TAGGED_ITEMS = [{"type": "a", "x": 1}, {"type": "c"}, {"type": 1, "z": 2.5}, {"type": True}, {"type": None, "n": 3}]


# Items that the tagged union's passes decide in a run, then a failing one
# (or a member of the part made of unions, which the run leaves to the walk)
# and the rest: the same answers and reports as the general walk.
@pytest.mark.parametrize(
    "odd", [{"type": "a", "x": "1"}, {"type": "zz"}, {"x": 1}, [("type", "a")], {"type": Color.RED}, None]
)
@pytest.mark.parametrize("where", [0, 2, 5])
def test_lists_of_tagged_unions_agree_with_the_general_walk(odd, where):
    items = TAGGED_ITEMS[:where] + [odd] + TAGGED_ITEMS[where:]
    fast, slow = Validator(list[union(*TAGGED_MEMBERS)]), Validator(list[union(*[general(m) for m in TAGGED_MEMBERS])])
    assert fast.is_valid(items) == slow.is_valid(items)
    assert fast.is_valid_json(json.dumps(items, default=str)) == slow.is_valid(json.loads(json.dumps(items, default=str)))
    if not slow.is_valid(items):
        with pytest.raises(ValidationError) as e:
            fast.validate(items)
        assert {error["path"][0] for error in e.value.errors} == {where}


@pytest.mark.parametrize(
    "doc",
    [
        '{"type": "a", "x": 1}',
        '{"type": "zz", "type": "a", "x": 1}',
        '{"type": "a", "type": "zz", "x": 1}',
        '{"type": "a", "x": 1, "type": "b"}',
        '{"type": 1, "type": "a", "x": 1}',
        '{"type": "b", "x": 1, "type": "a"}',
    ],
)
def test_tagged_union_in_json_judges_the_last_of_repeated_tags(doc):
    member = UNTAGGED.is_valid(json.loads(doc))
    assert TAGGED.is_valid_json(doc) is member
    assert TAGGED.is_valid(json.loads(doc)) is member


# The tag is the last field of the first member: its key is found by the
# very str object of that field's name, keys in any order.
TAG_LAST = [{"x": str, "n?": str, "type": Literal["a"]}, {"type": Literal["b"], "y": str}]


@pytest.mark.parametrize(
    "value",
    [
        {"x": "b", "type": "a"},
        {"type": "a", "x": "b"},
        {"x": 1, "type": "a"},
        {"type": "a", "x": 1},
        {"x": "b", "n": "b", "type": "a"},
        {"n": "b", "x": "b", "type": "a"},
        {"type": "b", "y": "s"},
        {"y": "s", "type": "b"},
        {"x": "a", "type": "b"},
        {"n": "a", "y": "s", "type": "b"},
        {"x": "b"},
        {"".join(["ty", "pe"]): "a", "x": "b"},
    ],
)
def test_tagged_union_finds_a_tag_that_is_not_the_first_field(value):
    tagged, untagged = Validator(union(*TAG_LAST)), Validator(union(*[general(m) for m in TAG_LAST]))
    assert tagged.is_valid(value) == untagged.is_valid(value)


def test_tagged_union_reports_the_closest_member():
    with pytest.raises(ValidationError) as e:
        TAGGED.validate({"type": "a", "x": "1"})
    assert [(d["path"], d["code"]) for d in e.value.errors] == [(("x",), "int_type")]


RECORD_FIELDS = {
    "a": int,
    "b": Optional[str],
    "c": Literal["on", "off"],
    "d": Literal[3],
    "e": Color,
    "f?": Annotated[int, Bound(ge=0)],
    "g": float | int,
}
RECORD = Validator(RECORD_FIELDS)
RECORD_GENERAL = Validator({k: general(t) for k, t in RECORD_FIELDS.items()})
GOOD = {"a": 1, "b": None, "c": "on", "d": 3, "e": Color.RED, "g": 2}


@pytest.mark.parametrize(
    "change",
    [
        {},
        {"f": 0},
        {"f": -1},
        {"a": True},
        {"a": 1.0},
        {"b": "x"},
        {"b": b"x"},
        {"c": "maybe"},
        {"c": Key("on")},
        {"d": 3.0},
        {"d": True},
        {"e": 1},
        {"g": 1.5},
        {"g": "1"},
        {"h": 1},
        {Key("a"): 2},
    ],
)
def test_record_fields_decided_in_place_agree_with_the_general_walk(change):
    value = {**GOOD, **change}
    assert RECORD.is_valid(value) == RECORD_GENERAL.is_valid(value)
    missing = {k: v for k, v in GOOD.items() if k != "a"}
    assert RECORD.is_valid(missing) == RECORD_GENERAL.is_valid(missing) is False


@pytest.mark.parametrize(
    "schema, value",
    [
        (dict[str, int], {"a": 1, "b": 2}),
        (dict[str, int], {"a": 1, "b": "2"}),
        (dict[str, int], {1: 1}),
        (dict[int, Optional[str]], {1: None, 2: "x"}),
        (set[int], {1, 2, 3}),
        (set[int], {1, 2, "3"}),
        (frozenset[str], frozenset({"a", "b"})),
        (list[float], [1.0, 2.5, 3]),
        (list[str], ["a", Key("b"), 3]),
        (list[Color], [Color.RED, Color.BLUE, 1]),
        (tuple[int | None, ...], (1, None, "x")),
    ],
)
def test_containers_decided_in_place_agree_with_the_general_walk(schema, value):
    fast, slow = Validator(schema), Validator(general(schema))
    assert fast.is_valid(value) == slow.is_valid(value)


class Items(list):
    pass


# Fields that are lists or tuples of one item type are decided by a scan of
# their items; keys are found by the identity of the field's name or by text.
SEQUENCE_FIELDS = {"id": int, "tags": list[str], "pair?": tuple[int, ...], "kind": Literal["é", "ü€", "k"]}
SEQUENCE_RECORD = Validator(SEQUENCE_FIELDS)
SEQUENCE_GENERAL = Validator({k: general(t) for k, t in SEQUENCE_FIELDS.items()})


@pytest.mark.parametrize(
    "value",
    [
        {"id": 1, "tags": ["a", "b"], "kind": "k"},
        {"id": 1, "tags": [], "pair": (1, 2), "kind": "é"},
        {"id": 1, "tags": Items(["a"]), "kind": "ü€"},
        {"id": 1, "tags": ["a", 2], "kind": "k"},
        {"id": 1, "tags": ("a",), "kind": "k"},
        {"id": 1, "tags": ["a"], "pair": [1, 2], "kind": "k"},
        {"id": 1, "tags": ["a"], "pair": (1, "2"), "kind": "k"},
        {"id": 1, "tags": [Key("a")], "kind": "k"},
        {"id": 1, "tags": ["a"], "kind": "e"},
        {"id": 1, "tags": ["a"], "kind": "ü"},
        {"kind": "k", "tags": ["a"], "id": 1},
        {"".join(["i", "d"]): 1, "".join(["ta", "gs"]): ["a"], "".join(["ki", "nd"]): "k"},
        {"id": 1, "tags": ["a"], "kind": "k", "extra": 1},
        {"id": 1, "tags": ["a"]},
        {Key("id"): 1, "tags": ["a"], "kind": "k"},
        {"id": 1, Key("tags"): ["a"], "kind": "k"},
    ],
)
def test_sequence_fields_decided_in_place_agree_with_the_general_walk(value):
    assert SEQUENCE_RECORD.is_valid(value) == SEQUENCE_GENERAL.is_valid(value)
    assert Validator(list[SEQUENCE_FIELDS]).is_valid([value]) == SEQUENCE_GENERAL.is_valid(value)
    assert SEQUENCE_RECORD.is_valid_json(json.dumps(value, default=list)) == SEQUENCE_GENERAL.is_valid(
        json.loads(json.dumps(value, default=list))
    )


# Records inside records, and lists and tuples of records, are decided by the
# inner records' own prepared passes.
INNER = {"x": int, "tags": list[str]}
ENTRY = {"k": str, "v?": float}
NESTED_FIELDS = {"id": int, "inner": INNER, "items": list[ENTRY], "pair?": tuple[ENTRY, ...]}
NESTED_RECORD = Validator(NESTED_FIELDS)
NESTED_GENERAL = Validator(
    {"id": int, "inner": general(INNER), "items": list[general(ENTRY)], "pair?": tuple[general(ENTRY), ...]}
)
GOOD_INNER = {"x": 1, "tags": ["a"]}


def has_own_keys(value):
    if isinstance(value, dict):
        return any(type(k) is not str or has_own_keys(v) for k, v in value.items())
    return isinstance(value, (list, tuple)) and any(has_own_keys(v) for v in value)


@pytest.mark.parametrize(
    "value",
    [
        {"id": 1, "inner": GOOD_INNER, "items": [{"k": "a"}, {"k": "b", "v": 1.5}]},
        {"id": 1, "inner": GOOD_INNER, "items": [], "pair": ({"k": "a"},)},
        {"id": 1, "inner": GOOD_INNER, "items": [], "pair": [{"k": "a"}]},
        {"id": 1, "inner": {"x": 1}, "items": []},
        {"id": 1, "inner": {"x": 1, "tags": [], "y": 2}, "items": []},
        {"id": 1, "inner": {"x": "1", "tags": []}, "items": []},
        {"id": 1, "inner": [("x", 1)], "items": []},
        {"id": 1, "inner": GOOD_INNER, "items": [{"k": 1}, {"k": "b"}]},
        {"id": 1, "inner": GOOD_INNER, "items": [{"k": "a"}, {"k": "b", "v": 1}, {"k": "c"}]},
        {"id": 1, "inner": GOOD_INNER, "items": [{"k": "a"}, {"k": "b"}, {"v": 1.0}]},
        {"id": 1, "inner": GOOD_INNER, "items": [{"k": "a"}, None]},
        {"id": 1, "inner": GOOD_INNER, "items": ({"k": "a"},)},
        {"id": 1, "inner": {Key("x"): 1, "tags": []}, "items": []},
        {"id": 1, "inner": {"x": 1, "tags": [], Key("x"): "1"}, "items": []},
        {"id": 1, "inner": GOOD_INNER, "items": [{"k": "a", Key("k"): 2}]},
    ],
)
def test_nested_records_decided_in_place_agree_with_the_general_walk(value):
    expected = NESTED_GENERAL.is_valid(value)
    assert NESTED_RECORD.is_valid(value) == expected
    with pytest.raises(ValidationError) if not expected else nullcontext():
        NESTED_RECORD.validate(value)
    assert Validator(list[NESTED_FIELDS]).is_valid([value, value]) == expected
    if not has_own_keys(value):  # as JSON, equal keys would repeat instead
        doc = json.dumps(value, default=list)
        assert NESTED_RECORD.is_valid_json(doc) == NESTED_GENERAL.is_valid(json.loads(doc))


@pytest.mark.parametrize(
    "doc, member",
    [
        ('{"id": 1, "inner": {"x": "1", "tags": [], "x": 1}, "items": []}', True),
        ('{"id": 1, "inner": {"x": 1, "tags": [], "x": "1"}, "items": []}', False),
        ('{"id": 1, "inner": {"x": 1, "tags": []}, "items": [{"k": 1, "k": "a"}]}', True),
    ],
)
def test_nested_records_in_json_keep_the_last_of_repeated_keys(doc, member):
    assert NESTED_RECORD.is_valid_json(doc) is member
    assert NESTED_GENERAL.is_valid_json(doc) is member


def record_chain(leaf):
    schema = leaf
    for key in "fedcba":
        schema = {key: schema}
    return schema


def lists_of(t):
    return list[list[list[list[list[list[list[t]]]]]]]


def test_a_deep_failure_below_records_decided_in_place_is_reported_once_at_its_path():
    schema, good, bad = int, 1, "x"
    for _ in range(100):
        schema = {"a": schema, "t": list[int]}
        good, bad = {"a": good, "t": [1]}, {"a": bad, "t": [1]}
    v = Validator(list[schema])
    assert v.is_valid([good, good])
    with pytest.raises(ValidationError) as e:
        v.validate([good, bad, good, bad])
    assert [(d["code"], d["path"]) for d in e.value.errors] == [
        ("int_type", (i,) + ("a",) * 100) for i in (1, 3)
    ]


class PlainKey(str):
    """A str subclass with str's own hash: found by text, but no record's prepared pass takes it."""


def chain_value(key, lists):
    value = 1
    for k in "fedcba":
        value = {key(k): value}
    for _ in range(lists):
        value = [value]
    return value


# Seven lists, a union and a back edge per step reach the nesting limit near
# 110 steps; up to seven more lists end anywhere within the six records,
# whose levels count alike whether their prepared passes decide them (str
# keys) or the general walk does (PlainKey keys).
def chain_leaves():
    leaves = [record_chain(int)]
    for _ in range(7):
        leaves.append(list[leaves[-1]])
    return leaves


CHAIN = Validator(recursive(lambda t: union(lists_of(t), *chain_leaves())))


@pytest.mark.parametrize("lists", [7 * 109, *range(7 * 110, 7 * 110 + 8)])
def test_nested_records_near_the_nesting_limit_agree_with_the_general_walk(lists):
    fast, general_road = chain_value(str, lists), chain_value(PlainKey, lists)
    expected = CHAIN.is_valid(general_road)
    assert CHAIN.is_valid(fast) == expected
    with pytest.raises(ValidationError) if not expected else nullcontext():
        CHAIN.validate(fast)


# A name written twice: its last field decides, whichever object the key is.
@pytest.mark.parametrize("fields", [{"a": int, "a?": str}, {"a?": str, "a": int}, {"a": int, "b": list[int], "a?": str}])
@pytest.mark.parametrize("value", [{"a": 1}, {"a": "x"}, {"a": 1, "b": [1]}, {"a": "x", "b": [1]}, {}])
def test_repeated_field_names_decided_in_place_agree_with_the_general_walk(fields, value):
    general_fields = {k: general(t) for k, t in fields.items()}
    assert Validator(fields).is_valid(value) == Validator(general_fields).is_valid(value)


def test_set_with_deleted_elements_is_read_in_place():
    s = set(range(100))
    for i in range(0, 100, 2):
        s.discard(i)
    assert Validator(set[int]).is_valid(s)
    s.add("x")
    assert not Validator(set[int]).is_valid(s)


class Slots:
    def __init__(self, a, b):
        self.a = a
        self.b = b


class Mapping(dict):
    pass


def with_deleted(extra, **items):
    made = {"zz": extra, **items, "yy": extra}
    del made["zz"], made["yy"]
    return made


def grown_then_emptied(**items):
    made = {f"k{i}": object() for i in range(300)}
    made.update(items)
    for i in range(300):
        del made[f"k{i}"]
    return made


def replaced(**items):
    made = {key: object() for key in items}
    made.update(items)
    return made


# The same entries held in dict tables of every form: fresh, with deleted
# entries (whose old values must not be read), emptied after growing, values
# replaced in place, an instance's split table, a dict subclass, str
# subclass keys and a key of another type.
@pytest.mark.parametrize(
    "make",
    [
        lambda a, b: {"a": a, "b": b},
        lambda a, b: with_deleted(object(), a=a, b=b),
        lambda a, b: grown_then_emptied(a=a, b=b),
        lambda a, b: replaced(a=a, b=b),
        lambda a, b: vars(Slots(a, b)),
        lambda a, b: Mapping(a=a, b=b),
        lambda a, b: {Key("a"): a, "b": b},
    ],
)
@pytest.mark.parametrize("a, b, member", [(1, "x", True), (1, 2, False), ("1", "x", False)])
def test_dict_tables_of_every_form_are_read_alike(make, a, b, member):
    for schema in ({"a": int, "b": str}, {"a": int, "b?": str}, dict[str, int | str], {"kind?": int, "a": int, "b": str}):
        assert Validator(schema).is_valid(make(a, b)) == Validator(general(schema)).is_valid(make(a, b))
    assert Validator({"a": int, "b": str}).is_valid(make(a, b)) is member
    assert Validator(dict[str, int]).is_valid({**with_deleted("x", a=1), "c": 2})
    assert Validator(list[{"a": int}]).is_valid([with_deleted("x", a=1)] * 3)


def unencoded(text):
    """`text` as a new str that has not been encoded to UTF-8 yet: for a text
    that is not ASCII, the walk's in-place reads find no UTF-8 form in it."""
    return json.loads(json.dumps(text))


NOT_ENCODED_TAGS = [{"kind": Literal["é"], "x": int}, {"kind": Literal["b"], "y": int}]


@pytest.mark.parametrize(
    "schema, make, member",
    [
        ({"é": int}, lambda: {unencoded("é"): 1}, True),
        ({"é": int}, lambda: {unencoded("é"): "x"}, False),
        (list[{"é": int}], lambda: [{unencoded("é"): 1}] * 3, True),
        ({"a": int, str: int}, lambda: {"a": 1, unencoded("é"): 1}, True),
        (dict[Literal["é", "b"], int], lambda: {unencoded("é"): 1}, True),
        (list[union(*NOT_ENCODED_TAGS)], lambda: [{"kind": unencoded("é"), "x": 1}], True),
        (list[union(*NOT_ENCODED_TAGS)], lambda: [{"kind": unencoded("é"), "y": 1}], False),
        (list[union(*NOT_ENCODED_TAGS)], lambda: [{unencoded("ké"): 1, "kind": "b", "y": 1}], False),
        (list[Literal["é", "b", "c"]], lambda: [unencoded("é")], True),
        (Literal["é", "b", "c"], lambda: unencoded("é"), True),
    ],
)
def test_texts_not_encoded_yet_are_judged_like_any_other(schema, make, member):
    assert Validator(schema).is_valid(make()) is member
    assert Validator(general(schema)).is_valid(make()) is member


def test_failing_items_after_a_run_are_reported_at_their_index():
    with pytest.raises(ValidationError) as e:
        Validator(list[float]).validate([1.0, 2.0, "x", 3.0, None])
    assert [d["path"] for d in e.value.errors] == [(2,), (4,)]


# The JSON walk reads texts, tags and literals from the document in place; a
# document must be judged as the value it loads to.
JSON_CASES = [
    (TAGGED_MEMBERS, ['{"type": "a", "x": 1}', '{"x": 1, "type": "a"}', '{"type": "b"}', '{"type": "d"}',
                      '{"type": 1, "z": null}', '{"type": 1.0, "z": null}', '{"type": true}', '{"type": null, "n": 1}',
                      '{"type": "a", "x": 1, "type": "b"}', '{"type": "b", "type": "a", "x": 1}',
                      '{"t\\u0079pe": "a", "x": 1}', '{"type": "\\u0061", "x": 1}', '[]', '"a"']),
    ([RECORD_FIELDS], ['{"a": 1, "b": null, "c": "on", "d": 3, "e": 1, "g": 2}']),
    ([{"a": int, "b?": Literal["x", "y"]}], ['{"a": 1}', '{"a": 1, "b": "x"}', '{"a": 1, "b": "z"}',
                                             '{"a": "1", "a": 1}', '{"a": 1, "a": "1"}', '{"a": 1, "c": 1}',
                                             '{"b": "x", "a": 1, "b": "q"}']),
    ([{"é": int, "clé?": str}], ['{"é": 1}', '{"\\u00e9": 1, "clé": "v"}', '{"e": 1}']),
    ([{"a": int, "a?": str}, {"a?": str, "a": int}], ['{"a": 1}', '{"a": "x"}', '{}']),
    ([dict[str, int], dict[str, Optional[int]]], ['{"a": 1, "b": 2}', '{"a": 1, "a": "x"}', '{"a": "x", "a": 1}',
                                                   '{"a": null}', '{}']),
    ([list[Literal["x", "y", 7]], list[Literal["é"]]], ['["x", "y", 7]', '["x", "z"]', '[7.0]', '["\\u00e9"]',
                                                          '["é", "e"]', '[true]']),
    ([list[Literal[True]], list[Literal[None]], list[Literal[1]]], ['[true]', '[1]', '[null]', '[false]']),
    ([list[Annotated[int, Bound(ge=0), Bound(lt=10)]]], ['[0, 9]', '[10]', '[true]', '[1e2]',
                                                         '[123456789012345678901234567890]']),
    ([list[int | None], list[float | int]], ['[1, null, 2.5]', '[1, 2]', '[true, 1.5]', '["x"]']),
]



# Texts of every length class that a table compares inline (1 to 3, 4 to 7,
# 8 to 16 bytes, longer), each also changed in one byte at its start, middle
# and end, written with an escape, and non-ASCII.
NAMES = ["k", "kq", "key", "key4", "seven_7", "eight888", "sixteen_16_bytes", "seventeen_17_bytes",
         "a_name_of_thirty_three_bytes_long", "été", "日本語のキー"]


def one_byte_changed(name, at):
    return name[:at] + ("Z" if name[at] != "Z" else "Y") + name[at + 1:]


def changed_names():
    return [one_byte_changed(n, at) for n in NAMES for at in {0, len(n) // 2, len(n) - 1}]


def escaped(name):
    return "".join(f"\\u{ord(c):04x}" if i == len(name) - 1 else c for i, c in enumerate(name))


def record_doc(names, value="1"):
    return "{" + ", ".join(f'"{n}": {value}' for n in names) + "}"


WIDE_RECORD = {name: int for name in NAMES}
TEXT_CASES = [
    ([WIDE_RECORD, {**WIDE_RECORD, "rest?": str}, {name + "?": int for name in NAMES}],
     [record_doc(NAMES), record_doc(NAMES[::-1]), record_doc(NAMES[1:]), record_doc(NAMES, '"1"'),
      record_doc([escaped(n) for n in NAMES]), record_doc(NAMES + [NAMES[0]]),
      record_doc(NAMES) [:-1] + f', "{escaped(NAMES[3])}": "x"}}',
      record_doc(NAMES + ["rest"])]
     + [record_doc([c if n == NAMES[i // 3] else n for n in NAMES]) for i, c in enumerate(changed_names())]),
    ([list[Literal[tuple(NAMES)]], list[Literal[tuple(NAMES) + (7,)]]],
     [json.dumps(NAMES), json.dumps(NAMES[::-1], ensure_ascii=False), "[" + ", ".join(f'"{escaped(n)}"' for n in NAMES) + "]",
      '["k", 7, "key"]', '[7]', '["k", 7.0]', '["k", null]']
     + [json.dumps(NAMES[:3] + [c]) for c in changed_names()]),
    ([dict[Literal[tuple(NAMES)], int]], [record_doc(NAMES), record_doc([escaped(n) for n in NAMES]),
                                           record_doc([changed_names()[4]])]),
]
JSON_CASES += TEXT_CASES

# Arrays whose items the kind of each node decides, with a run broken at
# the first item and in the middle.
JSON_CASES += [
    ([list[int], list[float], list[str], list[bool], list[None], list[int | str], list[Optional[float]], list[anything]],
     ["[]", "[1, 2, 3]", "[true, 1, 12345678901234567890123]", "[1.5, 2.5]", '["a", "b"]', "[null, null]",
      "[1, 2, null, 3]", '["a", 1, 2.5, null, true, [], {}]', "[[1], 1]", "[{}, 1]"]),
    ([{"a": int, "b": list[int]}, dict[str, list[float]]], ['{"a": 1, "b": [1, 2]}', '{"a": 1, "b": [1, 2.5]}',
                                                            '{"a": [1], "b": []}', '{"a": 1.5, "b": [true]}']),
]
JSON_PAIRS = [(schema, doc) for schemas, docs in JSON_CASES for schema in (
    [union(*schemas)] if schemas is TAGGED_MEMBERS else schemas) for doc in docs]


@pytest.mark.parametrize("schema, doc", JSON_PAIRS)
def test_json_judged_as_the_value_it_loads_to(schema, doc):
    value = json.loads(doc)
    expected = Validator(general(schema)).is_valid(value)
    assert Validator(schema).is_valid(value) == expected
    assert Validator(schema).is_valid_json(doc) == expected
    assert Validator(general(schema)).is_valid_json(doc) == expected


# The tables a validator builds on its first check serve both kinds of input,
# whichever comes first.
@pytest.mark.parametrize("schema, doc", JSON_PAIRS)
def test_one_validator_judges_values_and_documents_in_either_order(schema, doc):
    value = json.loads(doc)
    expected = Validator(general(schema)).is_valid(value)
    value_first, document_first = Validator(schema), Validator(schema)
    assert (value_first.is_valid(value), value_first.is_valid_json(doc)) == (expected, expected)
    assert (document_first.is_valid_json(doc), document_first.is_valid(value)) == (expected, expected)


# Lists of short fixed lists (points, pairs), whose positions are decided by
# tests prepared once per validator: the same answers and reports as the
# general walk, on Python values and on JSON documents.
N = float | int
POSITIONS = [
    ([N, N], [general(N), general(N)]),
    ([Literal["a", "b"], int], [general(Literal["a", "b"]), general(int)]),
    ([str, N, ...], [general(str), general(N), ...]),
    ([Optional[int], Annotated[int, Bound(ge=0)]], [general(Optional[int]), general(Annotated[int, Bound(ge=0)])]),
]


@pytest.mark.parametrize("fast, slow", POSITIONS)
@pytest.mark.parametrize(
    "odd", [[1.5, 2], [1, "2"], ["a", 1], [None, 3], [1], [1, 2, 3], [], "ab", {"a": 1}, ["x", 1.5, 2, "y"], [True, -1]]
)
@pytest.mark.parametrize("where", [0, 3])
def test_lists_of_fixed_lists_agree_with_the_general_walk(fast, slow, odd, where):
    items = [[1, 2.5], ["a", 2], ["b", 0, 1], [None, 0], [7, 8]]
    items = items[:where] + [odd] + items[where:]
    for outer in (lambda t: list[t], lambda t: list[list[t]]):
        value = items if outer(int) == list[int] else [items, [], items[:2]]
        quick, general_road = Validator(outer(fast)), Validator(outer(slow))
        expected = general_road.is_valid(value)
        assert quick.is_valid(value) == expected
        assert quick.is_valid_json(json.dumps(value)) == expected
        if not expected:
            with pytest.raises(ValidationError) as a:
                quick.validate(value)
            with pytest.raises(ValidationError) as b:
                general_road.validate(value)
            assert a.value.errors == b.value.errors
