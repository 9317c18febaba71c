"""Listing the variables of a store and reading one by name, "$." path or part sequence."""

import pytest

from conftest import assert_no_leak, new_main_store
from tarvel_var import TarvelVar, TarvelVarMain


class Routed(TarvelVar):
    """The same behaviour through overrides, which forces the general path of every read."""

    def _skip(self):
        return super()._skip()

    def _mv_keys(self):
        return super()._mv_keys()


BOTH = pytest.mark.parametrize("cls", [TarvelVar, Routed])
Name = type("Name", (str,), {})
# equal to every string with the same lower case, while hashing as itself
Loose = type("Loose", (str,), {"__eq__": lambda s, o: isinstance(o, str) and s.lower() == o.lower(),
                               "__hash__": str.__hash__})
Boom = type("Boom", (), {"__eq__": lambda s, o: 1 / 0, "__hash__": object.__hash__})
LikeX = type("LikeX", (), {"__eq__": lambda s, o: o == "x", "__hash__": lambda s: 7})


@BOTH
def test_listings_order_identity_and_fresh_lists(cls):
    s = cls()
    s.b, s.a = 2, {"x": [1]}
    s.__dict__.update({Name("n"): "sub", Loose("_G_N_R"): "hidden", 1: "int", ("t",): "tuple"})
    s.z, s.b = None, 3  # re-assignment keeps the place
    keys, values, items = s._mv_keys(), s._mv_values(), s._mv_items()
    assert keys == ["b", "a", "n", 1, ("t",), "z"]
    stored = [k for k in list(s.__dict__)[4:] if type(k) is not Loose]
    assert all(a is b for a, b in zip(keys, stored)) and type(keys[2]) is Name
    assert values == [3, s.a, "sub", "int", "tuple", None] and values[1] is s.__dict__["a"]
    assert items == list(zip(keys, values)) and all(type(p) is tuple for p in items)
    assert all(p[0] is k and p[1] is v for p, k, v in zip(items, keys, values))
    keys.append("q")
    items.pop()
    assert s._mv_keys() == stored and len(s._mv_items()) == 6 and s._mv_values() is not values
    for empty in (cls(), new_main_store(), TarvelVarMain()):
        assert empty._mv_keys() == empty._mv_values() == empty._mv_items() == []


@BOTH
def test_non_string_keys_compare_like_the_listing_does(cls):
    s, default = cls(), object()
    s.a = 1
    s.__dict__[LikeX()] = 5
    assert s._mv_get("x", default) is None  # listed by equality, absent from the dict
    s.__dict__[Boom()] = 2
    for call in (s._mv_keys, s._mv_values, s._mv_items):
        with pytest.raises(ZeroDivisionError):
            call()
    assert s._mv_get("a", default) is default  # _mv_keys() failed inside the protected region
    assert_no_leak(lambda: s._mv_get("a", default), s, default)


DATA = [("b", 2), ("_g_n_r", True), ("a", 1)]
Pairs = type("Pairs", (), {"keys": lambda s: [k for k, _ in DATA], "items": lambda s: list(DATA)})
# a dict subclass whose keys() and items() disagree with its own iteration order
Reversed = type("Reversed", (dict,), {"keys": lambda s: list(reversed(dict.keys(s))),
                                      "items": lambda s: list(reversed(dict.items(s)))})


@pytest.mark.parametrize("mapping", [Pairs(), Reversed(reversed(DATA))])
def test_mapping_fallback_uses_keys_and_items(mapping):
    s = type("Mapped", (TarvelVarMain,), {"__dict__": property(lambda self: mapping)})()
    assert (s._mv_keys(), s._mv_values(), s._mv_items()) == (["b", "a"], [2, 1], [("b", 2), ("a", 1)])


def build(cls):
    s = cls({"a": 1, "n": None, "cfg": {"db": {"port": 5432}, "hosts": ["h", {"x": 2}]}, "e": {"": {"b": 7}}})
    for name, value in [("", "empty"), ("a.b", "dotted"), ("$a", "dollar"), ("$.a", "literal")]:
        s._mv_set(name, value)
    s.__dict__["raw"] = {"x": 5, 1: "one"}
    return s


Parts = type("Parts", (), {"__init__": lambda s, *p: setattr(s, "p", p), "__iter__": lambda s: iter(s.p)})
DEF, SELF = "<default>", "<store>"
# keys whose own startswith() decides the form
NoPath = type("NoPath", (str,), {"startswith": lambda s, *a: False})
AllPath = type("AllPath", (str,), {"startswith": lambda s, *a: True})


@BOTH
@pytest.mark.parametrize("key, path", [
    ("a", ["a"]), ("n", ["n"]), ("missing", DEF), ("a.b", ["a.b"]), ("$a", ["$a"]), ("", [""]),
    ("$.", [""]), ("$.a", ["a"]), ("$.cfg.db.port", ["cfg", "db", "port"]), ("$.cfg.hosts", ["cfg", "hosts"]),
    ("$.cfg.hosts.0", DEF), ("$.cfg.db.port.x", DEF), ("$.e..b", ["e", "", "b"]), ("$.e.", ["e", ""]),
    ("$.missing.a", DEF), ("$.raw.x", ["raw", "x"]), ("$.raw.1", DEF), (["raw", 1], ["raw", 1]),
    (("cfg", "db"), ["cfg", "db"]), (Parts("cfg", "hosts"), ["cfg", "hosts"]), ([], SELF), ((), SELF),
    (5, DEF), (None, DEF), (Name("a"), ["a"]), (NoPath("$.a"), ["$.a"]), (AllPath("q.cfg.db"), ["cfg", "db"]),
    ("_g_n_r", DEF), ("_i_c_u", DEF), ("$._g_n_s", DEF), (["_g_n_i"], DEF), ("_mv_keys", DEF), ("keys", DEF),
    ("_skip", DEF), ("$.get", DEF),
])
def test_get_forms(cls, key, path):
    s, default = build(cls), object()
    want = default if path == DEF else s
    for name in [] if path in (DEF, SELF) else path:
        want = want[name] if type(want) is dict else want.__dict__[name]
    assert s._mv_get(key, default) is want
    assert s._mv_get(key) is (None if path == DEF else want)


@pytest.mark.parametrize("reprint", [False, True])
def test_walk_through_store_without_keys_and_get(reprint):
    s, default = new_main_store(reprint=reprint), []
    s._mv_set("a", {"b": 1})
    assert s._mv_get("a") is s.__dict__["a"]  # plain names do not need keys()
    assert s._mv_get("$.a.b", default) is default and s._mv_get(["a"], default) is default
    assert s._mv_get((), default) is s


def thrower(exc):
    def throw(*args):
        raise exc("trap")
    return throw


def trap_call(exc, where):
    """A _mv_get call during which `exc` is raised at `where`."""
    s = TarvelVar({"a": {}})
    walk = {"keys": thrower(exc) if where == "keys" else lambda self: ["k"], "get": thrower(exc)}
    s.__dict__["w"] = type("W", (), walk)()
    if where == "iter":
        def parts():
            yield "a"
            raise exc("trap")
        return lambda d: s._mv_get(parts(), d)
    if where == "startswith":
        return lambda d: s._mv_get(type("Key", (str,), {"startswith": thrower(exc)})("a"), d)
    if where == "_mv_keys":
        return lambda d: type("Owner", (TarvelVar,), {"_mv_keys": thrower(exc)})()._mv_get("a", d)
    return lambda d: s._mv_get("$.w.k", d)


@pytest.mark.parametrize("where", ["keys", "get", "iter", "startswith", "_mv_keys"])
@pytest.mark.parametrize("exc", [ValueError, KeyError, StopIteration, Exception,
                                 KeyboardInterrupt, SystemExit, GeneratorExit])
def test_exceptions_give_the_default_base_exceptions_propagate(exc, where):
    call, default = trap_call(exc, where), object()

    def run():
        try:
            return call(default)
        except BaseException as error:
            return type(error), str(error)
    assert run() == (default if issubclass(exc, Exception) else (exc, "trap"))
    assert_no_leak(run, default)


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "_mv_get() takes at least 2 positional arguments (1 given)"),
    (("a", 1, 2), {}, "_mv_get() takes at most 3 positional arguments (4 given)"),
    (("a",), {"dflt": 1}, "_mv_get() got an unexpected keyword argument 'dflt'"),
    (("a",), {"key": "a"}, "_mv_get() got multiple values for keyword argument 'key'"),
])
def test_get_argument_errors_are_not_swallowed(store, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        store._mv_get(*args, **kwargs)
    assert str(info.value) == message
    store.a, default = 1, object()
    assert TarvelVarMain._mv_get(self=store, key="zz", default=default) is default
    assert store._mv_get(key="a") == 1


@pytest.mark.parametrize("shadow, value, keys", [
    ("_mv_keys", lambda: [], ["a", "b", "_mv_keys"]), ("_skip", 0, None),
    ("_skip", lambda: ["_i_c_u", "_g_n_r", "_g_n_i", "_g_n_s", "_skip", "a"], ["b"]),
])
def test_instance_variable_hides_the_method(store, shadow, value, keys):
    store.a, store.b, default = 1, 2, object()
    store.__dict__[shadow] = value
    assert store._mv_get("a", default) is default and store._mv_get("$.a", default) is default
    if keys is None:
        with pytest.raises(TypeError, match="'int' object is not callable"):
            store._mv_keys()
    else:
        assert TarvelVarMain._mv_keys(store) == keys
        assert store._mv_get("b", default) is (default if shadow == "_mv_keys" else store.b)


@BOTH
def test_no_leaks_on_reads(cls):
    s, default = build(cls), object()
    for key in ("a", "missing", "$.cfg.db.port", "$.cfg.hosts.0", ("cfg", "db"), 5, "$.raw.x"):
        assert_no_leak(lambda: s._mv_get(key, default), s, default, key)
    for listing in (s._mv_keys, s._mv_values, s._mv_items):
        assert_no_leak(listing, s, s.__dict__["a"])


@pytest.mark.parametrize("arrange", [
    lambda s: s.__dict__.update({"first": 0}) or s._set_class(TarvelVar, False, False),
    lambda s: (s._set_class(TarvelVar, False, False), s.__dict__.pop("_g_n_r"),
               s.__dict__.update({"mid": 0, "_g_n_r": False})),
    lambda s: s._set_class(TarvelVar, False, False),
])
def test_listings_wherever_the_internal_variables_stand(arrange):
    s = TarvelVarMain()
    arrange(s)
    s.__dict__.update({"a": 1, "b": 2})
    names = [k for k in vars(s) if k not in TarvelVarMain._skip()]
    assert s._mv_keys() == names
    assert s._mv_items() == [(k, vars(s)[k]) for k in names]
    assert s._mv_values() == [vars(s)[k] for k in names]
