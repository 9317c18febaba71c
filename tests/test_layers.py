"""Composed layers, where each value came from, and diffs between configurations."""

import copy
import pickle

import pytest
from hypothesis import given, strategies as st

from conftest import assert_no_leak, cli, scalars
from tarvel_var import (MISSING, Change, LayerError, Origin, TarvelVar, diff, is_frozen, origin,
                        origins, paths)

BASE = 'version = "1.9"\n[db]\nmaxConnections = 10\nhosts = [{host = "a", port = 1}, {host = "b", port = 2}]\n'
PROD = "db:\n  name: prod\n  pool:\n    size: 5\nservers:\n  - web1\n  - web2\n"


@pytest.fixture
def files(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "base.toml").write_text(BASE)
    (tmp_path / "prod.yaml").write_text(PROD)
    return tmp_path


def test_layers_merge_sections_and_replace_everything_else(files):
    s = TarvelVar.compose("base.toml", files / "prod.yaml", {"db": {"hosts": [], "pool": 3}, "servers": {"x": 1}})
    assert s.to_dict() == {"version": "1.9", "db": {"maxConnections": 10, "hosts": [], "name": "prod", "pool": 3},
                           "servers": {"x": 1}}
    assert type(s).__name__ == "TarvelVar" and isinstance(s, TarvelVar) and s == s.to_dict()


def test_the_environment_overrides_without_losing_data(files):
    env = {"APP_DB__HOSTS__0__PORT": "6000", "APP_DB__MAXCONNECTIONS": "20", "APP_VERSION": "1.10",
           "APP_NEW__LIST": "[1]", "OTHER": "x"}
    s = TarvelVar.compose("base.toml", env="APP", environ=env, overrides=["$.db.hosts.1.host=c", "db.hosts.1.port=7"])
    assert s.to_dict() == {"version": "1.10", "db": {"maxConnections": 20, "hosts": [
        {"host": "a", "port": 6000}, {"host": "c", "port": 7}]}, "new": {"list": [1]}}


@pytest.mark.parametrize("layers, kwargs, message", [
    ([{"db": {"Port": 1, "PORT": 2}}], {"overrides": ["db.port=3"]},
     "override db.port=3: 'port' matches both 'Port' and 'PORT' in $.db"),
    ([{"l": [1]}], {"overrides": ["l.1=2"]}, "override l.1=2: $.l.1 is past the end of a list of 1"),
    ([{"l": [1]}], {"overrides": ["l.x=2"]}, "override l.x=2: $.l is a list, so 'x' must be an index"),
    ([{"n": 1}], {"env": "APP", "environ": {"APP_N": "1.5"}}, "APP_N: '1.5' is not an integer, as $.n is"),
    ([{"b": True}], {"env": "APP", "environ": {"APP_B": "yes"}}, "APP_B: 'yes' is not a boolean, as $.b is"),
    ([{}], {"overrides": ["novalue"]}, "override novalue: expected PATH=VALUE"),
])
def test_bad_overrides_name_the_layer(layers, kwargs, message):
    with pytest.raises(LayerError) as caught:
        TarvelVar.compose(*layers, **kwargs)
    assert str(caught.value) == message


def test_reserved_keys_and_bad_files_name_the_layer(files):
    with pytest.raises(ValueError, match=r"^<argument 2>: reserved key '_skip' at \$\.a\._skip"):
        TarvelVar.compose({}, {"a": {"_skip": 1}})
    (files / "bad.yaml").write_text("a: 1\nb: [\n")
    with pytest.raises(ValueError, match=r"^bad\.yaml:3:1: invalid YAML"):
        TarvelVar.compose("base.toml", "bad.yaml")
    with pytest.raises(TypeError, match="compose\\(\\) argument 1 must be a path or a mapping, not int"):
        TarvelVar.compose(1)


def test_origins_name_the_layer_and_line(files):
    s = TarvelVar.compose("base.toml", "prod.yaml", {"debug": True}, env="APP",
                          environ={"APP_DB__HOSTS__0__PORT": "6"}, overrides=["db.pool.size=7"])
    assert {p: str(o) for p, o in origins(s).items()} == {
        "$.version": "base.toml", "$.db.maxConnections": "base.toml", "$.db.hosts.0.host": "base.toml",
        "$.db.hosts.0.port": "env APP_DB__HOSTS__0__PORT", "$.db.hosts.1.host": "base.toml",
        "$.db.hosts.1.port": "base.toml", "$.db.name": "prod.yaml:2",
        "$.db.pool.size": "override db.pool.size=7", "$.servers.0": "prod.yaml:6", "$.servers.1": "prod.yaml:7",
        "$.debug": "<argument 3>"}
    assert origin(s, "$.db") == Origin("override", None, "db.pool.size=7")  # the last to merge into it
    assert origin(s, "db.name") == Origin("prod.yaml", 2) and origin(s, "$.servers.-1") == Origin("prod.yaml", 7)
    with pytest.raises(KeyError):
        origin(s, "$.db.nothing")
    for clone in [copy.copy(s), copy.deepcopy(s), pickle.loads(pickle.dumps(s)), s.freeze(),
                  pickle.loads(pickle.dumps(s)), copy.deepcopy(s)]:
        assert origin(clone, "$.db.name") == Origin("prod.yaml", 2) and clone == s
    assert is_frozen(pickle.loads(pickle.dumps(s)))


def test_no_leaks_in_composing_and_asking():
    layer = {"a": {"b": [1, {"c": "x"}]}}
    override = "a.b.0=2"

    def work():
        s = TarvelVar.compose(layer, {"a": {"d": 1}}, overrides=[override])
        origins(s), origin(s, "$.a.b.1.c"), diff(s, layer), pickle.loads(pickle.dumps(s))

    assert_no_leak(work, layer, override)


def test_a_value_changed_after_composing_has_no_origin():
    s = TarvelVar.compose({"a": {"b": 1, "c": [1, 2]}, "d": 1})
    s.a.b = 2
    s.a.c.append(3)
    s.d = 1  # the same value again: still what the layer set
    assert [origin(s, p) for p in ("$.a.b", "$.a.c", "$.d")] == [None, None, Origin("<argument 1>")]
    assert origin(TarvelVar({"a": 1}), "a") is None and origins(TarvelVar({"a": 1})) == {"$.a": None}


DIFFS = [
    ({"a": 1, "b": {"c": 1}}, {"a": 1, "b": {"c": 1}}, []),
    ({"a": 1, "d": True}, {"a": "1", "e": None}, [("$.a", 1, "1"), ("$.d", True, MISSING), ("$.e", MISSING, None)]),
    ({"a": 1, "b": [1], "c": 2}, {"a": 1.0, "b": [True], "c": 3}, [("$.c", 2, 3)]),  # == decides
    ({"l": [1, 2, 3]}, {"l": [1, 5]}, [("$.l.1", 2, 5), ("$.l.2", 3, MISSING)]),
    ({"l": [1]}, {"l": [1, {"x": 1}]}, [("$.l.1", MISSING, {"x": 1})]),
    ({"s": {"x": 1}}, {"s": [1]}, [("$.s", {"x": 1}, [1])]),
]


@pytest.mark.parametrize("a, b, expected", DIFFS)
def test_diff(a, b, expected):
    assert diff(a, b) == [Change(*c) for c in expected]
    assert diff(TarvelVar(a), TarvelVar(b, frozen=True)) == [Change(*c) for c in expected]


def apply(a, changes):
    """Applies `changes` to a copy of `a`: replacements, then removals (list tails from the
    end), then additions, each by its path."""
    result = copy.deepcopy(a)
    for change in changes:
        if change.old is not MISSING and change.new is not MISSING:
            paths.assign(result, change.path, change.new) if change.path != "$" else None
    for change in reversed(changes):
        if change.new is MISSING:
            paths.remove(result, change.path)
    for change in changes:
        if change.old is MISSING:
            parent, _, last = change.path.rpartition(".")
            holder = paths.lookup(result, parent) if parent != "$" else result
            holder.append(change.new) if isinstance(holder, list) else holder.__setitem__(last, change.new)
    return result


# names a path can reach: no dots, brackets or empty names
names = st.text("abcxy", min_size=1, max_size=2)
documents = st.dictionaries(names, st.recursive(
    scalars, lambda inner: st.lists(inner, max_size=3) | st.dictionaries(names, inner, max_size=3),
    max_leaves=12), max_size=4)


@given(documents, documents)
def test_applying_a_diff_gives_the_other_and_composing_one_source_loads_it(a, b):
    assert apply(a, diff(a, b)) == b and diff(a, a) == []
    composed = TarvelVar.compose(a)
    assert composed == TarvelVar(a) and all(o == Origin("<argument 1>") for o in origins(composed).values())
    both = TarvelVar.compose(a, b)
    for path, where in origins(both).items():  # the layer named holds the value
        layer = a if where.source == "<argument 1>" else b
        assert paths.lookup(layer, path) == paths.lookup(both.to_dict(), path)


def test_command_line_composes_prints_origins_and_diffs(files):
    def run(*args, env=None):
        done = cli(*args, env=env, cwd=files)
        return done.returncode, done.stdout, done.stderr

    assert run("base.toml", "prod.yaml", "--env", "APP", "--set", "db.pool.size=7", "--get", "$.db.pool",
               "--origins", "--get", "version", "--origins", env={"APP_VERSION": "2"}) == (0, (
        '$.db.pool.size = 7  # override db.pool.size=7\n$.version = "2"  # env APP_VERSION\n'), "")
    assert run("base.toml", "--diff", "base.toml") == (0, "", "")
    (files / "other.json").write_text('{"version": "2.0", "db": {"maxConnections": 10, "hosts": []}, "x": null}')
    assert run("base.toml", "--diff", "other.json") == (1, (
        '~ $.version: "1.9" -> "2.0"\n- $.db.hosts.0: {"host": "a", "port": 1}\n'
        '- $.db.hosts.1: {"host": "b", "port": 2}\n+ $.x: null\n'), "")
    assert run("base.toml", "--diff", "missing.json")[0::2] == (2, "tarvel-var: error: missing.json: cannot read: "
                                                                  "No such file or directory\n")


def _both_walks(store):
    """The native walk's leaves and origins, checked against the walk written in Python."""
    import importlib

    walks = importlib.import_module("tarvel_var.origins")
    general = walks._origin_items(store, walks._recorded(store))
    assert walks.origin_items(store) == general
    assert list(origins(store).items()) == list({p: w for _, p, _, w in general}.items())
    return general


def test_the_native_origin_walk_agrees_with_the_python_one(files):
    env = {"APP_DB__HOSTS__0__PORT": "6000", "APP_NEW": "[1, {\"a\": 2}]"}
    s = TarvelVar.compose("base.toml", "prod.yaml", {"db": {"pool": {}}, "a.b": {"c.d": [[], {}]}, "t": (1, 2)},
                          env="APP", environ=env, overrides=["servers.1=web3"])
    assert [w for *_, w in _both_walks(s)].count(None) == 0
    # the program changes values: a scalar, a list item replaced by a dict, a list grown
    s.version = "2"
    s.db.hosts[1] = {"host": "z"}
    s.servers.append("web4")
    s.new[1].a = 3
    general = _both_walks(s)
    changed = {p for _, p, _, w in general if w is None}
    assert {"$.version", "$.db.hosts.1", "$.servers.2", "$.new.1.a"} <= changed
    assert "$.servers.0" not in changed  # each leaf is its own: web1 is still what was composed
    assert _both_walks(TarvelVar({"a": {"b": [1, {"c": None}]}})) == [
        (("a", "b", 0), "$.a.b.0", 1, None), (("a", "b", 1, "c"), "$.a.b.1.c", None, None)]
    assert _both_walks(TarvelVar.compose({"x": 1}).freeze()) == [(("x",), "$.x", 1, Origin("<argument 1>"))]
    # a name with a lone surrogate, which a JSON text may give: its path holds it as it is
    assert [p for _, p, _, _ in _both_walks(TarvelVar.loads('{"a\\ud800": {"b": 1}}'))] == ["$.a\ud800.b"]


def test_the_native_origin_walk_reads_a_subclass_listing_and_survives_changes():
    class Listing(TarvelVar):
        def _mv_items(self):
            return [(k, v) for k, v in super()._mv_items() if k != "hidden"]

    s = TarvelVar.compose({"a": {"hidden": 1, "shown": 2}})
    s.a = Listing({"hidden": 1, "shown": 2})
    assert [p for _, p, _, _ in _both_walks(s)] == ["$.a.shown"]

    class Meddler:
        # compared with what composing left, it empties the store being walked
        def __eq__(self, other):
            target.clear()
            return True

        __hash__ = None

    target = TarvelVar.compose({"m": 1, "n": {"k": 1}, "o": 2})
    target.m = Meddler()
    found = [p for _, p, _, _ in importlib_origins().origin_items(target)]
    assert found == ["$.m", "$.n.k", "$.o"]  # the walk stands on what it listed first


def importlib_origins():
    import importlib

    return importlib.import_module("tarvel_var.origins")
