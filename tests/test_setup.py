"""Store set-up, the attribute hooks, _skip, and the public class TarvelVar."""
import copy
import pickle

import pytest

import tarvel_var
from tarvel_var._store import loose_store, strict_store
from tarvel_var import TarvelVar, TarvelVarMain as T
from conftest import INTERNAL, assert_no_leak, new_main_store



class Boom:
    def __bool__(self):
        raise ZeroDivisionError("flag")


def test_set_class_writes_internal_variables_unconverted():
    class Locked(T):  # the writes must not pass through __setattr__
        def __setattr__(self, name, value):
            raise AssertionError(name)
    obj, f, one, zero = Locked(), object(), 10 ** 20, []
    assert obj._set_class(f, one, zero) is None
    assert list(vars(obj).items()) == [("_i_c_u", f), ("_g_n_r", one), ("_g_n_i", zero), ("_g_n_s", False)]
    assert vars(obj)["_g_n_r"] is one and vars(obj)["_g_n_i"] is zero
    other = T()
    T._set_class(self=other, instance=TarvelVar, reprint=True, inherit=False)
    assert list(vars(other).values()) == [TarvelVar, True, False, False]


def test_set_class_again_keeps_variables_and_positions(main_store):
    main_store.a, main_store.b = 1, 2
    assert main_store._set_class(dict, 1, 1) is None
    assert list(vars(main_store).items()) == [*zip(INTERNAL, [dict, 1, 1, False]), ("a", 1), ("b", 2)]


def test_skip(main_store):
    first = T._skip()
    assert first == INTERNAL and main_store._skip() == INTERNAL and first is not T._skip()
    first.append("x")
    assert main_store._skip() == INTERNAL
    for call, msg in [(lambda: main_store._skip(1, 2), "_skip() takes no arguments (2 given)"),
                      (lambda: T._skip(1, k=2), "_skip() takes no keyword arguments"),
                      (lambda: T._skip(k=2), "_skip() takes no keyword arguments")]:
        with pytest.raises(TypeError) as e:
            call()
        assert str(e.value) == msg


@pytest.mark.parametrize("reprint", [True, False, 1, 0, None])
def test_getattr_answers_name_or_none(reprint):
    s = new_main_store(reprint=reprint)
    name = "".join(["z", "z"])  # a fresh string object
    want = name if reprint else None
    assert s.__getattr__(name) is want and getattr(s, name, 7) is want
    assert getattr(s, name) is want and hasattr(s, "__deepcopy__") and s._mv_keys() == []
    assert s._g_n_r is reprint and callable(s._mv_keys)  # real attributes are not answered by the hook
    s._g_n_r = not reprint  # the change applies to the next read
    assert s.zz == (None if reprint else "zz")


def test_getattr_errors(main_store):
    with pytest.raises(TypeError, match=r"^Argument 'name' has incorrect type \(expected str, got bytes\)$"):
        main_store.__getattr__(b"x")
    main_store._g_n_r = Boom()
    with pytest.raises(ZeroDivisionError):
        main_store.missing


@pytest.mark.parametrize("inherit", [True, False])
def test_setattr_raw_and_converted(inherit):
    s = new_main_store(inherit=inherit)
    d, lst = {"a": 1}, [1]
    s.cfg, s.seq, s.x = d, lst, 5
    assert list(vars(s))[4:] == ["cfg", "seq", "x"] and s.x == 5
    if inherit:
        assert s.cfg is d and s.seq is lst
    else:
        assert type(s.cfg) is TarvelVar and s.cfg.a == 1 and s.seq == lst and s.seq is not lst
    s.__class__ = int  # no descriptor runs: a plain entry
    assert type(s) is T and vars(s)["__class__"] is int
    del s.x
    assert "x" not in vars(s)


def test_setattr_goes_through_set_attr_and_rejects_bad_names():
    calls = []

    class Spy(T):
        def _set_attr(self, *args, **kwargs):
            calls.append((args, kwargs))
            return "ignored"

        @property
        def p(self):
            return "prop"

        @p.setter
        def p(self, value):
            raise AssertionError("setter ran")
    s = Spy()
    s._set_class(TarvelVar, False, False)
    s.a = 1
    assert calls == [(("a", 1), {})] and "a" not in vars(s)
    s._g_n_i = True  # handed to the spy too
    assert calls[1] == (("_g_n_i", True), {}) and s._g_n_i is False
    vars(s)["_g_n_i"] = True
    s.p = 3  # raw store: the property setter never runs
    assert vars(s)["p"] == 3 and len(calls) == 2
    for bad in (type("Name", (str,), {})("b"), 1):
        with pytest.raises(TypeError) as e:
            setattr(s, bad, 1) if isinstance(bad, str) else s.__setattr__(bad, 1)
        assert str(e.value) == f"Argument 'name' has incorrect type (expected str, got {type(bad).__name__})"
    s._g_n_i = Boom()  # raw store through dict: the truth test now fails before anything is stored
    with pytest.raises(ZeroDivisionError):
        s.c = 1
    assert "c" not in vars(s)


@pytest.mark.parametrize("cls", [T, TarvelVar])
def test_use_before_set_up_or_after_losing_a_flag_is_orderly(cls):
    obj = cls.__new__(cls)
    with pytest.raises(AttributeError, match="_g_n_r"):
        obj.missing
    with pytest.raises(AttributeError, match="_g_n_i"):
        obj.x = 1
    assert not hasattr(obj, "missing") and vars(obj) == {}
    assert_no_leak(lambda: hasattr(obj, "missing"), obj)
    s = TarvelVar(strict=False) if cls is TarvelVar else new_main_store()
    del s._g_n_r, s._g_n_i
    with pytest.raises(AttributeError, match="_g_n_r"):
        s.missing
    with pytest.raises(AttributeError, match="_g_n_i"):
        s.x = 1


def test_hooks_do_not_leak():
    s, name, value = new_main_store(reprint=True, inherit=True), "q" * 5, object()
    flag = new_main_store(reprint=Boom(), inherit=Boom())

    def calls():
        s.__getattr__(name)
        s.__setattr__(name, value)
        s._set_class(value, value, True)
        for f in (lambda: flag.__getattr__(name), lambda: flag.__setattr__(name, value)):
            with pytest.raises(ZeroDivisionError):
                f()
    assert_no_leak(calls, s, name, value, flag)


def test_public_class():
    assert tarvel_var.TarvelVar is TarvelVar and TarvelVar.__name__ == "TarvelVar" and TarvelVar.__bases__ == (T,)
    # strict unless asked otherwise: nested stores come from the strict factory
    assert list(vars(TarvelVar()).items()) == [("_i_c_u", strict_store), ("_g_n_r", False), ("_g_n_i", False),
                                               ("_g_n_s", True)]
    s = TarvelVar(strict=False)
    assert list(vars(s).items()) == [("_i_c_u", loose_store), ("_g_n_r", False), ("_g_n_i", False), ("_g_n_s", False)]
    s = TarvelVar({"a": {"b": 1}}, reprint=True, inherit=True)
    assert (s._g_n_r, s._g_n_i, type(s.a), s.a.b) == (True, True, TarvelVar, 1)
    for bad in (lambda: TarvelVar({}, True), lambda: TarvelVar(data={})):
        with pytest.raises(TypeError):
            bad()


def test_contract_methods_survive_variables_of_their_names():
    s = TarvelVar({"cfg": {"add": 1, "keys": 2, "get": 3, "n": {"x": 4}}})
    s.add(extra={"y": 5})
    s._mv_add({"cfg": {"n": {"z": 6}}})  # merges through the nested store's add
    assert s._mv_get("$.cfg.n.x") == 4 and s._mv_get("$.cfg.get") == 3 and s._mv_get("$.extra.y") == 5
    assert list(s.cfg.keys()) == ["add", "keys", "get", "n"] and s.cfg.get("keys") == 2
    assert s._mv_to_dict() == {"cfg": {"add": 1, "keys": 2, "get": 3, "n": {"x": 4, "z": 6}}, "extra": {"y": 5}}


@pytest.mark.parametrize("reprint", [True, False])
def test_dunder_probes_fail_only_in_public_class(reprint):
    s = TarvelVar(reprint=reprint, strict=False)
    for probe in ("__deepcopy__", "__setstate__", "__array_interface__", "__x__"):
        with pytest.raises(AttributeError):
            getattr(s, probe)
    assert s._x_ == ("_x_" if reprint else None) and s.__x == ("__x" if reprint else None)
    assert new_main_store(reprint=reprint).__x__ == ("__x__" if reprint else None)


COPIERS = [copy.copy, copy.deepcopy] + [lambda s, p=p: pickle.loads(pickle.dumps(s, p)) for p in range(6)]


@pytest.mark.parametrize("reprint", [True, False])
@pytest.mark.parametrize("copier", COPIERS, ids=["copy", "deepcopy"] + [f"pickle{p}" for p in range(6)])
def test_copy_and_pickle_round_trip(copier, reprint):
    # reprint=True asks for the core's reads; without it the store is strict, and so is its copy
    s = TarvelVar({"a": 1, "b": [1, {"c": 2}], "d": {"e": "x"}}, reprint=reprint)
    t = copier(s)
    assert type(t) is TarvelVar and t is not s
    factory = loose_store if reprint else strict_store
    assert list(vars(t))[:4] == INTERNAL and (t._i_c_u, t._g_n_r, t._g_n_i) == (factory, reprint, False)
    assert t._mv_to_dict() == {"a": 1, "b": [1, {"c": 2}], "d": {"e": "x"}}
    assert type(t.d) is TarvelVar and (t.d is s.d) == (copier is copy.copy)
    if reprint:
        assert t.zz == "zz"
    else:
        for store in (t, t.d):
            with pytest.raises(tarvel_var.MissingVariableError):
                store.zz


class CountingKeys(TarvelVar):
    calls = 0

    def _mv_keys(self):
        CountingKeys.calls += 1
        return super()._mv_keys()


def test_contract_methods_follow_the_store_methods_and_work_through_the_class():
    s = CountingKeys({"a": {"b": 1}})
    # keys() is a view of self._mv_keys(): list() asks its length, then iterates it
    assert list(s.keys()) == ["a"] and CountingKeys.calls == 2
    assert s._mv_get("$.a.b") == 1 and CountingKeys.calls == 4      # "a" in keys(), then get("a")
    assert s._mv_get("a") is s.a and CountingKeys.calls == 5
    assert list(TarvelVar.keys(s)) == ["a"] and TarvelVar.get(s, "$.a.b") == 1
    assert s.get(key="a") is s.a and s.get("zz", default=0) == 0
    TarvelVar.add(s, c=[{"d": 2}])
    assert type(s.c[0]) is TarvelVar and s.c[0].d == 2
    assert TarvelVar.add.__doc__ == "Merges the keyword arguments into the store."
    s.__dict__["_mv_keys"] = lambda: ["x"]                         # an instance variable hides it
    assert list(s.keys()) == ["x"] and s._mv_get("$.a.b", "hidden") == "hidden"
    s.keys = 5                                                     # a variable named keys
    assert list(s.keys()) == ["x"] and s._mv_get("keys") is None   # hidden: _mv_keys lists x
    del s.keys
    assert "keys" not in vars(s)
    with pytest.raises(AttributeError):
        del s.keys
