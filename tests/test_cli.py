"""The command line, run as a user runs it: in a subprocess."""

import json
import subprocess
import sys

import pytest


def run(*args, stdin=None):
    return subprocess.run([sys.executable, "-P", "-m", "tarvel_var", *args], input=stdin,
                          capture_output=True, text=True, timeout=60)


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
        "1", "x", '{"host": "h", "port": 1}', '["db", "name"]', "7",
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
