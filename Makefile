# Set-up, build and checks. `make test` and `make demo` work on a fresh clone.
PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python

.PHONY: build test demo bench clean

$(VENV)/.ready: requirements-test.txt
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-test.txt
	touch $@

build: $(VENV)/.ready
	$(PY) -m pip install -q --no-build-isolation --no-deps .

test: build
	$(VENV)/bin/pytest -q

demo: build
	$(PY) examples/quickstart.py

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

bench: build $(BENCH_VENV)/.ready
	rm -rf $(BENCH_WHEELS)
	$(PY) -m pip wheel -q --no-build-isolation --no-deps -w $(BENCH_WHEELS) .
	$(BENCH_PY) -m pip install -q --no-deps --force-reinstall $(BENCH_WHEELS)/kestrome-*.whl
	$(BENCH_PY) bench/run.py $(BENCH_ARGS)

clean:
	rm -rf build $(VENV)
