"""The walk's prepared roads against the general walk: a build without them
(`make differential` makes it and names its folder in KESTROME_GENERAL_SITE)
must answer every generated case exactly as this build does: the same
verdicts, the same reports in the same order, and the same calls into
Python code. Both builds run tests/differential_cases.py in a subprocess of
their own, with one hash seed, so that sets iterate alike."""

import ast
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

GENERAL_SITE = os.environ.get("KESTROME_GENERAL_SITE")
CASES = Path(__file__).with_name("differential_cases.py")

pytestmark = pytest.mark.skipif(GENERAL_SITE is None, reason="needs the general build (make differential)")

# Seeds per family: enough for every road to be taken and missed many times,
# few enough that the whole comparison takes seconds.
FAMILIES = {
    "mixed": 400,
    "records": 250,
    "tagged_lists": 200,
    "sequences": 200,
    "recursive": 60,
    "deep": 5,
}


def answers(family, count, site):
    env = dict(os.environ, PYTHONHASHSEED="0")
    env.pop("PYTHONPATH", None)
    if site is not None:
        env["PYTHONPATH"] = site
    done = subprocess.run(
        [sys.executable, str(CASES), family, str(count)], env=env, capture_output=True, text=True, timeout=600
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


@pytest.mark.parametrize("family", FAMILIES)
def test_the_general_walk_answers_as_the_prepared_roads_do(family):
    count = FAMILIES[family]
    prepared = answers(family, count, None)
    general = answers(family, count, GENERAL_SITE)
    # Each side imported the build it stands for.
    assert general["module"].startswith(GENERAL_SITE)
    assert not prepared["module"].startswith(GENERAL_SITE)
    assert [name for name, _ in prepared["cases"]] == [name for name, _ in general["cases"]]
    differing = [
        f"{name[:400]}\n  prepared: {mine[:1500]}\n  general:  {theirs[:1500]}"
        for (name, mine), (_, theirs) in zip(prepared["cases"], general["cases"])
        if mine != theirs
    ]
    assert not differing, f"{len(differing)} of {len(prepared['cases'])} cases differ:\n" + "\n".join(differing[:5])
    # And in each build the walk of a document's tree answers as the walk of
    # the objects it loads to.
    for side in (prepared, general):
        for name, answered in side["cases"]:
            calls = {call: result for call, result, _ in ast.literal_eval(answered)} if answered[0] == "[" else {}
            for text in ("", "repeated keys: "):
                if text + "is_valid_json" in calls:
                    loaded = calls[text + "validate_json"][0] == "ok"
                    assert calls[text + "is_valid_json"] == ("ok", repr(loaded)), name[:400]
