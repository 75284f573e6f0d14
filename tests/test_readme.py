"""Every Python example of the README runs and prints what its comments say."""

import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent


def readme_examples():
    return re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), re.S)


def promised_output(code):
    """The lines a block says it prints: the comment on each print(...) line, or
    else the comment lines right below it (a print in a loop shows all its lines)."""
    lines = code.splitlines()
    promised = []
    for i, line in enumerate(lines):
        call = re.match(r"\s*print\(.*\)(?:\s+#\s(.*))?$", line)
        if not call:
            continue
        if call.group(1) is not None:
            promised.append(call.group(1))
            continue
        for below in lines[i + 1 :]:
            comment = re.match(r"\s*#\s(.*)$", below)
            if not comment:
                break
            promised.append(comment.group(1))
    return promised


def test_every_example_promises_output():
    examples = readme_examples()
    assert len(examples) >= 5
    for code in examples:
        assert promised_output(code), code


@pytest.mark.parametrize("index", range(len(readme_examples())))
def test_readme_example_prints_what_it_says(index):
    code = readme_examples()[index]
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, cwd="/")
    assert run.returncode == 0, run.stderr
    assert [line.rstrip() for line in run.stdout.splitlines()] == promised_output(code)


def test_quickstart_is_the_readme_example():
    assert readme_examples()[0] in (ROOT / "examples" / "quickstart.py").read_text()


def test_readme_names_the_commands_that_exist():
    text = (ROOT / "README.md").read_text()
    makefile = (ROOT / "Makefile").read_text()
    for target in re.findall(r"^make (\w[\w-]*)", text, re.M):
        assert re.search(rf"^{target}:", makefile, re.M), target
    assert "\npip install .\n" in text
