"""JSON documents that once crashed, misread or cost far too much: long integers, the
process locale, documents of 4 GiB, and literals against large nodes."""

import locale
import math
import os
import shutil
import subprocess
import sys
import tracemalloc
from typing import Annotated, Literal

import pytest

from kestrome import ValidationError, Validator, anything


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
