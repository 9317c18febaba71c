"""Schemas that type and check a store: dataclasses, TypedDicts and pydantic models.

The checking is pydantic's (the optional extra "schema"): it converts as a settings user expects
("5433" to 5433 for an int field), fills defaults and reports every problem with its place. A
key the schema does not declare is an error unless the schema's own config says otherwise.
"""

from __future__ import annotations

import threading
from typing import Any

__all__ = ["ValidationError", "to", "validate"]


class ValidationError(ValueError):
    """Every problem a schema found: one line per problem, `$.path: message`; `errors` lists
    the (path, message) pairs."""

    def __init__(self, errors: list[tuple[str, str]]) -> None:
        self.errors = errors
        super().__init__("\n".join(f"{path}: {message}" for path, message in errors))


class _Checker:
    """What checks one schema: a pydantic TypeAdapter, and how to make the schema's own
    instance from what it returns."""

    def __init__(self, schema: Any) -> None:
        pydantic: Any = _pydantic()
        self.schema: Any = schema
        self.wrapped = False
        target: Any = schema
        model: Any = schema
        model_config: dict[str, Any] = getattr(model, "model_config", {})
        if isinstance(model, type) and issubclass(model, pydantic.BaseModel):
            if "extra" not in model_config:
                # the model leaves extra keys to pydantic's default (dropped silently): checked
                # as forbidden by a subclass, then made an instance of the model itself
                config = {**model_config, "extra": "forbid"}
                target = type(model.__name__, (model,), {"model_config": config,
                                                         "__module__": model.__module__})
        elif getattr(schema, "__pydantic_config__", None) is None:
            # a dataclass or TypedDict without a config of its own takes the config of what
            # holds it, nested ones too: held by a model that forbids extra keys
            target = pydantic.create_model("Schema", __config__=pydantic.ConfigDict(extra="forbid"),
                                           value=(schema, ...))
            self.wrapped = True
        self.target = target
        self.adapter = pydantic.TypeAdapter(target)
        self.failure: Any = pydantic.ValidationError  # caught on every check: looked up once
        self.dumper = pydantic.TypeAdapter(schema) if self.wrapped else self.adapter

    def check(self, data: dict[str, Any]) -> Any:
        try:
            result = self.adapter.validate_python({"value": data} if self.wrapped else data)
        except self.failure as error:
            raise ValidationError([self.problem(e) for e in error.errors()]) from None
        return result.value if self.wrapped else result

    def problem(self, error: Any) -> tuple[str, str]:
        location = error["loc"][1:] if self.wrapped else error["loc"]
        path = "$." + ".".join(str(step) for step in location) if location else "$"
        return path, error["msg"]

    def instance(self, checked: Any) -> Any:
        if self.target is self.schema or self.wrapped:
            return checked
        return self.schema.model_construct(checked.model_fields_set, **dict(checked))

    def plain(self, checked: Any) -> dict[str, Any]:
        return self.dumper.dump_python(checked, by_alias=True)  # type: ignore[no-any-return]


_checkers: dict[Any, _Checker] = {}
_lock = threading.Lock()


def _pydantic() -> Any:
    try:
        import pydantic
    except ImportError:
        raise ImportError("checking a store against a schema needs pydantic: "
                          "pip install 'tarvel_var[schema]'") from None
    return pydantic


def checker(schema: Any) -> _Checker:
    found = _checkers.get(schema)
    if found is None:
        with _lock:
            found = _checkers.get(schema) or _Checker(schema)
            _checkers[schema] = found
    return found


def to(store: Any, schema: Any) -> Any:
    """An instance of `schema` made from `store`, checked."""
    check = checker(schema)
    return check.instance(check.check(store.to_dict()))


def validate(store: Any, schema: Any) -> Any:
    """A new store of the class and flags of `store`, typed and checked by `schema`."""
    from .frozen import is_frozen, thawed

    check = checker(schema)
    plain = check.plain(check.check(store.to_dict()))
    result = thawed(store, plain)
    if is_frozen(store):
        from .frozen import freeze

        freeze(result)
    return result
