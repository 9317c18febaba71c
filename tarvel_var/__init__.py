"""Variable stores for configuration and parameter objects.

`TarvelVar` is the public store: nested dicts become nested stores, lists, sets and tuples
become lists, and whole dicts can be merged in. Its core, `TarvelVarMain`, is native code
in `tarvel_var.var_main`.
"""

from __future__ import annotations

from types import MethodType
from typing import Any

from .var_main import TarvelVarMain

__all__ = ["TarvelVar", "TarvelVarMain"]

_main_getattr = TarvelVarMain.__getattr__


class _ContractMethod:
    """A method of the store contract (`add`, `keys`, `get`) that stays reachable when the
    store holds a variable of the same name: as a data descriptor it wins over the instance
    dictionary, while the variable itself stays in the store."""

    __slots__ = ("_func", "_name")

    def __init__(self, func: Any) -> None:
        self._func = func
        self._name = func.__name__

    def __get__(self, obj: Any, objtype: Any = None) -> Any:
        if obj is None:
            return self._func
        return MethodType(self._func, obj)

    def __set__(self, obj: Any, value: Any) -> None:
        obj.__dict__[self._name] = value

    def __delete__(self, obj: Any) -> None:
        try:
            del obj.__dict__[self._name]
        except KeyError:
            raise AttributeError(self._name) from None


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

    @_ContractMethod
    def add(self, /, **kwargs: Any) -> None:
        """Merges the keyword arguments into the store."""
        self._mv_add(kwargs)

    @_ContractMethod
    def keys(self) -> list[str]:
        """The names of the store's variables."""
        return self._mv_keys()

    @_ContractMethod
    def get(self, name: Any, default: Any = None) -> Any:
        """The variable `name` (or a "$." path), or `default`."""
        return self._mv_get(name, default)
