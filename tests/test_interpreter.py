"""The interpreter underneath: which private interfaces a build uses (and that it uses no
others), the equivalents of newer calls on older interpreters, and the behaviour probes made
at import, each through what a user does."""
import os
import shutil
import subprocess
import sys

import pytest
from hypothesis import given, settings, strategies as st

import tarvel_var
from tarvel_var import TarvelVar, _store, var_main
from conftest import assert_no_leak, cli, outcome

# What each interface that may take a private path imports when it does.
PRIVATE_SYMBOLS = {
    "class attribute lookup": {"_PyType_Lookup"},
    "missing attribute lookup": {"_PyObject_GenericGetAttrWithDict"},
    "presized dicts": {"_PyDict_NewPresized"},
    "string builder": {"_PyUnicodeWriter_Init", "_PyUnicodeWriter_Dealloc", "_PyUnicodeWriter_Finish",
                       "_PyUnicodeWriter_WriteStr", "_PyUnicodeWriter_WriteChar",
                       "_PyUnicodeWriter_WriteASCIIString"},
}
# What the public headers' own macros and inline functions refer to: Py_None, Py_DECREF,
# PyObject_GC_New, the Py_ssize_t variants of the formatting calls.
PUBLIC_MACRO_SYMBOLS = {"_Py_Dealloc", "_Py_NoneStruct", "_Py_TrueStruct", "_Py_FalseStruct",
                        "_Py_NotImplementedStruct", "_Py_EllipsisObject", "_PyObject_GC_New",
                        "_PyObject_GC_NewVar", "_PyObject_New", "_PyObject_NewVar", "_Py_BuildValue_SizeT",
                        "_PyObject_CallFunction_SizeT", "_PyObject_CallMethod_SizeT",
                        "_PyArg_ParseTuple_SizeT", "_PyArg_ParseTupleAndKeywords_SizeT",
                        "_Py_IncRef", "_Py_DecRef"}


def imported_private_symbols(module):
    listed = subprocess.run(["nm", "-D", "--undefined-only", module.__file__], capture_output=True,
                            text=True, check=True).stdout
    return {line.split()[-1] for line in listed.splitlines() if line.split()[-1].startswith("_Py")}


def test_paths_reported_are_the_ones_built():
    paths = dict(_store.native_paths())
    assert list(paths) == ["class attribute lookup", "missing attribute lookup", "presized dicts",
                           "str-keyed dicts", "unchanged dicts", "string builder", "setattr slot"]
    if os.environ.get("TARVEL_EXPECT_PUBLIC_ONLY"):
        assert "private" not in paths.values(), paths
    if shutil.which("nm") is None:
        pytest.skip("nm is not installed")
    allowed = set().union(*(symbols for name, symbols in PRIVATE_SYMBOLS.items() if paths[name] == "private"))
    for module in (_store, var_main):
        unexplained = imported_private_symbols(module) - PUBLIC_MACRO_SYMBOLS - allowed
        assert not unexplained, (module.__name__, unexplained)


def test_version_names_the_interpreter_and_each_path():
    result = cli("--version")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    implementation = f"CPython {'.'.join(map(str, sys.version_info[:3]))}"
    assert lines[0].startswith("tarvel-var ") and implementation in lines[0]
    assert lines[1] == "native paths:"
    assert lines[2:-1] == [f"  {interface:<26}{way}" for interface, way in _store.native_paths()]
    assert lines[-1].startswith("native readers: ")


# -- the setattr slot -----------------------------------------------------------------------

class Traced(TarvelVar):
    def __setattr__(self, name, value):
        super().__setattr__(name, value.upper() if isinstance(value, str) else value)


def test_object_setattr_and_super_work_whichever_slot_the_class_has():
    s = TarvelVar()
    object.__setattr__(s, "a", 1)
    object.__delattr__(s, "a")
    t = Traced({"x": "low"})
    t.y = "up"
    t["z"] = "it"       # the mapping's assignment goes through the subclass's own __setattr__
    t.update(w="all")
    assert dict(t) == {"x": "LOW", "y": "UP", "z": "IT", "w": "ALL"}
    frozen = TarvelVar({"a": {"b": 1}}).freeze()
    with pytest.raises(tarvel_var.FrozenError):
        frozen.a.b = 2


def test_direct_assignment_matches_the_general_path():
    class General(TarvelVar):  # same behaviour, assignment through a Python method
        def __setattr__(self, name, value):
            super().__setattr__(name, value)

    for cls in (TarvelVar, General):
        s = cls()
        s.update({"a": 1, "b": {"c": [1, (2,)]}}, d="x")
        s["e"] = {"f": 1}
        s.setdefault("g", [{"h": 2}])
        assert s.to_dict() == {"a": 1, "b": {"c": [1, [2]]}, "d": "x", "e": {"f": 1}, "g": [{"h": 2}]}
        assert type(s.b).__name__ == cls.__name__ or isinstance(s.b, TarvelVar)


def test_a_change_to_a_base_class_is_seen_at_once():
    # the class lookups are remembered by version tag: a base's change must reach the subclass
    class Base(TarvelVar):
        pass

    class Sub(Base):
        pass

    s = Sub({"a": 1, "b": 2})
    for _ in range(2):
        assert (list(s), len(s), "a" in s, s.get("a")) == (["a", "b"], 2, True, 1)
        Base._mv_keys = lambda self: ["b"]
        assert (list(s), len(s), "a" in s) == (["b"], 1, False)
        del Base._mv_keys


class Name(str):
    pass


def test_deleting_an_attribute_matches_objects_own_deletion():
    deleted = []

    class WithProperty(TarvelVar):
        @property
        def p(self):
            return 1

        @p.deleter
        def p(self):
            deleted.append(self)

    for name in ("a", "missing", "p", Name("a"), "_g_n_r"):
        direct, general = WithProperty({"a": 1}), WithProperty({"a": 1})
        # object.__delattr__ is object's own deletion, whatever slot the class has
        assert outcome(lambda: delattr(direct, name)) == outcome(lambda: object.__delattr__(general, name)), name
        assert vars(direct) == vars(general)
    assert len(deleted) == 2


# -- equivalents of newer calls -------------------------------------------------------------

def test_duplicate_keys_are_found_also_with_the_same_value():
    # the value objects are one (a cached int): only a lookup tells the duplicate from a first entry
    for text in ('{"a": 1, "a": 1}', '{"a": "x", "b": 2, "a": "x"}'):
        with pytest.raises(ValueError, match="duplicate key 'a'"):
            TarvelVar.loads(text)


def test_removal_and_missing_reads_leave_no_reference_behind():
    value, name = object(), "".join(["gone", "name"])

    def run():
        s = TarvelVar()
        s[name] = value
        del s[name]
        assert s.get(name) is None and name not in s
        s[name] = value
        assert s.pop(name) is value and s.pop(name, None) is None
        with pytest.raises(KeyError):
            del s[name]

    assert_no_leak(run, value, name)


# -- the read cache -------------------------------------------------------------------------

def test_reads_follow_every_change_of_the_dict_behind_them():
    s = TarvelVar({"a": 1})
    seen = []
    for change in (lambda: s.__dict__.__setitem__("b", 2), lambda: s.__dict__.pop("a"),
                   lambda: s.__dict__.update(_mv_get=lambda *a: "hidden"), lambda: s.__dict__.clear(),
                   lambda: s.__dict__.update(c=3)):
        len(s), "a" in s, s.get("a")   # read, so that the state is recorded
        change()
        seen.append((len(s), sorted(s), "a" in s, s.get("c")))
    assert seen[:2] == [(2, ["a", "b"], True, None), (1, ["b"], False, None)]
    assert seen[4] == (1, ["c"], False, 3)


def test_a_new_store_at_a_released_stores_address_is_read_afresh():
    for size in range(40):
        s = TarvelVar({f"k{i}": i for i in range(size)})
        assert len(s) == size and (f"k{size - 1}" in s) == (size > 0)
        del s


# -- the builds a user can install ----------------------------------------------------------

def test_python_and_build_requirements_agree():
    import tomllib
    project = tomllib.loads((tarvel_var_root() / "pyproject.toml").read_text())["project"]
    assert project["requires-python"] == ">=3.11"
    classifiers = [c.rsplit(":: ", 1)[1] for c in project["classifiers"] if c.startswith("Programming Language :: Python :: 3.")]
    assert classifiers == ["3.11", "3.12", "3.13"]
    cmake = (tarvel_var_root() / "CMakeLists.txt").read_text()
    assert "VERSION_LESS 3.11" in cmake and "needs CPython 3.11 or newer" in cmake


def test_find_python_lists_supported_interpreters_newest_first():
    script = tarvel_var_root() / "tools" / "find_python.sh"
    found = subprocess.run(["sh", str(script), "--all"], capture_output=True, text=True, check=True)
    versions = [tuple(map(int, line.split()[0].split("."))) for line in found.stdout.splitlines()]
    assert versions == sorted(versions, reverse=True) and all(v >= (3, 11) for v in versions)
    assert len({v[:2] for v in versions}) == len(versions)
    old = subprocess.run(["sh", str(script)], capture_output=True, text=True,
                         env={**os.environ, "PYTHON": "/bin/false"})
    assert old.returncode == 1 and "not a working CPython 3.11 or newer" in old.stderr


def tarvel_var_root():
    from pathlib import Path
    return Path(__file__).resolve().parent.parent


# -- the string builder ---------------------------------------------------------------------

texts = st.text(st.characters(codec="utf-8") | st.sampled_from("aé€😀"), max_size=12)


@settings(max_examples=200)
@given(st.dictionaries(st.sampled_from(["a", "b", "ü", "名"]), texts | st.lists(texts, max_size=3), max_size=4))
def test_rendering_matches_python_formatting_for_every_width_of_text(doc):
    s = TarvelVar(doc)
    pairs = [f"{k}={v!r}" for k, v in doc.items()]
    assert repr(s) == "TarvelVar(" + ", ".join(sorted(pairs)) + ")"  # repr() in the names' order
    assert s._mv_to_params() == "&".join(pairs)
