"""JSON documents: W2's records (W8) and W1's ints (W9) as bytes, and the same record mix
as 1 MB and 20 MB documents (W27). Every JSON table is timed with the collector off and
on."""

from __future__ import annotations

import json

from harness import Table, Target, Workload, faster_than, flat, with_value, within, workload
from tools import json_peer_cases, kestrome_json_cases, orjson
from workloads.containers import N_INTS, w1_values
from workloads.records import N_RECORDS, RSCHEMA, Record, make_records, w2_values


def json_table(title: str, schema, doc: bytes, bad_doc: bytes, n: int, element: str,
               label: str, peer_schema=None, **peer_args) -> Table:
    """One document timed under every JSON tool, with its own verdict pair."""
    cases = with_value(kestrome_json_cases(schema) + json_peer_cases(
        schema if peer_schema is None else peer_schema, **peer_args), doc)
    return Table(title, "member", cases, n, element, ["kestrome is_valid_json"],
                 collector_too=True, values=(doc, bad_doc), label=label)


def json_targets(table: int = 0) -> list[Target]:
    """The goals for a whole document against the parsers a user could call instead."""
    return [faster_than("kestrome is_valid_json", ["orjson.loads"], 2, table),
            faster_than("kestrome is_valid_json", ["msgspec"], 2.5, table),
            within("kestrome load", "orjson.loads", 1.1, table),
            within("kestrome validate_json", "orjson.loads", 1.2, table)]


@workload("W8")
def records_doc() -> Workload:
    recs, bad_recs = w2_values()
    doc = json.dumps(recs).encode()
    bad_doc = json.dumps(bad_recs).encode()
    assert orjson.loads(doc) == recs  # floats go through repr, so they come back exact
    cases = with_value(kestrome_json_cases(list[RSCHEMA]) + json_peer_cases(list[Record]), doc)
    return Workload(
        "W8", "1,000 records as a JSON document",
        f"W2's member value (1,000 records) as `json.dumps(...).encode()`, {len(doc):,} "
        "bytes; the same schemas as W2 (a dict literal for kestrome, the TypedDict for the "
        "peers); the non-member document is W2's non-member (one bad field in every tenth "
        "record)",
        doc, bad_doc, cases,
        [Table(f"W8 1,000 records, JSON bytes ({len(doc):,} bytes)", "member", cases,
               N_RECORDS, "record", ["kestrome is_valid_json"], collector_too=True)],
        ["orjson.loads has no schema and is not checked for verdicts: it shows what "
         "parsing alone costs, and builds the whole value as Python objects",
         "kestrome validate_json and load, msgspec and pydantic all build Python objects; "
         "kestrome is_valid_json builds none",
         "msgspec ignores extra keys of a TypedDict (the document has none)",
         "the non-member document is timed nowhere; it is only for the verdict check"],
        json_targets())


@workload("W9")
def ints_doc() -> Workload:
    ints, bad_ints = w1_values()
    idoc = json.dumps(ints).encode()
    bad_idoc = json.dumps(bad_ints).encode()
    assert orjson.loads(idoc) == ints
    cases = with_value(kestrome_json_cases(list[int]) + json_peer_cases(list[int]), idoc)
    return Workload(
        "W9", "10,000 ints as a JSON document",
        f"W1's list of 10,000 ints as `json.dumps(...).encode()`, {len(idoc):,} bytes, "
        "against list[int]",
        idoc, bad_idoc, cases,
        [Table(f"W9 list[int], JSON bytes (10,000 ints, {len(idoc):,} bytes)", "member",
               cases, N_INTS, "int", ["kestrome is_valid_json"], collector_too=True)],
        ["non-member for the verdict check: W1's, whose middle item is the string \"7\"",
         "orjson.loads parses only and is not checked for verdicts"],
        json_targets())


SIZES_MB = [1, 20]
RECORD_BYTES = 105  # about, in W2's mix


@workload("W27")
def sized_docs() -> Workload:
    tables = []
    for i, mb in enumerate(SIZES_MB):
        n = mb * 1_000_000 // RECORD_BYTES
        recs = make_records(2700 + mb, bad=False, n=n)
        doc = json.dumps(recs).encode()
        bad_doc = json.dumps(make_records(2700 + mb, bad=True, n=n)).encode()
        del recs
        tables.append(json_table(f"W27 {n:,} records, JSON bytes ({len(doc) / 1e6:.1f} MB)",
                                 list[RSCHEMA], doc, bad_doc, n, "record", f"{mb} MB",
                                 list[Record], only=["orjson.loads", "msgspec"]))
    return Workload(
        "W27", "1 MB and 20 MB documents of one record mix",
        "W2's record mix (the same generator, other seeds) as documents of about 1 MB and "
        "20 MB: the cost per record should not grow with the document", None, None, [],
        tables,
        ["pydantic is left out here: at 20 MB it would take most of the run"],
        [flat(tool, [0, 1], 1.25, "cost per record")
         for tool in ("kestrome is_valid_json", "kestrome load")]
        + json_targets(0) + json_targets(1))
