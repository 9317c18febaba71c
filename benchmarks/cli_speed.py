"""The command line beside jq on the EC2 service description (4.6 MB of JSON).

Each workload runs both programs as whole processes, in turn (ours, jq, ours, jq, ...) after
a warm-up run of each, so that a drift in the machine's speed touches both alike. Each run's
wall time is taken around the process, its CPU time and peak memory from the kernel's
accounting of the finished process (wait4). The table gives medians, and the ratio jq/ours
as the median of the pairwise ratios: above 1x, tarvel-var is faster.

    python benchmarks/cli_speed.py [--runs N] [--quick] [--markdown]

Needs `jq` on PATH and botocore installed (`make bench-cli` sees to both).
"""

from __future__ import annotations

import argparse
import datetime
import gzip
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent

WORKLOADS = [
    ("read one path", ["--get", "$.metadata.apiVersion"], [".metadata.apiVersion"]),
    ("print the whole document, one line", [], ["-c", "."]),
    ("print the whole document, indented", ["--indent", "2"], ["."]),
    ("list the top-level keys", ["--keys"], ["-c", "keys_unsorted"]),
    ("set a path, print its section", ["--set", '$.metadata.apiVersion="x"', "--get", "$.metadata"],
     ["-c", '.metadata.apiVersion = "x" | .metadata']),
    # A merge goes through the store: this is the cost of building it.
    ("merge an object, print its section", ["--merge", '{"metadata": {"x": 1}}', "--get",
                                            "$.metadata"], ["-c", '. * {"metadata": {"x": 1}} | .metadata']),
]


def ec2_document(folder: Path) -> Path:
    import botocore

    source = Path(botocore.__file__).parent / "data" / "ec2" / "2016-11-15" / "service-2.json.gz"
    target = folder / "ec2.json"
    target.write_bytes(gzip.decompress(source.read_bytes()))
    return target


def run_once(argv: list[str]) -> tuple[float, float, float]:
    """Wall seconds, CPU seconds and peak MiB of one run, its output thrown away."""
    actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)]
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"failed ({status}): {' '.join(argv)}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def compare(ours: list[str], theirs: list[str], runs: int) -> dict[str, float]:
    for argv in (ours, theirs):  # warm-up: the file and the programs in the page cache
        run_once(argv)
    a, b = [], []
    for _ in range(runs):
        a.append(run_once(ours))
        b.append(run_once(theirs))
    med = statistics.median
    return {
        "ours_wall": med(r[0] for r in a), "jq_wall": med(r[0] for r in b),
        "ours_cpu": med(r[1] for r in a), "jq_cpu": med(r[1] for r in b),
        "ours_mib": max(r[2] for r in a), "jq_mib": max(r[2] for r in b),
        "ratio": med(y[0] / x[0] for x, y in zip(a, b)),
        "ratio_min": min(y[0] / x[0] for x, y in zip(a, b)),
        "ratio_max": max(y[0] / x[0] for x, y in zip(a, b)),
    }


def machine() -> str:
    model = platform.processor() or platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    jq = subprocess.run(["jq", "--version"], capture_output=True, text=True).stdout.strip()
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    return (f"{os.cpu_count()} cores ({model}), Linux {platform.release()}, CPython "
            f"{platform.python_version()}, {jq}; load average before the run {load}; "
            f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=15, help="counted runs of each program")
    parser.add_argument("--quick", action="store_true", help="3 runs: a smoke test")
    parser.add_argument("--markdown", action="store_true",
                        help="also write the table to benchmarks/cli_results.md")
    options = parser.parse_args()
    runs = 3 if options.quick else options.runs
    if shutil.which("jq") is None:
        raise SystemExit("jq is not installed (make bench-cli installs it)")
    ours = shutil.which("tarvel-var", path=os.path.dirname(sys.executable)) or "tarvel-var"
    about = machine()
    lines = [
        f"Whole-process runs on the EC2 service description (4.6 MB), {runs} of each program "
        f"in turn after a warm-up; {about}. Medians; the ratio is jq's time over ours, pair "
        "by pair (median, with the lowest and highest): above 1x, tarvel-var is faster.",
        "",
        "| workload | tarvel-var wall | jq wall | jq / tarvel-var | tarvel-var CPU | jq CPU "
        "| tarvel-var peak | jq peak |",
        "|---|---|---|---|---|---|---|---|",
    ]
    with tempfile.TemporaryDirectory() as folder:
        document = str(ec2_document(Path(folder)))
        for name, our_args, jq_args in WORKLOADS:
            r = compare([ours, document, *our_args], ["jq", *jq_args, document], runs)
            lines.append(
                f"| {name} | {r['ours_wall'] * 1e3:.0f} ms | {r['jq_wall'] * 1e3:.0f} ms | "
                f"{r['ratio']:.2f}x ({r['ratio_min']:.2f}–{r['ratio_max']:.2f}) | "
                f"{r['ours_cpu'] * 1e3:.0f} ms | {r['jq_cpu'] * 1e3:.0f} ms | "
                f"{r['ours_mib']:.0f} MiB | {r['jq_mib']:.0f} MiB |")
            print(lines[-1], flush=True)
    table = "\n".join(lines) + "\n"
    print()
    print(table)
    if options.markdown:
        (HERE / "cli_results.md").write_text("# The command line beside jq\n\n" + table)
    return 0


if __name__ == "__main__":
    sys.exit(main())
