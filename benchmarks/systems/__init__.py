"""One adapter per system that the benchmark compares: the same operations, each written the
way a user of that system would write it.

An adapter is a `System` whose operations are statements (strings): the runner compiles each
into a timed loop in which the statement's data are local variables, so every system pays the
same loop and lookup overhead. The locals a statement may use:

    doc   the plain data (dicts, lists, scalars)        text  the same data as JSON text
    t     a tree of the system, made by `load(doc)`     u     a second, equal tree
    v     a plain dict to assign

plus the names in the adapter's `names` (its classes and helpers). An operation that is None
has no equivalent in the system (the report says "n/a"); the module's docstring says what
the system runs, and the report prints its first paragraph.
"""

from __future__ import annotations

import importlib
from typing import Any, Callable

# The columns of the report, in order: ours, the peers, then the plain-Python floors.
MODULES = ["tarvel_var", "box", "addict", "munch", "easydict", "dotmap", "omegaconf", "benedict",
           "plain_dict", "plain_object", "namespace", "json_text", "marshal_copy"]

CATCH_MISSING = "try:\n    t.nope\nexcept AttributeError:\n    pass"


def attr_chain(keys: list[str]) -> str:
    return "t" + "".join(f".{key}" for key in keys)


def item_chain(keys: list[str]) -> str:
    return "t" + "".join(f"[{key!r}]" for key in keys)


def get_chain(keys: list[str]) -> str:
    return "t" + "".join(f".get({key!r})" for key in keys)


class System:
    name: str = ""                      # the column
    role: str = "peer"                  # "ours", "peer" or "floor"
    distribution: str | None = None     # the PyPI distribution, for the versions line
    names: dict[str, Any] = {}          # globals the statements use

    # Set when one build of the ec2 document takes most of a second or more: --quick leaves
    # such a system out of the rows on large data.
    slow_build = False
    # Set when it takes seconds: its trees for the rows on large data are built once per run,
    # and the memory row of the ec2 document (under tracemalloc) leaves it out.
    very_slow_build = False
    # Set when the system keeps the dict it is given and wraps nested dicts again on every
    # access: there is nothing for a walk after building to convert once and keep.
    view = False
    # Set when building changes the data it is given: each timed build gets its own copy.
    changes_input = False

    # Building, from `doc` (or `text`); None: the system is not built from plain data.
    build: str | None = None
    # Back to plain containers: a new tree of dicts and lists equal to the data.
    to_plain: str | None = None
    to_plain_sorted: str | None = None
    # Reading a name that is not there, as a user of the system would guard it.
    read_missing: str | None = CATCH_MISSING
    assign_scalar: str | None = "t.x = 1"
    assign_nested: str | None = "t.d = v"
    keys: str | None = "list(t.keys())"
    items: str | None = "list(t.items())"
    clear: str | None = "t.clear()"
    render_repr: str | None = "repr(t)"
    render_string: str | None = "str(t)"
    render_params: str | None = None
    # The mapping protocol.
    length: str | None = "len(t)"
    equal: str | None = "t == u"
    to_dict: str | None = "dict(t)"

    def load(self, doc: Any) -> Any:
        """A tree of the system holding `doc`, for the rows that time something else."""
        raise NotImplementedError

    def load_from(self, doc: Any, text: str) -> Any:
        """As `load`, for a system that can read the data's text instead."""
        return self.load(doc)

    def missing_tree(self, doc: Any) -> Any:
        """The tree the missing-read row reads from."""
        return self.load(doc)

    def memory_build(self, doc: Any, text: str) -> Callable[[], Any]:
        """What the memory rows build (and keep) for this system."""
        return lambda: self.load(doc)

    def read(self, keys: list[str]) -> str | None:
        """Reading a nested value by its names, one step at a time."""
        return attr_chain(keys)

    def get(self, key: str) -> str | None:
        """Reading one variable by a name held in a string."""
        return f"t.get({key!r})"

    def get_path(self, keys: list[str]) -> str | None:
        """Reading a nested value by names held in strings."""
        return get_chain(keys)

    def getitem(self, key: str) -> str | None:
        return f"t[{key!r}]"

    def contains(self, key: str) -> str | None:
        return f"{key!r} in t"

    def to_plain_back(self, tree: Any) -> Any:
        """`to_plain` as a function, for the start-up check that it gives the data back."""
        return None

    def plain_dicts_left(self, tree: Any) -> int:
        """How many plain dicts a built tree still holds below its root, read without the
        system's own accessors (which could convert on the way)."""
        count = -1 if type(tree) is dict else 0
        stack = [tree]
        while stack:
            node = stack.pop()
            if type(node) is dict:
                count += 1
            if isinstance(node, dict):
                stack.extend(dict.values(node))
            elif isinstance(node, list):
                stack.extend(list.__iter__(node))
        return count

    # Extra cells measured next to a row, for the targets and the "also measured" list.
    def build_variants(self) -> dict[str, str]:
        return {}

    def path_variants(self, keys: list[str]) -> dict[str, str]:
        return {}

    def pending(self) -> list[str]:
        """Operations the system is expected to gain (reported n/a until it has them)."""
        return []


def load_systems(require_peers: bool = True) -> list[System]:
    """Every adapter, in column order. A peer that is not installed ends the run with a hint
    (or, with require_peers=False, is left out)."""
    systems = []
    for module in MODULES:
        try:
            systems.append(importlib.import_module(f"{__name__}.{module}").SYSTEM)
        except ImportError as error:
            if require_peers:
                raise SystemExit(f"{error}: install the bench extra first "
                                 "(`make bench` does: pip install '.[bench]')") from None
    return systems
