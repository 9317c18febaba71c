"""python-benedict: `benedict(data)`, a dict subclass that keeps the dict it is given (no
copy) and wraps each nested dict again on every access; attribute access (keyattr) is on by
default. Building it checks every key for the keypath separator and replaces the dicts inside
lists of the data it is given by benedicts, so each timed build gets a copy of its own. Its
own path reader is the keypath, `t.get("a.b.c")`.

It has no conversion that makes a new plain tree: `dict()` hands back the very dict it keeps.
Trees for the other rows are built from a copy of the data (the data is shared with the other
systems), and the memory rows count that copy: it is what a benedict holds."""

from __future__ import annotations

from typing import Any, Callable

from benedict import benedict

from . import System
from .plain_dict import copy_plain


class BenedictSystem(System):
    name = "benedict"
    distribution = "python-benedict"
    names = {"benedict": benedict}
    view = True
    slow_build = True  # about 0.7 s for the ec2 document
    changes_input = True
    build = "benedict(doc)"

    def load(self, doc: Any) -> Any:
        return benedict(copy_plain(doc))

    def memory_build(self, doc: Any, text: str) -> Callable[[], Any]:
        return lambda: benedict(copy_plain(doc))

    def to_plain_back(self, tree: Any) -> Any:
        return tree.dict()

    def path_variants(self, keys: list[str]) -> dict[str, str]:
        return {"benedict keypath": f"t.get({'.'.join(keys)!r})"}


SYSTEM = BenedictSystem()
