"""munch: `munchify(data)` builds, `unmunchify(tree)` converts back; an assigned dict stays a
plain dict, so the nested assignment wraps it as a user has to."""

from __future__ import annotations

from typing import Any

from munch import munchify, unmunchify

from . import System


class MunchSystem(System):
    name = "munch"
    distribution = "munch"
    names = {"munchify": munchify, "unmunchify": unmunchify}
    build = "munchify(doc)"
    to_plain = "unmunchify(t)"
    assign_nested = "t.d = munchify(v)"

    def load(self, doc: Any) -> Any:
        return munchify(doc)

    def to_plain_back(self, tree: Any) -> Any:
        return unmunchify(tree)


SYSTEM = MunchSystem()
