"""Flat containers of scalars: list[int] (W1), a Literal of strings (W4), bounded ints (W5)."""

from __future__ import annotations

import functools
import random
import string
from typing import Annotated, Literal

from harness import Table, Workload, workload
from tools import Ge, Is, Lt, kestrome_cases, msgspec, peer_cases

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


def make_words(seed: int) -> list[str]:
    rng = random.Random(seed)
    words: set[str] = set()
    while len(words) < N_WORDS:
        words.add("".join(rng.choices(string.ascii_lowercase, k=rng.randint(3, 12))))
    return sorted(words)


def make_strings(words: list[str], seed: int) -> list[str]:
    # Equal to the literal's strings but distinct objects, as if read from outside.
    rng = random.Random(seed)
    return ["".join(list(rng.choice(words))) for _ in range(N_STRINGS)]


@workload("W1")
def list_of_ints() -> Workload:
    ints, bad_ints = w1_values()
    cases = kestrome_cases(list[int], ints) + peer_cases(ints, list[int])
    return Workload(
        "W1", "list[int], 10,000 ints", "a list of 10,000 ints in [-10^6, 10^6)",
        ints, bad_ints, cases,
        [Table("W1 list[int] (10,000 ints)", "member", cases, N_INTS, "int")],
        ["non-member for the verdict check: the middle item is the str '7'"])


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
        ["non-member for the verdict check: the middle string is not one of the 100"])


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
         "non-member for the verdict check: the middle int is 1000"])
