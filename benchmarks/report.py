"""The report: the table of a run as text (printed) and as Markdown (benchmarks/results.md),
with the machine, date, load and versions, the targets judged by check.py, the cells measured
side by side for the targets, and what each column runs. The figures themselves are kept in
benchmarks/results.json, which check.py reads."""

from __future__ import annotations

import importlib.metadata
import os
import platform
import sys
from pathlib import Path
from typing import Any

from check import evaluate
from systems import System

OURS = "tarvel_var"


def machine() -> str:
    cpu = platform.processor() or "unknown CPU"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return (f"{cpu}, {os.cpu_count()} cores, {platform.python_implementation()} "
            f"{platform.python_version()} on {platform.system()} {platform.release()}")


def versions(systems: list[System], ec2_file: str) -> str:
    parts = [f"tarvel_var {importlib.metadata.version('tarvel-var')}"]
    parts += [f"{s.distribution} {importlib.metadata.version(s.distribution)}"
              for s in systems if s.distribution]
    parts.append(f"botocore {importlib.metadata.version('botocore')} (ec2/{ec2_file})")
    return ", ".join(parts)


def fmt_time(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def fmt_bytes(count: float) -> str:
    for unit, scale in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if count >= scale:
            return f"{count / scale:.3g} {unit}"
    return f"{count:.0f} B"


def cells(row: dict[str, Any], columns: list[str], few: int) -> list[str]:
    results, skipped = row["results"], row.get("skipped", {})
    ours = results.get(OURS)
    nodes = row.get("nodes")
    out = []
    for name in columns:
        res = results.get(name)
        if res is None:
            out.append("–" if name in skipped else "n/a")
            continue
        median, spread, samples = res
        if row["kind"] == "memory":
            text = fmt_bytes(median)
        else:
            text = f"{fmt_time(median)} ±{spread:.0f}%"
            if samples < few:
                text += f" (n={samples:.0f})"
        if name != OURS and ours is not None and ours[0] > 0:
            text += f" {median / ours[0]:.3g}x"
        if nodes:
            text += (f", {median / nodes:.0f} B/node" if row["kind"] == "memory"
                     else f", {median / nodes * 1e9:.0f} ns/node")
        out.append(text)
    return out


def table(doc: dict[str, Any], markdown: bool) -> str:
    columns = [s["name"] for s in doc["meta"]["systems"]]
    few = doc["meta"]["rounds"]
    body = [[row["label"], *cells(row, columns, few)] for row in doc["rows"]]
    header = ["workload", *columns]
    if markdown:
        lines = ["| " + " | ".join(header) + " |", "|---|" + "---|" * len(columns)]
        lines += ["| " + " | ".join(r) + " |" for r in body]
        return "\n".join(lines)
    widths = [max(len(r[i]) for r in [header, *body]) for i in range(len(header))]
    lines = ["  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip() for r in [header, *body]]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines)


def side_by_side(doc: dict[str, Any]) -> list[str]:
    lines = []
    for row in doc["rows"]:
        for name, (median, spread, samples) in row.get("extras", {}).items():
            lines.append(f"{row['label']}: {name} {fmt_time(median)} ±{spread:.0f}%")
    return lines


def head(doc: dict[str, Any]) -> list[str]:
    meta = doc["meta"]
    return [f"Machine: {meta['machine']}", f"Date: {meta['date']}", f"Versions: {meta['versions']}",
            f"Run: {meta['run']}; {meta['load']} (other work on the machine widens the spread)"]


def describe(system: System) -> str:
    module = sys.modules[type(system).__module__]
    text = (module.__doc__ or "").split("\n\n")[0]
    return " ".join(text.split())


GENERAL = """\
Each cell: median time per call ±spread (interquartile range, % of the median), then the
system's time divided by tarvel_var's (above 1x: tarvel_var is faster); (n=...) marks a cell
that took fewer samples than the row's rounds because each call takes long. Memory rows: the
tracemalloc peak while building, and what the built tree keeps allocated, with the same ratio.
Growth rows add the cost per node (every dict, list and leaf of the document). n/a: the system
has no equivalent; –: not run in that row (the growth rows run ours and the floors only;
--quick leaves the slow builders out of the rows on large data).
Peers found at start-up to leave plain dicts behind after construction would have their build
walked once (none is today; benedict is a view that wraps again on every access, so it is not
walked). Reads: attribute chain; get by name: .get("k5"); path: .get("a").get("b").get("c");
mapping rows: t["k5"], "k5" in t, len(t), t == u (two trees built apart), dict(t). The clear
row clears a tree of its own in each call, built outside the clock (up to 8 per sample).
Each row runs in a fresh process: tarvel_var's times and sizes depend on which stores the
process built before (a plain-name _mv_get, and the size of the 1,000 records, among others)."""


def legend(systems: list[System]) -> str:
    lines = [GENERAL, "What each column runs:"]
    lines += [f"- {describe(s)}" for s in systems]  # each begins with the system's name
    pending = [p for s in systems for p in s.pending()]
    if pending:
        lines.append(f"Not yet supported by the store, so n/a in its column: {', '.join(pending)}.")
    return "\n".join(lines)


def render_text(doc: dict[str, Any]) -> str:
    verdicts = evaluate(doc)
    return "\n".join([*head(doc), "", table(doc, markdown=False), "",
                      *[v.line() for v in verdicts]])


def render_markdown(doc: dict[str, Any], systems: list[System]) -> str:
    verdicts = evaluate(doc)
    parts = ["# tarvel_var next to its peers", "", *[f"- {line}" for line in head(doc)], "",
             table(doc, markdown=True), "",
             "Targets (`make bench-check` judges them from benchmarks/results.json):", "",
             *[f"- {v.line()}" for v in verdicts], ""]
    extras = side_by_side(doc)
    if extras:
        parts += ["Measured side by side in the same rows, for the targets:", "",
                  *[f"- {line}" for line in extras], ""]
    parts += [legend(systems), ""]
    return "\n".join(parts)
