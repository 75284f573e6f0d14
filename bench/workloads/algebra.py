"""Decisions and rewrites of the schema algebra (W44, W45, W51); kestrome only, no peer has them.

W44 times the everyday decisions, each of which should take well under 100 µs. W45 times
the cases whose cost once grew with the schema's width or with the product of two cycle
lengths: each should finish in about the time of a spent work budget (10 to 20 ms) or grow
near-linearly with the schema. W51 times the worst decisions known on validators within
the size limits, each of whose work once grew with the product of two sizes: each should
end within what a spent work budget allows (about 0.1 s).
"""

from __future__ import annotations

from typing import Annotated

from typing import Literal

from annotated_types import Ge, Le, MinLen, Predicate

from harness import Case, Table, Target, Workload, kestrome, workload

Validator, recursive, union, intersection, complement = (
    kestrome.Validator, kestrome.recursive, kestrome.union, kestrome.intersection, kestrome.complement)


def answer(stmt: str, env: dict, expected: bool) -> Case:
    """A timed decision whose answer is checked once, before timing."""
    got = eval(stmt, {}, dict(env))
    if got is not expected:
        raise SystemExit(f"algebra workload: {stmt} answered {got}, expected {expected}")
    return Case(f"{stmt} = {expected}", stmt, env, None)


def nest(x, n):
    for _ in range(n):
        x = Validator({"a?": x})
    return x


def cyc(n1, n2):
    """Records in a cycle of n1 + n2 through two definitions."""
    return recursive(lambda t: nest(recursive(lambda u: nest(t, n2)), n1))


@workload("W44")
def everyday_decisions() -> Workload:
    names = [f"field_{i}" for i in range(20)]
    record = Validator({n: int for n in names})
    widened = Validator({**{n: union(int, str) for n in names}, "note?": str})
    records = [{f"k{i}": int, "shared": str} for i in range(10)]
    members = union(*records)
    reordered = union(*reversed(records))
    tree = recursive(lambda t: {"value": int, "children": list[t]})
    wider_tree = recursive(lambda t: {"value": union(int, float), "children": list[t], "label?": str})
    linked = recursive(lambda t: union(None, {"head": int, "tail": t}))
    linked_copy = recursive(lambda t: union(None, {"head": int, "tail": t}))
    nested = recursive(lambda t: union(int, list[t]))
    wider_nested = recursive(lambda t: union(int, str, list[t]))
    cases = [
        answer("record.is_subtype_of(widened)", {"record": record, "widened": widened}, True),
        answer("widened.is_subtype_of(record)", {"record": record, "widened": widened}, False),
        answer("members.is_equivalent(reordered)", {"members": members, "reordered": reordered}, True),
        answer("tree.is_subtype_of(wider_tree)", {"tree": tree, "wider_tree": wider_tree}, True),
        answer("linked.is_equivalent(linked_copy)", {"linked": linked, "linked_copy": linked_copy}, True),
        answer("nested.is_subtype_of(wider_nested)", {"nested": nested, "wider_nested": wider_nested}, True),
        answer("tree.is_subtype_of(tree)", {"tree": tree}, True),
        answer("record.is_empty()", {"record": record}, False),
    ]
    return Workload(
        "W44", "algebra: everyday decisions",
        "is_subtype_of / is_equivalent / is_empty on a record of 20 fields against a widened "
        "copy, a union of 10 records against its reordering, recursive trees and lists",
        None, None, [],
        [Table("W44 algebra: everyday decisions", "decision", cases, None, ratio_to=[])],
        ["kestrome only: no peer decides inclusion between schemas",
         "target: each decision under 100 µs",
         "every answer is checked once before timing (the row names it)"])


@workload("W45")
def bounded_cost() -> Workload:
    bounds = Validator(intersection(*[Annotated[int, Ge(i)] for i in range(20_000)]))
    ints = Validator(intersection(*[int] * 99_999))
    distinct = Validator(intersection(*[{f"k{i}": int} for i in range(20_000)]))
    a60, b60 = cyc(60, 60), cyc(60, 59)
    a126, b126 = cyc(126, 126), cyc(126, 125)
    cases = [
        answer("bounds.is_empty()", {"bounds": bounds}, False),
        answer("ints.is_empty()", {"ints": ints}, False),
        Case("distinct.simplify()", "distinct.simplify()", {"distinct": distinct}, None),
        answer("a60.is_subtype_of(b60)", {"a60": a60, "b60": b60}, False),
        answer("a126.is_subtype_of(b126)", {"a126": a126, "b126": b126}, False),
    ]
    return Workload(
        "W45", "algebra: cost bounds",
        "is_empty of an intersection of 20,000 refinements Annotated[int, Ge(i)] and of 99,999 "
        "ints; simplify of an intersection of 20,000 distinct one-field records; "
        "cyc(60, 60) within cyc(60, 59) and cyc(126, 126) within cyc(126, 125), records in "
        "cycles of coprime lengths",
        None, None, [],
        [Table("W45 algebra: cost bounds", "decision", cases, None, ratio_to=[])],
        ["cyc(n1, n2) = recursive(lambda t: nest(recursive(lambda u: nest(t, n2)), n1)), "
         "nest(x, n) wrapping x n times in {\"a?\": x}",
         "the cycles meet again only after about 2 * n1 * (2 * n1 - 1) levels; past the "
         "decision depth cap (1,000 levels) the answer is not proven (False)",
         "target: each within about the time of a spent work budget (10 to 20 ms), or "
         "near-linear in the schema size"])


WORST_LIMIT = 0.1  # seconds: about what a spent work budget takes on the bench machine


@workload("W51")
def worst_decisions() -> Workload:
    k = 5_000
    wide = [list[Literal[i]] for i in range(10_000)]
    both = intersection(complement(union(*wide)), union(*wide[:-1], list[str]))
    texts = tuple(f"s{i}" for i in range(16_000))
    env = {
        "strs": Validator(union(*[str] * 4_000)),
        "not_lists": complement(Annotated[list[union(*[list[int]] * 30_000)], MinLen(0)]),
        "ge_each": Validator(Annotated[(int, *[Ge(i) for i in range(k)])]),
        "ge_last": Validator(Annotated[(int, *[Ge(float(k - 1))] * k)]),
        "ge_many": Validator(Annotated[(int, *[Ge(i) for i in range(49_000)])]),
        "le_union": Validator(union(*[Annotated[int, Le(j)] for j in range(40)])),
        "both": Validator(both),
        "byte_lists": Validator(union(*[list[bytes]] * 40, both)),
        "texts": Validator(Literal[texts]),
        "refined_texts": Validator(Annotated[Literal[texts], Predicate(bool)]),
        "one_field_records": Validator(union(*[{f"k{i}": int} for i in range(1_000)])),
        "optional_fields": Validator({f"k{i}?": int for i in range(40_000)}),
    }
    stmts = [
        ("strs.is_subtype_of(not_lists)", "union(str x 4,000) within complement(Annotated[list[union(list[int] x 30,000)], MinLen(0)])"),
        ("ge_each.is_subtype_of(ge_last)", f"Annotated[int, Ge(0..{k - 1})] within Annotated[int, {k:,} x Ge({k - 1}.0)]"),
        ("ge_many.is_subtype_of(le_union)", "Annotated[int, Ge(0..48,999)] within a union of 40 Annotated[int, Le(j)]"),
        ("both.is_subtype_of(byte_lists)", "an intersection holding a complement of 20,000 nodes within a union of 41"),
        ("texts.is_subtype_of(refined_texts)", "Literal of 16,000 strs within Annotated[that Literal, Predicate]"),
        ("one_field_records.is_subtype_of(optional_fields)", "a union of 1,000 one-field records within a record of 40,000 optional fields"),
    ]
    cases = [Case(f"{label}", stmt, env, None) for stmt, label in stmts]
    return Workload(
        "W51", "algebra: worst decisions within the limits",
        "decisions on validators within the node limit whose work once grew with the "
        "product of two sizes (copies for a complement, pairwise bound comparisons, "
        "literal walks, record fields passed over, repeated bound folding)",
        None, None, [],
        [Table("W51 algebra: worst decisions within the limits", "decision", cases, None, ratio_to=[])],
        ["kestrome only: no peer decides inclusion between schemas",
         f"target: each decision within {WORST_LIMIT} s, what a spent work budget allows"],
        [Target(f"{c.tool} within {WORST_LIMIT} s", "at_most", [(0, c.tool)], [], WORST_LIMIT, "s")
         for c in cases])
