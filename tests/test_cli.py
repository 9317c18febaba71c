"""The command line, run as a user runs it: in a subprocess."""

import json
import os
import subprocess
import sys
import tomllib

import pytest
import yaml

from conftest import cli as run

run_env = run  # the environment given adds to the one the suite runs in


def test_default_output_is_the_sample_as_json():
    result = run()
    assert result.returncode == 0, result.stderr
    document = json.loads(result.stdout)
    assert document["database"]["replicas"][1] == {"host": "replica-2.internal", "port": 5433}


def test_queries_print_in_order_after_changes_applied_in_order(tmp_path):
    path = tmp_path / "c.json"
    path.write_text('{"db": {"port": 5432}, "name": "x"}')
    result = run(str(path), "--set", "db={\"host\": \"h\"}", "--merge", '{"db": {"port": 1}}',
                 "--get", "$.db.port", "--get", "name", "--raw", "--get", "$.db", "--keys",
                 "--get", "$.nope", "--default", "7", "--params")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "1", "x", '["host", "port"]', "7",
        "db=TarvelVar(host='h', port=1)&name='x'"]


def test_standard_input_and_toml(tmp_path):
    assert run("-", "--dict", "--sort", stdin='{"b": 1, "a": [1, 2]}').stdout == '{"a": [1, 2], "b": 1}\n'
    path = tmp_path / "c.toml"
    path.write_text('[a]\nb = 2\n')
    assert run(str(path), "--get", "$.a.b").stdout == "2\n"


@pytest.mark.parametrize("args, stdin, expected", [
    (["/no/such/file.json"], None, "/no/such/file.json: cannot read"),
    (["-"], '{"a": 1,\n  oops}', "<stdin>:2:3: invalid JSON"),
    (["-", "--format", "toml"], "a = = 1", "<stdin>:1:5: invalid TOML"),
    (["-"], "[1, 2]", "the top level must be an object, not an array"),
    (["-", "--set", "novalue"], "{}", "--set novalue: expected NAME=JSON"),
    (["-", "--set", "a={bad"], "{}", "--set a: invalid JSON"),
    (["-", "--merge", "[1]"], "{}", "--merge: expected a JSON object"),
])
def test_bad_input_is_one_line_and_status_2(args, stdin, expected):
    result = run(*args, stdin=stdin)
    assert result.returncode == 2
    assert result.stdout == ""
    lines = result.stderr.splitlines()
    assert len(lines) == 1 and "Traceback" not in result.stderr
    assert lines[0].startswith("tarvel-var: error: ") and expected in lines[0]


def test_help_documents_every_option():
    text = run("--help").stdout
    for option in ["--get", "--default", "--keys", "--items", "--params", "--string", "--repr",
                   "--dict", "--sort", "--set", "--merge", "--raw", "--format", "examples:"]:
        assert option in text


# -- paths, exit statuses, output styles ------------------------------------------------------

@pytest.mark.parametrize("args, stdin, status, stdout, stderr", [
    (["--get", "$.database.replicas.0.host"], None, 0, '"replica-1.internal"\n', ""),
    (["--get", "$.database.replicas.-1.port"], None, 0, "5433\n", ""),
    (["--get", "$.features.enabled.2", "--raw"], None, 0, "audit\n", ""),
    (["--get", "$.nope"], None, 0, "null\n", ""),
    (["-e", "--get", "$.database.replicas.5"], None, 1, "null\n",
     "tarvel-var: $.database.replicas.5: no such path\n"),
    (["-e", "--get", "database.nope"], None, 1, "null\n", "tarvel-var: database.nope: no such variable or path\n"),
    (["--get", "database.port", "--get", ".database.replicas[-1].port"], None, 0, "5432\n5433\n", ""),
    (["--exit-status", "--get", "title", "--raw"], None, 0, "inventory service\n", ""),
    (["-e", "--get", "$.nope", "--default", "3"], None, 0, "3\n", ""),
    (["-e", "--get", "$.nope", "--default", "null"], None, 1, "null\n", ""),
    (["-", "-e", "--get", "$.x"], '{"x": null}', 1, "null\n", ""),
    (["-", "-e", "--get", "$.x", "--get", "$.y"], '{"x": null, "y": 0}', 1, "null\n0\n", ""),
    (["-", "-e", "--get", "$.y"], '{"x": null, "y": false}', 0, "false\n", ""),
])
def test_get_and_exit_status(args, stdin, status, stdout, stderr):
    result = run(*args, stdin=stdin)
    assert (result.returncode, result.stdout, result.stderr) == (status, stdout, stderr)


def test_set_by_path_makes_sections_and_replaces_list_items():
    result = run("--set", "$.server.tls.enabled=true", "--set", "$.database.replicas.1.port=6000",
                 "--set", "debug=true", "--get", "$.server.tls", "--get", "$.database.replicas.1",
                 "--get", "debug")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        '{"enabled": true}', '{"host": "replica-2.internal", "port": 6000}', "true"]


@pytest.mark.parametrize("args, expected", [
    (["--indent", "2", "--get", "$.database.pool"], '{\n  "min": 2,\n  "max": 10\n}\n'),
    (["--indent", "0", "--get", "$.database.pool"], '{\n"min": 2,\n"max": 10\n}\n'),
    (["--indent", "2", "-c", "--get", "$.database.pool"], '{"min": 2, "max": 10}\n'),
    (["--get", "$.database.pool"], '{"min": 2, "max": 10}\n'),  # not a terminal: one line
    (["--get", "$.features.enabled", "--indent", "1"], '[\n "search",\n "export",\n "audit"\n]\n'),
])
def test_indent(args, expected):
    result = run(*args)
    assert (result.returncode, result.stdout) == (0, expected), result.stderr


def test_a_terminal_gets_indented_json():
    import pty

    leader, follower = pty.openpty()
    try:
        result = subprocess.run([sys.executable, "-P", "-m", "tarvel_var", "--get",
                                 "$.database.pool"], stdout=follower, stderr=subprocess.PIPE,
                                timeout=60)
        os.close(follower)
        follower = None
        output = b""
        while True:
            try:
                chunk = os.read(leader, 4096)
            except OSError:  # the terminal's other side is closed: all is read
                break
            if not chunk:
                break
            output += chunk
    finally:
        if follower is not None:
            os.close(follower)
        os.close(leader)
    assert result.returncode == 0, result.stderr
    assert output.replace(b"\r\n", b"\n") == b'{\n  "min": 2,\n  "max": 10\n}\n'


@pytest.mark.parametrize("fmt, read", [("json", json.loads), ("toml", tomllib.loads),
                                       ("yaml", yaml.safe_load)])
def test_to_writes_the_whole_store_in_the_format(fmt, read):
    sample = json.loads(run().stdout)
    result = run("--set", "$.server.port=1", "--to", fmt)
    assert result.returncode == 0, result.stderr
    sample["server"]["port"] = 1
    assert read(result.stdout) == sample


def test_files_by_extension_and_standard_input_by_content(tmp_path):
    (tmp_path / "c.yaml").write_text("a:\n  - {b: 1}\n")
    (tmp_path / "c.yml").write_text("a: [{b: 2}]\n")
    (tmp_path / "c.conf").write_text("[a]\nb = 3\n")
    for name, expected in [("c.yaml", "1"), ("c.yml", "2")]:
        assert run(str(tmp_path / name), "--get", "$.a.0.b").stdout == expected + "\n"
    assert run(str(tmp_path / "c.conf"), "--get", "$.a.b").stdout == "3\n"
    for text in ['{"a": {"b": 4}}', "[a]\nb = 4\n", "a:\n  b: 4\n", "a: {b: 4}"]:
        result = run("-", "--get", "$.a.b", stdin=text)
        assert (result.returncode, result.stdout) == (0, "4\n"), (text, result.stderr)


def test_environment_overrides_come_before_the_command_line():
    env = {"APP_DATABASE__PORT": "6543", "APP_SERVER__HOST": "h", "APP_NEW__LIST": "[1]"}
    result = run_env("--set", "$.server.port=1", "--env", "APP", "--get", "$.database.port",
                     "--get", "$.server", "--get", "$.new.list", env=env)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["6543", '{"host": "h", "port": 1, "workers": 4}', "[1]"]


def test_the_plain_document_answers_as_the_store_would(tmp_path):
    # Read-only calls on JSON skip building the store; --merge '{}' forces it.
    path = tmp_path / "d.json"
    path.write_text(json.dumps({"b": {"list": [{"x": [1, {"y": None}]}], "s": "é"}, "a": 1.5,
                                "c": [[]], "t": True}))
    reads = ["--keys", "--items", "--dict", "--sort", "--get", "$.b.list.0.x.1", "--get", "b",
             "--get", "$", "--to", "json", "--to", "yaml", "--indent", "3"]
    sets = ["--set", "a=[1, {\"k\": {}}]", "--set", "$.b.list.0.x.1={\"z\": [2]}",
            "--set", "$.b.list.-1.new.deeper=3", "--set", "c={}", "--set", "$.c.d.e=true"]
    for args in [reads, sets + reads]:
        plain, store = run(str(path), *args), run(str(path), "--merge", "{}", *args)
        assert plain.returncode == store.returncode == 0, plain.stderr + store.stderr
        assert plain.stdout == store.stdout and plain.stdout.count("\n") > 20


def test_a_closed_pipe_ends_quietly(tmp_path):
    path = tmp_path / "big.json"
    path.write_text(json.dumps({"items": [{"n": n, "text": "x" * 40} for n in range(20_000)]}))
    for args in [["--indent", "2"], ["--to", "yaml"], ["--merge", "{}", "--items", "--indent", "1"]]:
        child = subprocess.Popen([sys.executable, "-P", "-m", "tarvel_var", str(path), *args],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = child.stdout.readline()
        child.stdout.close()  # as `| head -1` does
        stderr = child.stderr.read()
        child.stderr.close()
        assert child.wait(timeout=60) == 141, stderr  # as for a process ended by SIGPIPE
        assert first and stderr == b""


# -- bad input --------------------------------------------------------------------------------

def deep_json(levels=100_000):
    return '{"a": ' + "[" * levels + "]" * levels + "}"


@pytest.mark.parametrize("name, content, args, env, expected", [
    ("dir", None, [], {}, "is a directory"),
    ("b.json", b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR", [], {}, "binary data"),
    ("l.json", '{"a": "caf\xe9"}'.encode("latin-1"), [], {}, "not UTF-8 text"),
    ("t.json", b'{"a": {"b": [1, 2', [], {}, "t.json:1:18: invalid JSON"),
    ("deep.json", deep_json().encode(), [], {}, "nested too deeply"),
    ("deep.yaml", ("a: " + "[" * 100_000 + "]" * 100_000).encode(), [], {}, "nested too deeply"),
    ("s.json", b"42", [], {}, "the top level must be an object, not a number"),
    ("d.json", b'{"a": 1, "a": 2}', ["--get", "$.a"], {}, "duplicate key 'a'"),
    ("d.yaml", b"a: 1\na: 2\n", [], {}, "d.yaml:2:1: invalid YAML: duplicate key 'a'"),
    # what reaches the store through the command line is checked as through the public class
    ("c.json", b"{}", ["--merge", '{"_i_c_u": 0}'], {}, "reserved key '_i_c_u' at $._i_c_u"),
    ("c.json", b'{"a": {}}', ["--merge", '{"a": {"_g_n_s": true}}'], {}, "reserved key '_g_n_s' at $.a._g_n_s"),
    ("c.json", b"{}", ["--merge", '{"_skip": 1}', "--keys"], {}, "reserved key '_skip' at $._skip"),
    ("c.json", b"{}", ["--env", "APP"], {"APP__I_C_U": "5"}, "reserved key '_i_c_u' at $._i_c_u"),
    ("c.json", b'{"a": {}}', ["--set", "$.a._g_n_i=true", "--get", "$.a"], {}, "reserved key '_g_n_i' at $.a._g_n_i"),
    ("c.json", b'{"a": {}}', ["--set", "$.a._skip=1", "--to", "yaml"], {}, "reserved key '_skip' at $.a._skip"),
    ("c.json", b'{"a": [1]}', ["--set", "$.a[0]={\"__fspath__\": 1}"], {}, "'__fspath__' at $.a.0.__fspath__"),
    ("c.json", b"{}", ["--set", "__deepcopy__=1"], {}, "reserved key '__deepcopy__'"),
    ("c.json", b"{}", ["--env", "APP"], {"APP_X": '{"a": 1, "a": 2}'}, "APP_X: duplicate key 'a'"),
    ("c.json", b'{"a": 1}', ["--del", "$.b.c"], {}, "$.b: no such path"),
    ("c.json", b'{"a": [1]}', ["--get", "$.a", "--keys"], {}, "--keys: $.a is an array, not a section"),
    ("x.yaml", b"a: !!map [1]\n", [], {}, "x.yaml:1:4: invalid YAML: expected a mapping"),
    ("x.yaml", b"a: 2001-02-30\n", [], {}, "x.yaml: invalid YAML: day is out of range"),
    ("inf.json", b'{"a": [1e400]}', [], {}, "$.a.0: inf cannot be written as JSON"),
    ("n.toml", b"a = 1\n", ["--set", "$.a=null", "--to", "toml"], {},
     "$.a: null cannot be written as TOML"),
    ("e.json", b"{}", ["--env", "APP"], {"APP___X": "1"}, "APP___X: empty name part"),
    ("p.json", b'{"a": 1}', ["--set", 'a.name="x"'], {}, "$.a is a number, not a section or a list"),
    ("p.json", b'{"a": "s"}', ["--set", "$.a.b=1"], {}, "$.a is a string, not a section or a list"),
    ("p.json", b'{"a": [1]}', ["--set", "$.a.3=1"], {}, "$.a.3: no such item in a list of 1"),
    ("p.json", b'{"a": 1}', ["--set", "$.a..b=1"], {}, "$.a..b: empty step"),
    ("p.json", b'{"a": 1}', ["--merge", '{"x": 1, "x": 2}'], {}, "--merge: duplicate key 'x'"),
    ("e.txt", b"", [], {}, "e.txt: empty document"),
])
def test_bad_input_is_one_line_and_status_2_everywhere(tmp_path, name, content, args, env,
                                                       expected):
    path = tmp_path / name
    if content is None:
        path.mkdir()
    else:
        path.write_bytes(content)
    result = run_env(str(path), *args, env=env)
    assert (result.returncode, result.stdout) == (2, ""), result.stderr
    assert result.stderr.count("\n") == 1 and "Traceback" not in result.stderr
    assert result.stderr.startswith("tarvel-var: error: ") and expected in result.stderr


def test_a_value_error_from_building_the_store_is_bad_input(tmp_path):
    # The store may refuse keys it reserves for itself; whatever it says is reported as
    # bad input, not as a crash.
    path = tmp_path / "r.json"
    path.write_text('{"_mv_add": 1}')
    script = ("import sys, tarvel_var, tarvel_var.cli\n"
              "def refuse(self, data=None, **flags):\n"
              "    raise ValueError(\"document key '_mv_add' names a method of the store\")\n"
              "tarvel_var.TarvelVar.__init__ = refuse\n"
              "sys.exit(tarvel_var.cli.main(sys.argv[1:]))\n")
    for args in [[], ["--get", "$._mv_add"], ["--keys"]]:
        result = subprocess.run([sys.executable, "-P", "-c", script, str(path), *args],
                                capture_output=True, text=True, timeout=60)
        assert (result.returncode, result.stdout) == (2, "")
        assert result.stderr == ("tarvel-var: error: " + str(path) +
                                 ": document key '_mv_add' names a method of the store\n")


MEASURE = """\
import resource, subprocess, sys
result = subprocess.run(sys.argv[1:], check=True, stdout=subprocess.PIPE, text=True)
print(result.stdout, end="")
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
"""


def output_and_peak_kib(*command):
    result = subprocess.run([sys.executable, "-c", MEASURE, *command], capture_output=True,
                            text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    *lines, peak = result.stdout.splitlines()
    return lines, int(peak)


def test_a_huge_document_stays_within_three_times_its_parsed_size(tmp_path):
    path = tmp_path / "huge.json"
    record = '{"id": %d, "text": "%s", "tags": ["a", "b"], "ok": true}'
    count = 110_000
    with open(path, "w") as out:
        out.write('{"records": [')
        out.write(", ".join(record % (n, "x" * 400 + str(n)) for n in range(count)))
        out.write("]}")
    assert path.stat().st_size > 50_000_000
    _, base = output_and_peak_kib(sys.executable, "-P", "-c", "import json, tarvel_var")
    _, parsed = output_and_peak_kib(sys.executable, "-P", "-c", "import json, tarvel_var; "
                                    f"d = json.load(open({str(path)!r}))")
    # Reading a path (from the plain document) and changing the document (in a store).
    for args, expected in [
        (["--get", "$.records.-1.id"], [str(count - 1)]),
        (["--set", "$.records.0.id=-1", "--get", "$.records.0.id", "--get", "$.records.1.tags"],
         ["-1", '["a", "b"]']),
    ]:
        lines, peak = output_and_peak_kib(sys.executable, "-P", "-m", "tarvel_var", str(path),
                                          *args)
        assert lines == expected
        assert peak - base < 3 * (parsed - base), (args, peak, parsed, base)


# -- the options ------------------------------------------------------------------------------

@pytest.mark.parametrize("argv", [
    [], ["f.json"], ["-"], ["--get", "$.a", "f.toml", "--raw", "-e", "--default", "x"],
    ["--set", "a=1", "--merge", "{}", "--env", "APP", "--env", "B", "--keys", "--items",
     "--params", "--string", "--repr", "--dict", "--sort", "--to", "yaml", "-c"],
    ["--indent", "4", "--allow-nan", "--exit-status", "--compact", "--format", "yaml"],
    ["a.toml", "b.yaml", "--resolve", "--origins", "--diff", "c.json", "--schema", "m:C"],
])
def test_the_quick_reading_of_options_agrees_with_argparse(argv):
    from tarvel_var.cli import build_parser, quick_parse

    assert vars(quick_parse(argv)) == vars(build_parser().parse_args(argv))


@pytest.mark.parametrize("argv", [
    ["--help"], ["--ge", "$.a"], ["--get=$.a"], ["--default", "-1"], ["a", "--diff"],
    ["--indent", "x"], ["--to", "ini"], ["--format", "xml"], ["--get"], ["--"],
])
def test_anything_else_goes_to_argparse(argv):
    from tarvel_var.cli import quick_parse

    assert quick_parse(argv) is None


def test_help_documents_the_new_options():
    text = run("--help").stdout
    for option in ["--env", "--to", "--indent", "--compact", "--allow-nan", "-e, --exit-status",
                   "yaml"]:
        assert option in text


def test_a_missing_extra_is_named_on_one_line(tmp_path):
    (tmp_path / "c.yaml").write_text("a: 1\n")
    script = ("import sys\n"
              "sys.modules['yaml'] = sys.modules['tomli_w'] = None  # as if not installed\n"
              "import tarvel_var.cli\n"
              "sys.exit(tarvel_var.cli.main(sys.argv[1:]))\n")
    for args, expected in [
        ([str(tmp_path / "c.yaml")], "reading YAML needs PyYAML: pip install 'tarvel-var[yaml]'"),
        (["--to", "toml"], "writing TOML needs tomli-w: pip install 'tarvel-var[toml]'"),
        (["-", "--get", "$.a"], "<stdin>:1:2: invalid TOML"),  # sniffing skips YAML
    ]:
        result = subprocess.run([sys.executable, "-P", "-c", script, *args], input="a: 1\n",
                                capture_output=True, text=True, timeout=60)
        assert (result.returncode, result.stdout) == (2, ""), result.stderr
        assert result.stderr.startswith("tarvel-var: error: ") and expected in result.stderr
        assert result.stderr.count("\n") == 1


@pytest.mark.parametrize("args, expected", [
    # --keys, --items, --paths and --sort apply to what the --get before them selected
    # (and the --get then prints nothing of its own)
    (["--get", "$.db", "--keys", "--items"], ['["port", "hosts"]', '[["port", 1], ["hosts", [{"h": "a"}, {"h": "b"}]]]']),
    (["--get", "$.db", "--sort", "--keys"], ['["hosts", "port"]']),
    (["--get", "db", "--get", "db.port"], ['{"port": 1, "hosts": [{"h": "a"}, {"h": "b"}]}', "1"]),
    (["--paths"], ["$.when", "$.e", "$.db.port", "$.db.hosts.0.h", "$.db.hosts.1.h"]),
    (["--get", "$.db.hosts", "--paths"], ["$.db.hosts.0.h", "$.db.hosts.1.h"]),
    (["--dict", "--sort"], ['{"db": {"hosts": [{"h": "a"}, {"h": "b"}], "port": 1}, "e": {}, "when": "2024-05-01T10:00:00"}']),
    (["--del", "$.db.hosts[0]", "--del", "when", "--get", "$.db.hosts"], ['[{"h": "b"}]']),
    (["--set", "$.db.hosts[1].h=\"c\"", "--get", "$.db.hosts.-1.h", "--raw"], ["c"]),
    (["--get", "when"], ['"2024-05-01T10:00:00"']),
    (["--merge", '{"x": 1}', "--get", "$.when", "--to", "json"], [
        '"2024-05-01T10:00:00"',
        '{"when": "2024-05-01T10:00:00", "e": {}, "db": {"port": 1, "hosts": [{"h": "a"}, {"h": "b"}]}, "x": 1}']),
])
def test_selection_paths_and_removal(tmp_path, args, expected):
    path = tmp_path / "c.toml"
    path.write_text('when = 2024-05-01T10:00:00\ne = {}\n[db]\nport = 1\n[[db.hosts]]\nh = "a"\n[[db.hosts]]\nh = "b"\n')
    result = run(str(path), "-c", *args)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == expected


def test_a_full_output_device_is_one_line(tmp_path):
    with open("/dev/full", "w") as full:
        result = subprocess.run([sys.executable, "-P", "-m", "tarvel_var"], stdout=full,
                                stderr=subprocess.PIPE, text=True, timeout=60)
    assert result.returncode == 2
    assert result.stderr == "tarvel-var: error: cannot write the output: No space left on device\n"
