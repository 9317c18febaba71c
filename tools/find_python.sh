#!/bin/sh
# Prints the path of a working CPython 3.13 interpreter, or fails with a message.
# Order: $PYTHON, python3.13 on PATH, pyenv's versions/3.13.*.
is_313() {
    "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1
}
if [ -n "${PYTHON:-}" ]; then
    if is_313 "$PYTHON"; then command -v "$PYTHON"; exit 0; fi
    echo "error: \$PYTHON=$PYTHON is not a working CPython 3.13" >&2
    exit 1
fi
if command -v python3.13 >/dev/null 2>&1 && is_313 python3.13; then
    # A pyenv shim may exist without the version being active; resolve it to the real binary.
    python3.13 -c 'import sys; print(sys.executable)'
    exit 0
fi
root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
for candidate in $(ls -d "$root"/versions/3.13.* 2>/dev/null | sort -r); do
    if is_313 "$candidate/bin/python3.13"; then
        echo "$candidate/bin/python3.13"
        exit 0
    fi
done
echo "error: CPython 3.13 not found (set PYTHON=/path/to/python3.13, put python3.13 on PATH, or install it with pyenv)" >&2
exit 1
