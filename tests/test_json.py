"""JSON input: the strict reader, its error texts and positions, and the three JSON methods."""

import dataclasses
import json
import decimal
import math
import os
import random
import struct
import sys
from types import SimpleNamespace as Meta
from typing import Annotated, Literal, Optional

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from kestrome import ValidationError, Validator, anything, nothing, recursive

from support import check_method_signature, raising, same_json_value

TYPE_MESSAGE = "JSON input must be a str or bytes object"
SURROGATE_TEXT = "input string is not valid UTF-8 (contains a lone surrogate)"
CONTROL = "control character (\\u0000-\\u001F) found while parsing a string"


def json_failure(v, doc, **kw):
    """validate_json and load must both fail alike; return validate_json's ValidationError."""
    with pytest.raises(ValidationError) as first:
        v.validate_json(doc, **kw)
    with pytest.raises(ValidationError) as second:
        v.load(doc, **kw)
    assert summary(first.value) == summary(second.value)
    return first.value


def summary(e):
    return (type(e), e.code, e.path, e.expected, e.value, e.message, str(e), e.args, e.errors)


def parse_error(doc):
    """The error text that reading `doc` reports."""
    e = json_failure(anything, doc)
    assert anything.is_valid_json(doc) is False
    return e.value


def nested(n):
    return "[" * n + "]" * n


# --- input types


class StrSub(str):
    pass


class BytesSub(bytes):
    pass


@pytest.mark.parametrize(
    "doc",
    ['[1, 2]', '{"a": [1.5, "x", null, true]}', '"\u00e9\U0001f600"', '[1, "a"]', "[1,", '"\u00e9" x', "  \n 7 \r\n"],
)
def test_str_and_bytes_give_the_same_answers(doc):
    v = Validator(list[int])

    def outcome(data):
        try:
            return ("ok", v.load(data), v.validate_json(data))
        except ValidationError as e:
            return ("error", summary(e)[1:])

    encoded = doc.encode()
    assert outcome(doc) == outcome(encoded)
    assert v.is_valid_json(doc) is v.is_valid_json(encoded)


def test_subclasses_of_str_and_bytes_are_read_as_documents():
    v = Validator(list[int])
    for data in (StrSub("[1, 2]"), BytesSub(b"[1, 2]")):
        assert v.load(data) == [1, 2]
        assert v.validate_json(data) is None
        assert v.is_valid_json(data) is True
    assert v.is_valid_json(StrSub('["x"]')) is False
    assert json_failure(v, BytesSub(b"[1,")).code == "json_invalid"


@pytest.mark.parametrize("data", [bytearray(b"[1]"), memoryview(b"[1]"), 123, None, [1], 1.5])
def test_other_input_types(data):
    v = Validator(anything)
    for method in (v.validate_json, v.load):
        with pytest.raises(TypeError) as info:
            method(data)
        assert str(info.value) == TYPE_MESSAGE
        assert not isinstance(info.value, ValidationError)
        assert not hasattr(info.value, "__notes__")
    assert v.is_valid_json(data) is False


@pytest.mark.parametrize("data", ["\ud800", "[\udfff]", '{"a\ud83d": 1}', '"ok" \ud800'])
def test_lone_surrogate_in_a_str(data):
    v = Validator(anything)
    message = f"expected valid JSON, got {SURROGATE_TEXT} [json_invalid]"
    e = json_failure(v, data)
    assert (e.code, e.path, e.expected, e.value, e.message, str(e)) == (
        "json_invalid",
        (),
        "valid JSON",
        SURROGATE_TEXT,
        message,
        message,
    )
    assert e.errors == (
        {"code": "json_invalid", "path": (), "message": message, "expected": "valid JSON", "value": SURROGATE_TEXT},
    )
    # a False with an exception left pending would surface here as SystemError
    assert v.is_valid_json(data) is False
    assert v.is_valid_json("1") is True


# --- the error record


def test_malformed_document_error_record():
    e = json_failure(Validator(list[int]), "[1,")
    text = "EOF while parsing a value at line 1 column 3"
    message = f"expected valid JSON, got {text} [json_invalid]"
    assert type(e) is ValidationError
    assert (e.code, e.path, e.expected, e.value, e.message) == ("json_invalid", (), "valid JSON", text, message)
    assert str(e) == message and e.args == (message,)
    assert e.errors == ({"code": "json_invalid", "path": (), "message": message, "expected": "valid JSON", "value": text},)


def test_malformed_document_wins_over_fail_fast_and_schema():
    for v in (Validator(int), Validator(nothing), Validator(list[int])):
        e = json_failure(v, "[1 2]", fail_fast=True)
        assert (e.code, e.value) == ("json_invalid", "expected `,` or `]` at line 1 column 4")


@pytest.mark.parametrize(
    "doc, full",
    [
        ('"a\x01"', CONTROL + " at line 1 column 3"),
        ('"\t"', CONTROL + " at line 1 column 2"),
        ('[\n"a\nb"]', CONTROL + " at line 3 column 0"),
        (b'"\x00"', CONTROL + " at line 1 column 2"),
    ],
)
def test_long_error_text_is_cut_to_80_characters(doc, full):
    cut = full[:80] + "..."
    e = json_failure(anything, doc)
    assert len(full) > 80
    assert e.value == cut
    assert str(e) == e.message == f"expected valid JSON, got {cut} [json_invalid]"
    assert e.errors[0]["value"] == cut
    assert anything.is_valid_json(doc) is False


# --- what counts as a document


@pytest.mark.parametrize(
    "doc, text",
    [
        ("", "EOF while parsing a value at line 1 column 0"),
        (b"", "EOF while parsing a value at line 1 column 0"),
        (" ", "EOF while parsing a value at line 1 column 1"),
        (" \t", "EOF while parsing a value at line 1 column 2"),
        ("\n", "EOF while parsing a value at line 2 column 0"),
        ("\r\n", "EOF while parsing a value at line 2 column 0"),
        (" \n ", "EOF while parsing a value at line 2 column 1"),
    ],
)
def test_empty_and_whitespace_only_documents_are_malformed(doc, text):
    assert parse_error(doc) == text


@pytest.mark.parametrize("doc", ["1", " 1", "1 ", "\t1\t", "\n1\n", "\r1\r", " \t\r\n1 \t\r\n", "\r\n[\r\n1\t,\n 2 ]\r\n"])
def test_json_whitespace_around_and_inside_a_document(doc):
    v = Validator(anything)
    assert v.is_valid_json(doc) is True
    assert v.validate_json(doc) is None
    assert v.load(doc) in (1, [1, 2])


@pytest.mark.parametrize("space", ["\x0c", "\x0b", "\xa0", "\ufeff", "\u2028", "\u3000"])
def test_other_whitespace_is_not_skipped(space):
    assert parse_error(space + "1") == "expected value at line 1 column 1"
    assert parse_error("1" + space) == "trailing characters at line 1 column 2"
    assert parse_error("[1," + space + "2]") == "expected value at line 1 column 4"


@pytest.mark.parametrize(
    "doc, text",
    [
        ("1 2", "trailing characters at line 1 column 3"),
        ("[] []", "trailing characters at line 1 column 4"),
        ('{"a": 1}}', "trailing characters at line 1 column 9"),
        ('"a""b"', "trailing characters at line 1 column 4"),
        ("truex", "trailing characters at line 1 column 5"),
        ("nulll", "trailing characters at line 1 column 5"),
        ("1\n\n x", "trailing characters at line 3 column 2"),
        ("0x10", "trailing characters at line 1 column 2"),
    ],
)
def test_content_after_the_document(doc, text):
    assert parse_error(doc) == text


# --- malformed documents: kinds and positions

MALFORMED = [
    # end of input
    ("[", "EOF while parsing a list at line 1 column 1"),
    ("[1", "EOF while parsing a list at line 1 column 2"),
    ("[1 ", "EOF while parsing a list at line 1 column 3"),
    ("[1,", "EOF while parsing a value at line 1 column 3"),
    ("{", "EOF while parsing an object at line 1 column 1"),
    ('{"a"', "EOF while parsing an object at line 1 column 4"),
    ('{"a":', "EOF while parsing a value at line 1 column 5"),
    ('{"a":1', "EOF while parsing an object at line 1 column 6"),
    ('{"a":1,', "EOF while parsing an object at line 1 column 7"),
    ('"abc', "EOF while parsing a string at line 1 column 4"),
    ('"\\', "EOF while parsing a string at line 1 column 2"),
    ('"\\u', "EOF while parsing a string at line 1 column 3"),
    ("t", "EOF while parsing a value at line 1 column 1"),
    ("tru", "EOF while parsing a value at line 1 column 3"),
    ("[nul", "EOF while parsing a value at line 1 column 4"),
    # a bad character where a value starts
    ("NaN", "expected value at line 1 column 1"),
    ("Infinity", "expected value at line 1 column 1"),
    ("[NaN]", "expected value at line 1 column 2"),
    ("+1", "expected value at line 1 column 1"),
    (".5", "expected value at line 1 column 1"),
    ("'a'", "expected value at line 1 column 1"),
    ("]", "expected value at line 1 column 1"),
    ("[,]", "expected value at line 1 column 2"),
    ('{"a":}', "expected value at line 1 column 6"),
    ("True", "expected value at line 1 column 1"),
    # literals and numbers
    ("tRue", "expected ident at line 1 column 2"),
    ("nulx", "expected ident at line 1 column 4"),
    ("-Infinity", "invalid number at line 1 column 2"),
    ("-a", "invalid number at line 1 column 2"),
    ("[-]", "invalid number at line 1 column 3"),
    ("1.e5", "invalid number at line 1 column 3"),
    ("-", "invalid number at line 1 column 1"),
    ("1.", "invalid number at line 1 column 1"),
    ("1e", "invalid number at line 1 column 1"),
    ("1E+", "invalid number at line 1 column 1"),
    ("01", "trailing characters at line 1 column 2"),
    ("-01", "trailing characters at line 1 column 3"),
    ("[01]", "expected `,` or `]` at line 1 column 3"),
    ("1e400", "number out of range at line 1 column 1"),
    ("-1e400", "number out of range at line 1 column 1"),
    ("[0, 1.7976931348623159e308]", "number out of range at line 1 column 5"),
    # structure
    ("[1 2]", "expected `,` or `]` at line 1 column 4"),
    ("[true x]", "expected `,` or `]` at line 1 column 7"),
    ('{"a" 1}', "expected `:` at line 1 column 6"),
    ('{"a":1 "b":2}', "expected `,` or `}` at line 1 column 8"),
    ("{1:2}", "key must be a string at line 1 column 2"),
    ("{,}", "key must be a string at line 1 column 2"),
    ("[1,]", "trailing comma at line 1 column 4"),
    ('{"a":1,}', "trailing comma at line 1 column 8"),
    # escapes
    ('"\\x"', "invalid escape at line 1 column 3"),
    ('"\\u12"', "invalid escape at line 1 column 6"),
    ('"\\u12G4"', "invalid escape at line 1 column 6"),
    ('"\\ud800\\u"', "invalid escape at line 1 column 10"),
    ('"\\udc00"', "invalid unicode code point at line 1 column 7"),
    ('"\\ud800"', "lone leading surrogate in hex escape at line 1 column 8"),
    ('"\\ud800x"', "lone leading surrogate in hex escape at line 1 column 8"),
    ('"\\ud800\\u0041"', "lone leading surrogate in hex escape at line 1 column 13"),
    ('"\\ud800\\ud800"', "lone leading surrogate in hex escape at line 1 column 13"),
    # invalid UTF-8 in a bytes document
    (b'"\xff"', "invalid unicode code point at line 1 column 2"),
    (b'"\xc3"', "invalid unicode code point at line 1 column 2"),
    (b'"\xc3("', "invalid unicode code point at line 1 column 2"),
    (b'"\xc0\xaf"', "invalid unicode code point at line 1 column 2"),
    (b'"\xed\xa0\x80"', "invalid unicode code point at line 1 column 2"),
    (b'"\xf4\x90\x80\x80"', "invalid unicode code point at line 1 column 2"),
    (b'["ok", "\x80"]', "invalid unicode code point at line 1 column 9"),
    (b'{"\xff": 1}', "invalid unicode code point at line 1 column 3"),
    (b"\xff", "expected value at line 1 column 1"),
    (b"\xef\xbb\xbf1", "expected value at line 1 column 1"),
]


@pytest.mark.parametrize("doc, text", MALFORMED)
def test_malformed_documents(doc, text):
    assert parse_error(doc) == text


# Every class of invalid UTF-8, placed at each offset within a long run of
# non-ASCII text (the reader checks text in blocks) and followed by more text,
# the closing quote, an escape or the end of the input.
INVALID_UTF8 = [
    b"\xc0\x80",  # overlong, two bytes
    b"\xc1\xbf",
    b"\xe0\x9f\xbf",  # overlong, three bytes
    b"\xf0\x8f\xbf\xbf",  # overlong, four bytes
    b"\xed\xa0\x80",  # surrogates
    b"\xed\xbf\xbf",
    b"\xf4\x90\x80\x80",  # past U+10FFFF
    b"\xf5\x80\x80\x80",
    b"\xff",
    b"\x80",  # continuation bytes alone
    b"\xbf\xbf",
    b"\xc3",  # sequences cut short
    b"\xe3\x81",
    b"\xf0\x9f\x98",
    b"\xe3\x81\xe3\x81\x82",
]


@pytest.mark.parametrize("bad", INVALID_UTF8)
@pytest.mark.parametrize("after", ["テキスト" * 12 + '"', '"', '\\n"', "é\x01", ""])
def test_invalid_utf8_in_long_text_is_reported_at_its_first_byte(bad, after):
    for size in range(48):
        prefix = ("a" * (size % 3) + "日" * (size // 3)).encode()
        doc = b'["' + prefix + bad + after.encode()
        assert parse_error(doc) == f"invalid unicode code point at line 1 column {len(prefix) + 3}", doc


@pytest.mark.parametrize("bad", [b"\x00", b"\x01", b"\x1f"])
def test_control_byte_ends_long_text_before_a_sequence_it_cuts(bad):
    for size in range(40):
        prefix = ("日" * size).encode()[:size]
        if prefix and prefix.decode(errors="ignore").encode() != prefix:
            # the cut sequence is invalid before the control byte is reached
            cut = len(prefix.decode(errors="ignore").encode())
            text = f"invalid unicode code point at line 1 column {cut + 2}"
        else:
            text = f"{CONTROL} at line 1 column {size + 2}"[:80] + "..."
        assert parse_error(b'"' + prefix + bad + b'"') == text


@pytest.mark.parametrize("unit", ["é", "日", "😀", "a日é😀", "\U0010ffff\ud7ff\ue000\u0800\u0900"])
def test_long_valid_text_of_every_width(unit):
    for size in range(1, 40):
        text = unit * size
        for doc in ('"' + text + '"', '["' + text + '\\t' + text + '", "' + text + '"]'):
            expected = json.loads(doc)
            assert Validator(object).load(doc.encode()) == expected
            assert Validator(object).load(doc) == expected
            assert anything.is_valid_json(doc.encode()) is True


@pytest.mark.parametrize(
    "doc, kind",
    [
        ('"\\ud83dabc"', "lone leading surrogate in hex escape"),
        # another escape where the trailing surrogate's \u should begin
        ('"\\ud800\\n"', "unexpected end of hex escape"),
        ('"\\ud800\\\\"', "unexpected end of hex escape"),
        ('"\\ud800\\""', "unexpected end of hex escape"),
    ],
)
def test_leading_surrogate_escape_without_an_escaped_trailing_one(doc, kind):
    assert parse_error(doc).split(" at line ")[0] == kind


@pytest.mark.parametrize(
    "doc, text",
    [
        # the byte right after a line feed is column 1 of the next line
        ("[1,\n2,\n]", "trailing comma at line 3 column 1"),
        ("\n\n  x", "expected value at line 3 column 3"),
        # an error on a line feed itself: the next line, column 0
        ('"\\\n"', "invalid escape at line 2 column 0"),
        ('"\\u12\n4"', "invalid escape at line 2 column 0"),
        ("-\n", "invalid number at line 2 column 0"),
        # at the end: the bytes after the last line feed
        ("[\n", "EOF while parsing a list at line 2 column 0"),
        ("{\n  ", "EOF while parsing an object at line 2 column 2"),
        ("[1,\n\n", "EOF while parsing a value at line 3 column 0"),
        # a carriage return is an ordinary byte of its line
        ("[1,\r]", "trailing comma at line 1 column 5"),
        ("[1,\r\n]", "trailing comma at line 2 column 1"),
        # columns count bytes, not characters
        ('"\u00e9" x', "trailing characters at line 1 column 6"),
        ('["\U0001f600", x]', "expected value at line 1 column 10"),
        ('"\u00e9\u00e9\n\u00e9" ', "control character (\\u0000-\\u001F) found while parsing a string at line 2 column ..."),
        ('[\n"\u20ac",\n"\u20ac" 1]', "expected `,` or `]` at line 3 column 7"),
        ('["\u20ac"', "EOF while parsing a list at line 1 column 6"),
    ],
)
def test_error_positions(doc, text):
    assert parse_error(doc) == text
    assert parse_error(doc.encode()) == text


# --- nesting depth of the reader


@pytest.mark.parametrize(
    "doc, text",
    [
        (nested(201), "recursion limit exceeded at line 1 column 201"),
        ("[" * 201, "recursion limit exceeded at line 1 column 201"),
        ('{"a":' * 201 + "1" + "}" * 201, "recursion limit exceeded at line 1 column 1001"),
        ('[{"a":' * 100 + "[1]" + "}]" * 100, "recursion limit exceeded at line 1 column 601"),
    ],
)
def test_nesting_past_200_levels_is_malformed(doc, text):
    assert parse_error(doc) == text


def test_nesting_of_200_levels_is_read():
    docs = [nested(200), '{"a":' * 200 + "1" + "}" * 200, '[{"a":' * 100 + "1" + "}]" * 100]
    for doc in docs:
        assert anything.is_valid_json(doc) is True
        assert anything.validate_json(doc) is None
    value = anything.load(nested(200))
    depth = 0
    while value != []:
        (value,) = value
        depth += 1
    assert depth == 199


# --- parsed values


def loaded(doc):
    return anything.load(doc)


@pytest.mark.parametrize(
    "text, value",
    [
        ("9223372036854775807", 2**63 - 1),
        ("-9223372036854775808", -(2**63)),
        ("9223372036854775808", 2**63),
        ("-9223372036854775809", -(2**63) - 1),
        ("18446744073709551616", 2**64),
        ("1" + "0" * 400, 10**400),
        ("-" + "9" * 100, -(10**100 - 1)),
        ("0", 0),
        ("-0", 0),
    ],
)
def test_integers_load_as_exact_int(text, value):
    result = loaded(text)
    assert type(result) is int and result == value
    assert loaded("[" + text + "]") == [value]
    assert Validator(int).is_valid_json(text) is True
    assert Validator(float).is_valid_json(text) is False
    assert Validator(Literal[value]).is_valid_json(text) is True


@pytest.mark.parametrize(
    "text",
    [
        "1.0", "1.5", "0.1", "1e5", "1E2", "1e+2", "1e02", "1E-2", "0e0", "0.30000000000000004",
        "1.7976931348623157e308", "5e-324", "2.2250738585072014e-308", "123456789012345678901234567890e-10",
        "1" + "0" * 50 + "e-40", "0." + "0" * 29 + "1e320", "-2.5e-3",
    ],
)
def test_fractions_and_exponents_load_as_float(text):
    result = loaded(text)
    assert type(result) is float and result == float(text)
    assert Validator(float).is_valid_json(text) is True
    assert Validator(int).is_valid_json(text) is False


@pytest.mark.parametrize("text, sign", [("1e-400", 1.0), ("2e-324", 1.0), ("-1e-400", -1.0), ("-0.0", -1.0), ("-0e-0", -1.0)])
def test_zero_floats_and_underflow(text, sign):
    result = loaded(text)
    assert type(result) is float and result == 0.0 and math.copysign(1.0, result) == sign


def test_minus_zero_integer_is_int_zero():
    result = loaded("-0")
    assert type(result) is int and result == 0
    assert Validator(Literal[0]).is_valid_json("-0") is True


def test_containers_and_literals_load_as_python_objects():
    doc = '{"list": [1, 2.5, "x", null, true, false, [], {}], "nested": {"k": [[]]}}'
    result = loaded(doc)
    assert result == {"list": [1, 2.5, "x", None, True, False, [], {}], "nested": {"k": [[]]}}
    assert type(result) is dict and type(result["list"]) is list
    assert [type(x) for x in result["list"]] == [int, float, str, type(None), bool, bool, list, dict]
    assert result["list"][4] is True and result["list"][5] is False and result["list"][3] is None
    assert list(result) == ["list", "nested"]


@pytest.mark.parametrize(
    "doc, value",
    [
        ('"\\"\\\\\\/\\b\\f\\n\\r\\t"', '"\\/\b\f\n\r\t'),
        ('"\\u0041\\u00e9\\u20AC"', "A\u00e9\u20ac"),
        ('"\\u0000\\u001f"', "\x00\x1f"),
        ('"\\ud83d\\ude00"', "\U0001f600"),
        ('"\\uD83D\\uDE00"', "\U0001f600"),
        ('"\\ud800\\udc00\\udbff\\udfff"', "\U00010000\U0010ffff"),
        ('"\U0001f600 \u00e9"', "\U0001f600 \u00e9"),
        ('"\x7f\u2028\u2029"', "\x7f\u2028\u2029"),
        ('"a\\u0022b"', 'a"b'),
        ('""', ""),
        ('{"\\u00e9": 1, "\\ud83d\\ude00": 2}', {"\u00e9": 1, "\U0001f600": 2}),
    ],
)
def test_strings_with_escapes(doc, value):
    assert loaded(doc) == value
    assert loaded(doc.encode()) == value


def test_duplicate_keys_keep_the_last_value_at_the_first_place():
    result = loaded('{"a": 1, "b": 2, "a": 3}')
    assert list(result.items()) == [("a", 3), ("b", 2)]
    result = loaded('{"x": {"y": 1}, "z": 0, "x": [2]}')
    assert list(result.items()) == [("x", [2]), ("z", 0)]


@pytest.mark.parametrize(
    "records",
    [
        # The same keys again and again, the values differing.
        [{f"k{j}": i * 10 + j for j in range(8)} for i in range(5)],
        # The same keys in another order, one fewer or one more, and nested.
        [{f"k{j}": j for j in order} for order in (range(8), range(7, -1, -1), range(7), range(9), range(8))],
        [{"k0": {f"k{j}": [i, j] for j in range(6)}, **{f"k{j}": i for j in range(1, 6)}} for i in range(4)],
    ],
)
def test_records_of_one_shape_are_read_as_their_own_dicts(records):
    # Enough records that the reader starts to reuse their shapes.
    doc = json.dumps(records * 4)
    # The same keys with one repeated, before and after records without it.
    doc = doc[:-1] + ', {"k0": 1, "k1": 2, "k2": 3, "k3": 4, "k4": 5, "k5": 6, "k6": 7, "k0": 8}' + "," + doc[1:]
    result = anything.load(doc)
    expected = json.loads(doc)
    assert result == expected
    assert [list(r) for r in result] == [list(r) for r in expected]
    assert [sys.getsizeof(r) for r in result] == [sys.getsizeof(r) for r in expected]
    for r in result:
        r.clear()
    assert anything.load(doc) == expected


def test_duplicate_keys_against_a_record():
    v = Validator({"a": int})
    assert v.is_valid_json('{"a": "s", "a": 1}') is True
    assert v.is_valid_json('{"a": 1, "a": "s"}') is False
    assert v.load('{"a": "s", "a": 1}') == {"a": 1}
    e = json_failure(v, '{"a": 1, "a": "s"}')
    assert (e.code, e.path, e.value) == ("int_type", ("a",), "'s'")


def test_duplicate_undeclared_keys_are_tested_with_their_last_value():
    v = Validator({"a": int, str: int})
    assert v.is_valid_json('{"a": 1, "b": "x", "b": 2}') is True
    assert v.is_valid_json('{"a": 1, "b": 2, "b": "x"}') is False
    closed = Validator({"a": int})
    assert closed.is_valid_json('{"a": 1, "b": 2, "b": 3}') is False


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("schema", [dict[str, int], {"k0": int, str: int}, {"k0": int, "k1?": int, str: int}])
def test_objects_that_repeat_many_keys_are_read_as_their_dicts(schema, seed):
    """Many keys, each written twice in any order, the wrong value first, last or
    neither: only a key's last entry counts, as in the dict the document loads to."""
    rng = random.Random(seed)
    entries = []
    for i in range(300):
        first, last = rng.choice([("x", 1), ("x", 1), (1, 1), (1, "x") if rng.random() < 0.01 else (1, 1)])
        entries.append((f"k{i}", first))
        entries.append((f"k{i}", last))
    later = entries[1::2]
    rng.shuffle(later)
    entries = entries[0::2] + later
    doc = "{" + ", ".join(f"{json.dumps(k)}: {json.dumps(x)}" for k, x in entries) + "}"
    v = Validator(schema)
    assert v.is_valid_json(doc) is v.is_valid(json.loads(doc))


def test_load_returns_a_fresh_object_each_call():
    v = Validator({"a": int})
    first = v.load('{"a": 1}')
    second = v.load('{"a": 1}')
    assert first == second == {"a": 1}
    assert type(first) is dict
    assert first is not second
    first["a"] = 2
    assert v.load('{"a": 1}') == {"a": 1}


def test_loads_of_validators_sharing_key_texts_alternate_correctly():
    # Each validator's field names are put into the reader's cache of keys;
    # documents read in between, by other validators or none, must not see
    # the wrong text or lose a key.
    names = [f"k{i}" for i in range(300)] + ["id", "name", "x" * 64, "y" * 65, "\u00e9t\u00e9"]
    wide = Validator({**{n: int for n in names}})
    narrow = Validator({"id": int, "name": str})
    docs = [json.dumps({n: i for i, n in enumerate(names)}), '{"name": "a", "id": 1}', '{"id": 2, "name": "b"}']
    for _ in range(3):
        for v, doc in [(wide, docs[0]), (narrow, docs[1]), (anything, docs[0]), (narrow, docs[2])]:
            loaded = v.load(doc)
            assert loaded == json.loads(doc)
            assert list(loaded) == list(json.loads(doc))


def test_load_returns_the_object_the_predicate_saw():
    seen = []
    v = Validator(Annotated[list[int], lambda x: seen.append(x) or True])
    result = v.load("[1, 2]")
    assert result == [1, 2]
    assert seen[0] is result


def test_validate_json_returns_none():
    v = Validator(list[int])
    assert v.validate_json("[1, 2]") is None
    assert v.validate_json(b"[1, 2]") is None


@pytest.mark.parametrize(
    "schema, doc",
    [
        ({"a": int}, '{"a": "x", "a": 1}'),
        (dict[str, list[int]], '{"k": [1, 2], "m": []}'),
        (Annotated[int, Meta(ge=3)], "3"),
        (Annotated[float, Meta(gt=decimal.Decimal("0.5"))], "0.75"),
        (Annotated[str, Meta(pattern="a+")], '"aaa"'),
        (Literal["a", 1, None, True], "true"),
        (int, "1" + "0" * 30),
        (recursive(lambda t: list[t]), nested(128)),
    ],
)
def test_members_validate_as_their_parsed_value_does(schema, doc):
    v = Validator(schema)
    assert v.validate(json.loads(doc)) is None
    assert v.validate_json(doc) is None
    assert v.load(doc) == json.loads(doc)


@pytest.mark.parametrize("doc", ["[1, 2]", "[1, -1, 0]"])
def test_validate_json_calls_a_predicate_as_validate_does(doc):
    calls = []
    v = Validator(list[Annotated[int, lambda x: calls.append(x) or x > 0]])
    outcomes = []
    for check in (lambda: v.validate(json.loads(doc)), lambda: v.validate_json(doc)):
        calls.clear()
        try:
            check()
            outcomes.append((None, list(calls)))
        except ValidationError as e:
            outcomes.append((summary(e), list(calls)))
    assert outcomes[0] == outcomes[1]


# --- non-members: the same report as validate of the parsed value


@pytest.mark.parametrize(
    "schema, doc",
    [
        (list[int], '[1, "a", 2.5]'),
        (int, '"x"'),
        (float, "1"),
        (bool, "1"),
        (bytes, '"abc"'),
        (tuple[int, int], "[1, 2]"),
        (set[int], "[1]"),
        ({"a": int, "b": str}, '{"a": "x", "c": 1}'),
        ({"a": int, "b?": list[str]}, '{"b": ["x", 2, null]}'),
        (dict[str, int], '{"k": [1], "m": 2, "n": null}'),
        (Literal["a", "b"], '"c"'),
        (Optional[int], "1.5"),
        (Annotated[int, Meta(ge=3)], "2"),
        (Annotated[str, Meta(max_length=2)], '"abc"'),
        (list[dict[str, list[int]]], '[{"a": [1]}, {"b": [2, "x"]}]'),
        (recursive(lambda t: list[t]), nested(129)),
        (nothing, "null"),
    ],
)
@pytest.mark.parametrize("fail_fast", [False, True])
def test_non_member_reports_as_validate_does(schema, doc, fail_fast):
    v = Validator(schema)
    parsed = anything.load(doc)
    with pytest.raises(ValidationError) as info:
        v.validate(parsed, fail_fast=fail_fast)
    expected = summary(info.value)
    assert expected[1] != "json_invalid"
    assert summary(json_failure(v, doc, fail_fast=fail_fast)) == expected
    assert summary(json_failure(v, doc.encode(), fail_fast=fail_fast)) == expected
    assert v.is_valid_json(doc) is False


def test_fail_fast_chooses_the_mode():
    v = Validator({"a": int, "b": int})
    doc = '{"a": "x", "b": "y"}'
    assert [d["path"] for d in json_failure(v, doc).errors] == [("a",), ("b",)]
    assert [d["path"] for d in json_failure(v, doc, fail_fast=False).errors] == [("a",), ("b",)]
    assert [d["path"] for d in json_failure(v, doc, fail_fast=True).errors] == [("a",)]


def test_json_string_value_text_is_the_repr_of_the_python_str():
    e = json_failure(Validator(int), '"x"')
    assert (e.code, e.expected, e.value) == ("int_type", "int", "'x'")
    assert str(e) == "expected int, got 'x' [int_type]"


# --- JSON nodes against schema kinds


class Plain:
    pass


@dataclasses.dataclass
class Point:
    x: int


BIG = "1" + "0" * 30


@pytest.mark.parametrize(
    "schema, doc, member",
    [
        (int, "true", True),
        (int, "false", True),
        (int, "-5", True),
        (int, BIG, True),
        (int, "1.0", False),
        (int, '"1"', False),
        (int, "null", False),
        (bool, "true", True),
        (bool, "false", True),
        (bool, "1", False),
        (bool, "0", False),
        (float, "1.0", True),
        (float, "-0.0", True),
        (float, "1", False),
        (float, BIG, False),
        (float, "true", False),
        (str, '"a"', True),
        (str, "1", False),
        (None, "null", True),
        (None, "0", False),
        (None, '"null"', False),
        (bytes, '"a"', False),
        (bytes, "[]", False),
        (set[int], "[]", False),
        (frozenset[int], "[1]", False),
        (tuple[int, ...], "[]", False),
        (tuple[int, int], "[1, 2]", False),
        (list[int], "[]", True),
        (list[int], "[1, 2]", True),
        (list[int], '[1, "a"]', False),
        (list[int], "{}", False),
        (list, '[1, "a", null]', True),
        ([int, str], '[1, "a"]', True),
        ([int, str], "[1]", False),
        ([int, ...], "[1, 2, 3]", True),
        (dict, "{}", True),
        (dict, "[]", False),
        (dict[str, int], '{"a": 1}', True),
        (dict[str, int], '{"a": "x"}', False),
        (dict[Literal["a", "b"], int], '{"a": 1, "b": 2}', True),
        (dict[Literal["a", "b"], int], '{"c": 1}', False),
        ({"a": int, "b?": str}, '{"a": 1}', True),
        ({"a": int, "b?": str}, '{"b": "x"}', False),
        ({"a": int, "b?": str}, '{"a": 1, "c": 2}', False),
        (Literal[1], "1", True),
        (Literal[1], "1.0", False),
        (Literal[1], "true", False),
        (Literal[True], "true", True),
        (Literal[True], "1", False),
        (Literal[False], "false", True),
        (Literal[None], "null", True),
        (Literal["\u00e9"], '"\\u00e9"', True),
        (Literal[1.5], "15e-1", True),
        (Literal[0.0], "-0.0", True),
        (Literal[0.0], "0", False),
        (Literal[10**30], BIG, True),
        (Literal[1, 2], "2", True),
        (Literal[1, 2], "2.0", False),
        (Literal[1, 2], "true", False),
        (Literal[1, "a"], '"a"', True),
        (Literal[1, "a"], "1", True),
        (int | str, '"a"', True),
        (int | str, "1.0", False),
        (Optional[int], "null", True),
        (Plain, "{}", False),
        (Plain, "1", False),
        (Point, '{"x": 1}', False),
        (anything, "null", True),
        (nothing, "null", False),
    ],
)
def test_json_nodes_against_schema_kinds(schema, doc, member):
    v = Validator(schema)
    assert v.is_valid_json(doc) is member
    assert v.is_valid_json(doc.encode()) is member
    # the raising road decides the same on the parsed value
    assert v.is_valid(anything.load(doc)) is member


@pytest.mark.parametrize(
    "schema, doc, member",
    [
        (Annotated[int, Meta(ge=3)], "3", True),
        (Annotated[int, Meta(ge=3)], "2", False),
        (Annotated[int, Meta(ge=3)], "true", False),
        (Annotated[int, Meta(lt=10**30)], BIG, False),
        (Annotated[int, Meta(multiple_of=10**20)], "2" + "0" * 20, True),
        (Annotated[int, Meta(multiple_of=10**20)], "3" + "1" * 20, False),
        (Annotated[float, Meta(multiple_of=0.5)], "1.5", True),
        (Annotated[float, Meta(multiple_of=0.5)], "1.2", False),
        (Annotated[list[int], Meta(min_length=2)], "[1, 2]", True),
        (Annotated[list[int], Meta(min_length=2)], "[1]", False),
        (Annotated[str, Meta(max_length=2)], '"\\u00e9\\u00e9"', True),
        (Annotated[str, Meta(max_length=2)], '"abc"', False),
        (Annotated[str, Meta(pattern="a+")], '"aa"', True),
        (Annotated[str, Meta(pattern="a+")], '"ab"', False),
        (Annotated[dict[str, int], Meta(min_length=2)], '{"a": 1, "b": 2}', True),
        (Annotated[dict[str, int], Meta(min_length=2)], '{"a": 1, "a": 2}', False),
    ],
)
def test_constraints_see_the_converted_value(schema, doc, member):
    v = Validator(schema)
    assert v.is_valid_json(doc) is member
    assert v.is_valid(anything.load(doc)) is member


@pytest.mark.parametrize(
    "doc, value",
    [
        ("1", 1),
        ("true", True),
        ("null", None),
        (BIG, 10**30),
        ("-2.5", -2.5),
        ('"\\u00e9"', "\u00e9"),
        ('[1, [2.5, "x"], null]', [1, [2.5, "x"], None]),
        ('{"a": [1, 2.5, "x", null, true], "a": {"b": ' + BIG + "}}", {"a": {"b": 10**30}}),
    ],
)
def test_predicate_receives_the_python_value_of_the_node(doc, value):
    seen = []
    v = Validator(Annotated[anything, lambda x: seen.append(x) or True])
    assert v.is_valid_json(doc) is True
    assert seen == [value]
    assert [type(x) for x in seen] == [type(value)]


@pytest.mark.parametrize("exc", [ValueError("bad"), TypeError("bad"), ZeroDivisionError()])
def test_ordinary_predicate_exception_is_a_non_member(exc):
    v = Validator(list[Annotated[int, raising(exc)]])
    assert v.is_valid_json("[1, 2]") is False
    assert v.is_valid_json("[]") is True
    e = json_failure(v, "[1, 2]", fail_fast=True)
    assert e.code != "json_invalid" and e.path == (0,)


@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, SystemExit, MemoryError, RecursionError])
def test_fatal_predicate_exception_propagates(exc_type):
    calls = []

    def pred(x):
        calls.append(x)
        raise exc_type()

    v = Validator(list[Annotated[int, pred]])
    for method in (v.is_valid_json, v.validate_json, v.load):
        calls.clear()
        with pytest.raises(exc_type):
            method("[1, 2, 3]")
        assert calls == [1]


# --- recursion


def test_recursive_schema_depth_limit():
    v = Validator(recursive(lambda t: list[t]))
    assert v.is_valid_json(nested(128)) is True
    assert v.validate_json(nested(128)) is None
    assert v.is_valid_json(nested(129)) is False
    e = json_failure(v, nested(129))
    assert (e.code, e.expected, e.value) == ("recursion_limit", "at most 128 levels of recursion", "[]")
    assert e.path == (0,) * 128


def test_reader_depth_limit_is_separate_from_the_schema_limit():
    v = Validator(recursive(lambda t: list[t]))
    e = json_failure(v, nested(201))
    assert (e.code, e.value) == ("json_invalid", "recursion limit exceeded at line 1 column 201")
    e = json_failure(v, nested(200))
    assert e.code == "recursion_limit"


# --- arguments


@pytest.mark.parametrize("method", ["validate_json", "load"])
@pytest.mark.parametrize("data", [123, "\ud800", "[1,", "[1]"])
def test_fail_fast_is_converted_before_the_input_is_read(method, data):
    v = Validator(list[int])
    with pytest.raises(TypeError) as info:
        getattr(v, method)(data, fail_fast=1)
    assert not isinstance(info.value, ValidationError)
    assert str(info.value) == "'int' object is not an instance of 'bool'"
    assert info.value.__notes__ == ["while processing 'fail_fast'"]


def test_numpy_bool_is_accepted_as_fail_fast():
    np = pytest.importorskip("numpy")
    v = Validator({"a": int, "b": int})
    doc = '{"a": "x", "b": "y"}'
    assert len(json_failure(v, doc, fail_fast=np.bool_(True)).errors) == 1
    assert len(json_failure(v, doc, fail_fast=np.bool_(False)).errors) == 2


def test_keyword_data():
    v = Validator(list[int])
    assert v.is_valid_json(data="[1]") is True
    assert v.validate_json(data="[1]", fail_fast=True) is None
    assert v.load(data=b"[1]", fail_fast=False) == [1]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda v: v.validate_json(), "Validator.validate_json() missing 1 required positional argument: 'data'"),
        (lambda v: v.load(), "Validator.load() missing 1 required positional argument: 'data'"),
        (lambda v: v.is_valid_json(), "Validator.is_valid_json() missing 1 required positional argument: 'data'"),
        (lambda v: v.load(fail_fast=True), "Validator.load() missing 1 required positional argument: 'data'"),
        (lambda v: v.validate_json("1", True), "Validator.validate_json() takes 1 positional arguments but 2 were given"),
        (lambda v: v.is_valid_json("1", "2"), "Validator.is_valid_json() takes 1 positional arguments but 2 were given"),
        (lambda v: v.is_valid_json("1", fail_fast=True), "Validator.is_valid_json() got an unexpected keyword argument 'fail_fast'"),
        (lambda v: v.validate_json("1", obj=2), "Validator.validate_json() got an unexpected keyword argument 'obj'"),
        (lambda v: v.load("1", data="2"), "Validator.load() got multiple values for argument 'data'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(Validator(int))
    assert str(info.value) == message


@pytest.mark.parametrize(
    "name, text, shown",
    [
        ("validate_json", "($self, data, *, fail_fast=False)", "(data, *, fail_fast=False)"),
        ("load", "($self, data, *, fail_fast=False)", "(data, *, fail_fast=False)"),
        ("is_valid_json", "($self, data)", "(data)"),
    ],
)
def test_signatures_and_docstrings(name, text, shown):
    doc = check_method_signature(name, text, shown)
    if "fail_fast" in text:
        assert "`fail_fast` behaves as it does for `validate`." in doc


# --- the reader's fast paths against the general road
#
# Each document is read three ways: by load (short keys shared across documents,
# strings and blanks scanned many bytes at a time, short numbers read in one
# step), by the standard library, and by the value tree's conversion that a
# predicate sees in is_valid_json.


def three_readings(doc):
    seen = []
    assert Validator(Annotated[anything, lambda x: seen.append(x) is None]).is_valid_json(doc) is True
    return anything.load(doc), json.loads(doc), seen[0]


def check_readings(doc):
    ours, reference, converted = three_readings(doc)
    assert same_json_value(ours, reference), doc
    assert same_json_value(converted, reference), doc
    assert same_json_value(anything.load(doc.encode()), reference), doc


SPECIALS = ['\\"', "\\\\", "\\n", "\\u0000", "\\u00e9", "\\ud83d\\ude00", "\u00e9", "\u20ac", "\U0001f600", "\x7f", "~", " "]


@pytest.mark.parametrize("special", SPECIALS)
def test_strings_and_keys_with_a_special_character_anywhere(special):
    for at in range(0, 40):
        text = "a" * at + special + "b" * (39 - at)
        check_readings(f'["{text}", {{"{text}": "{text}", "x{text}": 1}}]')


@pytest.mark.parametrize("runs", ["é€", "€😀", "aé", "😀é", "ÿ€a😀"])
def test_strings_of_runs_of_characters_of_each_width(runs):
    # Runs of one UTF-8 length are decoded apart, and the width of the str is
    # the widest character's wherever it sits.
    for length in [1, 2, 5, 15, 16, 17, 33]:
        for first in range(len(runs)):
            text = "".join(runs[(first + k // 3) % len(runs)] for k in range(length))
            check_readings(f'["{text}", {{"{text}": "{text[::-1]}"}}]')


@pytest.mark.parametrize(
    "doc",
    [
        '{"a": 1, "\\u0061": 2}',
        '{"\\u0061": 1, "a": 2, "b": 3, "a": 4}',
        '{"\\u00e9t\\u00e9": 1, "\u00e9t\u00e9": 2, "\U0001f600": 3, "\\ud83d\\ude00": 4}',
        '{"k\\"q": 1, "k\\\\q": 2, "k/q": 3, "k\\/q": 4}',
        '[{"same": 1, "other": 2}, {"other": 3, "same": 4}, {"same": 5}]',
        "[" + ", ".join(f'{{"{"k" * n}": {n}}}' for n in range(0, 80)) + "]",
        "[" + ", ".join(f'{{"{"é" * n}": {n}}}' for n in range(0, 40)) + "]",
        "{" + ", ".join(f'"key{i}": {i}' for i in range(5000)) + "}",
        "[" + ", ".join("{" + ", ".join(f'"key{(i * 7 + j) % 3000}": {j}' for j in range(5)) + "}" for i in range(2000)) + "]",
    ],
)
def test_object_keys(doc):
    check_readings(doc)


def test_documents_of_every_shape_in_turn():
    """The tree's storage is kept between documents: a root whose children are all
    scalars takes it differently from one with containers below it."""
    docs = ["[1, 2, 3]", '{"a": [1, {"b": 2}], "c": 3}', '{"a": 1, "b": "x", "a": null}', "[[1, 2], [3]]", "[]",
            "{}", '"x"', "[" + ", ".join(map(str, range(3000))) + "]", '[{"a": 1}, 2]', "[[]]", '[{}, "x"]']
    for doc in docs + docs[::-1]:
        check_readings(doc)
        assert Validator(list[int]).is_valid_json(doc) is (doc.startswith("[") and "[" not in doc[1:]
                                                          and "{" not in doc and '"' not in doc)


@pytest.mark.parametrize("length", [1, 3, 4, 5, 7, 8, 9, 12, 16, 17, 33, 64, 65])
def test_keys_of_one_length_that_differ_in_one_byte(length):
    """Many short keys that a shared cache of recent keys must tell apart by every byte."""
    keys = ["k" * length] + [
        "k" * at + letter + "k" * (length - at - 1) for at in range(length) for letter in "abcdefghijklmnopqrstuvwxyz"
    ]
    doc = "[" + ", ".join(f'{{"{key}": {i}, "{key}": [{i}]}}' for i, key in enumerate(keys * 2)) + "]"
    check_readings(doc)


@pytest.mark.parametrize(
    "text",
    [
        "9223372036854775807", "-9223372036854775808", "9223372036854775808", "-9223372036854775809",
        "18446744073709551615", "18446744073709551616", "9999999999999999999", "-9999999999999999999",
        "10000000000000000000", "12345678", "123456789", "1234567812345678", "-0", "0",
        "12345678901234567890123456789",
    ],
)
def test_integers_at_the_edges(text):
    check_readings(text)
    check_readings(f"[{text}, {{\"n\": {text}}}]")


FLOAT_EDGES = [
    "9007199254740993.0", "9007199254740992.0", "9007199254740991.0", "9007199254740993e0",
    "900719925474099.3", "90071992547409935e-1", "1e22", "1e23", "1e-22", "1e-23", "3e22", "9007199254740991e22",
    "9007199254740991e-22", "0.1", "0.3", "0.30000000000000004", "1.7976931348623157e308", "1.7976931348623158e308",
    "2.2250738585072011e-308", "2.2250738585072014e-308", "4.9e-324", "5e-324", "2.4703282292062328e-324",
    "-0.0", "0.0e5", "-0e-5", "123456789012345678e-5", "1234567890123456789e-3", "12345678901234567890e-3",
    "0.000000000000000000000000000001", "1.00000000000000011102230246251565404236316680908203125",
    "-65.61361699999997", "45.12345678901234", "1E+2", "1e-0", "8.98846567431158e307",
]


@pytest.mark.parametrize("text", FLOAT_EDGES)
def test_floats_at_the_edges(text):
    check_readings(text)
    assert math.copysign(1.0, anything.load(text)) == math.copysign(1.0, float(text))
    assert Validator(Literal[float(text)] if float(text) else float).is_valid_json(f"{text}") is True


def placed(text):
    """`text` alone (few bytes follow it) and inside documents where many do."""
    return [text, f"[{text}]", f"[{text}, {text}, 0]", f'{{"n": {text}, "m": [{text}]}}', f"[{text}" + " " * 20 + "]"]


@pytest.mark.parametrize("digits", range(1, 22))
def test_numbers_of_every_digit_count_and_place(digits):
    whole = "123456789" * 3
    for text in (whole[:digits], "9" * digits, "1" + "0" * (digits - 1), f"0.{whole[:digits]}",
                 f"{whole[:digits]}.5", f"7.{'0' * (digits - 1)}1", f"{whole[:digits]}.{whole[:digits]}",
                 f"0.{'0' * digits}3", f"{whole[:digits]}e-{digits}", f"{whole[:digits]}E+{digits}"):
        for doc in placed(text) + placed("-" + text):
            check_readings(doc)


@pytest.mark.parametrize("text", ["01", "-01", "00", "0012345", "01.5", "1.", "-", "-.5", ".5", "1.e3", "1e", "1e+", "1.5e-", "+1", "1..2", "0x10"])
def test_malformed_numbers_anywhere(text):
    for doc in placed(text):
        assert anything.is_valid_json(doc) is False, doc
        with pytest.raises(ValidationError):
            anything.load(doc)


NUMBER_TEXTS = st.builds(
    lambda sign, whole, fraction, exponent: sign + whole + fraction + exponent,
    st.sampled_from(["", "-"]),
    st.sampled_from(["0"]) | st.from_regex(r"[1-9][0-9]{0,20}", fullmatch=True),
    st.sampled_from([""]) | st.from_regex(r"\.[0-9]{1,22}", fullmatch=True),
    st.sampled_from([""]) | st.from_regex(r"[eE][+-]?[0-9]{1,3}", fullmatch=True),
) | st.floats(allow_nan=False, allow_infinity=False).flatmap(
    lambda x: st.sampled_from([repr(x), f"{x:.17e}", f"{x:.18e}", f"{x:.19e}", f"{x:.25g}"])
)


@settings(max_examples=300, deadline=None, derandomize=bool(os.environ.get("CI")), database=None)
@given(NUMBER_TEXTS)
def test_numbers_agree_with_the_standard_library(text):
    """Numbers read in one word, rounded with the 128-bit powers of five or read by the
    general road give the standard library's int or float, alone and inside documents."""
    if abs(float(text)) == math.inf:
        assert anything.is_valid_json(text) is False
        return
    for doc in placed(text):
        check_readings(doc)


@pytest.mark.parametrize("text", FLOAT_EDGES)
def test_floats_at_the_edges_inside_documents(text):
    for doc in placed(text) + placed(f"{text}".replace("e", "0e", 1) if "e" in text and "." in text else text):
        check_readings(doc)


def test_decimals_near_halfway_between_two_doubles():
    """19 significant digits next to the midpoint of two neighbouring doubles: the cases
    where the top 64 bits of the product cannot settle the rounding alone."""
    rng = random.Random(12)
    texts = []
    with decimal.localcontext() as context:
        context.prec = 800  # the midpoint exactly
        for _ in range(4000):
            bits = rng.getrandbits(63) % 0x7FEFFFFFFFFFFFFF
            low, high = (struct.unpack("<d", struct.pack("<Q", b))[0] for b in (bits, bits + 1))
            middle = (decimal.Decimal(low) + decimal.Decimal(high)) / 2
            texts += [f"{middle:.{digits}e}" for digits in (16, 17, 18)]
    doc = "[" + ", ".join(texts) + "]"
    check_readings(doc)


@pytest.mark.parametrize("blank", [" ", "\n", "\t", "\r\n", " \t"])
def test_runs_of_whitespace_of_every_length(blank):
    for n in range(0, 40):
        gap = (blank * n)[:n] if n else ""
        check_readings(f"{gap}[{gap}1{gap},{gap}{{{gap}\"a\"{gap}:{gap}[]{gap}}}{gap}]{gap}")


def test_loaded_objects_have_the_standard_librarys_tables():
    """Objects of str keys keep the compact table of str keys, as json.loads makes them."""
    for n in (0, 1, 5, 6, 9, 40):
        doc = "{" + ", ".join(f'"k{i}": {i}' for i in range(n)) + "}"
        assert sys.getsizeof(anything.load(doc)) == sys.getsizeof(json.loads(doc)), n


@pytest.mark.parametrize("make", [lambda i: "0", lambda i: f'{{"a": {i}, "b": "x{i}"}}'])
def test_documents_past_the_storage_kept_between_calls(make):
    """Tables of several MB (made and grown in large blocks) hold every node in place."""
    items = [make(i) for i in range(400_000)]
    doc = "[" + ",".join(items) + "]"
    schema = list[int] if items[0] == "0" else list[{"a": int, "b": str}]
    v = Validator(schema)
    assert v.is_valid_json(doc) is True
    for at in (0, len(items) // 2, len(items) - 1):
        bad = items[:at] + ['{"a": "x", "b": 1}' if items[0] != "0" else '"x"'] + items[at + 1 :]
        assert v.is_valid_json("[" + ",".join(bad) + "]") is False
    seen = []
    last = Validator(Annotated[anything, lambda x: seen.append(x[-1]) is None])
    assert last.is_valid_json(doc) is True
    assert seen == [anything.load(doc)[-1]]
