"""The native YAML reader against PyYAML's safe loader over libyaml: the same data, or none."""

import datetime
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import store_shape
from tarvel_var import TarvelVar, _store, formats

yaml = pytest.importorskip("yaml")
native = pytest.mark.skipif(not any(r.startswith("yaml") for r in _store.native_readers())
                            or not formats._libyaml_is_safe(yaml), reason="no native YAML reader")


def loaded(text):
    try:
        return formats._loaded_yaml(yaml, text, "<s>")
    except formats.LoadError as error:
        return LoadError_(str(error))


class LoadError_(str):
    pass


def shape(value):
    """Types all the way down, float signs, and which containers are the same object."""
    seen = {}

    def walk(v):
        if isinstance(v, (dict, list)):
            if id(v) in seen:
                return ("same as", seen[id(v)])
            seen[id(v)] = len(seen)
            if isinstance(v, dict):
                return ("dict", [(type(k).__name__, k, walk(x)) for k, x in v.items()])
            return ("list", [walk(x) for x in v])
        if isinstance(v, float):
            return ("float", math.copysign(1.0, v), v if v == v else "nan")
        return (type(v).__name__, v)
    return walk(value)


def agrees(text):
    """The native reader's data is the loader's, or it gave way; which of the two it did. Its
    stores, built as it reads, are those the class builds of the loader's data."""
    ours = _store.yaml_document(text, formats.YAML_EXPANSION_LIMIT)
    for strict in (True, False):
        store = _store.yaml_store(text, strict, formats.YAML_EXPANSION_LIMIT)
        if store is not None:
            assert store_shape(store) == store_shape(TarvelVar(loaded(text), strict=strict)), text
        elif ours is not None and "&" not in text:  # only an alias, or a key a store keeps, gives way
            assert "_" in text, text
    if ours is None:
        return False
    assert shape(ours) == shape(loaded(text)), text
    return True


# Plain scalars of every kind the YAML 1.1 rules resolve, and near misses of each.
SCALARS = [
    "", "~", "null", "Null", "NULL", "nULL", "nul", "yes", "Yes", "YES", "yEs", "no", "No", "NO", "true",
    "True", "TRUE", "tRUE", "false", "False", "FALSE", "on", "On", "ON", "oN", "off", "Off", "OFF", "y", "n",
    "0", "-0", "+0", "00", "007", "08", "0_7", "0_", "-0_", "0b101", "-0b1_1", "0b", "0b_", "0B1", "0x1F",
    "-0xff", "0x_", "0x", "0X1", "0x0b1", "1_000", "-1_000_", "123456789012345678901234567890", "+12",
    "1:20", "-1:30:00", "190:20:30.15", "12:ab", "1.5", "-1.5", "+1.5", "1.", "1._", "-0.0", ".5", "+.5",
    ".5_", "._5", "1.5e+3", "1.5E-3", "1.5e3", "1e+3", "1.e+5", "1_0.0_1", ".inf", "-.inf", "+.INF",
    ".Inf", ".iNf", ".nan", ".NaN", "-.nan", "1.0e+999", "1.0e-999", "2001-12-14", "2001-02-30",
    "2001-12-14t21:59:43.10-05:00", "2001-12-14 21:59:43.10", "2001-1-1", "20011-12-14", "2001-12-144",
    "10.0.0.1:8080", "127.0.0.1", "<<", "=", "==", "-", "-a", "+", ".", "_1", "1e5", "0o17", "v1.2",
    "1_", "1__2", "0.1.2", "--1", "1-2", "é", "a b",
]


# What the native reader leaves to the loader: numbers in base 60, NaN, timestamps and what may
# be one, an int of no digits, a bad day, a merge key, a value key, a sequence entry out of place.
GIVEN_WAY = {"0b_", "0x_", "1:20", "-1:30:00", "190:20:30.15", "12:ab", ".nan", ".NaN", "2001-02-30",
             "2001-12-14t21:59:43.10-05:00", "2001-12-14 21:59:43.10", "2001-1-1", "2001-12-144", "<<", "=",
             "-"}


@native
def test_each_plain_scalar_reads_as_the_loader_reads_it():
    given_way = set()
    for scalar in SCALARS:
        if not agrees(f"k: {scalar}\n" if scalar else "k:\n"):
            given_way.add(scalar)
        agrees(f"k: [{scalar}]\n" if scalar else "k: []\n")
        agrees(f"k: '{scalar}'\n")
    assert given_way == GIVEN_WAY


@native
@pytest.mark.parametrize("text", [
    "a: 1\nb: [1, two, {c: d}]\nc:\n  - x\n  - y: z\n",
    "a: &x {b: 1}\nc: *x\nd: *x\n",  # one object under three names, as the loader makes it
    "a: &l [1, 2]\nb: [*l, *l]\n",
    "a: &s text\n*s : 2\n",  # an alias as a key
    'a: "quoted: \\u00e9 \\0 \\t"\nb: |\n  block\n  text\nc: >\n  folded\n  text\n',
    "%YAML 1.1\n---\na: 1\n...\n",
    "\ufeffa: 1\n",
    "a: plain\n  continued\n",
    "? a\n: 1\n",
    "_i_c_u: 1\n", "a: {_skip: 1}\n",  # keys a store keeps for itself: the class has its say
])
def test_documents_read_as_the_loader_reads_them(text):
    assert agrees(text)


@native
@pytest.mark.parametrize("text", [
    "a: 1\na: 2\n",  # a key written twice: the loader names it
    "1: a\n", "yes: a\n", "null: a\n", "~: a\n", ": a\n", "2001-01-01: a\n", "[a]: b\n", "{a: b}: c\n",
    "a: !!str 1\n", "a: !custom x\n", "!!map {a: 1}\n", "a: !!binary aGk=\n", "a: ! 12\n",
    "base: &b {x: 1}\nd:\n  <<: *b\n",  # a merge
    "a: *nope\n", "a: &r [*r]\n", "a: &x 1\nb: &x 2\n",
    "a: 1\n---\nb: 2\n", "- 1\n", "just text\n", "", "# only a comment\n", "a: [1\n", "a:\tb: c\n",
    "a: .nan\n", "a: 1:2\n", "a: 2001-12-14 21:59:43\n", "a: 2001-02-30\n", "a: 0b_\n",
    "a: " + "1" * 5000 + "\n",  # more digits than int() converts
    "a: \ud800\n",
])
def test_the_loader_reads_what_the_native_reader_gives_way_on(text):
    assert _store.yaml_document(text, formats.YAML_EXPANSION_LIMIT) is None


@native
def test_alias_is_the_anchors_object_and_dates_are_dates():
    data = _store.yaml_document("a: &x [1]\nb: *x\nd: 2024-02-29\n", 10)
    assert data["a"] is data["b"]
    assert data["d"] == datetime.date(2024, 2, 29) and type(data["d"]) is datetime.date


@native
def test_load_goes_through_the_native_reader_and_keeps_the_loaders_results(tmp_path, monkeypatch):
    path = tmp_path / "c.yaml"
    # errors and their places are the loader's whichever way the text goes
    path.write_text("a: 1\na: 2\n", encoding="utf-8")
    with pytest.raises(formats.LoadError, match=r"c\.yaml:2:1: invalid YAML: duplicate key 'a' in one mapping$"):
        TarvelVar.load(path)
    path.write_text("db: {port: 5432, hosts: [a, b]}\nlevel: 0x1f\n", encoding="utf-8")
    native_store = TarvelVar.load(path)
    monkeypatch.setattr(_store, "yaml_store", lambda text, strict, limit: None)
    plain_read_natively = TarvelVar.load(path)
    monkeypatch.setattr(formats, "_native_yaml", lambda yaml, text: None)
    general_store = TarvelVar.load(path)
    assert store_shape(native_store) == store_shape(plain_read_natively) == store_shape(general_store)


plain = st.text(alphabet="0123456789-+._:eExbBoOaAfFnNuUlLtTrRsSyY~<= ", min_size=0, max_size=8)
quoted = st.text(max_size=5).map(lambda s: '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"')
scalars = plain.map(str.strip) | quoted


def mapping(inner):
    return st.lists(st.tuples(st.sampled_from(["a", "b", "c", "'1'", "yes", "x y"]), inner), max_size=4).map(
        lambda pairs: "{" + ", ".join(f"{k}: {v}" for k, v in pairs) + "}")


documents = st.recursive(scalars, lambda inner: mapping(inner) | st.lists(inner, max_size=4).map(
    lambda items: "[" + ", ".join(items) + "]"), max_leaves=12)


@native
@settings(max_examples=400, deadline=None)
@given(st.lists(st.tuples(st.sampled_from(["a", "b", "k", "v1"]), documents), min_size=1, max_size=4))
def test_generated_documents_read_as_the_loader_reads_them(pairs):
    agrees("".join(f"{k}: {v}\n" for k, v in pairs))


@native
def test_aliases_that_expand_past_the_limit_are_left_to_the_loader():
    text = "a: &a [1, 2, 3]\nb: &b [*a, *a, *a]\nc: [*b, *b]\n"  # 1 + 4 + 13 + 27 values
    assert _store.yaml_document(text, 45) is not None
    assert _store.yaml_document(text, 44) is None
    laughs = "a: &a [x, x, x, x, x, x, x, x, x]\n" + "".join(
        f"{chr(98 + i)}: &{chr(98 + i)} [{', '.join(['*' + chr(97 + i)] * 9)}]\n" for i in range(8))
    assert _store.yaml_document(laughs, formats.YAML_EXPANSION_LIMIT) is None
    with pytest.raises(formats.LoadError, match="expand to more than 2,000,000 values"):
        TarvelVar.loads(laughs, format="yaml")
