# Set-up, build and checks. `make test` and `make demo` work on a fresh clone.
PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python

.PHONY: deps build test demo bench clean

# RE2 comes from the system's packages; install it where we can.
deps:
	@if ! command -v pkg-config >/dev/null 2>&1 || ! pkg-config --exists re2; then \
	  if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libre2-dev pkg-config >/dev/null; \
	  else \
	    echo "kestrome needs RE2 and pkg-config: install them first (Debian/Ubuntu: apt-get install libre2-dev pkg-config)"; \
	    exit 1; \
	  fi; \
	fi

$(VENV)/.ready: requirements-test.txt
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-test.txt
	touch $@

build: deps $(VENV)/.ready
	$(PY) -m pip install -q --no-build-isolation --no-deps .

test: build
	$(VENV)/bin/pytest -q

demo: build
	$(PY) examples/quickstart.py

# Developer builds keep -O2 -g and an incremental build tree per interpreter;
# wheels and `pip install .` are optimised and stripped (pyproject.toml).
build bench: export SKBUILD_CMAKE_BUILD_TYPE := RelWithDebInfo
build bench: export SKBUILD_INSTALL_STRIP := false
build bench: export SKBUILD_BUILD_DIR := build/{wheel_tag}

# The suite under another interpreter, in a venv of its own:
# `make test-python PYTHON=python3.12` sets up and uses .venv-3.12.
.PHONY: test-python
test-python:
	$(MAKE) test PYTHON=$(PYTHON) VENV=.venv-$$($(PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2])')

# Benchmarks against peers, in a venv of their own (never part of `make test`).
# The package goes in as a wheel built by .venv's toolchain, so the build tree
# is shared with `build`; BENCH_ARGS=--quick gives a short smoke run.
BENCH_VENV := bench/.venv
BENCH_PY := $(BENCH_VENV)/bin/python
BENCH_WHEELS := $(BENCH_VENV)/wheels

$(BENCH_VENV)/.ready: bench/requirements.txt
	$(PYTHON) -m venv $(BENCH_VENV)
	$(BENCH_PY) -m pip install -q --upgrade pip
	$(BENCH_PY) -m pip install -q -r bench/requirements.txt
	touch $@

# The C loops doing only the type test, the limit a check can reach: bench/ only.
$(BENCH_VENV)/.limit: bench/limit/_kbench_limit.c bench/limit/build.py $(BENCH_VENV)/.ready
	$(BENCH_PY) bench/limit/build.py
	touch $@

bench: build $(BENCH_VENV)/.ready $(BENCH_VENV)/.limit
	rm -rf $(BENCH_WHEELS)
	$(PY) -m pip wheel -q --no-build-isolation --no-deps -w $(BENCH_WHEELS) .
	$(BENCH_PY) -m pip install -q --no-deps --force-reinstall $(BENCH_WHEELS)/kestrome-*.whl
	$(BENCH_PY) bench/run.py $(BENCH_ARGS)

clean:
	rm -rf build $(VENV)
