"""The installed stubs: mypy --strict and pyright accept the examples, the README's
code and a user's program, and the stubs agree with the module at run time."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
BIN = pathlib.Path(sys.executable).parent


@pytest.fixture(scope="module")
def programs(tmp_path_factory):
    """Copies of the typed programs in a directory of their own, so that the
    checkers resolve `kestrome` to the installed package, as a user's would."""
    where = tmp_path_factory.mktemp("typed")
    for source in sorted((ROOT / "examples").glob("*.py")):
        shutil.copy(source, where / f"example_{source.name}")
    shutil.copy(ROOT / "tests" / "typing" / "user_program.py", where)
    readme = (ROOT / "README.md").read_text()
    for i, code in enumerate(re.findall(r"```python\n(.*?)```", readme, re.S)):
        (where / f"readme_{i}.py").write_text(code)
    return where


def check(command, cwd, env=None):
    run = subprocess.run(command, capture_output=True, text=True, cwd=cwd, env={**os.environ, **(env or {})})
    assert run.returncode == 0, run.stdout + run.stderr
    return run.stdout


def test_mypy_strict_is_clean(programs):
    files = sorted(p.name for p in programs.glob("*.py"))
    out = check([BIN / "mypy", "--strict", "--cache-dir", ROOT / ".mypy_cache", *files], programs)
    assert f"no issues found in {len(files)} source files" in out


def test_pyright_is_clean(programs):
    files = sorted(p.name for p in programs.glob("*.py"))
    # No look-up of newer pyright releases: the check stays offline.
    out = check([BIN / "pyright", "--pythonpath", sys.executable, *files], programs, {"PYRIGHT_PYTHON_IGNORE_WARNINGS": "1"})
    assert "0 errors, 0 warnings" in out


def test_stubs_match_the_module(tmp_path):
    # Names in the stubs for type checkers only; they have no run-time object.
    allowlist = tmp_path / "allowlist"
    allowlist.write_text("kestrome._kestrome.ErrorEntry\nkestrome._kestrome.JSONValue\n")
    check([sys.executable, "-m", "mypy.stubtest", "kestrome", "--allowlist", allowlist], tmp_path)


def test_user_program_runs():
    run = subprocess.run(
        [sys.executable, ROOT / "tests" / "typing" / "user_program.py"], capture_output=True, text=True, cwd="/"
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[0] == "0.year: at [0].year: expected int, got '1927' [int_type]"
