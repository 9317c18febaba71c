"""The runner: times the cells of one row, side by side, and measures memory.

Every cell is one statement compiled into a loop whose data are local variables, so each
system pays the same loop and lookup overhead. The cells of a row are sampled in turns
(A B C A B C ..., the order rotated each round) so that drift of the machine's speed spreads
over all of them; a cell's figure is the median time per call over its samples, and its
spread the interquartile range as a percentage of that median. The garbage collector is off
inside a timed loop (as timeit does) and runs between samples. Results that build something
are kept until the clock has stopped, so no cell pays for freeing the previous result.
Memory is the tracemalloc peak (and what stays allocated) while building.

The parent process runs each row in a fresh child process (`run_rows`), so rows do not depend
on their order: how fast and how large the stores are depends on which stores the process
built before.
"""

from __future__ import annotations

import gc
import json
import statistics
import subprocess
import sys
import textwrap
import time
import tracemalloc
from dataclasses import dataclass, field
from typing import Any, Callable


@dataclass
class Settings:
    rounds: int          # samples a cell gets at least, unless it is slow (see cell_budget)
    target: float        # seconds one sample should take (the loop grows until it does)
    budget: float        # rounds go on, up to 3 x rounds, while the row has used less
    cell_budget: float   # a cell whose samples take long gets as many as fit in this...
    least: int           # ...but never fewer than this
    least_ours: int      # (the store's own cells: never fewer than this)

    @classmethod
    def full(cls) -> Settings:
        return cls(rounds=20, target=0.005, budget=2.0, cell_budget=1.5, least=1, least_ours=5)

    @classmethod
    def quick(cls) -> Settings:
        return cls(rounds=3, target=0.002, budget=0.0, cell_budget=0.3, least=1, least_ours=1)


@dataclass
class Case:
    stmt: str                                            # one statement, or a block
    env: dict[str, Any] = field(default_factory=dict)    # local names of the loop
    names: dict[str, Any] = field(default_factory=dict)  # globals (the system's classes)
    keep: bool = False                                   # keep each result until the clock stops
    pool: Callable[[int], list[Any]] | None = None  # fresh state per call, made untimed...
    pool_as: str = "t"                                   # ...and bound to this local name
    max_n: int = 1 << 20


@dataclass
class Result:
    median: float
    spread: float  # interquartile range over the median, in percent
    samples: int = 0

    def as_json(self) -> list[float]:
        return [self.median, self.spread, self.samples]


def compile_case(case: Case) -> Callable[..., float]:
    names = sorted(case.env)
    body = f"_out[_i] = {case.stmt}" if case.keep else case.stmt
    if case.pool is not None:
        names.append("_p")
        body = f"{case.pool_as} = _p[_i]\n{body}"  # this call's own state
    source = (f"def _loop(_n, _out, {', '.join(names)}):\n"
              f"    _t0 = _clock()\n"
              f"    for _i in range(_n):\n"
              f"{textwrap.indent(body, ' ' * 8)}\n"
              f"    return _clock() - _t0\n")
    namespace = {"_clock": time.perf_counter, **case.names}
    exec(compile(source, f"<{case.stmt[:40]}>", "exec"), namespace)
    return namespace["_loop"]


class Timer:
    def __init__(self, case: Case):
        self.case = case
        self.loop = compile_case(case)
        self.n = 1
        self.samples: list[float] = []
        self.quota = 0
        self.cost = 0.0  # wall time of the last sample, with making its pool

    def sample(self) -> float:
        started = time.perf_counter()
        env = dict(self.case.env)
        if self.case.pool is not None:
            env["_p"] = self.case.pool(self.n)
        out = [None] * self.n if self.case.keep else None
        gc.disable()
        try:
            elapsed = self.loop(self.n, out, **env)
        finally:
            gc.enable()
        del out, env
        gc.collect(1)
        self.cost = time.perf_counter() - started
        return elapsed

    def calibrate(self, settings: Settings, least: int) -> None:
        """Grow the loop until one sample takes about `target` seconds (this also warms up).
        A call that alone takes longer than the cell's budget is not warmed further: its first
        call is its first sample. The quota is the number of samples the cell gets."""
        elapsed = self.sample()
        if self.cost >= settings.cell_budget / 2:
            self.samples.append(elapsed)
        while elapsed < settings.target and self.n < self.case.max_n:
            grow = 2 if elapsed <= 0 else min(10.0, max(1.2, 1.2 * settings.target / elapsed))
            self.n = min(self.case.max_n, max(self.n + 1, int(self.n * grow)))
            elapsed = self.sample()
        per_sample = max(self.cost, 1e-9)
        self.quota = max(least, min(settings.rounds, int(settings.cell_budget / per_sample)))

    def record(self) -> None:
        self.samples.append(self.sample() / self.n)


def summarize(samples: list[float]) -> Result:
    median = statistics.median(samples)
    if len(samples) >= 4:
        q1, _, q3 = statistics.quantiles(samples, n=4)
        spread = 100.0 * (q3 - q1) / median if median else 0.0
    else:
        spread = 100.0 * (max(samples) - min(samples)) / median if median else 0.0
    return Result(median, spread, len(samples))


def time_cells(cases: dict[str, Case], settings: Settings, ours: set[str]) -> dict[str, Result]:
    """Every cell gets `rounds` samples, or fewer when its samples are slow (as many as fit in
    `cell_budget`, at least `least`, or `least_ours` for the store's own cells, named in
    `ours`); cheap cells go on, up to three times as many rounds, while the row has used less
    than `budget` seconds, which keeps their medians steady when other work on the machine
    takes the CPU now and then. A slow cell takes its samples in the first rounds,
    interleaved with the others."""
    timers = {name: Timer(case) for name, case in cases.items()}
    started = time.perf_counter()
    for name, timer in timers.items():
        timer.calibrate(settings, settings.least_ours if name in ours else settings.least)
    order = list(timers)
    r = 0
    while True:
        wanted = [name for name in order if len(timers[name].samples) < timers[name].quota]
        if not wanted:
            if r >= 3 * settings.rounds or time.perf_counter() - started >= settings.budget:
                break
            wanted = [name for name in order if timers[name].quota >= settings.rounds]
            if not wanted:
                break
        shift = r % len(wanted)
        for name in wanted[shift:] + wanted[:shift]:
            timers[name].record()
        r += 1
    gc.collect()
    return {name: summarize(timer.samples) for name, timer in timers.items()}


def measure_memory(builds: dict[str, Callable[[], Any]],
                   tries: int = 2) -> tuple[dict[str, Result], dict[str, Result]]:
    """The tracemalloc peak while building, and what the built tree keeps allocated: the
    smaller of `tries` builds (the figures hardly move, but the first may pay for caches),
    or of one when a build under tracemalloc takes over a second."""
    peaks, kept = {}, {}
    for name, build in builds.items():
        runs = []
        for _ in range(tries):
            gc.collect()
            started = time.perf_counter()
            tracemalloc.start()
            base, _ = tracemalloc.get_traced_memory()
            tracemalloc.reset_peak()
            built = build()
            current, peak = tracemalloc.get_traced_memory()
            tracemalloc.stop()
            runs.append((peak - base, current - base))
            del built
            if time.perf_counter() - started > 1.0:
                break
        peaks[name] = Result(min(r[0] for r in runs), 0.0, len(runs))
        kept[name] = Result(min(r[1] for r in runs), 0.0, len(runs))
    return peaks, kept


def run_child(script: str, args: list[str]) -> Any:
    """One row in a fresh process: its JSON answer."""
    child = subprocess.run([sys.executable, "-P", script, *args], capture_output=True, text=True)
    if child.returncode != 0:
        raise SystemExit(f"{' '.join(args)} failed:\n{child.stderr}")
    return json.loads(child.stdout)
