"""Regex constraints: lists of 10,000 strings against an email-like pattern (W40), an
identifier pattern with `\\w` (W41) and a date pattern with `\\d` (W42), one long text
against `.*x` at 100 kB and 1 MB and against ASCII and Unicode classes at 1 MB (W43),
and the lazy DFA's worst case (W46).

kestrome matches the whole string; pydantic (Rust's regex crate) and msgspec (Python's
`re`) search, so they get the pattern anchored as `^(?:...)$` (no text here holds a
newline, so `re`'s `$` cannot stop before a final one).
"""

from __future__ import annotations

import random
import string
import subprocess
import sys
from types import SimpleNamespace
from typing import Annotated

from harness import (Case, Probe, Table, Target, Workload, faster_than, kestrome, with_value,
                     within, workload)
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


# Classes over 1 MB: one of ASCII ranges over ASCII text, and Unicode `\w` over words in
# Cyrillic, Greek, CJK and accented Latin.
CLASS_SIZE = 1_000_000
ASCII_CLASS = "[a-z0-9 ]+"
UNICODE_WORDS = r"\w+(?: \w+)*"
WORDS = ["привет", "мир", "日本語", "テキスト", "ελληνικά", "straße", "ñandú", "中文", "żółw"]


def ascii_class_text(last: str) -> str:
    rng = random.Random(44)
    return "".join(rng.choices(string.ascii_lowercase + string.digits + " ",
                               k=CLASS_SIZE - 1)) + last


def unicode_words_text(last: str) -> str:
    rng = random.Random(45)
    words, size = [], 0
    while size < CLASS_SIZE:
        w = rng.choice(WORDS)
        words.append(w)
        size += len(w.encode()) + 1
    return " ".join(words) + last


@workload("W43")
def long_texts() -> Workload:
    tables = []
    for n in SIZES:
        text, bad = long_text(n, 43, "x"), long_text(n, 43, "y")
        cases = with_value(regex_cases(LONG, text, items=False), text)
        tables.append(Table(f"W43 Annotated[str, Regex({LONG!r})] ({n // 1000:,} kB text)",
                            "member", cases, n // 1000, "kB", values=(text, bad),
                            label=f"({n // 1000:,} kB)"))
    for pattern, make, what in [(ASCII_CLASS, ascii_class_text, "ASCII"),
                                (UNICODE_WORDS, unicode_words_text, "non-ASCII words")]:
        text, bad = make(""), make("!")
        kb = len(text.encode()) // 1000
        cases = with_value(regex_cases(pattern, text, items=False), text)
        tables.append(Table(f"W43 Annotated[str, Regex({pattern!r})] ({kb:,} kB of {what})",
                            "member", cases, kb, "kB", values=(text, bad),
                            label=f"({what})"))
    classes = range(len(SIZES), len(SIZES) + 2)
    return Workload(
        "W43", "one long text against `.*x`, 100 kB and 1 MB; classes over 1 MB",
        "one ASCII text of lowercase letters and spaces ending in `x`, 100 kB and 1 MB, "
        "against `.*x`: a pass over the whole text, where `re` runs near memory speed; "
        f"then 1 MB of ASCII letters, digits and spaces against `{ASCII_CLASS}`, and 1 MB "
        f"of words in Cyrillic, Greek, CJK and accented Latin against `{UNICODE_WORDS}`",
        None, None, [], tables,
        ["non-member for the verdict check: the same text ending in `y` (`.*x`), or in `!` "
         "(the classes)"],
        [faster_than("kestrome is_valid", ["pydantic"], 1, i) for i in range(len(SIZES))]
        + [within("kestrome is_valid", "msgspec", 2, i) for i in range(len(SIZES))]
        + [Target("kestrome is_valid on 10× the text within 10× the time", "ratio",
                  [(1, "kestrome is_valid")], [(0, "kestrome is_valid")], 10)]
        + [faster_than("kestrome is_valid", ["pydantic", "msgspec"], 1.5, i) for i in classes])


# --------------------------------------------------------------------------------------
# W46: the lazy DFA's worst case. Every byte of a random text over `ab` makes a new DFA
# state of some 10,000 NFA instructions for `[ab]*a[ab]{20000}`; the cache is bounded in
# bytes, and the NFA simulation takes over where the DFA stops paying. Also what one
# constraint holds after a hostile match, and what refusing a 1 MB pattern costs.

HOSTILE = "[ab]*a[ab]{20000}"
HOSTILE_TEXT = 40_000
HELD_TEXT = 12_000
HUGE = 1_000_000

# Run in a fresh interpreter that imports only kestrome, so that its peak is its own.
HOSTILE_CHILD = """
import os
from types import SimpleNamespace
from typing import Annotated
import kestrome

def rss_mib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2 ** 20

# This process's own peak (ru_maxrss would start from the parent's, kept across exec).
def peak_kib():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))

if {what!r} == "held":
    before = rss_mib()
    v = kestrome.Validator(Annotated[str, SimpleNamespace(pattern={hostile!r})])
    v.is_valid("a" * {held})
    print(rss_mib() - before)
else:
    pattern = "a" * {huge}
    before = peak_kib()
    try:
        kestrome.Validator(Annotated[str, SimpleNamespace(pattern=pattern)])
    except ValueError:
        pass
    print((peak_kib() - before) / 1024)
"""


def hostile_text(last: str) -> str:
    rng = random.Random(46)
    text = [rng.choice("ab") for _ in range(HOSTILE_TEXT)]
    text[-20_001] = last  # member: the `a` 20,000 from the end
    return "".join(text)


def measure_child(what: str):
    """The MiB a fresh interpreter grows by: held after the hostile match, or at its peak
    while refusing the 1 MB pattern."""
    def run() -> float:
        code = HOSTILE_CHILD.format(what=what, hostile=HOSTILE, held=HELD_TEXT, huge=HUGE)
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                             check=True, timeout=600, cwd="/")
        return float(out.stdout.split()[-1])
    return run


@workload("W46")
def hostile() -> Workload:
    text, bad = hostile_text("a"), hostile_text("b")
    cases = with_value(regex_cases(HOSTILE, text, items=False), text)
    huge = "a" * HUGE
    refuse = [Case("kestrome Validator", "try:\n    V(T)\nexcept E:\n    pass",
                   {"V": kestrome.Validator, "E": ValueError,
                    "T": Annotated[str, SimpleNamespace(pattern=huge)]}, None,
                   "refused: past the compiled size limit")]
    tables = [
        Table(f"W46 Annotated[str, Regex({HOSTILE!r})] (random 40,000-character text)",
              "member", cases, HOSTILE_TEXT // 1000, "kB", values=(text, bad),
              label="random text"),
        Table(f"W46 memory held by one constraint after matching 'a' * {HELD_TEXT:,}",
              "member", [], None, ratio_to=["kestrome"], unit="MiB",
              probes=[Probe("kestrome", measure_child("held"),
                            "resident growth of a fresh interpreter: Validator + one is_valid")]),
        Table("W46 refusing a 1 MB literal pattern", "member", refuse, None,
              ratio_to=["kestrome Validator"]),
        Table("W46 peak memory refusing a 1 MB literal pattern", "member", [], None,
              ratio_to=["kestrome"], unit="MiB",
              probes=[Probe("kestrome", measure_child("refuse"),
                            "peak resident growth of a fresh interpreter (VmHWM)")]),
    ]
    return Workload(
        "W46", f"the lazy DFA's worst case: `{HOSTILE}`",
        f"`{HOSTILE}` against a random 40,000-character text over `ab` (a new DFA state "
        "for almost every byte), the memory one constraint holds after matching "
        f"`'a' * {HELD_TEXT:,}`, and the time and peak memory to refuse a pattern of "
        f"{HUGE:,} literal `a`s (past the compiled size limit)",
        None, None, [], tables,
        ["member for the verdict check: the text's 20,001st character from the end is `a`; "
         "non-member: the same text with `b` there",
         "before the DFA's cache was bounded in bytes the held memory was 383 MB, and "
         "refusing the 1 MB pattern took 352 MB"],
        [Target("kestrome memory held after the hostile match at most 8 MiB", "at_most",
                [(1, "kestrome")], [], 8, unit="MiB"),
         Target("kestrome refusing the 1 MB pattern within 0.25 s", "at_most",
                [(2, "kestrome Validator")], [], 0.25, unit="s"),
         Target("kestrome peak memory refusing the 1 MB pattern at most 32 MiB", "at_most",
                [(3, "kestrome")], [], 32, unit="MiB")])
