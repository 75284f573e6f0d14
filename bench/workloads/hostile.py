"""Inputs that once made a check superlinear where nothing in the data asks for it: a
JSON object that repeats every key (W52), and values whose leaves are shared objects, as
small ints and interned strs are (W53). kestrome only: each is timed against the same
data read another way."""

from __future__ import annotations

import json

from harness import Case, Table, Workload, kestrome, within, workload
from workloads.json_corpora import citm

Validator, recursive, union = kestrome.Validator, kestrome.recursive, kestrome.union

N_KEYS = 32_000


def checked(stmt: str, env: dict, tool: str) -> Case:
    """A timed row whose answer (True) is checked once, before timing."""
    got = eval(stmt, {"json": json}, dict(env))
    if got is not True:
        raise SystemExit(f"hostile workload: {stmt} answered {got}, expected True")
    return Case(tool, stmt, env, None)


@workload("W52")
def repeated_keys() -> Workload:
    # every key first with a rejected value, then with an accepted one: the object is valid
    doc = ("{" + ",".join(f'"k{i}": "x"' for i in range(N_KEYS)) + ","
           + ",".join(f'"k{i}": {i}' for i in range(N_KEYS)) + "}")
    env = {"v": Validator(dict[str, int]), "doc": doc}
    cases = [checked("v.is_valid_json(doc)", env, "kestrome is_valid_json"),
             checked("v.validate_json(doc) is None", env, "kestrome validate_json"),
             checked("v.is_valid(json.loads(doc))", {**env, "json": json}, "is_valid(json.loads)")]
    return Workload(
        "W52", "JSON object repeating each of 32,000 keys",
        f"dict[str, int] against one object of {2 * N_KEYS:,} entries ({len(doc):,} bytes): "
        "each key first mapped to a string, later to an int, so each first entry is "
        "rejected and replaced by a later one",
        None, None, [],
        [Table(f"W52 dict[str, int], {N_KEYS:,} keys written twice", "member", cases, 2 * N_KEYS,
               "entry", ratio_to=["is_valid(json.loads)"])],
        ["the baseline reads the document with the standard library, whose dict keeps "
         "each key's last value, and checks the dict"],
        [within("kestrome is_valid_json", "is_valid(json.loads)", 1.5),
         within("kestrome validate_json", "is_valid(json.loads)", 2)])


def unshare(value):
    """The same value with a fresh object for every int and str leaf (ints moved past the
    interpreter's small-int cache, so that each can be an object of its own)."""
    if isinstance(value, dict):
        return {k: unshare(x) for k, x in value.items()}
    if isinstance(value, list):
        return [unshare(x) for x in value]
    if type(value) is int:
        return int(str(value + 10**6))
    if type(value) is str and len(value) > 1:
        return value[:1] + value[1:]
    return value


def shift(value):
    """The same value with every int moved as unshare moves it, objects shared as before."""
    if isinstance(value, dict):
        return {k: shift(x) for k, x in value.items()}
    if isinstance(value, list):
        return [shift(x) for x in value]
    if type(value) is int:
        return SHIFTED.setdefault(value, value + 10**6)
    return value


SHIFTED: dict[int, int] = {}


@workload("W53")
def shared_leaves() -> Workload:
    jv = recursive(lambda j: union(None, bool, int, float, str, list[j], dict[str, j]))
    small = [{"id": 7, "count": 7, "name": "item", "tags": ["a", "b"], "note": None, "ok": True}
             for _ in range(20_000)]
    catalog = json.loads(json.dumps(citm(53)))
    tables = []
    for label, value in [("20,000 small records", small), ("citm-shaped catalog", catalog)]:
        env = {"jv": jv, "shared": shift(value), "fresh": unshare(value)}
        cases = [checked("jv.is_valid(shared)", env, "kestrome is_valid, shared leaves"),
                 checked("jv.is_valid(fresh)", env, "kestrome is_valid, fresh leaves")]
        tables.append(Table(f"W53 recursive JSON value, {label}", "member", cases, None,
                            ratio_to=["kestrome is_valid, fresh leaves"], label=label))
    return Workload(
        "W53", "shared leaves under a recursive schema",
        "recursive(lambda j: union(None, bool, int, float, str, list[j], dict[str, j])) "
        "against 20,000 small records whose ints and strs are shared objects, and against "
        "W26's citm-shaped catalog as json.loads reads it (shared small ints, memoised "
        "keys), every int moved past the small-int cache but still shared; each "
        "beside the same value with a fresh object for every int and str",
        None, None, [], tables,
        ["shared leaves are decided by a scalar test: they should cost what fresh ones do"],
        [within("kestrome is_valid, shared leaves", "kestrome is_valid, fresh leaves", 1.25, i)
         for i in range(len(tables))])
