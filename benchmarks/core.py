"""Timings of the store's hot paths next to the plain-Python equivalents.

Run with `make bench`. Prints one line per operation: best of three repeats, per call.
"""

import json
import random
import timeit

from tarvel_var import TarvelVar


class Plain:
    def method(self):
        return None


def per_call(stmt, namespace, number):
    return min(timeit.repeat(stmt, globals=namespace, number=number, repeat=3)) / number


def make_document(depth, rng):
    if depth == 0:
        return rng.choice([1, "s", 2.5, None, True])
    return {f"n{i}": make_document(depth - 1, rng) if i % 3 else
            [make_document(depth - 1, rng), make_document(depth - 1, rng)] for i in range(6)}


def main():
    doc = make_document(5, random.Random(1))
    ns = {
        "TarvelVar": TarvelVar, "json": json, "doc": doc, "text": json.dumps(doc),
        "store": TarvelVar(), "plain": Plain(),
        "small": TarvelVar({f"k{i}": i for i in range(10)}),
        "large": TarvelVar({f"k{i}": i for i in range(10_000)}),
        "deep": TarvelVar({"a": {"b": {"c": 1}}}),
        "tree": TarvelVar(doc),
        "nested": {f"k{i}": {"v": i, "l": [i, {"x": i}]} for i in range(1000)},
    }
    rows = [
        ("store._skip()", "plain.method()", 200_000),
        ("store.x = 1", "plain.x = 1", 200_000),
        ("store.d = {'a': 1, 'b': [1, {'c': 2}]}", "plain.d = {'a': 1, 'b': [1, {'c': 2}]}", 50_000),
        ("deep.a.b.c", "plain.method", 200_000),
        ("small._mv_get('k5')", None, 200_000),
        ("large._mv_get('k5')", None, 200_000),
        ("deep._mv_get('$.a.b.c')", None, 50_000),
        ("large._mv_keys()", "list(large.__dict__)", 1_000),
        ("TarvelVar()._mv_add(nested)", "{}.update(nested)", 50),
        ("TarvelVar(doc)", "json.loads(text)", 5),
        ("tree._mv_to_dict()", None, 5),
        ("repr(tree)", None, 5),
    ]
    print(f"{'operation':42} {'time':>10}   {'reference':34} {'time':>10}")
    for stmt, reference, number in rows:
        ours = per_call(stmt, ns, number)
        ref = per_call(reference, ns, number) if reference else None
        ref_text = f"{reference:34} {ref * 1e6:9.3f}us" if reference else ""
        print(f"{stmt:42} {ours * 1e6:9.3f}us   {ref_text}")


if __name__ == "__main__":
    main()
