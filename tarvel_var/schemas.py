"""Schemas that type and check a store: dataclasses, TypedDicts and pydantic models.

The checking is pydantic's (the optional extra "schema"): it converts as a settings user expects
("5433" to 5433 for an int field), fills defaults and reports every problem with its place. A
key the schema does not declare is an error unless the schema's own config says otherwise.
"""

from __future__ import annotations

import threading
import types
import typing
from collections import abc
from typing import TYPE_CHECKING, Any

from ._store import nests_deeper, stack_room
from .paths import path_text

if TYPE_CHECKING:
    from collections.abc import Callable

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
        if not isinstance(schema, type) and callable(schema) and typing.get_origin(schema) is None:
            # pydantic would take a function as a validator, and call it on the store's data
            raise TypeError(f"{_name(schema)} cannot be a schema: a function is none (a "
                            "dataclass, a TypedDict or a pydantic model is)")
        try:
            self.adapter = pydantic.TypeAdapter(self.target(pydantic, schema))
            self.dumper = pydantic.TypeAdapter(schema) if self.wrapped else self.adapter
        except pydantic.PydanticUserError as error:
            reason = str(error).splitlines()[0].partition(". ")[0]
            raise TypeError(f"{_name(schema)} cannot be a schema (a dataclass, a TypedDict or a "
                            f"pydantic model is): {reason}") from None
        self.failure: Any = pydantic.ValidationError  # caught on every check: looked up once
        self.shapes = _Shapes()

    def target(self, pydantic: Any, schema: Any) -> Any:
        if (isinstance(schema, type) and issubclass(schema, pydantic.BaseModel)) or \
                getattr(schema, "__pydantic_config__", None) is not None:
            return schema
        # a dataclass or TypedDict without a config of its own takes the config of what holds
        # it, nested ones too: held by a model that forbids extra keys, pydantic names them in
        # its own words
        self.wrapped = True
        return pydantic.create_model("Schema", __config__=pydantic.ConfigDict(extra="forbid"),
                                     value=(schema, ...))

    def validated(self, data: dict[str, Any]) -> Any:
        """What pydantic makes of `data` for the schema; its ValidationError where it refuses."""
        _fits_stack(data)
        result = self.adapter.validate_python({"value": data} if self.wrapped else data)
        return result.value if self.wrapped else result

    def check(self, data: dict[str, Any]) -> Any:
        problems = []
        result = None
        try:
            result = self.validated(data)
        except self.failure as error:
            problems = [self.problem(e) for e in error.errors()]
        # what pydantic lets through: keys that a model, or a dataclass whose config does not
        # say, would drop without a word
        reported = {path for path, _ in problems}
        problems += [problem for problem in extra_keys(self.schema, data, self.shapes)
                     if problem[0] not in reported]
        if problems:
            raise ValidationError(problems)
        return result

    def checked_plain(self, data: dict[str, Any]) -> dict[str, Any]:
        """plain(check(data)), with the walk for keys a record type drops made only where the
        dump has lost a key of `data`: where every key is still there, none was dropped."""
        from ._store import keys_kept

        try:
            result = self.validated(data)
        except self.failure:
            return self.plain(self.check(data))  # raises, naming every problem
        plain = self.plain(result)
        if not keys_kept(data, plain):
            problems = extra_keys(self.schema, data, self.shapes)
            if problems:
                raise ValidationError(problems)
        return plain

    def problem(self, error: Any) -> tuple[str, str]:
        location = error["loc"][1:] if self.wrapped else error["loc"]
        return path_text(tuple(location)), error["msg"]

    def instance(self, checked: Any) -> Any:
        return checked

    def plain(self, checked: Any) -> dict[str, Any]:
        plain = self.dumper.dump_python(checked, by_alias=True)
        if not isinstance(plain, dict):
            raise TypeError(f"{_name(self.schema)} checks no mapping: a store holds a mapping")
        return plain


def _name(schema: Any) -> str:
    return getattr(schema, "__qualname__", None) or repr(schema)


# Levels of nesting that pydantic's native code may take per byte of stack: measured at
# under 1 KiB a level, in a thread with a small stack, where it overflows rather than raise.
_STACK_PER_LEVEL = 2048


def _fits_stack(data: Any) -> None:
    room = stack_room()
    if room is not None and nests_deeper(data, room // _STACK_PER_LEVEL):
        raise RecursionError("maximum recursion depth exceeded (the data is nested too deeply "
                             "for the native stack this thread has left)")


# -- keys a schema does not declare ------------------------------------------------------

_EXTRA = "Extra inputs are not permitted"


def extra_keys(schema: Any, data: Any, shapes: _Shapes | None = None) -> list[tuple[str, str]]:
    """(path, message) of every key in `data` that the record type holding it at its place in
    `schema` does not declare, where that type leaves extra keys to pydantic's default."""
    shapes = shapes or _Shapes()
    found: list[tuple[str, str]] = []
    # a place is (the place above, key): its "$." text is made only for a key reported
    stack: list[tuple[Any, Any, Any]] = [(schema, data, None)]
    while stack:
        kind, value, path = stack.pop()
        kind = shapes.described(kind, value)
        if kind is None:
            continue
        below: list[tuple[Any, Any, Any]] = []
        record = shapes.record(kind)
        if record is not None and isinstance(value, dict):
            fields, refuses = record
            for key, item in value.items():
                field = fields.get(key, _UNDECLARED)
                if field is _UNDECLARED:
                    if refuses:
                        found.append((_place_text((path, key)), _EXTRA))
                elif shapes.may_hold_records(field):  # a str or list[int] field needs no walk
                    below.append((field, item, (path, key)))
        else:
            below = _items(kind, value, path, shapes.may_hold_records)
        stack.extend(reversed(below))
    return found


_UNDECLARED = object()


def _place_text(place: Any) -> str:
    steps = []
    while place is not None:
        place, key = place
        steps.append(key)
    return path_text(tuple(reversed(steps)))


_MAPPINGS = (dict, abc.Mapping, abc.MutableMapping)
_SEQUENCES = (list, set, frozenset, abc.Sequence, abc.MutableSequence, abc.Set)


class _Shapes:
    """What extra_keys asks of the types of one schema, worked out once per type: a schema's
    checker keeps one, so that a list of a thousand models reads the model's fields once."""

    def __init__(self) -> None:
        self.records: dict[int, tuple[Any, tuple[dict[str, Any], bool] | None]] = {}
        self.holding: dict[int, tuple[Any, bool]] = {}
        self.fixed: dict[int, tuple[Any, Any]] = {}  # what describes any value: no union met

    def record(self, kind: Any) -> tuple[dict[str, Any], bool] | None:
        known = self.records.get(id(kind))
        if known is None:
            known = self.records[id(kind)] = (kind, _record(kind))  # the type held: ids stay apart
        return known[1]

    def may_hold_records(self, kind: Any) -> bool:
        """Whether a value of type `kind` may have a record type's keys at or below it (not
        `str` or `list[int]`, whose values need no walk)."""
        known = self.holding.get(id(kind))
        if known is None:
            self.holding[id(kind)] = (kind, True)  # a type that refers to itself: assumed so
            holds = (self.record(kind) is not None or _root_type(kind) is not None
                     or any(self.may_hold_records(arg) for arg in typing.get_args(kind)
                            if arg is not Ellipsis))
            known = self.holding[id(kind)] = (kind, holds)
        return known[1]

    def described(self, kind: Any, value: Any) -> Any:
        """The one type that describes `value` at its place: Annotated and Optional unwrapped;
        of a union, the one member that can hold `value`, or None when that is not one alone
        (pydantic decides between them by the value, and no key is then called extra)."""
        known = self.fixed.get(id(kind))
        if known is not None:
            return known[1]
        given, chosen = kind, False
        while True:
            origin = typing.get_origin(kind)
            if origin is typing.Annotated:
                kind = typing.get_args(kind)[0]
            elif origin is typing.Union or origin is types.UnionType:
                fitting = [member for member in typing.get_args(kind)
                           if member is not type(None) and self.can_hold(member, value)]
                if len(fitting) != 1:
                    return None
                kind, chosen = fitting[0], True
            else:
                if not chosen:
                    self.fixed[id(given)] = (given, kind)
                return kind

    def can_hold(self, kind: Any, value: Any) -> bool:
        """Whether a union's member can be what holds `value` (a dict or a list) below it."""
        if _root_type(kind) is not None:
            return True
        if self.record(kind) is not None or typing.get_origin(kind) in _MAPPINGS:
            return isinstance(value, dict)
        return typing.get_origin(kind) in _SEQUENCES + (tuple,) and isinstance(value, list)


def _items(kind: Any, value: Any, place: Any, walked: Callable[[Any], bool]) -> list[tuple[Any, Any, Any]]:
    """The items of a container value with the types `kind` gives them, those of a type that
    `walked` takes."""
    origin, args = typing.get_origin(kind), typing.get_args(kind)
    if origin in _MAPPINGS and isinstance(value, dict) and len(args) == 2:
        return [(args[1], item, (place, key)) for key, item in value.items()] if walked(args[1]) else []
    if origin is tuple and isinstance(value, list) and args and not (len(args) == 2 and args[1] is Ellipsis):
        return [(arg, item, (place, index)) for index, (arg, item) in enumerate(zip(args, value))
                if walked(arg)]
    if (origin in _SEQUENCES or origin is tuple) and isinstance(value, list) and args:
        return [(args[0], item, (place, index)) for index, item in enumerate(value)] if walked(args[0]) else []
    root = _root_type(kind)
    if root is not None:
        return [(root, value, place)]
    return []


def _root_type(kind: Any) -> Any:
    pydantic = _pydantic()
    model: Any = kind
    if isinstance(kind, type) and issubclass(kind, pydantic.RootModel):
        return model.model_fields["root"].annotation
    return None


def _record(kind: Any) -> tuple[dict[str, Any], bool] | None:
    """The field types of a record type (a pydantic model, a dataclass or a TypedDict) by every
    key that names a field, and whether it refuses other keys by default (no `extra` in its
    config); None for any other type."""
    import dataclasses

    pydantic = _pydantic()
    if not isinstance(kind, type):
        return None
    fields: dict[str, Any] = {}
    model: Any = kind
    if issubclass(model, pydantic.BaseModel):
        if issubclass(model, pydantic.RootModel):
            return None
        config: Any = model.model_config
        declared = model.model_fields
    elif dataclasses.is_dataclass(kind) or typing.is_typeddict(kind) or _is_typeddict(kind):
        config = getattr(kind, "__pydantic_config__", None) or {}
        declared = getattr(kind, "__pydantic_fields__", None)
        if declared is None:
            try:
                hints = typing.get_type_hints(kind, include_extras=True)
            except Exception:  # a forward reference pydantic resolves otherwise: take no view
                return None
            if dataclasses.is_dataclass(kind):
                return ({field.name: hints.get(field.name, Any) for field in dataclasses.fields(kind)},
                        "extra" not in config)
            return hints, "extra" not in config
    else:
        return None
    for name, info in declared.items():
        for key in (name, info.alias, info.validation_alias):
            if isinstance(key, str):
                fields[key] = info.annotation
            elif key is not None:  # AliasPath, AliasChoices: keys this view cannot follow
                return fields, False
    return fields, "extra" not in config


def _is_typeddict(kind: Any) -> bool:
    import sys

    extensions = sys.modules.get("typing_extensions")
    return extensions is not None and bool(extensions.is_typeddict(kind))


# The checker of each schema class is kept on the class itself: a cycle that the collector
# frees with the class, where a table of the module would keep every schema alive for good.
_ATTRIBUTE = "__tarvel_checker__"
_others: dict[Any, _Checker] = {}  # schemas that are no classes (list[Model], say): a few
_lock = threading.Lock()


def _pydantic() -> Any:
    try:
        import pydantic
    except ImportError:
        raise ImportError("checking a store against a schema needs pydantic: "
                          "pip install 'tarvel_var[schema]'") from None
    return pydantic


def checker(schema: Any) -> _Checker:
    if isinstance(schema, type):
        found = vars(schema).get(_ATTRIBUTE)
        if found is None:
            with _lock:
                found = vars(schema).get(_ATTRIBUTE) or _Checker(schema)
                type.__setattr__(schema, _ATTRIBUTE, found)
        return found
    try:
        known = _others.get(schema)
    except TypeError:  # unhashable
        return _Checker(schema)
    if known is None:
        with _lock:
            if len(_others) >= 64:
                _others.clear()
            known = _others[schema] = _Checker(schema)
    return known


def _settings_class(schema: Any) -> bool:
    from .settings import is_settings_class

    return is_settings_class(schema)


def to(store: Any, schema: Any) -> Any:
    """An instance of `schema` made from `store`, checked."""
    if _settings_class(schema):
        return schema(store)
    check = checker(schema)
    return check.instance(check.check(store.to_dict()))


def validate(store: Any, schema: Any) -> Any:
    """A new store of the class and flags of `store`, typed and checked by `schema`."""
    from .frozen import is_frozen, thawed

    if _settings_class(schema):
        result = thawed(store, into=schema)  # the settings class checks what it is given
        from .origins import composed_class, is_composed

        if is_composed(store):
            object.__setattr__(result, "__class__", composed_class(schema))
    else:
        check = checker(schema)
        result = thawed(store, check.checked_plain(store.to_dict()))
    from .origins import carry

    carry(store, result)
    if is_frozen(store):
        from .frozen import freeze

        freeze(result)
    return result
