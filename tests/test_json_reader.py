"""The native JSON reader against json.loads with the store hooks: the same stores, or none."""

import json
import math
import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st

from conftest import INTERNAL, names, store_shape as shape
from tarvel_var import TarvelVar, TarvelVarMain, _store, is_frozen
from tarvel_var.frozen import frozen_class
from tarvel_var.files import parse_json

native = pytest.mark.skipif(not _store.native_readers(), reason="built without a native JSON reader")


def general(text, strict=True):
    hook = _store.json_strict_store if strict else _store.json_store
    try:
        return parse_json(text, "<s>", hook, _store.DuplicateKeyError)
    except (_store.NeedsChecking, ValueError) as error:
        return type(error)


numbers = (st.integers(-2**70, 2**70) | st.floats(allow_nan=False) | st.sampled_from(
    ["-0", "-0.0", "1e-400", "1e400", "1E5", "0.1e1", "NaN", "-Infinity", "18446744073709551615",
     "18446744073709551616", "-9223372036854775808", "-9223372036854775809", "1.7976931348623157e308"]))
texts = st.text(max_size=6) | st.sampled_from(["\ud800", "\udc00\ud800", "\u2028", "\x7f", "é\U0001f600"])
leaf = numbers.map(lambda n: n if isinstance(n, str) else json.dumps(n)) | texts.map(json.dumps) | \
    st.sampled_from(["true", "false", "null"])
keys = names | st.sampled_from(["_i_c_u", "__x__", "_skip", "a", "keys"])


def members(inner):
    return st.lists(st.tuples(keys, inner), max_size=4).map(
        lambda pairs: "{" + ", ".join(f"{json.dumps(k)}: {v}" for k, v in pairs) + "}")


documents = members(st.recursive(leaf, lambda inner: st.lists(inner, max_size=3).map(
    lambda items: "[" + ",".join(items) + "]") | members(inner), max_leaves=12))


@native
@given(documents, st.booleans(), st.booleans())
def test_a_document_reads_natively_as_json_loads_reads_it_or_not_at_all(text, strict, frozen):
    read = _store.json_document(text, strict, frozen_class(TarvelVar) if frozen else None)
    expected = general(text, strict)
    if read is None:  # what the general way reads, with its errors
        return
    assert isinstance(expected, TarvelVar) and shape(read) == shape(expected.freeze() if frozen else expected)
    assert vars(read)["_g_n_s"] is strict


@native
@pytest.mark.parametrize("text", [
    '{"a": NaN}', '{"a": 1e400}', '{"a": "\\ud800"}', '{"a": 18446744073709551616}', '{"a": 1, "a": 2}',
    '{"a": {"_i_c_u": 1}}', '[1]', '\ufeff{}', '{"a": 1} x', '{"a": "\x01"}', '{' * 2000 + '}' * 2000, '',
])
def test_what_only_the_general_way_reads_is_left_to_it(text):
    assert _store.json_document(text, True) is None
    if not text.startswith("\ufeff"):  # which a file may begin with (below)
        assert _store.json_document(text.encode("utf-8", "surrogatepass"), True) is None


@native
def test_a_files_bytes_read_natively_drop_a_byte_order_mark_as_decoding_does(tmp_path):
    path = tmp_path / "c.json"
    path.write_bytes(b'\xef\xbb\xbf{"a": [1, {"b": "\xc3\xa9"}]}')
    assert shape(_store.json_document(path.read_bytes(), True)) == shape(TarvelVar.loads('{"a": [1, {"b": "é"}]}'))
    assert TarvelVar.load(path) == {"a": [1, {"b": "é"}]}
    path.write_bytes(b'{"a": "\xff"}')  # not UTF-8: the general way says where
    with pytest.raises(ValueError, match="not UTF-8 text: invalid start byte at byte 7"):
        TarvelVar.load(path)


def test_the_version_says_which_formats_are_read_natively():
    from tarvel_var.cli import version_text

    line = version_text().splitlines()[-1]  # after the native paths
    readers = _store.native_readers()
    assert line == "native readers: " + (", ".join(readers) if readers else "none (the Python parsers read every format)")
    libraries = {"json": "simdjson", "yaml": "libyaml", "toml": "toml++"}
    assert [reader.split(":")[0] for reader in readers] == [f for f in libraries if f in "".join(readers)]
    assert all(reader.startswith(f"{fmt}: {libraries[fmt]} ") for reader in readers for fmt in [reader[:4]])


GET_ARGS = [["--get", "$.a.b"], [], ["--keys"], ["-c", "--sort"], ["--get", "a"], ["--get", "$.l.-1", "--keys"], ["--get", "$.l[1]"], ["--get", "x.y"],
            ["--get", "$.l.7", "-e"], ["--get", "$.a", "--get", "$.a.b.c", "--raw"], ["--get", "$"], ["--get", "$.l.0.k"],
            ["--get", "$.l.999999999999999999999"], ["--get", "$.a..b"], ["--get", "$.l", "--paths"]]


@native
@pytest.mark.parametrize("args", GET_ARGS)
@pytest.mark.parametrize("text", ['{"a": {"b": [1, {"c": "é"}]}, "l": [{"k": 1.5}, -0, 9e999], "x.y": null}',
                                  '{"a": {"b": 1}, "l": [{"k": 1}, 2, 3], "a": 2}', '{"a": NaN, "l": []}',
                                  '\ufeff{"a": {"b": {"c": true}}, "l": ["\\ud800", {"k": {}}]}', '{"l": [1]} [2]',
                                  '{"a": {"b": 1}, "l": [{"_i_c_u": 1}]}', '{"a": {"\\u005fskip": 1}, "l": []}',
                                  '42', '[{"a": 1}]'])
def test_the_command_line_reads_what_it_selects_as_it_reads_the_whole(tmp_path, monkeypatch, capsys, args, text):
    from tarvel_var import cli

    path = tmp_path / "d.json"
    path.write_text(text, encoding="utf-8", errors="surrogatepass")
    runs = []
    for pruned in (_store.json_pruned, lambda data, paths: None):
        monkeypatch.setattr(_store, "json_pruned", pruned)
        try:
            status = cli.run([str(path), *args])
        except SystemExit as error:  # a refusal: one line on standard error
            status = error.code
        runs.append((status, *capsys.readouterr()))
    assert runs[0] == runs[1]


plain_values = st.recursive(
    st.none() | st.booleans() | st.integers(-2**80, 2**80) | st.floats() |
    st.text(alphabet=st.characters(codec="utf-8") | st.sampled_from("\x00\x1f\x7f\u2028\"\\\b\f\n\r\t"), max_size=6),
    lambda inner: st.lists(inner, max_size=4) | st.lists(inner, max_size=3).map(tuple) |
    st.dictionaries(st.text(max_size=4), inner, max_size=4), max_leaves=20)


@given(plain_values | st.sampled_from([{"a": "\ud800"}, {1: 2}, [float("nan")], {"d": 1.5e300 * 1e10}, [{1}]]),
       st.sampled_from([None, 0, 2, -1]), st.booleans(), st.booleans())
def test_json_is_written_natively_as_json_dumps_writes_it(value, indent, sort, allow_nan):
    from tarvel_var.formats import render

    def written(**options):
        try:
            return render(value, "json", indent=indent, sort=sort, allow_nan=allow_nan, **options)
        except ValueError as error:
            return type(error), str(error)

    native = _store.json_text(value, indent, sort, allow_nan)
    try:
        _store.json_text, saved = (lambda *args: None), _store.json_text
        general = written()
    finally:
        _store.json_text = saved
    assert written() == general
    assert native is None or native == general


@native
def test_loading_frozen_reads_frozen_and_freezes_what_it_cannot(tmp_path):
    path = tmp_path / "c.json"
    for text in ('{"a": [1, {"b": [2]}], "c": {}}', '{"a": [1, {"b": [2]}], "n": NaN}'):
        path.write_text(text)
        for store in (TarvelVar.load(path, frozen=True), TarvelVar.loads(text, frozen=True)):
            assert shape(store) == shape(TarvelVar.loads(text).freeze())
