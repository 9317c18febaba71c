"""SimpleNamespace, a floor: as the plain object, but with a repr and equality by content."""

from __future__ import annotations

from types import SimpleNamespace
from typing import Any

from .plain_object import PlainObjectSystem, from_object


def to_namespace(value: Any) -> Any:
    if type(value) is dict:
        return SimpleNamespace(**{k: to_namespace(v) for k, v in value.items()})
    if type(value) is list:
        return [to_namespace(v) for v in value]
    return value


class NamespaceSystem(PlainObjectSystem):
    name = "SimpleNamespace"
    names = {"to_namespace": to_namespace, "from_object": from_object}
    build = "to_namespace(doc)"
    render_repr = "repr(t)"
    equal = "t == u"

    def load(self, doc: Any) -> Any:
        return to_namespace(doc)


SYSTEM = NamespaceSystem()
