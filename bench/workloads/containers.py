"""Flat containers of scalars: list[int] (W1), a Literal of strings (W4), bounded ints (W5),
list[float], list[str], set[int] and dict[str, int] (W16 to W19), each container of one
scalar kind beside a C loop doing only the bare type test (the limit)."""

from __future__ import annotations

import functools
import random
import string
from typing import Annotated, Literal

from harness import Table, Workload, faster_than, within, workload
from tools import LIMIT, PEERS, Ge, Is, Lt, kestrome_cases, limit_case, msgspec, peer_cases

N_INTS = 10_000
N_WORDS = 100
N_STRINGS = 10_000


def make_ints(lo: int, hi: int, seed: int) -> list[int]:
    rng = random.Random(seed)
    return [rng.randrange(lo, hi) for _ in range(N_INTS)]


@functools.cache
def w1_values() -> tuple[list[int], list[int]]:
    """W1's member and non-member; W9 reads them as a JSON document."""
    ints = make_ints(-1_000_000, 1_000_000, 1)
    bad_ints = list(ints)
    bad_ints[N_INTS // 2] = "7"
    return ints, bad_ints


def make_words(seed: int, n: int = N_WORDS) -> list[str]:
    rng = random.Random(seed)
    words: set[str] = set()
    while len(words) < n:
        words.add("".join(rng.choices(string.ascii_lowercase, k=rng.randint(3, 12))))
    return sorted(words)


def make_strings(words: list[str], seed: int, n: int = N_STRINGS) -> list[str]:
    # Equal to the literal's strings but distinct objects, as if read from outside.
    rng = random.Random(seed)
    return ["".join(list(rng.choice(words))) for _ in range(n)]


def scalar_container(key: str, title: str, description: str, hint, x, bad, limit: str,
                     test: str, table: str, n: int, element: str, notes: list[str],
                     only: list[str] | None = None) -> Workload:
    """A container of one scalar kind, timed beside the C loop doing its bare type test."""
    cases = kestrome_cases(hint, x) + peer_cases(x, hint, only=only)
    rows = cases + [limit_case(limit, x, test)]
    return Workload(
        key, title, description, x, bad, cases,
        [Table(table, "member", rows, n, element, ["kestrome is_valid", LIMIT])],
        notes + [f"`{LIMIT}` is a C loop built for the benchmark only, doing `{test}` on "
                 "every item and nothing else: what a check of this container cannot beat"],
        [faster_than("kestrome is_valid", PEERS, 2.5), within("kestrome is_valid", LIMIT, 2)])


@workload("W1")
def list_of_ints() -> Workload:
    ints, bad_ints = w1_values()
    return scalar_container(
        "W1", "list[int], 10,000 ints", "a list of 10,000 ints in [-10^6, 10^6)",
        list[int], ints, bad_ints, "list_int", "PyLong_CheckExact",
        "W1 list[int] (10,000 ints)", N_INTS, "int",
        ["non-member for the verdict check: the middle item is the str '7'"])


@workload("W16")
def list_of_floats() -> Workload:
    rng = random.Random(16)
    xs = [rng.uniform(-1e6, 1e6) for _ in range(20_000)]
    bad = list(xs)
    bad[len(xs) // 2] = "1.5"
    return scalar_container(
        "W16", "list[float], 20,000 floats", "a list of 20,000 floats in [-10^6, 10^6)",
        list[float], xs, bad, "list_float", "PyFloat_CheckExact",
        "W16 list[float] (20,000 floats)", len(xs), "float",
        ["non-member for the verdict check: the middle item is the str '1.5' (not an int: "
         "the peers take ints as floats)"], only=PEERS)


@workload("W17")
def list_of_strs() -> Workload:
    words = make_words(17)
    xs = make_strings(words, 170)
    bad = list(xs)
    bad[len(xs) // 2] = 7
    return scalar_container(
        "W17", "list[str], 10,000 strings", "a list of 10,000 short ASCII strings",
        list[str], xs, bad, "list_str", "PyUnicode_CheckExact",
        "W17 list[str] (10,000 strings)", len(xs), "string",
        ["non-member for the verdict check: the middle item is the int 7"], only=PEERS)


@workload("W18")
def set_of_ints() -> Workload:
    rng = random.Random(18)
    xs = set(rng.sample(range(-10_000_000, 10_000_000), N_INTS))
    bad = set(xs)
    bad.discard(next(iter(bad)))
    bad.add("7")
    return scalar_container(
        "W18", "set[int], 10,000 ints", "a set of 10,000 distinct ints in [-10^7, 10^7)",
        set[int], xs, bad, "set_int", "PyLong_CheckExact",
        "W18 set[int] (10,000 ints)", len(xs), "int",
        ["non-member for the verdict check: one item is the str '7'"], only=PEERS)


@workload("W19")
def dict_str_int() -> Workload:
    rng = random.Random(19)
    xs = {f"key{i:05d}": rng.randrange(-1_000_000, 1_000_000) for i in range(N_INTS)}
    bad = dict(xs)
    bad["key05000"] = "7"
    return scalar_container(
        "W19", "dict[str, int], 10,000 entries",
        "a dict of 10,000 entries, short ASCII str keys and int values",
        dict[str, int], xs, bad, "dict_str_int",
        "PyUnicode_CheckExact(key) && PyLong_CheckExact(value)",
        "W19 dict[str, int] (10,000 entries)", len(xs), "entry",
        ["non-member for the verdict check: the middle value is the str '7'"], only=PEERS)


@workload("W4")
def literal_strings() -> Workload:
    words = make_words(4)
    strs = make_strings(words, 40)
    bad_strs = list(strs)
    bad_strs[N_STRINGS // 2] = "not-a-word-at-all"
    lit = list[Literal[tuple(words)]]
    cases = kestrome_cases(lit, strs) + peer_cases(strs, lit)
    return Workload(
        "W4", "Literal of 100 strings",
        "list[Literal[w1, ..., w100]] against 10,000 strings drawn from the 100 (equal "
        "to them but distinct objects)",
        strs, bad_strs, cases,
        [Table("W4 list[Literal[100 strings]] (10,000 strings)", "member", cases,
               N_STRINGS, "string")],
        ["non-member for the verdict check: the middle string is not one of the 100"],
        [faster_than("kestrome is_valid", PEERS, 2.5)])


@workload("W5")
def bounded_ints() -> Workload:
    cints = make_ints(0, 1000, 5)
    bad_cints = list(cints)
    bad_cints[N_INTS // 2] = 1000
    ann = list[Annotated[int, Ge(0), Lt(1000)]]
    cases = kestrome_cases(ann, cints) + peer_cases(
        cints, ann,
        msgspec_hint=list[Annotated[int, msgspec.Meta(ge=0, lt=1000)]],
        beartype_hint=list[Annotated[int, Is[lambda n: 0 <= n < 1000]]],
        typeguard_limited="typeguard ignores Annotated metadata: it checks int only")
    return Workload(
        "W5", "list[Annotated[int, Ge(0), Lt(1000)]], 10,000 ints",
        "list[Annotated[int, Ge(0), Lt(1000)]] with annotated_types' Ge and Lt (read by "
        "kestrome by duck typing, and by pydantic), 10,000 ints in [0, 1000)",
        cints, bad_cints, cases,
        [Table("W5 list[Annotated[int, Ge(0), Lt(1000)]] (10,000 ints)", "member", cases,
               N_INTS, "int")],
        ["msgspec reads only its own metadata, so it gets "
         "`Annotated[int, msgspec.Meta(ge=0, lt=1000)]`; beartype reads only its "
         "validators, so it gets `Annotated[int, Is[lambda n: 0 <= n < 1000]]`",
         "typeguard checks the int and ignores the bounds (it has no constraint support), "
         "so it does less work than the others here",
         "non-member for the verdict check: the middle int is 1000"],
        [faster_than("kestrome is_valid", PEERS, 2.5)])
