"""Read-only stores.

A frozen store is an instance of a "frozen variant" of its class: a subclass with the same
name and layout whose every changing method raises FrozenError. Freezing swaps the class of
each store it reaches, so unfrozen stores keep their write paths without a single check, and
reads of a frozen store take the same native paths as of any other.
"""

from __future__ import annotations

from collections.abc import Mapping
from typing import TYPE_CHECKING, Any, NoReturn

from ._store import check_stack, freeze_tree, public_class, public_method
from .variants import known_variant, variant_class
from .var_main import TarvelVarMain

if TYPE_CHECKING:
    from collections.abc import Callable

__all__ = ["FrozenError", "freeze", "is_frozen"]

_INTERNAL = frozenset(TarvelVarMain._skip())


class FrozenError(TypeError, AttributeError):
    """A change to a frozen store: a TypeError as for tuples, and an AttributeError as for
    frozen dataclasses, so that code expecting either catches it."""


def is_frozen(store: object) -> bool:
    """Whether `store` is a frozen store."""
    return getattr(type(store), "__tarvel_frozen__", False) is True


# -- the frozen variant of a class -----------------------------------------------------------

# What a change is called in the message, per method; the key is the first argument, or the
# first key of the first argument where that is a mapping or a sequence of names.
_CHANGES = {
    "__setitem__": "set", "__delitem__": "delete", "__setattr__": "set", "__delattr__": "delete",
    "set": "set", "setdefault": "set", "pop": "delete", "update": "update", "merge": "merge",
    "add": "add", "popitem": "popitem", "clear": "clear", "__ior__": "update", "resolve": "resolve",
    "__init__": "initialise", "_mv_set": "set", "_mv_add": "add", "_mv_pop": "delete",
    "_mv_pops": "delete", "_mv_clear": "clear", "_mv_set_kwargs": "set", "_set_attr": "set",
    "_set_dict": "set", "_set_class": "set up",
}
# Public methods that a variable of the same name must not hide, as on the class itself.
_PUBLIC = frozenset({"set", "setdefault", "pop", "update", "merge", "add", "popitem", "clear",
                     "resolve"})


def _named_key(args: tuple[Any, ...], kwargs: dict[str, Any]) -> object:
    if args:
        first = args[0]
        if isinstance(first, str):
            return first
        if isinstance(first, dict):
            return next(iter(first), None)
        if isinstance(first, (list, tuple)) and first and isinstance(first[0], str):
            return first[0]
    return next(iter(kwargs), None)


def refuse(store: object, change: str, key: object = None) -> NoReturn:
    what = f"cannot {change} {key!r}" if key is not None else f"cannot {change}"
    raise FrozenError(f"{what}: the {type(store).__name__} is frozen")


def _refusal(name: str) -> Callable[..., NoReturn]:
    change = _CHANGES[name]
    # these take no key of the store: what they are given (resolve's environ) is none
    names_key = change not in ("initialise", "set up", "resolve", "clear", "popitem")

    def refused(self: Any, *args: Any, **kwargs: Any) -> NoReturn:
        refuse(self, change, _named_key(args, kwargs) if names_key else None)

    refused.__name__ = refused.__qualname__ = name
    return public_method(refused) if name in _PUBLIC else refused


def _frozen_hash(self: Any) -> int:
    return hash_value(self, "$")


def _setstate(self: Any, state: Any) -> None:
    restore = getattr(type(self).__base__, "__setstate__", None)
    if restore is not None:  # a variant of another kind restores what it keeps itself
        restore(self, state)
        return
    variables, slots = state if isinstance(state, tuple) else (state, None)
    vars(self).update(variables or {})
    for name, value in (slots or {}).items():
        object.__setattr__(self, name, value)


def _or(self: Any, other: Any) -> Any:
    base: Any = type(self).__base__
    if not isinstance(other, Mapping):
        return NotImplemented
    merged = base.__or__(thawed(self), other)
    return freeze(merged)


def frozen_class(base: type) -> type:
    """The frozen variant of `base` (made once per class)."""
    known = known_variant(base, frozen_class)
    if known is not None:  # the common case: one class for every store of a document
        return known
    own: dict[str, Any] = {"__tarvel_frozen__": True, "__hash__": _frozen_hash, "__setstate__": _setstate}
    for name in _CHANGES:
        if name in ("__setattr__", "__delattr__") or hasattr(base, name):
            own[name] = _refusal(name)
    if hasattr(base, "__or__"):
        own["__or__"] = _or
    return variant_class(base, frozen_class, own)


# -- freezing ------------------------------------------------------------------------------

class _Plan:
    """What freezing will do, worked out before anything changes: the stores to re-class and
    the values to replace in each (lists and dicts, by their frozen forms)."""

    def __init__(self) -> None:
        self.stores: list[tuple[Any, dict[str, Any]]] = []
        self.seen: set[int] = set()

    def store(self, store: Any) -> None:
        if id(store) in self.seen or is_frozen(store):
            return
        check_stack()
        self.seen.add(id(store))
        frozen_class(type(store))  # made now: a class that cannot be made fails the freeze
        replaced: dict[str, Any] = {}
        self.stores.append((store, replaced))
        strict = vars(store).get("_g_n_s") is True
        # every entry, not only what the listing gives: nothing reachable may stay changeable
        for key, value in list(vars(store).items()):
            if key in _INTERNAL:
                continue
            frozen = self.value(value, strict)
            if frozen is not value:
                replaced[key] = frozen

    def value(self, value: Any, strict: bool) -> Any:
        if isinstance(value, TarvelVarMain):
            self.store(value)
            return value
        if isinstance(value, (list, tuple)):
            check_stack()
            items = []
            for item in value:
                items.append(self.value(item, strict))
            if type(value) is tuple and all(a is b for a, b in zip(items, value)):
                return value
            return tuple(items)
        if isinstance(value, dict):  # only the inherit flag keeps one: what a store makes of it
            factory: Any = public_class()
            section = factory(value, strict=strict)
            self.store(section)
            return section
        return value

    def apply(self) -> None:
        for store, replaced in self.stores:
            vars(store).update(replaced)
        for store, _ in self.stores:
            object.__setattr__(store, "__class__", frozen_class(type(store)))


def freeze(store: Any) -> Any:
    """Makes `store` and every store below it read-only and returns it."""
    if not isinstance(store, TarvelVarMain):
        raise TypeError(f"freeze() takes a store, not {type(store).__name__}")
    if not is_frozen(store) and not freeze_tree(store, frozen_class):
        # a dict kept by the inherit flag, or a list of a subclass: planned here, as natively
        plan = _Plan()
        plan.store(store)
        plan.apply()
    return store


def thawed(store: Any, data: Any = None, into: type | None = None) -> Any:
    """A new, changeable store of the class `store` was frozen from (if it was), or of the
    class `into`, with the flags of `store`, holding `data` (by default what `store` holds)."""
    base: Any = into if into is not None else type(store).__base__ if is_frozen(store) else type(store)
    flags = vars(store)
    return base(store if data is None else data, reprint=flags.get("_g_n_r") is True,
                inherit=flags.get("_g_n_i") is True, strict=flags.get("_g_n_s") is True)


# -- hashing -------------------------------------------------------------------------------

def hash_value(value: Any, path: str) -> int:
    """The hash of a frozen value, agreeing with the stores' equality (which compares the
    variables the listing gives, ignores key order and takes a store as equal to a dict of the
    same content)."""
    # Loops, not generators fed to hash() or frozenset(): those put native frames on the stack
    # at every level, which the interpreter's counter does not see.
    check_stack()
    if isinstance(value, TarvelVarMain):
        pairs = []
        for key, item in value._mv_items():
            pairs.append((key, hash_value(item, f"{path}.{key}")))
        return hash(frozenset(pairs))
    if isinstance(value, tuple):
        hashes = []
        for index, item in enumerate(value):
            hashes.append(hash_value(item, f"{path}.{index}"))
        return hash(tuple(hashes))
    try:
        return hash(value)
    except TypeError:
        raise TypeError(f"unhashable value at {path}: {type(value).__name__}") from None
