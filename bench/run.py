#!/usr/bin/env python3
"""Benchmarks of kestrome against the validators a user would pick instead.

Run it with `make bench` (which builds the package, sets up bench/.venv with the peers of
bench/requirements.txt and calls this script), or by hand with bench/.venv's Python:

    bench/.venv/bin/python bench/run.py [--quick] [--only W1,W6] [--output FILE]

For each workload every tool gets its own equivalent schema, built once. Before anything
is timed, every tool's verdict on a member and a non-member value is checked against the
verdict the data was built to have; a tool that walks the whole value and answers
differently is not timed on that workload (and the run ends with status 1). Timing then
runs all the tools of a workload side by side, in rounds that alternate between them;
each sample is a loop sized to take about `--target-ms`, and the tables report medians.
Results go to bench/RESULTS.md and to stdout.

The harness (verdicts, timing, report) is bench/harness.py, the tools compared are in
bench/tools.py, and the workloads in bench/workloads/, one module per family.
"""

import sys

import harness

if __name__ == "__main__":
    sys.exit(harness.main(description=__doc__.split("\n\n")[0]))
