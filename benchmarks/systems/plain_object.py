"""object, a floor: the data converted recursively into instances of an empty class; reads by
attribute, names held in strings by getattr, listings through __dict__. An assigned dict is
kept as it is. Not a mapping: the mapping rows are n/a."""

from __future__ import annotations

from types import SimpleNamespace
from typing import Any

from . import System


class Plain:
    pass


def to_object(value: Any) -> Any:
    if type(value) is dict:
        obj = Plain()
        obj.__dict__.update({k: to_object(v) for k, v in value.items()})
        return obj
    if type(value) is list:
        return [to_object(v) for v in value]
    return value


def from_object(value: Any) -> Any:
    """Back to plain dicts from nested plain objects or SimpleNamespace."""
    if type(value) is list:
        return [from_object(v) for v in value]
    if type(value) is Plain or type(value) is SimpleNamespace:
        return {k: from_object(v) for k, v in vars(value).items()}
    return value


def getattr_chain(keys: list[str]) -> str:
    expr = "t"
    for key in keys:
        expr = f"getattr({expr}, {key!r})"
    return expr


class PlainObjectSystem(System):
    name = "object"
    role = "floor"
    names = {"to_object": to_object, "from_object": from_object}
    build = "to_object(doc)"
    to_plain = "from_object(t)"
    keys = "list(t.__dict__)"
    items = "list(t.__dict__.items())"
    clear = "t.__dict__.clear()"
    render_repr = None
    render_string = None
    length = equal = to_dict = None

    def load(self, doc: Any) -> Any:
        return to_object(doc)

    def to_plain_back(self, tree: Any) -> Any:
        return from_object(tree)

    def get(self, key: str) -> str:
        return f"getattr(t, {key!r}, None)"

    def get_path(self, keys: list[str]) -> str:
        return getattr_chain(keys)

    def getitem(self, key: str) -> None:
        return None

    def contains(self, key: str) -> None:
        return None


SYSTEM = PlainObjectSystem()
