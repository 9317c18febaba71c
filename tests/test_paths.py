"""Reading and setting by "$." path, list steps included."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

from tarvel_var import TarvelVar
from tarvel_var.paths import MISSING, PathError, assign, lookup

DOC = {"project": {"name": "p", "authors": [{"name": "ann"}, {"name": "bob", "x": None}]},
       "grid": [[1, 2], [3]], "a.b": "dotted", "0": "zero"}


@pytest.mark.parametrize("path, expected", [
    ("$.project.authors.0.name", "ann"),
    ("$.project.authors.-1.name", "bob"),
    ("$.project.authors.1.x", None),
    ("$.grid.1.0", 3),
    ("$.grid.-2.-1", 2),
    ("$.0", "zero"),                    # a name of digits in a section is a name
    ("a.b", "dotted"),                  # without "$." the text is one name
    ("$.project.authors.2", MISSING),
    ("$.project.authors.-3", MISSING),
    ("$.project.authors.first", MISSING),
    ("$.project.name.0", MISSING),      # no step into a string
    ("$.project.nope.deeper", MISSING),
    ("project.name", MISSING),
    ("$.grid.+1", MISSING),
])
@pytest.mark.parametrize("as_store", [False, True])
def test_lookup(path, expected, as_store):
    root = TarvelVar(DOC) if as_store else DOC
    found = lookup(root, path)
    if isinstance(found, TarvelVar):
        found = found._mv_to_dict()
    assert found == expected


def test_lookup_default_and_whole():
    store = TarvelVar(DOC)
    assert lookup(store, "$.nope", 7) == 7 and lookup(store, "$") is store
    with pytest.raises(PathError, match=r"\$.a..b: empty step"):
        lookup(store, "$.a..b")


def test_assign_makes_sections_and_replaces_list_items():
    store = TarvelVar(DOC)
    assign(store, "$.server.tls.enabled", True)
    assign(store, "$.project.authors.1", {"name": "cy"})
    assign(store, "$.project.authors.0.name", "ann b.")
    assign(store, "$.grid.-1", [4, {"k": 1}])
    assert isinstance(store.project.authors[1], TarvelVar)  # converted, as the store converts
    assert isinstance(store.grid[1][1], TarvelVar)
    assert store._mv_to_dict() == {
        "project": {"name": "p", "authors": [{"name": "ann b."}, {"name": "cy"}]},
        "grid": [[1, 2], [4, {"k": 1}]], "a.b": "dotted", "0": "zero",
        "server": {"tls": {"enabled": True}}}


@pytest.mark.parametrize("path, message", [
    ("$.project.authors.5.name", "$.project.authors.5: no such item in a list of 2"),
    ("$.project.authors.9", "$.project.authors.9: no such item in a list of 2"),
    ("$.project.authors.name", "$.project.authors is a list, so the step must be an index"),
    ("$.project.name.first", "$.project.name is a string, not a section or a list"),
    ("$.grid.0.0.x", "$.grid.0.0 is a number, not a section or a list"),
    ("name", "name: not a path"),
    ("$", "$: the whole store cannot be set"),
])
def test_assign_refuses_with_the_place(path, message):
    store = TarvelVar(DOC)
    before = store._mv_to_dict()
    with pytest.raises(PathError) as error:
        assign(store, path, 1)
    assert message in str(error.value)
    assert store._mv_to_dict() == before


def test_assign_into_plain_data_keeps_it_plain():
    import copy

    data = copy.deepcopy(DOC)
    assign(data, "$.project.authors.0", {"name": "dee"})
    assign(data, "$.new.section.value", [1])
    assert data["project"]["authors"][0] == {"name": "dee"} and type(data["new"]) is dict
    assert data["new"] == {"section": {"value": [1]}}


@pytest.mark.parametrize("path", ["$.project.authors[1].name", "$.grid[1][0]", "$.grid[-2].-1", "$.project.authors[5]",
                                  "$.project.authors.[0]", "$.grid[x]"])
def test_brackets_read_as_the_dotted_form(path):
    store = TarvelVar(DOC)
    dotted = path.replace("[", ".").replace("]", "")
    expected = lookup(store, dotted) if ".." not in dotted and "[x]" not in path else MISSING
    assert store.get(path, MISSING) == expected == (lookup(store, path) if expected is not MISSING else MISSING)


def test_set_by_path_from_python():
    store = TarvelVar(DOC)
    store.set("$.project.authors[1].name", "cy")
    store.set("$.server.tls.enabled", True)
    store.set("plain", {"a": [1]})
    assert (store.project.authors[1].name, store.server.tls.enabled, store.plain.a) == ("cy", True, [1])
    before = store.to_dict()
    for path, value, error in [("$.project.authors.9.name", 1, PathError), ("$.server._g_n_i", True, ValueError),
                               ("$.x.y", {"z": {"__fspath__": 1}}, ValueError), ("c.d", 1, None)]:
        if error is None:
            store.set(path, value)  # a plain name is one variable, dots and all
            assert store["c.d"] == 1
            del store["c.d"]
        else:
            with pytest.raises(error):
                store.set(path, value)
    assert store.to_dict() == before and "x" not in store


def test_to_dict_sorted_orders_every_level():
    store = TarvelVar({"b": {"z": 1, "y": [{"d": 1, "c": 2}]}, "a": 0})
    for sorted_plain in (store.to_dict(sort=True), TarvelVar(store).to_dict(True)):
        assert list(sorted_plain) == ["a", "b"] and list(sorted_plain["b"]) == ["y", "z"]
        assert list(sorted_plain["b"]["y"][0]) == ["c", "d"]
    assert list(store._mv_to_dict(sort=True)["b"]) == ["z", "y"]  # the core's own rule: the top level


@given(st.text(alphabet="[]-0123456789a.٣²", max_size=12))
def test_brackets_and_indices_read_as_their_patterns_say(text):
    # `[<index>]` is a step, an index is ASCII digits after an optional minus sign; written
    # without regular expressions, checked against them
    import re

    from tarvel_var import paths

    assert paths._brackets_as_steps(text) == re.sub(r"\[(-?[0-9]+)\]", r".\1", text)
    assert (paths.index_of(text) is not None) == bool(re.fullmatch(r"-?[0-9]+", text))
