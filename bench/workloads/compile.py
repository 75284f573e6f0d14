"""Building a validator: the time for a fresh 200-field TypedDict and a fresh 50-member
tagged union (W22), and the resident memory each validator keeps (W23)."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path
from typing import Callable, Literal, Union

from harness import Case, Probe, Table, Target, Workload, workload
from tools import TypeAdapter, TypedDict, kestrome, msgspec, pydantic

N_FIELDS = 200
N_MEMBERS = 50
FIELD_TYPES = [int, str, float, bool, list[int]]
WIDE_FIELDS = {f"f{i:03d}": FIELD_TYPES[i % len(FIELD_TYPES)] for i in range(N_FIELDS)}
WIDE_VALUE = {k: {int: 1, str: "s", float: 0.5, bool: True}.get(t, [1, 2])
              for k, t in WIDE_FIELDS.items()}


def fresh_wide() -> type:
    return TypedDict("Wide", WIDE_FIELDS)


def fresh_union_tds() -> object:
    return Union[tuple(TypedDict(f"Member{k}", {"kind": Literal[f"k{k:02d}"], "id": int,
                                                 f"x{k}": FIELD_TYPES[k % 5]})
                       for k in range(N_MEMBERS))]


def fresh_union_structs() -> object:
    return Union[tuple(msgspec.defstruct(f"Member{k}", [("id", int),
                                                        (f"x{k}", FIELD_TYPES[k % 5])],
                                         tag_field="kind", tag=f"k{k:02d}")
                       for k in range(N_MEMBERS))]


def fresh(make):
    """A setup giving `it`, an iterator over one fresh schema per loop iteration."""
    return lambda n: {"it": iter([make() for _ in range(n)])}


def build_cases(make_td, make_struct) -> list[Case]:
    V = kestrome.Validator
    D = msgspec.json.Decoder
    return [
        Case("kestrome Validator", "V(next(it))", {"V": V}, None,
             "builds the validator for a new class", setup=fresh(make_td)),
        Case("msgspec json.Decoder", "D(next(it))", {"D": D}, None,
             "builds its decoder for a new class", setup=fresh(make_struct)),
        Case("pydantic TypeAdapter", "A(next(it))", {"A": TypeAdapter}, None,
             "builds its core schema and validator for a new class", setup=fresh(make_td)),
    ]


def checks(hint, mhint) -> list[Case]:
    """Verdict checks only: the built validators answer like the others."""
    v = kestrome.Validator(hint)
    d = msgspec.json.Decoder(mhint)

    def msgspec_ok(x):
        try:
            d.decode(json.dumps(x).encode())
        except msgspec.ValidationError:
            return False
        return True

    ta = TypeAdapter(hint)

    def pydantic_ok(x):
        try:
            ta.validate_python(x, strict=True)
        except pydantic.ValidationError:
            return False
        return True
    return [Case("kestrome Validator", "", {}, v.is_valid),
            Case("msgspec json.Decoder", "", {}, msgspec_ok),
            Case("pydantic TypeAdapter", "", {}, pydantic_ok)]


def net_target(table: int) -> Target:
    return Target("building kestrome's Validator for a fresh class no slower than msgspec "
                  "building its decoder", "ratio", [(table, "kestrome Validator")],
                  [(table, "msgspec json.Decoder")], 1.0)


@workload("W22")
def build_time() -> Workload:
    member_u = [{"kind": "k03", "id": 1, "x3": True}]
    union_td, union_st = fresh_union_tds(), fresh_union_structs()
    tables = [
        Table(f"W22 Validator for a fresh {N_FIELDS}-field TypedDict", "member",
              build_cases(fresh_wide, fresh_wide), None,
              ratio_to=["kestrome Validator"], label=f"{N_FIELDS}-field TypedDict"),
        Table(f"W22 Validator for a fresh {N_MEMBERS}-member tagged union", "member",
              build_cases(fresh_union_tds, fresh_union_structs),
              None, ratio_to=["kestrome Validator"], label=f"{N_MEMBERS}-member union"),
    ]
    return Workload(
        "W22", "building a validator for a fresh class",
        f"a new {N_FIELDS}-field TypedDict (fields int, str, float, bool, list[int] in turn) "
        f"and a new union of {N_MEMBERS} TypedDicts tagged by a Literal `kind` field, made "
        "afresh for every iteration (outside the timing), then compiled; msgspec gets the "
        "same TypedDict, and tagged Structs for the union",
        member_u, [{"kind": "k03", "id": "1", "x3": True}],
        checks(list[union_td], list[union_st]),
        tables,
        ["every tool caches what it builds on the class or the type, so each iteration "
         "gets a class never seen before, made before the sample starts",
         "the verdict checks run on validators of the union built once: member "
         "[{kind: 'k03', id: 1, x3: True}], non-member the same with id '1'"],
        [net_target(0), net_target(1)])


# --------------------------------------------------------------------------------------
# Memory: measured in a fresh interpreter per tool, so that nothing else lives there.

N_VALIDATORS = 1_000
BASELINE_KIB = 79.0  # a 200-field TypedDict's validator before the work on memory

CHILD = """
import sys
sys.path.insert(0, {bench!r})
from workloads.compile import child
child({tool!r}, {n})
"""


def rss_kib() -> float:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 1024


def child(tool: str, n: int) -> None:
    """Print the resident KiB that each of n validators of fresh classes adds."""
    import gc
    classes = [fresh_wide() for _ in range(n)]
    doc = json.dumps(WIDE_VALUE).encode()
    if tool == "kestrome":
        def make(c):
            v = kestrome.Validator(c)
            assert v.is_valid(WIDE_VALUE)
            return v
    elif tool == "msgspec":
        def make(c):
            d = msgspec.json.Decoder(c)
            d.decode(doc)
            return d
    else:
        def make(c):
            a = TypeAdapter(c)
            a.validate_python(WIDE_VALUE, strict=True)
            return a
    make(fresh_wide())  # the first one pays for the tool's own start-up
    gc.collect()
    before = rss_kib()
    kept = [make(c) for c in classes]
    gc.collect()
    print((rss_kib() - before) / len(kept))


def measure(tool: str, n: int) -> Callable[[], float]:
    def run() -> float:
        bench = str(Path(__file__).resolve().parent.parent)
        out = subprocess.run([sys.executable, "-c", CHILD.format(bench=bench, tool=tool, n=n)],
                             capture_output=True, text=True, check=True, timeout=600)
        return float(out.stdout.split()[-1])
    return run


@workload("W23")
def memory() -> Workload:
    probes = [
        Probe("kestrome", measure("kestrome", N_VALIDATORS),
              f"Validator + first is_valid, over {N_VALIDATORS:,} fresh classes"),
        Probe("msgspec", measure("msgspec", N_VALIDATORS),
              f"json.Decoder + first decode, over {N_VALIDATORS:,} fresh classes"),
        Probe("pydantic", measure("pydantic", N_VALIDATORS // 10),
              f"TypeAdapter + first validate_python, over {N_VALIDATORS // 10:,} fresh "
              "classes (it builds slowly)"),
    ]
    return Workload(
        "W23", "memory per validator",
        f"resident memory added per validator of a fresh {N_FIELDS}-field TypedDict, built "
        "and used once, kept alive with all the others; each tool in a fresh interpreter",
        None, None, [],
        [Table("W23 resident memory per validator", "member", [], None,
               ratio_to=["kestrome"], probes=probes, unit="KiB per validator")],
        ["resident set size (/proc/self/statm) after minus before building them all, over "
         "the count; the classes themselves are made before the first reading"],
        [Target(f"kestrome memory per validator at least halved from {BASELINE_KIB:g} KiB",
                "at_most", [(0, "kestrome")], [], BASELINE_KIB / 2, unit="KiB")])
