"""marshal, a floor for building and converting: marshal.loads(marshal.dumps(data))."""

from __future__ import annotations

import marshal
from typing import Any

from .json_text import JsonSystem


class MarshalSystem(JsonSystem):
    name = "marshal"
    names = {"marshal": marshal}
    build = "marshal.loads(marshal.dumps(doc))"
    to_plain = "marshal.loads(marshal.dumps(t))"
    render_string = None

    def load(self, doc: Any) -> Any:
        return marshal.loads(marshal.dumps(doc))

    def load_from(self, doc: Any, text: str) -> Any:
        return self.load(doc)

    def memory_build(self, doc: Any, text: str) -> Any:
        return lambda: marshal.loads(marshal.dumps(doc))

    def to_plain_back(self, tree: Any) -> Any:
        return marshal.loads(marshal.dumps(tree))


SYSTEM = MarshalSystem()
