"""The cost of one call on a tiny value, against the cheapest C calls (W6)."""

from __future__ import annotations

from harness import Case, Table, Workload, faster_than, workload
from tools import PEERS, ConfigDict, TypedDict, kestrome_cases, peer_cases, with_config


@with_config(ConfigDict(extra="forbid"))
class Small(TypedDict):
    id: int
    name: str


@workload("W6")
def small_record() -> Workload:
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
    return Workload(
        "W6", "one small record, per call",
        "{\"id\": int, \"name\": str} (a TypedDict for the peers) checked against one "
        "2-key dict, one call per loop iteration",
        small, bad_small, kc + pc,
        [Table("W6 one small record, per call", "member", baselines + kc + pc, None,
               ratio_to=["kestrome is_valid", "dict.get"])],
        ["each time is one loop iteration, loop overhead included (the `empty loop` row); "
         "compare kestrome is_valid with dict.get, the cheapest C method call",
         "non-member for the verdict check: {\"id\": \"7\", \"name\": \"Ada\"}"],
        [faster_than("kestrome is_valid", PEERS, 2.5)])
