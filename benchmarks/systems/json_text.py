"""json, a floor for building and converting: json.loads of the data's text (build and
memory), json.loads(json.dumps(data)) (to plain), json.dumps (the _mv_to_string row)."""

from __future__ import annotations

import json
from typing import Any, Callable

from . import System


class JsonSystem(System):
    name = "json"
    role = "floor"
    names = {"json": json}
    build = "json.loads(text)"
    to_plain = "json.loads(json.dumps(t))"
    render_string = "json.dumps(t)"
    read_missing = assign_scalar = assign_nested = None
    keys = items = clear = render_repr = None
    length = equal = to_dict = None

    def load(self, doc: Any) -> Any:
        return json.loads(json.dumps(doc))

    def load_from(self, doc: Any, text: str) -> Any:
        return json.loads(text)

    def memory_build(self, doc: Any, text: str) -> Callable[[], Any]:
        return lambda: json.loads(text)

    def to_plain_back(self, tree: Any) -> Any:
        return json.loads(json.dumps(tree))

    def read(self, keys: list[str]) -> None:
        return None

    def get(self, key: str) -> None:
        return None

    def get_path(self, keys: list[str]) -> None:
        return None

    def getitem(self, key: str) -> None:
        return None

    def contains(self, key: str) -> None:
        return None


SYSTEM = JsonSystem()
