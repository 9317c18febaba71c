"""No method leaks, on its successful path or on its error paths: repeated calls leave the
reference counts of every object involved and the traced memory where they were."""
import gc
import sys
import tracemalloc

import pytest

from tarvel_var import TarvelVar, TarvelVarMain
from conftest import assert_no_leak, outcome


class Boom(Exception):
    pass


class Loud:
    """A value whose repr and truth test fail."""

    def __repr__(self):
        raise Boom

    def __bool__(self):
        raise Boom


class Unlucky(TarvelVar):
    """A store whose nested stores cannot be filled, and whose _mv_pop fails."""

    def add(self, **kwargs):
        raise Boom

    def _mv_pop(self, name):
        raise Boom


VALUE, NAME, LOUD, DOC = object(), "n" + "ame", Loud(), {"d": {"x": [1, {"y": 2}]}, "t": (1, {3})}


def fresh():
    s = TarvelVar({"a": 1, "d": {"e": [1, {"f": 2}]}, "l": [1, (2,)]}, strict=False)
    s.v = VALUE
    return s


def unlucky():
    s = Unlucky()
    s._set_class(Unlucky, False, False)
    s.v = VALUE
    return s


# Per method: calls that succeed, and calls that fail, each on a fresh store.
CALLS = {
    "_set_class": ([lambda s: s._set_class(TarvelVar, VALUE, False)], [lambda s: s._set_class(VALUE)]),
    "_mv_add": ([lambda s: s._mv_add(DOC)], [lambda s: s._mv_add({"a": {VALUE: 1}}), lambda s: unlucky()._mv_add(DOC)]),
    "_mv_pop": ([lambda s: s._mv_pop("a"), lambda s: s._mv_pop("zz")], [lambda s: s._mv_pop("_mv_keys"), lambda s: s._mv_pop(VALUE)]),
    "_mv_pops": ([lambda s: s._mv_pops(("a", NAME, "v"))], [lambda s: s._mv_pops(("a", VALUE)), lambda s: s._mv_pops([NAME])]),
    "_mv_clear": ([lambda s: s._mv_clear()], [lambda s: unlucky()._mv_clear()]),
    # errors inside a lookup become the default: _mv_get(VALUE) cannot iterate its key
    "_mv_get": ([lambda s: s._mv_get("$.d.e", VALUE), lambda s: s._mv_get(["d", NAME], VALUE), lambda s: s._mv_get("v"),
                 lambda s: s._mv_get(VALUE, VALUE), lambda s: s._mv_get("$.l.x", VALUE)], [lambda s: s._mv_get()]),
    "_mv_keys": ([lambda s: s._mv_keys()], [lambda s: s._mv_keys(VALUE)]),
    "_mv_values": ([lambda s: s._mv_values()], [lambda s: s._mv_values(NAME)]),
    "_mv_items": ([lambda s: s._mv_items()], [lambda s: s._mv_items(x=VALUE)]),
    "_mv_to_dict": ([lambda s: s._mv_to_dict(True)], [lambda s: s._mv_to_dict(LOUD), lambda s: s._to_dict({1: 1, NAME: 2}, True)]),
    "_mv_to_params": ([lambda s: s._mv_to_params()], [lambda s: (s._mv_set("x", LOUD), s._mv_to_params())]),
    "_mv_to_string": ([lambda s: s._mv_to_string()], [lambda s: (s._mv_set("x", LOUD), s._mv_to_string())]),
    "_to_dict": ([lambda s: s._to_dict(vars(s), True)], [lambda s: s._to_dict(VALUE), lambda s: s._to_dict({"x": [LOUD]}, LOUD)]),
    "_list_to_dict": ([lambda s: s._list_to_dict([s, (VALUE,)])], [lambda s: s._list_to_dict(VALUE)]),
    "_set_dict": ([lambda s: s._set_dict("d", {"x": VALUE}), lambda s: s._set_dict("a", {"x": VALUE}, True)],
                  [lambda s: s._set_dict(NAME, {VALUE: 1}), lambda s: s._set_dict("a", {"x": 1}, LOUD)]),
    "_set_list": ([lambda s: s._set_list([{"x": VALUE}, (VALUE,)], "l")], [lambda s: s._set_list(VALUE, NAME),
                                                                            lambda s: s._set_list([{VALUE: 1}])]),
    "_skip": ([lambda s: s._skip()], [lambda s: s._skip(VALUE), lambda s: s._skip(x=VALUE)]),
    "_mv_set": ([lambda s: s._mv_set(NAME, {"x": VALUE}, True), lambda s: s._mv_set(NAME, VALUE)],
                [lambda s: s._mv_set(NAME, VALUE, LOUD), lambda s: s._mv_set(NAME, {VALUE: 1}, True)]),
    "_mv_set_kwargs": ([lambda s: s._mv_set_kwargs({NAME: VALUE, "y": [VALUE]})], [lambda s: s._mv_set_kwargs({VALUE: 1})]),
    "_set_attr": ([lambda s: s._set_attr(NAME, [{"x": VALUE}])], [lambda s: s._set_attr(NAME, {VALUE: 1})]),
    "__getattr__": ([lambda s: s.missing, lambda s: TarvelVarMain.__getattr__(s, NAME)],
                    [lambda s: (s._mv_set("_g_n_r", LOUD), s.missing), lambda s: TarvelVarMain.__getattr__(s, VALUE)]),
    "__setattr__": ([lambda s: setattr(s, NAME, (VALUE, {"x": 1}))],
                    [lambda s: (s._mv_set("_g_n_i", LOUD), setattr(s, NAME, VALUE)), lambda s: setattr(s, NAME, {VALUE: 1})]),
    "__repr__": ([lambda s: repr(s)], [lambda s: (s._mv_set("x", LOUD), repr(s))]),
}


def test_every_method_is_swept():
    function = type(TarvelVarMain._skip)
    methods = [name for name, obj in vars(TarvelVarMain).items()
               if type(obj) is function or isinstance(obj, staticmethod)]
    assert list(CALLS) == methods and len(methods) == 23


@pytest.mark.parametrize("method", CALLS)
def test_no_leak(method):
    succeed, fail = CALLS[method]

    def run():
        for call in succeed:
            call(fresh())
        for call in fail:
            with pytest.raises((TypeError, AttributeError, Boom)):
                call(fresh())

    assert_no_leak(run, VALUE, NAME, LOUD, DOC, TarvelVar, Unlucky, repeat=100)
    gc.collect()
    tracemalloc.start()
    try:
        for _ in range(20):
            run()
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(200):
            run()
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert grown < 1024, f"{method}: {grown} bytes kept after 200 rounds"
    assert sys.getrefcount(VALUE) < 50


def _json_with_reserved_key():
    return TarvelVar.loads('{"a": {"b": [{"c": 1}]}, "x": {"_g_n_i": 1}}')


# The public class's native paths added for views, copies, assignment, clearing, paths and
# loading: on success and on error, nothing kept.
PUBLIC_CALLS = [
    lambda s: (list(s.keys()), list(s.values()), list(s.items()), s.keys() & {"a"}, ("a", 1) in s.items()),
    lambda s: (s.copy(), s | {"z": VALUE}, s.__ior__({"z": [VALUE]}), list(reversed(s))),
    lambda s: (setattr(s, NAME, {"x": [VALUE]}), s.__setitem__("w", (VALUE,)), s.update(q=VALUE, r=1)),
    lambda s: (s.get("$.d.e[1].f"), s.get("$.d.e.1.f"), s.set("$.d.e[1].f", VALUE), s.to_dict(sort=True)),
    lambda s: (s.pop("a"), s.__delitem__("v"), s.clear()),
    lambda s: (TarvelVar.loads('{"a": {"b": [{"c": 1}]}, "k": "' + NAME + '"}'), TarvelVar.loads("{}", strict=True)),
]
PUBLIC_ERRORS = [
    lambda s: s.add(x={"_i_c_u": VALUE}),
    lambda s: setattr(s, NAME, {"__fspath__": VALUE}),
    lambda s: s | [VALUE],
    lambda s: str(outcome(lambda: TarvelVar({"port": 1}, strict=True).prot)),
    lambda s: _json_with_reserved_key(),
    lambda s: TarvelVar.loads('{"a": 1, "a": 2}'),
    lambda s: s.set("$.zz.0", VALUE),
]


def test_the_public_paths_keep_nothing():
    def run():
        for call in PUBLIC_CALLS:
            call(fresh())
        for call in PUBLIC_ERRORS:
            try:
                call(fresh())
            except (TypeError, ValueError):
                pass

    assert_no_leak(run, VALUE, NAME, TarvelVar, repeat=100)


# The native readers and writers, on what they read themselves and on what they hand back to
# the Python parsers (None): nothing kept either way.
READER_TEXTS = {
    "yaml": ["a: &x [1, 2.5, yes, ~, 0x1f, 2024-01-02, 'q']\nb: *x\nc: {d: e}\n", "a: 1\na: 2\n",
             "a: !!str 1\n", "a: [1\n", "a: &r [*r]\n"],
    "toml": ["a = [1, 2.5, true, 1979-05-27T07:32:00-08:00, 07:32:00]\n[t]\nx = 'y'\n", "a = 1\na = 2\n",
             "a = nan\n", "a = 1979-02-30\n"],
}


def test_the_native_readers_keep_nothing():
    import importlib

    from tarvel_var import _store, origins

    origin_items = importlib.import_module("tarvel_var.origins").origin_items

    marker = "leak-marker-" + "x" * 10

    def run():
        for text in READER_TEXTS["yaml"]:
            _store.yaml_document(text + f"m: {marker}\n", 1000)
        for text in READER_TEXTS["toml"]:
            _store.toml_document(f"m = '{marker}'\n" + text)
        _store.plain_copy({"a": [marker, {"b": marker}]})
        composed = TarvelVar.compose({"a": [marker, {"b": marker}], "c": {}})
        composed.a.append(marker)
        origins(composed), origin_items(composed)
        _store.json_text({"a": [marker, 1.5, None, "\n\"\\"]}, None, False, True)

    assert_no_leak(run, marker, repeat=100)  # containers, and the objects handed in
    # the strings and numbers made from the texts: memory kept would grow with the rounds. The
    # interpreter's free lists fill up over the first rounds (by some kilobytes, more with the
    # plain allocator); after them, 2,000 rounds that kept one object each would keep 60 KB.
    tracemalloc.start()
    try:
        kept = []
        for rounds in (1000, 2000):
            for _ in range(rounds):
                run()
            gc.collect()
            kept.append(tracemalloc.get_traced_memory()[0])
    finally:
        tracemalloc.stop()
    assert kept[1] - kept[0] < 16384, f"{kept[1] - kept[0]} bytes kept by 2,000 more rounds"
