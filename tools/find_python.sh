#!/bin/sh
# Finds the supported CPython interpreters (3.11 and newer) on this machine.
#   find_python.sh        the path of the newest one
#   find_python.sh --all  "VERSION PATH" per line, one per minor version, newest first
# $PYTHON, when set, is the only candidate. Otherwise: python3.N and python3 on PATH, then
# pyenv's versions/3.*; of two interpreters of one minor version the first found is kept.
# Free-threaded builds are left out: the package needs the GIL there too.
describe() {
    # prints "MINOR VERSION" for a supported CPython with the GIL, nothing otherwise
    "$1" -c 'import sys, sysconfig
ok = sys.implementation.name == "cpython" and sys.version_info >= (3, 11) \
     and not sysconfig.get_config_var("Py_GIL_DISABLED")
if ok: print(sys.version_info[1], "%d.%d.%d" % sys.version_info[:3], sys.executable)' 2>/dev/null
}

candidates() {
    if [ -n "${PYTHON:-}" ]; then
        echo "$PYTHON"
        return
    fi
    for minor in 20 19 18 17 16 15 14 13 12 11; do
        command -v "python3.$minor" 2>/dev/null
    done
    command -v python3 2>/dev/null
    root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
    for dir in $(ls -d "$root"/versions/3.* 2>/dev/null | sort -t. -k2,2nr -k3,3nr); do
        [ -x "$dir/bin/python3" ] && echo "$dir/bin/python3"
    done
}

found=$(candidates | while read -r candidate; do describe "$candidate"; done |
        sort -s -k1,1nr | awk '!seen[$1]++ { print $2, $3 }')
if [ -z "$found" ]; then
    if [ -n "${PYTHON:-}" ]; then
        echo "error: \$PYTHON=$PYTHON is not a working CPython 3.11 or newer (with the GIL)" >&2
    else
        echo "error: no CPython 3.11 or newer found (set PYTHON=/path/to/python3, put python3.13 on PATH, or install it with pyenv)" >&2
    fi
    exit 1
fi
if [ "${1:-}" = "--all" ]; then
    echo "$found"
else
    echo "$found" | head -n 1 | cut -d' ' -f2
fi
