"""The public class as a mutable mapping of its variables: protocol methods against a dict
model, equality by content, strict stores, reserved keys and mappings in the data."""

import copy
import pickle
import sys
from collections import OrderedDict
from collections.abc import ItemsView, KeysView, Mapping, MutableMapping
from types import MappingProxyType

import pytest
from hypothesis import given, settings, strategies as st

from conftest import GeneralPath, added, assert_no_leak, outcome
from tarvel_var import MissingVariableError, TarvelVar, TarvelVarMain

names = st.text(min_size=0, max_size=5).filter(lambda name: not name.startswith("_"))
leaves = st.none() | st.booleans() | st.integers() | st.text(max_size=4)
values = st.recursive(leaves, lambda inner: st.lists(inner, max_size=3) | st.dictionaries(names, inner, max_size=3),
                      max_leaves=12)
documents = st.dictionaries(names, values, max_size=5)

# Every public method name, and the names the store keeps for itself.
PUBLIC = ["add", "keys", "get", "values", "items", "pop", "popitem", "setdefault", "update", "clear",
          "to_dict", "merge"]
RESERVED = ["_i_c_u", "_g_n_r", "_g_n_i", "_g_n_s"] + sorted(
    {name for cls in TarvelVar.__mro__ for name in vars(cls) if name.startswith("_")})


class Hiding(TarvelVar):
    def _mv_keys(self):
        return [name for name in super()._mv_keys() if name != "secret"]


class Keys(Mapping):
    """A mapping that is not a dict."""

    def __init__(self, data):
        self.data = data

    def __getitem__(self, key):
        return self.data[key]

    def __iter__(self):
        return iter(self.data)

    def __len__(self):
        return len(self.data)


def plain(data):
    return TarvelVar(data).to_dict()


OPERATIONS = st.lists(st.tuples(st.sampled_from(["set", "del", "pop", "popitem", "setdefault", "update", "clear",
                                                 "merge"]), names, values), max_size=8)


@settings(max_examples=120, deadline=None)
@given(documents, OPERATIONS)
def test_protocol_follows_a_dict_model(doc, operations):
    for cls in (TarvelVar, GeneralPath):
        store, model = cls(), {}
        store.merge(doc)
        model.update(plain(doc))
        for op, key, value in operations:
            expected = outcome(lambda: apply(model, op, key, plain({"v": value})["v"]))
            got = outcome(lambda: apply(store, op, key, value))
            if isinstance(got, TarvelVar):
                got = got.to_dict()
            if op == "merge":
                model.clear(), model.update(store.to_dict())  # merge semantics have their own tests
            elif isinstance(expected, tuple) and expected and expected[0] is KeyError:
                assert got[0] is KeyError
            else:
                assert TarvelVar({"r": got}).to_dict() == TarvelVar({"r": expected}).to_dict()
            assert store.to_dict() == model and store == model and not store != model
            assert (len(store), list(store), list(store.keys()), bool(store)) == (len(model), list(model), list(model), bool(model))
            assert [k in store for k in model] == [True] * len(model) and (key in store) == (key in model)
            assert dict(store) == {k: store[k] for k in model} and [store.get(k) for k in model] == list(store.values())
            assert list(store.items()) == list(zip(store.keys(), store.values()))


def apply(target, op, key, value):
    if op == "set":
        target[key] = value
    elif op == "del":
        del target[key]
    elif op == "pop":
        return target.pop(key, "D") if value is None else target.pop(key)
    elif op == "popitem":
        return target.popitem()
    elif op == "setdefault":
        return target.setdefault(key, value)
    elif op == "update":
        target.update({key: value}, extra=1)
    elif op == "clear":
        target.clear()
    elif op == "merge" and isinstance(target, TarvelVar):
        target.merge({key: value})


def test_mapping_basics_and_fast_path_against_overrides():
    store = TarvelVar({"a": 1, "db": {"port": 5}, "l": [{"x": 1}], "my-key": "v"})
    assert isinstance(store, MutableMapping) and isinstance(store, Mapping)
    assert store["my-key"] == "v" and store["db"] is store.db and store["db"]["port"] == 5
    assert dict(store) == {"a": 1, "db": store.db, "l": store.l, "my-key": "v"}
    assert (lambda **kw: sorted(kw))(**store) == ["a", "db", "l", "my-key"]
    for missing in ["_g_n_i", "_skip", "nope", 3, ("a",)]:
        assert outcome(lambda: store[missing]) == (KeyError, repr(missing) if missing != ("a",) else "('a',)")
        assert missing not in store and store.get(missing, "D") == ("D" if missing != ("a",) else 1)  # a part sequence
    hiding = Hiding({"secret": 1, "open": 2})
    assert (list(hiding), len(hiding), "secret" in hiding, hiding.get("secret", "D")) == (["open"], 1, False, "D")
    assert (list(hiding.items()), list(hiding.values()), dict(hiding)) == ([("open", 2)], [2], {"open": 2})
    assert outcome(lambda: hiding["secret"]) == (KeyError, "'secret'") and hiding == {"open": 2}
    shadowed = TarvelVar({"a": 1})
    shadowed._mv_set("_skip", lambda: ["a"])  # an instance variable hides the method
    listing = ["_i_c_u", "_g_n_r", "_g_n_i", "_g_n_s", "_skip"]
    assert (len(shadowed), "a" in shadowed, list(shadowed), shadowed._mv_keys()) == (5, False, listing, listing)
    assert outcome(lambda: TarvelVar().popitem()) == (KeyError, "'popitem(): store is empty'")
    assert not TarvelVar() and TarvelVar({"a": None}) and outcome(lambda: hash(store))[0] is TypeError
    assert copy.copy(store)["db"] is store.db and copy.copy(store) == store
    assert copy.deepcopy(store) == store and copy.deepcopy(store).db is not store.db


def test_slots_and_methods_agree_and_subclasses_may_override():
    class Upper(TarvelVar):
        def __getitem__(self, key):
            return super().__getitem__(key.lower())

    store = Upper({"a": 1})
    assert store["A"] == 1 and TarvelVar.__getitem__(store, "a") == 1 and TarvelVar.__len__(store) == len(store)
    assert list(TarvelVar.keys(store)) == ["a"] and list(TarvelVar.items(store)) == [("a", 1)]
    assert TarvelVar.__eq__(store, 5) is NotImplemented and (store == 5) is False and store != [("a", 1)]


@pytest.mark.parametrize("left, right, equal", [
    ({"a": [1, (2, {3})], "d": {"x": {}}}, {"a": [1, [2, [3]]], "d": {"x": {}}}, True),
    ({"a": 1}, OrderedDict(a=1), True),
    ({"a": {"b": 1}}, MappingProxyType({"a": Keys({"b": 1})}), True),
    ({"a": 1}, {"a": 1.0}, True),
    ({"a": 1}, {"a": 2}, False),
    ({"a": 1}, {"a": 1, "b": 2}, False),
    ({"a": [1, 2]}, {"a": [2, 1]}, False),
    ({"a": {"b": 1}}, {"a": [("b", 1)]}, False),
    ({"a": [1]}, {"a": "1"}, False),
    ({}, {}, True),
])
def test_equality_by_content(left, right, equal):
    store = TarvelVar(left)
    for other in (right, TarvelVar(right) if not isinstance(right, MappingProxyType) else right):
        assert (store == other, other == store, store != other, other != store) == (equal, equal, not equal, not equal)


def test_equality_errors_and_cycles():
    class Boom:
        def __eq__(self, other):
            raise ValueError("boom")

    assert outcome(lambda: TarvelVar({"a": Boom()}) == {"a": 1}) == (ValueError, "boom")
    a, b = TarvelVar(), TarvelVar()
    a.me, b.me = a, b
    assert a == a and outcome(lambda: a == b)[0] is RecursionError
    assert_no_leak(lambda: outcome(lambda: a == b), a, b, repeat=20)


def test_method_names_stay_variables():
    doc = {name: {"inner": [{name: i}]} for i, name in enumerate(PUBLIC)}
    store = TarvelVar(doc)
    assert store.to_dict() == doc and store == doc and list(store) == PUBLIC
    assert store["items"]["inner"][0]["items"] == PUBLIC.index("items") and callable(store.items)
    assert store.get("$.keys.inner") == [store["keys"]["inner"][0]] and store.get("values") is store["values"]
    store.merge({"update": {"more": 1}, "clear": [2]})
    assert store["update"]["more"] == 1 and store["clear"] == [2]
    assert "pop=TarvelVar(" in repr(store) and "merge=" in store._mv_to_params()
    store["get"] = 7
    assert store.get("get") == 7 and store.pop("get") == 7 and "get" not in store and store.popitem()[0] == "merge"
    store.clear()
    assert len(store) == 0 and list(store.keys()) == []


@pytest.mark.parametrize("flags", [{}, {"strict": True}, {"strict": True, "reprint": True}])
def test_strict_stores_keep_their_mode(flags):
    store = TarvelVar({"db": {"port": 1}, "l": [{"x": 1}]}, **flags)
    store.cfg = {"a": {}}
    store.merge({"more": {"b": 1}})
    store["item"] = {"c": 1}
    for each in (store, store.db, store.l[0], store.cfg.a, store.more, store.item,
                 pickle.loads(pickle.dumps(store)).db, copy.deepcopy(store).cfg, copy.copy(store)):
        assert outcome(lambda: each.typo) == (MissingVariableError, "'TarvelVar' object has no attribute 'typo'")
        assert not hasattr(each, "typo") and getattr(each, "typo", 7) == 7
    assert store.db.port == 1 and store.get("$.db.port") == 1
    loose = TarvelVar({"db": {}}, strict=False)
    assert loose.typo is None and loose.db.typo is None and TarvelVar(reprint=True).typo == "typo"
    assert outcome(lambda: loose.__missing__)[0] is AttributeError


@pytest.mark.parametrize("name", RESERVED)
def test_reserved_keys_are_refused_at_any_depth(name):
    store = TarvelVar({"keep": {"x": 1}})
    before = (vars(store).copy(), vars(store.keep).copy())
    for entry in ({name: 1}, {"a": {name: 1}}, {"a": [1, {"b": OrderedDict({name: 1})}]}):
        for call in (lambda: TarvelVar(entry), lambda: store.merge(entry), lambda: store.update(entry),
                     lambda: store.update(ok=1, **entry), lambda: store.__setitem__("a", entry.get("a", entry)),
                     lambda: store.setdefault("n", entry)):
            error = outcome(call)
            assert error[0] is ValueError and repr(name) in error[1], error
            assert (vars(store), vars(store.keep)) == before
    assert outcome(lambda: store.__setitem__(name, 1))[0] is ValueError
    added({name: 1})  # the module's own merge keeps taking any name


@pytest.mark.parametrize("data, message", [
    ([1, 2], "TarvelVar() argument 'data' must be a mapping, not list"),
    ("ab", "TarvelVar() argument 'data' must be a mapping, not str"),
    ({"a": {1: 2}}, "key 1 at $.a is not a str (got int)"),
    ({"a": [{"b": {None: 1}}]}, "key None at $.a.0.b is not a str (got NoneType)"),
])
def test_bad_data_is_named(data, message):
    assert outcome(lambda: TarvelVar(data)) == (TypeError, message)
    assert outcome(lambda: TarvelVar().merge(data))[0] is TypeError


def test_mappings_in_the_data_load_as_dicts():
    class Name(str):
        pass

    inner = TarvelVar({"z": 1})
    data = OrderedDict(a=OrderedDict(b=Keys({"c": [MappingProxyType({"d": 1})]})), s=inner)
    data[Name("n")] = 2
    store = TarvelVar(data)
    assert store.to_dict() == {"a": {"b": {"c": [{"d": 1}]}}, "s": {"z": 1}, "n": 2}
    assert store.s is inner and type(next(reversed(store.keys()))) is str
    assert TarvelVar(store) == store and TarvelVar(store).a is not store.a
    assert TarvelVar(Keys({"k": {"x": 1}})).k.x == 1
    plain_outside = TarvelVar({"p": MappingProxyType({"b": 1}), "l": [Keys({"c": 2})], "o": OrderedDict(d=3)})
    assert plain_outside.to_dict() == {"p": {"b": 1}, "l": [{"c": 2}], "o": {"d": 3}}
    assert {type(plain_outside.p), type(plain_outside.l[0]), type(plain_outside.o)} == {TarvelVar}


def test_no_leaks_on_success_and_error():
    doc = {"a": {"b": [1, {"c": 2}]}, "d": OrderedDict(e=1)}
    store = TarvelVar(doc)
    key, value = "a", [1]
    calls = [lambda: TarvelVar(doc), lambda: store == doc, lambda: dict(store), lambda: store.get("$.a.b"),
             lambda: store.update(doc), lambda: store.__setitem__(key, value), lambda: key in store,
             lambda: outcome(lambda: store["zz"]), lambda: outcome(lambda: TarvelVar({"a": {"_skip": 1}})),
             lambda: outcome(lambda: store.merge([1])), lambda: store.setdefault("n", 1),
             lambda: (store.__setitem__("t", value), store.pop("t")), lambda: TarvelVar(doc, strict=True).a]
    for call in calls:
        assert_no_leak(call, store, key, value, doc, repeat=50)
    assert sys.getrefcount(TarvelVar) < 1000


def shape(value):
    """What a build produced, down to the key objects and the nested stores' internals (a
    class by its name, so that a stand-in class of the same name compares equal)."""
    if isinstance(value, TarvelVarMain):
        return type(value).__name__, [(id(key), key, shape(item)) for key, item in vars(value).items()]
    if isinstance(value, list):
        return list, [shape(item) for item in value]
    if isinstance(value, type):
        return value.__name__
    return value


def by_the_merge(doc, strict=False):
    """A store filled by the core's merge at every depth: a class of the same name that is its
    own store factory, which the direct build does not take."""
    def __init__(self):
        self._set_class(type(self), False, False)
        vars(self)["_g_n_s"] = strict

    store = type("TarvelVar", (TarvelVar,), {"__init__": __init__})()
    store._mv_add(doc)
    return store


def without_factories(shaped):
    """shape() without the store factories, which differ between the public class and the
    stand-in of by_the_merge()."""
    if isinstance(shaped, tuple) and len(shaped) == 2 and shaped[0] == "TarvelVar":
        return "TarvelVar", [(k, key, without_factories(item)) for k, key, item in shaped[1] if key != "_i_c_u"]
    if isinstance(shaped, tuple) and len(shaped) == 2 and shaped[0] is list:
        return list, [without_factories(item) for item in shaped[1]]
    return shaped


build_values = st.recursive(leaves | st.frozensets(st.integers(), max_size=2),
                            lambda inner: st.lists(inner, max_size=3) | st.tuples(inner, inner)
                            | st.dictionaries(names, inner, max_size=3), max_leaves=12)


@settings(max_examples=120, deadline=None)
@given(st.dictionaries(names, build_values, max_size=5), st.booleans())
def test_direct_build_matches_the_merge(doc, strict):
    reference = without_factories(shape(by_the_merge(doc, strict)))
    assert without_factories(shape(TarvelVar(doc, strict=strict))) == reference
    assert without_factories(shape(added(doc, strict=strict))) == reference
    holder = TarvelVar(strict=strict)
    holder.x = doc  # assignment: the factory's new store filled by add(**doc)
    assert without_factories(shape(holder.x)) == reference


@settings(max_examples=100, deadline=None)
@given(st.dictionaries(names | st.sampled_from(["_g_n_s", "_g_n_r"]), build_values, max_size=5), st.booleans())
def test_direct_conversion_matches_the_stores_own(doc, sort):
    store = added(doc)
    direct, general = store.to_dict(sort), store._mv_to_dict(sort)
    if sort:  # the public to_dict orders every level, the core's the top one
        general = every_level_sorted(general)
    assert direct == general and list(direct) == list(general)
    assert shape(added({"r": direct})) == shape(added({"r": general}))
    store._mv_set("_to_dict", lambda kwargs, sort=False: {"overridden": sort})  # hides the method
    assert store.to_dict(sort) == {"overridden": sort}


def every_level_sorted(value):
    if isinstance(value, dict):
        return {key: every_level_sorted(value[key]) for key in sorted(value)}
    return [every_level_sorted(item) for item in value] if isinstance(value, list) else value


def test_conversion_takes_the_truth_of_sort_once():
    class Flag:
        calls = 0

        def __bool__(self):
            Flag.calls += 1
            return True

    assert list(TarvelVar({"b": 1, "a": {"z": 1, "y": 2}}).to_dict(Flag())) == ["a", "b"] and Flag.calls == 1


@settings(max_examples=100, deadline=None)
@given(documents, st.lists(names | st.sampled_from(["0", "1", "-1", "9", "01", "-0"]), min_size=1, max_size=4))
def test_get_steps_into_lists_as_the_path_module_does(doc, steps):
    from tarvel_var.paths import lookup

    path = "$." + ".".join(steps)
    for store in (TarvelVar(doc), build_general(doc)):
        if "" not in path[2:].split("."):  # the path module refuses empty steps
            assert shape(store.get(path, "D")) == shape(lookup(store, path, "D"))
        assert store.get(steps[0], "D") == store._mv_get(steps[0], "D")
    store = TarvelVar({"l": [{"x": 1}, [2, 3]], "t": {"k": (4,)}})
    assert [store.get(p, "D") for p in ["$.l.0.x", "$.l.-1.1", "$.l.2", "$.l.x", "$.t.k", "$.l.1.-3"]] == [
        1, 3, "D", "D", [4], "D"]
    assert store.get(key="$.l.0.x") == 1 and store.get("$.l.0.y", default=0) == 0


def build_general(doc):
    class Listing(TarvelVar):
        def _mv_get(self, key, default=None):
            return super()._mv_get(key, default)

    return Listing(doc)


def test_views_are_live_set_like_and_in_order():
    store = TarvelVar({"a": 1, "b": {"c": 2}})
    keys, values, items = store.keys(), store.values(), store.items()
    assert keys == {"b": 0, "a": 0}.keys() and keys & {"a", "z"} == {"a"} and keys | {"z"} == {"a", "b", "z"}
    assert ("a", 1) in items and ("a", 2) not in items and list(reversed(keys)) == ["b", "a"]
    store.z = 3
    assert (list(keys), list(values)[-1], len(items)) == (["a", "b", "z"], 3, 3)
    assert isinstance(keys, KeysView) and isinstance(items, ItemsView) and repr(keys) == "StoreKeys(['a', 'b', 'z'])"
    assert list(reversed(store)) == ["z", "b", "a"]
    del store.a
    assert "a" not in keys and list(items)[0] == ("b", store.b)
    for view in (keys, values, items):  # a view without its store raises, never crashes
        del view._mapping
        for use in (len, list, lambda v: ("b", 1) in v):
            assert outcome(lambda: use(view))[0] is AttributeError
        view._mapping = {"not": "a store"}
        assert outcome(lambda: list(view))[0] is AttributeError


def test_copy_is_deep_and_or_is_a_copy_updated():
    store = TarvelVar({"db": {"hosts": [{"h": "a"}]}}, strict=True)
    clone = store.copy()
    clone.db.hosts[0].h = "b"
    assert store.db.hosts[0].h == "a" and clone == {"db": {"hosts": [{"h": "b"}]}}
    assert outcome(lambda: clone.typo)[0] is MissingVariableError
    merged = store | {"db": {"port": 1}, "x": 2}
    assert merged == {"db": {"port": 1}, "x": 2} and store == {"db": {"hosts": [{"h": "a"}]}}
    same = store
    store |= [("y", {"z": 1})]
    assert store is same and store.y.z == 1
    assert outcome(lambda: store | [1]) == (TypeError, "unsupported operand type(s) for |: 'TarvelVar' and 'list'")
    assert outcome(lambda: {"a": 1} | store)[0] is TypeError
    assert outcome(lambda: store.__ior__({"_g_n_i": 1}))[0] is ValueError and "_g_n_i" not in store


def test_a_strict_store_names_its_closest_variables_only_when_asked():
    import difflib

    store = TarvelVar({"port": 1, "host": "h", "ports": [1]}, strict=True)
    asked = []
    original = difflib.get_close_matches
    difflib.get_close_matches = lambda *args: asked.append(args) or original(*args)
    try:
        assert not hasattr(store, "prot") and getattr(store, "prot", 7) == 7 and asked == []
        error = outcome(lambda: store.prot)
        assert error == (MissingVariableError, "'TarvelVar' object has no attribute 'prot' "
                                               "(closest variables: 'port', 'ports')")
        assert outcome(lambda: store.zzzzzz)[1] == "'TarvelVar' object has no attribute 'zzzzzz'"
    finally:
        difflib.get_close_matches = original
    try:
        store.prot
    except AttributeError as caught:
        assert (caught.name, caught.obj) == ("prot", store)
        store._mv_keys = None  # a listing that fails: the message alone, never a second error
        assert str(caught) == "'TarvelVar' object has no attribute 'prot'"


@pytest.mark.parametrize("name", PUBLIC + ["copy", "set", "dump", "dumps"])
def test_every_public_method_has_a_signature_bound_and_unbound(name):
    import inspect

    unbound = inspect.signature(getattr(TarvelVar, name))
    bound = inspect.signature(getattr(TarvelVar(), name))
    assert list(unbound.parameters)[0] == "self" and list(bound.parameters) == list(unbound.parameters)[1:]


@settings(max_examples=80, deadline=None)
@given(build_values, st.booleans(), st.booleans())
def test_direct_assignment_matches_the_chain(value, strict, inherit):
    direct, chained = TarvelVar(strict=strict, inherit=inherit), GeneralPath(strict=strict, inherit=inherit)
    for holder in (direct, chained):
        holder.x = value
        holder["y"] = value
    assert without_factories(shape(vars(direct)["x"])) == without_factories(shape(vars(chained)["x"]))
    assert without_factories(shape(vars(direct)["y"])) == without_factories(shape(vars(chained)["y"]))


@pytest.mark.parametrize("value", [OrderedDict(a=1), __import__("collections").defaultdict(int, a=1),
                                   __import__("collections").Counter(a=1), MappingProxyType({"a": 1}), Keys({"a": 1})])
def test_attribute_assignment_and_add_convert_any_mapping(value):
    for fill in (lambda s: setattr(s, "x", value), lambda s: s.add(x=value), lambda s: s.__setitem__("x", value),
                 lambda s: s.add(x=[value])):
        store = TarvelVar()
        fill(store)
        held = store.x[0] if isinstance(store.x, list) else store.x
        assert type(held) is TarvelVar and held.a == 1 and store.to_dict()
    raw = TarvelVar(inherit=True)
    raw.x = value
    assert raw.x is value
    assert outcome(lambda: setattr(TarvelVar(), "x", {"_g_n_i": 1}))[0] is ValueError


FAST_PATH_OPERATIONS = [
    lambda s: s.clear(), lambda s: s.pop("b"), lambda s: s.pop("zz", 0), lambda s: s.__delitem__("a"),
    lambda s: s.popitem(), lambda s: s.update(a=2, z=None), lambda s: s.update({"n": 1.5, "a": TarvelVar({"q": 1})}),
    lambda s: s.update(a=[1]), lambda s: list(s), lambda s: list(reversed(s)), lambda s: s.get("$.b.c"),
    lambda s: s.get("$.b[0]", "d"), lambda s: s.get("$.l[1].x"), lambda s: s.setdefault("a", 5),
]


@pytest.mark.parametrize("operation", FAST_PATH_OPERATIONS)
def test_fast_paths_match_the_general_ones(operation):
    doc = {"a": 1, "b": {"c": 2}, "keys": 3, "l": [0, {"x": 4}]}
    results = []
    for cls in (TarvelVar, GeneralPath):
        store = cls(doc)
        store.__dict__["_private"] = 1  # not a variable's name the class has: cleared as any
        outcome_ = outcome(lambda: operation(store))
        content = without_factories(("TarvelVar", shape(store)[1]))[1]
        results.append((without_factories(shape(outcome_)) if isinstance(outcome_, TarvelVarMain) else
                        outcome_, content))
    assert results[0] == results[1]


def test_clear_releases_values_once_the_store_is_cleared_and_set_up():
    seen = []

    class Watcher:
        def __del__(self):
            seen.append((list(store), store._g_n_r, store.missing))

    store = TarvelVar({"a": 1}, strict=False)
    store.w, store.z = Watcher(), 2
    store.clear()
    assert seen == [([], False, None)] and vars(store)["_g_n_i"] is False and len(store) == 0
    holder = TarvelVar({"x": 1})
    holder.__dict__["_skip"] = lambda: []  # the listing is hidden: the store's own clear runs,
    holder.clear()                         # and removes all it lists, the internals included
    assert vars(holder) == {}


json_values = st.recursive(leaves | st.floats(allow_nan=False, allow_infinity=False),
                           lambda inner: st.lists(inner, max_size=3) | st.dictionaries(names, inner, max_size=3),
                           max_leaves=15)


@settings(max_examples=100, deadline=None)
@given(st.dictionaries(names | st.sampled_from(["_g_n_i", "__x__", "keys"]), json_values, max_size=5), st.booleans())
def test_loading_json_in_the_parsers_pass_matches_building_from_dicts(doc, strict):
    import json

    text = json.dumps(doc)
    general = outcome(lambda: TarvelVar(json.loads(text), strict=strict))
    loaded = outcome(lambda: TarvelVar.loads(text, strict=strict))
    if isinstance(general, tuple):  # a key the store refuses: the same refusal, naming the source
        assert loaded[0].__name__ == "LoadError" and general[1] in loaded[1]
    else:
        assert structure(loaded) == structure(general) and loaded.to_dict() == doc


def structure(value):
    """shape(), without the names' identities: two parses of one text make distinct strings."""
    if isinstance(value, TarvelVarMain):
        return type(value).__name__, [(key, structure(item)) for key, item in vars(value).items()]
    if isinstance(value, list):
        return list, [structure(item) for item in value]
    return value


@pytest.mark.parametrize("call, message", [
    (lambda s: TarvelVar({}, 1), "TarvelVar() takes at most 1 positional argument (2 given)"),
    (lambda s: TarvelVar(data={}), "TarvelVar() got some positional-only arguments passed as keyword arguments: 'data'"),
    (lambda s: TarvelVar(zz=1), "TarvelVar() got an unexpected keyword argument 'zz'"),
    (lambda s: s.get(), "get() missing required argument 'key'"),
    (lambda s: s.get(1, 2, 3), "get() takes at most 2 arguments (3 given)"),
    (lambda s: s.get("a", key="a"), "get() got multiple values for argument 'key'"),
    (lambda s: s.to_dict(True, sort=True), "to_dict() got multiple values for argument 'sort'"),
    (lambda s: s.pop(), "pop() takes at least 1 argument (0 given)"),
    (lambda s: s.pop(1, 2, 3), "pop() takes at most 2 arguments (3 given)"),
    (lambda s: s.setdefault(), "setdefault() takes at least 1 argument (0 given)"),
    (lambda s: s.__setitem__("a"), "__setitem__() takes exactly 2 arguments (1 given)"),
])
def test_the_declared_parameters_parse_with_cpythons_words(call, message):
    assert outcome(lambda: call(TarvelVar({"a": 1}))) == (TypeError, message)


STORE_MAKERS = {
    "constructor": lambda **f: TarvelVar({"db": {"port": 1}, "l": [{"x": 1}]}, **f),
    "loads json": lambda **f: TarvelVar.loads('{"db": {"port": 1}, "l": [{"x": 1}]}', **f),
    "loads yaml": lambda **f: TarvelVar.loads("db: {port: 1}\nl: [{x: 1}]", format="yaml", **f),
    "from_env": lambda **f: TarvelVar.from_env("APP", environ={"APP_DB__PORT": "1", "APP_L": '[{"x": 1}]'}, **f),
    "compose": lambda **f: TarvelVar.compose({"db": {"port": 1}}, {"l": [{"x": 1}]}, **f),
    "frozen": lambda **f: TarvelVar({"db": {"port": 1}, "l": [{"x": 1}]}, frozen=True, **f),
    "inherit, frozen": lambda **f: TarvelVar({"db": {"port": 1}, "l": [{"x": 1}]}, inherit=True, **f).freeze(),
}


@pytest.mark.parametrize("maker", STORE_MAKERS.values(), ids=STORE_MAKERS)
@pytest.mark.parametrize("flags, answer", [({}, MissingVariableError), ({"strict": True}, MissingVariableError),
                                           ({"strict": False}, None), ({"reprint": True}, "typo")])
def test_every_way_of_making_stores_reads_strictly_unless_asked(maker, flags, answer):
    store = maker(**flags)
    for each in (store, store.db, store.l[0], copy.deepcopy(store).db, pickle.loads(pickle.dumps(store)).l[0]):
        if answer is MissingVariableError:
            assert not hasattr(each, "typo") and getattr(each, "typo", 7) == 7
        else:  # as in the core, reprint is the top store's own: nested ones answer None
            assert each.typo == (answer if each is store else None)
