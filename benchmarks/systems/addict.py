"""addict: `Dict(data)`. A missing attribute reads as a new empty Dict (nothing to catch); an
assigned dict stays a plain dict, so the nested assignment wraps it as a user has to."""

from __future__ import annotations

from typing import Any

from addict import Dict as AddictDict

from . import System


class AddictSystem(System):
    name = "addict"
    distribution = "addict"
    names = {"AddictDict": AddictDict}
    build = "AddictDict(doc)"
    to_plain = "t.to_dict()"
    read_missing = "t.nope"
    assign_nested = "t.d = AddictDict(v)"

    def load(self, doc: Any) -> Any:
        return AddictDict(doc)

    def to_plain_back(self, tree: Any) -> Any:
        return tree.to_dict()


SYSTEM = AddictSystem()
