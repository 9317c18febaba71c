"""dotmap: `DotMap(data)`, `toDict()` back. The default DotMap stores an empty DotMap on the
first read of a missing name (after which it is no longer missing), so the missing-read row
uses DotMap(data, _dynamic=False), which raises like munch. An assigned dict stays a plain
dict, so the nested assignment wraps it as a user has to."""

from __future__ import annotations

from typing import Any

from dotmap import DotMap

from . import System


class DotMapSystem(System):
    name = "DotMap"
    distribution = "dotmap"
    names = {"DotMap": DotMap}
    build = "DotMap(doc)"
    to_plain = "t.toDict()"
    assign_nested = "t.d = DotMap(v)"

    def load(self, doc: Any) -> Any:
        return DotMap(doc)

    def missing_tree(self, doc: Any) -> Any:
        return DotMap(doc, _dynamic=False)

    def to_plain_back(self, tree: Any) -> Any:
        return tree.toDict()

    def plain_dicts_left(self, tree: Any) -> int:
        # DotMap keeps its entries outside the dict it derives from: read them through
        # items(), which hands back what it stores.
        left, stack = 0, [tree]
        while stack:
            node = stack.pop()
            left += type(node) is dict
            if isinstance(node, DotMap):
                stack.extend(v for _, v in node.items())
            elif isinstance(node, list):
                stack.extend(node)
        return left


SYSTEM = DotMapSystem()
