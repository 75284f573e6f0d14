#!/usr/bin/env python3
"""Benchmarks of kestrome against the validators a user would pick instead.

Run it with `make bench` (which builds the package, sets up bench/.venv with the peers of
bench/requirements.txt and calls this script), or by hand with bench/.venv's Python:

    bench/.venv/bin/python bench/run.py [--quick] [--only W1,W6] [--output FILE]

For each workload every tool gets its own equivalent schema, built once. Before anything
is timed, every tool's verdict on a member and a non-member value is checked against the
verdict the data was built to have; a tool that walks the whole value and answers
differently is not timed on that workload (and the run ends with status 1). Timing then
runs all the tools of a workload side by side, in rounds that alternate between them;
each sample is a loop sized to take about `--target-ms`, and the tables report medians.
Results go to bench/RESULTS.md and to stdout.
"""

from __future__ import annotations

import argparse
import datetime as _dt
import gc
import importlib
import json
import os
import platform
import random
import statistics
import string
import subprocess
import sys
import textwrap
import time
import traceback
from dataclasses import dataclass, field
from importlib import metadata
from pathlib import Path
from typing import Annotated, Any, Callable, Literal

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent

# The source tree's kestrome/ has no built module; always import the installed package.
sys.path[:] = [p for p in sys.path if Path(p or ".").resolve() != ROOT]


def _import_kestrome(attempts: int = 10, pause: float = 3.0):
    """The package may be reinstalled while we start: retry a failing import a few times."""
    last: BaseException | None = None
    for i in range(attempts):
        try:
            mod = importlib.import_module("kestrome")
            importlib.import_module("kestrome._kestrome")
            return mod
        except ImportError as e:  # includes a half-written .so
            last = e
            for name in [n for n in sys.modules if n == "kestrome" or n.startswith("kestrome.")]:
                del sys.modules[name]
            print(f"import kestrome failed ({e}); retrying in {pause:.0f}s [{i + 1}/{attempts}]",
                  file=sys.stderr)
            time.sleep(pause)
    raise SystemExit(f"cannot import kestrome: {last}")


kestrome = _import_kestrome()

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


# --------------------------------------------------------------------------------------
# Peer schemas. Records are closed in kestrome, so pydantic forbids extra keys too;
# typeguard rejects extra keys of a TypedDict by itself; msgspec has no such option for a
# TypedDict (the data never has extra keys, so the verdicts do not depend on it).

@with_config(ConfigDict(extra="forbid"))
class Record(TypedDict):
    id: int
    name: str
    score: float
    active: bool
    tags: list[str]


@with_config(ConfigDict(extra="forbid"))
class Node(TypedDict):
    value: int
    children: list["Node"]


# `list["Node"]` keeps a bare string that typeguard skips with a warning when it is
# called from here; give every peer the class itself, so all of them walk the whole tree.
Node.__annotations__["children"] = list[Node]


@with_config(ConfigDict(extra="forbid"))
class Small(TypedDict):
    id: int
    name: str


# --------------------------------------------------------------------------------------
# Data. Everything is made from fixed seeds, so every run checks the same values.

N_INTS = 10_000
N_RECORDS = 1_000
N_NODES = 10_000
MAX_DEPTH = 50
N_WORDS = 100
N_STRINGS = 10_000
TAGS = ["red", "green", "blue", "admin", "beta", "new", "old", "vip"]


def make_ints(lo: int, hi: int, seed: int) -> list[int]:
    rng = random.Random(seed)
    return [rng.randrange(lo, hi) for _ in range(N_INTS)]


def make_records(seed: int, bad: bool) -> list[dict]:
    """1,000 records; with `bad`, every tenth has one field of the wrong type.

    The bad values are ones that every tool rejects: an int is never offered where a float
    is declared, since pydantic and msgspec take ints as floats even when strict.
    """
    rng = random.Random(seed)
    recs = []
    for i in range(N_RECORDS):
        recs.append({
            "id": i,
            "name": f"user{i:05d}",
            "score": rng.random() * 100.0,
            "active": i % 3 == 0,
            "tags": [rng.choice(TAGS) for _ in range(rng.randrange(0, 5))],
        })
    if bad:
        breakers = [
            ("id", lambda r: str(r["id"])),
            ("name", lambda r: len(r["name"])),
            ("score", lambda r: str(r["score"])),
            ("active", lambda r: int(r["active"])),
            ("tags", lambda r: r["tags"] + [7]),
        ]
        for k, i in enumerate(range(5, N_RECORDS, 10)):
            key, breaker = breakers[k % len(breakers)]
            recs[i][key] = breaker(recs[i])
    return recs


def make_tree(seed: int, bad: bool) -> tuple[dict, int, int]:
    """A random tree of N_NODES nodes whose root-to-leaf paths are at most MAX_DEPTH long.

    A spine of MAX_DEPTH nodes makes the full depth occur; the other nodes hang from a
    random earlier node that still has room below it. With `bad`, the leaf at the end of
    the spine (the deepest node) holds a float. Returns (root, node count, max depth).
    """
    rng = random.Random(seed)
    nodes = [{"value": rng.randrange(-1000, 1000), "children": []}]
    depth = [1]
    room = [0]  # nodes at depth < MAX_DEPTH
    for d in range(2, MAX_DEPTH + 1):
        nodes.append({"value": rng.randrange(-1000, 1000), "children": []})
        nodes[-2]["children"].append(nodes[-1])
        depth.append(d)
        if d < MAX_DEPTH:
            room.append(len(nodes) - 1)
    deepest = nodes[-1]
    while len(nodes) < N_NODES:
        parent = rng.choice(room)
        nodes.append({"value": rng.randrange(-1000, 1000), "children": []})
        nodes[parent]["children"].append(nodes[-1])
        depth.append(depth[parent] + 1)
        if depth[-1] < MAX_DEPTH:
            room.append(len(nodes) - 1)
    if bad:
        deepest["value"] = 0.5
    return nodes[0], len(nodes), max(depth)


def tree_stats(root: dict) -> tuple[int, int]:
    count, deepest, stack = 0, 0, [(root, 1)]
    while stack:
        node, d = stack.pop()
        count += 1
        deepest = max(deepest, d)
        stack.extend((c, d + 1) for c in node["children"])
    return count, deepest


def make_words(seed: int) -> list[str]:
    rng = random.Random(seed)
    words: set[str] = set()
    while len(words) < N_WORDS:
        words.add("".join(rng.choices(string.ascii_lowercase, k=rng.randint(3, 12))))
    return sorted(words)


def make_strings(words: list[str], seed: int) -> list[str]:
    # Equal to the literal's strings but distinct objects, as if read from outside.
    rng = random.Random(seed)
    return ["".join(list(rng.choice(words))) for _ in range(N_STRINGS)]


# --------------------------------------------------------------------------------------
# Tools. A Case is one timed row: a statement run in a loop with the names of `env` bound
# as locals, and a function giving its boolean verdict.

@dataclass
class Case:
    tool: str
    stmt: str
    env: dict[str, Any]
    verdict: Callable[[Any], bool] | None  # None: timed, not checked (a baseline)
    note: str = ""
    sampling: bool = False  # a disagreement on a non-member is noted, not fatal
    limited: str = ""  # why this tool cannot answer like the others on a non-member


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


def peer_cases(x, hint, *, msgspec_hint=None, beartype_hint=None, typeguard_limited="",
               beartype_note="samples one item per container") -> list[Case]:
    ta = TypeAdapter(hint)
    PE = pydantic.ValidationError
    ME = msgspec.ValidationError
    mhint = hint if msgspec_hint is None else msgspec_hint
    bhint = hint if beartype_hint is None else beartype_hint
    return [
        Case("pydantic", "try:\n    f(x, strict=True)\nexcept E:\n    pass",
             {"f": ta.validate_python, "x": x, "E": PE},
             _raises(lambda o: ta.validate_python(o, strict=True), PE),
             "TypeAdapter.validate_python(strict=True); builds a copy"),
        Case("msgspec", "try:\n    f(x, T, strict=True)\nexcept E:\n    pass",
             {"f": msgspec.convert, "x": x, "T": mhint, "E": ME},
             _raises(lambda o: msgspec.convert(o, mhint, strict=True), ME),
             "convert(strict=True); builds a copy; stops at the first error"),
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
             "parses to Python objects, then checks them; all errors"),
        Case("kestrome load", "try:\n    f(x)\nexcept E:\n    pass",
             {"f": v.load, "x": None, "E": E}, load_verdict,
             "as validate_json, and returns the parsed value"),
    ]


def json_peer_cases(hint) -> list[Case]:
    """orjson (a parse-only baseline), msgspec typed decoding and pydantic validate_json."""
    ta = TypeAdapter(hint)
    dec = msgspec.json.Decoder(hint)  # strict by default: no str-to-number coercion
    PE = pydantic.ValidationError
    ME = msgspec.ValidationError
    return [
        Case("orjson.loads", "f(x)", {"f": orjson.loads, "x": None}, None,
             "parses only, no schema: a reference for raw parsing speed"),
        Case("msgspec", "try:\n    f(x)\nexcept E:\n    pass",
             {"f": dec.decode, "x": None, "E": ME}, _raises(dec.decode, ME),
             "json.Decoder(T).decode (strict); builds the value; stops at the first error"),
        Case("pydantic", "try:\n    f(x, strict=True)\nexcept E:\n    pass",
             {"f": ta.validate_json, "x": None, "E": PE},
             _raises(lambda o: ta.validate_json(o, strict=True), PE),
             "TypeAdapter.validate_json(strict=True); builds the value"),
    ]


# --------------------------------------------------------------------------------------
# Workloads

@dataclass
class Table:
    """One timed table: the cases run on one value."""
    title: str
    value_label: str  # "member" or "non-member"
    cases: list[Case]
    elements: int | None  # for ns per element
    element_name: str = "element"
    ratio_to: list[str] = field(default_factory=lambda: ["kestrome is_valid"])


@dataclass
class Workload:
    key: str
    title: str
    description: str
    member: Any
    non_member: Any
    checked: list[Case]  # the cases whose verdicts are checked (built on `member`)
    tables: list[Table]
    notes: list[str] = field(default_factory=list)


def with_value(cases: list[Case], x) -> list[Case]:
    return [Case(c.tool, c.stmt, {**c.env, "x": x}, c.verdict, c.note, c.sampling, c.limited)
            for c in cases]


def build_workloads() -> list[Workload]:
    wls: list[Workload] = []

    # W1: list[int]
    ints = make_ints(-1_000_000, 1_000_000, 1)
    bad_ints = list(ints)
    bad_ints[N_INTS // 2] = "7"
    cases = kestrome_cases(list[int], ints) + peer_cases(ints, list[int])
    wls.append(Workload(
        "W1", "list[int], 10,000 ints", "a list of 10,000 ints in [-10^6, 10^6)",
        ints, bad_ints, cases,
        [Table("W1 list[int] (10,000 ints)", "member", cases, N_INTS, "int")],
        ["non-member for the verdict check: the middle item is the str '7'"]))

    # W2: 1,000 records
    recs = make_records(2, bad=False)
    bad_recs = make_records(2, bad=True)
    rschema = {"id": int, "name": str, "score": float, "active": bool, "tags": list[str]}
    member_cases = (kestrome_cases(list[rschema], recs, which=("is_valid", "validate"))
                    + peer_cases(recs, list[Record], beartype_note="samples one item per "
                                 "container and checks a TypedDict only as a Mapping"))
    nm_cases = with_value(
        kestrome_cases(list[rschema], recs, which=("is_valid", "validate", "validate_ff"))
        + peer_cases(recs, list[Record], beartype_note="samples one item per container and "
                     "checks a TypedDict only as a Mapping"), bad_recs)
    wls.append(Workload(
        "W2", "1,000 records",
        "a list of 1,000 records {id: int, name: str, score: float, active: bool, "
        "tags: list[str]} (a dict literal for kestrome, a TypedDict for the peers); the "
        "non-member has one bad field in every tenth record (100 records)",
        recs, bad_recs, member_cases,
        [Table("W2 1,000 records, member", "member", member_cases, N_RECORDS, "record"),
         Table("W2 1,000 records, non-member (100 bad records)", "non-member", nm_cases,
               N_RECORDS, "record", ["kestrome is_valid", "kestrome validate"])],
        ["the bad fields cycle through id: str, name: int, score: str, active: int "
         "(0 or 1), tags: a list ending in an int",
         "on the non-member, kestrome validate and pydantic collect every error (100 "
         "here), msgspec and typeguard stop at the first"]))

    # W3: recursive tree
    tree, n_nodes, depth = make_tree(3, bad=False)
    bad_tree, _, _ = make_tree(3, bad=True)
    assert tree_stats(tree) == (n_nodes, depth) and depth <= MAX_DEPTH
    tschema = kestrome.recursive(lambda t: {"value": int, "children": list[t]})
    cases = kestrome_cases(tschema, tree) + peer_cases(
        tree, Node, beartype_note="checks a TypedDict only as a Mapping")
    wls.append(Workload(
        "W3", f"recursive tree, {n_nodes:,} nodes",
        f"a tree of {n_nodes:,} nodes {{value: int, children: list[node]}}, deepest "
        f"root-to-leaf path {depth} nodes; kestrome "
        "`recursive(lambda t: {\"value\": int, \"children\": list[t]})`, a recursive "
        "TypedDict for the peers",
        tree, bad_tree, cases,
        [Table(f"W3 recursive tree ({n_nodes:,} nodes, depth {depth})", "member", cases,
               n_nodes, "node")],
        ["non-member for the verdict check: the deepest leaf's value is 0.5"]))

    # W4: Literal of 100 strings
    words = make_words(4)
    strs = make_strings(words, 40)
    bad_strs = list(strs)
    bad_strs[N_STRINGS // 2] = "not-a-word-at-all"
    lit = list[Literal[tuple(words)]]
    cases = kestrome_cases(lit, strs) + peer_cases(strs, lit)
    wls.append(Workload(
        "W4", "Literal of 100 strings",
        "list[Literal[w1, ..., w100]] against 10,000 strings drawn from the 100 (equal "
        "to them but distinct objects)",
        strs, bad_strs, cases,
        [Table("W4 list[Literal[100 strings]] (10,000 strings)", "member", cases,
               N_STRINGS, "string")],
        ["non-member for the verdict check: the middle string is not one of the 100"]))

    # W5: constrained ints
    cints = make_ints(0, 1000, 5)
    bad_cints = list(cints)
    bad_cints[N_INTS // 2] = 1000
    ann = list[Annotated[int, Ge(0), Lt(1000)]]
    cases = kestrome_cases(ann, cints) + peer_cases(
        cints, ann,
        msgspec_hint=list[Annotated[int, msgspec.Meta(ge=0, lt=1000)]],
        beartype_hint=list[Annotated[int, Is[lambda n: 0 <= n < 1000]]],
        typeguard_limited="typeguard ignores Annotated metadata: it checks int only")
    wls.append(Workload(
        "W5", "list[Annotated[int, Ge(0), Lt(1000)]], 10,000 ints",
        "list[Annotated[int, Ge(0), Lt(1000)]] with annotated_types' Ge and Lt (read by "
        "kestrome by duck typing, and by pydantic), 10,000 ints in [0, 1000)",
        cints, bad_cints, cases,
        [Table("W5 list[Annotated[int, Ge(0), Lt(1000)]] (10,000 ints)", "member", cases,
               N_INTS, "int")],
        ["msgspec reads only its own metadata, so it gets "
         "`Annotated[int, msgspec.Meta(ge=0, lt=1000)]`; beartype reads only its "
         "validators, so it gets `Annotated[int, Is[lambda n: 0 <= n < 1000]]`",
         "typeguard checks the int and ignores the bounds (it has no constraint support), "
         "so it does less work than the others here",
         "non-member for the verdict check: the middle int is 1000"]))

    # W6: one small record, per call
    small = {"id": 7, "name": "Ada"}
    bad_small = {"id": "7", "name": "Ada"}
    sschema = {"id": int, "name": str}
    kc = kestrome_cases(sschema, small, which=("is_valid", "in", "validate", "ensure"))
    pc = peer_cases(small, Small, beartype_note="checks a TypedDict only as a Mapping")
    baselines = [
        Case("empty loop", "pass", {}, None, "the loop alone"),
        Case("dict.get", "f(k)", {"f": small.get, "k": "id"}, None,
             "`d.get(\"id\")` on the same dict: the price of one cheap C call"),
    ]
    wls.append(Workload(
        "W6", "one small record, per call",
        "{\"id\": int, \"name\": str} (a TypedDict for the peers) checked against one "
        "2-key dict, one call per loop iteration",
        small, bad_small, kc + pc,
        [Table("W6 one small record, per call", "member", baselines + kc + pc, None,
               ratio_to=["kestrome is_valid", "dict.get"])],
        ["each time is one loop iteration, loop overhead included (the `empty loop` row); "
         "compare kestrome is_valid with dict.get, the cheapest C method call",
         "non-member for the verdict check: {\"id\": \"7\", \"name\": \"Ada\"}"]))

    # W7: kestrome's own entry points on W2's member
    kc = kestrome_cases(list[rschema], recs,
                        which=("is_valid", "in", "validate", "validate_ff", "ensure"))
    wls.append(Workload(
        "W7", "kestrome is_valid vs validate vs ensure",
        "kestrome's entry points on W2's member value (1,000 records)",
        recs, bad_recs, kc,
        [Table("W7 kestrome entry points on W2's member", "member", kc, N_RECORDS,
               "record")]))

    # W8: W2's records as a JSON document
    doc = json.dumps(recs).encode()
    bad_doc = json.dumps(bad_recs).encode()
    assert orjson.loads(doc) == recs  # floats go through repr, so they come back exact
    cases = with_value(kestrome_json_cases(list[rschema]) + json_peer_cases(list[Record]), doc)
    wls.append(Workload(
        "W8", "1,000 records as a JSON document",
        f"W2's member value (1,000 records) as `json.dumps(...).encode()`, {len(doc):,} "
        "bytes; the same schemas as W2 (a dict literal for kestrome, the TypedDict for the "
        "peers); the non-member document is W2's non-member (one bad field in every tenth "
        "record)",
        doc, bad_doc, cases,
        [Table(f"W8 1,000 records, JSON bytes ({len(doc):,} bytes)", "member", cases,
               N_RECORDS, "record", ["kestrome is_valid_json"])],
        ["orjson.loads has no schema and is not checked for verdicts: it shows what "
         "parsing alone costs, and builds the whole value as Python objects",
         "kestrome validate_json and load, msgspec and pydantic all build Python objects; "
         "kestrome is_valid_json builds none",
         "msgspec ignores extra keys of a TypedDict (the document has none)",
         "the non-member document is timed nowhere; it is only for the verdict check"]))

    # W9: W1's ints as a JSON document
    idoc = json.dumps(ints).encode()
    bad_idoc = json.dumps(bad_ints).encode()
    assert orjson.loads(idoc) == ints
    cases = with_value(kestrome_json_cases(list[int]) + json_peer_cases(list[int]), idoc)
    wls.append(Workload(
        "W9", "10,000 ints as a JSON document",
        f"W1's list of 10,000 ints as `json.dumps(...).encode()`, {len(idoc):,} bytes, "
        "against list[int]",
        idoc, bad_idoc, cases,
        [Table(f"W9 list[int], JSON bytes (10,000 ints, {len(idoc):,} bytes)", "member",
               cases, N_INTS, "int", ["kestrome is_valid_json"])],
        ["non-member for the verdict check: W1's, whose middle item is the string \"7\"",
         "orjson.loads parses only and is not checked for verdicts"]))
    return wls


# --------------------------------------------------------------------------------------
# Verdicts

@dataclass
class VerdictRow:
    workload: str
    tool: str
    member: str  # "yes" / "no" / "error: ..."
    non_member: str
    problem: str = ""  # why the row is wrong; empty when it agrees
    fatal: bool = False


def _answer(fn, x) -> str:
    try:
        return "yes" if fn(x) else "no"
    except Exception as e:  # a crash is an answer too, and a wrong one
        return f"error: {type(e).__name__}: {str(e)[:120]}"


def check_verdicts(wl: Workload) -> list[VerdictRow]:
    rows = []
    seen = set()
    for c in wl.checked:
        if c.verdict is None or c.tool in seen:
            continue
        seen.add(c.tool)
        m = _answer(c.verdict, wl.member)
        n = _answer(c.verdict, wl.non_member)
        row = VerdictRow(wl.key, c.tool, m, n)
        if m != "yes":
            row.problem = f"says {m!r} on the member"
            row.fatal = not c.sampling or m.startswith("error")
        elif n != "no":
            if c.limited:
                row.problem = f"says {n!r} on the non-member ({c.limited})"
            else:
                row.problem = f"says {n!r} on the non-member"
                row.fatal = True
        rows.append(row)
    return rows


# --------------------------------------------------------------------------------------
# Timing

def make_timer(case: Case) -> Callable[[int], float]:
    names = sorted(case.env)
    binds = "".join(f"    {k} = _env[{k!r}]\n" for k in names)
    src = (f"def _timer(_n, _env, _clock):\n{binds}"
           f"    _it = range(_n)\n"
           f"    _t0 = _clock()\n"
           f"    for _ in _it:\n{textwrap.indent(case.stmt, ' ' * 8)}\n"
           f"    return _clock() - _t0\n")
    ns: dict[str, Any] = {}
    exec(compile(src, f"<bench {case.tool}>", "exec"), ns)
    fn = ns["_timer"]
    env = case.env
    clock = time.perf_counter

    def run(n: int) -> float:
        # As timeit does: no collector pauses inside a sample.
        gc.collect()
        was = gc.isenabled()
        gc.disable()
        try:
            return fn(n, env, clock)
        finally:
            if was:
                gc.enable()
    return run


def calibrate(run: Callable[[int], float], target: float) -> int:
    n = 1
    while True:
        t = run(n)
        if t >= target * 0.4 or n >= 10_000_000:
            return max(1, round(n * target / max(t, 1e-9)))
        n = min(10_000_000, max(n * 2, int(n * target * 0.5 / max(t, 1e-9))))


@dataclass
class Timing:
    case: Case
    loops: int
    samples: list[float]  # seconds per call

    @property
    def median(self) -> float:
        return statistics.median(self.samples)


def time_table(table: Table, repeats: int, target: float) -> list[Timing]:
    runs = [make_timer(c) for c in table.cases]
    loops = [calibrate(r, target) for r in runs]
    for r, n in zip(runs, loops):  # warm-up
        r(n)
    samples: list[list[float]] = [[] for _ in runs]
    k = len(runs)
    for rep in range(repeats):
        # Rotate who goes first, so that no tool always follows the same neighbour.
        for j in range(k):
            i = (j + rep) % k
            samples[i].append(runs[i](loops[i]) / loops[i])
    return [Timing(c, n, s) for c, n, s in zip(table.cases, loops, samples)]


# --------------------------------------------------------------------------------------
# Report

def fmt_time(s: float) -> str:
    if s < 1e-6:
        return f"{s * 1e9:.1f} ns"
    if s < 1e-3:
        return f"{s * 1e6:.2f} µs"
    if s < 1:
        return f"{s * 1e3:.3f} ms"
    return f"{s:.3f} s"


def fmt_ratio(r: float) -> str:
    if r >= 100:
        return f"{r:,.0f}×"
    if r >= 10:
        return f"{r:.1f}×"
    if r >= 0.1:
        return f"{r:.2f}×"
    return f"{r:.2g}×"


def md_table(header: list[str], rows: list[list[str]], align: list[str]) -> str:
    sep = ["---:" if a == "r" else "---" for a in align]
    lines = ["| " + " | ".join(header) + " |", "| " + " | ".join(sep) + " |"]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    return "\n".join(lines)


def render_table(table: Table, timings: list[Timing], skipped: dict[str, str],
                 noted: dict[str, str]) -> str:
    by_tool = {t.case.tool: t.median for t in timings}
    header = ["tool", "median per call"]
    align = ["l", "r"]
    if table.elements:
        header.append(f"ns per {table.element_name}")
        align.append("r")
    for ref in table.ratio_to:
        header.append(f"÷ {ref}")
        align.append("r")
    header += ["spread", "notes"]
    align += ["r", "l"]
    rows = []
    for t in timings:
        med = t.median
        row = [t.case.tool, fmt_time(med)]
        if table.elements:
            # A sampling tool does not look at every element: a per-element cost would lie.
            row.append("—" if t.case.sampling else f"{med / table.elements * 1e9:,.1f}")
        for ref in table.ratio_to:
            row.append(fmt_ratio(med / by_tool[ref]) if ref in by_tool else "n/a")
        lo, hi = min(t.samples), max(t.samples)
        row.append(f"±{(hi - lo) / 2 / med * 100:.0f}%")
        note = t.case.note
        if table.value_label == "non-member" and t.case.tool in noted:
            note += "; **answers 'yes' here: wrong**"
        row.append(note)
        rows.append(row)
    for tool, why in skipped.items():
        cells = [tool, "not timed"] + [""] * (len(header) - 4) + ["", why]
        rows.append(cells)
    return (f"### {table.title}\n\n"
            f"value: {table.value_label}; loops per sample: "
            + ", ".join(f"{t.case.tool} {t.loops:,}" for t in timings) + "\n\n"
            + md_table(header, rows, align))


def cpu_model() -> str:
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.lower().startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def version(dist: str) -> str:
    try:
        return metadata.version(dist)
    except metadata.PackageNotFoundError:
        return "not installed"


def git_commit() -> str:
    try:
        out = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"],
                             capture_output=True, text=True, timeout=10)
        dirty = subprocess.run(["git", "-C", str(ROOT), "status", "--porcelain", "--", "src",
                                "kestrome", "CMakeLists.txt", "pyproject.toml"],
                               capture_output=True, text=True, timeout=10)
        if out.returncode == 0:
            return out.stdout.strip() + (" (with local changes)" if dirty.stdout.strip()
                                         else "")
    except (OSError, subprocess.SubprocessError):
        pass
    return "unknown"


def header(args, started: _dt.datetime) -> str:
    pkgs = ["kestrome", "pydantic", "pydantic-core", "msgspec", "orjson", "beartype",
            "typeguard", "annotated-types", "typing-extensions"]
    lines = [
        "# kestrome benchmarks",
        "",
        "Written by `bench/run.py` (`make bench`); bench/README.md says what is measured.",
        "",
        f"- date: {started.strftime('%Y-%m-%d %H:%M UTC')}",
        f"- machine: {cpu_model()}, {os.cpu_count()} cores, {platform.platform()}",
        f"- Python: {platform.python_implementation()} {platform.python_version()} "
        f"({sys.executable})",
        "- packages: " + ", ".join(f"{p} {version(p)}" for p in pkgs),
        f"- kestrome commit: {git_commit()}; module: {kestrome._kestrome.__file__}",
        f"- run: {'quick smoke run, ' if args.quick else ''}{args.repeats} samples per row "
        f"after a warm-up, each sample a loop of about {args.target_ms:g} ms, tools "
        "alternating round by round; the collector is off inside a sample; times are "
        "medians; `spread` is half the range of the samples over the median",
        "- ratios are this row's median over the named row's median: above 1× is slower",
        "- beartype's `is_bearable` samples: it checks one item per container per call "
        "and checks a TypedDict only as a Mapping, so it answers in near-constant time "
        "and misses most bad items; it is a reference, not a peer on equal terms",
        "- typeguard runs with `collection_check_strategy=CollectionCheckStrategy.ALL_ITEMS` "
        "(its default, FIRST_ITEM, checks only the first item of each container)",
        "- pydantic and msgspec return a validated copy, so their times include building it; "
        "kestrome only answers",
        "- on the JSON documents (W8, W9) everything but kestrome is_valid_json builds the "
        "parsed value as Python objects; orjson.loads only parses, as a reference",
    ]
    return "\n".join(lines)


def render_verdicts(rows: list[VerdictRow]) -> str:
    out = []
    for r in rows:
        mark = ("**WRONG, not timed**: " if r.fatal else "noted: ") + r.problem if r.problem \
            else "agrees"
        out.append([r.workload, r.tool, r.member, r.non_member, mark])
    return ("## Verdicts\n\nEvery tool's answer on each workload's member value (expected: "
            "yes) and non-member value (expected: no), checked before timing.\n\n"
            + md_table(["workload", "tool", "member", "non-member", "result"], out,
                       ["l", "l", "l", "l", "l"]))


# --------------------------------------------------------------------------------------

def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true",
                    help="smoke run: 3 samples of about 5 ms per row")
    ap.add_argument("--repeats", type=int, help="samples per row (default 11, quick 3)")
    ap.add_argument("--target-ms", type=float, help="length of one sample (default 30)")
    ap.add_argument("--only", help="comma-separated workloads to run, e.g. W1,W6")
    ap.add_argument("--output", type=Path, default=HERE / "RESULTS.md",
                    help="where to write the report (default bench/RESULTS.md)")
    args = ap.parse_args(argv)
    if args.repeats is None:
        args.repeats = 3 if args.quick else 11
    if args.target_ms is None:
        args.target_ms = 5.0 if args.quick else 30.0
    if args.repeats < 1 or args.target_ms <= 0:
        ap.error("--repeats and --target-ms must be positive")
    started = _dt.datetime.now(_dt.timezone.utc)
    t_start = time.perf_counter()

    workloads = build_workloads()
    if args.only:
        keep = {k.strip().upper() for k in args.only.split(",")}
        unknown = keep - {w.key for w in workloads}
        if unknown:
            ap.error(f"unknown workloads: {', '.join(sorted(unknown))}")
        workloads = [w for w in workloads if w.key in keep]

    head = header(args, started)
    print(head, flush=True)

    all_verdicts: list[VerdictRow] = []
    sections: list[str] = []
    failed = False
    for wl in workloads:
        verdicts = check_verdicts(wl)
        all_verdicts += verdicts
        bad = {r.tool: r.problem for r in verdicts if r.fatal}
        noted = {r.tool: r.problem for r in verdicts if r.problem and not r.fatal}
        for r in verdicts:
            if r.problem:
                level = "ERROR" if r.fatal else "note"
                print(f"\n!!! {level}: {wl.key} {r.tool} {r.problem}"
                      if r.fatal else f"\n{level}: {wl.key} {r.tool} {r.problem}",
                      file=sys.stderr if r.fatal else sys.stdout, flush=True)
        parts = [f"## {wl.key}: {wl.title}\n\n{wl.description}."]
        if wl.notes:
            parts.append("\n".join(f"- {n}" for n in wl.notes))
        kestrome_wrong = any(t.startswith("kestrome") for t in bad)
        if bad:
            failed = True
        for table in wl.tables:
            if kestrome_wrong:
                parts.append(f"### {table.title}\n\n**NOT TIMED**: kestrome gave a wrong "
                             "verdict on this workload (see Verdicts); timing a different "
                             "answer would mean nothing.")
                continue
            cases = [c for c in table.cases if c.tool not in bad]
            skipped = {c.tool: f"WRONG VERDICT: {bad[c.tool]}"
                       for c in table.cases if c.tool in bad}
            timed = Table(table.title, table.value_label, cases, table.elements,
                          table.element_name, table.ratio_to)
            try:
                timings = time_table(timed, args.repeats, args.target_ms / 1000)
            except Exception:
                failed = True
                tb = traceback.format_exc()
                print(tb, file=sys.stderr)
                parts.append(f"### {table.title}\n\n**FAILED**:\n\n```\n{tb}```")
                continue
            text = render_table(timed, timings, skipped, noted)
            parts.append(text)
            print("\n" + text, flush=True)
        sections.append("\n\n".join(parts))

    vtext = render_verdicts(all_verdicts)
    print("\n" + vtext)
    elapsed = time.perf_counter() - t_start
    banner = ""
    if failed:
        banner = ("\n\n> **A TOOL GAVE A WRONG VERDICT OR A TABLE FAILED**: the rows concerned "
                  "are not timed; see Verdicts.")
    doc = (head + banner + "\n\n" + "\n\n".join(sections) + "\n\n" + vtext
           + f"\n\nThe whole run took {elapsed:.0f} s.\n")
    args.output.write_text(doc, encoding="utf-8")
    print(f"\nwrote {args.output} ({elapsed:.0f} s)")
    if failed:
        print("!!! some tool gave a wrong verdict or a table failed: see above", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
