"""Regex constraints: lists of 10,000 strings against an email-like pattern (W40), an
identifier pattern with `\\w` (W41) and a date pattern with `\\d` (W42), and one long text
against `.*x` at 100 kB and 1 MB (W43).

kestrome matches the whole string; pydantic (Rust's regex crate) and msgspec (Python's
`re`) search, so they get the pattern anchored as `^(?:...)$` (no text here holds a
newline, so `re`'s `$` cannot stop before a final one).
"""

from __future__ import annotations

import random
import string
from types import SimpleNamespace
from typing import Annotated

from harness import Table, Target, Workload, faster_than, with_value, within, workload
from tools import PEERS, kestrome_cases, msgspec, peer_cases, pydantic

N_STRINGS = 10_000


def regex_cases(pattern: str, x, *, items: bool) -> list:
    """kestrome, pydantic and msgspec on `pattern`, over a list of strings or one string."""
    anchored = f"^(?:{pattern})$"
    ours = Annotated[str, SimpleNamespace(pattern=pattern)]
    theirs = Annotated[str, pydantic.StringConstraints(pattern=anchored)]
    mine = Annotated[str, msgspec.Meta(pattern=anchored)]
    if items:
        ours, theirs, mine = list[ours], list[theirs], list[mine]
    return kestrome_cases(ours, x) + peer_cases(x, theirs, msgspec_hint=mine, only=PEERS)


TARGETS = [faster_than("kestrome is_valid", ["pydantic"], 1),
           within("kestrome is_valid", "msgspec", 2)]


def strings_workload(key: str, title: str, description: str, pattern: str, x: list[str],
                     bad: str, notes: list[str]) -> Workload:
    """`list[Annotated[str, pattern]]` over `x`; the non-member has `bad` in the middle."""
    non_member = list(x)
    non_member[len(x) // 2] = bad
    cases = regex_cases(pattern, x, items=True)
    return Workload(
        key, title, description, x, non_member, cases,
        [Table(f"{key} list[Annotated[str, Regex({pattern!r})]] ({len(x):,} strings)",
               "member", cases, len(x), "string")],
        notes + [f"non-member for the verdict check: the middle string is {bad!r}"], TARGETS)


def word(rng: random.Random, alphabet: str, lo: int, hi: int) -> str:
    return "".join(rng.choices(alphabet, k=rng.randint(lo, hi)))


EMAIL = r"[A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(?:\.[A-Za-z0-9-]+)*\.[A-Za-z]{2,}"


@workload("W40")
def emails() -> Workload:
    rng = random.Random(40)
    local = string.ascii_lowercase + string.digits + "._+"
    host = string.ascii_lowercase + string.digits + "-"
    tlds = ["com", "org", "net", "io", "de", "info"]
    xs = [f"{word(rng, local, 3, 14)}@{word(rng, host, 3, 10)}."
          + (f"{word(rng, host, 2, 6)}." if rng.random() < 0.3 else "") + rng.choice(tlds)
          for _ in range(N_STRINGS)]
    return strings_workload(
        "W40", "email-like pattern, 10,000 strings",
        "a list of 10,000 addresses like `k3x.q@mail-7.org` against an email-like pattern "
        "of ASCII classes", EMAIL, xs, "no-at-sign.example.com",
        ["the pattern is " + f"`{EMAIL}`"])


IDENTIFIER = r"[^\W\d]\w*"


@workload("W41")
def identifiers() -> Workload:
    rng = random.Random(41)
    first = string.ascii_letters + "_éßñøΩж"
    rest = first + string.digits
    xs = [rng.choice(first) + word(rng, rest, 2, 14) for _ in range(N_STRINGS)]
    return strings_workload(
        "W41", "identifier pattern with \\w, 10,000 strings",
        "a list of 10,000 identifiers of 3 to 15 letters, digits and underscores, some "
        "non-ASCII (é ß ñ ø Ω ж), against `[^\\W\\d]\\w*`", IDENTIFIER, xs, "9lives",
        ["`\\w` is Unicode in all three tools; on these letters they agree"])


DATE = r"\d{4}-\d{2}-\d{2}"


@workload("W42")
def dates() -> Workload:
    rng = random.Random(42)
    xs = [f"{rng.randint(1900, 2099)}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
          for _ in range(N_STRINGS)]
    return strings_workload(
        "W42", "date pattern with \\d, 10,000 strings",
        "a list of 10,000 dates like `2024-03-15` against `\\d{4}-\\d{2}-\\d{2}`", DATE, xs,
        "2024-3-15", [])


LONG = r".*x"
SIZES = [100_000, 1_000_000]


def long_text(n: int, seed: int, last: str) -> str:
    rng = random.Random(seed)
    return "".join(rng.choices(string.ascii_lowercase + " ", k=n - 1)) + last


@workload("W43")
def long_texts() -> Workload:
    tables = []
    for n in SIZES:
        text, bad = long_text(n, 43, "x"), long_text(n, 43, "y")
        cases = with_value(regex_cases(LONG, text, items=False), text)
        tables.append(Table(f"W43 Annotated[str, Regex({LONG!r})] ({n // 1000:,} kB text)",
                            "member", cases, n // 1000, "kB", values=(text, bad),
                            label=f"({n // 1000:,} kB)"))
    return Workload(
        "W43", "one long text against `.*x`, 100 kB and 1 MB",
        "one ASCII text of lowercase letters and spaces ending in `x`, 100 kB and 1 MB, "
        "against `.*x`: a pass over the whole text, where `re` runs near memory speed",
        None, None, [], tables,
        ["non-member for the verdict check: the same text ending in `y`"],
        [faster_than("kestrome is_valid", ["pydantic"], 1, i) for i in range(len(SIZES))]
        + [within("kestrome is_valid", "msgspec", 2, i) for i in range(len(SIZES))]
        + [Target("kestrome is_valid on 10× the text within 10× the time", "ratio",
                  [(1, "kestrome is_valid")], [(0, "kestrome is_valid")], 10)])
