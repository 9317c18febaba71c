"""Removing variables: _mv_pop, _mv_pops and _mv_clear."""

import pytest

from conftest import INTERNAL, assert_no_leak, new_main_store, outcome
from tarvel_var import TarvelVar

Name = type("Name", (str,), {})


def filled(store=None, names="abc"):
    store = TarvelVar() if store is None else store
    for i, name in enumerate(names):
        store._mv_set(name, i)
    return store



@pytest.mark.parametrize("store", [TarvelVar(), new_main_store(reprint=True)])
def test_pop(store):
    filled(store)
    assert store._mv_pop("b") is None and store._mv_keys() == ["a", "c"]
    # absent names: the existence test does not fall back to __getattr__
    assert store._mv_pop("b") is None and store._mv_pop("zz") is None
    store._mv_pop("_g_n_s")
    assert list(store.__dict__) == INTERNAL[:3] + ["a", "c"]


@pytest.mark.parametrize("name, exc, message", [
    (1, TypeError, "Argument 'name' has incorrect type (expected str, got int)"),
    (Name("a"), TypeError, "Argument 'name' has incorrect type (expected str, got Name)"),
    ("_mv_keys", AttributeError, None), ("__repr__", AttributeError, None),
    ("keys", AttributeError, None),  # a method that is a data descriptor of the public class
])
def test_pop_refused(name, exc, message):
    store = filled()
    with pytest.raises(exc) as info:
        store._mv_pop(name)
    assert message is None or str(info.value) == message
    assert store._mv_keys() == ["a", "b", "c"]
    store.__dict__["_mv_keys"] = 1  # a variable hiding a method can be removed
    store._mv_pop("_mv_keys")
    assert store._mv_keys() == ["a", "b", "c"]


MESSAGE = "hasattr(): attribute name must be string"
ARGS = "Argument 'args' has incorrect type (expected tuple, got {})"


@pytest.mark.parametrize("names, result, left", [
    (("a", 1, "b"), (TypeError, MESSAGE), "bc"),  # deletions before the failure stand
    (("a", None), (TypeError, MESSAGE), "bc"),
    (("b", "_mv_pop", "c"), AttributeError, "ac"),
    ((), None, "abc"),
    (("a", "a", "zz", Name("c")), None, "b"),
    (type("T", (tuple,), {})(("a",)), (TypeError, ARGS.format("T")), "abc"),
    (["a"], (TypeError, ARGS.format("list")), "abc"),
])
def test_pops(names, result, left):
    store = filled()
    got = outcome(lambda: store._mv_pops(names))
    assert got == result or got[0] is result
    assert store._mv_keys() == list(left)
    assert outcome(lambda: store._mv_pops("a", "b")) == (
        TypeError, "_mv_pops() takes exactly 2 positional arguments (3 given)")


def test_pops_does_not_use_an_overridden_pop():
    store = filled(type("Refusing", (TarvelVar,), {"_mv_pop": lambda self, name: 1 / 0})())
    store._mv_pops(("a", "_g_n_r"))
    assert list(store.__dict__) == ["_i_c_u", "_g_n_i", "_g_n_s", "b", "c"]


def test_clear_keeps_internal_variables():
    store = filled(TarvelVar(reprint=1))
    store.n = {"x": 1}
    nested = store.__dict__["n"]
    internal = list(store.__dict__.items())[:4]
    assert store._mv_clear() is None
    assert list(store.__dict__) == INTERNAL and store._mv_keys() == [] and nested._mv_keys() == ["x"]
    assert all(a is b for p, q in zip(store.__dict__.items(), internal) for a, b in zip(p, q))
    store.d = 4  # still set up
    assert store._mv_keys() == ["d"] and store._mv_clear() is store._mv_clear() is None
    assert list(store.__dict__) == INTERNAL


class Recording(TarvelVar):
    def _mv_pop(self, name):
        self.__dict__.setdefault("_log", []).append(name)
        if name == "b":
            raise LookupError(name)
        super()._mv_pop(name)

    def _skip(self):
        return super()._skip() + ["_log"]


def test_clear_goes_through_the_overridden_pop_and_stops_at_its_error():
    store = filled(Recording(), "abcd")
    assert outcome(store._mv_clear) == (LookupError, "b")
    assert store._log == ["a", "b"] and store._mv_keys() == ["b", "c", "d"]
    plain = filled(names="ab")
    calls = []
    plain.__dict__["_mv_pop"] = calls.append  # an instance variable hides the method
    plain._mv_clear()
    assert calls == ["a", "b", "_mv_pop"] and plain._mv_keys() == ["a", "b", "_mv_pop"]


def grow(self):
    self.__dict__[f"g{len(self.__dict__)}"] = 0
    return TarvelVar._skip()


@pytest.mark.parametrize("skip, result, left", [
    (lambda self: TarvelVar._skip() + ["keep"], None, ["keep"]),
    (grow, (RuntimeError, "dictionary changed size during iteration"), ["a", "keep", "b"]),
    (lambda self: 1 / 0, (ZeroDivisionError, "division by zero"), ["a", "keep", "b"]),
])
def test_clear_with_overridden_skip(skip, result, left):
    store = filled(type("Skipping", (TarvelVar,), {"_skip": skip})(), ["a", "keep", "b"])
    assert outcome(store._mv_clear) == result
    assert [k for k in store.__dict__ if k in ("a", "keep", "b")] == left


@pytest.mark.parametrize("key, result", [
    (5, (TypeError, "Argument 'name' has incorrect type (expected str, got int)")),
    (Name("k"), (TypeError, "Argument 'name' has incorrect type (expected str, got Name)")),
    ("_skip", (TypeError, "'int' object is not callable")),  # nothing removed
])
def test_clear_stops_at_a_bad_name(key, result):
    store = filled(names="a")
    store.__dict__[key] = 0
    store.b = 1
    assert outcome(store._mv_clear) == result
    assert list(store.__dict__)[4:] == (["a", key, "b"] if key == "_skip" else [key, "b"])


def test_no_leaks_on_removal():
    store, value = TarvelVar(), object()

    def refill(call):
        return lambda: (store.__dict__.update(a=value, b=value), outcome(call))
    for func in (refill(lambda: store._mv_pops(("a", 1, "b"))), refill(store._mv_clear),
                 lambda: outcome(lambda: store._mv_pop(Name("b"))), lambda: store._mv_pop("absent")):
        assert_no_leak(func, store, value)


class LoggedDelete(TarvelVar):
    """Deletion through a __delattr__ of its own: the interpreter's path, not object's."""

    def __delattr__(self, name):
        self.__dict__.setdefault("_log", []).append(name)
        super().__delattr__(name)


@pytest.mark.parametrize("remove, deleted", [
    (lambda s: s._mv_pop("a"), ["a"]),
    (lambda s: s._mv_pops(("a", "zz", "b")), ["a", "b"]),
    (lambda s: s._mv_clear(), ["a", "b"]),
])
def test_removal_goes_through_a_class_delattr(remove, deleted):
    plain, logged = TarvelVar(), LoggedDelete()
    for s in (plain, logged):
        s.a, s.b = 1, {"c": 2}
        remove(s)
    assert logged.__dict__.pop("_log") == deleted
    assert plain._mv_keys() == logged._mv_keys()
    assert all(name in vars(plain) for name in TarvelVar._skip())
