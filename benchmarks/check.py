"""The speed and size targets the project holds itself to, judged from a benchmark run.

    python -P benchmarks/check.py [RESULTS_JSON]      (`make bench-check`)

Reads the figures that `make bench` wrote (benchmarks/results.json by default), prints each
target as met, NOT MET, or not measured (the row was not run, or the store does not support
the operation yet), and exits 1 unless every target is met. All figures compared are medians
taken in the same run; a target that compares two cells of one row compares samples taken
side by side.
"""

from __future__ import annotations

import json
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable

OURS = "tarvel_var"
DOCUMENTS = {"ec2": "ec2", "records": "1,000 records", "config": "small config"}
GROWTH = (1, 4, 16)

# Build time over json.loads of the same text, per document, as measured before the store's
# public class became native (2026-12-08): building may not get slower than this.
BUILD_BASELINE = {"ec2": 1.55, "records": 1.82, "config": 1.80}
NOISE = 1.05  # the allowance for run-to-run noise in a ratio that must not grow


class Measured:
    """The medians of one run, by row id and column."""

    def __init__(self, doc: dict[str, Any]):
        self.meta = doc["meta"]
        self.roles = {s["name"]: s["role"] for s in self.meta["systems"]}
        self.views = {s["name"] for s in self.meta["systems"] if s.get("view")}
        self.rows = {row["id"]: row for row in doc["rows"]}
        self.absent: set[str] = set()  # rows a target asked for that the run did not have

    def row(self, row: str) -> dict[str, Any]:
        if row not in self.rows:
            self.absent.add(row)
        return self.rows.get(row, {})

    def cell(self, row: str, system: str) -> float | None:
        found = self.row(row).get("results", {}).get(system)
        return found[0] if found else None

    def extra(self, row: str, name: str) -> float | None:
        found = self.row(row).get("extras", {}).get(name)
        return found[0] if found else None

    def peers(self, row: str) -> dict[str, float]:
        results = self.row(row).get("results", {})
        return {name: cell[0] for name, cell in results.items() if self.roles.get(name) == "peer"}

    def fastest_peer(self, *rows: str) -> tuple[float, str] | None:
        found = [(median, name) for row in rows for name, median in self.peers(row).items()]
        return min(found) if found else None

    def nodes(self, row: str) -> int | None:
        return self.row(row).get("nodes")


@dataclass
class Verdict:
    target: str
    ok: bool | None   # None: not measured
    detail: str

    def line(self) -> str:
        state = "not measured" if self.ok is None else ("met" if self.ok else "NOT MET")
        return f"[{state}] {self.target}" + (f" ({self.detail})" if self.detail else "")


def all_of(parts: list[tuple[bool | None, str]]) -> tuple[bool | None, str]:
    """Met when every part is, not met when any part is not, else not measured."""
    oks = [ok for ok, _ in parts]
    ok: bool | None = False if False in oks else (None if None in oks or not oks else True)
    return ok, "; ".join(text for _, text in parts)


def ratio_part(label: str, ours: float | None, other: float | None, other_name: str,
               limit: float, at_least: bool = False) -> tuple[bool | None, str]:
    """`ours` against `other`: at most `limit` times it (at_least: `other` at least `limit`
    times ours, i.e. ours `limit`x faster)."""
    if ours is None or other is None or ours <= 0:
        missing = "n/a for ours" if ours is None else f"{other_name} not measured"
        return None, f"{label}: {missing}"
    if at_least:
        ratio = other / ours
        return ratio >= limit, f"{label} {ratio:.2f}x faster than {other_name}"
    ratio = ours / other
    return ratio <= limit, f"{label} {ratio:.2f}x {other_name}"


def faster_than_fastest_peer(m: Measured, rows: dict[str, str], need: float) -> tuple[bool | None, str]:
    parts: list[tuple[bool | None, str]] = []
    for row, label in rows.items():
        fastest = m.fastest_peer(row)
        parts.append(ratio_part(label, m.cell(row, OURS), fastest and fastest[0],
                                fastest[1] if fastest else "any peer", need, at_least=True))
    return all_of(parts)


def within_fastest_peer(m: Measured, row: str, label: str, limit: float,
                        peer_rows: tuple[str, ...] = ()) -> tuple[bool | None, str]:
    fastest = m.fastest_peer(*(peer_rows or (row,)))
    return ratio_part(label, m.cell(row, OURS), fastest and fastest[0],
                      f"the fastest peer ({fastest[1]})" if fastest else "any peer", limit)


def per_node(m: Measured, op: str, system: str) -> dict[int, float] | None:
    costs = {}
    for times in GROWTH:
        row = f"growth/{op}/{times}"
        median, nodes = m.cell(row, system), m.nodes(row)
        if median is None or not nodes:
            return None
        costs[times] = median / nodes
    return costs


def per_node_steady(m: Measured, op: str, limit: float) -> tuple[bool | None, str]:
    costs = per_node(m, op, OURS)
    if costs is None:
        return None, "not measured at every size"
    unit, scale = ("B", 1.0) if op.startswith("memory") else ("ns", 1e9)
    worst = max(costs.values()) / min(costs.values())
    shown = ", ".join(f"×{t} {c * scale:.1f} {unit}" for t, c in costs.items())
    detail = f"per node {shown}: largest/smallest {worst:.2f}"
    floor = per_node(m, op, "dict/list")
    if floor:  # how steady the plain containers' own cost was in the same run
        detail += f"; the dict/list floor's {max(floor.values()) / min(floor.values()):.2f}"
    return worst <= limit, detail


def every_row_ahead(m: Measured) -> tuple[bool | None, str]:
    losses, unmeasured = [], []
    for row_id, row in m.rows.items():
        peers = m.peers(row_id)
        if row["kind"] != "time" or not peers:
            continue
        ours = m.cell(row_id, OURS)
        if ours is None:
            unmeasured.append(row["label"])
            continue
        slower = [f"{peer} {median / ours:.2f}x" for peer, median in sorted(peers.items())
                  if median <= ours]
        if slower:
            losses.append(f"{row['label']}: {', '.join(slower)}")
    detail = "; ".join(([f"peers as fast or faster: {'; '.join(losses)}"] if losses else [])
                       + ([f"n/a for ours: {', '.join(unmeasured)}"] if unmeasured else []))
    return (False if losses else (None if unmeasured else True)), detail


def memory_target(m: Measured) -> tuple[bool | None, str]:
    parts: list[tuple[bool | None, str]] = []
    for key, label in DOCUMENTS.items():
        row = f"memory/peak/{key}"
        ours, plain = m.cell(row, OURS), m.cell(row, "dict/list")
        best = min(((v, k) for k, v in m.peers(row).items()), default=None)
        if ours is None or plain is None or best is None:
            parts.append((None, f"{label} not measured"))
            continue
        ok = ours <= 2.0 * plain and ours < best[0]
        text = f"{label} {ours / plain:.2f}x dict/list, {ours / best[0]:.2f}x {best[1]}"
        if best[1] in m.views:
            # A view keeps the plain dicts it is given: name the smallest peer that converts too.
            converting = min(((v, k) for k, v in m.peers(row).items() if k not in m.views), default=None)
            if converting:
                text += (f" (which keeps the plain dicts; {ours / converting[0]:.2f}x {converting[1]}, "
                         "the smallest peer that converts)")
        parts.append((ok, text))
    return all_of(parts)


def memory_below_converting_peers(m: Measured) -> tuple[bool | None, str]:
    parts: list[tuple[bool | None, str]] = []
    for key, label in DOCUMENTS.items():
        row = f"memory/peak/{key}"
        ours = m.cell(row, OURS)
        best = min(((v, k) for k, v in m.peers(row).items() if k not in m.views), default=None)
        if ours is None or best is None:
            parts.append((None, f"{label} not measured"))
            continue
        parts.append((ours < best[0], f"{label} {ours / best[0]:.2f}x {best[1]}"))
    return all_of(parts)


def build_not_slower(m: Measured, column: str, extra: bool) -> tuple[bool | None, str]:
    parts: list[tuple[bool | None, str]] = []
    for key, label in DOCUMENTS.items():
        row = f"build/{key}"
        ours = m.extra(row, column) if extra else m.cell(row, column)
        limit = BUILD_BASELINE[key] * NOISE
        part = ratio_part(label, ours, m.cell(row, "json"), "json.loads", limit)
        parts.append((part[0], f"{part[1]} (at most {BUILD_BASELINE[key]:.2f}x)"))
    return all_of(parts)


def reserved_name_check(m: Measured) -> tuple[bool | None, str]:
    parts: list[tuple[bool | None, str]] = []
    for key, label in DOCUMENTS.items():
        row = f"build/{key}"
        parts.append(ratio_part(label, m.cell(row, OURS), m.extra(row, "tarvel_var via _mv_add"),
                                "the module's _mv_add", 1.03))
    return all_of(parts)


Target = tuple[str, Callable[[Measured], tuple[bool | None, str]]]


def public_row(row: str, floor: str, limit: float, floor_label: str = "") -> Callable[[Measured], tuple[bool | None, str]]:
    """The public method of a row against the floor's own (dict's, SimpleNamespace's) in the
    same run, with the row's floor-of-the-mechanism extras named beside it."""
    def judge(m: Measured) -> tuple[bool | None, str]:
        ok, detail = ratio_part(row.split("/", 1)[1], m.cell(row, OURS), m.cell(row, floor),
                                floor_label or floor, limit)
        for name, cell in m.row(row).get("extras", {}).items():
            ours = m.cell(row, OURS)
            if ours and cell:
                detail += f"; {name}: ours {ours / cell[0]:.2f}x it"
        return ok, detail
    return judge


def linear_per_node(row: str, base: str, limit: float, m: Measured) -> tuple[bool | None, str]:
    ours, once = m.cell(row, OURS), m.cell(base, OURS)
    nodes, base_nodes = m.row(row).get("nodes"), m.row(base).get("nodes")
    if None in (ours, once) or not nodes or not base_nodes:
        return None, f"{row}: not measured"
    return ratio_part("per node", ours / nodes, once / base_nodes, "once", limit)


def public_load(m: Measured, row: str, floor: str, limit: float, extra: bool) -> tuple[bool | None, str]:
    other = m.extra(row, floor) if extra else m.cell(row, floor)
    return ratio_part(row.split("/", 1)[1], m.cell(row, OURS), other, floor, limit)

def import_cost(m: Measured) -> tuple[bool | None, str]:
    ours, bare = m.cell("process/import", OURS), m.extra("process/import", "python -c pass")
    if ours is None or bare is None:
        return None, "import: not measured"
    return ours - bare <= 0.005, f"import {(ours - bare) * 1e3:.1f} ms over python -c pass"


TARGETS: list[Target] = [
    ("every timed row: faster than every peer", every_row_ahead),
    # Building
    ("build: at least 5x faster than the fastest peer on each document",
     lambda m: faster_than_fastest_peer(m, {f"build/{k}": v for k, v in DOCUMENTS.items()}, 5.0)),
    ("build of the ec2 document: 0.8x json.loads of its text or less",
     lambda m: ratio_part("ec2", m.cell("build/ec2", OURS), m.cell("build/ec2", "json"), "json.loads", 0.8)),
    ("build: no slower against json.loads than before the native public class",
     lambda m: build_not_slower(m, OURS, extra=False)),
    ("build with strict=True: no slower against json.loads than before the native public class",
     lambda m: build_not_slower(m, "tarvel_var strict", extra=True)),
    ("build: the public constructor within 3% of filling a store by the module's _mv_add "
     "(bounds the cost of refusing reserved names)", reserved_name_check),
    # Converting back
    ("to plain: at least 5x faster than the fastest peer on each document",
     lambda m: faster_than_fastest_peer(m, {f"to_plain/{k}": v for k, v in DOCUMENTS.items()}, 5.0)),
    ("to plain of the ec2 document: at most half a marshal round trip",
     lambda m: ratio_part("ec2", m.cell("to_plain/ec2", OURS), m.cell("to_plain/ec2", "marshal"),
                          "marshal", 0.5)),
    # Reading and writing
    ("read 4 deep: 0.5x SimpleNamespace or less",
     lambda m: ratio_part("ec2", m.cell("read/existing", OURS), m.cell("read/existing", "SimpleNamespace"),
                          "SimpleNamespace", 2.0)),
    ("assign a scalar: within 3x of a plain object's attribute assignment",
     lambda m: ratio_part("config", m.cell("assign/scalar", OURS), m.cell("assign/scalar", "object"),
                          "object", 3.0)),
    ("assign a nested dict: at least 5x faster than the fastest peer",
     lambda m: faster_than_fastest_peer(m, {"assign/nested": "config"}, 5.0)),
    ("s[name]: no slower than the fastest peer's get or item read",
     lambda m: within_fastest_peer(m, "map/getitem", "10 vars", 1.0, ("map/getitem", "get/name/10"))),
    ("_mv_get(name): within 2x of the fastest peer's get",
     lambda m: all_of([within_fastest_peer(m, f"get/name/{n}", f"{n:,} vars", 2.0) for n in (10, 10000)])),
    ("_mv_get(name) on 10,000 variables: within 1.3x of on 10 (side by side)",
     lambda m: ratio_part("10,000 vars", m.cell("get/name/10000", OURS),
                          m.extra("get/name/10000", "tarvel_var on 10 vars"), "10 vars", 1.3)),
    ('_mv_get("$.a.b.c"): within 2x of the fastest peer\'s chained get',
     lambda m: all_of([within_fastest_peer(m, f"get/path/{n}", f"{n:,} vars", 2.0) for n in (10, 10000)])),
    # Listings
    ("_mv_clear() of 10,000 variables: within 2x of the fastest peer's clear()",
     lambda m: within_fastest_peer(m, "list/clear", "10,000 vars", 2.0)),
    ("_mv_keys() and _mv_items(): at parity with the fastest peer (at most 1.05x)",
     lambda m: all_of([within_fastest_peer(m, f"list/{op}", op, 1.05) for op in ("keys", "items")])),
    ("_mv_keys(): within 3x of list(store.__dict__) of the same store",
     lambda m: ratio_part("10,000 vars", m.cell("list/keys", OURS), m.extra("list/keys", "list(store.__dict__)"),
                          "list(store.__dict__)", 3.0)),
    # Memory
    ("memory: peak of building within 2x of the plain containers and below every peer",
     memory_target),
    ("memory: peak of building below every peer that converts the plain dicts",
     memory_below_converting_peers),
    # Growth
    ("growth: build costs the same per node at 1x, 4x and 16x the ec2 document (within 15%)",
     lambda m: per_node_steady(m, "build", 1.15)),
    ("growth: to plain costs the same per node at 1x, 4x and 16x (within 15%)",
     lambda m: per_node_steady(m, "to_plain", 1.15)),
    ("growth: memory kept grows linearly, the same per node at 1x, 4x and 16x (within 15%)",
     lambda m: per_node_steady(m, "memory/kept", 1.15)),
    # The mapping protocol
    ("s[name]: within 2x of d[name] on a plain dict",
     lambda m: ratio_part("10 vars", m.cell("map/getitem", OURS), m.cell("map/getitem", "dict/list"), "dict", 2.0)),
    ("name in s: within 2x of the same on a dict",
     lambda m: ratio_part("10 vars", m.cell("map/contains", OURS), m.cell("map/contains", "dict/list"), "dict", 2.0)),
    ("len(s): within 2x of the same on a dict",
     lambda m: ratio_part("10 vars", m.cell("map/len", OURS), m.cell("map/len", "dict/list"), "dict", 2.0)),
    ("s == t on two ec2 trees: within 1.3x of == on the two plain trees",
     lambda m: ratio_part("ec2", m.cell("map/equal", OURS), m.cell("map/equal", "dict/list"), "dict ==", 1.3)),
    ("dict(s): within 3x of dict(d)",
     lambda m: ratio_part("10 vars", m.cell("map/dict", OURS), m.cell("map/dict", "dict/list"), "dict(d)", 3.0)),
    # The public methods against dict's own
    ("clear() of 10,000 variables: within 3x of dict.clear() of the same names",
     public_row("public/clear", "dict/list", 3.0, "dict.clear()")),
    ("dict(s): within 1.1x of dict() of a mapping proxy (a mapping in C, not a dict)",
     lambda m: public_load(m, "public/dict", "dict(mappingproxy)", 1.1, extra=True)),
    ("list(s): within 1.3x of list(d)",
     public_row("public/list", "dict/list", 1.3, "list(d)")),
    ("iteration: within 2x of a dict's",
     public_row("public/iterate", "dict/list", 2.0, "dict")),
    ("keys() and items(): within 1.5x of list(d) and list(d.items())",
     lambda m: all_of([public_row("public/keys", "dict/list", 1.5, "list(d)")(m),
                       public_row("public/items", "dict/list", 1.5, "list(d.items())")(m)])),
    ("get, get of a missing name, pop with a default, setdefault, update: within 2.2x of dict's",
     lambda m: all_of([public_row(f"public/{op}", "dict/list", 2.2, "dict")(m)
                       for op in ("get_name", "get_missing", "pop_default", "setdefault", "update")])),
    ('get("$.a.b.c"): within 1.8x of a chained d.get("a").get("b").get("c")',
     public_row("public/get_path", "dict/list", 1.8, "chained get")),
    ('s.x = 1 and s["x"] = 1: within 1.5x of a SimpleNamespace attribute set',
     lambda m: all_of([public_row(f"public/{op}", "SimpleNamespace", 1.5)(m) for op in ("setattr", "setitem")])),
    ("TarvelVar.load of the ec2 JSON document: within 1.3x of json.load",
     lambda m: public_load(m, "public/load_json", "json", 1.3, extra=False)),
    ("TarvelVar.load of the ec2 JSON document: within 1.2x of json.loads of its text",
     lambda m: public_load(m, "public/load_json", "json.loads(text)", 1.2, extra=True)),
    ("TarvelVar.load of the 1,000 records as JSON: 0.8x json.loads of their text or less",
     lambda m: public_load(m, "public/load_records", "json.loads(text)", 0.8, extra=True)),
    ("TarvelVar.load of YAML, the ec2 document and the small config: 0.2x PyYAML's C safe loader or less",
     lambda m: all_of([public_load(m, f"public/{op}", "PyYAML C safe loader", 0.2, extra=True)
                       for op in ("load_yaml", "load_yaml_config")])),
    ("TarvelVar.load of TOML, the ec2 document and the small config: 0.2x tomllib or less",
     lambda m: all_of([public_load(m, f"public/{op}", "tomllib", 0.2, extra=True)
                       for op in ("load_toml", "load_toml_config")])),
    # Frozen stores, references, schemas
    ("reads of a frozen store: as fast as of an unfrozen one (within 5%, the noise)",
     lambda m: all_of([public_load(m, f"features/{op}", "unfrozen", 1.05, extra=True)
                       for op in ("frozen_getitem", "frozen_getattr")])),
    ("resolve() of the ec2 document, which holds no references: no slower than its to_dict()",
     lambda m: public_load(m, "features/resolve", "to_dict()", 1.0, extra=True)),
    ("freeze() of the ec2 document: no slower than its to_dict()",
     lambda m: public_load(m, "features/freeze", "to_dict()", 1.0, extra=True)),
    ("loads(text, frozen=True) of the ec2 document: within 1.3x of loads(text)",
     lambda m: public_load(m, "features/load_frozen", "loads(text)", 1.3, extra=True)),
    ("validate(schema): within 1.5x of pydantic's validation of to_dict()",
     lambda m: public_load(m, "features/validate", "pydantic of to_dict()", 1.5, extra=True)),
    ("to_dict() of the ec2 document: within 1.2x of a native copy of the same plain dicts and lists",
     lambda m: public_load(m, "features/to_dict", "native copy", 1.2, extra=True)),
    # Layers
    ("compose() of two files: within 1.05x of loading both and merging by hand",
     lambda m: public_load(m, "layers/compose", "load both and merge", 1.05, extra=True)),
    ("origins() of the composed ec2 document: within 3x of its to_dict()",
     lambda m: public_load(m, "layers/origins/1", "to_dict()", 3.0, extra=True)),
    ("origins() stays linear: per leaf, the ec2 document 4x over within 1.3x of it once",
     lambda m: linear_per_node("layers/origins/4", "layers/origins/1", 1.3, m)),
    ("diff() of two ec2 documents: within 1.5x of == of their plain dicts",
     lambda m: public_load(m, "layers/diff", "== of the plain dicts", 1.5, extra=True)),
    # Whole processes
    ("import tarvel_var: at most 5 ms over python -c pass", import_cost),
    ("the command line: --get of one path and the whole document on one line, 0.5x jq or less",
     lambda m: all_of([public_load(m, f"process/{op}", "jq", 0.5, extra=True) for op in ("cli_get", "cli_dict")])),
    # Settings classes
    ("settings: composing the README's App no slower than pydantic-settings with the same sources",
     lambda m: public_load(m, "settings/compose", "pydantic-settings", 1.0, extra=True)),
    ("settings: a typed field reads within 1.1x of a store variable",
     lambda m: public_load(m, "settings/read", "store variable", 1.1, extra=True)),
    ("settings: a checked assignment no slower than pydantic's validate_assignment",
     lambda m: public_load(m, "settings/assign", "pydantic validate_assignment", 1.0, extra=True)),
]


def evaluate(doc: dict[str, Any]) -> list[Verdict]:
    m = Measured(doc)
    verdicts = []
    for name, judge in TARGETS:
        m.absent.clear()
        ok, detail = judge(m)
        if ok is None and m.absent:
            detail = f"not in this run: {', '.join(sorted(m.absent))}"
        verdicts.append(Verdict(name, ok, detail))
    return verdicts


def main() -> int:
    path = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("results.json")
    if not path.exists():
        print(f"{path} not found: run `make bench` first", file=sys.stderr)
        return 2
    doc = json.loads(path.read_text(encoding="utf-8"))
    meta = doc["meta"]
    print(f"Judging {path.name}: {meta['run']}; {meta['date']}; {meta['machine']}; {meta['load']}")
    verdicts = evaluate(doc)
    for verdict in verdicts:
        print(verdict.line())
    met = sum(v.ok is True for v in verdicts)
    missed = sum(v.ok is False for v in verdicts)
    unmeasured = sum(v.ok is None for v in verdicts)
    print(f"\n{met} met, {missed} not met, {unmeasured} not measured, of {len(verdicts)} targets")
    return 0 if met == len(verdicts) else 1


if __name__ == "__main__":
    sys.exit(main())
