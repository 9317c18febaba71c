"""OmegaConf: `OmegaConf.create(data)` builds a DictConfig of typed nodes, eagerly;
`OmegaConf.to_container(t)` converts back. Its own path reader is `OmegaConf.select`."""

from __future__ import annotations

from typing import Any

from omegaconf import DictConfig, ListConfig, OmegaConf

from . import System


class OmegaConfSystem(System):
    name = "OmegaConf"
    distribution = "omegaconf"
    names = {"OmegaConf": OmegaConf}
    slow_build = very_slow_build = True  # about 5 s for the ec2 document
    build = "OmegaConf.create(doc)"
    to_plain = "OmegaConf.to_container(t)"

    def load(self, doc: Any) -> Any:
        return OmegaConf.create(doc)

    def to_plain_back(self, tree: Any) -> Any:
        return OmegaConf.to_container(tree)

    def plain_dicts_left(self, tree: Any) -> int:
        left, stack = 0, [tree]
        while stack:
            node = stack.pop()
            left += type(node) is dict
            if isinstance(node, DictConfig):
                stack.extend(v for _, v in node.items())
            elif isinstance(node, (list, ListConfig)):
                stack.extend(node)
        return left

    def path_variants(self, keys: list[str]) -> dict[str, str]:
        return {"OmegaConf.select": f"OmegaConf.select(t, {'.'.join(keys)!r})"}


SYSTEM = OmegaConfSystem()
