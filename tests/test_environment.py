"""Settings from environment variables, and layering them over a file."""

import pytest

from tarvel_var import TarvelVar
from tarvel_var.environment import EnvError, overrides


@pytest.mark.parametrize("environ, kwargs, expected", [
    ({"APP_DB__PORT": "5432", "APP_DEBUG": "true", "APP_NAME": "svc", "OTHER": "x",
      "APPX_Y": "no", "app_lower": "no"}, {},
     {"db": {"port": 5432}, "debug": True, "name": "svc"}),
    ({"APP_A": "[1, 2]", "APP_B": '{"c": null}', "APP_C": "1.5", "APP_D": "01", "APP_E": "",
      "APP_F": "NaN", "APP_G": "1e400", "APP_H": "hello world", "APP_I": '"quoted"'}, {},
     {"a": [1, 2], "b": {"c": None}, "c": 1.5, "d": "01", "e": "", "f": "NaN", "g": "1e400",
      "h": "hello world", "i": "quoted"}),
    ({"APP_Db__Port": "1"}, {"lower": False}, {"Db": {"Port": 1}}),
    ({"APP_DB.PORT": "1", "APP_DB__X": "2"}, {"sep": "."}, {"db": {"port": 1}, "db__x": 2}),
    ({"APP_X": "1"}, {"prefix": "APP_"}, {"x": 1}),
    ({"APP_A__B__C__D": "deep"}, {}, {"a": {"b": {"c": {"d": "deep"}}}}),
    # a JSON object and the variables below it make one section, in any order
    ({"APP_DB__PORT": "1", "APP_DB": '{"host": "h"}'}, {}, {"db": {"host": "h", "port": 1}}),
    ({}, {}, {}),
])
def test_variables_become_settings(environ, kwargs, expected):
    kwargs = {"prefix": "APP", **kwargs}
    assert overrides(environ=environ, **kwargs) == expected


@pytest.mark.parametrize("environ, message", [
    ({"APP___X": "1"}, "APP___X: empty name part"),
    ({"APP_A____B": "1"}, "APP_A____B: empty name part"),
    ({"APP_A__": "1"}, "APP_A__: empty name part"),
    ({"APP_": "1"}, "APP_: empty name part"),
    ({"APP_DB": "1", "APP_DB__PORT": "2"}, "APP_DB__PORT: APP_DB already sets db to a value, not a section"),
    ({"APP_DB": '{"a": 1}', "APP_DB__A__B": "2"}, "APP_DB__A__B: APP_DB already sets db.a"),
    ({"APP_X": "1", "APP_x": "2"}, "APP_x and APP_X both set x"),
    ({"APP_DB": '{"port": 1}', "APP_DB__PORT": "2"}, "APP_DB__PORT and APP_DB both set db.port"),
])
def test_variables_that_cannot_be_settings_are_named(environ, message):
    with pytest.raises(EnvError) as error:
        overrides("APP", environ=environ)
    assert str(error.value).startswith(message)
    assert isinstance(error.value, ValueError)


@pytest.mark.parametrize("kwargs", [{"prefix": ""}, {"prefix": "APP", "sep": ""}])
def test_an_empty_prefix_or_separator_is_refused(kwargs):
    with pytest.raises(ValueError, match="must not be empty"):
        overrides(environ={"X": "1"}, **kwargs)


def test_from_env_reads_os_environ_by_default(monkeypatch):
    monkeypatch.setenv("TVTEST_SERVER__PORT", "9090")
    store = TarvelVar.from_env("TVTEST", reprint=True)
    assert store.server.port == 9090 and store.unset == "unset"


def test_layering_file_then_environment_then_code(tmp_path):
    path = tmp_path / "app.toml"
    path.write_text('[db]\nhost = "db"\nport = 5432\n[log]\nlevel = "info"\n')
    cfg = TarvelVar.load(path)
    cfg._mv_add(TarvelVar.from_env("APP", environ={"APP_DB__PORT": "6432",
                                                   "APP_LOG__LEVEL": "debug"})._mv_to_dict())
    cfg.log.level = "warning"
    assert cfg._mv_to_dict() == {"db": {"host": "db", "port": 6432}, "log": {"level": "warning"}}
