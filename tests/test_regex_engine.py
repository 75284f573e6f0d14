"""The pattern engine's own concerns: sharing a compiled pattern between
threads, answers on long texts that a backtracking matcher could not give,
the fallback when the lazy DFA runs out of room, the memory a match or an
oversized pattern takes, and error displays of patterns written over
several lines."""

import os
import random
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from types import SimpleNamespace as Meta
from typing import Annotated

import pytest

from kestrome import Validator


def matcher(pattern):
    return Validator(Annotated[str, Meta(pattern=pattern)])


@pytest.mark.parametrize(
    "pattern, members, others",
    [
        # edge anchors only: the lazy DFA answers
        (r"[a-z]+@[a-z]+\.com", ["ab@cd.com"], ["ab@cd.co", "Ab@cd.com"]),
        # word boundaries: the NFA simulation answers
        (r"\b\w+\b(?: \b\w+\b)*", ["héllo wörld", "x"], ["héllo  wörld", " x"]),
    ],
)
def test_one_compiled_pattern_serves_many_threads(pattern, members, others):
    v = matcher(pattern)
    texts = [(t, True) for t in members] + [(t, False) for t in others]

    def run(seed):
        rng = random.Random(seed)
        for _ in range(2000):
            text, expected = rng.choice(texts)
            if v.is_valid(text) is not expected:
                return text
        return None

    with ThreadPoolExecutor(max_workers=8) as pool:
        assert list(pool.map(run, range(16))) == [None] * 16


N = 200_000


@pytest.mark.parametrize(
    "pattern, text, expected",
    [
        ("(a|aa)*b", "a" * N, False),
        ("(a|aa)*", "a" * N, True),
        ("(x+x+)+y", "x" * N, False),
        ("(?:a?){50}a{50}", "a" * 50, True),
        (".*.*.*=.*", "a" * N, False),
        ("(.*)*x", "a" * N + "x", True),
        (r"\b(a|aa)*\b", "a" * N, True),
        (r"(?m)^(a|aa)*$", "a" * N + "\nb", False),
        (r"(?:\w+\s?)*$", "word " * (N // 5) + "!", False),
    ],
)
def test_long_texts_are_answered_without_backtracking(pattern, text, expected):
    assert matcher(pattern).is_valid(text) is expected


# A state that loops on itself skips ahead to the first byte that leaves it:
# one byte at a time at first, then 16 at a time, then the bytes left over.
SKIP_LENGTHS = [0, 1, 3, 4, 5, 8, 9, 15, 16, 17, 23, 24, 25, 31, 32, 33, 40, 47, 48, 64, 100]


@pytest.mark.parametrize(
    "pattern, fill, leave",
    [
        ("[a-z0-9 ]+", "a1 z", "!"),  # a few ranges
        ("[a-z0-9 ]*", "a1 z", "A"),  # the looping state is also accepting
        ("a[a-z]*b", "ab", "é"),  # ... and here it is not
        ("[a-z]+é?", "qz", "é"),  # a code point of two bytes leaves the loop
        ("[a-zé]+", "az", "é"),  # and comes back into it
        (r"\w+(?: \w+)*", "wé日", " "),  # Unicode classes: most bytes walk the table
        ("[acegikmoqsuwy]+", "ay", "b"),  # too many ranges: a table per byte
        (".*x", "ab ", "x"),
        ("(?s:.)*", "a\n", "日"),  # every byte keeps the state: never leaves
    ],
)
def test_skipping_a_loop_stops_at_the_byte_that_leaves_it(pattern, fill, leave):
    compiled = re.compile(pattern)
    rng = random.Random(5)
    assert matcher(pattern).is_valid("") is (compiled.fullmatch("") is not None)
    for before in SKIP_LENGTHS:
        # A fresh matcher: a state that sees many short stretches stops skipping.
        v = matcher(pattern)
        run = "".join(rng.choice(fill) for _ in range(before))
        for after in [0, 1, 2, 17]:
            tail = "".join(rng.choice(fill) for _ in range(after))
            for text in [run, run + leave + tail, leave + run + tail, run + leave * 2 + tail]:
                assert v.is_valid(text) is (compiled.fullmatch(text) is not None), text


def test_a_loop_that_stops_skipping_on_short_stretches_still_answers_long_texts():
    # Many short stretches make the state walk its table from then on.
    v = matcher(r"[a-z]+(?: [a-z]+)*")
    for i in range(500):
        assert v.is_valid("ab " * (i % 7 + 1) + "c")
        assert not v.is_valid("ab " * (i % 7 + 1))
    assert v.is_valid("x" * 100_000 + " " + "y" * 100_000)
    assert not v.is_valid("x" * 100_000 + "  " + "y" * 100_000)


def test_answers_stay_right_when_the_dfa_runs_out_of_states():
    # Every distinct 21-byte window is a DFA state: far more than it keeps.
    pattern = "[01]*1[01]{20}"
    rng = random.Random(7)
    v = matcher(pattern)
    compiled = re.compile(pattern)
    for _ in range(20):
        text = "".join(rng.choice("01") for _ in range(20_000))
        assert v.is_valid(text) is (compiled.fullmatch(text) is not None)


@pytest.mark.parametrize(
    "pattern, length",
    [
        # states of a hundred instructions and more: the cache fills every
        # few thousand bytes and is emptied, and the NFA simulation takes
        # over from the state reached
        ("[ab]*a[ab]{200}", 12_000),
        ("(?:[ab]*a[ab]{200}|c)\\z", 12_000),
        # a new state for most bytes, over many matches of one cache
        ("[ab]*a[ab]{12}b", 3_000),
    ],
)
def test_answers_stay_right_when_the_dfa_cache_is_emptied(pattern, length):
    rng = random.Random(11)
    v = matcher(pattern)
    compiled = re.compile(pattern.replace("\\z", "\\Z"))
    for _ in range(12):
        text = "".join(rng.choice("ab") for _ in range(rng.randint(length // 2, length)))
        text += rng.choice(["", "a" * 201, "c", "b" * 13])
        assert v.is_valid(text) is (compiled.fullmatch(text) is not None)


PAGE = os.sysconf("SC_PAGE_SIZE")
SANITIZED = pytest.mark.skipif(
    bool(os.environ.get("KESTROME_SANITIZED")),
    reason="resident memory says nothing under ASan, which holds freed blocks back")


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


@SANITIZED
def test_the_dfa_holds_a_bounded_cache_after_a_hostile_match():
    # The k-th byte makes a state of k instructions: kept by count, 4,000
    # states held about 70 MB.
    v = matcher("[ab]*a[ab]{5000}")
    before = resident_bytes()
    assert not v.is_valid("a" * 4000)
    assert v.is_valid("a" * 5001)
    assert resident_bytes() - before < 16 * 1024 * 1024


# The child's own peak: ru_maxrss would start from this process's, kept
# across exec.
PEAK_CHILD = """
from types import SimpleNamespace as Meta
from typing import Annotated
from kestrome import Validator

def peak():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))

pattern = {pattern}
before = peak()
try:
    Validator(Annotated[str, Meta(pattern=pattern)])
except ValueError as e:
    print(str(e).rsplit(": ", 1)[-1])
print(peak() - before)
"""


@SANITIZED
@pytest.mark.parametrize("pattern", ['"a" * 1_000_000', '"\\\\w" * 100_000'])
def test_an_oversized_pattern_is_refused_before_its_memory_is_spent(pattern):
    out = subprocess.run([sys.executable, "-c", PEAK_CHILD.format(pattern=pattern)],
                         capture_output=True, text=True, check=True, timeout=120, cwd="/")
    message, grown = out.stdout.splitlines()
    assert message == "Compiled regex exceeds size limit of 10485760 bytes."
    # Each code point of the pattern cost two tree nodes of some 100 bytes
    # and more, a \\w a copy of its class: 330 MB and 620 MB.
    assert int(grown) < 48 * 1024 * 1024


LONG = "a" * 300_000


@pytest.mark.parametrize(
    "pattern, error",
    [
        # the errors of the rest of the pattern come before the size
        (LONG + "(", "error: unclosed group"),
        (LONG + "\\p{Foo}", "error: Unicode property not found"),
        ("(?-u)" + LONG + "\\xFF", "error: pattern can match invalid UTF-8"),
        (LONG, "Compiled regex exceeds size limit of 10485760 bytes."),
        ("(?i)" + LONG, "Compiled regex exceeds size limit of 10485760 bytes."),
    ],
)
def test_a_long_pattern_reports_its_first_error(pattern, error):
    with pytest.raises(ValueError) as info:
        matcher(pattern)
    assert str(info.value).endswith(error)


@pytest.mark.parametrize(
    "pattern, members, others",
    [
        # nothing of a repetition of at most zero is compiled
        (f"(?:{LONG}){{0}}x", ["x"], ["", LONG + "x"]),
        (f"(?:{LONG}){{0,0}}|b", ["", "b"], ["bb", LONG]),
        # literals around repetitions, escapes and the x flag
        ("abc*d", ["abd", "abcccd"], ["acd", "abcdd"]),
        ("ab+c?de", ["abde", "abbbcde"], ["ade", "abccde"]),
        ("h\\x41\\u00e9llo", ["hAéllo"], ["haéllo"]),
        ("(?x) a b \\  c # comment\nd", ["ab cd"], ["abcd"]),
        ("(?i)héllo wörld", ["HÉLLO WÖRLD", "héllo wörld"], ["hello world"]),
        ("ab(?i)cd(?-i)ef", ["abCdef", "abcDef"], ["ABcdef", "abcdEF"]),
    ],
)
def test_literal_runs(pattern, members, others):
    v = matcher(pattern)
    assert [v.is_valid(t) for t in members + others] == [True] * len(members) + [False] * len(others)


DIVIDER = "~" * 79


@pytest.mark.parametrize(
    "pattern, display",
    [
        (
            "a\nb{2,1}",
            f"regex parse error:\n{DIVIDER}\n1: a\n2: b{{2,1}}\n    ^^^^^\n{DIVIDER}\n"
            "error: invalid repetition count range, the start must be <= the end",
        ),
        (
            "(?x)a{2,\n1}",
            f"regex parse error:\n{DIVIDER}\n1: (?x)a{{2,\n2: 1}}\n{DIVIDER}\n"
            "on line 1 (column 6) through line 2 (column 2)\n"
            "error: invalid repetition count range, the start must be <= the end",
        ),
        (
            "\n".join(["x"] * 9) + "\n(?P<n>a)(?P<n>b)",
            f"regex parse error:\n{DIVIDER}\n" + "".join(f" {i}: x\n" for i in range(1, 10)) +
            f"10: (?P<n>a)(?P<n>b)\n        ^       ^\n{DIVIDER}\nerror: duplicate capture group name",
        ),
    ],
)
def test_multi_line_pattern_error_display(pattern, display):
    with pytest.raises(ValueError) as info:
        matcher(pattern)
    message = str(info.value)
    assert message.startswith("invalid regular expression ")
    assert message.endswith(": " + display)


@pytest.mark.parametrize(
    "pattern, members, others",
    [
        # the second `b` is compiled to the same instructions as the first
        (r"cb?|\zb", ["c", "cb"], ["b", "cbb"]),
        (r"ab{2}|b{3}", ["abb", "bbb"], ["ab", "bb"]),
        ("(?:){4294967295}x{2}", ["xx"], ["", "x"]),
    ],
)
def test_repeated_operands_with_shared_instructions(pattern, members, others):
    v = matcher(pattern)
    assert [v.is_valid(t) for t in members + others] == [True] * len(members) + [False] * len(others)
