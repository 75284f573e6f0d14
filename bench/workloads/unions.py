"""Unions of record shapes tagged by a Literal field: 10 members (W10), the same union at 2,
20 and 200 members (W11), and as JSON documents at 2 to 200 members (W30).

kestrome and pydantic get TypedDicts whose `kind` field is a one-string Literal (pydantic
as a discriminated union, its fastest form); msgspec gets tagged Structs
(`tag_field="kind"`), its fastest form for a tagged union, which it builds from the dicts.
"""

from __future__ import annotations

import functools
import json
import random
from typing import Annotated, Literal, Union

from harness import Table, Workload, faster_than, flat, workload
from tools import (PEERS, ConfigDict, TypeAdapter, TypedDict, kestrome_cases, msgspec, orjson,
                   peer_cases, pydantic, with_config)
from workloads.json_docs import json_table

N_VALUES = 10_000
EXTRA = [int, str, float, bool, list[int]]  # each shape's own field, by member number


@functools.cache
def shapes(n: int) -> tuple[list[type], list[type]]:
    """n record shapes, tagged "k000" ...: (TypedDicts, msgspec tagged Structs)."""
    tds, structs = [], []
    for k in range(n):
        tag, extra = f"k{k:03d}", (f"x{k}", EXTRA[k % len(EXTRA)])
        td = TypedDict(f"Shape{k}", {"kind": Literal[tag], "id": int, "name": str,
                                      extra[0]: extra[1]})
        tds.append(with_config(ConfigDict(extra="forbid"))(td))
        structs.append(msgspec.defstruct(f"Shape{k}", [("id", int), ("name", str), extra],
                                         tag_field="kind", tag=tag,
                                         forbid_unknown_fields=True))
    return tds, structs


def make_values(n: int, seed: int) -> tuple[list[dict], list[dict]]:
    """N_VALUES records of random shapes; the non-member's middle record has a str id."""
    rng = random.Random(seed)
    out = []
    for i in range(N_VALUES):
        k = rng.randrange(n)
        kind = EXTRA[k % len(EXTRA)]
        extra = (rng.randrange(-10**6, 10**6) if kind is int
                 else f"s{rng.randrange(10**6)}" if kind is str
                 else rng.random() if kind is float
                 else rng.random() < 0.5 if kind is bool
                 else [rng.randrange(100) for _ in range(rng.randrange(4))])
        out.append({"kind": f"k{k:03d}", "id": i, "name": f"n{i}", f"x{k}": extra})
    bad = [dict(r) for r in out]
    bad[N_VALUES // 2]["id"] = "7"
    return out, bad


def hints(n: int):
    """(kestrome's schema, pydantic's adapter, msgspec's type) for the n-member union."""
    tds, structs = shapes(n)
    adapter = TypeAdapter(list[Annotated[Union[tuple(tds)],
                                         pydantic.Field(discriminator="kind")]])
    return list[Union[tuple(tds)]], adapter, list[Union[tuple(structs)]]


PYDANTIC_NOTE = "; a discriminated union (`Field(discriminator=\"kind\")`)"
MSGSPEC_NOTE = "; tagged Structs, built from the dicts"


def python_table(n: int, title: str) -> Table:
    values, bad = make_values(n, 1000 + n)
    schema, adapter, mhint = hints(n)
    cases = kestrome_cases(schema, values) + peer_cases(
        values, schema, adapter=adapter, msgspec_hint=mhint, pydantic_note=PYDANTIC_NOTE,
        msgspec_note=MSGSPEC_NOTE, only=PEERS)
    return Table(title, "member", cases, N_VALUES, "value", values=(values, bad),
                 label=f"{n} members")


NOTES = ["each record is {kind: Literal[tag], id: int, name: str, x<k>: <k's type>}, the "
         "types of x<k> cycling through int, str, float, bool, list[int]; records are closed",
         "pydantic gets a discriminated union of the TypedDicts; msgspec gets tagged Structs "
         "(`tag_field=\"kind\"`), each peer's fastest form of a tagged union",
         "non-member for the verdict check: the middle record's id is the str '7'"]


@workload("W10")
def tagged_union() -> Workload:
    t = python_table(10, "W10 list[union of 10 tagged records] (10,000 values)")
    return Workload(
        "W10", "union of 10 record shapes tagged by a Literal field",
        "a list of 10,000 records, each of one of 10 shapes told apart by a `kind` field "
        "holding a one-string Literal", None, None, [], [t], NOTES,
        [faster_than("kestrome is_valid", PEERS, 2.5)])


SIZES = [2, 20, 200]


@workload("W11")
def tagged_union_sizes() -> Workload:
    tables = [python_table(n, f"W11 union of {n} tagged records (10,000 values)")
              for n in SIZES]
    return Workload(
        "W11", "tagged unions of 2, 20 and 200 record shapes",
        "W10's records and schemas with 2, 20 and 200 members: the cost per value should "
        "not grow with the number of members", None, None, [], tables, NOTES,
        [flat("kestrome is_valid", list(range(len(SIZES))), 1.3, "cost per value")]
        + [faster_than("kestrome is_valid", PEERS, 2.5, i) for i in range(len(SIZES))])


JSON_SIZES = [2, 10, 20, 200]


@workload("W30")
def tagged_union_json() -> Workload:
    tables = []
    for n in JSON_SIZES:
        values, bad = make_values(n, 3000 + n)
        doc, bad_doc = json.dumps(values).encode(), json.dumps(bad).encode()
        assert orjson.loads(doc) == values
        schema, adapter, mhint = hints(n)
        tables.append(json_table(
            f"W30 union of {n} tagged records, JSON bytes ({len(doc):,} bytes, 10,000 "
            "values)", schema, doc, bad_doc, N_VALUES, "value", f"{n} members",
            msgspec_hint=mhint, adapter=adapter, msgspec_note=MSGSPEC_NOTE))
    return Workload(
        "W30", "tagged unions of 2 to 200 record shapes in JSON",
        "W10's records with 2, 10, 20 and 200 shapes as `json.dumps(...).encode()`: the "
        "cost per value should not grow with the number of members", None, None, [], tables,
        NOTES + ["msgspec decodes into the tagged Structs, pydantic validate_json into the "
                 "discriminated union of TypedDicts"],
        [flat("kestrome is_valid_json", list(range(len(JSON_SIZES))), 1.3, "cost per value")])
