"""easydict: `EasyDict(data)`, a dict subclass that converts nested dicts, also on assignment.
It has no conversion back to plain containers."""

from __future__ import annotations

from typing import Any

from easydict import EasyDict

from . import System


class EasyDictSystem(System):
    name = "EasyDict"
    distribution = "easydict"
    names = {"EasyDict": EasyDict}
    build = "EasyDict(doc)"

    def load(self, doc: Any) -> Any:
        return EasyDict(doc)


SYSTEM = EasyDictSystem()
