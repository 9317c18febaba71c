#!/bin/sh
# Installs each wheel in the given directory into a new venv of the interpreter it was built
# for, outside the source tree, and runs a smoke check there: what a user's `pip install` gets.
set -eu
dir=$(cd "$1" && pwd)
interpreters=$(sh "$(dirname "$0")/find_python.sh" --all)
status=0
if ! ls "$dir"/*.whl >/dev/null 2>&1; then
    echo "error: no wheels in $dir" >&2
    exit 1
fi
for wheel in "$dir"/*.whl; do
    tag=$(basename "$wheel" | cut -d- -f3)             # cp312
    minor=${tag#cp3}
    py=$(echo "$interpreters" | awk -v v="3.$minor" 'index($1, v ".") == 1 { print $2; exit }')
    if [ -z "$py" ]; then
        echo "skip $(basename "$wheel"): no CPython 3.$minor here" >&2
        continue
    fi
    scratch=$(mktemp -d)
    "$py" -m venv "$scratch/venv"
    if (cd "$scratch" && "$scratch/venv/bin/python" -m pip install -q "$wheel" &&
        "$scratch/venv/bin/python" -P -c '
import sys, tarvel_var, tarvel_var.var_main as core
assert tarvel_var.__file__.startswith(sys.prefix), tarvel_var.__file__  # the installed copy
s = tarvel_var.TarvelVar({"db": {"port": 5432, "hosts": ("a", "b")}})
assert s.db.port == 5432 and s.get("$.db.hosts.1") == "b" and s.to_dict()["db"]["hosts"] == ["a", "b"]
assert core.TarvelVarMain.__name__ == "TarvelVarMain"
' && "$scratch/venv/bin/tarvel-var" --version); then
        echo "$(basename "$wheel"): ok"
    else
        echo "$(basename "$wheel"): FAILED"
        status=1
    fi
    rm -rf "$scratch"
done
exit $status
