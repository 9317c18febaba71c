"""The workloads: the data sets, and the rows of the report, each a statement per system.

Workloads (the number leads each row's label; `--only` takes numbers or names):
  1 build       a tree from the data, for each of three documents
  2 to plain    back to plain dicts and lists (and sorted, ours only)
  3 read        a value four levels deep; a name that is not there
  4 assign      a scalar; a nested dict (converted as the system converts it)
  5 get         a name held in a string, and a three-step path, on 10 and 10,000 variables
  6 listings    keys, items, clear of 10,000 variables
  7 render      repr, query parameters, string
  8 memory      peak and kept memory of building each document
  9 mapping     s[name], name in s, len(s), s == t, dict(s)
 10 growth      build and to plain of 1x, 4x, 16x the ec2 document: per-node cost and memory
 11 public      the public methods against dict's own (10 vars; clear of 10,000), get by path
                against chained gets, assignment against SimpleNamespace, load against the
                parser alone (json.load, PyYAML's C safe loader)
 12 features    reads of a frozen store against an unfrozen one; freeze() of the ec2 document
                against its to_dict(), and loading it frozen against loading it; resolve() of the ec2
                document (no references) against its to_dict(); validate() of the small
                config against pydantic's own validation of its to_dict(); to_dict() of the
                ec2 document against a native copy of its plain dicts and lists
 13 layers      compose() of the ec2 JSON file and a small override file against loading
                both and merging by hand; origins() of the composed ec2 document, 1x and
                4x (linear), and against to_dict(); diff() of two ec2 documents that differ
                in a few places against == of their plain dicts
 14 settings    the README's settings class made from two files, the environment and an
                override against the same model and sources in pydantic-settings; a typed
                field read against a store variable; a checked assignment against pydantic's
                validate_assignment
 15 process     whole processes: `import tarvel_var` against `python -c pass`; the command
                line reading one path of the ec2 file and printing it whole, against jq

The documents: the EC2 service description that botocore ships (4.6 MB of JSON), 1,000
made-up records (each with a nested dict and a list of three dicts), a small configuration.
"""

from __future__ import annotations

import gzip
import importlib.resources
import json
import pickle
import random
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable

from runner import Case
from systems import System
from systems.plain_dict import copy_plain

GROUPS = {1: "build", 2: "to plain", 3: "read", 4: "assign", 5: "get", 6: "listings",
          7: "render", 8: "memory", 9: "mapping", 10: "growth", 11: "public", 12: "features",
          13: "layers", 14: "settings", 15: "process"}
DOCUMENTS = ("ec2", "records", "config")
GROWTH = (1, 4, 16)


# ---------------------------------------------------------------------------------------
# Data

def ec2_document() -> tuple[str, str]:
    """The newest EC2 service description shipped by botocore: its text and its file name."""
    try:
        root = Path(str(importlib.resources.files("botocore"))) / "data" / "ec2"
    except ModuleNotFoundError:
        sys.exit("botocore is missing: install the bench group first (pip install --group bench)")
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
DEEP_READ = ["shapes", "Instance", "members", "InstanceId"]
PATH = ["a", "b", "c"]


def flat_store_data(count: int) -> dict[str, Any]:
    """`count` variables: one nested branch for path lookups, the rest plain integers."""
    data: dict[str, Any] = {"a": {"b": {"c": 1}}}
    data.update((f"k{i}", i) for i in range(1, count))
    return data


def count_nodes(value: Any) -> int:
    """Every dict, list and leaf of a tree."""
    count, stack = 0, [value]
    while stack:
        node = stack.pop()
        count += 1
        if type(node) is dict:
            stack.extend(node.values())
        elif type(node) is list:
            stack.extend(node)
    return count


class Data:
    """The documents, made once per process and only when a row needs them."""

    def __init__(self) -> None:
        self.ec2_text, self.ec2_file = ec2_document()
        self._docs: dict[str, tuple[Any, str]] = {}

    def doc(self, key: str) -> tuple[Any, str]:
        """The plain data of a document and its JSON text."""
        if key not in self._docs:
            if key == "ec2":
                self._docs[key] = (json.loads(self.ec2_text), self.ec2_text)
            else:
                data = make_records() if key == "records" else CONFIG
                self._docs[key] = (data, json.dumps(data))
        return self._docs[key]

    def grown(self, times: int) -> tuple[Any, str]:
        """The ec2 document `times` over, its top-level keys renamed after the first copy
        ("shapes", "shapes_2", ...): the text is put together from the parts of the
        document's text, and parsed once, so no copy shares anything with another."""
        if times == 1:
            return self.doc("ec2")
        parts = {key: json.dumps(value) for key, value in self.doc("ec2")[0].items()}
        members = [f"{json.dumps(key if i == 0 else f'{key}_{i + 1}')}: {part}"
                   for i in range(times) for key, part in parts.items()]
        text = "{" + ", ".join(members) + "}"
        return json.loads(text), text

    def label(self, key: str) -> str:
        if key == "ec2":
            return f"ec2 {len(self.ec2_text) / 1e6:.1f} MB"
        return {"records": "1,000 records", "config": "small config"}[key]


# ---------------------------------------------------------------------------------------
# Rows

@dataclass
class Context:
    data: Data
    systems: list[System]
    lazy: set[str]      # peers found to convert lazily: their build row walks the tree once
    quick: bool
    cache: str | None = None  # a folder for the slow builders' trees, shared by the rows of a run

    def tree(self, s: System, key: str, doc: Any) -> Any:
        """`s.load(doc)`, for a row that times something else. A slow builder's tree (one
        build of the ec2 document takes seconds) is built once per run and pickled: later rows
        load it from the pickle, a tree of their own all the same."""
        if not (s.very_slow_build and self.cache):
            return s.load(doc)
        path = Path(self.cache) / f"{type(s).__module__.rpartition('.')[2]}-{key}.pickle"
        if path.exists():
            return pickle.loads(path.read_bytes())
        tree = s.load(doc)
        path.write_bytes(pickle.dumps(tree, protocol=pickle.HIGHEST_PROTOCOL))
        return tree


@dataclass
class Row:
    id: str
    group: int
    label: str
    cells: dict[str, Case] = field(default_factory=dict)
    extras: dict[str, Case] = field(default_factory=dict)   # side by side, for the targets
    skipped: dict[str, str] = field(default_factory=dict)   # not run in this row, and why
    builds: dict[str, Callable[[], Any]] = field(default_factory=dict)  # memory rows
    nodes: int | None = None
    kind: str = "time"


def case(system: System, stmt: str, **env: Any) -> Case:
    return Case(stmt, env, system.names)


def taking_part(ctx: Context, row: Row, large: bool, only: set[str] | None = None) -> list[System]:
    """The systems of a row: --quick leaves the slow builders out of the rows on large data
    (the ec2 document, the 1,000 records, 10,000 variables), where one of their builds takes
    a second or more; `only` limits a row to some systems."""
    chosen = []
    for system in ctx.systems:
        if only is not None and system.name not in only:
            row.skipped[system.name] = "growth rows run ours and the floors"
        elif large and ctx.quick and system.slow_build:
            row.skipped[system.name] = "left out of the rows on large data by --quick"
        else:
            chosen.append(system)
    return chosen


def row_build(ctx: Context, key: str) -> Row:
    doc, text = ctx.data.doc(key)
    row = Row(f"build/{key}", 1, f"1 build · {ctx.data.label(key)}")
    for s in taking_part(ctx, row, key != "config"):
        if s.build is None:
            continue
        stmt = s.build
        if s.name in ctx.lazy:
            # A peer found to leave plain dicts behind pays for converting them once.
            stmt = f"(lambda t: (_touch(t), t)[1])({stmt})"
        cell = Case(stmt, {"doc": doc, "text": text}, {**s.names, "_touch": touch}, keep=True)
        if s.changes_input:
            # Each call gets a copy of its own, made outside the clock.
            del cell.env["doc"]
            cell.pool, cell.pool_as = (lambda n: [copy_plain(doc) for _ in range(n)]), "doc"
        row.cells[s.name] = cell
        for name, variant in s.build_variants().items():
            row.extras[name] = Case(variant, {"doc": doc}, s.names, keep=True)
    return row


def row_to_plain(ctx: Context, key: str, sort: bool = False) -> Row:
    doc, text = ctx.data.doc(key)
    if sort:
        row = Row(f"to_plain_sorted/{key}", 2, f"2 to plain, sorted · {ctx.data.label(key)}")
    else:
        row = Row(f"to_plain/{key}", 2, f"2 to plain · {ctx.data.label(key)}")
    for s in taking_part(ctx, row, key != "config"):
        stmt = s.to_plain_sorted if sort else s.to_plain
        if stmt is not None:
            tree = s.load_from(doc, text) if s.role == "floor" else ctx.tree(s, key, doc)
            row.cells[s.name] = Case(stmt, {"t": tree}, s.names, keep=True)
    return row


def row_read(ctx: Context, missing: bool) -> Row:
    doc = ctx.data.doc("ec2")[0]
    row = (Row("read/missing", 3, "3 read missing · ec2") if missing
           else Row("read/existing", 3, "3 read 4 deep · ec2"))
    for s in taking_part(ctx, row, True):
        stmt = s.read_missing if missing else s.read(DEEP_READ)
        if stmt is not None:
            own = missing and type(s).missing_tree is not System.missing_tree
            tree = s.missing_tree(doc) if own else ctx.tree(s, "ec2", doc)
            row.cells[s.name] = case(s, stmt, t=tree)
    return row


def row_assign(ctx: Context, nested: bool) -> Row:
    row = (Row("assign/nested", 4, "4 assign nested dict · config") if nested
           else Row("assign/scalar", 4, "4 assign scalar · config"))
    for s in taking_part(ctx, row, False):
        stmt = s.assign_nested if nested else s.assign_scalar
        if stmt is not None:
            row.cells[s.name] = case(s, stmt, t=s.load(CONFIG), v=NESTED_VALUE)
    return row


def row_get(ctx: Context, path: bool, count: int) -> Row:
    what = '"$.a.b.c"' if path else "name"
    row = Row(f"get/{'path' if path else 'name'}/{count}", 5, f"5 _mv_get {what} · {count:,} vars")
    systems = taking_part(ctx, row, count > 10)
    if count > 10 and not path:
        # The 10-variable store again, in this process and built first as in its own row, so
        # that the target comparing the two sizes compares samples taken side by side.
        ours = systems[0]
        row.extras[f"{ours.name} on 10 vars"] = case(ours, ours.get("k5") or "", t=ours.load(flat_store_data(10)))
    source = flat_store_data(count)
    for s in systems:
        stmt = s.get_path(PATH) if path else s.get("k5")
        if stmt is None:
            continue
        tree = ctx.tree(s, f"flat{count}", source)
        row.cells[s.name] = case(s, stmt, t=tree)
        if path:
            for name, variant in s.path_variants(PATH).items():
                row.extras[name] = case(s, variant, t=tree)
    return row


def listing_tree(ctx: Context, s: System, source: dict[str, Any]) -> Any:
    return dict(source) if s.name == "dict/list" else ctx.tree(s, "flat10000", source)


def row_listing(ctx: Context, op: str) -> Row:
    label = {"keys": "_mv_keys()", "items": "_mv_items()", "clear": "_mv_clear()"}[op]
    row = Row(f"list/{op}", 6, f"6 {label} · 10,000 vars")
    source = flat_store_data(10_000)
    for s in taking_part(ctx, row, True):
        stmt = getattr(s, op)
        if stmt is None:
            continue
        if op == "clear":
            def pool(n: int, s: System = s) -> list[Any]:
                return [listing_tree(ctx, s, source) for _ in range(n)]
            row.cells[s.name] = Case(stmt, {}, s.names, pool=pool, max_n=8)
        else:
            tree = listing_tree(ctx, s, source)
            row.cells[s.name] = case(s, stmt, t=tree)
            if op == "keys" and s.role == "ours":
                row.extras["list(store.__dict__)"] = case(s, "list(t.__dict__)", t=tree)
    return row


def row_render(ctx: Context, op: str) -> Row:
    label = {"repr": "repr()", "params": "_mv_to_params()", "string": "_mv_to_string()"}[op]
    row = Row(f"render/{op}", 7, f"7 {label} · config")
    for s in taking_part(ctx, row, False):
        stmt = getattr(s, f"render_{op}")
        if stmt is not None:
            row.cells[s.name] = case(s, stmt, t=s.load(CONFIG))
    return row


def row_memory(ctx: Context, key: str) -> Row:
    doc, text = ctx.data.doc(key)
    row = Row(f"memory/{key}", 8, f"8 memory · {ctx.data.label(key)}", kind="memory")
    for s in taking_part(ctx, row, key != "config"):
        if key == "ec2" and s.very_slow_build:
            row.skipped[s.name] = "one build of the ec2 document under tracemalloc takes about 20 s"
            continue
        row.builds[s.name] = s.memory_build(doc, text)
    return row


def row_mapping(ctx: Context, op: str) -> Row:
    labels = {"getitem": "s[name]", "contains": "name in s", "len": "len(s)", "equal": "s == t",
              "dict": "dict(s)"}
    on_ec2 = op == "equal"
    where = "ec2, two trees" if on_ec2 else "10 vars"
    row = Row(f"map/{op}", 9, f"9 {labels[op]} · {where}")
    source = ctx.data.doc("ec2")[0] if on_ec2 else flat_store_data(10)
    for s in taking_part(ctx, row, on_ec2):
        stmt = {"getitem": s.getitem("k5"), "contains": s.contains("k5"), "len": s.length,
                "equal": s.equal, "dict": s.to_dict}[op]
        if stmt is None:
            continue
        # Two trees built apart, so that no comparison can stop at identity.
        key = "ec2" if on_ec2 else "flat10"
        env = {"t": ctx.tree(s, key, source)}
        if on_ec2:
            env["u"] = ctx.tree(s, key, json.loads(ctx.data.ec2_text))
        row.cells[s.name] = case(s, stmt, **env)
    return row


GROWTH_SYSTEMS = {"tarvel_var", "dict/list", "json", "marshal"}
# json's round trip of the 16x document takes seconds: the growth rows of converting back leave
# it out (the marshal round trip is the floor there).
GROWTH_TO_PLAIN = GROWTH_SYSTEMS - {"json"}


def row_growth(ctx: Context, op: str, times: int) -> Row:
    doc, text = ctx.data.grown(times)
    nodes = count_nodes(doc)
    what = {"build": "build", "to_plain": "to plain", "memory": "memory"}[op]
    row = Row(f"growth/{op}/{times}", 10, f"10 growth {what} · ec2 ×{times}, {nodes:,} nodes",
              nodes=nodes, kind="memory" if op == "memory" else "time")
    for s in taking_part(ctx, row, True, only=GROWTH_TO_PLAIN if op == "to_plain" else GROWTH_SYSTEMS):
        if op == "memory":
            row.builds[s.name] = s.memory_build(doc, text)
        elif op == "build" and s.build is not None:
            row.cells[s.name] = Case(s.build, {"doc": doc, "text": text}, s.names, keep=True)
        elif op == "to_plain" and s.to_plain is not None:
            row.cells[s.name] = Case(s.to_plain, {"t": s.load_from(doc, text)}, s.names, keep=True)
    return row


# The public methods, each as (label, ours, the floor system, its statement): ours on a store of
# 10 variables `t`, the floor on a dict of the same ones (SimpleNamespace for assignment).
PUBLIC_OPERATIONS = {
    "dict": ("dict(s)", "dict(t)", "dict/list", "dict(t)"),
    "list": ("list(s)", "list(t)", "dict/list", "list(t)"),
    "iterate": ("for name in s", "for k in t: pass", "dict/list", "for k in t: pass"),
    "get_name": ("s.get(name)", 't.get("k5")', "dict/list", 't.get("k5")'),
    "get_missing": ("s.get(missing)", 't.get("nope")', "dict/list", 't.get("nope")'),
    "pop_default": ("s.pop(missing, d)", 't.pop("nope", None)', "dict/list", 't.pop("nope", None)'),
    "setdefault": ("s.setdefault(k, v)", 't.setdefault("k5", 0)', "dict/list", 't.setdefault("k5", 0)'),
    "update": ("s.update(k=v)", "t.update(k5=1)", "dict/list", "t.update(k5=1)"),
    "get_path": ('s.get("$.a.b.c")', 't.get("$.a.b.c")', "dict/list", 't.get("a").get("b").get("c")'),
    "keys": ("s.keys()", "t.keys()", "dict/list", "list(t)"),
    "items": ("s.items()", "t.items()", "dict/list", "list(t.items())"),
    "setattr": ("s.x = 1", "t.x = 1", "SimpleNamespace", "t.x = 1"),
    "setitem": ('s["x"] = 1', 't["x"] = 1', "SimpleNamespace", "t.x = 1"),
}


def row_public(ctx: Context, op: str) -> Row:
    by_name = {s.name: s for s in ctx.systems}
    ours = by_name["tarvel_var"]
    if op == "clear":
        return row_public_clear(ctx, ours, by_name["dict/list"])
    if op.startswith("load_"):
        return row_public_load(ctx, ours, op)
    label, stmt, floor_name, floor_stmt = PUBLIC_OPERATIONS[op]
    row = Row(f"public/{op}", 11, f"11 {label} · 10 vars")
    data = {**flat_store_data(10), "a": {"b": {"c": 1}}} if op == "get_path" else flat_store_data(10)
    row.cells[ours.name] = case(ours, stmt, t=ours.load(data))
    floor = by_name[floor_name]
    row.cells[floor.name] = case(floor, floor_stmt, t=floor.load(data))
    if op == "dict":  # the mechanism's floor: dict() of a mapping that is not a dict, in C
        from types import MappingProxyType
        row.extras["dict(mappingproxy)"] = Case("dict(t)", {"t": MappingProxyType(dict(data))})
    if op == "get_name":  # the mechanism's floor: fetching a method through a data descriptor
        row.extras["s.get (the fetch alone)"] = case(ours, "t.get", t=ours.load(data))
    if op == "list":  # the floor of iterating a snapshot of the names: a list, then its list
        row.extras["list(list(d)), a snapshot listed"] = Case("list(list(t))", {"t": dict(data)})
    if op == "get_path":
        row.extras["s.get (the fetch alone)"] = case(ours, "t.get", t=ours.load(data))
    if op in ("keys", "items"):  # the views listed, beside making them
        row.extras[f"list(s.{op}())"] = case(ours, f"list(t.{op}())", t=ours.load(data))
    return row


def row_public_clear(ctx: Context, ours: System, floor: System) -> Row:
    row = Row("public/clear", 11, "11 clear() · 10,000 vars")
    source = flat_store_data(10_000)
    interned = {sys.intern(k): v for k, v in source.items()}

    def stores(n: int) -> list[Any]:
        return [ours.load(source) for _ in range(n)]

    def dicts(n: int, keys: dict[str, Any] = interned) -> list[Any]:
        return [dict(keys) for _ in range(n)]

    row.cells[ours.name] = Case("t.clear()", {}, ours.names, pool=stores, max_n=8)
    # the store holds its names interned, as attribute names are; the floor holds the same
    row.cells[floor.name] = Case("t.clear()", {}, floor.names, pool=dicts, max_n=8)
    row.extras["dict.clear(), names not interned"] = Case(
        "t.clear()", {}, pool=lambda n: [dict(source) for _ in range(n)], max_n=8)
    return row


def row_public_load(ctx: Context, ours: System, op: str) -> Row:
    import tempfile

    folder = Path(ctx.cache or tempfile.mkdtemp())
    if op in ("load_json", "load_records"):
        name = "ec2" if op == "load_json" else "records"
        text = ctx.data.ec2_text if name == "ec2" else json.dumps(ctx.data.doc("records")[0])
        path = folder / f"{name}.json"
        path.write_text(text, encoding="utf-8")
        row = Row(f"public/{op}", 11, f"11 TarvelVar.load(path) · {ctx.data.label(name)} JSON")
        row.cells[ours.name] = Case("TarvelVar.load(p)", {"p": path}, ours.names, keep=True)
        row.cells["json"] = Case("json.load(open(p, encoding='utf-8'))", {"p": path}, {"json": json}, keep=True)
        row.extras["json.loads(text)"] = Case("json.loads(text)", {"text": text}, {"json": json}, keep=True)
        return row
    # YAML and TOML, each of the ec2 document and of the small config, against the C safe
    # loader of PyYAML and against tomllib
    fmt, name = op.removeprefix("load_").split("_") if op.count("_") == 2 else (op.removeprefix("load_"), "ec2")
    data = json.loads(ctx.data.ec2_text) if name == "ec2" else CONFIG
    path = folder / f"{name}.{fmt}"
    row = Row(f"public/{op}", 11, f"11 TarvelVar.load(path) · {ctx.data.label(name)} {fmt.upper()}")
    row.cells[ours.name] = Case("TarvelVar.load(p)", {"p": path}, ours.names, keep=True)
    if fmt == "yaml":
        import yaml

        path.write_text(yaml.dump(data, Dumper=yaml.CSafeDumper), encoding="utf-8")
        row.extras["PyYAML C safe loader"] = Case(
            "yaml.load(open(p, encoding='utf-8'), Loader=yaml.CSafeLoader)", {"p": path}, {"yaml": yaml}, keep=True)
    else:
        import tomllib

        import tomli_w

        path.write_text(tomli_w.dumps(data), encoding="utf-8")
        row.extras["tomllib"] = Case("tomllib.load(open(p, 'rb'))", {"p": path}, {"tomllib": tomllib}, keep=True)
        from tarvel_var._store import toml_document

        # the floor: toml++'s parse, and the plain data made of it
        row.extras["toml_document(text), the native reader alone"] = Case(
            "read(text)", {"text": path.read_text(encoding="utf-8")}, {"read": toml_document}, keep=True)
    return row


PUBLIC_ROWS = ("clear", *PUBLIC_OPERATIONS, "load_json", "load_records", "load_yaml", "load_toml",
               "load_yaml_config", "load_toml_config")


def schema_of(value: Any, name: str = "Config") -> Any:
    """A dataclass that types `value` as it is (nested dicts as nested dataclasses)."""
    import dataclasses

    def typed(key: str, item: Any) -> Any:
        if isinstance(item, dict):
            return schema_of(item, key.title().replace("_", ""))
        return list[Any] if isinstance(item, list) else type(item)

    return dataclasses.make_dataclass(name, [(k, typed(k, v)) for k, v in value.items()])


def row_features(ctx: Context, op: str) -> Row:
    ours = next(s for s in ctx.systems if s.name == "tarvel_var")
    if op == "to_dict":  # against the same copy made natively with no store to ask
        from tarvel_var._store import plain_copy

        doc = ctx.data.doc("ec2")[0]
        row = Row("features/to_dict", 12, f"12 to_dict() · {ctx.data.label('ec2')}")
        row.cells[ours.name] = Case("t.to_dict()", {"t": ours.load(doc)}, keep=True)
        row.extras["native copy"] = Case("copy(d)", {"d": doc}, {"copy": plain_copy}, keep=True)
        return row
    if op in ("frozen_getitem", "frozen_getattr"):
        stmt = 't["k5"]' if op == "frozen_getitem" else "t.k5"
        row = Row(f"features/{op}", 12, f"12 {stmt.replace('t', 's', 1)} of a frozen store · 10 vars")
        data = flat_store_data(10)
        row.cells[ours.name] = Case(stmt, {"t": ours.load(data).freeze()}, ours.names)
        row.extras["unfrozen"] = Case(stmt, {"t": ours.load(data)}, ours.names)
        return row
    if op == "freeze":
        doc = ctx.data.doc("ec2")[0]
        row = Row("features/freeze", 12, f"12 freeze() · {ctx.data.label('ec2')}")
        row.cells[ours.name] = Case("t.freeze()", {}, ours.names, pool=lambda n: [ours.load(doc) for _ in range(n)],
                                    max_n=4)
        row.extras["to_dict()"] = Case("t.to_dict()", {"t": ours.load(doc)}, ours.names)
        return row
    if op == "load_frozen":
        row = Row("features/load_frozen", 12, f"12 loads(text, frozen=True) · {ctx.data.label('ec2')}")
        row.cells[ours.name] = Case("TarvelVar.loads(text, frozen=True)", {"text": ctx.data.ec2_text}, ours.names,
                                    keep=True)
        row.extras["loads(text)"] = Case("TarvelVar.loads(text)", {"text": ctx.data.ec2_text}, ours.names, keep=True)
        return row
    if op == "resolve":
        # its documentation quotes a few "${...}" templates: written otherwise, so that there
        # is nothing to resolve and the row times the search
        doc = json.loads(ctx.data.ec2_text.replace("${", "$("))
        row = Row("features/resolve", 12, f"12 resolve() · {ctx.data.label('ec2')}, no references")
        row.cells[ours.name] = Case("t.resolve()", {"t": ours.load(doc)}, ours.names)
        row.extras["to_dict()"] = Case("t.to_dict()", {"t": ours.load(doc)}, ours.names)
        return row
    import pydantic

    doc = ctx.data.doc("config")[0]
    schema = schema_of(doc)
    adapter = pydantic.TypeAdapter(schema)
    store = ours.load(doc)
    store.validate(schema)  # the schema's checker is made once, as the adapter is
    row = Row("features/validate", 12, f"12 validate(schema) · {ctx.data.label('config')}")
    row.cells[ours.name] = Case("t.validate(schema)", {"t": store, "schema": schema}, ours.names)
    row.extras["pydantic of to_dict()"] = Case("adapter.validate_python(t.to_dict())",
                                               {"t": store, "adapter": adapter})
    # the floor of any check that gives a store: the checked data dumped back to plain data
    row.extras["pydantic of to_dict(), dumped"] = Case("adapter.dump_python(adapter.validate_python(t.to_dict()))",
                                                       {"t": store, "adapter": adapter})
    return row


FEATURE_ROWS = ("frozen_getitem", "frozen_getattr", "freeze", "load_frozen", "resolve", "validate", "to_dict")


def changed_copy(doc: dict[str, Any]) -> dict[str, Any]:
    """`doc` with a few values changed, one added and one removed, here and there."""
    other = json.loads(json.dumps(doc))
    shapes = other["shapes"]
    for name in list(shapes)[:: max(1, len(shapes) // 5)]:
        shapes[name]["documentation"] = "changed"
    other["metadata"]["added"] = True
    other["operations"].pop(next(iter(other["operations"])))
    return other


def row_layers(ctx: Context, op: str) -> Row:
    import tempfile

    import tarvel_var

    ours = next(s for s in ctx.systems if s.name == "tarvel_var")
    if op == "compose":
        folder = Path(ctx.cache or tempfile.mkdtemp())
        first, second = folder / "ec2.json", folder / "prod.json"
        first.write_text(ctx.data.ec2_text, encoding="utf-8")
        second.write_text(json.dumps({"metadata": {"protocol": "json", "added": 1}, "version": "2"}))
        row = Row("layers/compose", 13, f"13 compose(a, b) · {ctx.data.label('ec2')} and a small file")
        row.cells[ours.name] = Case("TarvelVar.compose(a, b)", {"a": first, "b": second}, ours.names, keep=True)
        # the floor with the record origin() needs: what composing left, as plain data
        row.extras["load both, merge, to_dict()"] = Case(
            "(t := TarvelVar.load(a)).merge(TarvelVar.load(b)) or (t, t.to_dict())", {"a": first, "b": second},
            ours.names, keep=True)
        row.extras["load both and merge"] = Case(
            "(t := TarvelVar.load(a)).merge(TarvelVar.load(b)) or t", {"a": first, "b": second},
            ours.names, keep=True)
        return row
    if op.startswith("origins"):
        times = int(op.rpartition("/")[2])
        doc = ctx.data.grown(times)[0]
        row = Row(f"layers/{op}", 13, f"13 origins() · ec2 {times}x")
        composed = tarvel_var.TarvelVar.compose(doc)
        row.cells[ours.name] = Case("origins(t)", {"t": composed}, {"origins": tarvel_var.origins}, keep=True)
        if times == 1:
            row.extras["to_dict()"] = Case("t.to_dict()", {"t": composed}, keep=True)
        row.nodes = count_nodes(doc)
        return row
    doc = ctx.data.doc("ec2")[0]
    other = changed_copy(doc)
    row = Row("layers/diff", 13, f"13 diff(a, b) · two {ctx.data.label('ec2')} documents")
    row.cells[ours.name] = Case("diff(a, b)", {"a": ours.load(doc), "b": ours.load(other)},
                                {"diff": tarvel_var.diff}, keep=True)
    # == of two equal documents: the comparison that walks everything, as a diff must
    row.extras["== of the plain dicts"] = Case("a == b", {"a": doc, "b": json.loads(ctx.data.ec2_text)})
    # the floor: the stores' own == of two equal documents, which a diff's comparisons are
    row.extras["== of the stores"] = Case("a == b", {"a": ours.load(doc), "b": ours.load(json.loads(ctx.data.ec2_text))})
    return row


LAYER_ROWS = ("compose", "origins/1", "origins/4", "diff")


def row_settings(ctx: Context, op: str) -> Row:
    import tempfile

    import settings_case  # beside this module, as runner and systems are

    ours = next(s for s in ctx.systems if s.name == "tarvel_var")
    app = settings_case.ours()
    if op == "compose":
        defaults, prod = settings_case.write_files(Path(ctx.cache or tempfile.mkdtemp()))
        theirs = settings_case.theirs(defaults, prod)
        row = Row("settings/compose", 14, "14 App.compose(defaults.toml, prod.yaml, env, overrides) · "
                  "the README's settings class")
        row.cells[ours.name] = Case("App.compose(a, b, env='APP', overrides=o)",
                                    {"App": app, "a": defaults, "b": prod, "o": settings_case.OVERRIDES},
                                    keep=True)
        row.extras["pydantic-settings"] = Case("App(db={'port': 6000})", {"App": theirs}, keep=True)
        return row
    import pydantic

    class Db(pydantic.BaseModel):
        model_config = pydantic.ConfigDict(validate_assignment=True, extra="forbid")
        host: str = "localhost"
        port: int = 5432

    cfg = app({"name": "x"})
    cfg.db.port = 5433  # the field's validator is made on the first assignment
    if op == "read":
        row = Row("settings/read", 14, "14 s.db.port · a typed field against a store variable")
        row.cells[ours.name] = Case("t.db.port", {"t": cfg})
        row.extras["store variable"] = Case("t.db.port", {"t": ours.load({"db": {"port": 5432}})})
        return row
    row = Row("settings/assign", 14, "14 s.db.port = '5433' · checked, against pydantic's validate_assignment")
    row.cells[ours.name] = Case("t.port = '5433'", {"t": cfg.db})
    row.extras["pydantic validate_assignment"] = Case("t.port = '5433'", {"t": Db()})
    return row


SETTINGS_ROWS = ("compose", "read", "assign")


def run_process(argv: list[str]) -> int:
    """One whole process, its output thrown away; its exit status."""
    import os

    actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)]
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
    return os.waitstatus_to_exitcode(os.wait4(pid, 0)[1])


def row_process(ctx: Context, op: str) -> Row:
    import shutil
    import tempfile

    ours = next(s for s in ctx.systems if s.name == "tarvel_var")
    python = [sys.executable, "-P"]
    if op == "import":
        row = Row("process/import", 15, "15 python -c 'import tarvel_var' · a whole process")
        row.cells[ours.name] = Case("run(argv)", {"argv": [*python, "-c", "import tarvel_var"]},
                                    {"run": run_process})
        row.extras["python -c pass"] = Case("run(argv)", {"argv": [*python, "-c", "pass"]}, {"run": run_process})
        # the floor: the core binds typing's names at import
        row.extras["python -c 'import typing'"] = Case("run(argv)", {"argv": [*python, "-c", "import typing"]},
                                                        {"run": run_process})
        return row
    path = Path(ctx.cache or tempfile.mkdtemp()) / "ec2.json"
    path.write_text(ctx.data.ec2_text, encoding="utf-8")
    ours_args, jq_args = ((["--get", "$.metadata.apiVersion"], [".metadata.apiVersion"]) if op == "cli_get"
                          else ([], ["-c", "."]))
    what = "--get '$.metadata.apiVersion'" if op == "cli_get" else "--dict, one line"
    row = Row(f"process/{op}", 15, f"15 python -m tarvel_var ec2.json {what} · a whole process")
    row.cells[ours.name] = Case("run(argv)", {"argv": [*python, "-m", "tarvel_var", str(path), *ours_args]},
                                {"run": run_process})
    if shutil.which("jq"):
        row.extras["jq"] = Case("run(argv)", {"argv": ["jq", *jq_args, str(path)]}, {"run": run_process})
    return row


PROCESS_ROWS = ("import", "cli_get", "cli_dict")


def plan(quick: bool = False) -> list[tuple[str, int, Callable[[Context], Row]]]:
    """Every row, as (id, workload, maker); a maker builds the row's trees only when called.
    --quick runs the growth rows at 4x only."""
    rows: list[tuple[str, int, Callable[[Context], Row]]] = []
    rows += [(f"build/{k}", 1, lambda c, k=k: row_build(c, k)) for k in DOCUMENTS]
    rows += [(f"to_plain/{k}", 2, lambda c, k=k: row_to_plain(c, k)) for k in DOCUMENTS]
    rows += [(f"to_plain_sorted/{k}", 2, lambda c, k=k: row_to_plain(c, k, sort=True)) for k in DOCUMENTS]
    rows += [("read/existing", 3, lambda c: row_read(c, False)),
             ("read/missing", 3, lambda c: row_read(c, True))]
    rows += [("assign/scalar", 4, lambda c: row_assign(c, False)),
             ("assign/nested", 4, lambda c: row_assign(c, True))]
    rows += [(f"get/{'path' if p else 'name'}/{n}", 5, lambda c, p=p, n=n: row_get(c, p, n))
             for p in (False, True) for n in (10, 10_000)]
    rows += [(f"list/{op}", 6, lambda c, op=op: row_listing(c, op)) for op in ("keys", "items", "clear")]
    rows += [(f"render/{op}", 7, lambda c, op=op: row_render(c, op)) for op in ("repr", "params", "string")]
    rows += [(f"memory/{k}", 8, lambda c, k=k: row_memory(c, k)) for k in DOCUMENTS]
    rows += [(f"map/{op}", 9, lambda c, op=op: row_mapping(c, op))
             for op in ("getitem", "contains", "len", "equal", "dict")]
    rows += [(f"growth/{op}/{n}", 10, lambda c, op=op, n=n: row_growth(c, op, n))
             for op in ("build", "to_plain", "memory") for n in GROWTH if not quick or n == 4]
    rows += [(f"public/{op}", 11, lambda c, op=op: row_public(c, op)) for op in PUBLIC_ROWS]
    rows += [(f"features/{op}", 12, lambda c, op=op: row_features(c, op)) for op in FEATURE_ROWS]
    rows += [(f"layers/{op}", 13, lambda c, op=op: row_layers(c, op)) for op in LAYER_ROWS]
    rows += [(f"settings/{op}", 14, lambda c, op=op: row_settings(c, op)) for op in SETTINGS_ROWS]
    rows += [(f"process/{op}", 15, lambda c, op=op: row_process(c, op)) for op in PROCESS_ROWS]
    return rows


# ---------------------------------------------------------------------------------------
# Equal work: checks made once at the start of a run

def touch(obj: Any) -> None:
    """Read every node once through the system's public API, so that a lazy peer converts it."""
    stack = [obj]
    while stack:
        node = stack.pop()
        if isinstance(node, (str, bytes)):
            continue
        if hasattr(node, "items"):
            stack.extend(v for _, v in node.items())
        elif isinstance(node, list):
            stack.extend(node)


def check_systems(systems: list[System], sample: dict[str, Any] | None = None) -> dict[str, str]:
    """Every system's way back to plain containers gives the data it was built from, so the
    conversions timed do the same work; and the peers found to leave plain dicts behind after
    construction (their build row walks the tree once). Peers that are views of the dict they
    keep (benedict) are not walked: they wrap again on every access, so a walk converts
    nothing that stays. The sample: 100 records (a nested dict and a list of dicts in each)."""
    sample = make_records(100) if sample is None else sample
    lazy = {}
    for s in systems:
        tree = s.load(sample)
        if s.to_plain is not None and s.to_plain_back(tree) != sample:
            sys.exit(f"{s.name}: the round trip through it changes the data")
        if s.role == "peer" and not s.view:
            left = s.plain_dicts_left(tree)
            if left:
                lazy[s.name] = f"{left} plain dicts left after construction"
    return lazy
