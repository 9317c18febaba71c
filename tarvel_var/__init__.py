"""Variable stores for configuration and parameter objects.

`TarvelVar` is the public store: nested dicts become nested stores, lists, sets and tuples
become lists, and whole dicts can be merged in. Its core, `TarvelVarMain`, is native code
in `tarvel_var.var_main`.
"""

from __future__ import annotations

from operator import attrgetter
from typing import TYPE_CHECKING, Any

from .files import install as _install_files, to_plain
from .var_main import TarvelVarMain

__all__ = ["TarvelVar", "TarvelVarMain", "to_plain"]

_main_getattr = TarvelVarMain.__getattr__


class _ContractMethod(property):
    """A method of the store contract (`add`, `keys`, `get`) that stays reachable when the
    store holds a variable of the same name: as a data descriptor it wins over the instance
    dictionary, while the variable itself stays in the store (assigning or deleting through
    the descriptor writes the variable). Reading it runs no Python code: `getter` is built
    from C callables, which matters because every nested store and every step of a path
    lookup reads one."""

    def __init__(self, getter: Any, name: str, doc: str) -> None:
        def set_variable(obj: Any, value: Any) -> None:
            obj.__dict__[name] = value

        def delete_variable(obj: Any) -> None:
            try:
                del obj.__dict__[name]
            except KeyError:
                raise AttributeError(name) from None

        super().__init__(getter, set_variable, delete_variable, doc)

    def __call__(self, obj: Any, /, *args: Any, **kwargs: Any) -> Any:
        # Called through the class, as in `TarvelVar.keys(store)`.
        return self.__get__(obj, type(obj))(*args, **kwargs)


def _add(self: Any, /, **kwargs: Any) -> None:
    """Merges the keyword arguments into the store."""
    self._mv_add(kwargs)


_add.__name__, _add.__qualname__ = "add", "TarvelVar.add"  # as bound methods show it


class TarvelVar(TarvelVarMain):
    """A variable store: `TarvelVar({"db": {"port": 5432}}).db.port == 5432`."""

    def __init__(self, data: dict[str, Any] | None = None, /, *, reprint: bool = False,
                 inherit: bool = False) -> None:
        self._set_class(TarvelVar, reprint, inherit)
        if data is not None:
            self._mv_add(data)

    def __getattr__(self, name: str) -> Any:
        # Protocol probes (__deepcopy__, __setstate__, __array_interface__, ...) must see a
        # missing attribute, not its name. (The one-character test first: it costs no new
        # string, and most names fail it.)
        if name[:1] == "_" and len(name) > 4 and name[:2] == "__" and name[-2:] == "__":
            raise AttributeError(f"'{type(self).__name__}' object has no attribute '{name}'")
        return _main_getattr(self, name)

    if TYPE_CHECKING:
        def add(self, /, **kwargs: Any) -> None:
            """Merges the keyword arguments into the store."""

        def keys(self) -> list[str]:
            """The names of the store's variables."""

        def get(self, key: Any, default: Any = None) -> Any:
            """The variable `key` (or a "$." path), or `default`."""
    else:
        # keys() and get() are the store's own _mv_keys and _mv_get, looked up on the
        # instance each time, so overrides of those take part.
        add = _ContractMethod(_add.__get__, "add",
                              "Merges the keyword arguments into the store.")
        keys = _ContractMethod(attrgetter("_mv_keys"), "keys", "The names of the store's variables.")
        get = _ContractMethod(attrgetter("_mv_get"), "get",
                              'The variable `key` (or a "$." path), or `default`.')


def _settle_shared_keys() -> None:
    # The interpreter gives every instance room for all names in its class's shared key table,
    # which takes in the attribute names of the first instances made (up to thirty). Stores hold
    # varied names, so that room would mostly stay empty: each new instance also narrows what
    # the table may still take in, and a few instances holding only the internal variables,
    # made now, leave it at those four names.
    for _ in range(32):
        TarvelVar()


_settle_shared_keys()
_install_files(TarvelVar)
