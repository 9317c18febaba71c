"""The features around the store under attack: deep data in small stacks, half-done changes,
keys a schema would drop, expansion without bound, classes kept for good, and one command
line whatever the number of files."""

import dataclasses
import gc
import subprocess
import sys
import weakref

import pydantic
import pytest

from conftest import cli, outcome
from tarvel_var import (FrozenError, InterpolationError, LayerError, Origin, TarvelVar,
                        ValidationError, diff, origin, origins)

# Each walk in a thread with a 128 KiB stack, on data built and freed in the main thread
# (freeing deep lists in such a thread overflows the interpreter itself).
DEEP = r'''
import sys, threading, pydantic, typing
from tarvel_var import TarvelVar, diff, origins, origin
which, depth = sys.argv[1], int(sys.argv[2])
def nest(n):
    x = [1]
    for _ in range(n):
        x = [x]
    return x
A, B, kept = nest(depth), nest(depth + 1), []
class M(pydantic.BaseModel):
    a: typing.Any
def chain():
    d = {f"k{i}": "x${k%d}" % (i + 1) for i in range(depth)}
    d[f"k{depth}"] = "end"
    return TarvelVar(d)
CASES = {
    "hash": lambda: hash(TarvelVar({"a": A}).freeze()),
    "diff plain": lambda: diff({"a": A}, {"a": B}),
    "diff stores": lambda: diff(TarvelVar({"a": A}), TarvelVar({"a": B})),
    "freeze": lambda: TarvelVar({"a": A}).freeze(),
    "resolve": lambda: TarvelVar({"a": A, "b": "${a}"}).resolve(),
    "resolve chain": lambda: chain().resolve(),
    "origins": lambda: origins(TarvelVar.compose({"a": A}, {"b": 1})),
    "validate": lambda: TarvelVar({"a": A}).validate(M),
}
def run():
    try:
        kept.append(CASES[which]())
        print("done")
    except RecursionError:
        print("RecursionError")
    except ValueError as error:  # what loading says of a document nested too deeply
        print("RecursionError" if "nested too deeply" in str(error) else error)
threading.stack_size(128 * 1024)
thread = threading.Thread(target=run)
thread.start()
thread.join()
'''


@pytest.mark.parametrize("depth", [450, 3000])
@pytest.mark.parametrize("which", ["hash", "diff plain", "diff stores", "freeze", "resolve",
                                   "resolve chain", "origins", "validate"])
def test_deep_data_in_a_small_stack_ends_in_recursion_error(tmp_path, which, depth):
    run = subprocess.run([sys.executable, "-P", "-c", DEEP, which, str(depth)], cwd=tmp_path,
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0 and run.stdout in ("done\n", "RecursionError\n"), run.stderr[-2000:]


# -- resolve() is all or nothing ----------------------------------------------------------------

def test_resolve_into_a_frozen_store_changes_nothing():
    s = TarvelVar({"a": 1, "b": "${a}", "z": TarvelVar({"x": "${a}"}).freeze()})
    assert outcome(s.resolve) == (FrozenError, "cannot resolve $.z.x: the TarvelVar that holds it is frozen")
    assert s.b == "${a}" and s.z.x == "${a}"
    assert outcome(lambda: TarvelVar().freeze().resolve(environ={})) == (
        FrozenError, "cannot resolve: the TarvelVar is frozen")


def test_resolve_rebuilds_the_tuples_an_inheriting_store_keeps():
    s = TarvelVar({"a": 1}, inherit=True)
    s.t = ("${a}", ("x${a}", 2))
    s.l = ["${a}", ("${a}",)]
    s.resolve()
    assert vars(s)["t"] == (1, ("x1", 2)) and type(vars(s)["t"][1]) is tuple and vars(s)["l"] == [1, (1,)]


@pytest.mark.parametrize("grow, message", [
    (lambda i: "${l%d}${l%d}" % (i, i), "makes a text of more than 1,000,000 characters"),
    (lambda i: ["${l%d}" % i, "${l%d}" % i], "expand to more than 10,000,000 characters or 1,000,000 values"),
])
def test_expansion_is_bounded_and_names_the_reference(grow, message):
    doc = {"l0": "x" * 10}
    for i in range(1, 40):
        doc[f"l{i}"] = grow(i - 1)
    s = TarvelVar(doc)
    kind, text = outcome(s.resolve)
    assert kind is InterpolationError and message in text and "${l" in text
    assert s.to_dict() == doc  # nothing changed
    small = TarvelVar({"a": "x", "b": "${a}${a}", "c": ["${b}", "${b}"]})
    small.resolve()
    assert small.to_dict() == {"a": "x", "b": "xx", "c": ["xx", "xx"]}


@pytest.mark.parametrize("reference, expected", [
    ("${s.-1.h}", 2), ("${s[0].h}", 1), ("${$.s.1.h}", 2), ("${s.x}", InterpolationError), ("${s.²}", InterpolationError),
])
def test_references_take_every_step_get_takes(reference, expected):
    s = TarvelVar({"s": [{"h": 1}, {"h": 2}], "r": reference})
    if expected is InterpolationError:
        with pytest.raises(InterpolationError, match=r"^\$\.r: \$\{"):
            s.resolve()
    else:
        s.resolve()
        assert s.r == expected


# -- schemas ------------------------------------------------------------------------------

class Db(pydantic.BaseModel):
    host: str
    port: int = 5432


@pydantic.dataclasses.dataclass(config=pydantic.ConfigDict(str_strip_whitespace=True))
class ConfiguredDb:
    host: str
    port: int = 5432


@dataclasses.dataclass
class PlainApp:
    db: ConfiguredDb


class App(pydantic.BaseModel):
    db: Db
    replicas: list[Db] = []
    backup: Db | None = None
    by_name: dict[str, Db] = {}


class Open(pydantic.BaseModel):
    model_config = pydantic.ConfigDict(extra="allow")
    x: int = 1


class Holder(pydantic.BaseModel):
    open: Open


class Registry(pydantic.RootModel[dict[str, Db]]):
    pass


@pytest.mark.parametrize("schema, doc, errors", [
    (App, {"db": {"host": "h", "prt": 6432}}, [("$.db.prt", "Extra inputs are not permitted")]),
    (App, {"db": {"host": "h"}, "replicas": [{"host": "a", "x": 1}], "backup": {"host": "b", "y": 1},
           "by_name": {"n": {"host": "c", "z": 1}}},
     [("$.replicas.0.x", "Extra inputs are not permitted"), ("$.backup.y", "Extra inputs are not permitted"),
      ("$.by_name.n.z", "Extra inputs are not permitted")]),
    (PlainApp, {"db": {"host": "h", "prt": 1}}, [("$.db.prt", "Extra inputs are not permitted")]),
    (Holder, {"open": {"kept": 1}, "typo": 1}, [("$.typo", "Extra inputs are not permitted")]),
    (Registry, {"a": {"host": "h", "zz": 1}}, [("$.a.zz", "Extra inputs are not permitted")]),
    (App, {"db": {"host": 1, "prt": 1}}, [("$.db.host", "Input should be a valid string"),
                                          ("$.db.prt", "Extra inputs are not permitted")]),
])
def test_undeclared_keys_are_refused_at_every_depth(schema, doc, errors):
    with pytest.raises(ValidationError) as caught:
        TarvelVar(doc).validate(schema)
    assert caught.value.errors == errors


def test_a_root_model_and_an_open_model_validate():
    assert TarvelVar({"a": {"host": "h"}}).validate(Registry) == {"a": {"host": "h", "port": 5432}}
    assert TarvelVar({"open": {"kept": 1}}).validate(Holder) == {"open": {"x": 1, "kept": 1}}
    assert isinstance(TarvelVar({"a": {"host": "h"}}).to(Registry), Registry)


def not_a_schema(x):
    return x


@pytest.mark.parametrize("name", ["Plain", "function", "value"])
def test_command_line_refuses_what_cannot_be_a_schema(tmp_path, name):
    (tmp_path / "cfgmod.py").write_text("class Plain:\n    pass\ndef function(x):\n    return x\nvalue = 3\n")
    run = cli("-", "--schema", f"cfgmod:{name}", stdin='{"a": 1}', cwd=tmp_path)
    assert (run.returncode, run.stdout) == (2, "")
    assert run.stderr.startswith(f"tarvel-var: error: --schema cfgmod:{name}: ") and run.stderr.count("\n") == 1
    assert outcome(lambda: TarvelVar().validate(not_a_schema))[0] is TypeError


def test_schema_and_variant_classes_can_be_collected():
    # Made and used in a function of their own: before 3.13 a frame's locals, once read (as
    # pydantic reads its caller's to resolve annotations), stay in a dict the frame keeps.
    def made_and_used():
        class Sub(TarvelVar):
            pass

        @dataclasses.dataclass
        class Schema:
            a: int = 0

        class Model(pydantic.BaseModel):
            a: int = 0

        frozen = Sub({"a": 1}).freeze()
        TarvelVar({"a": 1}).validate(Schema)
        TarvelVar({"a": 1}).validate(Model)
        return [weakref.ref(Sub), weakref.ref(type(frozen)), weakref.ref(Schema), weakref.ref(Model)]

    made = [ref for _ in range(3) for ref in made_and_used()]
    gc.collect()
    assert [ref() for ref in made] == [None] * len(made)


# -- layers, the environment and origins ----------------------------------------------------

@pytest.mark.parametrize("layers, kwargs, message", [
    ([{"a": {"x": 1}}], {"env": "APP", "environ": {"APP_A": "1", "APP_A__B": "2"}},
     "APP_A__B: APP_A already sets a to a value, not a section"),
    ([{"s": 1}], {"env": "APP", "environ": {"APP_S": "1", "APP_s": "2"}}, "APP_s and APP_S both set s"),
    ([{"f": ["a"]}], {"overrides": ["f=a,b"]}, "override f=a,b: 'a,b' is not a JSON array, as $.f is a list"),
    ([{"db": {"h": 1}}], {"env": "APP", "environ": {"APP_DB": "sqlite"}},
     "APP_DB: 'sqlite' is not a JSON object, as $.db is a section"),
    ([{"l": [1]}], {"overrides": ["l.²=2"]}, "override l.²=2: $.l is a list, so '²' must be an index"),
    ([{"l": [1]}], {"overrides": ["l.-2=2"]}, "override l.-2=2: $.l.-2 is past the end of a list of 1"),
    ([{}], {"overrides": ["db..port=1"]}, "override db..port=1: an empty step in the path 'db..port'"),
    ([{"a": {"b": 1}}], {"overrides": ["a._skip=1"]},
     "override a._skip=1: reserved key '_skip' at $.a._skip: the store keeps this name for itself"),
    ([{"a": {"b": 1}}], {"env": "APP", "environ": {"APP_A__C___SKIP": "1"}},
     "APP_A__C___SKIP: reserved key '_skip' at $.a.c._skip: the store keeps this name for itself"),
    ([{"a": {"b": 1}}, {"a": {"_skip": 1}}], {},
     "<argument 2>: reserved key '_skip' at $.a._skip: the store keeps this name for itself"),
])
def test_conflicts_and_bad_overrides_are_refused_as_written(layers, kwargs, message):
    kind, text = outcome(lambda: TarvelVar.compose(*layers, **kwargs))
    assert issubclass(kind, ValueError) and text == message


def test_overrides_take_every_step_get_takes():
    s = TarvelVar.compose({"servers": [{"host": "a"}, {"host": "b"}], "f": ["x"], "db": {"h": 1}},
                          overrides=["servers.-1.host=z", "servers[0].host=y", 'f=["p", "q"]', 'db={"h": 2}'],
                          env="APP", environ={"APP_SERVERS[1]__PORT": "1", "APP_SERVERS__-2__PORT": "2"})
    assert s.to_dict() == {"servers": [{"host": "y", "port": 2}, {"host": "z", "port": 1}], "f": ["p", "q"],
                           "db": {"h": 2}}
    assert origin(s, "servers[1].host") == Origin("override", detail="servers.-1.host=z")


def test_origins_tell_the_truth():
    s = TarvelVar.compose({"db": {"host": "h"}, "gone": {"x": 1}, "n": float("nan"), "e": {}}, {"x": 1})
    assert origin(s, "n") == Origin("<argument 1>")
    s.db = {"host": "h2"}
    s.gone.clear()
    assert origin(s, "db") is None and origin(s, "gone") is None and origin(s, "e") == Origin("<argument 1>")
    assert origins(TarvelVar.compose({})) == {} == origins(TarvelVar())

    class Checked(pydantic.BaseModel):
        db: Db
        x: int = 0

    composed = TarvelVar.compose({"db": {"host": "h"}}, {"x": "2"}, schema=Checked)
    later = TarvelVar.compose({"db": {"host": "h"}}, {"x": 2}).validate(Checked)
    for checked in (composed, later):
        assert origins(checked) == {"$.db.host": Origin("<argument 1>"), "$.db.port": Origin("default"),
                                    "$.x": Origin("<argument 2>")}


def test_composing_aliased_yaml_visits_each_node_once(tmp_path):
    pytest.importorskip("yaml")
    lines = ["a0: &a0 {k: 1, l: [1, 2, 3]}"]
    lines += [f"a{i}: &a{i} {{" + ", ".join(f"x{j}: *a{i - 1}" for j in range(4)) + "}" for i in range(1, 9)]
    (tmp_path / "alias.yaml").write_text("\n".join(lines) + "\n")
    (tmp_path / "empty.yaml").write_text("# nothing here\n\n")
    from tarvel_var.formats import yaml_lines

    assert len(yaml_lines((tmp_path / "alias.yaml").read_text())) < 100  # one entry per written node
    s = TarvelVar.compose(tmp_path / "alias.yaml", tmp_path / "empty.yaml")
    assert origin(s, "a0.k") == Origin(str(tmp_path / "alias.yaml"), 1)
    assert origin(s, "a2.x3.x0.k").line == 3  # below an alias: the line of the alias
    assert TarvelVar.load(tmp_path / "empty.yaml") == {}


# -- diff ---------------------------------------------------------------------------------

def test_diff_agrees_with_the_stores_equality():
    assert diff({"a": {1, 2}}, {"a": [1, 2]}) == [] and TarvelVar({"a": [1, 2]}) == {"a": {1, 2}}
    assert diff({"a": (1, {"b": 1.0})}, TarvelVar({"a": [1, {"b": 1}]})) == []
    assert [c.path for c in diff({"a": [1, {"b": 1}], "c": 1}, {"a": [1, {"b": 2}, 3], "d": 1})] == [
        "$.a.1.b", "$.a.2", "$.c", "$.d"]


# -- one command line ------------------------------------------------------------------------

@pytest.mark.parametrize("args", [
    ["--env", "APP", "--dict"],
    ["--set", '$.db.host="x"', "--set", "db.port=1", "--dict"],
    ["--env", "APP", "--set", "version=\"2\"", "--get", "db", "--get", "$.db.hosts[-1]"],
])
def test_one_file_gives_the_values_of_a_composition(tmp_path, args):
    (tmp_path / "c.json").write_text('{"version": "1.9", "db": {"maxConnections": 10, "hosts": ["a", "b"], '
                                     '"host": "h"}}')
    (tmp_path / "empty.json").write_text("{}")
    env = {"APP_VERSION": "1.10", "APP_DB__MAXCONNECTIONS": "20", "APP_DB__HOSTS__1": "c"}
    one = cli("c.json", *args, env=env, cwd=tmp_path)
    two = cli("c.json", "empty.json", *args, env=env, cwd=tmp_path)
    traced = cli("c.json", "--origins", *args, env=env, cwd=tmp_path)
    assert one.returncode == 0 and (one.stdout, one.stderr) == (two.stdout, two.stderr), one.stderr
    assert traced.stdout.endswith(one.stdout) and traced.stdout != one.stdout
    if "--env" in args:
        assert '"maxConnections": 20' in one.stdout and '["a", "c"]' in one.stdout
        assert '"1.10"' in one.stdout or "--dict" not in args


def test_command_line_origins_of_a_selection(tmp_path):
    (tmp_path / "c.json").write_text('{"logging.level": "info", "s": [{"h": 1}, {"h": 2}], "x": 1}')
    run = cli("c.json", "--get", "s[-1]", "--origins", "--get", "x", "--origins", cwd=tmp_path)
    assert (run.returncode, run.stdout) == (0, "$.s.1.h = 2  # c.json\n$.x = 1  # c.json\n"), run.stderr
    whole = cli("c.json", "--origins", cwd=tmp_path)
    assert whole.stdout.splitlines()[0] == '$.logging.level = "info"  # c.json', whole.stderr


def test_command_line_diff_shows_a_change_of_type(tmp_path):
    pytest.importorskip("yaml")
    (tmp_path / "a.json").write_text('{"d": "2024-01-01"}')
    (tmp_path / "b.yaml").write_text("d: 2024-01-01\n")
    run = cli("a.json", "--diff", "b.yaml", cwd=tmp_path)
    assert (run.returncode, run.stdout) == (1, '~ $.d: "2024-01-01" -> 2024-01-01 (date)\n'), run.stderr


def test_the_native_helpers_leak_nothing():
    from conftest import assert_no_leak
    from tarvel_var import _store

    a, b = {"x": [1, {"y": 2}], "s": {3}}, TarvelVar({"x": [1, {"y": 2}], "s": [3]})
    assert _store.equal(a, b) and not _store.equal(a, {"x": []}) and _store.stack_room() > 0
    assert_no_leak(lambda: (_store.equal(a, b), _store.check_stack(), _store.stack_room(), diff(a, {"x": 1})), a, b)
