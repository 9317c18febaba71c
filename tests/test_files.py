"""Loading and dumping JSON, TOML and YAML, the to_plain hook, and atomic writes."""

import datetime
import errno
import json
import math
import os
import stat
import sys
import tomllib

import pytest
import yaml

# Documents nested 100,000 deep: seconds natively, far longer under valgrind, which skips them.
STRESS = pytest.mark.stress

import tarvel_var
from tarvel_var import TarvelVar, files, formats, paths
from tarvel_var.files import DumpError, LoadError, MissingExtraError

# Nested lists of sections are what TOML writers most often get wrong ([[a.b]] inside
# [[a]], arrays of arrays, empty tables in arrays).
DOCUMENT = {
    "title": "inventory ✓",
    "port": 8080, "ratio": 0.25, "debug": False, "big": 2 ** 62,
    "servers": [
        {"host": "a", "ports": [1, 2], "tags": {"env": "prod", "zone": {"id": 3}},
         "checks": [{"path": "/h", "every": 5}, {"path": "/r", "every": 9}]},
        {"host": "b", "ports": [], "tags": {}, "checks": []},
    ],
    "matrix": [[1, 2], [3], []],
    "mixed": [1, "two", [3.5]],
    "deep": {"a": {"b": {"c": [{"d": [{"e": "f"}]}]}}},
}
READERS = {"json": json.loads, "toml": tomllib.loads, "yaml": yaml.safe_load}


@pytest.mark.parametrize("fmt, name", [("json", "c.json"), ("toml", "c.toml"),
                                       ("yaml", "c.yaml"), ("yaml", "c.yml")])
def test_round_trip_through_a_file(tmp_path, fmt, name):
    document = dict(DOCUMENT, nothing=None) if fmt != "toml" else DOCUMENT
    path = tmp_path / name
    TarvelVar(document).dump(path)
    # The file is the format itself, as another reader of that format reads it ...
    assert READERS[fmt](path.read_text(encoding="utf-8")) == document
    # ... and loads back into an equal store.
    loaded = TarvelVar.load(path)
    assert isinstance(loaded, TarvelVar) and loaded._mv_to_dict() == document
    assert isinstance(loaded.servers[0].checks[1], TarvelVar)
    assert paths.lookup(loaded, "$.servers.0.tags.zone.id") == 3


@pytest.mark.parametrize("fmt", ["json", "toml", "yaml"])
def test_round_trip_through_text(fmt):
    text = TarvelVar(DOCUMENT).dumps(fmt)
    assert text.endswith("\n")
    assert TarvelVar.loads(text, format=fmt)._mv_to_dict() == DOCUMENT
    assert TarvelVar.loads(text.encode("utf-8"), format=fmt)._mv_to_dict() == DOCUMENT
    assert TarvelVar.loads(text, format=None)._mv_to_dict() == DOCUMENT  # found from the text


@pytest.mark.parametrize("fmt", ["toml", "yaml"])
def test_dates_round_trip_where_the_format_has_them(tmp_path, fmt):
    document = {"when": datetime.date(2024, 5, 1),
                "at": datetime.datetime(2024, 5, 1, 12, 30, tzinfo=datetime.timezone.utc)}
    path = tmp_path / f"d.{fmt}"
    TarvelVar(document).dump(path)
    assert TarvelVar.load(path)._mv_to_dict() == document
    # JSON, which has no dates, writes them as ISO 8601 text
    assert json.loads(TarvelVar.load(path).dumps("json")) == {"when": "2024-05-01", "at": "2024-05-01T12:30:00+00:00"}


@pytest.mark.parametrize("kwargs, expected", [
    ({}, '{\n  "b": [\n    1\n  ],\n  "a": "é"\n}\n'),
    ({"indent": None}, '{"b": [1], "a": "é"}\n'),
    ({"indent": 4, "sort": True}, '{\n    "a": "é",\n    "b": [\n        1\n    ]\n}\n'),
])
def test_json_layout(kwargs, expected):
    assert TarvelVar({"b": [1], "a": "é"}).dumps(**kwargs) == expected


def test_sort_orders_every_level_in_toml_and_yaml():
    store = TarvelVar({"b": {"y": 1, "x": 2}, "a": 0})
    assert store.dumps("toml", sort=True) == 'a = 0\n\n[b]\nx = 2\ny = 1\n'
    assert store.dumps("yaml", sort=True) == "a: 0\nb:\n  x: 2\n  y: 1\n"


@pytest.mark.parametrize("value, path, message", [
    ({"a": [1.0, math.nan]}, "$.a.1", "nan cannot be written as JSON"),
    ({"x": {"y": math.inf}}, "$.x.y", "inf cannot be written as JSON"),
    ({"x": -math.inf}, "$.x", "-inf cannot be written as JSON"),
    ({"s": {"k": {1, 2}}}, "$.s.k", "a set cannot be written as JSON"),
    # json writes number keys as strings, as JSON readers expect; other keys it cannot
    ({"d": {(1, 2): "pair"}}, "$.d", "the key (1, 2) is not a string"),
    ({"o": object()}, "$.o", "an object cannot be written as JSON"),
])
def test_json_refuses_what_it_cannot_hold_naming_the_path(value, path, message):
    store = TarvelVar(inherit=True)  # keeps values as they are, sets and int keys too
    for name, item in value.items():
        setattr(store, name, item)
    with pytest.raises(DumpError) as error:
        store.dumps()
    assert error.value.path == path and str(error.value).startswith(f"{path}: {message}")


def test_allow_nan_writes_them():
    assert TarvelVar({"a": [math.nan, math.inf]}).dumps(indent=None, allow_nan=True) == \
        '{"a": [NaN, Infinity]}\n'
    assert "nan" in TarvelVar({"a": math.nan}).dumps("toml")  # TOML has nan and inf


@pytest.mark.parametrize("fmt, value, path, message", [
    ("toml", {"a": {"b": [1, None]}}, "$.a.b.1", "null cannot be written as TOML"),
    ("yaml", {"a": {"s": object()}}, "$.a.s", "cannot be written as YAML"),
])
def test_toml_and_yaml_refuse_naming_the_path(fmt, value, path, message):
    store = TarvelVar(value, inherit=True)
    with pytest.raises(DumpError) as error:
        store.dumps(fmt)
    assert error.value.path == path and message in str(error.value)


def test_to_plain_serialises_stores_nested_in_other_data():
    store = TarvelVar({"db": {"port": 1}, "hosts": ("a",)})
    text = json.dumps({"config": store, "list": [store.db]}, default=tarvel_var.to_plain)
    assert json.loads(text) == {"config": {"db": {"port": 1}, "hosts": ["a"]},
                                "list": [{"port": 1}]}
    with pytest.raises(TypeError, match="Object of type object is not JSON serializable"):
        json.dumps({"x": object()}, default=tarvel_var.to_plain)


# -- formats and errors ---------------------------------------------------------------------

def test_format_from_the_extension_or_given(tmp_path):
    path = tmp_path / "settings.conf"
    path.write_text("a = 1\n")
    with pytest.raises(LoadError, match=r"settings.conf: unknown format: extension '.conf' "
                                        r"\(expected .json, .toml, .yaml or .yml"):
        TarvelVar.load(path)
    assert TarvelVar.load(path, format="toml").a == 1
    with pytest.raises(ValueError, match="unknown format 'ini'"):
        TarvelVar.load(path, format="ini")
    upper = tmp_path / "C.JSON"
    upper.write_text('{"a": 2}')
    assert TarvelVar.load(str(upper)).a == 2
    with pytest.raises(LoadError, match="no extension"):
        TarvelVar.load(tmp_path / "noext")


@pytest.mark.parametrize("name, text, line, column, message", [
    ("t.json", '{"a": 1,\n  "b": }', 2, 8, "invalid JSON: Expecting value"),
    ("t.json", '{"a": [1, 2', 1, 12, "invalid JSON"),
    ("t.toml", "a = 1\nb = = 2\n", 2, 5, "invalid TOML: Invalid value"),
    ("t.toml", "[a]\nx = 1\n[a]\n", 3, 3, "invalid TOML"),  # a table defined twice
    ("t.yaml", "a: 1\nb: [1, 2\n", 3, 1, "invalid YAML"),
    ("t.yaml", "a: 1\na: 2\n", 2, 1, "invalid YAML: duplicate key 'a' in one mapping"),
    ("t.yaml", "a: 1\n3: x\n", 2, 1, "keys must be strings, not a number (3)"),
    ("t.yaml", "---\na: 1\n---\nb: 2\n", 3, 1, "invalid YAML: but found another document"),
])
def test_parse_errors_carry_file_line_and_column(tmp_path, name, text, line, column, message):
    path = tmp_path / name
    path.write_text(text)
    with pytest.raises(LoadError) as error:
        TarvelVar.load(path)
    assert (error.value.source, error.value.line, error.value.column) == (str(path), line, column)
    assert str(error.value).startswith(f"{path}:{line}:{column}: ") and message in str(error.value)


def deep(fmt, levels=100_000):
    if fmt == "json":
        return '{"a": ' + "[" * levels + "]" * levels + "}"
    if fmt == "toml":
        return "a = " + "[" * levels + "]" * levels + "\n"
    return "a: " + "[" * levels + "]" * levels + "\n"


@pytest.mark.parametrize("name, content, message", [
    ("b.json", b"\x00\x01\x02\xff\xfe", "binary data: invalid start byte at byte 3"),
    ("l.json", '{"a": "caf\xe9"}'.encode("latin-1"), "not UTF-8 text: invalid continuation byte at byte 10"),
    ("t.json", b'{"a": {"b": [1, 2', "invalid JSON"),
    ("l.json", b"[1, 2]", "the top level must be an object, not an array"),
    ("s.json", b'"text"', "the top level must be an object, not a string"),
    ("n.json", b"null", "the top level must be an object, not null"),
    ("s.yaml", b"- 1\n- 2\n", "the top level must be a mapping, not a sequence"),
    ("e.yaml", b"null\n", "the top level must be a mapping, not null"),
    ("d.json", b'{"a": {"x": 1, "y": 2, "x": 3}}', "duplicate key 'x' in one object"),
    ("d.toml", b"a = 1\na = 2\n", "invalid TOML"),
    ("big.json", b'{"a": ' + b"9" * 5000 + b"}", "invalid JSON: Exceeds the limit"),
    pytest.param("deep.json", deep("json").encode(), "the document is nested too deeply", marks=STRESS),
    pytest.param("deep.toml", deep("toml").encode(), "the document is nested too deeply", marks=STRESS),
    pytest.param("deep.yaml", deep("yaml").encode(), "the document is nested too deeply", marks=STRESS),
])
def test_bad_documents_raise_a_clear_load_error(tmp_path, name, content, message):
    path = tmp_path / name
    path.write_bytes(content)
    with pytest.raises(LoadError) as error:
        TarvelVar.load(path)
    assert str(error.value).startswith(str(path)) and message in str(error.value)
    assert isinstance(error.value, ValueError)


def test_yaml_aliases_that_expand_beyond_the_limit_are_refused(monkeypatch):
    lines = ["a0: &a0 [x, x, x, x, x, x, x, x, x, x]"]
    lines += [f"a{n}: &a{n} [{', '.join([f'*a{n - 1}'] * 10)}]" for n in range(1, 8)]
    monkeypatch.setattr(formats, "YAML_EXPANSION_LIMIT", 100_000)
    with pytest.raises(LoadError, match="aliases expand to more than 100,000 values"):
        TarvelVar.loads("\n".join(lines), format="yaml")
    small = TarvelVar.loads("base: &b {x: 1}\nuse: *b\nmore:\n  <<: *b\n  y: 2\n", format="yaml")
    assert small._mv_to_dict() == {"base": {"x": 1}, "use": {"x": 1}, "more": {"x": 1, "y": 2}}


def test_missing_file_names_it(tmp_path):
    with pytest.raises(FileNotFoundError) as error:
        TarvelVar.load(tmp_path / "none.json")
    assert error.value.filename == str(tmp_path / "none.json")


def test_a_byte_order_mark_is_skipped():
    assert TarvelVar.loads(b'\xef\xbb\xbf{"a": 1}').a == 1


@pytest.mark.parametrize("text, fmt", [('{"a": 1}', "json"), ("a = 1\n", "toml"),
                                       ("a: 1\n", "yaml"), ('[x]\ny = 1\n', "toml")])
def test_the_format_is_found_from_the_text(text, fmt):
    assert files.detect(text, None)[0] == fmt


def test_flags_reach_the_constructor_and_subclasses_come_back(tmp_path):
    class Settings(TarvelVar):
        pass

    path = tmp_path / "s.json"
    path.write_text('{"a": {"b": 1}}')
    loaded = Settings.load(path, reprint=True)
    assert type(loaded) is Settings and loaded.missing == "missing"
    assert TarvelVar.loads('{"a": 1}', inherit=True)._g_n_i is True
    assert type(Settings.from_env("APP", environ={"APP_X": "1"})) is Settings


def test_the_constructors_value_error_is_reported_with_the_source(tmp_path):
    class Refusing(TarvelVar):
        def __init__(self, data=None, **flags):
            if data and "_mv_add" in data:
                raise ValueError("'_mv_add' names a method of the store")
            super().__init__(data, **flags)

    path = tmp_path / "r.json"
    path.write_text('{"_mv_add": 1}')
    with pytest.raises(LoadError, match=r"r.json: '_mv_add' names a method of the store"):
        Refusing.load(path)


@pytest.mark.parametrize("action, extra", [
    (lambda tmp: TarvelVar.loads("a: 1", format="yaml"), "reading YAML needs PyYAML: pip install 'tarvel-var[yaml]'"),
    (lambda tmp: TarvelVar({"a": 1}).dumps("yaml"), "writing YAML needs PyYAML"),
    (lambda tmp: TarvelVar({"a": 1}).dump(tmp / "x.toml"), "writing TOML needs tomli-w: pip install 'tarvel-var[toml]'"),
])
def test_a_missing_extra_is_named(tmp_path, monkeypatch, action, extra):
    monkeypatch.setitem(sys.modules, "yaml", None)  # as if not installed
    monkeypatch.setitem(sys.modules, "tomli_w", None)
    with pytest.raises(MissingExtraError, match=extra.replace("[", r"\[").replace("]", r"\]")):
        action(tmp_path)
    assert list(tmp_path.iterdir()) == []


# -- writing in place -----------------------------------------------------------------------

OLD = b'{"old": true}\n'


def folder_after(tmp_path):
    return sorted(p.name for p in tmp_path.iterdir())


def test_dump_replaces_the_file_and_keeps_its_permissions(tmp_path):
    path = tmp_path / "c.json"
    path.write_bytes(OLD)
    path.chmod(0o640)
    TarvelVar({"new": 1}).dump(path)
    assert json.loads(path.read_text()) == {"new": 1}
    assert stat.S_IMODE(path.stat().st_mode) == 0o640
    assert folder_after(tmp_path) == ["c.json"]


def test_a_new_file_gets_the_usual_permissions(tmp_path):
    old = os.umask(0o027)
    try:
        TarvelVar({"a": 1}).dump(tmp_path / "n.toml")
    finally:
        os.umask(old)
    assert stat.S_IMODE((tmp_path / "n.toml").stat().st_mode) == 0o640


def test_a_symbolic_link_stays_a_link(tmp_path):
    (tmp_path / "real.json").write_bytes(OLD)
    (tmp_path / "link.json").symlink_to("real.json")
    TarvelVar({"a": 1}).dump(tmp_path / "link.json")
    assert (tmp_path / "link.json").is_symlink()
    assert json.loads((tmp_path / "real.json").read_text()) == {"a": 1}


def fail_with(error):
    def fail(*args, **kwargs):
        raise error
    return fail


@pytest.mark.parametrize("where, error", [
    ("fsync", OSError(errno.ENOSPC, "No space left on device")),
    ("fchmod", OSError(errno.EIO, "Input/output error")),
    ("replace", KeyboardInterrupt()),
])
def test_a_failed_dump_leaves_the_old_file_as_it_was(tmp_path, monkeypatch, where, error):
    path = tmp_path / "c.json"
    path.write_bytes(OLD)
    monkeypatch.setattr(os, where, fail_with(error))
    with pytest.raises(type(error)):
        TarvelVar({"new": 1}).dump(path)
    monkeypatch.undo()
    assert path.read_bytes() == OLD and folder_after(tmp_path) == ["c.json"]


def test_a_refused_value_leaves_the_old_file_as_it_was(tmp_path):
    path = tmp_path / "c.json"
    path.write_bytes(OLD)
    with pytest.raises(DumpError, match=r"\$.x"):
        TarvelVar({"x": math.nan}).dump(path)
    assert path.read_bytes() == OLD and folder_after(tmp_path) == ["c.json"]
    with pytest.raises(DumpError, match=r"\$.y: null cannot be written as TOML"):
        TarvelVar({"y": None}).dump(path, format="toml")
    assert path.read_bytes() == OLD and folder_after(tmp_path) == ["c.json"]


@pytest.fixture(params=["libyaml", "pure"])
def yaml_parser(request, monkeypatch):
    """Each YAML reader: libyaml where PyYAML has it, and PyYAML's own parser."""
    if request.param == "libyaml" and not formats._libyaml_is_safe(yaml):
        pytest.skip("PyYAML is built without libyaml 0.2.5 or later")
    monkeypatch.setattr(formats, "_YAML_LOADER", None)
    if request.param == "pure":
        monkeypatch.setattr(formats, "_libyaml_is_safe", lambda module: False)
    yield request.param
    formats._YAML_LOADER = None


@pytest.mark.parametrize("text, expected", [
    ("base: &b {x: 1, y: 1}\nmore:\n  <<: *b\n  x: 2\n",  # a merge overridden: no duplicate
     {"base": {"x": 1, "y": 1}, "more": {"x": 2, "y": 1}}),
    ("a: [1, {b: c}]\nwhen: 2024-05-01\n", {"a": [1, {"b": "c"}], "when": datetime.date(2024, 5, 1)}),
    ("a: " + "[" * 200 + "]" * 200 + "\n", {"a": json.loads("[" * 200 + "]" * 200)}),
])
def test_yaml_readings(yaml_parser, text, expected):
    assert TarvelVar.loads(text, format="yaml")._mv_to_dict() == expected


@pytest.mark.parametrize("text, message", [
    ("a: 1\nb: 2\na: 3\n", "<string>:3:1: invalid YAML: duplicate key 'a' in one mapping"),
    ("base: &b {x: 1}\nm: {<<: *b, y: 1, y: 2}\n", "duplicate key 'y'"),
    ("m:\n  <<: {1: x}\n", "keys must be strings, not a number (1)"),
    pytest.param("a: " + "[" * 100_000 + "]" * 100_000, "<string>: the document is nested too deeply",
                 marks=STRESS),
    pytest.param("a: " + "- " * 50_000 + "1", "invalid YAML", marks=STRESS),
    ("a: 'open\n", "invalid YAML"),
])
def test_yaml_refusals(yaml_parser, text, message):
    with pytest.raises(LoadError) as error:
        TarvelVar.loads(text, format="yaml")
    assert message in str(error.value)


def test_data_that_contains_itself_is_refused_not_looped_over():
    loop = {"a": 1}
    loop["self"] = loop
    shared = [math.nan]
    store = TarvelVar(inherit=True)
    store.x = {"k": loop}
    for fmt, message in [("json", "$: cannot be written as JSON: Circular reference detected"),
                         ("toml", "$: the data is nested too deeply or contains itself")]:
        with pytest.raises(DumpError) as error:
            store.dumps(fmt)
        assert str(error.value) == message
    store.x = {"a": shared, "b": shared}  # shared, not circular: found at its first place
    with pytest.raises(DumpError, match=r"^\$.x.a.0: nan cannot"):
        store.dumps()
    with pytest.raises(LoadError, match="aliases expand to more than"):  # read back
        TarvelVar.loads("x: &a {self: *a}\n", format="yaml")


def test_the_errors_pickle():
    import pickle

    for error in [LoadError("a.json", "invalid JSON: x", 2, 3), DumpError("$.a", "no")]:
        copy = pickle.loads(pickle.dumps(error))
        assert type(copy) is type(error) and str(copy) == str(error)
        assert vars(copy) == vars(error)


def raw_with(**values):
    raw = TarvelVar(inherit=True)
    for name, value in values.items():
        setattr(raw, name, value)
    return raw


class Color(__import__("enum").IntEnum):
    RED = 1


class Tag(str):
    pass


@pytest.mark.parametrize("store, fmt, expected", [
    # what a format can hold is written, as the plain value it is
    (raw_with(e=Color.RED, t=Tag("x"), o=__import__("collections").OrderedDict(b=1)), "yaml", {"e": 1, "t": "x", "o": {"b": 1}}),
    (TarvelVar.loads('{"a": "\\ud800", "\\udc00": 1}'), "json", {"a": "\ud800", "\udc00": 1}),
    (TarvelVar({"d": datetime.date(2024, 5, 1)}), "yaml", {"d": datetime.date(2024, 5, 1)}),
    (TarvelVar({"t": datetime.time(7, 32), "at": datetime.time(12, 30)}), "yaml", {"t": "07:32:00", "at": "12:30:00"}),
])
def test_values_that_are_written(tmp_path, store, fmt, expected):
    path = tmp_path / f"c.{fmt}"
    store.dump(path)
    assert TarvelVar.load(path).to_dict() == expected


@pytest.mark.parametrize("store, fmt, message", [
    (raw_with(d={1: "a", "1": "b"}), "json", "$.d: the key 1 is not a string"),
    (TarvelVar.loads('{"a": ["\\ud800"]}'), "yaml", "$.a.0: a lone surrogate cannot be written as YAML"),
    (TarvelVar.loads('{"a": "\\ud800"}'), "toml", "$.a: a lone surrogate cannot be written as TOML"),
])
def test_values_that_are_refused_naming_the_path(tmp_path, store, fmt, message):
    path = tmp_path / f"c.{fmt}"
    path.write_bytes(OLD)
    with pytest.raises(DumpError) as error:
        store.dump(path)
    assert str(error.value) == message or str(error.value).startswith(message)
    assert path.read_bytes() == OLD and folder_after(tmp_path) == [path.name]


def test_dumps_default_as_json_dumps_has_it():
    store = TarvelVar({"when": datetime.date(2024, 5, 1), "s": {1, 2}})
    assert store.dumps(indent=None, default=str) == '{"when": "2024-05-01", "s": [1, 2]}\n'
    with pytest.raises(DumpError, match=r"^\$\.x: a bytearray cannot be written as JSON$"):
        TarvelVar({"x": bytearray(b"a")}).dumps(default=files.iso_time)


@pytest.mark.parametrize("text, fmt, message", [
    ("a: !!map [1]\n", "yaml", "<string>:1:4: invalid YAML: expected a mapping for tag:yaml.org,2002:map, but found sequence"),
    ("a: !!set [1, 2]\n", "yaml", "<string>:1:4: invalid YAML: expected a mapping for tag:yaml.org,2002:set"),
    ("a: !!map x\n", "yaml", "<string>:1:4: invalid YAML: expected a mapping for tag:yaml.org,2002:map, but found scalar"),
    ("a: 2001-02-30\n", "yaml", "<string>: invalid YAML: day is out of range for month"),
    ("a: !!int 0x\n", "yaml", "<string>: invalid YAML: invalid literal for int()"),
    ("a: " + "1" * 5000 + "\n", "yaml", "<string>: invalid YAML: Exceeds the limit (4300 digits)"),
    ("a = " + "1" * 5000 + "\n", "toml", "<string>: invalid TOML: Exceeds the limit (4300 digits)"),
])
def test_a_parsers_own_value_errors_name_the_source(text, fmt, message):
    with pytest.raises(LoadError) as error:
        TarvelVar.loads(text, format=fmt)
    assert str(error.value).startswith(message), str(error.value)


def test_the_umask_is_never_changed(tmp_path, monkeypatch):
    monkeypatch.setattr(os, "umask", fail_with(AssertionError("umask changed")))
    TarvelVar({"a": 1}).dump(tmp_path / "new.json")
    assert json.loads((tmp_path / "new.json").read_text()) == {"a": 1}


def test_a_target_that_is_not_a_regular_file_is_written_into_not_replaced(tmp_path):
    import threading

    fifo = tmp_path / "pipe.json"
    os.mkfifo(fifo)
    received = []
    reader = threading.Thread(target=lambda: received.append(fifo.read_bytes()))
    reader.start()
    TarvelVar({"a": 1}).dump(fifo, indent=None)
    reader.join(10)
    assert received == [b'{"a": 1}\n'] and stat.S_ISFIFO(os.stat(fifo).st_mode)


def test_dump_errors_name_the_target(tmp_path):
    with pytest.raises(DumpError, match=r"^x\.ini: unknown format: extension '\.ini'"):
        TarvelVar().dump("x.ini")
    missing = tmp_path / "missing" / "x.json"
    with pytest.raises(FileNotFoundError) as error:
        TarvelVar().dump(missing)
    assert error.value.filename == str(missing)
    with pytest.raises(IsADirectoryError):
        TarvelVar().dump(tmp_path, format="json")
