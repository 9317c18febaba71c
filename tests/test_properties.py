"""Properties over generated data: conversion round trips, and the direct answers agreeing
with the general paths that consult the overridable methods."""

from hypothesis import given, settings, strategies as st

from conftest import GeneralPath, documents, json_like, merged, names, scalars
from tarvel_var import TarvelVar, TarvelVarMain

# Names starting with "_" could shadow methods or internal variables: tested elsewhere.


def build(cls, doc):
    store = cls()
    store._mv_add(doc)
    return store


@settings(max_examples=150, deadline=None)
@given(documents)
def test_plain_data_round_trips(doc):
    assert TarvelVar(doc)._mv_to_dict() == doc
    assert build(GeneralPath, doc)._mv_to_dict() == doc
    assert list(TarvelVar(doc)._mv_to_dict(sort=True)) == sorted(doc)


@settings(max_examples=150, deadline=None)
@given(documents, st.lists(names, max_size=4))
def test_direct_and_general_answers_agree(doc, probes):
    fast, slow = TarvelVar(doc), build(GeneralPath, doc)
    assert fast._mv_keys() == slow._mv_keys() == list(doc)
    assert fast._mv_to_params() == slow._mv_to_params()
    assert repr(fast) == repr(slow)
    sentinel = object()
    for name in probes + list(doc) + ["_g_n_r", "_skip", "_mv_keys"]:
        found, general = fast._mv_get(name, sentinel), slow._mv_get(name, sentinel)
        assert (found is sentinel) == (general is sentinel) == (name not in doc)
        if found is not sentinel:
            assert fast._list_to_dict([found]) == slow._list_to_dict([general]) == [doc[name]]
    assert fast._mv_get([]) is fast and slow._mv_get(()) is slow
    for path in [[name] for name in doc] + [[name, *probes] for name in doc]:
        found, general = fast._mv_get(path, sentinel), slow._mv_get(path, sentinel)
        assert (found is sentinel) == (general is sentinel)
        if found is not sentinel:
            assert fast._list_to_dict([found]) == slow._list_to_dict([general])


@settings(max_examples=100, deadline=None)
@given(documents, documents)
def test_merge_matches_dict_update_at_every_depth(first, second):
    store = TarvelVar(first)
    store._mv_add(second)
    expected = merged(first, second)
    assert store._mv_to_dict() == expected


class GeneralWrites(TarvelVar):
    """Every link of the write chain overridden by itself, so every step goes through lookup;
    its nested stores are of the same class."""

    def __init__(self, inherit=False):
        self._set_class(GeneralWrites, False, inherit)

    def __setattr__(self, name, value):
        TarvelVarMain.__setattr__(self, name, value)

    def _mv_set(self, name, value, inherit=False):
        TarvelVarMain._mv_set(self, name, value, inherit)

    def _set_attr(self, name, value):
        TarvelVarMain._set_attr(self, name, value)


GeneralWrites.__name__ = "TarvelVar"


def shape(x):
    """The structure with the kind of every container. (Key identity depends on the class's
    shared key table as well, so it is compared elsewhere, on fresh names.)"""
    if type(x).__name__ == "TarvelVar":
        return ("store", [(k, shape(v)) for k, v in vars(x).items()
                          if k not in TarvelVarMain._skip()])
    if isinstance(x, (list, tuple, dict)):
        items = x.items() if isinstance(x, dict) else enumerate(x)
        return (type(x).__name__, [(k, shape(v)) for k, v in items])
    return x


writes = st.lists(st.tuples(st.sampled_from(["add", "set", "set_inherit", "setattr", "kwargs"]),
                            names, json_like | st.tuples(scalars, scalars)), max_size=6)


@settings(max_examples=150, deadline=None)
@given(st.booleans(), writes)
def test_direct_writes_agree_with_the_general_chain(inherit, steps):
    fast, slow = TarvelVar(inherit=inherit), GeneralWrites(inherit)
    for op, name, value in steps:
        name = "".join(["n", name])          # not interned, not hiding anything
        for store in (fast, slow):
            if op == "add":
                store._mv_add({name: value})
            elif op == "kwargs":
                store._mv_set_kwargs({name: value})
            elif op == "setattr":
                setattr(store, name, value)
            else:
                store._mv_set(name, value, op == "set_inherit")
    assert shape(fast) == shape(slow)
