"""Typed use of settings classes; mypy --strict and basedpyright (strict) must accept it."""

from collections.abc import Mapping
from typing import Any

from pydantic import SecretStr

from tarvel_var import Settings, TarvelVar, ValidationError


class Db(Settings):
    host: str = "localhost"
    port: int = 5432
    password: SecretStr | None = None


class App(Settings):
    name: str = "app"
    debug: bool = False
    db: Db = Db()
    replicas: list[Db] = []


class Open(App, extra="allow"):
    pass


def keys_of(mapping: Mapping[str, Any]) -> list[str]:
    return list(mapping)


def use() -> int:
    cfg = App.compose({"db": {"port": 5433}}, env="APP", overrides=["debug=true"])
    port: int = cfg.db.port + 1
    host: str = cfg.db.host.upper()
    cfg.db.port = 6000
    cfg.db = Db({"host": "h"})
    secret = cfg.db.password.get_secret_value() if cfg.db.password is not None else ""
    first: Db | None = cfg.replicas[0] if cfg.replicas else None
    names = keys_of(cfg) + keys_of(cfg.db)
    plain: dict[str, Any] = cfg.to_dict()
    text: str = cfg.dumps("json", reveal=False)
    frozen: App = cfg.copy().freeze()
    loaded: App = App.loads('{"name": "x"}')
    store: TarvelVar = cfg
    try:
        App({"db": {"port": "x"}})
    except ValidationError as error:
        names += [path for path, _ in error.errors]
    return port + len(host) + len(secret) + len(names) + len(plain) + len(text) + \
        int(first is None) + int(frozen.debug) + len(loaded.name) + len(store) + len(Open().name)
