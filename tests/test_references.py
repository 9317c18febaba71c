"""`${...}` references: what they resolve to, what they refuse, and that a refusal changes
nothing."""

import copy
import os

import pytest
from hypothesis import given

from conftest import assert_no_leak, cli, documents
from tarvel_var import InterpolationError, TarvelVar, is_frozen

ENV = {"HOST": "envhost", "EMPTY": ""}

RESOLVED = [
    ({"a": {"p": 5}, "b": "${a.p}"}, {"a": {"p": 5}, "b": 5}),  # alone: the value with its type
    ({"a": {"p": 5}, "b": "x:${a.p}/${a.p}"}, {"a": {"p": 5}, "b": "x:5/5"}),
    ({"a": [{"h": True}], "b": "${a.0.h}", "c": "${$.a.0.h}!"}, {"a": [{"h": True}], "b": True, "c": "True!"}),
    ({"c": "${b}", "b": "${a}", "a": "end"}, {"c": "end", "b": "end", "a": "end"}),  # any order
    ({"a": {"k": "${v}"}, "v": 1, "b": "${a}"}, {"a": {"k": 1}, "v": 1, "b": {"k": 1}}),  # a section
    ({"l": ["${v}", ["${v}"]], "v": None}, {"l": [None, [None]], "v": None}),
    ({"a": "$${a} and $${"}, {"a": "${a} and ${"}),
    ({"a": "${env:HOST}", "b": "${env:EMPTY:-fb}", "c": "${env:NOPE:-}", "d": "${env:HOST:-x}"},
     {"a": "envhost", "b": "fb", "c": "", "d": "envhost"}),
    ({"a": {"b": 1}, "s": "${ a.b }"}, {"a": {"b": 1}, "s": 1}),
    ({"0": {"1": "x"}, "r": "${0.1}"}, {"0": {"1": "x"}, "r": "x"}),
]


@pytest.mark.parametrize("doc, expected", RESOLVED)
def test_references_resolve(doc, expected):
    s = TarvelVar(doc)
    assert s.resolve(ENV) is None
    assert s.to_dict() == expected


def test_a_section_reference_is_a_new_store_and_keys_are_left_alone():
    s = TarvelVar({"a": {"b": [1]}, "c": "${a}", "${a}": "k"})
    s.resolve(ENV)
    assert isinstance(s.c, TarvelVar) and s.c == s.a and s.c is not s.a and s.c.b is not s.a.b
    assert s["${a}"] == "k"


FAILURES = [
    ({"a": "${a}"}, "reference cycle: $.a -> $.a"),
    ({"a": {"x": "${b}"}, "b": "${a.x}"}, "reference cycle: $.a.x -> $.b -> $.a.x"),
    ({"a": {"x": "${a}"}}, "reference cycle: $.a.x -> $.a.x"),
    ({"ok": "${v}", "v": 1, "a": "${db.host}"}, "$.a: ${db.host}: nothing at $.db"),
    ({"l": [1], "a": "${l.3}"}, "$.a: ${l.3}: nothing at $.l.3"),
    ({"a": "${env:NOPE}"}, "$.a: ${env:NOPE}: the environment variable NOPE is not set"),
    ({"a": "x${y"}, "$.a: unclosed reference in 'x${y'"),
    ({"a": ["${ }"]}, "$.a.0: empty reference in '${ }'"),
    ({"a": "${a${b}}"}, "$.a: nested reference in '${a${b}}'"),
    ({"s": {"k": 1}, "a": "x ${s}"}, "$.a: ${s} is a section or a list, which cannot be part of a text"),
]


@pytest.mark.parametrize("doc, message", FAILURES)
def test_failures_name_the_place_and_change_nothing(doc, message):
    s = TarvelVar(doc)
    before = copy.deepcopy(s.to_dict())
    with pytest.raises(InterpolationError) as caught:
        s.resolve(ENV)
    assert str(caught.value) == message and isinstance(caught.value, ValueError)
    assert s.to_dict() == before


@given(documents)
def test_a_document_without_references_is_left_as_it_is(doc):
    s = TarvelVar(doc)
    held = dict(vars(s))
    s.resolve({})
    assert s == doc and all(vars(s)[k] is v for k, v in held.items())


def test_loading_resolves_then_freezes(tmp_path):
    os.environ["TARVEL_TEST_HOST"] = "from-env"
    try:
        s = TarvelVar.loads('{"h": "${env:TARVEL_TEST_HOST}", "l": ["${h}"]}', resolve=True, frozen=True)
        e = TarvelVar.from_env("APP", environ={"APP_A": "1", "APP_B": "${a}", "X": "y"}, resolve=True)
    finally:
        del os.environ["TARVEL_TEST_HOST"]
    assert s.to_dict() == {"h": "from-env", "l": ["from-env"]} and is_frozen(s)
    assert e.to_dict() == {"a": 1, "b": 1}
    assert TarvelVar.loads('{"a": "${b}"}').a == "${b}"  # nothing is resolved unless asked


def test_command_line_resolves_after_the_changes():
    run = cli("-", "--set", "p=7", "--resolve", "--get", "url", "--raw", stdin='{"url": "h:${p}"}')
    assert (run.returncode, run.stdout, run.stderr) == (0, "h:7\n", "")
    bad = cli("-", "--resolve", stdin='{"a": "${b}"}')
    assert (bad.returncode, bad.stdout, bad.stderr) == (
        2, "", "tarvel-var: error: $.a: ${b}: nothing at $.b\n")


def test_no_leaks():
    doc = {"a": {"b": [1, "${c}"]}, "c": "x", "d": "${a}"}
    assert_no_leak(lambda: TarvelVar(doc).resolve({}), doc)
