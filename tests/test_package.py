"""What pip installs: metadata, version, stubs, and a build that says what it misses."""

import importlib.metadata
import importlib.resources
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tomllib

import pytest

import kestrome

ROOT = pathlib.Path(__file__).resolve().parent.parent
BIN = pathlib.Path(sys.executable).parent


def test_version_comes_from_the_project_metadata():
    declared = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["version"]
    assert kestrome.__version__ == importlib.metadata.version("kestrome") == declared
    assert "__version__" not in kestrome.__all__


def test_metadata_license_authors_and_classifiers():
    meta = importlib.metadata.metadata("kestrome")
    assert meta["License-Expression"] == "MIT"
    assert meta["Author"] == "the kestrome developers"
    assert meta["Requires-Python"] == ">=3.11"
    assert meta.get_all("Project-URL") is None
    classifiers = meta.get_all("Classifier")
    for needed in ("Typing :: Typed", "Programming Language :: Python :: Implementation :: CPython"):
        assert needed in classifiers
    licence = [f for f in importlib.metadata.files("kestrome") if f.name == "LICENSE"]
    assert len(licence) == 1 and "MIT License" in licence[0].read_text()


def test_ci_covers_every_python_the_classifiers_name():
    classifiers = importlib.metadata.metadata("kestrome").get_all("Classifier")
    named = {c.rsplit(" :: ", 1)[1] for c in classifiers if re.fullmatch(r".*Python :: 3\.\d+", c)}
    ci = (ROOT / ".ci" / "run").read_text()
    assert set(re.search(r'^SUPPORTED="(.*)"$', ci, re.M).group(1).split()) == named


def test_stubs_and_marker_are_installed():
    package = importlib.resources.files("kestrome")
    assert package.joinpath("py.typed").is_file()
    assert "class Validator" in package.joinpath("_kestrome.pyi").read_text()
    assert "__version__: str" in package.joinpath("__init__.pyi").read_text()


# ---------------------------------------------------------------- build checks


def configure(tmp_path, *args, env=None):
    """Runs CMake's configure step on the project; returns its words on one line."""
    run = subprocess.run(
        [BIN / "cmake", "-S", ROOT, "-B", tmp_path / "build", "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={BIN / 'ninja'}", *args],
        capture_output=True,
        text=True,
        env={**os.environ, **(env or {})},
    )
    assert run.returncode != 0
    return " ".join((run.stdout + run.stderr).split())


def test_build_without_a_compiler_says_what_to_install(tmp_path):
    out = configure(tmp_path, env={"CXX": str(tmp_path / "no-such-compiler")})
    assert "kestrome needs a C++20 compiler, and none was found." in out
    assert "apt-get install g++" in out


def test_build_with_a_compiler_short_of_cxx20_says_so(tmp_path):
    gxx = shutil.which("g++")
    if gxx is None:
        pytest.skip("no g++ to stand in for an older compiler")
    older = tmp_path / "g++17"
    older.write_text(f'#!/bin/sh\nexec {gxx} "$@" -std=c++17\n')
    older.chmod(0o755)
    out = configure(tmp_path, env={"CXX": str(older)})
    assert "kestrome needs a C++20 compiler and standard library" in out
    assert f"({older}) cannot build a small C++20 program" in out


def test_build_without_python_headers_says_what_to_install(tmp_path):
    (tmp_path / "include").mkdir()
    out = configure(tmp_path, f"-DPython_EXECUTABLE={sys.executable}", f"-DPython_INCLUDE_DIR={tmp_path / 'include'}")
    assert "kestrome needs the Python headers (Python.h)" in out
    assert "apt-get install python3-dev" in out
