"""Command line: load a configuration into a TarvelVar and query it."""

from __future__ import annotations

import json
import sys

from . import TarvelVar

SAMPLE = {
    "app": {"name": "demo", "debug": False},
    "db": {"host": "localhost", "port": 5432, "replicas": [{"host": "r1"}, {"host": "r2"}]},
    "features": ["search", "export"],
}


def main(argv: list[str] | None = None) -> int:
    store = TarvelVar(SAMPLE)
    print("store:", repr(store))
    print("db.port:", store.db.port)
    print("$.db.replicas:", json.dumps(store._mv_get("$.db")._mv_to_dict()["replicas"]))
    print("params:", store.app._mv_to_params())
    print("dict:", json.dumps(store._mv_to_dict(sort=True)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
