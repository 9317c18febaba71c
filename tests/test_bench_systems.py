"""The benchmark's adapters run every operation they declare, once, on tiny data; peers that
are not installed (they come with the bench extra only) are skipped."""

import importlib
import json
import sys
from pathlib import Path

import pytest

BENCH = Path(__file__).resolve().parent.parent / "benchmarks"
sys.path.insert(0, str(BENCH))
runner = importlib.import_module("runner")
systems = importlib.import_module("systems")
sys.path.remove(str(BENCH))

DOC = {"shapes": {"Instance": {"members": {"InstanceId": {"shape": "String"}}}},
       "a": {"b": {"c": 1}}, "k5": 5, "orders": [{"sku": "x", "qty": 2}]}
TEXT = json.dumps(DOC)


def adapter(module):
    try:
        return importlib.import_module(f"systems.{module}").SYSTEM
    except ImportError as error:
        pytest.skip(f"not installed: {error}")


def statements(s):
    """Every operation the adapter declares, with the locals it runs on."""
    tree = lambda: s.load(json.loads(TEXT))  # noqa: E731 - a fresh tree per statement
    ops = {"build": (s.build, {"doc": json.loads(TEXT), "text": TEXT}),
           "read_missing": (s.read_missing, {"t": s.missing_tree(json.loads(TEXT))})}
    for name, variant in s.build_variants().items():
        ops[name] = (variant, {"doc": json.loads(TEXT)})
    for name in ("to_plain", "to_plain_sorted", "assign_scalar", "assign_nested", "keys", "items",
                 "clear", "render_repr", "render_string", "render_params", "length", "to_dict"):
        ops[name] = (getattr(s, name), {"t": tree(), "v": {"x": {"y": 1}}})
    for name, stmt in {"read": s.read(["shapes", "Instance", "members", "InstanceId"]),
                       "get": s.get("k5"), "get_path": s.get_path(["a", "b", "c"]),
                       "getitem": s.getitem("k5"), "contains": s.contains("k5"),
                       **s.path_variants(["a", "b", "c"])}.items():
        ops[name] = (stmt, {"t": tree()})
    ops["equal"] = (s.equal, {"t": tree(), "u": tree()})
    return {name: op for name, op in ops.items() if op[0] is not None}


@pytest.mark.parametrize("module", systems.MODULES)
def test_every_operation_runs(module):
    s = adapter(module)
    for name, (stmt, env) in statements(s).items():
        timer = runner.Timer(runner.Case(stmt, env, s.names))
        assert timer.sample() >= 0, name
    built = s.memory_build(json.loads(TEXT), TEXT)()
    assert built is not None
    if s.to_plain is not None:
        assert s.to_plain_back(s.load(json.loads(TEXT))) == DOC
