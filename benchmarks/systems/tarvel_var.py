"""tarvel_var: the store under test.

The mapping operations (`s[name]`, `name in s`, `len(s)`, `s == t`, `dict(s)`) and strict
mode are probed on the class at import: an operation the class does not support yet is
reported as n/a, and its row lights up once it does."""

from __future__ import annotations

from typing import Any, Callable

from tarvel_var import TarvelVar

from . import CATCH_MISSING, System


def _works(probe: Callable[[], bool]) -> bool:
    try:
        return bool(probe())
    except Exception:  # noqa: BLE001 - any failure means the class has no such operation yet
        return False


def _strict_store() -> Any:
    store = TarvelVar({"a": 1}, strict=True)  # type: ignore[call-arg]
    try:
        store.missing  # noqa: B018
    except AttributeError:
        return True
    return False


HAS_GETITEM = _works(lambda: TarvelVar({"k": 1, "d": {"x": 2}})["k"] == 1)
HAS_CONTAINS = _works(lambda: "k" in TarvelVar({"k": 1}) and "z" not in TarvelVar({"k": 1}))
HAS_LEN = _works(lambda: len(TarvelVar({"k": 1, "j": 2})) == 2)
HAS_EQUAL = _works(lambda: TarvelVar({"a": {"b": [1]}}) == TarvelVar({"a": {"b": [1]}})
                   and TarvelVar({"a": 1}) != TarvelVar({"a": 2}))
HAS_DICT = _works(lambda: dict(TarvelVar({"a": 1, "b": 2})) == {"a": 1, "b": 2})
HAS_STRICT = _works(_strict_store)

PROBES = {"s[name]": HAS_GETITEM, "name in s": HAS_CONTAINS, "len(s)": HAS_LEN, "s == t": HAS_EQUAL,
          "dict(s)": HAS_DICT, "strict=True": HAS_STRICT}


def module_build(doc: Any) -> Any:
    """A store filled by the module's own `_mv_add`, which checks no key against the reserved
    names: the public constructor's cost above it bounds what that check costs."""
    store = TarvelVar()
    store._mv_add(doc)
    return store


class TarvelVarSystem(System):
    name = "tarvel_var"
    role = "ours"
    names = {"TarvelVar": TarvelVar, "_module_build": module_build}

    build = "TarvelVar(doc)"
    # The public conversion, which reads the dictionaries directly while the conversion is the
    # store's own; `_mv_to_dict()` is the module's, through its overridable methods.
    to_plain = "t.to_dict()" if hasattr(TarvelVar, "to_dict") else "t._mv_to_dict()"
    to_plain_sorted = "t.to_dict(sort=True)" if hasattr(TarvelVar, "to_dict") else "t._mv_to_dict(sort=True)"
    # A missing name raises, as on any object (a loose store's None costs about the same)
    read_missing = CATCH_MISSING
    keys = "t._mv_keys()"
    items = "t._mv_items()"
    clear = "t._mv_clear()"
    render_string = "t._mv_to_string()"
    render_params = "t._mv_to_params()"
    length = "len(t)" if HAS_LEN else None
    equal = "t == u" if HAS_EQUAL else None
    to_dict = "dict(t)" if HAS_DICT else None

    def load(self, doc: Any) -> Any:
        return TarvelVar(doc)

    def get(self, key: str) -> str:
        return f"t._mv_get({key!r})"

    def get_path(self, keys: list[str]) -> str:
        return f"t._mv_get({'$.' + '.'.join(keys)!r})"

    def getitem(self, key: str) -> str | None:
        return f"t[{key!r}]" if HAS_GETITEM else None

    def contains(self, key: str) -> str | None:
        return f"{key!r} in t" if HAS_CONTAINS else None

    def to_plain_back(self, tree: Any) -> Any:
        return tree._mv_to_dict()

    def plain_dicts_left(self, tree: Any) -> int:
        return 0  # ours: every nested dict becomes a store while it is built

    def build_variants(self) -> dict[str, str]:
        variants = {"tarvel_var via _mv_add": "_module_build(doc)"}
        if HAS_STRICT:
            variants["tarvel_var strict"] = "TarvelVar(doc, strict=True)"
        return variants

    def pending(self) -> list[str]:
        return [name for name, works in PROBES.items() if not works]


SYSTEM = TarvelVarSystem()
