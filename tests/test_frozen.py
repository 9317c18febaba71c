"""Frozen stores: every change refused with the store left as it was, reads as of any store,
hashing that agrees with equality, and copies that stay frozen."""

import copy
import pickle

import pytest
from hypothesis import given

from conftest import INTERNAL, assert_no_leak, documents
from tarvel_var import FrozenError, TarvelVar, TarvelVarMain, is_frozen

DOC = {"db": {"host": "h", "port": 5432, "hosts": [{"a": 1}, [1, [2]]]}, "x": [1, 2], "e": {}}


def frozen():
    return TarvelVar(DOC, frozen=True)


# (what, the change, the key its message names or None)
CHANGES = [
    ("attribute", lambda s: setattr(s, "a", 1), "set 'a'"),
    ("method-named attribute", lambda s: setattr(s, "update", 1), "set 'update'"),
    ("item", lambda s: s.__setitem__("a", 1), "set 'a'"),
    ("del attribute", lambda s: delattr(s, "x"), "delete 'x'"),
    ("del item", lambda s: s.__delitem__("x"), "delete 'x'"),
    ("update", lambda s: s.update({"x": 1}), "update 'x'"),
    ("update keywords", lambda s: s.update(y=1), "update 'y'"),
    ("ior", lambda s: s.__ior__({"x": 1}), "update 'x'"),
    ("merge", lambda s: s.merge({"db": {"port": 1}}), "merge 'db'"),
    ("add", lambda s: s.add(z=1), "add 'z'"),
    ("setdefault of a missing key", lambda s: s.setdefault("new", 1), "set 'new'"),
    ("pop of a missing key with a default", lambda s: s.pop("nope", None), "delete 'nope'"),
    ("popitem", lambda s: s.popitem(), "popitem"),
    ("clear", lambda s: s.clear(), "clear"),
    ("clear of an empty section", lambda s: s.e.clear(), "clear"),
    ("set path", lambda s: s.set("$.db.port", 1), "set '$.db.port'"),
    ("nested item", lambda s: s.db.__setitem__("port", 1), "set 'port'"),
    ("store in a list", lambda s: setattr(s.db.hosts[0], "a", 2), "set 'a'"),
    ("resolve", lambda s: s.resolve(), "resolve"),
    ("init again", lambda s: s.__init__({"q": 1}), "initialise"),
    ("_mv_set", lambda s: s._mv_set("a", 1), "set 'a'"),
    ("_mv_add", lambda s: s._mv_add({"a": 1}), "add 'a'"),
    ("_mv_pop", lambda s: s._mv_pop("nope"), "delete 'nope'"),
    ("_mv_pops", lambda s: s._mv_pops(["x"]), "delete 'x'"),
    ("_mv_clear", lambda s: s._mv_clear(), "clear"),
    ("_mv_set_kwargs", lambda s: s._mv_set_kwargs({"a": 1}), "set 'a'"),
    ("_set_attr", lambda s: s._set_attr("a", 1), "set 'a'"),
    ("_set_dict", lambda s: s._set_dict("a", {}), "set 'a'"),
    ("_set_class", lambda s: s._set_class(TarvelVar, False, False), "set up"),
]


@pytest.mark.parametrize("what, change, named", CHANGES, ids=[c[0] for c in CHANGES])
def test_every_change_is_refused_and_changes_nothing(what, change, named):
    s = frozen()
    before = copy.deepcopy(vars(s)), s.to_dict()
    with pytest.raises(FrozenError) as caught:
        change(s)
    assert str(caught.value) == f"cannot {named}: the TarvelVar is frozen"
    assert isinstance(caught.value, TypeError) and isinstance(caught.value, AttributeError)
    assert (vars(s), s.to_dict()) == before and is_frozen(s)


def test_freezing_reaches_every_store_and_makes_lists_tuples():
    s = TarvelVar(DOC)
    assert s.freeze() is s and s.freeze() is s
    assert all(map(is_frozen, [s, s.db, s.db.hosts[0], s.e])) and type(s).__name__ == "TarvelVar"
    assert s.x == (1, 2) and s.db.hosts[1] == (1, (2,))
    assert s.to_dict() == DOC and type(s.to_dict()["x"]) is list
    assert s.get("$.db.hosts.1.1.0") == 2 and s["db"]["port"] == 5432
    assert not is_frozen(TarvelVar(DOC)) and not is_frozen(DOC) and not is_frozen(TarvelVarMain())


def test_reads_of_a_frozen_store_answer_as_of_any_store():
    s, t = frozen(), TarvelVar(DOC)
    for read in [len, list, lambda v: v["db"]["host"], lambda v: "x" in v, lambda v: v.get("$.db.port"),
                 lambda v: list(v.items())[0][0], lambda v: v.to_dict(sort=True), lambda v: v.dumps()]:
        assert read(s) == read(t)
    assert s == t == DOC and t == s and not s != DOC


def test_hash_agrees_with_equality_whatever_the_order():
    a = TarvelVar({"x": [1, {"y": 1.0}], "z": None}, frozen=True)
    b = TarvelVar({"z": None, "x": [True, {"y": 1}]}, frozen=True)
    assert a == b and hash(a) == hash(b) and len({a, b}) == 1
    with pytest.raises(TypeError, match=r"unhashable type: 'TarvelVar'"):
        hash(TarvelVar(DOC))
    bad = TarvelVar({"a": {"b": [1, bytearray(b"x")]}}, frozen=True)
    with pytest.raises(TypeError, match=r"^unhashable value at \$\.a\.b\.1: bytearray$"):
        hash(bad)


@pytest.mark.parametrize("clone", [copy.copy, copy.deepcopy, lambda s: s.copy(),
                                   lambda s: pickle.loads(pickle.dumps(s))])
def test_copies_and_pickles_stay_frozen(clone):
    s = frozen()
    s2 = clone(s)
    assert s2 == s and is_frozen(s2) and is_frozen(s2.db) and s2.x == (1, 2)
    with pytest.raises(FrozenError):
        s2.db.port = 1


def test_a_store_that_holds_itself_freezes_and_copies():
    s = TarvelVar({"a": 1})
    s.me = s
    s.freeze()
    deep = copy.deepcopy(s)
    assert deep.me is deep and is_frozen(deep) and pickle.loads(pickle.dumps(s)).me.a == 1


def test_a_changeable_copy_and_the_union():
    s = frozen()
    t = TarvelVar(s)
    assert not any(map(is_frozen, [t, t.db, t.db.hosts[0]])) and t.x == [1, 2] and t == s
    t.db.port = 1
    assert s.db.port == 5432
    u = s | {"x": 3}
    assert is_frozen(u) and u.x == 3 and s.x == (1, 2) and u is not s
    strict = TarvelVar({"a": 1}, strict=True, frozen=True)
    with pytest.raises(AttributeError):
        strict.missing
    with pytest.raises(AttributeError):
        (strict | {}).missing


def test_a_failed_freeze_changes_nothing():
    loop = [1]
    loop.append(loop)
    s = TarvelVar({"ok": {"a": [1]}})
    vars(s)["bad"] = loop
    with pytest.raises(RecursionError):
        s.freeze()
    assert not is_frozen(s) and not is_frozen(s.ok) and s.ok.a == [1]
    s.ok.a.append(2)


@given(documents)
def test_freezing_keeps_equality_and_content(doc):
    s = TarvelVar(doc, frozen=True)
    assert s == doc and s.to_dict() == doc and s == TarvelVar(doc)
    assert hash(s) == hash(TarvelVar(dict(reversed(doc.items())), frozen=True))


def test_no_leaks_in_freezing_hashing_and_refusing():
    doc = {"a": [1, {"b": "x"}], "c": {"d": 2}}
    key = "fresh-key"

    def work():
        s = TarvelVar(doc, frozen=True)
        hash(s)
        try:
            s[key] = doc
        except FrozenError:
            pass
        copy.deepcopy(s)

    assert_no_leak(work, doc, key)


def test_internal_variables_are_kept_as_they_were():
    s = TarvelVar({"a": 1}, strict=True, reprint=True, frozen=True)
    assert [vars(s)[k] for k in INTERNAL][1:] == [True, False, True]


def frozen_shape(value):
    """What freezing made of `value`: classes, frozen-ness and the containers, all the way down."""
    if isinstance(value, TarvelVarMain):
        return (type(value).__qualname__, is_frozen(value), [(k, frozen_shape(v)) for k, v in vars(value).items()
                                                              if k not in INTERNAL])
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, [frozen_shape(item) for item in value])
    return value


def frozen_generally(store):
    from tarvel_var.frozen import _Plan

    plan = _Plan()
    plan.store(store)
    plan.apply()
    return store


class Sub(TarvelVar):
    pass


@given(documents)
def test_the_native_freeze_matches_the_general_one(doc):
    doc = {**doc, "sub": Sub({"l": [doc]}), "nested": [[{"x": (3, [4])}]]}
    native, general = TarvelVar(doc), TarvelVar(doc)
    kept, remade = (1, (2,)), (1, [2])  # tuples the store holds as they are (as the core can)
    for store in (native, general):
        vars(store).update(kept=kept, remade=remade)
    assert native.freeze() is native and frozen_shape(native) == frozen_shape(frozen_generally(general))
    # an unchanged tuple stays the very object, where a list inside one makes a new one
    assert native.kept is kept and native.remade == (1, (2,)) and native.remade is not remade
    assert type(native.sub) is not Sub and isinstance(native.sub, Sub)


def test_values_only_the_general_freeze_takes_and_what_freezing_holds():
    class Items(list):
        pass

    store = TarvelVar({"d": {"x": [1]}, "l": Items([[2]])}, inherit=True)
    store.freeze()
    assert type(store.d) is not dict and store.d.x == (1,) and store.l == ((2,),) and is_frozen(store.d)
    value = object()
    assert_no_leak(lambda: TarvelVar({"a": [value, {"b": (value, [value])}]}).freeze(), value)
