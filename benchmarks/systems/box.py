"""python-box: `Box(data)`, a dict subclass that converts nested dicts as it is built."""

from __future__ import annotations

from typing import Any

from box import Box

from . import System


class BoxSystem(System):
    name = "Box"
    distribution = "python-box"
    names = {"Box": Box}
    build = "Box(doc)"
    to_plain = "t.to_dict()"

    def load(self, doc: Any) -> Any:
        return Box(doc)

    def to_plain_back(self, tree: Any) -> Any:
        return tree.to_dict()


SYSTEM = BoxSystem()
