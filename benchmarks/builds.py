"""tarvel_var's rows from several `compare.py --ours` runs side by side: one build per run
(an interpreter, or the public-only build), each row against the first run's.

    python -P benchmarks/builds.py build/bench/*.json [--markdown benchmarks/builds.md]

`make bench-builds` makes the runs and writes benchmarks/builds.md. The file names say what
each run measured (1-cp313.json, 2-cp313-public-only.json, 3-cp312.json, ...).
"""

from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from report import fmt_bytes, fmt_time  # noqa: E402

# The public-only build may cost at most this much more than the first build, on any row.
PUBLIC_ONLY_LIMIT = 1.15


def our_figures(doc: dict) -> dict[str, tuple[float, str]]:
    """(value, kind) of every tarvel_var cell, by row label and cell name."""
    figures = {}
    for row in doc["rows"]:
        for cells in (row["results"], row["extras"]):
            for name, result in cells.items():
                if name.split(" ")[0] != "tarvel_var" or not result:
                    continue
                key = row["label"] if name == "tarvel_var" else f"{row['label']} ({name[len('tarvel_var '):]})"
                figures[key] = (result[0], row["kind"])
    return figures


def build_name(path: Path) -> str:
    return path.stem.split("-", 1)[1] if "-" in path.stem else path.stem


def render(paths: list[Path]) -> str:
    docs = [json.loads(path.read_text(encoding="utf-8")) for path in paths]
    names = [build_name(path) for path in paths]
    figures = [our_figures(doc) for doc in docs]
    lines = ["# tarvel_var on each build", ""]
    for name, doc in zip(names, docs):
        meta = doc["meta"]
        lines.append(f"- {name}: {meta['machine']}, {meta['date']}; {meta['run']}; {meta['load']}")
    lines += ["", "Each cell: the median, then its ratio to the first build's (above 1x: slower).", "",
              "| row | " + " | ".join(names) + " |", "|---" * (len(names) + 1) + "|"]
    worst: dict[str, tuple[float, str]] = {}
    for key, (first, kind) in figures[0].items():
        cells = []
        for name, found in zip(names, figures):
            if key not in found:
                cells.append("n/a")
                continue
            value = found[key][0]
            shown = fmt_bytes(value) if kind == "memory" else fmt_time(value)
            if found is figures[0]:
                cells.append(shown)
                continue
            ratio = value / first if first else float("inf")
            cells.append(f"{shown} {ratio:.2f}x")
            if kind != "memory" and ratio > worst.get(name, (0.0, ""))[0]:
                worst[name] = (ratio, key)
        lines.append(f"| {key} | " + " | ".join(cells) + " |")
    lines += ["", "Slowest row of each build against the first:", ""]
    for name, (ratio, key) in worst.items():
        mark = ""
        if name.endswith("public-only"):
            mark = f" ({'within' if ratio <= PUBLIC_ONLY_LIMIT else 'OVER'} the {PUBLIC_ONLY_LIMIT}x limit)"
        lines.append(f"- {name}: {ratio:.2f}x, {key}{mark}")
    return "\n".join(lines) + "\n"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("runs", nargs="+", type=Path, help="the JSON figures of compare.py --ours runs")
    parser.add_argument("--markdown", type=Path, help="write the table here too")
    args = parser.parse_args()
    text = render(sorted(args.runs))
    print(text)
    if args.markdown:
        args.markdown.write_text(text, encoding="utf-8")


if __name__ == "__main__":
    main()
