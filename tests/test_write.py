"""Writing variables: assignment, _mv_set, nested stores, converted lists and merging."""
import itertools
import sys

import pytest

from tarvel_var import TarvelVar, TarvelVarMain
from conftest import assert_no_leak, new_main_store

ABSENT = object()
class OD(dict): pass
class S(str): pass
class I(int): pass
class LS(list): pass
class TS(tuple): pass
class SS(set): pass
class Boom(Exception): pass


def is_store(x):
    return type(x).__name__ == "TarvelVar"


def variables(s):
    return {k: v for k, v in vars(s).items() if k not in TarvelVarMain._skip()}


def plain(x):
    """Stores as dicts of their variables; a list left by a conversion must be an exact list."""
    if is_store(x):
        return {k: plain(v) for k, v in variables(x).items()}
    if isinstance(x, list):
        assert type(x) is list
        return [plain(e) for e in x]
    return x


def norm(name, args, kw):
    return name, tuple("<store>" if is_store(a) else a for a in args), kw


@pytest.fixture
def rec():
    """A store whose write-path methods, store factory and nested stores' `add` log each call."""
    log = []

    def factory(*args, **kw):
        log.append(("new", args, kw))
        return Nested()

    class Nested(TarvelVar):
        def __init__(self):
            self._set_class(factory, False, False)

        def add(self, *args, **kw):
            log.append(("add", (self, *args), kw))
            self._mv_add(kw)
    Nested.__name__ = "TarvelVar"      # recognised as a nested store

    def logged(name):
        def method(self, *args, **kw):
            log.append((name, args, kw))
            return getattr(TarvelVarMain, name)(self, *args, **kw)
        return method
    Outer = type("Outer", (TarvelVar,), {n: logged(n) for n in ("_mv_set", "_set_attr", "_set_dict", "_set_list")})
    s = Outer()
    s._set_class(factory, False, False)
    return s, log, Nested


NEW, FILL = ("new", (), {}), ("add", ("<store>",), {"b": 2})
REGISTER = [("_mv_set", ("x", "<store>"), {}), ("_set_attr", ("x", "<store>"), {})]


@pytest.mark.parametrize("op, expected", [
    (lambda s: setattr(s, "x", {"b": 2}),
     [("_set_attr", ("x", {"b": 2}), {}), ("_set_dict", ("x", {"b": 2}), {"new": True}), NEW, *REGISTER, FILL]),
    (lambda s: setattr(s, "x", [1, (2,)]),
     [("_set_attr", ("x", [1, (2,)]), {}), ("_set_list", ([1, (2,)],), {}), ("_set_list", ((2,),), {})]),
    (lambda s: s._mv_set("x", 5), [("_mv_set", ("x", 5), {}), ("_set_attr", ("x", 5), {})]),
    (lambda s: s._mv_set("x", 5, True), [("_mv_set", ("x", 5, True), {}), ("_set_attr", ("x", 5), {})]),
    (lambda s: s._mv_set_kwargs({"x": 5}), [("_set_attr", ("x", 5), {})]),
    (lambda s: s._mv_add({"x": {"b": 2}, "l": [1], "p": 2}),
     [("_set_dict", ("x", {"b": 2}), {}), NEW, *REGISTER, FILL, ("_set_list", ([1], "l"), {}),
      ("_mv_set", ("p", 2), {}), ("_set_attr", ("p", 2), {})]),
])
def test_overrides_used_for_every_inner_call(rec, op, expected):
    # the factory is called without arguments; a new store is registered before `add` fills it
    s, log, _ = rec
    op(s)
    assert [norm(*e) for e in log] == expected


@pytest.mark.parametrize("new", [False, True])
@pytest.mark.parametrize("before", [ABSENT, None, False, 0, "", [], {}, "store", 5, "abc", [1], "other"])
def test_set_dict_decision_table(rec, before, new):
    s, log, Nested = rec
    if before == "store":
        before = Nested()
        before._mv_add({"a": 1})
    elif before == "other":                 # a set-up store whose class has another name
        before = new_main_store()
    if before is not ABSENT:
        vars(s)["x"] = before
    assert s._set_dict("x", {"b": 2}, new) is None
    calls = [norm(*e) for e in log[1:]]
    if is_store(before) and not new:        # merged: identity kept
        assert s.x is before and variables(before) == {"a": 1, "b": 2} and calls == [FILL]
    else:                                   # a new store; with new false a true value is overwritten directly
        assert is_store(s.x) and s.x is not before and variables(s.x) == {"b": 2}
        direct = before is not ABSENT and bool(before) and not new
        assert calls == [NEW] + ([] if direct else REGISTER) + [FILL]


@pytest.mark.parametrize("via", [lambda s, v: s._set_dict("d", v), lambda s, v: s._mv_add({"d": v})])
def test_merge_into_plain_dict_keeps_its_entries(rec, via):
    s, log, _ = rec
    vars(s)["d"] = old = {"a": 1, "b": {"c": 1}}
    via(s, {"b": {"e": 2}, "f": 3})
    d = vars(s)["d"]
    assert is_store(d) and plain(d) == {"a": 1, "b": {"c": 1, "e": 2}, "f": 3} and list(variables(d)) == ["a", "b", "f"]
    assert old == {"a": 1, "b": {"c": 1}} and type(old["b"]) is dict
    assert [kw for name, args, kw in log if name == "add" and args[0] is d] == [old, {"b": {"e": 2}, "f": 3}]


@pytest.mark.parametrize("flag", [False, True])
@pytest.mark.parametrize("path, raw_when_flag", [
    (lambda s, v: setattr(s, "x", v), True), (lambda s, v: s._mv_set("x", v), True),
    (lambda s, v: s._mv_set_kwargs({"x": v}), True), (lambda s, v: s._mv_set("x", v, inherit=1), False),
    (lambda s, v: s._set_attr("x", v), False), (lambda s, v: s._mv_add({"x": v}), False),
])
@pytest.mark.parametrize("value, converted", [
    ({"a": {"b": 1}}, {"a": {"b": 1}}), ((1, {"a": 1}, [2, (3,)]), [1, {"a": 1}, [2, [3]]]),
    ({3, "q", 5}, list({3, "q", 5})), (LS([1, TS((2,))]), [1, [2]]), (SS({4}), [4]),
    (frozenset({1}), None), (S("s"), None), (I(7), None), (None, None), (TarvelVar(), None),
])
def test_inherit_flag_and_conversion(path, raw_when_flag, flag, value, converted):
    s = new_main_store(inherit=flag)
    path(s, value)
    if converted is None or (flag and raw_when_flag):
        assert vars(s)["x"] is value
    else:
        assert plain(vars(s)["x"]) == converted and vars(s)["x"] is not value


def test_write_path_walk_through(rec):
    s, log, _ = rec
    value = {"db": {"port": 1}, "hosts": ["a", {"x": 2}]}
    s.cfg = value
    assert plain(s.cfg) == value and list(variables(s)) == ["cfg"] and type(s.cfg.hosts) is list
    assert [e for e in log if e[0] == "new"] == [NEW] * 3
    (kw,) = [kw for name, args, kw in log if name == "add" and args[0] is s.cfg]
    assert kw == value and kw is not value and kw["hosts"] is value["hosts"]


def test_merge_at_every_depth_and_flags_of_nested_stores(store):
    store._mv_add({"a": {"x": 1, "b": {"p": 1}}})
    a, b = store.a, store.a.b
    store._mv_add({"a": {"y": 2, "b": {"q": 2}}})
    assert store.a is a and a.b is b and plain(a) == {"x": 1, "b": {"p": 1, "q": 2}, "y": 2}
    store.a = {"z": 4}                                 # assignment replaces
    assert store.a is not a and plain(store) == {"a": {"z": 4}}
    s = new_main_store(reprint=True, inherit=True)   # the parent's flags do not reach its stores
    s._mv_add({"d": {}})
    s.d.e = {"f": 1}
    assert is_store(s.d.e) and s.d.zz is None


@pytest.mark.parametrize("before, value, after, same", [
    ([0], [1, {"a": 1}], [0, 1, {"a": 1}], True), ([0], ((2,), {5}), [0, [2], [5]], True),
    (5, [1, 2], [1, 2], False), ((0,), [1], [1], False), ([0], 5, 5, False), ([0], frozenset(), frozenset(), False),
])
def test_mv_add_extends_held_list(store, before, value, after, same):
    vars(store)["xs"] = before
    store._mv_add({"xs": value})
    assert plain(vars(store)["xs"]) == after and (vars(store)["xs"] is before) == same


def test_set_list_results(store):
    fs, inner, src = frozenset({1}), TarvelVar(), [1]
    got = store._set_list([{"x": 1}, [2, (3,)], {4}, "s", fs, inner, src])
    assert plain(got) == [{"x": 1}, [2, [3]], [4], "s", fs, {}, [1]]
    assert got[4] is fs and got[5] is inner and got[6] is not src
    assert store._set_list("ab") == ["a", "b"] and store._set_list({"k": 1}) == ["k"]
    vars(store)[""] = held = [0]
    assert store._set_list(iter([1]), "") == [1] and held == [0]   # an empty key extends nothing
    vars(store)["xs"] = held
    assert store._set_list((1,), "xs") is held and held == [0, 1]
    store._mv_add({None: (1,)})                                    # None passes the key test
    assert vars(store)[None] == [1]


EXTEND = pytest.mark.parametrize("op", [lambda s, v: s._set_list(v, "xs"), lambda s, v: s._mv_add({"xs": v})])


@EXTEND
def test_list_extended_with_itself(store, op):
    vars(store)["xs"] = xs = [1, [2], {"a": 1}]
    op(store, xs)
    assert vars(store)["xs"] is xs and len(xs) == 6 and xs[2] == {"a": 1}
    assert xs[3] == 1 and xs[4] == [2] and xs[4] is not xs[1] and plain(xs[5]) == {"a": 1}


@EXTEND
def test_extending_a_list_subclass(store, op):
    appended = []

    class L(list):
        def append(self, x):
            appended.append(x)
            super().append(x)
    held = vars(store)["xs"] = L([0])
    with pytest.raises(TypeError, match=r"^Expected list, got L$"):
        op(store, [1, (2,)])
    assert vars(store)["xs"] is held and held == [0, 1, [2]] and appended == [1, [2]]


def factory_raises():
    raise Boom("factory")


class AddRaises(TarvelVar):
    def add(self, **kw):
        raise Boom("add")


def bad_arg(name, got):
    return rf"^Argument '{name}' has incorrect type \(expected (str|dict), got {got}\)$"


ERRORS = [  # (factory, operation, exception, message, variables afterwards besides b=7, xs=[0])
    (None, lambda s: s._mv_add({"a": 1, "b": OD(x=1), "c": 2}), TypeError, bad_arg("value", "OD"), {"a": 1}),
    (None, lambda s: setattr(s, "b", OD()), TypeError, bad_arg("value", "OD"), {}),
    (None, lambda s: s._mv_set("b", OD(), True), TypeError, bad_arg("value", "OD"), {}),
    (None, lambda s: s._mv_set_kwargs({"a": 1, "b": OD()}), TypeError, bad_arg("value", "OD"), {"a": 1}),
    (None, lambda s: s._mv_add({"a": 1, 2: {"x": 1}}), TypeError, bad_arg("key", "int"), {"a": 1}),
    (None, lambda s: s._mv_add({S("k"): [1]}), TypeError, bad_arg("key", "S"), {}),
    (None, lambda s: s._mv_add({2: 5}), TypeError, bad_arg("name", "int"), {}),
    (None, lambda s: s._mv_set_kwargs({"a": 1, 2: 3}), TypeError, r"^attribute name must be string, not 'int'$", {"a": 1}),
    (None, lambda s: s._mv_set_kwargs({S("k"): 1}), TypeError, bad_arg("name", "S"), {}),
    (None, lambda s: setattr(s, "b", {1: 2}), TypeError, "keywords must be strings", {"b": {}}),
    (None, lambda s: s._mv_add({"xs": [5, {1: 2}, 6]}), TypeError, "keywords must be strings", {"xs": [0, 5]}),
    (None, lambda s: s._set_list(5, "xs"), TypeError, r"^'int' object is not iterable$", {}),
    (object, lambda s: setattr(s, "b", {"x": 1}), AttributeError, r"^'object' object has no attribute 'add'$", {"b": object}),
    (new_main_store, lambda s: setattr(s, "b", {"x": 1}), TypeError, r"^'NoneType' object is not callable$", {"b": TarvelVarMain}),
    (factory_raises, lambda s: s._mv_add({"a": 1, "b": {"x": 1}, "c": 2}), Boom, "^factory$", {"a": 1}),
    (factory_raises, lambda s: s._mv_add({"xs": [1, {"y": 1}, 2]}), Boom, "^factory$", {"xs": [0, 1]}),
    (AddRaises, lambda s: setattr(s, "b", {"x": 1}), Boom, "^add$", {"b": AddRaises}),
    (AddRaises, lambda s: s._set_list([1, {"y": 1}, 2], "xs"), Boom, "^add$", {"xs": [0, 1]}),
]


def run_error(factory, op, exc, message):
    s = new_main_store(factory=factory or TarvelVar)
    vars(s).update(b=7, xs=[0])
    held = vars(s)["xs"]
    with pytest.raises(exc, match=message):
        op(s)
    return s, held


@pytest.mark.parametrize("factory, op, exc, message, after", ERRORS)
def test_errors_and_partial_effects(factory, op, exc, message, after):
    s, held = run_error(factory, op, exc, message)
    expected, got = {"b": 7, "xs": [0], **after}, variables(s)
    assert list(got) == list(expected) and got["xs"] is held
    for name, value in expected.items():   # a type stands for "an object of exactly this type"
        assert type(got[name]) is value if isinstance(value, type) else plain(got[name]) == value
    assert_no_leak(lambda: run_error(factory, op, exc, message), OD, S, AddRaises, Boom)


@pytest.mark.parametrize("method, hook", [("_mv_add", "_mv_set"), ("_mv_set_kwargs", "_set_attr")])
@pytest.mark.parametrize("kw", [{"a": 1, "b": 2}, {"a": 1}])   # the size is checked again at the end
def test_dictionary_changed_size(store, method, hook, kw):
    kw = dict(kw)

    def grow(name, value):
        vars(store)[name] = value
        kw[name + "!"] = 0
    vars(store)[hook] = grow
    with pytest.raises(RuntimeError, match=r"^dictionary changed size during iteration$"):
        getattr(store, method)(kw)
    assert list(variables(store)) == [hook, "a"]


@pytest.mark.parametrize("hidden, op, args", [
    ("_set_attr", lambda s: setattr(s, "x", 1), ("x", 1)),
    ("_set_list", lambda s: setattr(s, "x", (1,)), ((1,),)),
    ("_set_dict", lambda s: s._mv_add({"x": {"a": 1}}), ("x", {"a": 1})),
    ("_mv_set", lambda s: s._set_dict("x", {}), ("x", "<store>")),
])
def test_instance_variable_hides_method(store, hidden, op, args):
    calls = []
    vars(store)[hidden] = lambda *a, **k: calls.append(norm(hidden, a, k)) or ["hidden"]
    op(store)
    assert calls == [(hidden, args, {})]
    assert vars(store).get("x") == (["hidden"] if hidden == "_set_list" else None)


@pytest.mark.parametrize("op", [
    lambda: setattr(TarvelVar(), "d", {"a": 1, "b": [1, {"c": 2}], "t": (OD(), S("s"))}),
    lambda: TarvelVar()._mv_add({"d": {"a": 1}, "l": LS([1, {"c": 2}]), "p": I(1)}),
    lambda: TarvelVar({"d": {"a": 1}})._mv_add({"d": {"b": [2]}}),
    lambda: TarvelVar()._set_dict("x", {"y": [{}]}, True),
    lambda: test_list_extended_with_itself(TarvelVar(), lambda s, v: s._mv_add({"xs": v})),
    lambda: TarvelVar({"d": {"a": 1}}, inherit=True)._set_dict("d", {"b": {"c": 1}}),
])
def test_success_paths_do_not_leak(op):
    assert_no_leak(op, OD, S, LS, I, TarvelVar)


class Plain:
    pass


FRESH = itertools.count()


def setattr_immortalizes():
    """Whether the interpreter's setattr() makes a new name immortal (3.12 does)."""
    holder = Plain()
    setattr(holder, "".join(["probe", str(next(FRESH))]), 1)
    [key] = list(vars(holder))
    return sys.getrefcount(key) > 1 << 30


SETATTR_IMMORTALIZES = setattr_immortalizes()


class HookedSetattr(TarvelVar):
    """Takes the interpreter's path to the hook: our __setattr__ is not the class's own."""

    def __setattr__(self, name, value):
        TarvelVarMain.__setattr__(self, name, value)
HookedSetattr.__name__ = "TarvelVar"   # its nested stores are still recognised


@pytest.mark.parametrize("cls", [TarvelVar, HookedSetattr])
@pytest.mark.parametrize("op", [
    lambda s, n, v: s._mv_set(n, v),
    lambda s, n, v: s._mv_set_kwargs({n: v}),
    lambda s, n, v: s._mv_add({n: v}),
])
def test_assigned_names_are_interned_like_setattr(cls, op):
    existing = "abcd"                             # a literal: interned
    fresh = "".join(["fresh", "name", str(next(FRESH))])   # no equal string exists yet
    for name in ["".join(["ab", "cd"]), fresh]:
        s, p = cls(), Plain()
        op(s, name, 1)
        [key] = [k for k in vars(s) if k == name]
        mortal = sys.getrefcount(key) < 100  # before the interpreter's setattr() has seen it
        setattr(p, name, 1)
        [plain_key] = list(vars(p))
        assert key is plain_key
        assert key is existing or name is fresh
        # interned for the dict's sake, not made immortal where setattr() does not make it so
        assert mortal or SETATTR_IMMORTALIZES


def test_setattr_fast_path_matches_the_hook_with_every_flag(store):
    for cls in (TarvelVar, HookedSetattr):
        for inherit in (False, True):
            s = cls(inherit=inherit)
            s._mv_set("d", {"a": [1, {"b": 2}]})
            s._mv_set("t", (1, 2))
            s._mv_set_kwargs({"e": {"x": 1}, "n": None})
            assert plain(s) == {"d": {"a": [1, {"b": 2}]}, "t": [1, 2] if not inherit else (1, 2),
                                "e": {"x": 1} if not inherit else {"x": 1}, "n": None}
            assert is_store(s.e) is not inherit
    with pytest.raises(TypeError, match="Argument 'name' has incorrect type \\(expected str, got S\\)"):
        store._mv_set_kwargs({S("a"): 1})


@pytest.mark.parametrize("method", ["_mv_add", "_mv_set_kwargs"])
def test_a_variable_stored_midway_hides_the_chain_for_the_rest(store, method):
    with pytest.raises(TypeError, match="'int' object is not callable"):
        getattr(store, method)({"a": 1, "_set_attr": 5, "b": 2})
    assert variables(store) == {"a": 1, "_set_attr": 5}


@pytest.mark.parametrize("method", ["_mv_add", "_mv_set_kwargs"])
def test_code_run_by_a_replaced_value_is_seen_by_the_next_entry(store, method):
    log = []

    class Dies:
        def __del__(self):
            store._set_attr = lambda name, value: log.append(name)

    store.a = Dies()
    getattr(store, method)({"a": 1, "b": 2, "c": 3})
    assert log == ["b", "c"]
    assert variables(store) == {"a": 1, "_set_attr": store._set_attr}
