"""Settings classes: annotations as the schema, checked when made, composed and assigned."""

import copy
import datetime
import decimal
import enum
import json
import pathlib
import pickle
import sys
import uuid

import pytest
from hypothesis import given
from hypothesis import strategies as st

pydantic = pytest.importorskip("pydantic")
from pydantic import Field, SecretStr  # noqa: E402

from tarvel_var import (LayerError, MissingVariableError, Settings, TarvelVar,  # noqa: E402
                        ValidationError, diff, origin, origins)
from tarvel_var.frozen import FrozenError  # noqa: E402

from conftest import outcome  # noqa: E402


Color = enum.Enum("Color", {"RED": "red", "BLUE": "blue"})


class Db(Settings):
    host: str = "localhost"
    port: int = 5432
    password: SecretStr | None = None


class App(Settings):
    name: str
    debug: bool = False
    db: Db = Db()
    replicas: list[Db] = []
    pools: dict[str, Db] = {}
    backup: Db | None = None
    limit: int = Field(10, gt=0)


class Open(Settings, extra="allow"):
    a: int = 1


class Loose(Settings, extra="ignore"):
    a: int = 1


class Node(Settings):
    value: int = 0
    children: list["Node"] = []


DB_DEFAULTS = {"host": "localhost", "port": 5432, "password": None}
APP_DEFAULTS = {"debug": False, "db": DB_DEFAULTS, "replicas": [], "pools": {}, "backup": None, "limit": 10}


def errors(call):
    with pytest.raises(ValidationError) as caught:
        call()
    return caught.value.errors


# -- making ----------------------------------------------------------------------------------

def test_a_settings_store_is_a_store_of_its_classes_with_its_defaults():
    cfg = App({"name": "x", "db": {"port": "5433"}, "replicas": [{"host": "r"}], "pools": {"p": {}},
               "backup": {"port": 1}})
    assert cfg.to_dict() == {**APP_DEFAULTS, "name": "x", "db": {**DB_DEFAULTS, "port": 5433},
                             "replicas": [{**DB_DEFAULTS, "host": "r"}], "pools": {"p": DB_DEFAULTS},
                             "backup": {**DB_DEFAULTS, "port": 1}}
    assert [type(s) for s in (cfg, cfg.db, cfg.replicas[0], cfg.pools.p, cfg.backup)] == [App, Db, Db, Db, Db]
    assert type(cfg.pools) is TarvelVar and isinstance(cfg, TarvelVar) and cfg == cfg.to_dict()
    # the class holds no defaults of its own: the store's variables are all it answers
    assert not hasattr(Db, "port") and App.__qualname__ == "App" and repr(App) == f"<class '{__name__}.App'>"
    # no store shares a default with another
    assert App({"name": "y"}).db is not App({"name": "y"}).db


@given(st.fixed_dictionaries({}, optional={
    "name": st.text(max_size=5), "debug": st.booleans(), "limit": st.integers(1, 99),
    "db": st.fixed_dictionaries({}, optional={"host": st.text(max_size=5), "port": st.integers()}),
    "replicas": st.lists(st.fixed_dictionaries({}, optional={"port": st.integers()}), max_size=2)}))
def test_a_valid_document_checks_to_itself_and_its_defaults(document):
    """Also from a store, a settings store, and the environment's text of it."""
    document.setdefault("name", "n")
    expected = {**APP_DEFAULTS, **document, "db": {**DB_DEFAULTS, **document.get("db", {})},
                "replicas": [{**DB_DEFAULTS, **r} for r in document.get("replicas", [])]}
    assert App(document).to_dict() == expected
    assert App(App(document)).to_dict() == expected == App(TarvelVar(document)).to_dict()
    environ = {f"APP_{path[2:].replace('.', '__').upper()}": json.dumps(value) if not isinstance(value, str) else value
               for path, value in _leaves(document)}
    assert App.from_env("APP", environ=environ).to_dict() == expected


def _leaves(value, path="$"):
    if isinstance(value, dict):
        return [leaf for key, item in value.items() for leaf in _leaves(item, f"{path}.{key}")]
    return [(path, value)]


WRONGS = {  # a wrong value at a place, and what pydantic says of it
    ("db", "port"): ("x", "Input should be a valid integer, unable to parse string as an integer"),
    ("debug",): ("maybe", "Input should be a valid boolean, unable to interpret input"),
    ("limit",): (0, "Input should be greater than 0"),
    ("replicas", 0, "hots"): ("h", "Extra inputs are not permitted"),
    ("pools", "p", "port"): ([], "Input should be a valid integer"),
    ("extra",): (1, "Extra inputs are not permitted"),
    ("backup",): (3, "Input should be a valid dictionary or instance of Db"),
}


@given(st.sets(st.sampled_from(sorted(WRONGS)), min_size=1))
def test_every_problem_of_a_wrong_document_is_listed(wrong):
    document = {"name": "n", "replicas": [{}], "pools": {"p": {}}}
    for place in wrong:
        section = document
        for step in place[:-1]:
            section = section[step] if isinstance(section, list) else section.setdefault(step, {})
        section[place[-1]] = WRONGS[place][0]
    listed = errors(lambda: App(document))
    expected = {("$." + ".".join(map(str, place)), WRONGS[place][1]) for place in wrong}
    assert set(listed) == expected and len(listed) == len(expected)
    # one line each, in the order pydantic found them
    assert str(pytest.raises(ValidationError, App, document).value) == "\n".join(f"{p}: {m}" for p, m in listed)


def test_extra_policies_and_a_class_that_refers_to_itself():
    assert Open({"b": {"c": 1}}).to_dict() == {"a": 1, "b": {"c": 1}} and type(Open({"b": {}}).b) is TarvelVar
    assert Loose({"b": 1}).to_dict() == {"a": 1}
    tree = Node({"value": "1", "children": [{"children": [{"value": 2}]}]})
    assert type(tree.children[0].children[0]) is Node and tree.children[0].children[0].value == 2
    assert tree.to_dict() == {"value": 1, "children": [{"value": 0, "children": [{"value": 2, "children": []}]}]}
    with pytest.raises(ValueError, match="extra must be 'forbid', 'allow' or 'ignore', not 'some'"):
        type("Bad", (Settings,), {}, extra="some")


def test_classes_that_refer_to_each_other_are_made_once_from_any_thread():
    import threading

    class Ring(Settings):
        a: "Link | None" = None
        b: "Link | None" = None

    class Link(Settings):
        back: Ring | None = None

    made = []
    threads = [threading.Thread(target=lambda: made.append(Ring({"a": {"back": {"b": {}}}}))) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(made) == 8 and all(type(r.a.back.b) is Link and r.a.back.b.back is None for r in made)


class Opaque:
    """A type pydantic cannot check."""


@pytest.mark.parametrize("body, error", [
    ({"__annotations__": {"keys": list}}, (TypeError, "Bad.keys: a field cannot take the name of a store "
                                                      "method (a variable of that name reads as s['keys'])")),
    ({"__annotations__": {"x": "Nowhere"}}, (NameError, "name 'Nowhere' is not defined")),
    ({"__annotations__": {"x": Opaque}}, (TypeError, "Bad cannot be a settings class: Unable to generate "
                                                     f"pydantic-core schema for <class '{__name__}.Opaque'>.")),
])
def test_a_class_that_cannot_be_checked_fails_when_first_used_and_says_why(body, error):
    bad = type("Bad", (Settings,), {"__qualname__": "Bad", **body})
    for _ in range(2):  # nothing half-made is kept
        assert outcome(bad)[0] is error[0] and outcome(bad)[1].startswith(error[1])


@pytest.mark.parametrize("flags, answer", [({}, MissingVariableError), ({"strict": False}, None)])
def test_settings_stores_read_strictly_unless_asked(flags, answer):
    cfg = App({"name": "x"}, **flags)
    for store in (cfg, cfg.db, copy.deepcopy(cfg).db):
        if answer is MissingVariableError:
            assert outcome(lambda: store.prot)[0] is MissingVariableError and not hasattr(store, "prot")
        else:
            assert store.prot is None


# -- changing --------------------------------------------------------------------------------

ASSIGNMENTS = [  # a change, the value it leaves at $.db.port (or the problem it raises)
    (lambda c: setattr(c.db, "port", "6000"), 6000),
    (lambda c: c.db.__setitem__("port", 7), 7),
    (lambda c: c.db.update(port="8"), 8),
    (lambda c: c.merge({"db": {"port": "9"}}), 9),
    (lambda c: c.set("$.db.port", "10"), 10),
    (lambda c: setattr(c, "db", {"port": "11"}), 11),
    (lambda c: c.update(db=Db({"port": 12})), 12),
    (lambda c: setattr(c.db, "port", "x"), [("$.port", "Input should be a valid integer, unable to parse string as an integer")]),
    (lambda c: setattr(c.db, "prot", 1), [("$.prot", "Extra inputs are not permitted")]),
    (lambda c: c.db.setdefault("prot", 1), [("$.prot", "Extra inputs are not permitted")]),
    (lambda c: setattr(c, "db", {"port": []}), [("$.db.port", "Input should be a valid integer")]),
    (lambda c: setattr(c, "limit", -1), [("$.limit", "Input should be greater than 0")]),
]


@pytest.mark.parametrize("change, result", ASSIGNMENTS)
def test_assignments_are_checked_and_a_refused_one_changes_nothing(change, result):
    cfg = App({"name": "x", "db": {"host": "h", "port": 1}})
    before = cfg.to_dict()
    if isinstance(result, list):
        assert errors(lambda: change(cfg)) == result
        assert cfg.to_dict() == before
    else:
        change(cfg)
        assert cfg.db.port == result and type(cfg.db) is Db
        # merging and path assignment change the store in place; assigning a section replaces it
        assert cfg.db.host == ("localhost" if result in (11, 12) else "h")


def test_an_assigned_store_of_the_field_class_is_kept_and_others_are_converted():
    cfg, db = App({"name": "x"}), Db({"port": 1})
    cfg.db = db
    assert cfg.db is db
    cfg.backup = TarvelVar({"port": "2"})
    cfg.replicas = [db, {"port": 3}]
    assert type(cfg.backup) is Db and cfg.backup.port == 2 and [r.port for r in cfg.replicas] == [1, 3]
    assert cfg.replicas[0] is not db  # a list is checked whole: its stores are made again


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy, lambda s: pickle.loads(pickle.dumps(s)),
                                    lambda s: s.copy(), lambda s: s | {}, lambda s: App(s)])
def test_copies_keep_the_classes_and_check_later_assignments(copier):
    cfg = App({"name": "x", "replicas": [{}]})
    other = copier(cfg)
    assert other == cfg and [type(other), type(other.db), type(other.replicas[0])] == [App, Db, Db]
    other.db.port = "1"
    assert other.db.port == 1 and errors(lambda: setattr(other.db, "port", "x"))


def test_frozen_settings_refuse_changes_and_thaw_to_their_class():
    cfg = App({"name": "x"}, frozen=True)
    assert outcome(lambda: setattr(cfg.db, "port", 1))[0] is FrozenError and type(cfg.db).__qualname__ == "Db"
    thawed = App(cfg)
    thawed.db.port = "2"
    assert thawed.db.port == 2 and hash(cfg) == hash(App({"name": "x"}, frozen=True))


# -- composing -------------------------------------------------------------------------------

@pytest.fixture
def layers(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "base.toml").write_text('name = "svc"\n[db]\nhost = "base"\n')
    (tmp_path / "prod.yaml").write_text("db:\n  port: 5433\nreplicas:\n  - host: r1\n")
    (tmp_path / "secrets").mkdir()
    (tmp_path / "secrets" / "db__password").write_text("s3cr3t\n\n")
    (tmp_path / "secrets" / "limit").write_text("3")
    (tmp_path / "secrets" / "..data").write_text("ignored")
    (tmp_path / ".env").write_text("# settings\nAPP_DEBUG=yes\nAPP_DB__HOST=dotenv\nAPP_LIMIT=5\nOTHER=1\n")
    (tmp_path / ".env.local").write_text("APP_DB__HOST=local\n")
    return tmp_path


def test_compose_applies_every_layer_in_order_and_says_where_each_value_came_from(layers):
    cfg = App.compose("base.toml", "prod.yaml", env="APP", env_files=[".env", ".env.local"],
                      secrets_dir="secrets", environ={"APP_NAME": "123", "APP_DEBUG": "no"},
                      overrides=["db.port=6000"])
    assert type(cfg).__qualname__ == "App" and type(cfg.db) is Db and isinstance(cfg, App)
    # lowest first: defaults, files, secrets, .env files in order, the environment, overrides;
    # each text read as its field's type
    assert (cfg.name, cfg.limit, cfg.debug, cfg.db.host, cfg.db.port) == ("123", 5, False, "local", 6000)
    assert cfg.db.password.get_secret_value() == "s3cr3t\n"  # one trailing newline taken off
    assert {path: str(where) for path, where in origins(cfg).items()} == {
        "$.name": "env APP_NAME", "$.debug": "env APP_DEBUG", "$.db.host": ".env.local:1",
        "$.db.port": "override db.port=6000", "$.db.password": "secrets/db__password",
        "$.replicas.0.host": "prod.yaml:4", "$.replicas.0.port": "default", "$.replicas.0.password": "default",
        "$.pools": "default", "$.backup": "default", "$.limit": ".env:4"}
    cfg.db.port = 1
    assert origin(cfg, "$.db.port") is None  # changed since: claimed by no layer
    assert type(copy.deepcopy(cfg)) is type(cfg) and origins(copy.deepcopy(cfg)) == origins(cfg)


def test_a_composed_problem_names_the_layer_that_set_the_bad_value(layers):
    (layers / "prod.yaml").write_text("db:\n  port: 5433\n  user: x\nreplicas:\n  - port: x1\n")
    assert errors(lambda: App.compose("prod.yaml", env="APP", environ={"APP_LIMIT": "0"})) == [
        ("$.name", "Field required"),
        ("$.db.user", "Extra inputs are not permitted (prod.yaml:3)"),
        ("$.replicas.0.port", "Input should be a valid integer, unable to parse string as an integer (prod.yaml:5)"),
        ("$.limit", "Input should be greater than 0 (env APP_LIMIT)")]


def test_class_defaults_are_the_lowest_layer_and_merge_key_by_key():
    class Deep(Settings):
        db: Db = Db({"host": "deep"})

    cfg = Deep.compose({"db": {"port": 1}})
    assert cfg.to_dict() == {"db": {"host": "deep", "port": 1, "password": None}}
    assert str(origin(cfg, "$.db.host")) == "default" and str(origin(cfg, "$.db.port")) == "<argument 1>"


def test_env_files_and_secrets_without_a_settings_class_and_their_errors(layers, monkeypatch):
    # no prefix: every name of the .env file is a setting
    assert TarvelVar.compose({"db": {"port": 1}}, env_files=[".env"], secrets_dir="secrets").to_dict() == {
        "db": {"port": 1, "password": "s3cr3t\n"}, "limit": 3, "app_debug": "yes", "app_db": {"host": "dotenv"},
        "app_limit": 5, "other": 1}
    assert outcome(lambda: TarvelVar.compose(secrets_dir="nowhere")) == (LayerError, "secrets_dir nowhere: no such directory")
    assert outcome(lambda: TarvelVar.compose(env_files=["nowhere"])) == (LayerError, "nowhere: cannot read: No such file or directory")
    monkeypatch.setitem(sys.modules, "dotenv", None)
    assert outcome(lambda: TarvelVar.compose(env_files=[".env"])) == (
        ImportError, "reading .env files needs python-dotenv: pip install 'tarvel_var[dotenv]'")


# -- secrets and plain forms -----------------------------------------------------------------

class Typed(Settings):
    color: Color = Color.RED
    path: pathlib.Path = pathlib.Path("/etc/app")
    amount: decimal.Decimal = decimal.Decimal("1.5")
    whole: decimal.Decimal = decimal.Decimal("3")
    when: datetime.datetime = datetime.datetime(2024, 1, 2, 3, 4, 5)
    day: datetime.date = datetime.date(2024, 1, 2)
    at: datetime.time = datetime.time(12, 30)
    id: uuid.UUID = uuid.UUID(int=1)
    url: pydantic.HttpUrl = "https://example.com/a"
    token: SecretStr = SecretStr("pw")


PLAIN = {"color": "red", "path": "/etc/app", "amount": 1.5, "whole": 3, "id": "00000000-0000-0000-0000-000000000001",
         "url": "https://example.com/a", "token": "**********"}


@pytest.mark.parametrize("fmt, dates", [
    ("json", {"when": "2024-01-02T03:04:05", "day": "2024-01-02", "at": "12:30:00"}),
    ("toml", {"when": datetime.datetime(2024, 1, 2, 3, 4, 5), "day": datetime.date(2024, 1, 2), "at": datetime.time(12, 30)}),
    ("yaml", {"when": datetime.datetime(2024, 1, 2, 3, 4, 5), "day": datetime.date(2024, 1, 2), "at": "12:30:00"}),
])
def test_every_format_writes_plain_forms_and_masks_secrets(tmp_path, fmt, dates):
    store = Typed()
    assert TarvelVar.loads(store.dumps(fmt), format=fmt).to_dict() == {**PLAIN, **dates}
    store.dump(tmp_path / f"t.{fmt}", reveal=True)
    assert TarvelVar.load(tmp_path / f"t.{fmt}").token == "pw"
    # what the formats write reads back into the class as it was
    assert Typed.loads(store.dumps(fmt, reveal=True), format=fmt) == store


def test_secrets_stay_masked_in_repr_errors_and_diffs():
    cfg = App({"name": "x", "db": {"password": "hunter2"}})
    shown = [repr(cfg), str(cfg.to_dict()), str(diff(cfg, App({"name": "x"}))), cfg.dumps()]
    shown.append(str(pytest.raises(ValidationError, App, {"name": "x", "db": {"password": ["hunter2"]}}).value))
    assert all("hunter2" not in text for text in shown) and "**********" in shown[0]
    assert json.loads(cfg.dumps(reveal=True))["db"]["password"] == "hunter2"


# -- the command line ------------------------------------------------------------------------

SETTINGS_MODULE = """
from pydantic import SecretStr
from tarvel_var import Settings

class Db(Settings):
    host: str = "localhost"
    port: int = 5432
    password: SecretStr | None = None

class App(Settings):
    name: str
    db: Db = Db()
"""


@pytest.mark.parametrize("args, env, status, stdout", [
    # a str field keeps the environment's text; an int one reads it as a number
    (["--env", "APP", "--schema", "cfgmod:App", "--get", "name"], {"APP_NAME": "123"}, 0, '"123"\n'),
    (["--env", "APP", "--schema", "cfgmod:App", "--get", "db.port"], {"APP_DB__PORT": "6", "APP_NAME": "n"}, 0, "6\n"),
    (["--secrets-dir", "secrets", "--env", "APP", "--env-file", ".env", "--schema", "cfgmod:App", "--origins"],
     {"APP_DB__PORT": "6"}, 0, '$.name = "n"  # .env:1\n$.db.host = "h"  # c.json\n$.db.port = 6  '
     '# env APP_DB__PORT\n$.db.password = "**********"  # secrets/db__password\n'),
    (["--secrets-dir", "secrets", "--env", "APP", "--env-file", ".env", "--schema", "cfgmod:App", "--reveal", "-c"],
     {}, 0, '{"name": "n", "db": {"host": "h", "port": 5432, "password": "pw"}}\n'),
    (["--secrets-dir", "secrets", "--env-file", ".env", "--schema", "cfgmod:App", "--env", "APP", "--to", "toml"],
     {}, 0, 'name = "n"\n\n[db]\nhost = "h"\nport = 5432\npassword = "**********"\n'),
    (["--schema", "cfgmod:App"], {}, 2, ""),
    (["--secrets-dir", "nowhere"], {}, 2, ""),
])
def test_command_line_settings_secrets_and_env_files(tmp_path, args, env, status, stdout):
    from conftest import cli

    (tmp_path / "cfgmod.py").write_text(SETTINGS_MODULE)
    (tmp_path / "c.json").write_text('{"db": {"host": "h"}}')
    (tmp_path / ".env").write_text("APP_NAME=n\n")
    (tmp_path / "secrets").mkdir()
    (tmp_path / "secrets" / "db__password").write_text("pw\n")
    result = cli("c.json", *args, env=env, cwd=tmp_path)
    assert (result.returncode, result.stdout) == (status, stdout), result.stderr
    assert result.stderr.count("\n") == (status != 0)


@pytest.mark.parametrize("make", [
    lambda: App.loads('{"name": "n", "limit": "${db.port}", "db": {"host": "${env:H}"}}', resolve=True),
    lambda: TarvelVar({"name": "n", "limit": 5432, "db": {"host": "h"}}).validate(App),
    lambda: App.from_env("APP", environ={"APP_NAME": "n", "APP_LIMIT": "${db.port}", "APP_DB__HOST": "${env:H}",
                                         "H": "h"}, resolve=True),
    lambda: App.compose({"name": "n", "limit": "${db.port}", "db": {"host": "${env:H}"}}, environ={"H": "h"},
                        resolve=True),
], ids=["loads", "validate", "from_env", "compose"])
def test_references_resolve_before_the_class_checks(make, monkeypatch):
    monkeypatch.setenv("H", "h")
    cfg = make()
    assert (type(cfg).__qualname__, cfg.limit, cfg.db.host, type(cfg.db)) == ("App", 5432, "h", Db)
