"""The benchmark harness: workload registry, verdict checks, timing and the report.

Workloads live in bench/workloads/, one module per family; each registers its builders
with `@workload("Wn")` and every module there is imported by `discover()`, so adding a
workload touches one file. bench/run.py is the entry point.
"""

from __future__ import annotations

import argparse
import datetime as _dt
import gc
import importlib
import os
import pkgutil
import platform
import re
import statistics
import subprocess
import sys
import textwrap
import time
import traceback
from dataclasses import dataclass, field, replace
from importlib import metadata
from pathlib import Path
from typing import Any, Callable

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent

# The source tree's kestrome/ has no built module; always import the installed package.
sys.path[:] = [p for p in sys.path if Path(p or ".").resolve() != ROOT]


def _import_kestrome(attempts: int = 10, pause: float = 3.0):
    """The package may be reinstalled while we start: retry a failing import a few times."""
    last: BaseException | None = None
    for i in range(attempts):
        try:
            mod = importlib.import_module("kestrome")
            importlib.import_module("kestrome._kestrome")
            return mod
        except ImportError as e:  # includes a half-written .so
            last = e
            for name in [n for n in sys.modules if n == "kestrome" or n.startswith("kestrome.")]:
                del sys.modules[name]
            print(f"import kestrome failed ({e}); retrying in {pause:.0f}s [{i + 1}/{attempts}]",
                  file=sys.stderr)
            time.sleep(pause)
    raise SystemExit(f"cannot import kestrome: {last}")


kestrome = _import_kestrome()


# --------------------------------------------------------------------------------------
# A Case is one timed row: a statement run in a loop with the names of `env` bound as
# locals, and a function giving its boolean verdict.

@dataclass
class Case:
    tool: str
    stmt: str
    env: dict[str, Any]
    verdict: Callable[[Any], bool] | None  # None: timed, not checked (a baseline)
    note: str = ""
    sampling: bool = False  # a disagreement on a non-member is noted, not fatal
    limited: str = ""  # why this tool cannot answer like the others on a non-member
    # Called with a sample's loop count before the sample, outside the timing; its names
    # join `env` (fresh objects for every iteration, say).
    setup: Callable[[int], dict[str, Any]] | None = None


@dataclass
class Table:
    """One timed table: the cases run on one value."""
    title: str
    value_label: str  # "member" or "non-member"
    cases: list[Case]
    elements: int | None  # for ns per element
    element_name: str = "element"
    ratio_to: list[str] = field(default_factory=lambda: ["kestrome is_valid"])
    # Also time every row with the collector running, as users run their code.
    collector_too: bool = False
    # A table of probes is measured once per tool instead of timed (memory, say).
    probes: list[Probe] = field(default_factory=list)
    unit: str = ""  # what a probe's figure counts
    # A table with values of its own: its cases' verdicts are checked on this (member,
    # non-member) pair, under `label` in the verdicts table.
    values: tuple[Any, Any] | None = None
    label: str = ""


@dataclass
class Probe:
    """One measured row: `measure()` gives the tool's figure in its table's unit."""
    tool: str
    measure: Callable[[], float]
    note: str = ""


@dataclass
class Target:
    """A goal the report marks as met or missed.

    mode "ratio": the first row's figure over the smallest of `refs` is at most `limit`;
    "flat": the largest of the rows' figures per element over the smallest is at most
    `limit`; "at_most": the first row's figure is at most `limit`. Rows and refs name
    (table index, tool) within the workload; a figure is a median per call (the probe's
    value for a probe table).
    """
    text: str
    mode: str
    rows: list[tuple[int, str]]
    refs: list[tuple[int, str]] = field(default_factory=list)
    limit: float = 1.0
    unit: str = ""  # of an "at_most" figure


def faster_than(tool: str, peers: list[str], factor: float, table: int = 0) -> Target:
    who = peers[0] if len(peers) == 1 else "the faster of " + " and ".join(peers)
    return Target(f"{tool} at least {factor:g}× faster than {who}", "ratio",
                  [(table, tool)], [(table, p) for p in peers], 1 / factor)


def within(tool: str, ref: str, factor: float, table: int = 0) -> Target:
    return Target(f"{tool} within {factor:g}× of {ref}", "ratio", [(table, tool)],
                  [(table, ref)], factor)


def flat(tool: str, tables: list[int], factor: float, what: str) -> Target:
    return Target(f"{tool} {what} flat within {factor:g}× across the tables", "flat",
                  [(i, tool) for i in tables], [], factor)


@dataclass
class Workload:
    key: str
    title: str
    description: str
    member: Any
    non_member: Any
    checked: list[Case]  # the cases whose verdicts are checked (built on `member`)
    tables: list[Table]
    notes: list[str] = field(default_factory=list)
    targets: list[Target] = field(default_factory=list)


def with_value(cases: list[Case], x) -> list[Case]:
    return [replace(c, env={**c.env, "x": x}) for c in cases]


# --------------------------------------------------------------------------------------
# Registry. A builder makes its workload's data and cases when the run asks for it, so
# `--only` builds nothing else.

_BUILDERS: dict[str, Callable[[], Workload]] = {}


def workload(key: str) -> Callable[[Callable[[], Workload]], Callable[[], Workload]]:
    """Register a function returning the workload named `key` (e.g. "W1")."""
    def register(fn: Callable[[], Workload]) -> Callable[[], Workload]:
        if key in _BUILDERS:
            raise ValueError(f"workload {key} registered twice")
        _BUILDERS[key] = fn
        return fn
    return register


def _order(key: str) -> tuple:
    # W2 before W10.
    return tuple(int(p) if p.isdigit() else p for p in re.split(r"(\d+)", key))


def discover() -> dict[str, Callable[[], Workload]]:
    """Import every module of bench/workloads/; returns the builders in key order."""
    import workloads
    for mod in sorted(m.name for m in pkgutil.iter_modules(workloads.__path__)):
        importlib.import_module(f"workloads.{mod}")
    return {k: _BUILDERS[k] for k in sorted(_BUILDERS, key=_order)}


def build(key: str) -> Workload:
    wl = _BUILDERS[key]()
    if wl.key != key:
        raise ValueError(f"builder of {key} returned workload {wl.key}")
    return wl


# --------------------------------------------------------------------------------------
# Verdicts

@dataclass
class VerdictRow:
    workload: str
    tool: str
    member: str  # "yes" / "no" / "error: ..."
    non_member: str
    problem: str = ""  # why the row is wrong; empty when it agrees
    fatal: bool = False


def _answer(fn, x) -> str:
    try:
        return "yes" if fn(x) else "no"
    except Exception as e:  # a crash is an answer too, and a wrong one
        return f"error: {type(e).__name__}: {str(e)[:120]}"


def check_verdicts(wl: Workload) -> list[VerdictRow]:
    groups = [(wl.key, wl.checked, wl.member, wl.non_member)]
    groups += [(f"{wl.key} ({t.label})", t.cases, *t.values) for t in wl.tables if t.values]
    return [row for g in groups for row in _check_group(*g)]


def _check_group(label: str, cases: list[Case], member, non_member) -> list[VerdictRow]:
    rows = []
    seen = set()
    for c in cases:
        if c.verdict is None or c.tool in seen:
            continue
        seen.add(c.tool)
        m = _answer(c.verdict, member)
        n = _answer(c.verdict, non_member)
        row = VerdictRow(label, c.tool, m, n)
        if m != "yes":
            row.problem = f"says {m!r} on the member"
            row.fatal = not c.sampling or m.startswith("error")
        elif n != "no":
            if c.limited:
                row.problem = f"says {n!r} on the non-member ({c.limited})"
            else:
                row.problem = f"says {n!r} on the non-member"
                row.fatal = True
        rows.append(row)
    return rows


# --------------------------------------------------------------------------------------
# Timing

def make_timer(case: Case, collector: bool = False) -> Callable[[int], float]:
    names = sorted(set(case.env) | set(case.setup(0) if case.setup else ()))
    binds = "".join(f"    {k} = _env[{k!r}]\n" for k in names)
    src = (f"def _timer(_n, _env, _clock):\n{binds}"
           f"    _it = range(_n)\n"
           f"    _t0 = _clock()\n"
           f"    for _ in _it:\n{textwrap.indent(case.stmt, ' ' * 8)}\n"
           f"    return _clock() - _t0\n")
    ns: dict[str, Any] = {}
    exec(compile(src, f"<bench {case.tool}>", "exec"), ns)
    fn = ns["_timer"]
    clock = time.perf_counter

    def run(n: int) -> float:
        env = case.env if case.setup is None else {**case.env, **case.setup(n)}
        # As timeit does: no collector pauses inside a sample, unless asked for.
        gc.collect()
        was = gc.isenabled()
        if collector:
            gc.enable()
        else:
            gc.disable()
        try:
            return fn(n, env, clock)
        finally:
            if was:
                gc.enable()
            else:
                gc.disable()
    return run


def calibrate(run: Callable[[int], float], target: float) -> tuple[int, float]:
    """The loop count of a sample of about `target` seconds, and the time of one call."""
    n = 1
    while True:
        t = run(n)
        if t >= target * 0.4 or n >= 10_000_000:
            return max(1, round(n * target / max(t, 1e-9))), t / n
        n = min(10_000_000, max(n * 2, int(n * target * 0.5 / max(t, 1e-9))))


@dataclass
class Timing:
    case: Case
    loops: int
    samples: list[float]  # seconds per call
    samples_gc: list[float] = field(default_factory=list)  # the same, collector running

    @property
    def median(self) -> float:
        return statistics.median(self.samples)

    @property
    def median_gc(self) -> float | None:
        return statistics.median(self.samples_gc) if self.samples_gc else None


# A row whose single call takes longer than this gets only a few samples, and its
# calibration call serves as its warm-up: the run has to end.
SLOW_CALL = 1.0
SLOW_SAMPLES = 3


def time_table(table: Table, repeats: int, target: float) -> list[Timing]:
    runs = [make_timer(c) for c in table.cases]
    loops, per_call = map(list, zip(*[calibrate(r, target) for r in runs]))
    if table.collector_too:
        runs += [make_timer(c, collector=True) for c in table.cases]
        loops += loops
        per_call += per_call
    slow = [t > SLOW_CALL for t in per_call]
    for r, n, s in zip(runs, loops, slow):  # warm-up
        if not s:
            r(n)
    samples: list[list[float]] = [[] for _ in runs]
    k = len(runs)
    for rep in range(repeats):
        # Rotate who goes first, so that no tool always follows the same neighbour.
        for j in range(k):
            i = (j + rep) % k
            if slow[i] and len(samples[i]) >= SLOW_SAMPLES:
                continue
            samples[i].append(runs[i](loops[i]) / loops[i])
    m = len(table.cases)
    return [Timing(c, loops[i], samples[i], samples[i + m] if table.collector_too else [])
            for i, c in enumerate(table.cases)]


# --------------------------------------------------------------------------------------
# Report

def fmt_time(s: float) -> str:
    if s < 1e-6:
        return f"{s * 1e9:.1f} ns"
    if s < 1e-3:
        return f"{s * 1e6:.2f} µs"
    if s < 1:
        return f"{s * 1e3:.3f} ms"
    return f"{s:.3f} s"


def fmt_ratio(r: float) -> str:
    if r >= 100:
        return f"{r:,.0f}×"
    if r >= 10:
        return f"{r:.1f}×"
    if r >= 0.1:
        return f"{r:.2f}×"
    return f"{r:.2g}×"


def md_table(header: list[str], rows: list[list[str]], align: list[str]) -> str:
    sep = ["---:" if a == "r" else "---" for a in align]
    lines = ["| " + " | ".join(header) + " |", "| " + " | ".join(sep) + " |"]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    return "\n".join(lines)


def render_table(table: Table, timings: list[Timing], skipped: dict[str, str],
                 noted: dict[str, str], target_cells: dict[str, str] | None = None) -> str:
    by_tool = {t.case.tool: t.median for t in timings}
    by_tool_gc = {t.case.tool: t.median_gc for t in timings}
    gc_too = table.collector_too
    header = ["tool", "median per call"]
    align = ["l", "r"]
    if gc_too:
        header.append("collector on")
        align.append("r")
    if table.elements:
        header.append(f"ns per {table.element_name}")
        align.append("r")
    for ref in table.ratio_to:
        header.append(f"÷ {ref}" + (" (off / on)" if gc_too else ""))
        align.append("r")
    if target_cells:
        header.append("target")
        align.append("l")
    header += ["spread", "notes"]
    align += ["r", "l"]
    rows = []
    for t in timings:
        med = t.median
        row = [t.case.tool, fmt_time(med)]
        if gc_too:
            row.append(fmt_time(t.median_gc))
        if table.elements:
            # A sampling tool does not look at every element: a per-element cost would lie.
            row.append("—" if t.case.sampling else f"{med / table.elements * 1e9:,.1f}")
        for ref in table.ratio_to:
            if ref not in by_tool:
                row.append("n/a")
            elif gc_too:
                row.append(fmt_ratio(med / by_tool[ref]) + " / "
                           + fmt_ratio(t.median_gc / by_tool_gc[ref]))
            else:
                row.append(fmt_ratio(med / by_tool[ref]))
        if target_cells:
            row.append(target_cells.get(t.case.tool, ""))
        lo, hi = min(t.samples), max(t.samples)
        row.append(f"±{(hi - lo) / 2 / med * 100:.0f}%")
        note = t.case.note
        if table.value_label == "non-member" and t.case.tool in noted:
            note += "; **answers 'yes' here: wrong**"
        row.append(note)
        rows.append(row)
    for tool, why in skipped.items():
        cells = [tool, "not timed"] + [""] * (len(header) - 4) + ["", why]
        rows.append(cells)
    return (f"### {table.title}\n\n"
            f"value: {table.value_label}; loops per sample: "
            + ", ".join(f"{t.case.tool} {t.loops:,}" + (
                f" ({len(t.samples)} samples: over {SLOW_CALL:g} s per call)"
                if len(t.samples) < max(len(u.samples) for u in timings) else "")
                for t in timings) + "\n\n"
            + md_table(header, rows, align))


def render_probes(table: Table, figures: dict[str, float], skipped: dict[str, str],
                  target_cells: dict[str, str] | None = None) -> str:
    header = ["tool", table.unit]
    align = ["l", "r"]
    for ref in table.ratio_to:
        header.append(f"÷ {ref}")
        align.append("r")
    if target_cells:
        header.append("target")
        align.append("l")
    header.append("notes")
    align.append("l")
    rows = []
    for p in table.probes:
        if p.tool in skipped:
            rows.append([p.tool, "not measured"] + [""] * (len(header) - 3) + [skipped[p.tool]])
            continue
        v = figures[p.tool]
        row = [p.tool, f"{v:,.1f}"]
        for ref in table.ratio_to:
            row.append(fmt_ratio(v / figures[ref]) if figures.get(ref) else "n/a")
        if target_cells:
            row.append(target_cells.get(p.tool, ""))
        row.append(p.note)
        rows.append(row)
    return f"### {table.title}\n\nmeasured once per tool\n\n" + md_table(header, rows, align)


# Targets. A figure is keyed by (table index, tool, collector running).
Figures = dict[tuple[int, str, bool], float]


@dataclass
class TargetResult:
    workload: str
    target: Target
    collector: bool
    value: float | None  # None: a row is missing (not timed)
    where: str = ""  # the table, when the workload has several and the target one

    @property
    def met(self) -> bool:
        return self.value is not None and self.value <= self.target.limit * (1 + 1e-9)

    def figure(self) -> str:
        if self.value is None:
            return "n/a"
        if self.target.mode == "at_most":
            return f"{self.value:,.1f} {self.target.unit}".strip()
        return fmt_ratio(self.value)

    def limit(self) -> str:
        if self.target.mode == "at_most":
            return f"≤ {self.target.limit:,.1f} {self.target.unit}".strip()
        return f"≤ {fmt_ratio(self.target.limit)}"

    def verdict(self) -> str:
        if self.value is None:
            return "n/a"
        return "met" if self.met else "**missed**"


def evaluate_targets(wl: Workload, figures: Figures, elements: dict[int, int | None]
                     ) -> list[TargetResult]:
    out = []
    for t in wl.targets:
        tables = {i for i, _ in t.rows + t.refs}
        modes = [False]
        if all(wl.tables[i].collector_too for i in tables):
            modes.append(True)
        for on in modes:
            got = [figures.get((i, tool, on)) for i, tool in t.rows]
            refs = [figures.get((i, tool, on)) for i, tool in t.refs]
            value = None
            if t.mode == "flat":
                per = [g / (elements[i] or 1) for g, (i, _) in zip(got, t.rows) if g]
                if len(per) == len(t.rows):
                    value = max(per) / min(per)
            elif got[0] is not None:
                if t.mode == "at_most":
                    value = got[0]
                elif any(refs):
                    value = got[0] / min(r for r in refs if r)
            where = ""
            if len(wl.tables) > 1 and len(tables) == 1:
                only = wl.tables[next(iter(tables))]
                where = only.label or only.title
            out.append(TargetResult(wl.key, t, on, value, where))
    return out


def target_cells(results: list[TargetResult], table: int) -> dict[str, str]:
    """The target column of one table: ratio targets whose rows all sit in it."""
    cells: dict[str, list[str]] = {}
    by_target: dict[int, list[TargetResult]] = {}
    for r in results:
        by_target.setdefault(id(r.target), []).append(r)
    for rs in by_target.values():
        t = rs[0].target
        if t.mode == "flat" or any(i != table for i, _ in t.rows + t.refs):
            continue
        tool = t.rows[0][1]
        if t.refs:
            refs = [name for _, name in t.refs]
            ref = refs[0] if len(refs) == 1 else "faster of " + ", ".join(refs)
            head = f"÷ {ref} {rs[0].limit()}"
        else:
            head = rs[0].limit()
        figs = " / ".join(r.figure() for r in rs)
        verdicts = " / ".join(r.verdict() for r in rs)
        cells.setdefault(tool, []).append(f"{head}: {figs} {verdicts}")
    return {k: "; ".join(v) for k, v in cells.items()}


def render_targets(results: list[TargetResult]) -> str:
    rows = []
    for r in results:
        text = r.target.text + (f", {r.where}" if r.where else "")
        rows.append([r.workload, text + (" (collector on)" if r.collector else ""),
                     r.figure(), r.limit(), r.verdict()])
    met = sum(r.met for r in results)
    return ("## Targets\n\nThe goals set for the walk over Python values and for JSON, each "
            "as a median ratio side by side in this run (or a figure, for memory); "
            f"{met} of {len(results)} met.\n\n"
            + md_table(["workload", "target", "figure", "limit", "result"], rows,
                       ["l", "l", "r", "r", "l"]))


def cpu_model() -> str:
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.lower().startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def version(dist: str) -> str:
    try:
        return metadata.version(dist)
    except metadata.PackageNotFoundError:
        return "not installed"


def git_commit() -> str:
    try:
        out = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"],
                             capture_output=True, text=True, timeout=10)
        dirty = subprocess.run(["git", "-C", str(ROOT), "status", "--porcelain", "--", "src",
                                "kestrome", "CMakeLists.txt", "pyproject.toml"],
                               capture_output=True, text=True, timeout=10)
        if out.returncode == 0:
            return out.stdout.strip() + (" (with local changes)" if dirty.stdout.strip()
                                         else "")
    except (OSError, subprocess.SubprocessError):
        pass
    return "unknown"


def header(args, started: _dt.datetime) -> str:
    pkgs = ["kestrome", "pydantic", "pydantic-core", "msgspec", "orjson", "beartype",
            "typeguard", "annotated-types", "typing-extensions"]
    lines = [
        "# kestrome benchmarks",
        "",
        "Written by `bench/run.py` (`make bench`); bench/README.md says what is measured.",
        "",
        f"- date: {started.strftime('%Y-%m-%d %H:%M UTC')}",
        f"- machine: {cpu_model()}, {os.cpu_count()} cores, {platform.platform()}; load "
        "average at the start " + ", ".join(f"{x:.1f}" for x in os.getloadavg())
        + " (anything above 0 is other work sharing the cores)",
        f"- Python: {platform.python_implementation()} {platform.python_version()} "
        f"({sys.executable})",
        "- packages: " + ", ".join(f"{p} {version(p)}" for p in pkgs),
        f"- kestrome commit: {git_commit()}; module: {kestrome._kestrome.__file__}",
        f"- run: {'quick smoke run, ' if args.quick else ''}{args.repeats} samples per row "
        f"after a warm-up, each sample a loop of about {args.target_ms:g} ms, tools "
        "alternating round by round; the collector is off inside a sample (JSON tables "
        "are also timed with it on, in a column of their own); a row slower than "
        f"{SLOW_CALL:g} s per call gets {SLOW_SAMPLES} samples; times are medians; `spread` "
        "is half the range of the samples over the median",
        "- ratios are this row's median over the named row's median: above 1× is slower",
        "- beartype's `is_bearable` samples: it checks one item per container per call "
        "and checks a TypedDict only as a Mapping, so it answers in near-constant time "
        "and misses most bad items; it is a reference, not a peer on equal terms",
        "- typeguard runs with `collection_check_strategy=CollectionCheckStrategy.ALL_ITEMS` "
        "(its default, FIRST_ITEM, checks only the first item of each container)",
        "- pydantic and msgspec return a validated copy, so their times include building it; "
        "kestrome only answers",
        "- on the JSON documents everything but kestrome is_valid_json builds the "
        "parsed value as Python objects; orjson.loads only parses, as a reference",
        "- `C limit` rows are C loops doing only the exact type test of each item, built "
        "for the benchmark only: the limit a container check can reach",
        "- the Targets section gives every goal set for these workloads as met or missed; "
        "a `target` column shows them beside the row concerned",
    ]
    return "\n".join(lines)


def render_verdicts(rows: list[VerdictRow]) -> str:
    out = []
    for r in rows:
        mark = ("**WRONG, not timed**: " if r.fatal else "noted: ") + r.problem if r.problem \
            else "agrees"
        out.append([r.workload, r.tool, r.member, r.non_member, mark])
    return ("## Verdicts\n\nEvery tool's answer on each workload's member value (expected: "
            "yes) and non-member value (expected: no), checked before timing.\n\n"
            + md_table(["workload", "tool", "member", "non-member", "result"], out,
                       ["l", "l", "l", "l", "l"]))


# --------------------------------------------------------------------------------------

def main(argv: list[str] | None = None, description: str = "") -> int:
    ap = argparse.ArgumentParser(description=description)
    ap.add_argument("--quick", action="store_true",
                    help="smoke run: 3 samples of about 5 ms per row")
    ap.add_argument("--repeats", type=int, help="samples per row (default 11, quick 3)")
    ap.add_argument("--target-ms", type=float, help="length of one sample (default 30)")
    ap.add_argument("--only", help="comma-separated workloads to run, e.g. W1,W6")
    ap.add_argument("--output", type=Path, default=HERE / "RESULTS.md",
                    help="where to write the report (default bench/RESULTS.md)")
    args = ap.parse_args(argv)
    if args.repeats is None:
        args.repeats = 3 if args.quick else 11
    if args.target_ms is None:
        args.target_ms = 5.0 if args.quick else 30.0
    if args.repeats < 1 or args.target_ms <= 0:
        ap.error("--repeats and --target-ms must be positive")
    started = _dt.datetime.now(_dt.timezone.utc)
    t_start = time.perf_counter()

    builders = discover()
    keys = list(builders)
    if args.only:
        keep = {k.strip().upper() for k in args.only.split(",")}
        unknown = keep - set(keys)
        if unknown:
            ap.error(f"unknown workloads: {', '.join(sorted(unknown))}")
        keys = [k for k in keys if k in keep]
    workloads = [build(k) for k in keys]

    head = header(args, started)
    print(head, flush=True)

    all_verdicts: list[VerdictRow] = []
    all_targets: list[TargetResult] = []
    sections: list[str] = []
    failed = False
    for wl in workloads:
        verdicts = check_verdicts(wl)
        all_verdicts += verdicts
        bad = {r.tool: r.problem for r in verdicts if r.fatal}
        noted = {r.tool: r.problem for r in verdicts if r.problem and not r.fatal}
        for r in verdicts:
            if r.problem:
                level = "ERROR" if r.fatal else "note"
                print(f"\n!!! {level}: {wl.key} {r.tool} {r.problem}"
                      if r.fatal else f"\n{level}: {wl.key} {r.tool} {r.problem}",
                      file=sys.stderr if r.fatal else sys.stdout, flush=True)
        parts = [f"## {wl.key}: {wl.title}\n\n{wl.description}."]
        if wl.notes:
            parts.append("\n".join(f"- {n}" for n in wl.notes))
        kestrome_wrong = any(t.startswith("kestrome") for t in bad)
        if bad:
            failed = True
        figures: Figures = {}
        measured: dict[int, tuple[Table, Any, dict[str, str]]] = {}
        for ti, table in enumerate(wl.tables):
            if kestrome_wrong:
                measured[ti] = (table, None, {})
                continue
            skipped = {c.tool: f"WRONG VERDICT: {bad[c.tool]}"
                       for c in table.cases + table.probes if c.tool in bad}
            try:
                if table.probes:
                    got = {p.tool: p.measure() for p in table.probes if p.tool not in bad}
                    figures.update({(ti, k, False): v for k, v in got.items()})
                else:
                    timed = replace(table, cases=[c for c in table.cases if c.tool not in bad])
                    got = time_table(timed, args.repeats, args.target_ms / 1000)
                    for t in got:
                        figures[(ti, t.case.tool, False)] = t.median
                        if t.samples_gc:
                            figures[(ti, t.case.tool, True)] = t.median_gc
                    table = timed
            except Exception:
                failed = True
                got = traceback.format_exc()
                print(got, file=sys.stderr)
            measured[ti] = (table, got, skipped)
        results = evaluate_targets(wl, figures, {i: t.elements for i, t in enumerate(wl.tables)})
        all_targets += results
        for ti, (table, got, skipped) in measured.items():
            if kestrome_wrong:
                parts.append(f"### {table.title}\n\n**NOT TIMED**: kestrome gave a wrong "
                             "verdict on this workload (see Verdicts); timing a different "
                             "answer would mean nothing.")
                continue
            if isinstance(got, str):
                parts.append(f"### {table.title}\n\n**FAILED**:\n\n```\n{got}```")
                continue
            cells = target_cells(results, ti)
            text = (render_probes(table, got, skipped, cells) if table.probes
                    else render_table(table, got, skipped, noted, cells))
            parts.append(text)
            print("\n" + text, flush=True)
        sections.append("\n\n".join(parts))

    vtext = render_verdicts(all_verdicts)
    if all_targets:
        vtext = render_targets(all_targets) + "\n\n" + vtext
    print("\n" + vtext)
    elapsed = time.perf_counter() - t_start
    banner = ""
    if failed:
        banner = ("\n\n> **A TOOL GAVE A WRONG VERDICT OR A TABLE FAILED**: the rows concerned "
                  "are not timed; see Verdicts.")
    doc = (head + banner + "\n\n" + "\n\n".join(sections) + "\n\n" + vtext
           + f"\n\nThe whole run took {elapsed:.0f} s.\n")
    args.output.write_text(doc, encoding="utf-8")
    print(f"\nwrote {args.output} ({elapsed:.0f} s)")
    if failed:
        print("!!! some tool gave a wrong verdict or a table failed: see above", file=sys.stderr)
        return 1
    return 0


