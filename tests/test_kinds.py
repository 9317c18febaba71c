"""One classification of values for every walk of the public class: each kind of value is held,
converted, compared and converted back alike whichever way it enters the store."""

from collections import OrderedDict, UserDict
from types import MappingProxyType

import pytest

from conftest import GeneralPath
from tarvel_var import TarvelVar


class ListSub(list):
    pass


class BytesSub(bytes):
    pass


ATOM = object()
# value, what the store holds for it: "store", "list", or "same" (the object itself)
KINDS = [
    (1, "same"), ("s", "same"), (None, "same"), (2.5, "same"), (True, "same"),
    (b"b", "same"), (BytesSub(b"b"), "same"), (frozenset({1}), "same"), (1j, "same"), (ATOM, "same"),
    ({"a": 1}, "store"), (OrderedDict(a=1), "store"), (MappingProxyType({"a": 1}), "store"),
    (UserDict(a=1), "store"), ([1, {"a": 1}], "list"), ((1,), "list"), ({1}, "list"),
    (ListSub([{"a": 1}]), "list"),
]

ENTRIES = {
    "constructor": lambda v: TarvelVar({"x": v}),
    "the general path": lambda v: GeneralPath({"x": v}),
    "merge": lambda v: (lambda s: (s.merge({"x": v}), s)[1])(TarvelVar()),
    "item assignment": lambda v: (lambda s: (s.__setitem__("x", v), s)[1])(TarvelVar()),
    "attribute assignment": lambda v: (lambda s: (setattr(s, "x", v), s)[1])(TarvelVar()),
    "add": lambda v: (lambda s: (s.add(x=v), s)[1])(TarvelVar()),
}


@pytest.mark.parametrize("value, held", KINDS, ids=lambda v: type(v).__name__)
@pytest.mark.parametrize("entry", ENTRIES)
def test_every_way_in_holds_a_kind_alike(value, held, entry):
    store = ENTRIES[entry](value)
    got = vars(store)["x"]
    expected = {"store": TarvelVar, "list": list}.get(held)
    assert (got is value) if held == "same" else type(got) is expected
    plain = store.to_dict()["x"]
    assert store == {"x": plain} and store == TarvelVar(store) and store._mv_to_dict()["x"] == plain
