"""tarvel_var next to the attribute-dict packages a user would pick instead, and plain Python.

    python -P benchmarks/compare.py [--quick] [--only 1,5 | --only build,mapping] [--markdown [PATH]]

`make bench` installs the peers (the `bench` extra) and runs this with --markdown, which also
writes the table to benchmarks/results.md and the figures to benchmarks/results.json;
`make bench-check` judges the targets from those figures (benchmarks/check.py).

The suite's parts: systems/ (one adapter per system: the same operations, each as the
system's users write it), workloads.py (the data and the rows), runner.py (interleaved
timing, memory, a fresh process per row), report.py (the table) and check.py (the targets).
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))  # the suite's modules (run with -P)

import report  # noqa: E402
import runner  # noqa: E402
import workloads  # noqa: E402
from systems import load_systems  # noqa: E402


def select(only: str | None) -> set[int]:
    if not only:
        return set(workloads.GROUPS)
    names = {name.replace(" ", "_"): number for number, name in workloads.GROUPS.items()}
    chosen = set()
    for part in only.split(","):
        part = part.strip().replace(" ", "_")
        if part.isdigit() and int(part) in workloads.GROUPS:
            chosen.add(int(part))
        elif part in names:
            chosen.add(names[part])
        else:
            sys.exit(f"--only: unknown workload {part!r} (numbers 1-{len(workloads.GROUPS)} or "
                     f"{', '.join(names)})")
    return chosen


def chosen_systems(ours_only: bool) -> list:
    """Every adapter, or (--ours) tarvel_var and plain Python alone, peers installed or not."""
    if not ours_only:
        return load_systems()
    return [system for system in load_systems(require_peers=False) if system.role != "peer"]


def run_row(row_id: str, quick: bool, lazy: set[str], cache: str | None, ours_only: bool = False) -> list[dict]:
    """Measure one row of the plan, in this (fresh) process; a memory row gives two rows: the
    peak while building and what stays allocated."""
    makers = {rid: make for rid, _, make in workloads.plan(quick)}
    ctx = workloads.Context(workloads.Data(), chosen_systems(ours_only), lazy, quick, cache)
    row = makers[row_id](ctx)
    settings = runner.Settings.quick() if quick else runner.Settings.full()
    base = {"group": row.group, "kind": row.kind, "nodes": row.nodes, "skipped": row.skipped}
    if row.kind == "memory":
        peaks, kept = runner.measure_memory(row.builds, tries=1 if quick else 2)
        prefix, _, rest = row.id.rpartition("/")
        return [{**base, "id": f"{prefix}/{which}/{rest}", "label": row.label.replace("memory", f"{which} memory", 1),
                 "results": {n: r.as_json() for n, r in found.items()}, "extras": {}}
                for which, found in (("peak", peaks), ("kept", kept))]
    ours = {name for name in [*row.cells, *row.extras] if name.split(" ")[0] == "tarvel_var"}
    results = runner.time_cells({**row.cells, **row.extras}, settings, ours)
    return [{**base, "id": row.id, "label": row.label,
             "results": {n: results[n].as_json() for n in row.cells},
             "extras": {n: results[n].as_json() for n in row.extras}}]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="a fast smoke run: few rounds, short samples")
    parser.add_argument("--only", metavar="WORKLOADS",
                        help="comma-separated workload numbers or names to run, e.g. 1,5 or build,mapping")
    parser.add_argument("--markdown", nargs="?", const=str(Path(__file__).with_name("results.md")),
                        metavar="PATH", help="also write the table as Markdown (default "
                        "benchmarks/results.md) and the figures as JSON beside it")
    parser.add_argument("--render", metavar="JSON",
                        help="measure nothing: write the report of the figures in JSON again "
                        "(after a change to the report or the targets)")
    parser.add_argument("--ours", action="store_true",
                        help="tarvel_var and plain Python only (comparing builds or interpreters; "
                        "the peers need not be installed)")
    parser.add_argument("--row", help=argparse.SUPPRESS)               # the child's one row
    parser.add_argument("--walk", default="", help=argparse.SUPPRESS)  # peers found lazy
    parser.add_argument("--cache", help=argparse.SUPPRESS)             # slow builders' trees
    args = parser.parse_args()

    if args.row is not None:
        walked = {name for name in args.walk.split(",") if name}
        print(json.dumps(run_row(args.row, args.quick, walked, args.cache, args.ours)))
        return

    if args.render:
        doc = json.loads(Path(args.render).read_text(encoding="utf-8"))
        path = Path(args.markdown or Path(args.render).with_suffix(".md"))
        path.write_text(report.render_markdown(doc, chosen_systems(args.ours)), encoding="utf-8")
        print(f"wrote {path}")
        return

    only = select(args.only)
    started = time.perf_counter()
    load_start = os.getloadavg()
    systems = chosen_systems(args.ours)
    data = workloads.Data()
    lazy = workloads.check_systems(systems)
    for name, why in lazy.items():
        print(f"note: {name}: {why}; its build row walks the tree once", file=sys.stderr)

    # Each row runs in a process of its own: how fast and how large the stores are depends
    # on which stores the process built before, so a row must not inherit the others' history.
    rows = []
    script = str(Path(__file__).resolve())
    with tempfile.TemporaryDirectory(prefix="tarvel-bench-") as cache:
        for row_id, group, _ in workloads.plan(args.quick):
            if group not in only:
                continue
            t0 = time.perf_counter()
            child_args = (["--row", row_id, "--walk", ",".join(lazy), "--cache", cache]
                          + (["--quick"] if args.quick else []) + (["--ours"] if args.ours else []))
            for found in runner.run_child(script, child_args):
                rows.append(found)
                print(f"  {found['label']}: {time.perf_counter() - t0:.1f} s", file=sys.stderr, flush=True)

    elapsed = time.perf_counter() - started
    load_end = os.getloadavg()
    settings = runner.Settings.quick() if args.quick else runner.Settings.full()
    kind = (f"--quick, {settings.rounds} rounds" if args.quick
            else f"full, {settings.rounds} to {3 * settings.rounds} rounds")
    if only != set(workloads.GROUPS):
        kind += f", workloads {','.join(map(str, sorted(only)))}"
    doc = {
        "meta": {
            "machine": report.machine(),
            "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            "versions": report.versions(systems, data.ec2_file),
            "run": f"{kind}, {elapsed:.0f} s",
            "load": (f"load average {load_start[0]:.2f} at start, {load_end[0]:.2f} at the end "
                     f"(1-minute), {load_end[2]:.2f} over 15 minutes"),
            "rounds": settings.rounds,
            "quick": args.quick,
            "systems": [{"name": s.name, "role": s.role, "view": s.view} for s in systems],
        },
        "rows": rows,
    }
    print()
    print(report.render_text(doc))
    if args.markdown:
        path = Path(args.markdown)
        path.write_text(report.render_markdown(doc, systems), encoding="utf-8")
        path.with_suffix(".json").write_text(json.dumps(doc, indent=1) + "\n", encoding="utf-8")
        print(f"\nwrote {path} and {path.with_suffix('.json').name}")


if __name__ == "__main__":
    main()
