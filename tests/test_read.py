"""Listing the variables of a store and reading one by name, "$." path or part sequence."""

import pytest

from conftest import assert_no_leak, new_main_store
from tarvel_var import TarvelVar, TarvelVarMain


class Routed(TarvelVar):
    """Same behaviour through overrides, so every read takes the general path."""

    def _skip(self):
        return super()._skip()

    def _mv_keys(self):
        return super()._mv_keys()


BOTH = pytest.mark.parametrize("cls", [TarvelVar, Routed])


class Name(str):
    pass


class Loose(str):
    """Equal to any string with the same lower case; hashes differently from it."""

    def __eq__(self, other):
        return isinstance(other, str) and str.lower(self) == str.lower(other)

    __hash__ = str.__hash__


class Boom:
    def __eq__(self, other):
        raise ValueError("no compare")

    __hash__ = object.__hash__


class LikeX:
    """A non-string key equal to "x" but stored under another hash."""

    __eq__ = lambda self, other: other == "x"  # noqa: E731
    __hash__ = lambda self: 7  # noqa: E731


def odd_store(cls):
    s = cls()
    s.b = 2
    s.a = {"x": [1, {"y": None}]}
    d = s.__dict__
    d[Name("n")] = "sub"
    d[Loose("_G_N_R")] = "hidden"  # equal to an internal name, so it is skipped
    d[1] = "int"
    d[("t",)] = "tuple"
    s.z = None
    s.b = 3  # re-assignment keeps the place
    return s


@BOTH
def test_listings_order_identity_and_fresh_lists(cls):
    s = odd_store(cls)
    keys, values, items = s._mv_keys(), s._mv_values(), s._mv_items()
    assert keys == ["b", "a", "n", 1, ("t",), "z"]
    assert type(keys[2]) is Name and keys[3] is next(k for k in s.__dict__ if k == 1)
    assert values == [3, s.a, "sub", "int", "tuple", None] and values[1] is s.__dict__["a"]
    assert items == list(zip(keys, values)) and all(type(p) is tuple for p in items)
    assert all(a is b for p, k, v in zip(items, keys, values) for a, b in zip(p, (k, v)))
    keys.append("q"), values.clear(), items.pop()
    assert s._mv_keys() == ["b", "a", "n", 1, ("t",), "z"] and len(s._mv_items()) == 6
    assert s._mv_keys() is not s._mv_keys()


@pytest.mark.parametrize("s", [TarvelVar(), Routed(), new_main_store(), TarvelVarMain()])
def test_listings_of_empty_stores(s):
    assert s._mv_keys() == s._mv_values() == s._mv_items() == []


@BOTH
def test_comparison_errors_of_non_string_keys(cls):
    s = cls()
    s.a = 1
    s.__dict__[Boom()] = 2
    for listing in (s._mv_keys, s._mv_values, s._mv_items):
        with pytest.raises(ValueError, match="no compare"):
            listing()
    default = object()
    assert s._mv_get("a", default) is default  # _mv_keys() failed inside the protected region
    assert_no_leak(lambda: s._mv_get("a", default), s, default)


@BOTH
def test_name_found_by_equality_but_missing_from_dict(cls):
    s = cls()
    s.__dict__[LikeX()] = 5
    assert s._mv_get("x", "d") is None  # "x" is among the names, dict.get("x") finds nothing


class Pairs:
    def __init__(self, pairs):
        self._pairs = pairs

    def keys(self):
        return [k for k, _ in self._pairs]

    def items(self):
        return list(self._pairs)


class ReversedDict(dict):
    def keys(self):
        return list(reversed(list(dict.keys(self))))

    def items(self):
        return list(reversed(list(dict.items(self))))


DATA = [("b", 2), ("_g_n_r", True), ("a", 1)]


@pytest.mark.parametrize("mapping", [Pairs(DATA), ReversedDict(reversed(DATA))])
def test_mapping_fallback_uses_keys_and_items(mapping):
    Mapped = type("Mapped", (TarvelVarMain,), {"__dict__": property(lambda self: mapping)})
    s = Mapped()
    assert s._mv_keys() == ["b", "a"]
    assert s._mv_values() == [2, 1]
    assert s._mv_items() == [("b", 2), ("a", 1)]


def build(cls):
    s = cls()
    s._mv_add({"a": 1, "n": None, "cfg": {"db": {"port": 5432}, "hosts": ["h", {"x": 2}]},
               "e": {"": {"b": 7}}})
    for name, value in [("", "empty"), ("a.b", "dotted"), ("$a", "dollar"), ("$.a", "literal")]:
        s._mv_set(name, value)
    s.__dict__["raw"] = {"x": 5, 1: "one"}
    return s


DEF, SELF = "<default>", "<store>"


def raw(s, path):
    if path in (DEF, SELF):
        return path
    for name in path:
        s = s[name] if type(s) is dict else s.__dict__[name]
    return s


@BOTH
@pytest.mark.parametrize("key, expected", [
    ("a", ["a"]), ("n", ["n"]), ("missing", DEF), ("a.b", ["a.b"]), ("$a", ["$a"]),
    ("", [""]), ("$.", [""]), ("$.a", ["a"]), ("$.cfg.db.port", ["cfg", "db", "port"]),
    ("$.cfg.hosts", ["cfg", "hosts"]), ("$.cfg.hosts.0", DEF), ("$.cfg.db.port.x", DEF),
    ("$.e..b", ["e", "", "b"]), ("$.e.", ["e", ""]), ("$.missing.a", DEF),
    ("$.raw.x", ["raw", "x"]), ("$.raw.1", DEF), (["raw", 1], ["raw", 1]),
    (("cfg", "db"), ["cfg", "db"]), (iter(["cfg", "hosts"]), ["cfg", "hosts"]),
    ([], SELF), ((), SELF), (5, DEF), (None, DEF), (Name("a"), ["a"]),
    ("_g_n_r", DEF), ("_i_c_u", DEF), ("$._g_n_s", DEF), (["_g_n_i"], DEF),
    ("_mv_keys", DEF), ("keys", DEF), ("_skip", DEF), ("$.get", DEF),
])
def test_get_forms(cls, key, expected):
    s = build(cls)
    default = object()
    want = {DEF: default, SELF: s}.get(expected) if expected in (DEF, SELF) else raw(s, expected)
    assert s._mv_get(key, default) is want
    assert s._mv_get(key) is (None if expected == DEF else want) or isinstance(key, type(iter([])))


class NoPath(str):
    def startswith(self, *args):
        return False


class AllPath(str):
    def startswith(self, *args):
        return True


@BOTH
def test_key_decides_its_form_through_its_own_startswith(cls):
    s = build(cls)
    assert s._mv_get(NoPath("$.a")) == "literal"
    assert s._mv_get(AllPath("q.cfg.db")) is s.cfg.db


@pytest.mark.parametrize("reprint", [False, True])
def test_walk_through_store_without_keys_and_get(reprint):
    s = new_main_store(reprint=reprint)
    s._mv_set("a", {"b": 1})
    default = []
    assert s._mv_get("a") is s.__dict__["a"]  # plain names do not need keys()
    assert s._mv_get("$.a.b", default) is default and s._mv_get(["a"], default) is default
    assert s._mv_get((), default) is s


class Trap:
    def __init__(self, exc, where):
        self.exc, self.where = exc, where

    def keys(self):
        if self.where == "keys":
            raise self.exc("trap")
        return ["k"]

    def get(self, part):
        raise self.exc("trap")


def trap_call(exc, where):
    """A _mv_get call in which `exc` is raised at `where`."""
    if where in ("keys", "get"):
        s = TarvelVar()
        s.__dict__["w"] = Trap(exc, where)
        return lambda d: s._mv_get("$.w.k", d)
    if where == "iter":
        def parts():
            yield "a"
            raise exc("trap")
        return lambda d: TarvelVar({"a": {}})._mv_get(parts(), d)
    if where == "startswith":
        key = type("Key", (str,), {"startswith": lambda self, p: (_ for _ in ()).throw(exc("trap"))})
        return lambda d: TarvelVar()._mv_get(key("a"), d)
    owner = type("Owner", (TarvelVar,), {"_mv_keys": lambda self: (_ for _ in ()).throw(exc("trap"))})
    return lambda d: owner()._mv_get("a", d)


SITES = ["keys", "get", "iter", "startswith", "_mv_keys"]


@pytest.mark.parametrize("where", SITES)
@pytest.mark.parametrize("exc", [ValueError, KeyError, AttributeError, StopIteration, Exception])
def test_exceptions_give_the_default(exc, where):
    call, default = trap_call(exc, where), object()
    assert call(default) is default
    assert_no_leak(lambda: call(default), default)


@pytest.mark.parametrize("where", SITES)
@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit, GeneratorExit])
def test_base_exceptions_propagate(exc, where):
    call = trap_call(exc, where)
    with pytest.raises(exc, match="trap"):
        call(None)

    def run():
        try:
            call(None)
        except exc:
            pass
    assert_no_leak(run)


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


def test_get_by_keywords(store):
    store.a = 1
    default = object()
    assert TarvelVarMain._mv_get(self=store, key="zz", default=default) is default
    assert store._mv_get(key="a") == 1


@pytest.mark.parametrize("shadow, value", [("_mv_keys", lambda: []), ("_skip", 0)])
def test_instance_variable_hides_the_method(store, shadow, value):
    store.a = 1
    store.__dict__[shadow] = value
    default = object()
    assert store._mv_get("a", default) is default and store._mv_get("$.a", default) is default


def test_instance_skip_is_used(store):
    store.a, store.b = 1, 2
    store.__dict__["_skip"] = lambda: ["_i_c_u", "_g_n_r", "_g_n_i", "_g_n_s", "_skip", "a"]
    assert store._mv_keys() == ["b"] and store._mv_get("a", 0) == 0 and store._mv_get("b") == 2


@BOTH
def test_no_leaks_on_reads(cls):
    s, default = build(cls), object()
    for key in ("a", "missing", "$.cfg.db.port", "$.cfg.hosts.0", ("cfg", "db"), 5, "$.raw.x"):
        assert_no_leak(lambda: s._mv_get(key, default), s, default, key)
    for listing in (s._mv_keys, s._mv_values, s._mv_items):
        assert_no_leak(listing, s, s.__dict__["a"])
