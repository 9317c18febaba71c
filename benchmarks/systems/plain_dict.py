"""dict/list, the floor: the plain data itself. Building and converting are a recursive copy
of the dicts and lists that shares the leaves, as every store built from a dict does; reads go
by item, names held in strings by dict.get."""

from __future__ import annotations

from typing import Any

from . import System, get_chain, item_chain


def copy_plain(value: Any) -> Any:
    """A fresh tree of dicts and lists sharing the leaves."""
    if type(value) is dict:
        return {k: copy_plain(v) for k, v in value.items()}
    if type(value) is list:
        return [copy_plain(v) for v in value]
    return value


class PlainDictSystem(System):
    name = "dict/list"
    role = "floor"
    names = {"copy_plain": copy_plain}
    build = "copy_plain(doc)"
    to_plain = "copy_plain(t)"
    read_missing = 't.get("nope")'
    assign_scalar = 't["x"] = 1'
    assign_nested = 't["d"] = v'
    keys = "list(t)"
    render_params = '"&".join([f"{k}={v}" for k, v in t.items()])'

    def load(self, doc: Any) -> Any:
        return copy_plain(doc)

    def to_plain_back(self, tree: Any) -> Any:
        return copy_plain(tree)

    def read(self, keys: list[str]) -> str:
        return item_chain(keys)

    def get_path(self, keys: list[str]) -> str:
        return get_chain(keys)


SYSTEM = PlainDictSystem()
