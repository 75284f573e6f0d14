"""Helpers shared by several test files (pytest puts this folder on sys.path)."""

import inspect
import math
import os
import subprocess
import sys
import threading

import pytest

from kestrome import ValidationError, Validator, recursive

# --- method signatures


def check_method_signature(name, text, shown):
    """A method's text signature, what inspect shows of it, and its docstring sections."""
    method = getattr(Validator, name)
    assert method.__text_signature__ == text
    assert str(inspect.signature(method)) == "(self, /, " + shown[1:]
    assert str(inspect.signature(getattr(Validator(int), name))) == shown
    doc = method.__doc__
    assert not doc.startswith(name)
    for section in ("Args:", "Returns:", "Raises:"):
        assert section in doc
    return doc


# --- membership


def check_membership(v, members, others):
    """Every member passes is_valid and validate; every other value fails both.
    Returns the ValidationErrors of the others, in order."""
    for x in members:
        assert v.is_valid(x), x
        v.validate(x)
    errors = []
    for x in others:
        assert not v.is_valid(x), x
        with pytest.raises(ValidationError) as info:
            v.validate(x)
        errors.append(info.value)
    return errors


# --- reports


def failure(v, value, **kw):
    """Validate `value` with `v`, which must fail, and return the ValidationError."""
    with pytest.raises(ValidationError) as info:
        v.validate(value, **kw)
    return info.value


def records(e):
    """The errors of a ValidationError as (code, path, expected, value) tuples."""
    return [(d["code"], d["path"], d["expected"], d["value"]) for d in e.errors]


# --- hash feeds: the hash of a validator is SipHash-1-3 (zero key) over a byte
# feed of its tree, which is what Python's own bytes hash computes under
# PYTHONHASHSEED=0 (mapping -1 to -2 exactly as the validator hash does), so a
# feed pins the exact compiled structure.


def u64(n):
    return n.to_bytes(8, "little")


ANYTHING, ANY, NOTHING, NONE, BOOL, INT, FLOAT, STR, BYTES = (u64(k) for k in range(9))


def field(name, schema, required=True):
    return name.encode() + b"\xff" + schema + bytes([required])


def bytes_hashes(*feeds):
    """Python's bytes hash of each feed under PYTHONHASHSEED=0, all in one interpreter run."""
    code = "import sys\nfor line in sys.stdin.read().splitlines():\n    print(hash(bytes.fromhex(line)))"
    out = subprocess.run(
        [sys.executable, "-c", code],
        input="".join(feed.hex() + "\n" for feed in feeds),
        env={**os.environ, "PYTHONHASHSEED": "0"},
        capture_output=True,
        text=True,
        check=True,
        cwd="/",
    ).stdout
    return [int(x) for x in out.split()]


def bytes_hash(feed):
    """Python's bytes hash of one feed under PYTHONHASHSEED=0."""
    (result,) = bytes_hashes(feed)
    return result


def expected_hash(root, *definitions):
    """The hash of a validator with this root feed and these definition feeds."""
    return bytes_hash(root + u64(len(definitions)) + b"".join(definitions))


# --- values whose comparison, truth or repr misbehaves


class RaisingEq:
    """Comparing it raises the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __eq__(self, other):
        raise self.exc

    __hash__ = object.__hash__

    def __repr__(self):
        return "RaisingEq()"


class Truthless:
    """Asking its truth raises the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __bool__(self):
        raise self.exc


class EqTruthless:
    """Comparing it gives a Truthless that raises the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __eq__(self, other):
        return Truthless(self.exc)

    __hash__ = object.__hash__

    def __repr__(self):
        return "EqTruthless()"


class Repr:
    """A value whose repr is exactly the given text."""

    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return self.text


class BadRepr:
    """Its repr raises the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __repr__(self):
        raise self.exc


def raising(exc):
    """A predicate that raises the given exception."""

    def pred(x):
        raise exc

    return pred


# --- messages of rejected schemas

TUPLE_MESSAGE = (
    "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B] "
    "(the list literal [A, B] is the fixed-length list)"
)
SET_MESSAGE = "a set literal is not a schema; write a set as set[T]"
DEPTH_MESSAGE = (
    "schema nesting is too deep: this validator reaches {} levels of nesting, past the limit of 128. "
    "A validator this deep comes from building in an unbounded loop; checking it would risk a native "
    "stack overflow. Express structural recursion with recursive(...) instead of nesting schemas."
)
DEFINITIONS_MESSAGE = (
    "schema holds too many recursive definitions: this validator has {} of them, past the limit of 128. "
    "A validator with this many comes from chaining recursive schemas in an unbounded loop; rendering or "
    "deciding it would risk a native stack overflow."
)
NODES_MESSAGE = (
    "schema is too large: this validator spans {} nodes, past the limit of 100000. A schema this large "
    "comes from combining a validator with itself in an unbounded loop, which doubles its size each step; "
    "building it would exhaust memory."
)


def self_list():
    """One recursive definition, list[...]: the definition has 2 nodes, the root (a back edge) 1."""
    return recursive(lambda r: [r])


# --- JSON values


def same_json_value(a, b):
    """Equal with the same types, float signs and dict key order throughout."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same_json_value(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same_json_value(a[k], b[k]) for k in a)
    return a == b


# The walk's deepest legal nesting must fit well inside a thread of 2 MiB;
# the sanitizers' stack redzones make every frame up to eight times larger.
STACK_SIZE = 2 * 1024 * 1024 * (8 if os.environ.get("KESTROME_SANITIZED") else 1)


def on_small_stack(f):
    """Runs f on a thread with a 2 MiB stack (more under the sanitizers); returns its
    result or raises its exception."""
    out = {}

    def target():
        try:
            out["result"] = f()
        except BaseException as e:  # noqa: BLE001 - handed back to the caller
            out["error"] = e

    old = threading.stack_size(STACK_SIZE)
    try:
        t = threading.Thread(target=target)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    if "error" in out:
        raise out["error"]
    return out["result"]
