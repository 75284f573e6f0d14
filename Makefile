# Set-up, build and checks. `make test` and `make demo` work on a fresh clone.
PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python

.PHONY: build test sanitize differential demo bench clean

$(VENV)/.ready: requirements-test.txt
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-test.txt
	touch $@

# Developer builds treat warnings as errors.
WERROR := -C cmake.define.KESTROME_WERROR=ON

build: $(VENV)/.ready
	$(PY) -m pip install -q --no-build-isolation --no-deps $(WERROR) .

test: build
	$(VENV)/bin/pytest -q

# The suite against a copy built with AddressSanitizer, UndefinedBehavior-
# Sanitizer and the library's assertions, in a folder of its own so that
# .venv's build stays as it is. The interpreter is not instrumented: the
# runtime is preloaded (with the C++ library, whose throw it wraps) and its
# leak report (CPython's own allocations) is off. Any finding ends the process; the reports go to files, since pytest
# holds the test's stderr, and any report fails the run (subprocesses too).
# The copy also checks that the loops reading containers in place never
# reach the interpreter (src/py/no_python.h).
SAN_DIR := build/sanitize
SAN_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS \
	-DKESTROME_CHECK_NO_PYTHON
SAN_REPORT := $(CURDIR)/$(SAN_DIR)/report
# Resident memory says nothing under ASan, whose allocator holds freed blocks
# back to catch late uses.
SAN_DESELECT := not test_repeated_checks_do_not_grow_memory
SAN_ENV := LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so) $$($(CXX) -print-file-name=libstdc++.so)" \
	ASAN_OPTIONS=detect_leaks=0:log_path=$(SAN_REPORT) \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$(SAN_REPORT) \
	PYTHONMALLOC=malloc PYTHONPATH=$(CURDIR)/$(SAN_DIR)/site KESTROME_SANITIZED=1

sanitize: $(VENV)/.ready
	$(PY) -m pip install -q --no-build-isolation --no-deps --upgrade --target $(SAN_DIR)/site \
	  -C build-dir=$(SAN_DIR)/cmake -C cmake.define.CMAKE_CXX_FLAGS="$(SAN_FLAGS)" $(WERROR) \
	  -C cmake.define.CMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" .
	rm -f $(SAN_REPORT).*
	$(SAN_ENV) $(VENV)/bin/pytest -q -p no:cacheprovider -k "$(SAN_DESELECT)" $(PYTEST_ARGS) \
	  || { cat $(SAN_REPORT).* 2>/dev/null; exit 1; }
	@if ls $(SAN_REPORT).* >/dev/null 2>&1; then cat $(SAN_REPORT).*; exit 1; fi

# The prepared roads of the walk against the general walk: a copy built
# without them (KESTROME_GENERAL_WALK), in a folder of its own, answers the
# same generated cases in a subprocess as .venv's build does in the tests.
GEN_DIR := build/general
differential: build
	$(PY) -m pip install -q --no-build-isolation --no-deps --upgrade --target $(GEN_DIR)/site \
	  -C build-dir=$(GEN_DIR)/cmake -C cmake.define.KESTROME_GENERAL_WALK=ON $(WERROR) .
	KESTROME_GENERAL_SITE=$(CURDIR)/$(GEN_DIR)/site $(VENV)/bin/pytest -q -p no:cacheprovider \
	  tests/test_differential.py $(PYTEST_ARGS)

demo: build
	$(PY) examples/quickstart.py

# Developer builds keep -O2 -g and an incremental build tree per interpreter;
# wheels and `pip install .` are optimised and stripped (pyproject.toml).
build bench differential: export SKBUILD_CMAKE_BUILD_TYPE := RelWithDebInfo
build bench differential: export SKBUILD_INSTALL_STRIP := false
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
