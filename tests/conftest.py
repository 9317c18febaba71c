import gc
import math
import os
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st

from tarvel_var import TarvelVar, TarvelVarMain
from tarvel_var._store import loose_store

# "ci" keeps the generated examples fixed and few, so that a run is repeatable and quick (the
# suite also runs under ASan); `make fuzz` selects "fuzz" for a long randomised search.
# Tests that set no max_examples of their own (the state machine) take it from here.
settings.register_profile("ci", deadline=None, derandomize=True, max_examples=60, stateful_step_count=40,
                          print_blob=True, suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("fuzz", deadline=None, max_examples=1000, stateful_step_count=50,
                          print_blob=True, suppress_health_check=[HealthCheck.too_slow])
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "ci"))

# Plain documents as JSON gives them, with names the store takes and reads back by name (a
# name that begins with "$." is a path to `_mv_get` and `get`).
names = st.text(min_size=0, max_size=6).filter(lambda name: not name.startswith(("_", "$.")))
scalars = st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | st.text(max_size=5)
json_like = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(names, inner, max_size=4),
    max_leaves=25,
)
documents = st.dictionaries(names, json_like, max_size=6)

# The store's four internal variables, in the order set-up writes them.
INTERNAL = ["_i_c_u", "_g_n_r", "_g_n_i", "_g_n_s"]

class GeneralPath(TarvelVar):
    """Overrides that change nothing but force every call through attribute lookup: the
    general path, against which every fast path of the class itself is compared."""

    def _skip(self):
        return super()._skip()

    def _mv_keys(self):
        return super()._mv_keys()

interned = getattr(sys, "_is_interned", lambda name: None)  # 3.13: asks without interning

def store_shape(value):
    """Everything a reader decides: types, key order, internal variables, interned names, float
    signs."""
    from tarvel_var import is_frozen

    if isinstance(value, TarvelVarMain):
        held = vars(value)
        # a key that holds a list is held as named, whose interning depends on what the
        # process interned before: only the others are always interned
        return (type(value).__qualname__, is_frozen(value),
                [(k, interned(k) if k not in INTERNAL and not isinstance(v, (list, tuple)) else None,
                 store_shape(v) if k not in INTERNAL else v) for k, v in held.items()])
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, [store_shape(item) for item in value])
    if isinstance(value, float):
        return ("float", math.copysign(1.0, value), value if value == value else "nan")
    return (type(value).__name__, value)

def new_main_store(reprint=False, inherit=False, factory=loose_store):
    """A bare TarvelVarMain set up with the public class's factory of stores that answer None
    for a missing attribute, as the core's own stores do."""
    store = TarvelVarMain()
    store._set_class(factory, reprint, inherit)
    return store

def added(data, strict=False, reprint=False, inherit=False):
    """A store filled by the module's own merge (`_mv_add`) at every depth, which takes any key,
    including the ones the public class refuses (its `add` checks them): a stand-in class of
    the public class's name whose nested stores are its own and are filled by `_mv_add` too."""
    def __init__(self, reprint=False, inherit=False):
        self._set_class(type(self), reprint, inherit)
        vars(self)["_g_n_s"] = strict

    def add(self, **entries):
        self._mv_add(entries)

    store = type("TarvelVar", (TarvelVar,), {"__init__": __init__, "add": add})(reprint, inherit)
    store._mv_add(data)
    return store

@pytest.fixture
def store():
    return TarvelVar()

@pytest.fixture
def main_store():
    return new_main_store()

def assert_no_leak(func, *objects, repeat=200):
    """Calls func() many times and checks that no object passed in gains references and that
    the number of live objects tracked by the collector does not grow.

    An interned name or an object the whole interpreter shares (3.11's static small ints and
    strings start at a billion references) may be held by the interpreter's own caches too
    (3.11's method cache keeps the names it last looked up), so its count may move by a few
    between two runs; a leak grows with the number of calls, in both runs alike."""
    for _ in range(10):
        func()
    counts = []
    for _ in range(2):
        gc.collect()
        counts.append([sys.getrefcount(obj) for obj in objects])
        live_before = len(gc.get_objects())
        for _ in range(repeat):
            func()
    gc.collect()
    counts.append([sys.getrefcount(obj) for obj in objects])
    for obj, seen in zip(objects, zip(*counts)):
        growth = [later - earlier for earlier, later in zip(seen, seen[1:])]
        if (type(obj) is str and sys.intern(obj) is obj) or seen[0] > 10**8:
            assert all(abs(g) <= 4 for g in growth) and not all(g > 0 for g in growth), (obj, seen)
        else:
            assert growth == [0, 0], (obj, seen)
    assert len(gc.get_objects()) - live_before < repeat // 4

# Code that defines create(config), run_string(interpreter, code) and destroy(interpreter) for
# a child: the interpreters module is _interpreters from 3.13 and _xxsubinterpreters before,
# whose create() takes isolated= rather than a config's name.
SUBINTERPRETERS = """
try:
    import _interpreters
    create = _interpreters.create
except ImportError:
    import _xxsubinterpreters as _interpreters
    def create(config):
        return _interpreters.create(isolated=config == "isolated")
run_string, destroy = _interpreters.run_string, _interpreters.destroy
"""

def merged(old, new):
    """What `_mv_add` promises for plain data: dicts merge into dicts, lists extend the lists
    held under a name (an empty name never extends: the list is rebuilt), the rest replaces."""
    result = dict(old)
    for key, value in new.items():
        held = result.get(key)
        if isinstance(value, dict):
            result[key] = merged(held if isinstance(held, dict) else {}, value)
        elif isinstance(value, list):
            result[key] = (held if isinstance(held, list) and key else []) + value
        else:
            result[key] = value
    return result

def cli(*args, stdin=None, env=None, cwd=None):
    """The command line run as a user runs it, in a subprocess; `env` adds to the environment."""
    return subprocess.run([sys.executable, "-P", "-m", "tarvel_var", *args], input=stdin,
                          capture_output=True, text=True, timeout=120, cwd=cwd,
                          env={**os.environ, **(env or {})})

def run_child(code, *args):
    """What `code` prints, run by this interpreter in a new process (which must succeed)."""
    proc = subprocess.run([sys.executable, "-P", "-c", code, *args], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr[-4000:]
    return proc.stdout

def outcome(call):
    """The result of call(), or the (type, message) of the exception it raised."""
    try:
        return call()
    except Exception as error:
        return type(error), str(error)

# What the meddling code does to the store.
def grow(s):
    d = vars(s)
    d.update({f"g{len(d)}": {"n": len(d)}, f"h{len(d)}": [len(d)]})

def shrink(s):
    d = vars(s)
    for k in [k for k in d if k not in INTERNAL]:
        del d[k]

def overwrite(s):
    d = vars(s)
    for k in [k for k in d if k not in INTERNAL]:
        d[k] = object()

def swap_dict(s):
    """A new instance dictionary with the internal variables only; the old one emptied."""
    d = vars(s)
    object.__setattr__(s, "__dict__", {k: d[k] for k in INTERNAL if k in d})
    d.clear()

MUTATIONS = [grow, shrink, overwrite, swap_dict]

class Meddler:
    """Changes its store whenever it is compared, hashed, rendered or tested for truth: once,
    or every time when `once` is false."""

    def __init__(self, store, mutate, once=True):
        self.store, self.mutate, self.once, self.armed = store, mutate, once, True

    def meddle(self):
        if self.armed:
            self.armed = not self.once  # once: a second round would only repeat the first
            self.mutate(self.store)

    def __eq__(self, other):
        self.meddle()
        return self is other

    def __hash__(self):
        self.meddle()
        return hash("a")  # collides with the variable `a`, so lookups of `a` compare with it

    def __repr__(self):
        self.meddle()
        return "M"

    def __bool__(self):
        self.meddle()
        return True
