"""The native TOML reader against tomllib: the same data in the same order, or none."""

import datetime
import math
import tomllib

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tarvel_var import TarvelVar, _store, formats

native = pytest.mark.skipif(not any(r.startswith("toml") for r in _store.native_readers()),
                            reason="no native TOML reader")


def shape(value):
    """Types all the way down, key order, float signs, time zones."""
    if isinstance(value, dict):
        return ("dict", [(k, shape(v)) for k, v in value.items()])
    if isinstance(value, list):
        return ("list", [shape(v) for v in value])
    if isinstance(value, float):
        return ("float", math.copysign(1.0, value), value)
    if isinstance(value, (datetime.datetime, datetime.time)):
        return (type(value).__name__, value, value.utcoffset() if value.tzinfo else None)
    return (type(value).__name__, value)


def agrees(text):
    ours = _store.toml_document(text)
    if ours is None:
        return False
    assert shape(ours) == shape(tomllib.loads(text)), text
    return True


@native
@pytest.mark.parametrize("text", [
    "",
    "z = 1\na = 2\nm = 3\n",
    "[b.c]\nx = 1\n[a]\ny = 2\n[b]\nw = 3\n[b.a]\n",  # tables in the order first named
    "z.y = 1\na = 2\nz.b = 3\n[t]\nq.r.s = 1\np = 2\n",
    "[[arr]]\nb = 1\na = 2\n[arr.sub]\nz = 1\n[[arr]]\na = 3\n",
    "p = {z = 1, a = {y = 2, b = 3}}\nq = [{b = 1, a = 2}, [1, [2.5, 'x']]]\n",
    "i = [0, -0, +7, 1_000, 0xDEAD_beef, 0o755, 0b1101, 9223372036854775807, -9223372036854775808]\n",
    "f = [0.0, -0.0, +1.5, 1e10, 1E-10, 6.626e-34, 3.141_592, inf, -inf, +inf, 1.7976931348623157e308, "
    "5e-324, 0.1, 1e-400]\n",
    "b = [true, false]\n",
    "s = ['lit\\\\eral', \"esc \\t \\u00e9 \\U0001F600 \\\"\", '''multi\nline''', \"\"\"a\\\n   b\"\"\"]\n",
    "d = 1979-05-27\nt = 07:32:00\nt2 = 00:32:00.999999999\n",
    "dt = [1979-05-27T07:32:00Z, 1979-05-27 00:32:00.5-07:00, 1979-05-27t00:32:00+05:45, "
    "1979-05-27T07:32:00.123456789, 1979-05-27T07:32:00+00:00]\n",
    "'quoted key' = 1\n\"a.b\" = 2\n'' = 3\n'é' = 4\n",
    "# comment\r\na = 1 # trailing\r\n",
])
def test_documents_read_as_tomllib_reads_them(text):
    assert agrees(text)


@native
@pytest.mark.parametrize("text", [
    "a = 1\na = 2\n", "a = \n", "[a]\n[a]\n", "a = 1 b = 2\n", "a = 01\n", "a = 1__0\n",
    "a = 9223372036854775808\n",  # beyond 64 bits: tomllib makes the int
    "a = nan\n", "a = -nan\n", "a = 1e400\n",
    "a = 1979-02-30\n", "a = 23:59:60\n", "a = 'x\n", "a = \"\\ud800\"\n", "a = '\ud800'\n",
    "a.b = 1\na = 2\n", "[t]\nx = 1\n[t.x]\n", "a = [1, 2,,]\n", "a = {b = 1,}\n", "a = 1\n\x7f",
])
def test_tomllib_reads_what_the_native_reader_gives_way_on(text):
    assert _store.toml_document(text) is None


@native
def test_load_keeps_tomllibs_results_and_errors(tmp_path, monkeypatch):
    path = tmp_path / "c.toml"
    path.write_text("a = 1\na = 2\n", encoding="utf-8")
    with pytest.raises(formats.LoadError, match=r"c\.toml:2:\d+: invalid TOML: Cannot overwrite a value$"):
        TarvelVar.load(path)
    path.write_text("[db]\nport = 5432\nwhen = 2024-01-01T00:00:00Z\n[[db.hosts]]\nname = 'a'\n", encoding="utf-8")
    native_store = TarvelVar.load(path)
    monkeypatch.setattr(_store, "toml_document", lambda text: None)
    general_store = TarvelVar.load(path)
    assert shape(native_store.to_dict()) == shape(general_store.to_dict())


tomli_w = pytest.importorskip("tomli_w")
keys = st.text(min_size=1, max_size=4).filter(lambda k: "\ud800" > k or k > "\udfff")
leaves = (st.integers(-2**63, 2**63 - 1) | st.floats(allow_nan=False) | st.booleans() | st.text(max_size=5)
          | st.dates() | st.times() | st.datetimes()
          | st.datetimes(timezones=st.sampled_from([datetime.timezone.utc,
                                                    datetime.timezone(datetime.timedelta(hours=-7, minutes=-30))])))
surrogate_free = leaves.filter(lambda v: not isinstance(v, str) or all(not "\ud800" <= c <= "\udfff" for c in v))
trees = st.recursive(surrogate_free, lambda inner: st.lists(inner, max_size=3) | st.dictionaries(keys, inner, max_size=3),
                     max_leaves=10)


@native
@settings(max_examples=300, deadline=None)
@given(st.dictionaries(keys, trees, max_size=5), st.booleans())
def test_written_documents_read_as_tomllib_reads_them(data, multiline):
    assert agrees(tomli_w.dumps(data, multiline_strings=multiline))
