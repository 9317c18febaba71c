"""Typical typed use of the package; mypy --strict must accept it as it stands."""

from typing import Any

from tarvel_var import TarvelVar, TarvelVarMain


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


def core() -> TarvelVarMain:
    store = TarvelVarMain()
    store._set_class(TarvelVar, False, False)
    store._mv_set_kwargs({"a": 1})
    store._mv_pops(("a",))
    store._mv_clear()
    return store


if __name__ == "__main__":
    print("\n".join(report(build())))
    print(core()._mv_keys())
