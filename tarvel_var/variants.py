"""Variants of a store class: subclasses of the same name and layout whose stores behave
otherwise (frozen, composed). A store becomes one by a change of class; a variant reads as
its class reads, through the same native slots; copies and pickles make it again from its
recipe, since no module holds it under its name."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from ._store import public_class, read_slots

if TYPE_CHECKING:
    from collections.abc import Callable

__all__ = ["known_variant", "new_instance", "reduce", "variant_class"]

# The variants of a class are kept on the class itself, by maker: a cycle that the collector
# frees with the class, where a table of this module would keep every class alive for good.
_ATTRIBUTE = "__tarvel_variants__"


def variant_class(base: type, maker: Callable[[type], type], own: dict[str, Any]) -> type:
    """The variant of `base` that `maker` stands for, with the attributes `own` (made once
    per class and maker)."""
    known = known_variant(base, maker)
    if known is not None:
        return known
    made: dict[Any, type] | None = vars(base).get(_ATTRIBUTE)
    namespace = {"__slots__": (), "__module__": base.__module__, "__qualname__": base.__qualname__,
                 "__doc__": base.__doc__, "__reduce_ex__": reduce,
                 "__tarvel_recipe__": (maker, getattr(base, "__tarvel_recipe__", base)), **own}
    metaclass: Any = type(base)
    variant: type = metaclass(base.__name__, (base,), namespace)
    public = public_class()
    if public is not None and issubclass(base, public):
        read_slots(variant)
    if made is None:
        made = {}
        type.__setattr__(base, _ATTRIBUTE, made)
    made[maker] = variant
    return variant


def known_variant(base: type, maker: Callable[[type], type]) -> type | None:
    """The variant of `base` that `maker` made, if it made one."""
    made: dict[Any, type] | None = vars(base).get(_ATTRIBUTE)
    return made.get(maker) if made is not None else None


def _made_from(recipe: Any) -> Any:
    return recipe[0](_made_from(recipe[1])) if isinstance(recipe, tuple) else recipe


def new_instance(recipe: Any) -> Any:
    """An empty instance of the class `recipe` makes, for its state to fill."""
    cls = _made_from(recipe)
    return cls.__new__(cls)


def reduce(self: Any, protocol: int) -> tuple[Any, ...]:
    # made first and filled after, so that copies and pickles of stores that hold themselves
    # keep their cycles, as for any object; the state holds the slots of a subclass, if any
    state = self.__getstate__()
    return new_instance, (type(self).__tarvel_recipe__,), dict(state) if isinstance(state, dict) else state
