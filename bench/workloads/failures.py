"""The failure path: `validate` raising, with the errors read as each tool's users read
them (W20: one bad int; W21: 1,000 records, half of them failing)."""

from __future__ import annotations

from harness import Table, Target, Workload, faster_than, workload
from tools import PEERS, error_reading_cases
from workloads.records import N_RECORDS, RSCHEMA, Record, make_records

ERRORS_READ = ("each tool's errors are read as its users read them: kestrome `e.errors`, "
               "pydantic `e.errors()`, msgspec `str(e)`")


@workload("W20")
def one_bad_int() -> Workload:
    cases = error_reading_cases(int, int, "7")
    return Workload(
        "W20", "validate raising on one bad int",
        "`int` against the str '7', one call per loop iteration: the cost of raising one "
        "error and reading it", 7, "7", cases,
        [Table("W20 one bad int, raised and read", "non-member", cases, None,
               ratio_to=["kestrome validate"])],
        [ERRORS_READ, "member for the verdict check: 7"],
        [Target("kestrome validate raising, errors read, no slower than the faster of "
                "pydantic and msgspec", "ratio", [(0, "kestrome validate")],
                [(0, p) for p in PEERS], 1.0)])


@workload("W21")
def half_failing_records() -> Workload:
    recs = make_records(21, bad=False)
    bad = make_records(21, bad=True, every=2)
    cases = error_reading_cases(list[RSCHEMA], list[Record], bad)
    return Workload(
        "W21", "validate of 1,000 records, half failing",
        "W2's schema against 1,000 records of which every other one has one bad field "
        "(500 errors), the errors read", recs, bad, cases,
        [Table("W21 1,000 records, 500 failing, errors read", "non-member", cases,
               N_RECORDS, "record", ["kestrome validate"])],
        [ERRORS_READ, "kestrome and pydantic collect all 500 errors; msgspec stops at the "
         "first", "the bad fields cycle as in W2; member for the verdict check: the same "
         "records, all good"],
        [faster_than("kestrome validate", ["pydantic"], 1.5)])
