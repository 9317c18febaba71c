"""Conversion to plain containers and the three text renderings."""

from collections import OrderedDict

import pytest

from conftest import added, assert_no_leak, new_main_store, outcome
from tarvel_var import TarvelVar, TarvelVarMain

# Classes that merely bear the type name by which the conversion recognises a store.
Named = type("TarvelVar", (), {})
NamedList = type("TarvelVar", (list,), {})
NoDict = type("TarvelVar", (), {"__slots__": ()})
NoneDict = type("TarvelVar", (), {"__dict__": property(lambda self: None)})
OrderedDictDict = type("TarvelVar", (), {"__dict__": property(lambda self: OrderedDict(a=1))})
Sub = type("Sub", (TarvelVar,), {})
DictSub = type("DictSub", (dict,), {})
KWARGS = "Argument 'kwargs' has incorrect type (expected dict, got {})"



def test_mapping_decision_table(store):
    plain, fs, data, rng = {"in": TarvelVar({"k": 1})}, frozenset({1}), b"x", range(2)
    main, sub = TarvelVarMain(), Sub()
    named, listy = Named(), NamedList([9])  # listy: the name row comes before the sequence row
    named.__dict__.update(x=(1, {2}), _g_n_s=7, deep=TarvelVar({"z": [3]}))
    listy.k = 1
    src = {"t": (1, (2, 3)), "s": {4}, "l": type("L", (list,), {})([5]), "fs": fs, "b": data, "r": rng,
           "d": plain, "m": main, "sub": sub, "named": named, "listy": listy, "_g_n_s": [1],
           "_g_n_r": TarvelVar({"q": 1}), "_g_n_i": 5, "_i_c_u": TarvelVar, "z": None}
    out = store._to_dict(src)
    assert out == {"t": [1, [2, 3]], "s": [4], "l": [5], "fs": fs, "b": data, "r": rng, "d": plain,
                   "m": main, "sub": sub, "named": {"x": [1, [2]], "deep": {"z": [3]}},
                   "listy": {"k": 1}, "_g_n_s": [1], "_g_n_r": {"q": 1}, "z": None}
    assert list(out) == [k for k in src if k not in ("_g_n_i", "_i_c_u")]
    assert all(out[k] is src[k] for k in ("fs", "b", "r", "d", "m", "sub"))
    assert type(out["l"]) is list and list(out["named"]) == ["x", "deep"]


@pytest.mark.parametrize("arg, expected", [
    ("ab", ["a", "b"]), ({"k": 1}, ["k"]), ((1, (2,), {3}), [1, [2], [3]]),
    (iter([["_g_n_r"]]), [["_g_n_r"]]),
    ([added({"a": [1], "_g_n_s": 0}), NamedList([2])], [{"a": [1]}, {}]),
    (5, (TypeError, "'int' object is not iterable")),
])
def test_sequence_decision_table(store, arg, expected):
    out = outcome(lambda: store._list_to_dict(arg))
    assert out == expected and type(out) is type(expected)
    items = [frozenset(), {"d": TarvelVar()}, TarvelVarMain(), Sub(), "s", None]
    out = store._list_to_dict(items)
    assert out is not items and len(out) == 6 and all(a is b for a, b in zip(out, items))


@pytest.mark.parametrize("value, result", [
    (NoDict(), AttributeError), (NoneDict(), (TypeError, KWARGS.format("NoneType"))),
    (OrderedDictDict(), (TypeError, KWARGS.format("collections.OrderedDict"))),
])
def test_named_value_with_unusable_dict(store, value, result):
    for call in (lambda: store._to_dict({"v": value}), lambda: store._list_to_dict([value])):
        assert outcome(call) == result or outcome(call)[0] is result
    for arg, got in [(None, "NoneType"), (OrderedDict(), "collections.OrderedDict"), (DictSub(), "DictSub")]:
        assert outcome(lambda: store._to_dict(arg)) == (TypeError, KWARGS.format(got))


def test_order_sort_and_fresh_containers(store):
    store.b, store.n, store.a = "x", {"z": 1, "y": {"d": 1, "c": 2}}, [{"q": 1, "p": 2}]
    plain = store._mv_to_dict()
    assert list(plain) == ["b", "n", "a"] and plain["a"] is not store.a and plain is not store._mv_to_dict()
    out = store._mv_to_dict(sort=True)
    assert out == plain == store._mv_to_dict("") and list(out) == ["a", "b", "n"]
    # sorting reaches the top level only
    assert list(out["n"]) == ["z", "y"] and list(out["n"]["y"]) == ["d", "c"]
    assert list(out["a"][0]) == ["q", "p"]
    assert store._to_dict({}, sort=True) == {} == TarvelVar()._mv_to_dict(True)
    assert list(store._to_dict({"b": 1j, "a": 2j}, [0])) == ["a", "b"]  # values are never compared
    truth = type("Truth", (), {"__bool__": lambda s: 1 / 0})()
    assert outcome(lambda: store._mv_to_dict(truth))[0] is ZeroDivisionError
    assert outcome(lambda: store._to_dict({1: "a", "b": 2}, True))[0] is TypeError
    store.__dict__[1] = 1
    assert store._mv_to_dict()[1] == 1 and outcome(lambda: store._mv_to_dict(True))[0] is TypeError


@pytest.mark.parametrize("result, expected", [
    ([], (TypeError, "Expected dict, got list")), (DictSub(), (TypeError, "Expected dict, got DictSub")),
    (None, None)])
def test_to_dict_result_is_checked(result, expected):
    store = type("Odd", (TarvelVar,), {"_to_dict": lambda self, kwargs, sort=False: result})()
    assert outcome(store._mv_to_dict) == expected


class Marked(TarvelVar):
    def _to_dict(self, kwargs, sort=False):
        return {**super()._to_dict(kwargs, sort), "#": sort}

    def _list_to_dict(self, array):
        return ("L", *super()._list_to_dict(array))


def test_overrides_take_part_in_the_recursion():
    # nested stores are plain TarvelVar objects, converted with the outer store's methods
    out = Marked({"n": {"x": 1}, "l": [{"y": 2}, (3,)]})._mv_to_dict(1)
    assert out == {"l": ("L", {"y": 2, "#": False}, ("L", 3)), "n": {"x": 1, "#": False}, "#": 1}
    assert list(out) == ["l", "n", "#"]


@pytest.mark.parametrize("order, params, string", [
    ("ab", "a=1&b='x'", '"a": "1", "b": "\'x\'"'), ("ba", "b='x'&a=1", '"b": "\'x\'", "a": "1"')])
def test_worked_example(store, order, params, string):
    for name in order:
        store._mv_set(name, {"a": 1, "b": "x"}[name])
    assert (store._mv_to_params(), store._mv_to_string()) == (params, string)
    assert repr(store) == str(store) == "TarvelVar(a=1, b='x')"


def test_nested_stores_lists_and_no_escaping(store):
    store.z, store.c, store.a = [1, "y", {"q": None}], {"z": 2, "d": (3,)}, ""
    assert store._mv_to_params() == "z=[1, 'y', TarvelVar(q=None)]&c=TarvelVar(d=[3], z=2)&a=''"
    assert store._mv_to_string() == ('"z": "[1, \'y\', TarvelVar(q=None)]", '
                                     '"c": "TarvelVar(d=[3], z=2)", "a": "\'\'"')
    assert repr(store) == "TarvelVar(a='', c=TarvelVar(d=[3], z=2), z=[1, 'y', TarvelVar(q=None)])"
    other = TarvelVar()
    other._mv_set("k&=", 'say "hi" & x=1')
    other.__dict__.update({7: None, type("Loud", (str,), {"__str__": lambda s: "LOUD"})("q"): 2})
    assert other._mv_to_params() == "k&=='say \"hi\" & x=1'&7=None&LOUD=2"
    assert other._mv_to_string() == '"k&=": "\'say "hi" & x=1\'", "7": "None", "LOUD": "2"'
    assert outcome(lambda: repr(other))[0] is TypeError  # an int name cannot be ordered among str names


@pytest.mark.parametrize("make", [TarvelVar, Sub, new_main_store, TarvelVarMain,
                                  type("Any", (TarvelVarMain,), {})])
def test_fixed_prefix_and_stores_never_set_up(make):
    store = make()
    assert (store._mv_to_params(), store._mv_to_string(), repr(store)) == ("", "", "TarvelVar()")
    store.__dict__.update(_g_n_r=[5], z=1, y=Sub())
    assert (store._mv_to_params(), store._mv_to_string(), repr(store)) == (
        "z=1&y=TarvelVar()", '"z": "1", "y": "TarvelVar()"', "TarvelVar(y=TarvelVar(), z=1)")


def grow(self, *args):
    """Adds a variable to the store whenever it is called."""
    store = vars(self).get("store", self)
    store.__dict__[f"g{len(store.__dict__)}"] = 0
    return "G" if store is not self else TarvelVar._skip()


Grow = type("Grow", (), {"__init__": lambda self, s: setattr(self, "store", s), "__repr__": grow})
RENDER = [TarvelVarMain._mv_to_params, TarvelVarMain._mv_to_string, repr]


@pytest.mark.parametrize("render", RENDER)
def test_value_repr_failing_or_changing_the_store(render):
    store = TarvelVar()
    store.bad = type("Bad", (), {"__repr__": lambda s: 1 / 0})()
    assert outcome(lambda: render(store))[0] is ZeroDivisionError
    store = TarvelVar()
    store.a, store.g = 1, Grow(store)
    expected = (RuntimeError, "dictionary changed size during iteration")
    assert outcome(lambda: render(store)) == ("TarvelVar(a=1, g=G)" if render is repr else expected)


M = TarvelVarMain
OPS = {"keys": M._mv_keys, "values": M._mv_values, "items": M._mv_items, "dict": M._mv_to_dict,
       "params": M._mv_to_params, "string": M._mv_to_string, "repr": repr}
HIDDEN = {"keys": ["a"], "values": [1], "items": [("a", 1)], "dict": {"a": 1, "shown": [2]},
          "params": "a=1", "string": '"a": "1"', "repr": "TarvelVar(a=1)"}
GROWN = {**dict.fromkeys(OPS, (RuntimeError, "dictionary changed size during iteration")),
         "repr": "TarvelVar(a=1, secret=0, shown=[2])"}  # repr walks a snapshot


@pytest.mark.parametrize("op", OPS)
@pytest.mark.parametrize("skip, expected", [
    (lambda self: TarvelVar._skip() + ["secret", "shown"], HIDDEN),
    (lambda self: 1 / 0, dict.fromkeys(OPS, (ZeroDivisionError, "division by zero"))),
    (grow, GROWN),
    (0, dict.fromkeys(OPS, (TypeError, "'int' object is not callable"))),  # an instance variable
])
def test_skip_overrides(op, skip, expected):
    store = TarvelVar() if skip == 0 else type("Skipping", (TarvelVar,), {"_skip": skip})()
    store.a, store.secret, store.shown = 1, 0, [2]
    if skip == 0:
        store.__dict__["_skip"] = 0
    assert outcome(lambda: OPS[op](store)) == expected[op]


@pytest.mark.parametrize("skip", [None, lambda self: TarvelVar._skip()])
def test_paths_agree_on_odd_names(skip):
    store = TarvelVar() if skip is None else type("Routed", (TarvelVar,), {"_skip": skip})()
    store.b = {"x": (1,)}
    store.__dict__[type("Name", (str,), {})("n")] = 2
    store.__dict__[type("Loose", (str,), {"__eq__": lambda s, o: s.lower() == o.lower(),
                                          "__hash__": str.__hash__})("_G_N_I")] = 3
    assert store._mv_to_dict() == {"b": {"x": [1]}, "n": 2}
    assert store._mv_to_params() == "b=TarvelVar(x=[1])&n=2"
    assert store._mv_to_string() == '"b": "TarvelVar(x=[1])", "n": "2"'


def test_no_leaks_on_export():
    store = TarvelVar({"b": {"x": [1, {"y": (2,)}]}, "a": "s"})
    odd = type("Odd", (TarvelVar,), {"_to_dict": lambda self, kwargs, sort=False: []})()
    bad = TarvelVar({"v": type("Bad", (), {"__repr__": lambda s: 1 / 0})()})
    for func in (lambda: store._mv_to_dict(True), store._mv_to_params, store._mv_to_string,
                 lambda: repr(store),
                 lambda: outcome(odd._mv_to_dict), lambda: outcome(lambda: repr(bad)),
                 lambda: outcome(lambda: store._to_dict({1: 1, "a": 2}, True)),
                 lambda: outcome(lambda: store._list_to_dict([NoDict()])),
                 lambda: outcome(lambda: store._to_dict({"v": NoneDict()}))):
        assert_no_leak(func, store, store.__dict__["b"])


NAMES = ["b", "a", "ab", "a\x00", "Z", "_x", "é", "ÿa", "ж", "жж", "😀", "a😀", "ā", ""]


@pytest.mark.parametrize("odd_key", [False, True])
def test_repr_orders_names_of_every_width_by_code_point(odd_key):
    store = TarvelVar()
    for i, name in enumerate(NAMES):
        store.__dict__[name] = i
    if odd_key:      # a key that is not an exact str takes the interpreter's sort of the pairs
        store.__dict__[type("Name", (str,), {})("m")] = -1
    names = sorted(NAMES + ["m"] * odd_key)
    value = dict(zip(NAMES, range(len(NAMES))), m=-1)
    assert repr(store) == "TarvelVar(" + ", ".join(f"{n}={value[n]!r}" for n in names) + ")"


class OwnRepr(TarvelVar):
    def __repr__(self):
        return "own"


OwnRepr.__name__ = "TarvelVar"


def test_nested_values_render_with_their_own_class_repr():
    store = TarvelVar({"a": {"b": 1}})
    store.o, store.l = OwnRepr(), [OwnRepr(), TarvelVar({"x": "y"})]
    for render, text in [(repr, "TarvelVar(a=TarvelVar(b=1), l=[own, TarvelVar(x='y')], o=own)"),
                         (TarvelVarMain._mv_to_params, "a=TarvelVar(b=1)&o=own&l=[own, TarvelVar(x='y')]")]:
        assert render(store) == text


@pytest.mark.parametrize("source", [[1, "a", None], (1, "a", None), [], ()])
@pytest.mark.parametrize("convert", [lambda s, v: s._list_to_dict(v), lambda s, v: s._set_list(v)])
def test_sequences_of_plain_elements_come_back_as_fresh_lists(store, source, convert):
    result = convert(store, source)
    assert type(result) is list and result is not source and result == list(source)
    assert all(a is b for a, b in zip(result, source))
    result.append(0)                       # the copy is its own list
    assert len(source) == len(result) - 1


def test_the_native_plain_copy_is_a_fresh_tree_sharing_the_leaves():
    # the floor the benchmarks measure to_dict() against: it must do to_dict()'s work
    from tarvel_var._store import plain_copy

    leaf, inner = "x" * 20, (1, 2)
    doc = {"a": {"b": [leaf, {"c": inner}], "d": None}, "e": [[], {}]}
    copy = plain_copy(doc)
    assert copy == doc and copy is not doc and copy["a"] is not doc["a"]
    assert copy["a"]["b"] is not doc["a"]["b"] and copy["e"][1] is not doc["e"][1]
    assert copy["a"]["b"][0] is leaf and copy["a"]["b"][1]["c"] is inner
    loop = []
    loop.append(loop)
    with pytest.raises(RecursionError):
        plain_copy(loop)
