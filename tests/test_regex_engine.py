"""The pattern engine's own concerns: sharing a compiled pattern between
threads, answers on long texts that a backtracking matcher could not give,
the fallback when the lazy DFA runs out of states, and error displays of
patterns written over several lines."""

import random
import re
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


def test_answers_stay_right_when_the_dfa_runs_out_of_states():
    # Every distinct 21-byte window is a DFA state: far more than it keeps.
    pattern = "[01]*1[01]{20}"
    rng = random.Random(7)
    v = matcher(pattern)
    compiled = re.compile(pattern)
    for _ in range(20):
        text = "".join(rng.choice("01") for _ in range(20_000))
        assert v.is_valid(text) is (compiled.fullmatch(text) is not None)


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
