"""Python code that runs in the middle of an operation (a value's __eq__, __hash__, __repr__ or
__bool__, an overridden _skip, a store factory, a nested store's add) and changes the store
under it: every operation ends in a Python exception or a consistent result, never a crash."""


import pytest

from conftest import INTERNAL, MUTATIONS, Meddler, grow, shrink
from tarvel_var import TarvelVar, TarvelVarMain

CHANGED = "dictionary changed size during iteration"


def variables(s):
    return [(k, v) for k, v in vars(s).items() if k not in INTERNAL]


def assert_consistent(s):
    """Listings agree with the instance dictionary, and the store still works."""
    assert TarvelVarMain._mv_items(s) == variables(s)
    assert TarvelVarMain._mv_keys(s) == [k for k, _ in variables(s)]
    TarvelVarMain._mv_to_dict(s, True), TarvelVarMain._mv_to_params(s), repr(s)
    if all(k in vars(s) for k in INTERNAL):
        s._mv_add({"after": {"x": [1]}})
        assert s._mv_get("$.after.x") == [1]


class MeddlingName(str):
    def __eq__(self, other):
        self.meddler.meddle()
        return str.__eq__(self, other)

    def __hash__(self):
        self.meddler.meddle()
        return str.__hash__(self)

    def startswith(self, *args):
        self.meddler.meddle()
        return str.startswith(self, *args)


def fresh():
    return TarvelVar({"a": 1, "b": [1, {"c": 2}], "d": {"e": 3}}, strict=False)  # the core's reads


OPERATIONS = {
    "keys": lambda s, m: s._mv_keys(), "items": lambda s, m: s._mv_items(),
    "values": lambda s, m: s._mv_values(), "to_dict": lambda s, m: s._mv_to_dict(True),
    "params": lambda s, m: s._mv_to_params(), "string": lambda s, m: s._mv_to_string(),
    "repr": lambda s, m: repr(s), "_to_dict": lambda s, m: s._to_dict({"a": [m], "b": m}, True),
    "list_to_dict": lambda s, m: s._list_to_dict([m, s, (m,)]),
    "get name": lambda s, m: s._mv_get("a"), "get parts": lambda s, m: s._mv_get(["d", m, "e"]),
    "get meddler": lambda s, m: s._mv_get(m), "pop": lambda s, m: s._mv_pop("a"),
    "pops": lambda s, m: s._mv_pops(("a", "zz", "b")), "clear": lambda s, m: s._mv_clear(),
    "add": lambda s, m: s._mv_add({"d": {"m": m}, "b": [m, {"k": m}], "a": m, "n": (m,)}),
    "set_dict merge": lambda s, m: s._set_dict("a", {"x": m}), "set_dict new": lambda s, m: s._set_dict("d", {"x": m}, m),
    "set_list": lambda s, m: s._set_list([m, {"k": m}, [m]], "b"),
    "set inherit": lambda s, m: s._mv_set("v", {"q": [m]}, m), "set_kwargs": lambda s, m: s._mv_set_kwargs({"v": m, "w": [m]}),
    "setattr": lambda s, m: setattr(s, "v", [{"k": m}]), "set_class": lambda s, m: s._set_class(TarvelVar, m, m),
    "getattr": lambda s, m: s.missing, "to_dict sort": lambda s, m: s._mv_to_dict(m),
}
PLACES = ["value", "key", "nested value", "list element", "flag", "name"]


@pytest.mark.parametrize("mutate", MUTATIONS, ids=lambda f: f.__name__)
@pytest.mark.parametrize("place", PLACES)
def test_meddling_during_every_operation(place, mutate):
    for op_name, op in OPERATIONS.items():
        s = fresh()
        m = Meddler(s, mutate)
        if place == "value":
            vars(s)["v"] = m
        elif place == "key":
            vars(s)[m] = 1  # hashes like "a": every lookup of `a` meets it
        elif place == "nested value":
            vars(s.d)["m"] = m
        elif place == "list element":
            s.b.append(m)
        elif place == "flag":
            vars(s)["_g_n_r"] = vars(s)["_g_n_i"] = m
        else:
            m = MeddlingName("a")
            m.meddler = Meddler(s, mutate)
        try:
            op(s, m)
        except RuntimeError as exc:
            assert str(exc) == CHANGED, (op_name, exc)
        except TypeError as exc:
            # a key that is not a str cannot be sorted with the names, nor passed to _mv_pop
            assert place == "key" and str(exc) in (
                "'<' not supported between instances of 'Meddler' and 'str'",
                "Argument 'name' has incorrect type (expected str, got Meddler)"), (op_name, exc)
        (m.meddler if place == "name" else m).armed = False
        if place in ("key", "flag"):
            vars(s).pop(m, None)
            s._set_class(TarvelVar, False, False)
        try:
            assert_consistent(s)
        except BaseException as exc:
            raise AssertionError(op_name) from exc


def test_repr_walks_a_snapshot_while_other_renderings_see_the_change():
    s = TarvelVar({"a": 1})
    s.v = Meddler(s, grow)
    assert repr(s) == "TarvelVar(a=1, v=M)"
    s.v.armed = True
    with pytest.raises(RuntimeError, match=CHANGED):
        s._mv_to_params()
    assert_consistent(s)


class MeddlingSkip(TarvelVar):
    def _skip(self):
        grow(self)
        return super()._skip()


class MeddlingFactory(TarvelVar):
    parent = None

    def add(self, **kwargs):
        if MeddlingFactory.parent is not None:
            shrink(MeddlingFactory.parent)
        self._mv_add(kwargs)


MeddlingFactory.__name__ = "TarvelVar"  # so that its stores are merged into and flattened


@pytest.mark.parametrize("op", ["_mv_keys", "_mv_items", "_mv_to_params", "_mv_clear", "_mv_to_dict"])
def test_skip_that_changes_the_store(op):
    s = MeddlingSkip({"a": 1, "b": 2})
    with pytest.raises(RuntimeError, match=CHANGED):
        getattr(s, op)()
    assert [k for k, _ in variables(s)][:2] == ["a", "b"]  # nothing removed by a failed clear


def test_factory_and_add_that_change_the_parent():
    s = TarvelVar({"keep": 1, "d": {"x": 1}})
    s._set_class(MeddlingFactory, False, False)
    MeddlingFactory.parent = s
    try:
        s._mv_add({"d": {"y": 2}, "n": {"z": [{"w": 3}]}, "l": [{"q": 4}]})
        # d merged without the factory; each new store's add emptied the parent, and the list
        # made for l was stored after the last of them
        assert s._mv_to_dict() == {"l": [{"q": 4}]}
        s.t = {"k": 1}  # registered first, then removed by its own add
        assert s._mv_to_dict() == {}
    finally:
        MeddlingFactory.parent = None
    assert_consistent(s)
