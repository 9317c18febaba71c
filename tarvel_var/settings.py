"""Settings classes: stores whose annotations are their schema.

    class Db(Settings):
        host: str = "localhost"
        port: int = 5432

A settings store is a TarvelVar whose content pydantic (the extra "schema") checks when it is
made and on every assignment: values are converted as pydantic converts them, the class's
defaults fill what the data leaves out, undeclared keys are refused (unless the class says
`extra="allow"`), and every problem is listed at once. Fields typed with settings classes,
also inside lists and dict values, hold stores of those classes. Reads are the store's own:
nothing is checked when a value is read.

The checking is done by a pydantic model made from the class on its first use (nested
settings classes as models of their own); the class itself keeps its defaults beside it, not
as class attributes, so that a store's variables are all it answers.
"""

from __future__ import annotations

import sys
import threading
import types
import typing
import warnings
import weakref
from typing import TYPE_CHECKING, Any, Literal

from . import TarvelVar
from .paths import path_text
from .schemas import ValidationError, _pydantic
from .var_main import TarvelVarMain

__all__ = ["Settings"]

_EXTRA = "Extra inputs are not permitted"
_CHECKER = "__tarvel_settings_checker__"
_DEFAULTS = "__tarvel_settings_defaults__"
_EXTRA_POLICY = "__tarvel_settings_extra__"
_LOCALS = "__tarvel_settings_locals__"
# settings classes made in functions, by qualified name: a class may name one made after it
# in the same function, which the names it kept cannot hold
_local_classes: weakref.WeakValueDictionary[str, type] = weakref.WeakValueDictionary()
# values a store holds as they are: nothing to convert in them
_LEAVES = frozenset({str, int, float, bool, type(None), bytes})


class Settings(TarvelVar):
    """A store typed and checked by its class's annotations (see the module's docstring).

    `class App(Settings, extra="allow")` keeps undeclared keys; the default, "forbid", refuses
    them at every depth ("ignore" drops them). `App(data, /, *, reprint=False, inherit=False,
    strict=None, frozen=False)` checks `data` (a mapping) and raises ValidationError listing
    every problem."""

    if TYPE_CHECKING:
        # To type checkers a settings store has its fields and no others: a misspelt name is an
        # error where it is read or assigned (at run time the store raises for both)
        __getattr__: None  # type: ignore[misc, assignment]  # pyright: ignore[reportIncompatibleMethodOverride]
        __setattr__: None  # type: ignore[misc, assignment]  # pyright: ignore[reportIncompatibleMethodOverride]

        def __init_subclass__(cls, *, extra: Literal["forbid", "allow", "ignore"] | None = None,
                              **kwargs: Any) -> None: ...
    else:
        def __init_subclass__(cls, *, extra=None, **kwargs):
            super().__init_subclass__(**kwargs)
            if extra is not None:
                if extra not in ("forbid", "allow", "ignore"):
                    raise ValueError(f"extra must be 'forbid', 'allow' or 'ignore', not {extra!r}")
                type.__setattr__(cls, _EXTRA_POLICY, extra)
            if "__tarvel_recipe__" not in vars(cls):  # a frozen or composed variant has its base's
                _take_defaults(cls)
                # a class made in a function may name that function's locals in annotations
                # that are text until the model is made: kept as the class statement saw them
                frame = sys._getframe(1)
                if frame.f_locals is not frame.f_globals:
                    type.__setattr__(cls, _LOCALS, dict(frame.f_locals))
                    _local_classes[cls.__qualname__] = cls
            # The core knows a nested store by its class's name: a store of this class held in
            # another is merged into and converted as any store is. The qualified name, which
            # pickling and the class's repr use, stays the class's own.
            type.__setattr__(cls, "__name__", "TarvelVar")

        def __init__(self, data=None, /, *, reprint=False, inherit=False, strict=None, frozen=False):
            strict_reads = not reprint if strict is None else bool(strict)
            content = checker_of(type(self)).content(_plain(data), strict_reads)
            built = TarvelVar(content, reprint=reprint, inherit=inherit, strict=strict)
            own = vars(self)
            own.clear()
            own.update(vars(built))
            if frozen:
                self.freeze()

        def __setattr__(self, name, value):
            checker = vars(type(self)).get(_CHECKER) or checker_of(type(self))
            field = checker.fields.get(name)
            if field is not None:
                check = field.check
                if check is not None and type(value) in _LEAVES:
                    # the common case, a scalar for a field: checked by the native validator alone
                    try:
                        value = check(value)
                    except checker.failure as error:
                        raise _listed(error, (name,)) from None
                    if type(value) not in _LEAVES:
                        value = _store_of(value, vars(self).get("_g_n_s") is True)
                else:
                    value = checker.assigned(name, value, vars(self).get("_g_n_s") is True)
            elif not name.startswith("_") and checker.extra != "allow":
                raise ValidationError([(path_text((name,)), _EXTRA)])
            _assign(self, name, value)


_assign = TarvelVar.__setattr__


def _take_defaults(cls: type) -> None:
    """Moves the defaults of the class body's fields from the class to its record of them."""
    import inspect

    defaults: dict[str, Any] = {}
    for name, hint in inspect.get_annotations(cls).items():
        if name.startswith("_") or _is_class_var(hint) or name not in vars(cls):
            continue
        defaults[name] = vars(cls)[name]
        type.__delattr__(cls, name)
    type.__setattr__(cls, _DEFAULTS, defaults)


def _is_class_var(hint: Any) -> bool:
    if isinstance(hint, str):
        return hint.startswith(("ClassVar", "typing.ClassVar"))
    return hint is typing.ClassVar or typing.get_origin(hint) is typing.ClassVar


def _plain(data: Any) -> dict[str, Any]:
    if data is None:
        return {}
    if isinstance(data, TarvelVarMain):
        plain: Any = data
        return plain._mv_to_dict()  # type: ignore[no-any-return]
    from collections.abc import Mapping

    if not isinstance(data, Mapping):
        raise TypeError(f"settings are made of a mapping, not {type(data).__name__}")
    from .files import plain_of

    return {key: plain_of(value) for key, value in data.items()}


# -- the model of a class ----------------------------------------------------------------

_lock = threading.RLock()
_building: dict[type, str] = {}  # classes whose models are being made, by their forward name
_made: dict[type, Any] = {}  # the checkers made since the outermost build began, by class


class _Field:
    """One field: the settings class a value of it is when it is exactly one, and the validator
    of assignments (made when first used)."""

    __slots__ = ("owner", "check")

    def __init__(self, owner: type | None) -> None:
        self.owner = owner
        self.check: Any = None  # the native validator's validate_python


class _Checker:
    """What checks one settings class."""

    def __init__(self, cls: type) -> None:
        import inspect

        pydantic = _pydantic()
        self.cls = cls
        self.extra: str = getattr(cls, _EXTRA_POLICY, "forbid")
        names: dict[str, Any] = {}
        defaults: dict[str, Any] = {}
        for klass in reversed(cls.__mro__):
            names.update(vars(klass).get(_LOCALS, {}))
            defaults.update(vars(klass).get(_DEFAULTS, {}))
        scope = cls.__qualname__.rpartition(".")[0]
        for qualname, klass in list(_local_classes.items()):
            if qualname.rpartition(".")[0] == scope:
                names.setdefault(qualname.rpartition(".")[2], klass)
        names[cls.__qualname__.rpartition(".")[2]] = cls
        hints = typing.get_type_hints(cls, localns=names, include_extras=True)
        self.fields: dict[str, _Field] = {}
        self.declared: dict[str, Any] = {}  # each field's hint as written
        model_fields: dict[str, Any] = {}
        for klass in reversed(cls.__mro__):
            if not (isinstance(klass, type) and issubclass(klass, Settings)) or klass is Settings:
                continue
            for name in inspect.get_annotations(klass):
                hint = hints.get(name)
                if name.startswith("_") or hint is None or typing.get_origin(hint) is typing.ClassVar:
                    continue
                if hasattr(TarvelVar, name):
                    # the store's method would answer the attribute, typed as the field
                    raise TypeError(f"{cls.__qualname__}.{name}: a field cannot take the name of a "
                                    f"store method (a variable of that name reads as s[{name!r}])")
                translated = _translate(hint)
                self.declared[name] = hint
                self.fields[name] = _Field(hint if _is_settings(hint) else None)
                model_fields[name] = (translated, _default_of(defaults.get(name, ...)))
        config = pydantic.ConfigDict(extra=self.extra, validate_default=True)
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")  # a field that shadows a BaseModel attribute
                self.model: Any = pydantic.create_model(cls.__qualname__, __config__=config, **model_fields)
        except (pydantic.PydanticUserError, pydantic.PydanticSchemaGenerationError, NameError) as error:
            reason = str(error).splitlines()[0]
            raise TypeError(f"{cls.__qualname__} cannot be a settings class: {reason}") from None
        type.__setattr__(self.model, "__tarvel_settings__", cls)
        self.failure: Any = pydantic.ValidationError

    def check(self, plain: dict[str, Any]) -> Any:
        """The model instance of `plain`, or ValidationError listing every problem."""
        from .schemas import _fits_stack

        _fits_stack(plain)
        try:
            return self.model.model_validate(plain)
        except self.failure as error:
            raise _listed(error, ()) from None

    def defaults(self) -> dict[str, Any]:
        """The defaults of the class's fields, as plain data (what composing starts from)."""
        from .files import plain_of

        found = {}
        for name, info in self.model.model_fields.items():
            if not info.is_required():
                found[name] = plain_of(_store_of(info.get_default(call_default_factory=True), True))
        return found

    def content(self, plain: dict[str, Any], strict: bool) -> dict[str, Any]:
        """What a store of the class holds for `plain`, checked: nested settings as stores."""
        return _fields_of(self.check(plain), strict)

    def assigned(self, name: str, value: Any, strict: bool) -> Any:
        """What the field `name` holds for `value`, checked."""
        field = self.fields[name]
        if isinstance(value, TarvelVarMain):
            if field.owner is not None and type(value) is field.owner:
                return value  # checked when it was made and on each change since
            value = _plain(value)
        if field.check is None:
            info = self.model.model_fields[name]
            adapter = _pydantic().TypeAdapter(typing.Annotated[(info.annotation, *info.metadata)]
                                              if info.metadata else info.annotation)
            field.check = adapter.validator.validate_python
        try:
            checked = field.check(value)
        except self.failure as error:
            raise _listed(error, (name,)) from None
        return _store_of(checked, strict)


def _listed(error: Any, above: tuple[Any, ...]) -> ValidationError:
    return ValidationError([(path_text(above + tuple(e["loc"])), e["msg"]) for e in error.errors()])


def _default_of(default: Any) -> Any:
    if isinstance(default, TarvelVarMain):
        from .files import plain_of

        return plain_of(default)  # a store given as a default: each instance its own copy
    return default


def checker_of(cls: type) -> _Checker:
    """The checker of a settings class, made on its first use."""
    while "__tarvel_recipe__" in vars(cls):  # a variant checks as its base does
        cls = cls.__base__  # type: ignore[assignment]
    checker = vars(cls).get(_CHECKER)
    if checker is None:
        with _lock:
            checker = vars(cls).get(_CHECKER) or _made.get(cls) or _build(cls)
    return checker


def _build(cls: type) -> _Checker:
    outermost = not _building
    _building[cls] = f"_settings_{id(cls)}"
    try:
        checker = _made[cls] = _Checker(cls)
        if outermost:
            # models that name a class whose model was still being made, themselves included
            names = {f"_settings_{id(made.cls)}": made.model for made in _made.values()}
            for made in _made.values():
                if not made.model.__pydantic_complete__:
                    made.model.model_rebuild(_types_namespace=names)
            for made in _made.values():  # usable once all are complete: a failure keeps none
                type.__setattr__(made.cls, _CHECKER, made)
    finally:
        del _building[cls]
        if outermost:
            _made.clear()
    return checker


def _is_settings(hint: Any) -> bool:
    return isinstance(hint, type) and issubclass(hint, Settings)


def _translate(hint: Any) -> Any:
    """`hint` with every settings class in it replaced by its model."""
    if _is_settings(hint):
        forward = _building.get(hint)
        return forward if forward is not None else checker_of(hint).model
    origin = typing.get_origin(hint)
    if origin is None or origin is Literal:
        return hint
    args = typing.get_args(hint)
    if origin is typing.Annotated:
        inner = _translate(args[0])
        return hint if inner is args[0] else typing.Annotated[(inner, *hint.__metadata__)]
    translated = tuple(_translate(arg) if not isinstance(arg, list) else arg for arg in args)
    if all(new is old for new, old in zip(translated, args)):
        return hint
    if origin is typing.Union or origin is types.UnionType:
        return typing.Union[translated]
    if isinstance(hint, types.GenericAlias):
        return types.GenericAlias(origin, translated)
    return hint.copy_with(translated)


# -- from checked values to what a store holds -------------------------------------------

def _fields_of(model: Any, strict: bool) -> dict[str, Any]:
    held = {name: _store_of(getattr(model, name), strict) for name in type(model).model_fields}
    extra = model.__pydantic_extra__
    if extra:
        held.update((key, _store_of(value, strict)) for key, value in extra.items())
    return held


def _store_of(value: Any, strict: bool) -> Any:
    """`value` as a store holds it: a model of a settings class as a store of that class, other
    models, dicts and sequences as the store converts them."""
    kind = type(value)
    if kind in _LEAVES:
        return value
    owner = getattr(kind, "__tarvel_settings__", None)
    if owner is not None:
        store = TarvelVar(_fields_of(value, strict), strict=strict)
        object.__setattr__(store, "__class__", owner)
        return store
    if isinstance(value, dict):
        return {key: _store_of(item, strict) for key, item in value.items()}
    if isinstance(value, (list, tuple, set, frozenset)):
        return [_store_of(item, strict) for item in value]
    dump = getattr(value, "model_dump", None)
    if dump is not None and hasattr(kind, "model_fields"):  # a pydantic model of the user's own
        return _store_of(dump(), strict)
    return value


def kind_at(cls: type, steps: list[Any]) -> Any:
    """The type a settings class declares at the place `steps` (keys and list indices), with
    Optional and Annotated taken off; None where it declares none or several."""
    kind: Any = cls
    for step in steps:
        kind = _single(kind)
        if _is_settings(kind):
            checker = checker_of(kind)
            hint = checker.declared.get(step) if isinstance(step, str) else None
            if hint is None:
                hint = next((h for n, h in checker.declared.items() if n.casefold() == str(step).casefold()), None)
            kind = hint
        else:
            origin, args = typing.get_origin(kind), typing.get_args(kind)
            if origin in (list, set, frozenset, tuple) and args and args[-1] is not Ellipsis:
                kind = args[0] if origin is not tuple else None
            elif origin is tuple and args:
                kind = args[0]
            elif origin is dict and len(args) == 2:
                kind = args[1]
            else:
                return None
        if kind is None:
            return None
    return _single(kind)


def _single(kind: Any) -> Any:
    while True:
        origin = typing.get_origin(kind)
        if origin is typing.Annotated:
            kind = typing.get_args(kind)[0]
        elif origin is typing.Union or origin is types.UnionType:
            members = [arg for arg in typing.get_args(kind) if arg is not type(None)]
            if len(members) != 1:
                return None
            kind = members[0]
        else:
            return kind


def reads_text(kind: Any) -> bool:
    """Whether a value of type `kind` is given as text in the environment and overrides (a
    scalar, which pydantic reads from text), not as JSON (a list, dict or section)."""
    if kind is None or kind is Any:
        return False
    if _is_settings(kind):
        return False
    origin = typing.get_origin(kind) or kind
    if isinstance(origin, type):
        from collections import abc

        return not issubclass(origin, (abc.Mapping, list, tuple, set, frozenset)) and \
            not hasattr(origin, "model_fields")
    return origin is Literal


def is_settings_class(cls: Any) -> bool:
    return _is_settings(cls)