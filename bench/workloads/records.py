"""Lists of records: the peers' common case (W2) and kestrome's own entry points on it (W7)."""

from __future__ import annotations

import functools
import random

from harness import Table, Workload, faster_than, with_value, within, workload
from tools import PEERS, ConfigDict, TypedDict, kestrome_cases, peer_cases, with_config

N_RECORDS = 1_000
TAGS = ["red", "green", "blue", "admin", "beta", "new", "old", "vip"]
RSCHEMA = {"id": int, "name": str, "score": float, "active": bool, "tags": list[str]}


# Records are closed in kestrome, so pydantic forbids extra keys too; typeguard rejects
# extra keys of a TypedDict by itself; msgspec has no such option for a TypedDict (the
# data never has extra keys, so the verdicts do not depend on it).
@with_config(ConfigDict(extra="forbid"))
class Record(TypedDict):
    id: int
    name: str
    score: float
    active: bool
    tags: list[str]


def make_records(seed: int, bad: bool, every: int = 10, n: int = N_RECORDS) -> list[dict]:
    """n records (1,000); with `bad`, every tenth (every `every`-th) has one field of the
    wrong type.

    The bad values are ones that every tool rejects: an int is never offered where a float
    is declared, since pydantic and msgspec take ints as floats even when strict.
    """
    rng = random.Random(seed)
    recs = []
    for i in range(n):
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
        for k, i in enumerate(range(every // 2, n, every)):
            key, breaker = breakers[k % len(breakers)]
            recs[i][key] = breaker(recs[i])
    return recs


@functools.cache
def w2_values() -> tuple[list[dict], list[dict]]:
    """W2's member and non-member; W7 and W8 use them too."""
    return make_records(2, bad=False), make_records(2, bad=True)


@workload("W2")
def records() -> Workload:
    recs, bad_recs = w2_values()
    member_cases = (kestrome_cases(list[RSCHEMA], recs, which=("is_valid", "validate"))
                    + peer_cases(recs, list[Record], beartype_note="samples one item per "
                                 "container and checks a TypedDict only as a Mapping"))
    nm_cases = with_value(
        kestrome_cases(list[RSCHEMA], recs, which=("is_valid", "validate", "validate_ff"))
        + peer_cases(recs, list[Record], beartype_note="samples one item per container and "
                     "checks a TypedDict only as a Mapping"), bad_recs)
    return Workload(
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
         "here), msgspec and typeguard stop at the first"],
        [faster_than("kestrome is_valid", PEERS, 2.5)])


@workload("W7")
def entry_points() -> Workload:
    recs, bad_recs = w2_values()
    kc = kestrome_cases(list[RSCHEMA], recs,
                        which=("is_valid", "in", "validate", "validate_ff", "ensure"))
    return Workload(
        "W7", "kestrome is_valid vs validate vs ensure",
        "kestrome's entry points on W2's member value (1,000 records)",
        recs, bad_recs, kc,
        [Table("W7 kestrome entry points on W2's member", "member", kc, N_RECORDS,
               "record")], [],
        [within("kestrome validate", "kestrome is_valid", 1.1)])
