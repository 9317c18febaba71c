"""The settings of the README's tour, as a tarvel_var settings class and as the same model in
pydantic-settings, reading the same files, environment and overrides."""

from __future__ import annotations

import os
from pathlib import Path
from typing import Any

DEFAULTS = 'name = "shop"\n\n[db]\nhost = "db.internal"\n'
PROD = "db:\n  port: 5433\nreplicas:\n  - host: r1\n  - host: r2\n    port: 6432\n"
ENVIRON = {"APP_DEBUG": "true", "APP_DB__PASSWORD": "s3cr3t"}
OVERRIDES = ["db.port=6000"]


def write_files(folder: Path) -> tuple[Path, Path]:
    defaults, prod = folder / "defaults.toml", folder / "prod.yaml"
    defaults.write_text(DEFAULTS, encoding="utf-8")
    prod.write_text(PROD, encoding="utf-8")
    os.environ.update(ENVIRON)  # pydantic-settings reads os.environ; ours is given the same
    return defaults, prod


def ours() -> Any:
    from pydantic import SecretStr

    from tarvel_var import Settings

    class Db(Settings):
        host: str = "localhost"
        port: int = 5432
        password: SecretStr | None = None

    class App(Settings):
        name: str
        debug: bool = False
        db: Db = Db()
        replicas: list[Db] = []

    return App


def theirs(defaults: Path, prod: Path) -> Any:
    from pydantic import BaseModel, SecretStr
    from pydantic_settings import (BaseSettings, SettingsConfigDict, TomlConfigSettingsSource,
                                   YamlConfigSettingsSource)

    class Db(BaseModel):
        host: str = "localhost"
        port: int = 5432
        password: SecretStr | None = None

    class App(BaseSettings):
        model_config = SettingsConfigDict(env_prefix="APP_", env_nested_delimiter="__",
                                          toml_file=defaults, yaml_file=prod, extra="forbid")
        name: str
        debug: bool = False
        db: Db = Db()
        replicas: list[Db] = []

        @classmethod
        def settings_customise_sources(cls, settings_cls: Any, init_settings: Any, env_settings: Any,
                                       dotenv_settings: Any, file_secret_settings: Any) -> tuple[Any, ...]:
            # highest first: the overrides (as init arguments), the environment, then the files
            return (init_settings, env_settings, YamlConfigSettingsSource(settings_cls),
                    TomlConfigSettingsSource(settings_cls))

    return App
