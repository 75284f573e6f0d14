"""JSON documents that once crashed, misread or cost far too much: long integers, the
process locale, documents of 4 GiB, and literals against large nodes."""

import json
import locale
import math
import os
import shutil
import subprocess
import sys
import tracemalloc
from typing import Annotated, Literal, Optional

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from kestrome import ValidationError, Validator, anything

from support import same_json_value


def refused(v, doc):
    """All three roads refuse `doc` alike; returns the error text."""
    texts = []
    for method in (v.validate_json, v.load):
        with pytest.raises(ValidationError) as info:
            method(doc)
        assert info.value.code == "json_invalid"
        texts.append(info.value.value)
    assert v.is_valid_json(doc) is False
    assert texts[0] == texts[1]
    return texts[0]


# --- integers past the interpreter's digit limit


@pytest.fixture
def digit_limit():
    """Sets sys.set_int_max_str_digits for one test and restores it."""
    before = sys.get_int_max_str_digits()
    yield sys.set_int_max_str_digits
    sys.set_int_max_str_digits(before)


@pytest.mark.parametrize(
    "limit, doc, text",
    [
        (4300, "1" * 4301, "integer exceeds the limit of 4300 digits at line 1 column 1"),
        (4300, "-" + "9" * 4301, "integer exceeds the limit of 4300 digits at line 1 column 1"),
        (4300, '{"a": [0, ' + "1" * 5000 + "]}", "integer exceeds the limit of 4300 digits at line 1 column 11"),
        (1000, "\n 2" + "0" * 1000, "integer exceeds the limit of 1000 digits at line 2 column 2"),
    ],
)
def test_integers_past_the_digit_limit_are_refused(digit_limit, limit, doc, text):
    digit_limit(limit)
    for schema in (int, anything, list[int], Annotated[int, lambda x: True]):
        assert refused(Validator(schema), doc) == text


@pytest.mark.parametrize(
    "limit, doc",
    [(4300, "1" * 4300), (4300, "-" + "1" * 4300), (1000, "7" * 1000), (0, "3" * 20000), (4300, "0." + "1" * 5000)],
)
def test_integers_within_the_digit_limit_are_exact(digit_limit, limit, doc):
    digit_limit(limit)
    value = float(doc) if "." in doc else int(doc)
    for road in (anything.load, Validator(type(value)).load):
        result = road(doc)
        assert type(result) is type(value) and result == value
    assert Validator(type(value)).is_valid_json(doc) is True
    assert Validator(list[type(value)]).load("[" + doc + "]") == [value]


def test_digit_limit_lowered_while_a_document_is_walked(digit_limit):
    """The tree keeps long integers as text; if a predicate lowers the limit before
    they are converted, the conversion's error is an ordinary non-member."""
    digit_limit(4300)
    lower = Annotated[int, lambda x: sys.set_int_max_str_digits(640) is None]
    doc = '{"a": 1, "b": ' + "1" * 700 + "}"
    assert Validator({"a": int, "b": Annotated[int, lambda x: True]}).is_valid_json(doc) is True
    assert Validator({"a": lower, "b": Annotated[int, lambda x: True]}).is_valid_json(doc) is False


# --- numbers and the process locale


@pytest.fixture(scope="module")
def locale_dir(tmp_path_factory):
    """A folder holding a German locale, made with localedef, or None."""
    if shutil.which("localedef") is None:
        return None
    folder = tmp_path_factory.mktemp("locales")
    made = subprocess.run(
        ["localedef", "-i", "de_DE", "-f", "UTF-8", str(folder / "de_DE.UTF-8")], capture_output=True
    )
    return folder if (folder / "de_DE.UTF-8").exists() or made.returncode == 0 else None


@pytest.fixture
def decimal_comma(locale_dir):
    """LC_NUMERIC set to a locale whose decimal point is a comma, restored after."""
    before = locale.setlocale(locale.LC_NUMERIC)
    old_path = os.environ.get("LOCPATH")
    found = False
    for folder in ([None, locale_dir] if locale_dir else [None]):
        if folder is not None:
            os.environ["LOCPATH"] = str(folder)
        for name in ("de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"):
            try:
                locale.setlocale(locale.LC_NUMERIC, name)
            except locale.Error:
                continue
            if locale.localeconv()["decimal_point"] == ",":
                found = True
                break
        if found:
            break
    if old_path is None:
        os.environ.pop("LOCPATH", None)
    else:
        os.environ["LOCPATH"] = old_path
    if not found:
        locale.setlocale(locale.LC_NUMERIC, before)
        pytest.skip("no locale with a decimal comma can be made here")
    yield
    locale.setlocale(locale.LC_NUMERIC, before)


@pytest.mark.parametrize(
    "doc, value",
    [
        ("1.5e-400", 0.0),
        ("-1.5e-400", -0.0),
        ("0." + "0" * 400 + "1", 0.0),
        ("-" + "0" * 1 + "." + "0" * 340 + "25", -0.0),
        ("1" + "0" * 400 + "e-800", 0.0),
        ("2.5", 2.5),
        ("1.7976931348623157e308", 1.7976931348623157e308),
        ("0." + "0" * 400 + "1e390", 1e-11),
    ],
)
def test_underflow_reads_as_signed_zero_under_any_locale(decimal_comma, doc, value):
    for result in (anything.load(doc), Validator(float).load(doc)):
        assert type(result) is float and result == value
        assert math.copysign(1.0, result) == math.copysign(1.0, value)
    assert Validator(float).is_valid_json(doc) is True
    assert Validator(Literal[value] if value else float).is_valid_json(doc) is True


@pytest.mark.parametrize(
    "doc",
    ["2.5e999", "-2.5e999", "1e309", "1" + "0" * 400 + ".5", "0.0000001e316", "1" * 310 + "e0", "[1.8e308]"],
)
def test_overflow_is_out_of_range_under_any_locale(decimal_comma, doc):
    assert refused(Validator(float), doc) == "number out of range at line 1 column " + ("2" if doc[0] == "[" else "1")
    assert refused(anything, doc).startswith("number out of range")


# --- documents of 4 GiB or more


@pytest.mark.parametrize(
    "size, text",
    [(2**32 - 1, "expected value at line 1 column 1"), (2**32, "document too large (4 GiB or more)")],
)
def test_documents_of_4_gib_or_more_are_refused(size, text):
    # Zero-filled bytes come from fresh pages that reading the first byte does not touch.
    try:
        doc = bytes(size)
    except MemoryError:
        pytest.skip("4 GiB of address space is not available")
    for schema in (anything, int):
        assert refused(Validator(schema), doc) == text


# --- literals against large nodes


def test_literal_of_another_kind_converts_nothing():
    """A literal first compares the node's kind: an array against string literals
    makes no Python objects at all."""
    v = Validator(Literal[tuple(f"s{i}" for i in range(200))])
    doc = "[" + ",".join(str(10**6 + i) for i in range(20000)) + "]"
    assert v.is_valid_json('"s150"') is True
    tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        assert v.is_valid_json(doc) is False
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < 20_000


@pytest.mark.parametrize(
    "schema, doc, member",
    [
        (Literal[1], "true", False),
        (Literal[True], "1", False),
        (Literal[1], "1.0", False),
        (Literal[1.0], "1", False),
        (Literal[None], "null", True),
        (Literal[""], "null", False),
        (Literal[2**70], str(2**70), True),
        (Literal[2**70], "[]", False),
        (Literal[b"x"], '"x"', False),
        (Literal["x"], '"x"', True),
        (Literal["x", 3, False], "false", True),
        (Literal["x", 3, False], "{}", False),
    ],
)
def test_literal_kinds_against_json_nodes(schema, doc, member):
    assert Validator(schema).is_valid_json(doc) is member
    assert Validator(schema).is_valid(anything.load(doc)) is member


# --- properties: the reader against the standard library, and the three roads


PROPERTY = settings(
    max_examples=150,
    deadline=None,
    derandomize=bool(os.environ.get("CI")),
    database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much],
)

TEXT = st.text(st.characters(blacklist_categories=("Cs",)), max_size=12)
SCALARS = (
    st.none()
    | st.booleans()
    | st.integers()
    | st.integers(min_value=-(2**200), max_value=2**200)
    | st.floats(allow_nan=False, allow_infinity=False)
    | TEXT
)
VALUES = st.recursive(
    SCALARS, lambda inner: st.lists(inner, max_size=5) | st.dictionaries(TEXT, inner, max_size=5), max_leaves=30
)


@st.composite
def documents(draw):
    """A document written by json.dumps in one of its styles, as str or bytes."""
    value = draw(VALUES)
    doc = json.dumps(
        value,
        ensure_ascii=draw(st.booleans()),
        indent=draw(st.sampled_from([None, 0, 2, "\t"])),
        separators=draw(st.sampled_from([None, (",", ":"), (" , ", " : ")])),
    )
    return doc.encode() if draw(st.booleans()) else doc


NOISE = [b"", b" ", b"\n", b",", b":", b"[", b"]", b"{", b"}", b'"', b"\\", b"\\u", b"-", b"0", b"1", b".",
         b"e", b"E+", b"t", b"null", b"\x00", b"\x1f", b"\x7f", b"\xc3", b"\xa9", b"\xed\xa0\x80", b"\xf0\x9f"]


@st.composite
def mutated(draw):
    """A document with a few bytes deleted, replaced, inserted or repeated."""
    doc = draw(documents())
    data = bytearray(doc.encode() if isinstance(doc, str) else doc)
    for _ in range(draw(st.integers(1, 4))):
        at = draw(st.integers(0, len(data)))
        end = draw(st.integers(at, min(len(data), at + 4)))
        edit = draw(st.sampled_from(["delete", "replace", "insert", "repeat", "cut"]))
        if edit == "cut":
            del data[at:]
        elif edit == "repeat":
            data[at:at] = data[at:end]
        else:
            piece = draw(st.sampled_from(NOISE)) if edit != "delete" else b""
            data[at : end if edit != "insert" else at] = piece
    return bytes(data)


def depth(value):
    if isinstance(value, list):
        return 1 + max((depth(x) for x in value), default=0)
    if isinstance(value, dict):
        return 1 + max((depth(x) for x in value.values()), default=0)
    return 0


def outside_common_ground(value):
    """Where the two readers differ by design: infinities, NaN, lone surrogates, deep nesting."""
    if isinstance(value, float):
        return not math.isfinite(value)
    if isinstance(value, str):
        return any("\ud800" <= c <= "\udfff" for c in value)
    if isinstance(value, list):
        return any(outside_common_ground(x) for x in value)
    if isinstance(value, dict):
        return any(outside_common_ground(k) or outside_common_ground(x) for k, x in value.items())
    return False


def standard_library(doc):
    """json.loads of the document's UTF-8 text; None when it refuses it, or when the two
    readers differ by design (assumed away)."""
    try:
        text = doc.decode("utf-8") if isinstance(doc, bytes) else doc
    except UnicodeDecodeError:
        return None
    if any(word in text for word in ("NaN", "Infinity")):
        assume(False)
    try:
        value = json.loads(text)
    except RecursionError:
        assume(False)
    except ValueError:
        return None
    assume(not outside_common_ground(value) and depth(value) <= 200)
    return [value]


def check_against_the_standard_library(doc):
    expected = standard_library(doc)
    try:
        ours = [anything.load(doc)]
    except ValidationError as e:
        assert e.code == "json_invalid"
        ours = None
    if expected is None:
        assert ours is None, doc
    else:
        assert ours is not None, doc
        assert same_json_value(ours[0], expected[0]), doc


@PROPERTY
@given(documents())
def test_load_agrees_with_the_standard_library_on_written_documents(doc):
    check_against_the_standard_library(doc)


@PROPERTY
@given(mutated())
def test_load_agrees_with_the_standard_library_on_mutated_documents(doc):
    check_against_the_standard_library(doc)


TYPED = [
    Validator(schema)
    for schema in (
        int,
        float,
        list[int],
        dict[str, float],
        {"a": int, "b?": str},
        Optional[list[dict[str, bool]]],
        int | str | None,
        list[Literal["a", 1, None, True]],
        dict[str, list[int | float]],
    )
]


def check_the_three_roads(doc):
    for v in TYPED:
        try:
            verdict = v.is_valid_json(doc)
            try:
                v.validate_json(doc)
                validated = True
            except ValidationError:
                validated = False
            try:
                v.load(doc)
                loaded = True
            except ValidationError:
                loaded = False
        except (TypeError, ValueError) as e:  # ValidationError is a ValueError too
            raise AssertionError(f"{v!r} raised {e!r} on {doc!r}") from e
        assert verdict is validated is loaded, (v, doc)
        try:
            value = anything.load(doc)
        except ValidationError:
            assert verdict is False, (v, doc)
            continue
        assert v.is_valid(value) is verdict, (v, doc)


@st.composite
def typed_documents(draw):
    """Documents near the typed schemas: members, and members with one part changed."""
    value = draw(
        st.integers()
        | st.floats(allow_nan=False, allow_infinity=False)
        | st.lists(st.integers() | st.sampled_from(["a", None, True, 1, 1.5]), max_size=6)
        | st.dictionaries(st.sampled_from(["a", "b", "c"]), st.integers() | TEXT | st.floats(allow_nan=False, allow_infinity=False) | st.booleans() | st.lists(st.integers(), max_size=3), max_size=3)
        | st.none()
        | TEXT
    )
    return json.dumps(value)


@PROPERTY
@given(typed_documents() | documents() | mutated())
def test_is_valid_json_agrees_with_validate_json_and_load(doc):
    check_the_three_roads(doc)
