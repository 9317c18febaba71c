"""tarvel_var next to the attribute-dict packages a user would pick instead, and plain Python.

    python -P benchmarks/compare.py [--quick] [--only 1,5] [--markdown [PATH]]

`make bench` installs the peers (the `bench` extra) and runs this with --markdown, which
also writes the table to benchmarks/results.md.

How it measures: every cell is one statement compiled into a loop whose data are local
variables, so each system pays the same loop and lookup overhead. The systems of a row are
sampled in turns (A B C A B C ..., the order rotated each round) so that drift of the
machine's speed spreads over all of them; a cell is the median time per call over the rounds,
and its spread is the interquartile range as a percentage of that median. The garbage
collector is off inside a timed loop (as timeit does) and runs between samples. Results that
build something are kept until the clock has stopped, so no cell pays for freeing the
previous result. Memory is the tracemalloc peak (and what stays allocated) while building.
Each row runs in a fresh child process (see main), so rows do not depend on their order.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import gzip
import importlib.metadata
import importlib.resources
import json
import marshal
import os
import platform
import random
import statistics
import subprocess
import sys
import textwrap
import time
import tracemalloc
from dataclasses import dataclass, field
from pathlib import Path
from types import SimpleNamespace
from typing import Any, Callable

from tarvel_var import TarvelVar

try:
    from addict import Dict as AddictDict
    from box import Box
    from dotmap import DotMap
    from easydict import EasyDict
    from munch import munchify, unmunchify
except ImportError as error:  # the peers come only with the bench extra
    sys.exit(f"{error}: install the bench extra first (`make bench` does: pip install '.[bench]')")

OURS = "tarvel_var"
PEERS = ["Box", "addict", "munch", "EasyDict", "DotMap"]
FLOORS = ["dict/list", "object", "SimpleNamespace", "json", "marshal"]
SYSTEMS = [OURS, *PEERS, *FLOORS]
ROUNDS = 20  # the least number of samples per cell in a full run
DISTRIBUTIONS = {"Box": "python-box", "addict": "addict", "munch": "munch",
                 "EasyDict": "easydict", "DotMap": "dotmap"}


# ---------------------------------------------------------------------------------------
# Data

def ec2_document() -> tuple[str, str]:
    """The newest EC2 service description shipped by botocore: its text and its file name."""
    try:
        root = Path(str(importlib.resources.files("botocore"))) / "data" / "ec2"
    except ModuleNotFoundError:
        sys.exit("botocore is missing: install the bench extra first")
    files = sorted(root.glob("*/service-2.json*"))
    if not files:
        sys.exit(f"no service-2.json under {root}")
    newest = files[-1]  # the folders are API versions named by date
    raw = newest.read_bytes()
    if newest.suffix == ".gz":
        raw = gzip.decompress(raw)
    return raw.decode("utf-8"), f"{newest.parent.name}/{newest.name}"


def make_records(count: int = 1000) -> dict[str, Any]:
    """Made-up records keyed by id; each has a nested dict and a list of three dicts."""
    rng = random.Random(6)
    cities = ["Lisbon", "Oslo", "Quito", "Hanoi", "Perth", "Tunis", "Lima", "Riga"]
    records = {}
    for i in range(count):
        records[f"rec{i:04d}"] = {
            "id": i,
            "name": f"user{i}",
            "active": rng.random() < 0.8,
            "score": round(rng.uniform(0, 100), 2),
            "profile": {
                "email": f"user{i}@example.org",
                "city": rng.choice(cities),
                "geo": {"lat": round(rng.uniform(-90, 90), 4), "lon": round(rng.uniform(-180, 180), 4)},
            },
            "orders": [{"sku": f"SKU-{rng.randrange(100000):05d}", "qty": rng.randint(1, 5),
                        "price": round(rng.uniform(1, 500), 2)} for _ in range(3)],
        }
    return records


CONFIG: dict[str, Any] = {
    "app": {"name": "inventory", "version": "2.4.1", "debug": False, "workers": 4},
    "server": {
        "host": "0.0.0.0", "port": 8080,
        "tls": {"enabled": True, "cert": "/etc/tls/cert.pem", "key": "/etc/tls/key.pem"},
        "timeouts": {"read": 30, "write": 30, "idle": 120},
    },
    "database": {
        "primary": {"host": "db1.internal", "port": 5432, "user": "app", "name": "inventory"},
        "replicas": ["db2.internal", "db3.internal"],
        "pool": {"min": 2, "max": 20, "recycle": 3600},
    },
    "cache": {"backend": "redis", "url": "redis://cache:6379/0", "ttl": 300},
    "logging": {
        "level": "INFO", "format": "%(asctime)s %(levelname)s %(message)s",
        "handlers": ["console", "file"],
        "file": {"path": "/var/log/inventory.log", "rotate": True, "keep": 7},
    },
    "features": {"search": True, "export": False, "beta": {"new_ui": False, "fast_path": True}},
}

NESTED_VALUE = {"host": "replica.internal", "port": 5433, "options": {"retries": 3, "tls": True}}


def flat_store_data(count: int) -> dict[str, Any]:
    """`count` variables: one nested branch for path lookups, the rest plain integers."""
    data: dict[str, Any] = {"a": {"b": {"c": 1}}}
    data.update((f"k{i}", i) for i in range(1, count))
    return data


# ---------------------------------------------------------------------------------------
# The floors: what a user would write with plain Python objects

class Plain:
    pass


def copy_plain(value: Any) -> Any:
    """A fresh tree of dicts and lists sharing the leaves, as every store built from a dict does."""
    if type(value) is dict:
        return {k: copy_plain(v) for k, v in value.items()}
    if type(value) is list:
        return [copy_plain(v) for v in value]
    return value


def to_namespace(value: Any) -> Any:
    if type(value) is dict:
        return SimpleNamespace(**{k: to_namespace(v) for k, v in value.items()})
    if type(value) is list:
        return [to_namespace(v) for v in value]
    return value


def to_object(value: Any) -> Any:
    if type(value) is dict:
        obj = Plain()
        obj.__dict__.update({k: to_object(v) for k, v in value.items()})
        return obj
    if type(value) is list:
        return [to_object(v) for v in value]
    return value


def from_object(value: Any) -> Any:
    """Back to plain dicts from nested SimpleNamespace or plain objects."""
    if type(value) is list:
        return [from_object(v) for v in value]
    if type(value) is Plain or type(value) is SimpleNamespace:
        return {k: from_object(v) for k, v in vars(value).items()}
    return value


def marshal_copy(value: Any) -> Any:
    return marshal.loads(marshal.dumps(value))


BUILDERS: dict[str, Callable[[Any], Any]] = {
    OURS: TarvelVar,
    "Box": Box,
    "addict": AddictDict,
    "munch": munchify,
    "EasyDict": EasyDict,
    "DotMap": DotMap,
    "dict/list": copy_plain,
    "object": to_object,
    "SimpleNamespace": to_namespace,
    "marshal": marshal_copy,
}


# ---------------------------------------------------------------------------------------
# Equal work for peers that convert lazily

def plain_left(obj: Any) -> int:
    """How many plain dicts a built peer tree still holds, read without going through the
    peer's own accessors (which could convert on the way)."""
    count = 0
    stack = [obj]
    while stack:
        node = stack.pop()
        if type(node) is dict:
            count += 1
        if isinstance(node, dict):
            stack.extend(dict.values(node))
        elif isinstance(node, list):
            stack.extend(list.__iter__(node))
    return count


def touch(obj: Any) -> None:
    """Read every node once through the peer's public API, so that a lazy peer converts it."""
    stack = [obj]
    while stack:
        node = stack.pop()
        if isinstance(node, (str, bytes)):
            continue
        if hasattr(node, "items"):
            stack.extend(v for _, v in node.items())
        elif isinstance(node, list):
            stack.extend(node)


def check_eager(sample: dict[str, Any]) -> dict[str, str]:
    """Peers found to leave plain dicts behind after construction; their build gets a walk.

    DotMap is not checked this way: it keeps its entries outside the dict it derives from.
    Instead its tree is read through `items()`, which hands back what it stores."""
    lazy = {}
    for name in PEERS:
        built = BUILDERS[name](sample)
        if name == "DotMap":
            left, stack = 0, [built]
            while stack:
                node = stack.pop()
                left += type(node) is dict
                if isinstance(node, DotMap):
                    stack.extend(v for _, v in node.items())
                elif isinstance(node, list):
                    stack.extend(node)
        else:
            left = plain_left(built) - (type(built) is dict)
        if left:
            lazy[name] = f"{left} plain dicts left after construction"
    return lazy


def check_round_trips(sample: dict[str, Any]) -> None:
    """Every system's way back to plain containers gives the data it was built from, so the
    conversions timed in workloads 1 and 2 do the same work."""
    back = {
        OURS: lambda t: t._mv_to_dict(), "Box": lambda t: t.to_dict(),
        "addict": lambda t: t.to_dict(), "munch": unmunchify, "DotMap": lambda t: t.toDict(),
        "object": from_object, "SimpleNamespace": from_object,
    }
    for name, convert in back.items():
        if convert(build_tree(name, sample)) != sample:
            sys.exit(f"{name}: the round trip through it changes the data")


# ---------------------------------------------------------------------------------------
# Timing

@dataclass
class Case:
    stmt: str                                    # one statement, or a block
    env: dict[str, Any] = field(default_factory=dict)   # local names of the loop
    keep: bool = False                           # keep each result until the clock stops
    pool: Callable[[int], dict[str, Any]] | None = None  # fresh state per sample, untimed
    max_n: int = 1 << 20


@dataclass
class Row:
    workload: int
    label: str
    cases: dict[str, Case | Callable[[], Any]]
    extras: dict[str, Case] = field(default_factory=dict)  # measured, used by targets only
    memory: bool = False


RUN_GLOBALS = {
    "TarvelVar": TarvelVar, "Box": Box, "AddictDict": AddictDict, "munchify": munchify,
    "unmunchify": unmunchify, "EasyDict": EasyDict, "DotMap": DotMap, "json": json,
    "marshal": marshal, "copy_plain": copy_plain, "to_object": to_object,
    "to_namespace": to_namespace, "from_object": from_object, "touch": touch,
}


def compile_case(case: Case) -> Callable[..., float]:
    names = sorted(case.env)
    if case.pool is not None:
        names += sorted(case.pool(1))
    body = f"_out[_i] = {case.stmt}" if case.keep else case.stmt
    source = (f"def _loop(_n, _out, {', '.join(names)}):\n"
              f"    _t0 = _clock()\n"
              f"    for _i in range(_n):\n"
              f"{textwrap.indent(body, ' ' * 8)}\n"
              f"    return _clock() - _t0\n")
    namespace = {"_clock": time.perf_counter, **RUN_GLOBALS}
    exec(compile(source, f"<{case.stmt[:40]}>", "exec"), namespace)
    return namespace["_loop"]


class Timer:
    def __init__(self, case: Case):
        self.case = case
        self.loop = compile_case(case)
        self.n = 1
        self.samples: list[float] = []

    def sample(self) -> float:
        env = dict(self.case.env)
        if self.case.pool is not None:
            env.update(self.case.pool(self.n))
        out = [None] * self.n if self.case.keep else None
        gc.disable()
        try:
            elapsed = self.loop(self.n, out, **env)
        finally:
            gc.enable()
        del out, env
        gc.collect(1)
        return elapsed

    def calibrate(self, target: float) -> None:
        """Grow the loop until one sample takes about `target` seconds (also warms up)."""
        elapsed = self.sample()
        while elapsed < target and self.n < self.case.max_n:
            grow = 2 if elapsed <= 0 else min(10.0, max(1.2, 1.2 * target / elapsed))
            self.n = min(self.case.max_n, max(self.n + 1, int(self.n * grow)))
            elapsed = self.sample()

    def record(self) -> None:
        self.samples.append(self.sample() / self.n)


@dataclass
class Result:
    median: float
    spread: float  # interquartile range over the median, in percent


def summarize(samples: list[float]) -> Result:
    median = statistics.median(samples)
    if len(samples) >= 4:
        q1, _, q3 = statistics.quantiles(samples, n=4)
        spread = 100.0 * (q3 - q1) / median if median else 0.0
    else:
        spread = 100.0 * (max(samples) - min(samples)) / median if median else 0.0
    return Result(median, spread)


def time_row(row: Row, rounds: int, target: float, budget: float) -> dict[str, Result]:
    """At least `rounds` rounds, and more (up to three times as many) while the row has
    used less than `budget` seconds: cheap rows get more samples, which keeps their medians
    steady when other work on the machine takes the CPU now and then."""
    timers = {name: Timer(case) for name, case in {**row.cases, **row.extras}.items()}
    started = time.perf_counter()
    for timer in timers.values():
        timer.calibrate(target)
    order = list(timers)
    r = 0
    while r < rounds or (r < 3 * rounds and time.perf_counter() - started < budget):
        shift = r % len(order)
        for name in order[shift:] + order[:shift]:
            timers[name].record()
        r += 1
    gc.collect()
    return {name: summarize(timer.samples) for name, timer in timers.items()}


def measure_memory(row: Row) -> tuple[dict[str, Result], dict[str, Result]]:
    """The tracemalloc peak while building, and what the built tree keeps allocated; the
    smaller of two builds (the figures hardly move, but the first may pay for caches)."""
    peaks, kept = {}, {}
    for name, build in row.cases.items():
        runs = []
        for _ in range(2):
            gc.collect()
            tracemalloc.start()
            base, _ = tracemalloc.get_traced_memory()
            tracemalloc.reset_peak()
            built = build()
            current, peak = tracemalloc.get_traced_memory()
            tracemalloc.stop()
            runs.append((peak - base, current - base))
            del built
        peaks[name] = Result(min(r[0] for r in runs), 0.0)
        kept[name] = Result(min(r[1] for r in runs), 0.0)
    return peaks, kept


# ---------------------------------------------------------------------------------------
# The workloads

class Data:
    """The data sets and the trees built from them, made once and only when a row needs them."""

    def __init__(self) -> None:
        self.ec2_text, self.ec2_file = ec2_document()
        self.sets: dict[str, tuple[Any, str]] = {
            "ec2": (json.loads(self.ec2_text), self.ec2_text),
            "records": (make_records(), ""),
            "config": (CONFIG, ""),
        }
        self.sets["records"] = (self.sets["records"][0], json.dumps(self.sets["records"][0]))
        self.sets["config"] = (CONFIG, json.dumps(CONFIG))
        self._trees: dict[tuple[str, str], Any] = {}

    def tree(self, system: str, key: str) -> Any:
        if (system, key) not in self._trees:
            self._trees[(system, key)] = build_tree(system, self.sets[key][0])
        return self._trees[(system, key)]


def build_tree(system: str, data: Any) -> Any:
    if system == "json":
        return json.loads(json.dumps(data))
    return BUILDERS[system](data)


def dataset_label(key: str, data: Data) -> str:
    if key == "ec2":
        return f"ec2 {len(data.ec2_text) / 1e6:.1f} MB"
    return {"records": "1,000 records", "config": "small config"}[key]


KEYS = ("ec2", "records", "config")


def row_build(data: Data, lazy: set[str], key: str) -> Row:
    doc, text = data.sets[key]
    cases: dict[str, Case] = {}
    for name in [OURS, *PEERS, "dict/list", "object", "SimpleNamespace"]:
        func = {OURS: "TarvelVar", "Box": "Box", "addict": "AddictDict", "munch": "munchify",
                "EasyDict": "EasyDict", "DotMap": "DotMap", "dict/list": "copy_plain",
                "object": "to_object", "SimpleNamespace": "to_namespace"}[name]
        stmt = f"{func}(doc)"
        if name in lazy:
            stmt = f"(lambda t: (touch(t), t)[1])({func}(doc))"
        cases[name] = Case(stmt, {"doc": doc}, keep=True)
    cases["json"] = Case("json.loads(text)", {"text": text}, keep=True)
    cases["marshal"] = Case("marshal.loads(marshal.dumps(doc))", {"doc": doc}, keep=True)
    return Row(1, f"1 build · {dataset_label(key, data)}", cases)


def row_to_plain(data: Data, key: str) -> Row:
    doc = data.sets[key][0]
    t = {name: data.tree(name, key) for name in [OURS, *PEERS, "object", "SimpleNamespace"]}
    cases = {
        OURS: Case("t._mv_to_dict()", {"t": t[OURS]}, keep=True),
        "Box": Case("t.to_dict()", {"t": t["Box"]}, keep=True),
        "addict": Case("t.to_dict()", {"t": t["addict"]}, keep=True),
        "munch": Case("unmunchify(t)", {"t": t["munch"]}, keep=True),
        "DotMap": Case("t.toDict()", {"t": t["DotMap"]}, keep=True),
        "dict/list": Case("copy_plain(t)", {"t": doc}, keep=True),
        "object": Case("from_object(t)", {"t": t["object"]}, keep=True),
        "SimpleNamespace": Case("from_object(t)", {"t": t["SimpleNamespace"]}, keep=True),
        "json": Case("json.loads(json.dumps(t))", {"t": doc}, keep=True),
        "marshal": Case("marshal.loads(marshal.dumps(t))", {"t": doc}, keep=True),
    }
    return Row(2, f"2 to plain · {dataset_label(key, data)}", cases)


def row_to_plain_sorted(data: Data, key: str) -> Row:
    cases = {OURS: Case("t._mv_to_dict(sort=True)", {"t": data.tree(OURS, key)}, keep=True)}
    return Row(2, f"2 to plain, sorted · {dataset_label(key, data)}", cases)


def row_read_existing(data: Data) -> Row:
    chain = "t.shapes.Instance.members.InstanceId"
    cases: dict[str, Case] = {
        name: Case(chain, {"t": data.tree(name, "ec2")})
        for name in [OURS, *PEERS, "object", "SimpleNamespace"]
    }
    cases["dict/list"] = Case('t["shapes"]["Instance"]["members"]["InstanceId"]',
                              {"t": data.sets["ec2"][0]})
    return Row(3, "3 read 4 deep · ec2", cases)


def row_read_missing(data: Data) -> Row:
    catch = "try:\n    t.nope\nexcept AttributeError:\n    pass"
    cases = {
        OURS: Case("t.nope", {"t": data.tree(OURS, "ec2")}),
        "Box": Case(catch, {"t": data.tree("Box", "ec2")}),
        "addict": Case("t.nope", {"t": data.tree("addict", "ec2")}),
        "munch": Case(catch, {"t": data.tree("munch", "ec2")}),
        "EasyDict": Case(catch, {"t": data.tree("EasyDict", "ec2")}),
        # The default DotMap stores an empty DotMap on the first missing read, after which
        # the name is no longer missing; without that it raises like munch.
        "DotMap": Case(catch, {"t": DotMap(data.sets["ec2"][0], _dynamic=False)}),
        "dict/list": Case('t.get("nope")', {"t": data.sets["ec2"][0]}),
        "object": Case(catch, {"t": data.tree("object", "ec2")}),
        "SimpleNamespace": Case(catch, {"t": data.tree("SimpleNamespace", "ec2")}),
    }
    return Row(3, "3 read missing · ec2", cases)


def fresh_config(name: str) -> Any:
    return copy_plain(CONFIG) if name == "dict/list" else build_tree(name, CONFIG)


def row_assign_scalar() -> Row:
    cases = {name: Case("t.x = 1", {"t": fresh_config(name)})
             for name in [OURS, *PEERS, "object", "SimpleNamespace"]}
    cases["dict/list"] = Case('t["x"] = 1', {"t": fresh_config("dict/list")})
    return Row(4, "4 assign scalar · config", cases)


def row_assign_nested() -> Row:
    value = {"v": NESTED_VALUE}
    cases = {
        OURS: Case("t.d = v", {"t": fresh_config(OURS), **value}),
        "Box": Case("t.d = v", {"t": fresh_config("Box"), **value}),
        "EasyDict": Case("t.d = v", {"t": fresh_config("EasyDict"), **value}),
        # These three keep an assigned dict as a plain dict (`t.d.host` would then fail), so
        # they convert it themselves, as a user of them has to.
        "addict": Case("t.d = AddictDict(v)", {"t": fresh_config("addict"), **value}),
        "munch": Case("t.d = munchify(v)", {"t": fresh_config("munch"), **value}),
        "DotMap": Case("t.d = DotMap(v)", {"t": fresh_config("DotMap"), **value}),
        "dict/list": Case('t["d"] = v', {"t": fresh_config("dict/list"), **value}),
        "object": Case("t.d = v", {"t": fresh_config("object"), **value}),
        "SimpleNamespace": Case("t.d = v", {"t": fresh_config("SimpleNamespace"), **value}),
    }
    return Row(4, "4 assign nested dict · config", cases)


def row_get(path: bool, count: int) -> Row:
    extras = {}
    if count > 10 and not path:
        # The 10-variable store again, in this process and built first as in its own row, so
        # that the target comparing the two sizes compares samples taken side by side.
        small = TarvelVar(flat_store_data(10))
        extras["tarvel_var on 10 vars"] = Case('t._mv_get("k5")', {"t": small})
    source = flat_store_data(count)
    tree = {name: build_tree(name, source) for name in [OURS, *PEERS, "object", "SimpleNamespace"]}
    if path:
        ours, peer = 't._mv_get("$.a.b.c")', 't.get("a").get("b").get("c")'
        attr = 'getattr(getattr(getattr(t, "a"), "b"), "c")'
    else:
        ours, peer, attr = 't._mv_get("k5")', 't.get("k5")', 'getattr(t, "k5", None)'
    cases = {OURS: Case(ours, {"t": tree[OURS]})}
    cases.update({name: Case(peer, {"t": tree[name]}) for name in PEERS})
    cases["dict/list"] = Case(peer, {"t": source})
    cases["object"] = Case(attr, {"t": tree["object"]})
    cases["SimpleNamespace"] = Case(attr, {"t": tree["SimpleNamespace"]})
    what = '"$.a.b.c"' if path else "name"
    return Row(5, f"5 _mv_get {what} · {count:,} vars", cases, extras=extras)


LISTED = [OURS, *PEERS, "dict/list", "object", "SimpleNamespace"]


def listing_op(name: str, ours: str, peer: str, attr: str, plain: str) -> str:
    if name == OURS:
        return ours
    if name in ("object", "SimpleNamespace"):
        return attr
    return plain if name == "dict/list" else peer


def listing_tree(name: str, source: dict[str, Any]) -> Any:
    return dict(source) if name == "dict/list" else build_tree(name, source)


def row_keys() -> Row:
    source = flat_store_data(10_000)
    tree = {name: listing_tree(name, source) for name in LISTED}
    cases = {n: Case(listing_op(n, "t._mv_keys()", "list(t.keys())", "list(t.__dict__)", "list(t)"),
                     {"t": tree[n]}) for n in LISTED}
    own_dict = {"list(store.__dict__)": Case("list(t.__dict__)", {"t": tree[OURS]})}
    return Row(6, "6 _mv_keys() · 10,000 vars", cases, extras=own_dict)


def row_items() -> Row:
    source = flat_store_data(10_000)
    tree = {name: listing_tree(name, source) for name in LISTED}
    cases = {n: Case(listing_op(n, "t._mv_items()", "list(t.items())", "list(t.__dict__.items())",
                                "list(t.items())"), {"t": tree[n]}) for n in LISTED}
    return Row(6, "6 _mv_items() · 10,000 vars", cases)


def row_clear() -> Row:
    source = flat_store_data(10_000)

    def pool_of(name: str) -> Callable[[int], dict[str, Any]]:
        return lambda n: {"p": [listing_tree(name, source) for _ in range(n)]}

    cases = {n: Case(listing_op(n, "p[_i]._mv_clear()", "p[_i].clear()", "p[_i].__dict__.clear()",
                                "p[_i].clear()"), pool=pool_of(n), max_n=16) for n in LISTED}
    return Row(6, "6 _mv_clear() · 10,000 vars", cases)


def render_trees() -> tuple[dict[str, Any], dict[str, Any]]:
    return {name: build_tree(name, CONFIG) for name in [OURS, *PEERS, "SimpleNamespace"]}, copy_plain(CONFIG)


def row_repr() -> Row:
    tree, plain = render_trees()
    cases = {name: Case("repr(t)", {"t": tree[name]}) for name in tree}
    cases["dict/list"] = Case("repr(t)", {"t": plain})
    return Row(7, "7 repr() · config", cases)


def row_params() -> Row:
    tree, plain = render_trees()
    cases = {OURS: Case("t._mv_to_params()", {"t": tree[OURS]}),
             "dict/list": Case('"&".join([f"{k}={v}" for k, v in t.items()])', {"t": plain})}
    return Row(7, "7 _mv_to_params() · config", cases)


def row_string() -> Row:
    tree, plain = render_trees()
    cases = {name: Case("str(t)", {"t": tree[name]}) for name in PEERS}
    cases[OURS] = Case("t._mv_to_string()", {"t": tree[OURS]})
    cases["dict/list"] = Case("str(t)", {"t": plain})
    cases["json"] = Case("json.dumps(t)", {"t": plain})
    return Row(7, "7 _mv_to_string() · config", cases)


def row_memory(data: Data, key: str) -> Row:
    doc, text = data.sets[key]
    cases: dict[str, Callable[[], Any]] = {
        name: (lambda name=name: BUILDERS[name](doc))
        for name in [OURS, *PEERS, "dict/list", "object", "SimpleNamespace", "marshal"]}
    cases["json"] = lambda: json.loads(text)
    return Row(8, f"8 peak memory · {dataset_label(key, data)}", cases, memory=True)


def plan(data: Data, lazy: set[str]) -> list[tuple[int, Callable[[], Row]]]:
    """Every row, as (workload, maker); a maker builds the row's trees only when called."""
    rows: list[tuple[int, Callable[[], Row]]] = []
    rows += [(1, lambda key=key: row_build(data, lazy, key)) for key in KEYS]
    rows += [(2, lambda key=key: row_to_plain(data, key)) for key in KEYS]
    rows += [(2, lambda key=key: row_to_plain_sorted(data, key)) for key in KEYS]
    rows += [(3, lambda: row_read_existing(data)), (3, lambda: row_read_missing(data))]
    rows += [(4, row_assign_scalar), (4, row_assign_nested)]
    rows += [(5, lambda path=path, count=count: row_get(path, count))
             for path in (False, True) for count in (10, 10_000)]
    rows += [(6, row_keys), (6, row_items), (6, row_clear)]
    rows += [(7, row_repr), (7, row_params), (7, row_string)]
    rows += [(8, lambda key=key: row_memory(data, key)) for key in KEYS]
    return rows


# ---------------------------------------------------------------------------------------
# Output

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


def cells(row: Row, results: dict[str, Result]) -> list[str]:
    ours = results.get(OURS)
    out = []
    for name in SYSTEMS:
        res = results.get(name)
        if res is None:
            out.append("n/a")
            continue
        if row.memory:
            text = fmt_bytes(res.median)
        else:
            text = f"{fmt_time(res.median)} ±{res.spread:.0f}%"
        if name != OURS and ours is not None and ours.median > 0:
            text += f" {res.median / ours.median:.3g}x"
        out.append(text)
    return out


def render_text(table: list[tuple[str, list[str]]]) -> str:
    header = ["workload", *SYSTEMS]
    body = [[label, *row] for label, row in table]
    widths = [max(len(r[i]) for r in [header, *body]) for i in range(len(header))]
    lines = ["  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip() for r in [header, *body]]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join(lines)


def render_markdown(table: list[tuple[str, list[str]]]) -> str:
    lines = ["| workload | " + " | ".join(SYSTEMS) + " |",
             "|---|" + "---|" * len(SYSTEMS)]
    lines += [f"| {label} | " + " | ".join(row) + " |" for label, row in table]
    return "\n".join(lines)


# ---------------------------------------------------------------------------------------
# The speed and size targets the project holds itself to, judged from the run

def targets(measured: dict[str, tuple[Row, dict[str, Result]]]) -> list[str]:
    lines = []

    def verdict(ok: bool | None) -> str:
        return "not measured" if ok is None else ("met" if ok else "NOT MET")

    def rows_of(workload: int, prefix: str = "") -> list[tuple[str, Row, dict[str, Result]]]:
        return [(label, row, res) for label, (row, res) in measured.items()
                if row.workload == workload and label.startswith(prefix)]

    # Every timed workload faster than every peer.
    losses = []
    timed = [(label, res) for label, (row, res) in measured.items() if not row.memory]
    for label, res in timed:
        slower = [f"{peer} {res[peer].median / res[OURS].median:.2f}x" for peer in PEERS
                  if peer in res and res[peer].median <= res[OURS].median]
        if slower:
            losses.append(f"{label}: {', '.join(slower)}")
    ok = None if not timed else not losses
    lines.append(f"[{verdict(ok)}] every workload faster than every peer"
                 + (f" (peers as fast or faster: {'; '.join(losses)})" if losses else ""))

    # Build >= 3x and to-plain >= 5x faster than the fastest peer.
    for workload, prefix, need in ((1, "1 build", 3.0), (2, "2 to plain ·", 5.0)):
        parts, ok = [], None
        for label, row, res in rows_of(workload, prefix):
            fastest = min((res[p].median, p) for p in PEERS if p in res)
            ratio = fastest[0] / res[OURS].median
            ok = (ok is not False) and ratio >= need
            parts.append(f"{label.split('· ')[1]} {ratio:.2f}x vs {fastest[1]}")
        lines.append(f"[{verdict(ok)}] workload {workload} >= {need:g}x faster than the fastest peer"
                     + (f" ({'; '.join(parts)})" if parts else ""))

    # To-plain no slower than the marshal round trip of the same plain data.
    parts, ok = [], None
    for label, row, res in rows_of(2, "2 to plain ·"):
        ratio = res[OURS].median / res["marshal"].median
        ok = (ok is not False) and ratio <= 1.0
        parts.append(f"{label.split('· ')[1]} {ratio:.2f}x marshal")
    lines.append(f"[{verdict(ok)}] workload 2 no slower than the marshal round trip"
                 + (f" ({'; '.join(parts)})" if parts else ""))

    # Build within 3x of json.loads of the document's text.
    found = rows_of(1, "1 build · ec2")
    ok, extra = None, ""
    if found:
        res = found[0][2]
        ratio = res[OURS].median / res["json"].median
        ok, extra = ratio <= 3.0, f" ({ratio:.2f}x json.loads)"
    lines.append(f"[{verdict(ok)}] workload 1 on the ec2 document within 3x of json.loads of its text{extra}")

    def within(workload_prefix: str, other: str, limit: float, text: str) -> None:
        found = [r for label, r in measured.items() if label.startswith(workload_prefix)]
        ok, extra = None, ""
        if found:
            res = found[0][1]
            if other in res:
                ratio = res[OURS].median / res[other].median
                ok, extra = ratio <= limit, f" ({ratio:.2f}x)"
        lines.append(f"[{verdict(ok)}] {text}{extra}")

    within("3 read 4 deep", "SimpleNamespace", 2.0,
           "workload 3 existing read within 2x of SimpleNamespace")
    within("4 assign scalar", "object", 4.0, "workload 4 scalar assignment within 4x of a plain object")

    within("5 _mv_get name · 10,000", "tarvel_var on 10 vars", 1.3,
           "workload 5 plain-name _mv_get on 10,000 within 1.3x of on 10 (side by side)")

    within("6 _mv_keys", "list(store.__dict__)", 3.0,
           "workload 6 _mv_keys() within 3x of list(store.__dict__) of the same store")

    parts, ok = [], None
    for label, row, res in rows_of(8, "8 peak"):
        plain = res[OURS].median / res["dict/list"].median
        best = min((res[p].median, p) for p in PEERS if p in res)
        ok = (ok is not False) and plain <= 2.0 and res[OURS].median <= best[0]
        parts.append(f"{label.split('· ')[1]} {plain:.2f}x dict/list, {res[OURS].median / best[0]:.2f}x {best[1]}")
    lines.append(f"[{verdict(ok)}] workload 8 peak <= 2x the plain containers and <= every peer's"
                 + (f" ({'; '.join(parts)})" if parts else ""))
    return lines


# ---------------------------------------------------------------------------------------

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


def versions(ec2_file: str) -> str:
    parts = [f"tarvel_var {importlib.metadata.version('tarvel-var')}"]
    parts += [f"{dist} {importlib.metadata.version(dist)}" for dist in DISTRIBUTIONS.values()]
    parts.append(f"botocore {importlib.metadata.version('botocore')} (ec2/{ec2_file})")
    return ", ".join(parts)


LEGEND = """\
Each cell: median time per call ±spread (interquartile range, % of the median), then the
system's time divided by tarvel_var's (above 1x: tarvel_var is faster). Memory rows: the
tracemalloc peak while building, and what the built tree keeps allocated, with the same ratio.
What each column runs:
- Box, addict, munch, EasyDict, DotMap: constructor (munchify for munch); to plain with
  to_dict(), to_dict(), unmunchify(), none (n/a), toDict(); reads by attribute chain; get by
  name as .get("k5"), by path as .get("a").get("b").get("c"); keys()/items()/clear(); repr()
  and str() in the _mv_to_string row. All five convert every nested dict while they are built
  (checked at start-up; a peer found leaving plain dicts would be walked once after building).
  On assignment addict, munch and DotMap keep a plain dict, so their nested assignment wraps
  the value (Dict(v), munchify(v), DotMap(v)); Box and EasyDict convert by themselves.
  A missing attribute raises in Box, munch, EasyDict (caught); addict returns an empty Dict;
  the default DotMap inserts an empty DotMap, so its row uses DotMap(..., _dynamic=False).
- dict/list: the plain data. Build and to plain: a recursive copy of the dicts and lists that
  shares the leaves (as every store does); reads by item; get by dict.get; missing by
  dict.get; params row: "&".join of k=v.
- object, SimpleNamespace: the data converted recursively into nested instances; reads by
  attribute chain, get by getattr, listing through __dict__; floors keep assigned dicts as is.
- json: json.loads of the data's text (build and memory), json.loads(json.dumps(data)) (to
  plain), json.dumps (_mv_to_string row). marshal: marshal.loads(marshal.dumps(data)).
Each row runs in a fresh process: tarvel_var's times and sizes depend on which stores the
process built before (a plain-name _mv_get, and the size of the 1,000 records, among others)."""


def run_row(index: int, quick: bool, lazy: set[str]) -> list[dict[str, Any]]:
    """Measure one row of the plan; a memory row gives a second row of what stays allocated."""
    row = plan(Data(), lazy)[index][1]()
    if not row.memory:
        rounds, target, budget = (3, 0.002, 0.0) if quick else (ROUNDS, 0.01, 6.0)
        found = [(row, time_row(row, rounds, target, budget))]
    else:
        peaks, kept = measure_memory(row)
        found = [(row, peaks), (Row(8, row.label.replace("peak", "kept"), {}, memory=True), kept)]
    return [{"label": r.label, "workload": r.workload, "memory": r.memory,
             "results": {name: [res.median, res.spread] for name, res in results.items()}}
            for r, results in found]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="a fast smoke run: few rounds, short samples")
    parser.add_argument("--only", metavar="WORKLOADS",
                        help="comma-separated workload numbers (1-8) to run, e.g. 1,5")
    parser.add_argument("--markdown", nargs="?", const=str(Path(__file__).with_name("results.md")),
                        metavar="PATH", help="also write the table as Markdown (default benchmarks/results.md)")
    parser.add_argument("--row", type=int, help=argparse.SUPPRESS)   # the child's one row
    parser.add_argument("--walk", default="", help=argparse.SUPPRESS)  # peers found lazy
    args = parser.parse_args()
    only = {int(w) for w in args.only.split(",")} if args.only else set(range(1, 9))

    if args.row is not None:
        lazy = {name for name in args.walk.split(",") if name}
        print(json.dumps(run_row(args.row, args.quick, lazy)))
        return

    started = time.perf_counter()
    load = os.getloadavg()[0]
    data = Data()
    check_round_trips(data.sets["records"][0])
    lazy = check_eager(data.sets["records"][0])
    for name, why in lazy.items():
        print(f"note: {name}: {why}; its build row walks the tree once", file=sys.stderr)

    # Each row runs in a process of its own: how fast and how large the stores are depends
    # on which stores the process built before, so a row must not inherit the others' history.
    measured: dict[str, tuple[Row, dict[str, Result]]] = {}
    table: list[tuple[str, list[str]]] = []
    for index, (workload, _) in enumerate(plan(data, set(lazy))):
        if workload not in only:
            continue
        t0 = time.perf_counter()
        command = [sys.executable, "-P", str(Path(__file__).resolve()), "--row", str(index),
                   "--walk", ",".join(lazy)] + (["--quick"] if args.quick else [])
        child = subprocess.run(command, capture_output=True, text=True)
        if child.returncode != 0:
            sys.exit(f"row {index} failed:\n{child.stderr}")
        for found in json.loads(child.stdout):
            row = Row(found["workload"], found["label"], {}, memory=found["memory"])
            results = {name: Result(*pair) for name, pair in found["results"].items()}
            measured[row.label] = (row, results)
            table.append((row.label, cells(row, results)))
            print(f"  {row.label}: {time.perf_counter() - t0:.1f} s", file=sys.stderr, flush=True)

    verdicts = targets(measured)
    elapsed = time.perf_counter() - started
    stamp = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    head = [f"Machine: {machine()}", f"Date: {stamp}", f"Versions: {versions(data.ec2_file)}",
            f"Run: {'--quick, 3 rounds' if args.quick else f'full, {ROUNDS} to {3 * ROUNDS} rounds'}, {elapsed:.0f} s; "
            f"load average at start {load:.2f} (other work on the machine widens the spread)"]
    print("\n".join(head))
    print()
    print(render_text(table))
    print()
    print("\n".join(verdicts))
    if args.markdown:
        doc = ["# tarvel_var next to its peers", "", *[f"- {line}" for line in head], "",
               render_markdown(table), "", "Targets:", "",
               *[f"- {line}" for line in verdicts], "", LEGEND, ""]
        Path(args.markdown).write_text("\n".join(doc), encoding="utf-8")
        print(f"\nwrote {args.markdown}")


if __name__ == "__main__":
    main()
