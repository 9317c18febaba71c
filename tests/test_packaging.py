"""What a user installs: the type stubs as mypy sees them, and the wheel in a clean venv.

These run tools in subprocesses against the installed package, so they are marked
`packaging` and left out of the sanitizer runs."""

import importlib.util
import os
import subprocess
import sys
import tomllib
import zipfile
from pathlib import Path

import pytest

pytestmark = pytest.mark.packaging

ROOT = Path(__file__).resolve().parent.parent
USAGE = Path(__file__).resolve().parent / "typed" / "usage.py"
SETTINGS_USAGE = USAGE.parent / "settings_usage.py"

needs_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None,
                                reason="mypy is not installed")


def run(*args, cwd, timeout=600):
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONDEVMODE")}
    return subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True,
                          timeout=timeout)


def mypy(tmp_path, *args):
    # as for the oldest Python the package supports: the stubs and the typed API keep to it
    return run(sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--python-version", "3.11",
               "--cache-dir", str(tmp_path / "cache"), *args, cwd=tmp_path)


@needs_mypy
def test_stubs_match_the_runtime(tmp_path):
    result = run(sys.executable, "-m", "mypy.stubtest", "tarvel_var",
                 "--allowlist", str(USAGE.parent / "stubtest-allowlist.txt"),
                 "--mypy-config-file", os.devnull, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


@needs_mypy
@pytest.mark.parametrize("usage", [USAGE, SETTINGS_USAGE], ids=["store", "settings"])
def test_typed_example_passes_strict_mode(tmp_path, usage):
    result = mypy(tmp_path, str(usage))
    assert result.returncode == 0, result.stdout + result.stderr


# Misuse of a settings class that both checkers must report, one error a line; the lines
# before them are a correct use that must pass.
SETTINGS_MISUSE = (
    "from tarvel_var import Settings\n"
    "class Db(Settings):\n"
    "    port: int = 5432\n"
    "class App(Settings, extra='allow'):\n"
    "    db: Db = Db()\n"
    "cfg = App()\n"
    "cfg.db.prot\n"                     # a misspelt field, read
    "cfg.db.port = 'x'\n"               # a str where an int is declared
    "cfg.db.prot = 1\n"                 # a misspelt field, assigned
    "name: str = cfg.db.port\n"         # an int, not a str
    "class Bad(Settings, extra='some'):\n"  # not a policy
    "    pass\n")
SETTINGS_ERRORS = [7, 8, 9, 10, 11]


@needs_mypy
def test_strict_mode_catches_settings_misuse(tmp_path):
    bad = tmp_path / "bad.py"
    bad.write_text(SETTINGS_MISUSE)
    result = mypy(tmp_path, str(bad))
    lines = sorted({int(line.split(":")[1]) for line in result.stdout.splitlines() if ": error:" in line})
    assert lines == SETTINGS_ERRORS, result.stdout


@needs_mypy
def test_strict_mode_catches_misuse(tmp_path):
    bad = tmp_path / "bad.py"
    bad.write_text(
        "from tarvel_var import TarvelVar\n"
        "s = TarvelVar({'a': 1}, True)\n"          # reprint is keyword-only
        "s._mv_pop(1)\n"                           # names are str
        "s._mv_to_dict(sort='yes')\n"              # sort is bool
        "n: int = s._mv_keys()\n"                  # a list of str
        "s._mv_add([('a', 1)])\n"                 # a dict, not pairs
        "TarvelVar([('a', 1)])\n"                 # a mapping, not pairs
        "n = s.to_dict() + 1\n")                  # a dict
    result = mypy(tmp_path, str(bad))
    lines = sorted({int(line.split(":")[1]) for line in result.stdout.splitlines()
                    if ": error:" in line})
    assert lines == [2, 3, 4, 5, 6, 7, 8], result.stdout


needs_pyright = pytest.mark.skipif(importlib.util.find_spec("basedpyright") is None,
                                   reason="basedpyright is not installed")


def pyright(tmp_path, name, text):
    (tmp_path / "pyrightconfig.json").write_text('{"typeCheckingMode": "strict"}')
    (tmp_path / name).write_text(text)
    return run(sys.executable, "-m", "basedpyright", "--pythonpath", sys.executable, name, cwd=tmp_path)


@needs_pyright
@pytest.mark.parametrize("usage", [USAGE, SETTINGS_USAGE], ids=["store", "settings"])
def test_typed_example_passes_pyright_strict(tmp_path, usage):
    result = pyright(tmp_path, usage.name, usage.read_text())
    assert result.returncode == 0 and "0 errors" in result.stdout, result.stdout + result.stderr


@needs_pyright
def test_pyright_catches_settings_misuse(tmp_path):
    result = pyright(tmp_path, "bad.py", SETTINGS_MISUSE)
    lines = sorted({int(line.split(":")[1]) for line in result.stdout.splitlines() if " - error:" in line})
    assert lines == SETTINGS_ERRORS, result.stdout


def test_wheel_from_the_sdist_installs_and_runs_in_a_clean_venv(tmp_path):
    pytest.importorskip("build")
    pytest.importorskip("scikit_build_core")
    dist = tmp_path / "dist"
    built = run(sys.executable, "-m", "build", "--no-isolation", "--outdir", str(dist),
                str(ROOT), cwd=tmp_path)
    assert built.returncode == 0, built.stdout[-2000:] + built.stderr[-2000:]
    [sdist] = dist.glob("tarvel_var-*.tar.gz")
    [wheel] = dist.glob(f"tarvel_var-*-cp{sys.version_info[0]}{sys.version_info[1]}-*.whl")
    with zipfile.ZipFile(wheel) as archive:
        [metadata] = [n for n in archive.namelist() if n.endswith(".dist-info/METADATA")]
        headers = archive.read(metadata).decode().split("\n\n")[0].splitlines()
        licenses = [n for n in archive.namelist() if ".dist-info/licenses/" in n]
        assert [n.rsplit("/", 1)[1] for n in licenses] == ["LICENSE"]
        assert archive.read(licenses[0]) == (ROOT / "LICENSE").read_bytes()
    assert "License-Expression: MIT" in headers and "License-File: LICENSE" in headers
    # the optional formats and schemas are the only extras; the developers' tools stay out
    assert sorted(h for h in headers if h.startswith("Provides-Extra")) == [
        "Provides-Extra: dotenv", "Provides-Extra: schema", "Provides-Extra: toml", "Provides-Extra: yaml"]
    assert all("; extra ==" in h for h in headers if h.startswith("Requires-Dist"))

    venv = tmp_path / "venv"
    made = run(sys.executable, "-m", "venv", str(venv), cwd=tmp_path)
    assert made.returncode == 0, made.stderr
    python = venv / "bin" / "python"
    installed = run(str(python), "-m", "pip", "install", "-q", "--no-index", str(wheel),
                    cwd=tmp_path)
    assert installed.returncode == 0, installed.stdout + installed.stderr

    where = run(str(python), "-P", "-c",
                "import tarvel_var.var_main as m; print(m.__file__)", cwd=tmp_path)
    assert where.stdout.startswith(str(venv)), where.stdout + where.stderr
    example = run(str(python), "-P", str(USAGE), cwd=tmp_path)
    assert example.returncode == 0, example.stderr
    assert example.stdout.splitlines()[-2:] == ["6543", "[]"]
    script = run(str(venv / "bin" / "tarvel-var"), "--get", "$.database.port", cwd=tmp_path)
    assert (script.returncode, script.stdout) == (0, "5432\n"), script.stderr


@pytest.mark.parametrize("group, tools", [("test", {"pytest", "hypothesis", "mypy", "build"}),
                                          ("bench", {"python-box", "addict", "munch"})])
def test_development_tools_are_dependency_groups_not_extras(group, tools):
    project = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))
    assert set(project["project"].get("optional-dependencies", {})) == {"yaml", "toml", "schema", "dotenv"}
    names = {req.split(">")[0].split("=")[0] for req in project["dependency-groups"][group]}
    assert tools <= names
    assert project["project"]["license"] == "MIT"
    assert [ROOT / f for f in project["project"]["license-files"]] == [ROOT / "LICENSE"]
    assert (ROOT / "LICENSE").read_text(encoding="utf-8").startswith("MIT License\n")
    makefile = (ROOT / "Makefile").read_text(encoding="utf-8")
    assert f"--group {group}" in makefile and ".[" not in makefile
