"""How JSON costs scale with the schema: a Literal of 10 to 10,000 strings (W28), records
of 5, 50 and 500 fields (W29). The cost per value or per field should stay flat."""

from __future__ import annotations

import json
import random
from typing import Literal

from harness import Workload, faster_than, flat, workload
from tools import ConfigDict, TypedDict, orjson, with_config
from workloads.containers import make_strings, make_words
from workloads.json_docs import json_table

N_VALUES = 1_000  # 1,000 values: enough for a per-value cost, and today's big Literals are slow
LITERAL_SIZES = [10, 100, 1_000, 10_000]


@workload("W28")
def json_literals() -> Workload:
    tables = []
    for n in LITERAL_SIZES:
        words = make_words(2800 + n, n)
        values = make_strings(words, 2810 + n, N_VALUES)
        bad = list(values)
        bad[N_VALUES // 2] = "not-a-word-at-all"
        doc, bad_doc = json.dumps(values).encode(), json.dumps(bad).encode()
        tables.append(json_table(
            f"W28 list[Literal[{n:,} strings]], JSON bytes ({N_VALUES:,} values, "
            f"{len(doc):,} bytes)", list[Literal[tuple(words)]], doc, bad_doc, N_VALUES,
            "value", f"{n:,} strings"))
    return Workload(
        "W28", "JSON Literal of 10 to 10,000 strings",
        f"{N_VALUES:,} strings drawn from a Literal of 10, 100, 1,000 and 10,000 lowercase "
        "words, as a JSON array: the cost per value should not depend on the Literal's size",
        None, None, [], tables,
        ["non-member for the verdict check: the middle string is not one of the words"],
        [flat("kestrome is_valid_json", list(range(len(LITERAL_SIZES))), 1.3,
              "cost per value")]
        + [faster_than("kestrome is_valid_json", ["msgspec"], 2, i)
           for i in range(len(LITERAL_SIZES))])


WIDTHS = [5, 50, 500]
N_FIELDS = 50_000  # in every document: 10,000 records of 5 fields, ... 100 of 500
FIELD_TYPES = [int, str, float, bool]


def wide_record(width: int) -> type:
    return with_config(ConfigDict(extra="forbid"))(TypedDict(
        f"Width{width}", {f"field_{i:03d}": FIELD_TYPES[i % 4] for i in range(width)}))


def wide_values(width: int, seed: int) -> list[dict]:
    rng = random.Random(seed)
    make = [lambda: rng.randrange(-10**6, 10**6), lambda: f"v{rng.randrange(10**6)}",
            lambda: rng.random(), lambda: rng.random() < 0.5]
    return [{f"field_{i:03d}": make[i % 4]() for i in range(width)}
            for _ in range(N_FIELDS // width)]


@workload("W29")
def json_widths() -> Workload:
    tables = []
    for w in WIDTHS:
        values = wide_values(w, 2900 + w)
        bad = [dict(r) for r in values]
        bad[len(bad) // 2]["field_000"] = "7"
        doc, bad_doc = json.dumps(values).encode(), json.dumps(bad).encode()
        assert orjson.loads(doc) == values
        tables.append(json_table(
            f"W29 {N_FIELDS // w:,} records of {w} fields, JSON bytes ({len(doc):,} bytes)",
            list[wide_record(w)], doc, bad_doc, N_FIELDS, "field", f"{w} fields"))
    return Workload(
        "W29", "JSON records of 5, 50 and 500 fields",
        f"{N_FIELDS:,} fields in every document, as records of 5, 50 and 500 fields "
        "(int, str, float, bool in turn; a closed TypedDict): the cost per field should not "
        "depend on the record's width", None, None, [], tables,
        ["non-member for the verdict check: the middle record's field_000 is the str '7'"],
        [flat("kestrome is_valid_json", list(range(len(WIDTHS))), 1.3, "cost per field")])
