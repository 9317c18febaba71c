"""Schemas: conversion, defaults, every problem reported with its place, and the store left
as it was."""

import dataclasses
import sys
import typing

import pydantic
import pytest
from hypothesis import given, strategies as st

from conftest import cli
from tarvel_var import TarvelVar, ValidationError, is_frozen, schemas


@dataclasses.dataclass
class Db:
    host: str
    port: int = 5432


@dataclasses.dataclass
class Settings:
    db: Db
    debug: bool = False
    servers: list[Db] = dataclasses.field(default_factory=list)


def typed_dict_base():
    """typing's TypedDict where pydantic takes it (3.12 on); typing_extensions' before."""
    class Probe(typing.TypedDict):
        a: int

    try:
        pydantic.TypeAdapter(Probe)
        return typing.TypedDict
    except pydantic.PydanticUserError:
        import typing_extensions
        return typing_extensions.TypedDict


class SettingsDict(typed_dict_base()):  # type: ignore[misc]
    db: Db
    debug: bool


class Model(pydantic.BaseModel):
    db: Db
    debug: bool = False


class OpenModel(pydantic.BaseModel):
    model_config = pydantic.ConfigDict(extra="allow")
    debug: bool = False


GOOD = {"db": {"host": "h", "port": "5433"}, "debug": "true"}
CHECKED = {"db": {"host": "h", "port": 5433}, "debug": True}


@pytest.mark.parametrize("schema, expected", [
    (Settings, {**CHECKED, "servers": []}), (SettingsDict, CHECKED), (Model, CHECKED),
])
def test_validate_converts_and_fills_defaults(schema, expected):
    s = TarvelVar(GOOD, strict=True)
    checked = s.validate(schema)
    assert type(checked) is TarvelVar and checked.to_dict() == expected and s.to_dict() == GOOD
    with pytest.raises(AttributeError):
        checked.missing  # the flags go with it
    made = s.to(schema)
    fields = {**expected, "db": Db(**expected["db"])}
    assert made == (fields if schema is SettingsDict else schema(**fields))
    assert type(made) is (dict if schema is SettingsDict else schema)


def test_every_problem_at_once_with_its_place():
    s = TarvelVar({"db": {"host": 1, "port": "x", "extra": 1}, "servers": [{"host": "a"}, {"port": 1}],
                   "typo": 1})
    before = s.to_dict()
    with pytest.raises(ValidationError) as caught:
        s.validate(Settings)
    assert caught.value.errors == [
        ("$.db.host", "Input should be a valid string"),
        ("$.db.port", "Input should be a valid integer, unable to parse string as an integer"),
        ("$.db.extra", "Unexpected keyword argument"),
        ("$.servers.1.host", "Field required"),
        ("$.typo", "Unexpected keyword argument"),
    ]
    assert str(caught.value) == "\n".join(f"{p}: {m}" for p, m in caught.value.errors)
    assert isinstance(caught.value, ValueError) and s.to_dict() == before


def test_the_schema_decides_about_extra_keys():
    with pytest.raises(ValidationError, match=r"^\$\.q: Extra inputs are not permitted$"):
        TarvelVar({"db": {"host": "h"}, "q": 1}).to(Model)
    kept = TarvelVar({"q": [1]}, frozen=True).validate(OpenModel)
    assert kept.to_dict() == {"q": [1], "debug": False} and is_frozen(kept)


def test_loading_takes_a_schema():
    s = TarvelVar.loads('{"db": {"host": "h"}}', schema=Settings, frozen=True)
    assert s.db.port == 5432 and is_frozen(s)
    e = TarvelVar.from_env("APP", environ={"APP_DB__HOST": "h", "APP_DB__PORT": "6000"}, schema=Settings)
    assert e.db.port == 6000


def test_without_pydantic_the_error_names_the_extra(monkeypatch):
    unchecked = dataclasses.make_dataclass("Unchecked", [("a", int)])  # no checker made yet
    monkeypatch.setitem(sys.modules, "pydantic", None)
    with pytest.raises(ImportError, match=r"pip install 'tarvel_var\[schema\]'"):
        TarvelVar({"a": 1}).validate(unchecked)


@given(st.fixed_dictionaries({"db": st.fixed_dictionaries({"host": st.text(max_size=4)},
                                                          optional={"port": st.integers(0, 65535)})},
                             optional={"debug": st.booleans()}))
def test_a_valid_store_validates_to_itself_plus_defaults(doc):
    checked = TarvelVar(doc).validate(Settings)
    expected = {"debug": False, "servers": [], **doc, "db": {"port": 5432, **doc["db"]}}
    assert checked == expected


SCHEMA_MODULE = """
import dataclasses
@dataclasses.dataclass
class Db:
    host: str
    port: int = 5432
"""


@pytest.mark.parametrize("args, document, status, stdout, stderr", [
    (["--schema", "cfgmod:Db", "--get", "port"], '{"host": "h", "port": "1"}', 0, "1\n", ""),
    (["--schema", "cfgmod:Db"], '{"port": "x", "hots": 1}', 2, "",
     "$.host: Field required\n$.port: Input should be a valid integer, unable to parse string as an "
     "integer\n$.hots: Unexpected keyword argument\n"),
    (["--schema", "cfgmod:Nope"], "{}", 2, "", "tarvel-var: error: --schema cfgmod:Nope: cfgmod has no Nope\n"),
    (["--schema", "cfgmod"], "{}", 2, "", "tarvel-var: error: --schema cfgmod: expected MODULE:CLASS\n"),
])
def test_command_line_schema(tmp_path, args, document, status, stdout, stderr):
    (tmp_path / "cfgmod.py").write_text(SCHEMA_MODULE)
    run = cli("-", *args, stdin=document, cwd=tmp_path)
    assert (run.returncode, run.stdout, run.stderr) == (status, stdout, stderr)


class Listing(pydantic.BaseModel):
    items: list[Db] = []
    named: dict[str, Db] = {}
    pair: tuple[Db, int] | None = None


@pytest.mark.parametrize("schema, data", [
    (Model, {"db": {"host": "h", "zz": 1}}),  # a key the dataclass drops, below a model that ignores
    (Model, {"db": {"host": "h"}, "debug": 1}),
    (Settings, {"db": {"host": "h"}, "servers": [{"host": "a", "q": 1}, {"host": "b"}]}),
    (OpenModel, {"anything": {"x": [1, {"y": 2}]}}),
    (Listing, {"items": [{"host": "a"}, {"host": "b", "w": 1}], "named": {"k": {"host": "c", "v": 2}}}),
    (Listing, {"pair": [{"host": "a", "extra": 1}, 2]}),
    (Listing, {"items": []}),
])
def test_validate_finds_dropped_keys_with_or_without_the_walk(monkeypatch, schema, data):
    # where the dump keeps every key, the walk for dropped keys is skipped: the outcome is the
    # walk's own
    def outcome():
        try:
            return TarvelVar(data).validate(schema).to_dict()
        except ValidationError as error:
            return error.errors

    fast = outcome()
    from tarvel_var import _store

    monkeypatch.setattr(_store, "keys_kept", lambda given, made: False)
    assert fast == outcome()
