"""Exactness where Python code can run in the middle of an operation, or where a subclass
changes what a shortcut would assume: the path step and an overridden `_mv_keys`, the instance
dictionary replaced under a write, the hooks on objects without flags, a merge into a held
plain dict that fails, renderings while a collection runs, str-subclass path keys, and the
attribute hook asked for a flag's own name."""
import gc

import pytest
from hypothesis import given, strategies as st

from tarvel_var import TarvelVar, TarvelVarMain as T
from conftest import INTERNAL, assert_no_leak, new_main_store



def is_store(x):
    return type(x).__name__ == "TarvelVar"


def variables(s):
    return {k: v for k, v in vars(s).items() if k not in INTERNAL}


# --- the path step answers get(part) as the store's own _mv_get would --------------------------

def reference_get(store, key, default=None):
    """`_mv_get` as the store's documented steps give it, in Python."""
    try:
        if isinstance(key, str):
            if not key.startswith("$."):
                return vars(store).get(key) if key in store._mv_keys() else default
            parts = str.split(key, ".")[1:]
        else:
            parts = key
        current = store
        for part in parts:
            if part not in current.keys():
                return default
            current = current.get(part)
        return current
    except Exception:
        return default


def make_class(name, **body):
    def __init__(self):
        self._set_class(cls, False, False)
    cls = type(name, (T,), {"__init__": __init__, "keys": T._mv_keys, "get": T._mv_get, **body})
    return cls


def hiding_keys(self):
    return [k for k in T._mv_keys(self) if k != "secret"]


def extra_keys(self):
    return T._mv_keys(self) + ["ghost"]


def hiding_skip():
    return INTERNAL + ["secret"]


STORE_CLASSES = {
    "own methods": make_class("Own"),
    "_mv_keys hides a name": make_class("HideKeys", _mv_keys=hiding_keys),
    "_mv_keys adds a name": make_class("ExtraKeys", _mv_keys=extra_keys),
    "_skip hides a name": make_class("HideSkip", _skip=staticmethod(hiding_skip)),
    "instance variable _mv_keys": make_class("Own2"),
}
KEYS = ["$.secret", "$.public", "$.inner.secret", "$.inner.public", "$.ghost", "$.inner.ghost",
        "secret", "public", "ghost", ["secret"], ("inner", "secret"), ["inner", "ghost"], "$.",
        "$.inner"]


def build(cls, case):
    s = cls()
    s.secret, s.public = 1, 2
    s.inner = inner = cls()
    inner.secret, inner.public = 3, 4
    if case == "instance variable _mv_keys":
        for store in (s, inner):
            vars(store)["_mv_keys"] = lambda store=store: [k for k in T._mv_keys(store) if k != "secret"]
    return s


@pytest.mark.parametrize("case", STORE_CLASSES)
@pytest.mark.parametrize("key", KEYS, ids=str)
def test_path_walk_answers_get_through_the_stores_own_listing(case, key):
    s = build(STORE_CLASSES[case], case)
    assert s._mv_get(key, "D") == reference_get(s, key, "D")


def test_path_walk_does_not_reveal_a_name_hidden_by_mv_keys():
    s = build(STORE_CLASSES["_mv_keys hides a name"], None)
    assert s._mv_get("secret", "D") == "D"
    assert s._mv_get("$.secret", "D") is None  # keys() lists it; get() (our _mv_get) does not find it
    assert s._mv_get("$.inner.secret", "D") is None
    assert s._mv_get("$.inner.public", "D") == 4


# --- the instance dictionary is read where it is used ------------------------------------------

def swap_dict(s, **changes):
    """Gives the store a new instance dictionary: a copy of the old one, with `changes`."""
    object.__setattr__(s, "__dict__", {**vars(s), **changes})


class SwapsWhenTested:
    def __init__(self, store, answer, **changes):
        self.store, self.answer, self.changes, self.armed = store, answer, changes, True

    def __bool__(self):
        if self.armed:
            self.armed = False
            swap_dict(self.store, **self.changes)
        return self.answer


@pytest.mark.parametrize("inherit", [True, False])
def test_setattr_writes_the_dict_the_flag_lookup_left(inherit):
    class Flagged(T):
        @property
        def _g_n_i(self):
            swap_dict(self)
            return inherit
    s = Flagged()
    s._set_class(TarvelVar, False, False)
    s.x = 1
    assert vars(s)["x"] == 1
    s.y = {"a": 1}
    assert (type(vars(s)["y"]) is dict) if inherit else is_store(vars(s)["y"])


@pytest.mark.parametrize("flag_answer", [True, False])
def test_setattr_writes_the_dict_the_flags_truth_test_left(flag_answer):
    s = new_main_store()
    vars(s)["_g_n_i"] = SwapsWhenTested(s, flag_answer)
    s.x = 5
    assert vars(s)["x"] == 5


def test_set_dict_merge_writes_the_dict_the_held_values_truth_test_left():
    s = new_main_store()
    vars(s)["x"] = SwapsWhenTested(s, True)
    s._set_dict("x", {"b": 2})
    assert is_store(vars(s)["x"]) and variables(vars(s)["x"]) == {"b": 2}


def test_set_dict_merge_fills_the_store_the_truth_test_of_new_left():
    s = new_main_store()
    s._mv_add({"x": {"a": 1}})
    replacement = TarvelVar({"r": 1})
    s._set_dict("x", {"b": 2}, SwapsWhenTested(s, False, x=replacement))
    assert vars(s)["x"] is replacement and variables(replacement) == {"r": 1, "b": 2}


@pytest.mark.parametrize("held", [5, "text", [1], None])
def test_set_dict_writes_the_dict_the_store_factory_left(held):
    s = new_main_store()

    def factory():
        swap_dict(s)
        return TarvelVar()
    s._set_class(factory, False, False)
    if held is not None:
        vars(s)["x"] = held
    s._set_dict("x", {"b": 2})
    assert is_store(vars(s)["x"]) and variables(vars(s)["x"]) == {"b": 2}


# --- the hooks on an object without the flags --------------------------------------------------

class Slotted:
    __slots__ = ("a",)


@pytest.mark.parametrize("obj", [5, "s", object(), Slotted(), T()], ids=lambda o: type(o).__name__)
def test_hooks_on_an_object_without_flags_report_the_flag(obj):
    with pytest.raises(AttributeError) as e:
        T.__setattr__(obj, "x", 1)
    assert str(e.value) == f"'{type(obj).__name__}' object has no attribute '_g_n_i'"
    with pytest.raises(AttributeError) as e:
        T.__getattr__(obj, "x")
    assert str(e.value) == f"'{type(obj).__name__}' object has no attribute '_g_n_r'"


# --- a merge into a held plain dict loses nothing ----------------------------------------------

class Key:
    """A non-str key: a dict holding one cannot be passed as keyword arguments."""
    def __repr__(self):
        return "Key()"


@pytest.mark.parametrize("held, value", [
    ({1: "one", "k": 2}, {"y": 1}),
    ({"k": 2}, {Key(): 1}),
    ({"k": {"deep": 1}}, {"y": 1, 2: 3}),
])
@pytest.mark.parametrize("via", ["_set_dict", "_mv_add"])
def test_failed_merge_into_a_held_dict_keeps_it(held, value, via):
    s = new_main_store(inherit=True)
    s.a = held
    snapshot = dict(held)
    with pytest.raises(TypeError):
        s._set_dict("a", value) if via == "_set_dict" else s._mv_add({"a": value})
    assert vars(s)["a"] is held and held == snapshot


def test_merge_into_a_held_dict_writes_the_store_after_filling_it():
    seen = []

    class Watched(TarvelVar):
        def __init__(self):
            self._set_class(Watched, False, False)

        def add(self, **kw):
            seen.append(vars(parent).get("a"))
            self._mv_add(kw)
    Watched.__name__ = "TarvelVar"
    parent = new_main_store(inherit=True, factory=Watched)
    parent.a = held = {"k": 1}
    parent._set_dict("a", {"y": 2})
    assert seen == [held, held]
    assert is_store(parent.a) and variables(parent.a) == {"k": 1, "y": 2} and held == {"k": 1}


def test_failing_add_leaves_the_held_dict():
    class Failing(TarvelVar):
        def add(self, **kw):
            if "y" in kw:
                raise ValueError("no")
            self._mv_add(kw)
    Failing.__name__ = "TarvelVar"
    s = new_main_store(inherit=True, factory=Failing)
    s.a = held = {"k": 1}
    with pytest.raises(ValueError, match="no"):
        s._set_dict("a", {"y": 2})
    assert vars(s)["a"] is held


def test_failed_merge_does_not_leak():
    s = new_main_store(inherit=True)
    s.a = held = {1: "one", "k": 2}
    value = {"y": object()}

    def attempt():
        with pytest.raises(TypeError):
            s._set_dict("a", value)
    assert_no_leak(attempt, held, value["y"])


# --- renderings look `_skip` up again after anything that can run code --------------------------

RENDERINGS = {
    "_mv_to_params": (lambda s: s._mv_to_params(), "a=A&b={}"),
    "_mv_to_string": (lambda s: s._mv_to_string(), '"a": "A", "b": "{}"'),
    "repr": (lambda s: repr(s), "TarvelVar(a=A, b={})"),
}


@pytest.mark.parametrize("rendering", RENDERINGS)
@pytest.mark.parametrize("number", [7, -12345678901234567890, 10 ** 300])
def test_rendering_sees_skip_replaced_by_a_collection_mid_render(rendering, number):
    """repr() of an int checks for signals, which also runs a collection that is due; a gc
    callback then replaces the class's `_skip`, and the entries after it must follow it."""
    class Store(T):
        pass
    swapped = []

    def callback(phase, info):
        if phase == "start" and armer.armed and not swapped:
            swapped.append(True)
            Store._skip = staticmethod(lambda: INTERNAL + ["c"])

    class Armer:
        armed = False

        def __repr__(self):
            Armer.armed = True
            Armer.kept = ({self}, {self}, {self})  # live allocations that make a collection due
            return "A"
    armer = Armer()
    s = Store()
    s._set_class(TarvelVar, False, False)
    vars(s).update(a=armer, b=number, c=8)
    render, expected = RENDERINGS[rendering]
    threshold = gc.get_threshold()
    gc.callbacks.append(callback)
    gc.set_threshold(1, threshold[1], threshold[2])
    try:
        text = render(s)
    finally:
        gc.set_threshold(*threshold)
        gc.callbacks.remove(callback)
    assert swapped, "the collection did not run during the rendering"
    assert text == expected.format(number)


# --- a str subclass path key is split at every "." ------------------------------------------------

class OddSplit(str):
    def split(self, *args, **kwargs):
        return ["$", "public"]


class FailingSplit(str):
    def split(self, *args, **kwargs):
        raise ValueError("split")


class NoPrefix(str):
    def startswith(self, *args):
        return False


@pytest.fixture
def path_store():
    return TarvelVar({"a": {"b": 1, "": 2}, "public": 3, "x.y": 4})


@pytest.mark.parametrize("sub", [OddSplit, FailingSplit])
@pytest.mark.parametrize("text", ["$.a", "$.a.b", "$.a.", "$.", "$.public", "$.x.y", "$.missing"])
def test_str_subclass_path_key_is_split_by_str(path_store, sub, text):
    assert path_store._mv_get(sub(text), "D") == path_store._mv_get(text, "D")


def test_str_subclass_path_prefix_uses_its_own_startswith(path_store):
    assert path_store._mv_get(NoPrefix("$.a.b"), "D") == "D"
    assert path_store._mv_get(OddSplit("x.y"), "D") == 4


@given(st.lists(st.sampled_from(["a", "b", "", "public", "x", "y", "zz"]), max_size=4))
def test_str_subclass_paths_agree_with_str(parts):
    s = TarvelVar({"a": {"b": 1, "": {"x": 5}}, "public": 3, "x": {"y": [1]}})
    text = "$." + ".".join(parts)
    assert s._mv_get(OddSplit(text), "D") == s._mv_get(text, "D") == reference_get(s, text, "D")


def test_str_subclass_lookups_do_not_leak(path_store):
    key = OddSplit("$.a.b")
    assert_no_leak(lambda: path_store._mv_get(key), key)


# --- __getattr__ asked for a flag's own name -----------------------------------------------------

@pytest.mark.parametrize("cls", [T, TarvelVar])
@pytest.mark.parametrize("reprint", [True, False, 1, 0])
@pytest.mark.parametrize("flag", ["_g_n_r", "_g_n_i"])
def test_getattr_called_with_a_present_flags_name_answers(cls, reprint, flag):
    s = cls()
    s._set_class(TarvelVar, reprint, False)
    assert s.__getattr__(flag) == (flag if reprint else None)
    assert cls.__getattr__(s, flag) == (flag if reprint else None)


@pytest.mark.parametrize("flag", ["_g_n_r", "_g_n_i"])
def test_getattr_with_a_flags_name_raises_only_when_it_is_missing(flag):
    s = new_main_store(reprint=True)
    del vars(s)[flag]
    if flag == "_g_n_i":  # the reprint flag is there: the answer is the name
        with pytest.raises(AttributeError, match="_g_n_i"):
            s.x = 1
    with pytest.raises(AttributeError) as e:
        s.__getattr__(flag)
    assert str(e.value) == f"'TarvelVarMain' object has no attribute '{flag}'"
    if flag == "_g_n_i":
        assert s.__getattr__("other") == "other"
    else:
        with pytest.raises(AttributeError, match="_g_n_r"):
            s.other


def test_getattr_with_a_flags_name_follows_a_class_property():
    calls = []

    class Prop(T):
        @property
        def _g_n_r(self):
            calls.append(1)
            return True
    s = Prop()
    s._set_class(TarvelVar, False, False)
    assert s.__getattr__("_g_n_r") == "_g_n_r" and calls == [1]
    assert s.missing == "missing" and calls == [1, 1]


def test_getattr_with_a_flags_name_does_not_leak():
    s = new_main_store(reprint=True)
    assert_no_leak(lambda: s.__getattr__("_g_n_i"), s)


@pytest.mark.parametrize("error", [AttributeError, LookupError])
def test_getattr_with_a_flags_name_uses_the_classs_own_lookup(error):
    """The flag is looked up by the class's __getattribute__ without the fallback to the hook:
    an AttributeError from it means missing (answered in order), any other error propagates."""
    class Guarded(T):
        def __getattribute__(self, name):
            if name == "_g_n_r":
                raise error(name)
            return object.__getattribute__(self, name)
    s = Guarded()
    s._set_class(TarvelVar, True, False)
    with pytest.raises(error, match="_g_n_r"):
        T.__getattr__(s, "_g_n_r")
    with pytest.raises(error, match="_g_n_r"):  # present, but the reprint flag it reads is not
        T.__getattr__(s, "_g_n_i")
    del Guarded.__getattribute__
    assert T.__getattr__(s, "_g_n_r") == "_g_n_r" and T.__getattr__(s, "_g_n_i") == "_g_n_i"
