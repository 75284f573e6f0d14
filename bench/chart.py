#!/usr/bin/env python3
"""A bar chart of the real JSON documents' results (W60 to W64), read from a report that
bench/run.py wrote:

    bench/.venv/bin/python bench/chart.py [--results bench/RESULTS.md] [--output PNG]

Every tool's median per call (collector off) is drawn over msgspec's typed decoding of
the same document, so below 1 is faster than msgspec; the report's other workloads are
left alone.
"""

from __future__ import annotations

import argparse
import re
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
KEYS = ["W60", "W61", "W62", "W63", "W64"]
REF = "msgspec"
TOOLS = ["kestrome load", "kestrome validate_json", "kestrome is_valid_json", "msgspec",
         "orjson.loads", "simdjson parse"]
COLORS = ["#1f5fa8", "#4a8fd6", "#9cc3ee", "#d9822b", "#7f7f7f", "#bdbdbd"]
UNITS = {"ns": 1e-9, "µs": 1e-6, "ms": 1e-3, "s": 1.0}


def seconds(cell: str) -> float:
    number, unit = cell.split()
    return float(number.replace(",", "")) * UNITS[unit]


def read_tables(text: str) -> dict[str, dict[str, float]]:
    """Each table title of the chosen workloads, with its rows' medians per call."""
    tables: dict[str, dict[str, float]] = {}
    title = None
    for line in text.splitlines():
        if line.startswith("### "):
            title = line[4:] if line[4:].split(" ", 1)[0] in KEYS else None
            continue
        if title is None or not line.startswith("| "):
            continue
        cells = [c.strip() for c in line.strip("|").split("|")]
        if cells[0] in TOOLS and re.fullmatch(r"[\d.,]+ (ns|µs|ms|s)", cells[1]):
            tables.setdefault(title, {})[cells[0]] = seconds(cells[1])
    return tables


def label(title: str) -> str:
    """A short name under each group: the document, and its size."""
    key, rest = title.split(" ", 1)
    size = re.search(r"\(([\d,]+) bytes\)", rest)
    name = re.sub(r",? ?JSON bytes|\s*\([\d,]+ bytes\)", "", rest)
    name = re.sub(r"^[\d,]+ (\w+) strings", r"\1 strings", name)
    kb = f"{int(size.group(1).replace(',', '')) / 1000:,.0f} kB" if size else ""
    return f"{key} {name}\n{kb}"


def draw(tables: dict[str, dict[str, float]], output: Path) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    groups = [(t, rows) for t, rows in tables.items() if REF in rows]
    tools = [tool for tool in TOOLS if any(tool in rows for _, rows in groups)]
    width = 0.8 / len(tools)
    fig, ax = plt.subplots(figsize=(2.2 * len(groups) + 2, 5.5), dpi=110)
    for i, tool in enumerate(tools):
        xs, ys = [], []
        for g, (_, rows) in enumerate(groups):
            if tool in rows:
                xs.append(g + (i - (len(tools) - 1) / 2) * width)
                ys.append(rows[tool] / rows[REF])
        bars = ax.bar(xs, ys, width * 0.92, label=tool, color=COLORS[TOOLS.index(tool)])
        for b, y in zip(bars, ys):
            ax.annotate(f"{y:.2f}", (b.get_x() + b.get_width() / 2, y), ha="center",
                        va="bottom", fontsize=7, rotation=90, xytext=(0, 2),
                        textcoords="offset points")
    ax.axhline(1.0, color="#d9822b", linewidth=0.8, linestyle="--")
    ax.set_xticks(range(len(groups)), [label(t) for t, _ in groups], fontsize=8)
    ax.set_ylabel(f"median time per call ÷ {REF} typed decoding (lower is faster)")
    ax.set_ylim(0, max(rows[t] / rows[REF] for _, rows in groups for t in rows) * 1.18)
    ax.set_title("Real JSON documents: each tool's time over msgspec's, collector off")
    ax.legend(fontsize=8, ncol=3, loc="upper left")
    ax.spines[["top", "right"]].set_visible(False)
    fig.tight_layout()
    fig.savefig(output)
    print(f"wrote {output}")


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--results", type=Path, default=HERE / "RESULTS.md",
                    help="a report written by bench/run.py (default bench/RESULTS.md)")
    ap.add_argument("--output", type=Path, default=HERE / "real_documents.png")
    args = ap.parse_args()
    tables = read_tables(args.results.read_text(encoding="utf-8"))
    if not any(REF in rows for rows in tables.values()):
        print(f"{args.results} holds no timed table of {', '.join(KEYS)}: run "
              "`make bench BENCH_ARGS=\"--only " + ",".join(KEYS) + "\"` first",
              file=sys.stderr)
        return 1
    draw(tables, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
