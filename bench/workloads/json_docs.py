"""JSON documents: W2's records (W8) and W1's ints (W9) as bytes."""

from __future__ import annotations

import json

from harness import Table, Workload, with_value, workload
from tools import json_peer_cases, kestrome_json_cases, orjson
from workloads.containers import N_INTS, w1_values
from workloads.records import N_RECORDS, RSCHEMA, Record, w2_values


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
               N_RECORDS, "record", ["kestrome is_valid_json"])],
        ["orjson.loads has no schema and is not checked for verdicts: it shows what "
         "parsing alone costs, and builds the whole value as Python objects",
         "kestrome validate_json and load, msgspec and pydantic all build Python objects; "
         "kestrome is_valid_json builds none",
         "msgspec ignores extra keys of a TypedDict (the document has none)",
         "the non-member document is timed nowhere; it is only for the verdict check"])


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
               cases, N_INTS, "int", ["kestrome is_valid_json"])],
        ["non-member for the verdict check: W1's, whose middle item is the string \"7\"",
         "orjson.loads parses only and is not checked for verdicts"])
