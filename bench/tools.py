"""The tools compared: each one's timed statement and verdict for a schema.

kestrome's entry points and the peers' equivalents, built once per workload; the peers
are imported from bench/.venv only.
"""

from __future__ import annotations

import json
from typing import Any, Callable

from harness import Case, kestrome

try:
    import msgspec
    import orjson
    import pydantic
    from annotated_types import Ge, Lt
    from beartype.door import is_bearable
    from beartype.vale import Is
    from pydantic import ConfigDict, TypeAdapter, with_config
    from typeguard import CollectionCheckStrategy, TypeCheckError, check_type
    from typing_extensions import TypedDict  # pydantic needs this one before Python 3.12
except ImportError as e:  # pragma: no cover - set-up problem, not a result
    raise SystemExit(f"{e}: run `make bench`, or install bench/requirements.txt into this "
                     "Python") from e

ALL_ITEMS = CollectionCheckStrategy.ALL_ITEMS


def _raises(fn, exc) -> Callable[[Any], bool]:
    def verdict(x):
        try:
            fn(x)
        except exc:
            return False
        return True
    return verdict


def kestrome_cases(schema, x, *, which=("is_valid", "validate")) -> list[Case]:
    v = kestrome.Validator(schema)
    E = kestrome.ValidationError
    out = []
    for w in which:
        if w == "is_valid":
            out.append(Case("kestrome is_valid", "f(x)", {"f": v.is_valid, "x": x}, v.is_valid))
        elif w == "in":
            out.append(Case("kestrome `x in v`", "x in v", {"v": v, "x": x}, lambda o: o in v))
        elif w == "validate":
            out.append(Case("kestrome validate", "try:\n    f(x)\nexcept E:\n    pass",
                            {"f": v.validate, "x": x, "E": E}, _raises(v.validate, E),
                            "all errors"))
        elif w == "validate_ff":
            ff = lambda o: v.validate(o, fail_fast=True)  # noqa: E731
            out.append(Case("kestrome validate(fail_fast=True)",
                            "try:\n    f(x, fail_fast=True)\nexcept E:\n    pass",
                            {"f": v.validate, "x": x, "E": E}, _raises(ff, E), "first error"))
        elif w == "ensure":
            def ensure_verdict(o, v=v):
                try:
                    got = v.ensure(o)
                except E:
                    return False
                if got is not o:
                    raise AssertionError("ensure() did not return its argument")
                return True
            out.append(Case("kestrome ensure", "try:\n    f(x)\nexcept E:\n    pass",
                            {"f": v.ensure, "x": x, "E": E}, ensure_verdict))
        else:  # pragma: no cover
            raise ValueError(w)
    return out


PEERS = ["pydantic", "msgspec"]  # the peers a user would pick for strict validation


def peer_cases(x, hint, *, msgspec_hint=None, beartype_hint=None, typeguard_limited="",
               beartype_note="samples one item per container", adapter=None,
               pydantic_note="", msgspec_note="", msgspec_limited="",
               only: list[str] | None = None) -> list[Case]:
    """Every peer's strict check of `x` against `hint`.

    `adapter` replaces pydantic's plain TypeAdapter(hint) (a discriminated union, a
    config); `msgspec_hint` gives msgspec its own form of the schema; `only` keeps the
    named tools.
    """
    ta = TypeAdapter(hint) if adapter is None else adapter
    PE = pydantic.ValidationError
    ME = msgspec.ValidationError
    mhint = hint if msgspec_hint is None else msgspec_hint
    bhint = hint if beartype_hint is None else beartype_hint
    cases = [
        Case("pydantic", "try:\n    f(x, strict=True)\nexcept E:\n    pass",
             {"f": ta.validate_python, "x": x, "E": PE},
             _raises(lambda o: ta.validate_python(o, strict=True), PE),
             "TypeAdapter.validate_python(strict=True); builds a copy" + pydantic_note),
        Case("msgspec", "try:\n    f(x, T, strict=True)\nexcept E:\n    pass",
             {"f": msgspec.convert, "x": x, "T": mhint, "E": ME},
             _raises(lambda o: msgspec.convert(o, mhint, strict=True), ME),
             "convert(strict=True); builds a copy; stops at the first error" + msgspec_note,
             limited=msgspec_limited),
        Case("beartype", "f(x, T)", {"f": is_bearable, "x": x, "T": bhint},
             lambda o: is_bearable(o, bhint), f"is_bearable; {beartype_note}", sampling=True,
             limited=f"beartype {beartype_note}"),
        Case("typeguard", "try:\n    f(x, T, collection_check_strategy=S)\nexcept E:\n    pass",
             {"f": check_type, "x": x, "T": hint, "S": ALL_ITEMS, "E": TypeCheckError},
             _raises(lambda o: check_type(o, hint, collection_check_strategy=ALL_ITEMS),
                     TypeCheckError),
             "check_type(collection_check_strategy=ALL_ITEMS); stops at the first error",
             limited=typeguard_limited),
    ]
    return cases if only is None else [c for c in cases if c.tool in only]


def error_reading_cases(schema, hint, x, *, msgspec_hint=None, adapter=None) -> list[Case]:
    """`validate` on a failing value with the errors read as each tool's users read them:
    kestrome's `e.errors`, pydantic's `e.errors()`, msgspec's `str(e)`."""
    v = kestrome.Validator(schema)
    ta = TypeAdapter(hint) if adapter is None else adapter
    mhint = hint if msgspec_hint is None else msgspec_hint
    E, PE, ME = kestrome.ValidationError, pydantic.ValidationError, msgspec.ValidationError
    return [
        Case("kestrome validate", "try:\n    f(x)\nexcept E as e:\n    e.errors",
             {"f": v.validate, "x": x, "E": E}, _raises(v.validate, E),
             "raises; reads `e.errors` (every failure)"),
        Case("pydantic", "try:\n    f(x, strict=True)\nexcept E as e:\n    e.errors()",
             {"f": ta.validate_python, "x": x, "E": PE},
             _raises(lambda o: ta.validate_python(o, strict=True), PE),
             "validate_python(strict=True); reads `e.errors()` (every failure)"),
        Case("msgspec", "try:\n    f(x, T, strict=True)\nexcept E as e:\n    str(e)",
             {"f": msgspec.convert, "x": x, "T": mhint, "E": ME},
             _raises(lambda o: msgspec.convert(o, mhint, strict=True), ME),
             "convert(strict=True); reads `str(e)` (the first failure)"),
    ]


try:  # built by `make bench` into bench/.venv only
    import _kbench_limit
except ImportError:  # pragma: no cover - set-up problem, not a result
    _kbench_limit = None

LIMIT = "C limit"


def limit_case(func: str, x, test: str) -> Case:
    """A C loop doing only the exact type test of every item: the limit of a check."""
    if _kbench_limit is None:
        raise SystemExit("bench's C loop module _kbench_limit is missing: run `make bench`")
    return Case(LIMIT, "f(x)", {"f": getattr(_kbench_limit, func), "x": x}, None,
                f"a C loop doing only `{test}` on each item, no schema: the limit")


def kestrome_json_cases(schema) -> list[Case]:
    """kestrome's three JSON entry points; every one takes the document itself."""
    v = kestrome.Validator(schema)
    E = kestrome.ValidationError

    def load_verdict(doc, v=v):
        try:
            got = v.load(doc)
        except E:
            return False
        if got != json.loads(doc):
            raise AssertionError("load() returned something else than the document's value")
        return True
    return [
        Case("kestrome is_valid_json", "f(x)", {"f": v.is_valid_json, "x": None},
             v.is_valid_json, "walks a value tree in place; builds no Python objects"),
        Case("kestrome validate_json", "try:\n    f(x)\nexcept E:\n    pass",
             {"f": v.validate_json, "x": None, "E": E}, _raises(v.validate_json, E),
             "a member decided on the value tree when no check calls Python code; "
             "else, and for the report, as load; all errors"),
        Case("kestrome load", "try:\n    f(x)\nexcept E:\n    pass",
             {"f": v.load, "x": None, "E": E}, load_verdict,
             "parses to Python objects, then checks them; returns the parsed value"),
    ]


def json_peer_cases(hint, *, msgspec_hint=None, adapter=None, msgspec_note="",
                    only: list[str] | None = None) -> list[Case]:
    """orjson (a parse-only baseline), msgspec typed decoding and pydantic validate_json."""
    wanted = (lambda tool: True) if only is None else only.__contains__
    ta = adapter if adapter is not None or not wanted("pydantic") else TypeAdapter(hint)
    # strict by default: no str-to-number coercion
    dec = msgspec.json.Decoder(hint if msgspec_hint is None else msgspec_hint)
    PE = pydantic.ValidationError
    ME = msgspec.ValidationError
    cases = [
        Case("orjson.loads", "f(x)", {"f": orjson.loads, "x": None}, None,
             "parses only, no schema: a reference for raw parsing speed"),
        Case("msgspec", "try:\n    f(x)\nexcept E:\n    pass",
             {"f": dec.decode, "x": None, "E": ME}, _raises(dec.decode, ME),
             "json.Decoder(T).decode (strict); builds the value; stops at the first error"
             + msgspec_note),
        Case("pydantic", "try:\n    f(x, strict=True)\nexcept E:\n    pass",
             {"f": ta.validate_json, "x": None, "E": PE},
             _raises(lambda o: ta.validate_json(o, strict=True), PE),
             "TypeAdapter.validate_json(strict=True); builds the value") if ta is not None else None,
    ]
    return [c for c in cases if c is not None and wanted(c.tool)]


