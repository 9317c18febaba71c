"""Failing allocations and failing imports: every operation ends in MemoryError (or another
clean exception) or success, never a crash or a SystemError, and the store stays usable.
Each batch runs in a child interpreter, so that a crash fails a test instead of pytest."""
import sys

import pytest

from conftest import SUBINTERPRETERS, run_child

_testcapi = pytest.importorskip("_testcapi")
if not hasattr(_testcapi, "set_nomemory"):
    pytest.skip("no allocation fault injection in this interpreter", allow_module_level=True)

# For each operation and N = 0, 1, 2, ...: a fresh store, then the operation with the N-th
# allocation failing. Mode "from": that allocation and all later ones fail, until N is past the
# operation's last allocation and it succeeds. Mode "once": only the N-th fails, over the same
# range. A success must give the result of an undisturbed run, where the operation does not
# itself turn errors into a default answer (_mv_get, and the existence test of removal).
OPERATIONS = r'''
import sys, _testcapi
from tarvel_var import TarvelVar, TarvelVarMain

class Sub(TarvelVar):
    def _skip(self):
        return super()._skip()

def fresh():
    return TarvelVar({"a": 1, "b": [1, {"c": 2}, (3, {4})], "d": {"e": {"f": "g"}}, "s": "x"}, strict=False)

def state(s):
    # not repr(s): after a failed allocation the interpreter's own repr() may leave a list
    # marked as being rendered, and show it as [...] from then on
    return s._mv_keys(), s._mv_to_dict()

OPS = {
    "__init__": lambda s: TarvelVar({"a": [1, {"b": 2}], "c": {"d": (3,)}})._mv_to_dict(),
    "_set_class": lambda s: s._set_class(TarvelVar, 1, 0),
    "_mv_add": lambda s: s._mv_add({"d": {"e": {"h": 1}}, "b": [5, {"x": 1}], "n": {"m": [1]}, "z": 0}),
    "_mv_pop": lambda s: s._mv_pop("a"),
    "_mv_pops": lambda s: s._mv_pops(("a", "zz", "b")),
    "_mv_clear": lambda s: s._mv_clear(),
    "_mv_get": lambda s: (s._mv_get("a"), s._mv_get("$.d.e.f"), s._mv_get(["d", "e"]), s._mv_get("zz", 0)),
    "_mv_keys": lambda s: (s._mv_keys(), Sub._mv_keys(s)),
    "_mv_values": lambda s: s._mv_values(),
    "_mv_items": lambda s: s._mv_items(),
    "_mv_to_dict": lambda s: (s._mv_to_dict(), s._mv_to_dict(True)),
    "_mv_to_params": lambda s: s._mv_to_params(),
    "_mv_to_string": lambda s: s._mv_to_string(),
    "_to_dict": lambda s: s._to_dict({"x": [s], "y": (2, {3}), "_g_n_r": 1}, True),
    "_list_to_dict": lambda s: s._list_to_dict([s, (1, [s.d])]),
    "_set_dict": lambda s: (s._set_dict("d", {"q": 1}), s._set_dict("a", {"q": 1}), s._set_dict("n", {"q": {"r": 1}}, True)),
    "_set_list": lambda s: (s._set_list([{"a": 1}, [2, (3,)]], "b"), s._set_list({5}, None)),
    "_skip": lambda s: s._skip(),
    "_mv_set": lambda s: (s._mv_set("z", {"a": [1]}, True), s._mv_set("y", [{"b": 1}])),
    "_mv_set_kwargs": lambda s: s._mv_set_kwargs({"x": 1, "y": [2], "w": {"v": 3}}),
    "_set_attr": lambda s: s._set_attr("u", [{"a": 1}]),
    "__getattr__": lambda s: (s.missing, Sub.__getattr__(s, "other")),
    "__setattr__": lambda s: setattr(s, "w", {"k": (1, 2)}),
    "__repr__": lambda s: repr(s),
    "merge": lambda s: s.merge({"d": {"e": {"h": 1}}, "n": [{"m": 1}]}),
    "update": lambda s: s.update({"d": {"q": [1, {"r": 2}]}}, z=(1,)),
    "__setitem__": lambda s: s.__setitem__("w", {"k": [{"j": 1}]}),
    "to_dict": lambda s: (s.to_dict(), s.to_dict(True)),
    "get": lambda s: (s.get("$.b.1.c"), s.get("$.d.e.f"), s.get("zz", 0)),
    "__eq__": lambda s: (s == fresh(), s == {"a": 1}, s != fresh().to_dict()),
    "items": lambda s: (s.items(), s.values(), len(s), "d" in s, list(s), dict(s)),
    "pop": lambda s: (s.pop("a"), s.popitem(), s.setdefault("n", {"x": 1}).to_dict()),
}
FORGIVING = {"_mv_get", "_mv_pop", "_mv_pops", "_mv_clear", "get"}

# Small on purpose: an exception handler at a bytecode offset above 256 needs a new int, and
# under failing allocations the interpreter's own loop would then never leave it.
def inject(op, s, start, stop):
    _testcapi.set_nomemory(start, stop)
    try:
        return op(s)
    except MemoryError:
        return MemoryError
    except SystemError:
        raise
    except Exception as exc:  # a clean exception made from a failed allocation elsewhere
        return exc
    finally:
        _testcapi.remove_mem_hooks()

mode, limits = sys.argv[1], eval(sys.argv[2])
for name in limits:
    op = OPS[name]
    s = fresh()
    expected = (repr(op(s)), state(s))
    points = 0
    for n in range(100_000):
        s = fresh()
        result = inject(op, s, n, 0 if mode == "from" else n + 1)
        if result is MemoryError or isinstance(result, Exception):
            points += 1
        elif name not in FORGIVING:
            assert (repr(result), state(s)) == expected, (name, n)
        # still usable
        repr(s), s._mv_keys(), s._mv_to_dict()
        s._mv_add({"after": {"x": [1]}})
        assert s._mv_get("$.after.x") == [1]
        if mode == "from" and result is not MemoryError and not isinstance(result, Exception):
            break
        if mode == "once" and n >= limits[name]:
            break
    print(name, n, points)
'''

NAMES = ["__init__", "_set_class", "_mv_add", "_mv_pop", "_mv_pops", "_mv_clear", "_mv_get", "_mv_keys",
         "_mv_values", "_mv_items", "_mv_to_dict", "_mv_to_params", "_mv_to_string", "_to_dict",
         "_list_to_dict", "_set_dict", "_set_list", "_skip", "_mv_set", "_mv_set_kwargs", "_set_attr",
         "__getattr__", "__setattr__", "__repr__", "merge", "update", "__setitem__", "to_dict", "get",
         "__eq__", "items", "pop"]


def missing_attribute_allocates():
    """Whether the interpreter allocates when a missing attribute reaches __getattr__ (before
    3.12 it builds the AttributeError first)."""
    import tracemalloc

    class Hooked:
        def __getattr__(self, name):
            return None

    obj = Hooked()
    obj.missing
    tracemalloc.start()
    try:
        current = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        obj.missing
        return tracemalloc.get_traced_memory()[1] > current
    finally:
        tracemalloc.stop()


def test_every_method_under_failing_allocations():
    found = run_child(OPERATIONS, "from", repr(dict.fromkeys(NAMES)))
    points = {line.split()[0]: int(line.split()[2]) for line in found.splitlines()}
    assert list(points) == NAMES
    # all allocate on the way, so they were failed at least once before they succeeded; all but
    # __getattr__ where the interpreter's reading of a missing attribute allocates nothing
    quiet = [] if missing_attribute_allocates() else ["__getattr__"]
    assert [name for name, count in points.items() if count == 0] == quiet, points
    # the same points again, each failing alone while the allocations after it succeed
    found = run_child(OPERATIONS, "once", repr(points))
    assert [line.split()[:2] for line in found.splitlines()] == [[name, str(n)] for name, n in points.items()]


# The create and execution steps of the module under failing allocations, then imports that
# fail in the body: each failed attempt is forgotten and the next one builds a working class.
IMPORT = r'''
import importlib.machinery, importlib.util, sys, typing, _testcapi
# typing is imported beforehand: the import system's own code, failing in the middle of
# loading a module, may retry without end. The extension alone: importing the package would
# import it already.
where = importlib.util.find_spec("tarvel_var").submodule_search_locations
spec = importlib.machinery.PathFinder.find_spec("tarvel_var.var_main", where)
assert "tarvel_var.var_main" not in sys.modules
def attempt(n):  # small, for the reason given in OPERATIONS
    _testcapi.set_nomemory(n, 0)
    try:
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        return module
    except MemoryError:
        return None
    finally:
        _testcapi.remove_mem_hooks()

attempts = 0
while (module := attempt(attempts)) is None:
    attempts += 1
sys.modules["tarvel_var.var_main"] = module
from tarvel_var import TarvelVar
assert module.TarvelVarMain is TarvelVar.__mro__[1]
s = TarvelVar({"a": {"b": [1]}})
assert (s._mv_keys(), s._mv_get("$.a.b"), repr(s)) == (["a"], [1], "TarvelVar(a=TarvelVar(b=[1]))")
print(attempts > 100)
'''

BROKEN_TYPING = r'''
import os, sys, tempfile
fake = tempfile.mkdtemp()
with open(os.path.join(fake, "typing.py"), "w") as f:
    f.write(sys.argv[1])
sys.path.insert(0, fake)
try:
    import tarvel_var.var_main
except BaseException as exc:
    print(type(exc).__name__, exc)
sys.path.remove(fake)
for name in [m for m in sys.modules if m == "typing" or m.startswith("tarvel_var")]:
    del sys.modules[name]
import typing, tarvel_var.var_main as m
print(m.Tuple is typing.Tuple, m.TarvelVarMain()._skip())
'''


def test_module_steps_under_failing_allocations():
    assert run_child(IMPORT) == "True\n"


@pytest.mark.parametrize("typing_source, error", [
    ("TYPE_CHECKING = False\nDict = List = Optional = Any = Union = Set = 1\n",
     "ImportError cannot import name Tuple"),
    ("raise ValueError('typing is broken')\n", "ValueError typing is broken"),
])
def test_failing_typing_module(typing_source, error):
    assert run_child(BROKEN_TYPING, typing_source) == error + "\nTrue ['_i_c_u', '_g_n_r', '_g_n_i', '_g_n_s']\n"


def test_isolated_subinterpreter_refused_and_first_interpreter_wins():
    code = SUBINTERPRETERS + r'''
for config in ("isolated", "legacy"):
    i = create(config)
    run_string(i, """
try:
    import tarvel_var.var_main
    print("loaded")
except ImportError as e:
    print(e)
""")
    destroy(i)
try:
    import tarvel_var.var_main
except ImportError as e:
    print(e)
'''
    refused = "Interpreter change detected - this module can only be loaded into one interpreter per process.\n"
    import importlib.util
    if hasattr(importlib.util, "_incompatible_extension_module_restrictions"):
        # modules declare which interpreters they support (3.12): the isolated one is refused
        assert run_child(code) == (
            "module tarvel_var.var_main does not support loading in subinterpreters\nloaded\n" + refused)
    else:  # the module's own check is all there is: the first interpreter to import it wins
        assert run_child(code) == "loaded\n" + refused + refused
