"""Typical typed use of the package; mypy --strict must accept it as it stands."""

from collections.abc import ItemsView, KeysView, Mapping, MutableMapping
from dataclasses import dataclass
from typing import Any

from tarvel_var import (MISSING, Change, FrozenError, InterpolationError, Origin, TarvelVar, TarvelVarMain,
                        ValidationError, diff, is_frozen, origin, origins)


class Settings(TarvelVar):
    """A subclass that adds a typed accessor on top of the store."""

    def port(self) -> int:
        # _mv_get is typed Optional[Any]: the caller narrows it.
        value = self._mv_get("$.db.port")
        return 5432 if value is None else int(value)


def build() -> Settings:
    settings = Settings({"db": {"host": "localhost"}, "hosts": ("a", "b")}, reprint=True)
    settings._mv_add({"db": {"port": 6543}})
    settings._mv_set("debug", True, inherit=False)
    settings.add(level=3)
    return settings


def report(settings: Settings) -> list[str]:
    names: list[str] = settings._mv_keys()
    pairs: list[tuple[str, Any]] = settings._mv_items()
    plain: dict[str, Any] = settings._mv_to_dict(sort=True)
    lines = [repr(settings), settings._mv_to_params(), settings._mv_to_string()]
    lines += [f"{name}={value!r}" for name, value in pairs if name in names]
    lines.append(str(sorted(plain)))
    lines.append(str(settings.port()))
    return lines


def as_mapping(settings: Settings) -> dict[str, Any]:
    port: int = settings.get("$.db.port", 5432)
    host: str | None = settings.get("$.db.host")
    settings["level"] = 4
    del settings["level"]
    settings.update({"extra": 1}, more=2)
    settings.merge({"db": {"user": "app"}})
    present: bool = "db" in settings and len(settings) > 0
    names: list[str] = [name for name in settings]
    removed: Any = settings.pop("more", None)
    first: tuple[str, Any] = settings.popitem()
    settings.setdefault("cache", {"size": 1})
    strict = TarvelVar({"a": 1}, strict=True)
    same: bool = strict == {"a": 1} and settings != strict
    values: list[Any] = list(settings.values())
    pairs: list[tuple[str, Any]] = list(settings.items())
    keys: KeysView[str] = settings.keys()
    view: ItemsView[str, Any] = settings.items()
    shared: bool = bool(keys & {"db"}) and ("db", 1) not in view
    settings.set("$.db.hosts[0].port", 6000)
    copied: Settings = settings.copy() | {"more": 1}
    copied |= {"less": 0}
    return {"port": port, "host": host, "present": present, "names": names, "removed": removed,
            "first": first, "same": same, "values": values, "pairs": pairs,
            "plain": settings.to_dict(sort=True), "copy": dict(settings), "shared": shared,
            "copied": takes_a_mapping(copied), "reversed": list(reversed(settings))}


def takes_a_mapping(config: Mapping[str, Any]) -> int:
    return len(config)


def layers(path: str) -> MutableMapping[str, Any]:
    cfg = TarvelVar.load(path) if path else TarvelVar()
    cfg.merge(TarvelVar.from_env("APP", environ={}))
    mutable: MutableMapping[str, Any] = cfg
    return mutable


@dataclass
class Database:
    host: str
    port: int = 5432


def features(text: str) -> tuple[int, Database, bool]:
    cfg = TarvelVar.loads(text, resolve=True, frozen=True)
    checked = TarvelVar({"host": "${env:HOST:-db}"})
    checked.resolve({})
    database: Database = checked.to(Database)
    try:
        cfg["x"] = 1
    except FrozenError:
        pass
    try:
        checked.validate(Database)
    except (ValidationError, InterpolationError) as error:
        print(error)
    return hash(cfg.freeze()), database, is_frozen(cfg)


def layered(path: str) -> list[str]:
    cfg = TarvelVar.compose(path, {"debug": True}, env="APP", environ={}, overrides=["db.port=1"])
    where: Origin | None = origin(cfg, "$.debug")
    lines = [f"{p} # {o}" for p, o in origins(cfg).items()]
    changes: list[Change] = diff(cfg, {"debug": False})
    return lines + [str(where), *(c.path for c in changes if c.old is not MISSING)]


def core() -> TarvelVarMain:
    store = TarvelVarMain()
    store._set_class(TarvelVar, False, False)
    store._mv_set_kwargs({"a": 1})
    store._mv_pops(("a",))
    store._mv_clear()
    return store


if __name__ == "__main__":
    print(sorted(as_mapping(build())))
    print("\n".join(report(build())))
    print(core()._mv_keys())
