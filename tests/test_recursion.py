"""Deep and self-referencing input ends in RecursionError, never a crash, also on small thread
stacks. Each case runs in a child interpreter, so that a crash fails the test, not pytest."""
import subprocess
import sys

import pytest

# Deep structures are built and freed in the child's main thread; only the store operations
# run in the thread with the small stack. Results: the value returned, or R for RecursionError.
CHILD = r'''
import sys, threading
from tarvel_var import TarvelVar
stack, group, depth, dict_depth = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
R, HUGE, s, cases = RecursionError, 100_000, TarvelVar(), {}

def nest(n, wrap, x):
    for _ in range(n):
        x = wrap(x)
    return x

def deepest(limit):                          # the deepest list the interpreter's own repr() takes
    low, high = 0, limit
    while low < high:
        middle = (low + high + 1) // 2
        try:
            repr(nest(middle, lambda x: [x], []))
            low = middle
        except RecursionError:
            high = middle - 1
    return low

# The interpreter's C recursion limit bounds every native walk, and differs between versions
# (about 1,000 levels, 1,500, then 10,000): the depths asked for, within what it allows here.
room = deepest(depth)
depth, dict_depth = min(depth, room * 9 // 10), min(dict_depth, room // 4)

def setc(inner):
    outer = TarvelVar()
    outer.c = inner                          # a store is stored unchanged
    return outer

def levels(x, step):                         # depth of a converted chain, checked at every level
    n = 0
    while (x := step(x)) is not None:
        n += 1
    return n

def list_step(x):
    assert type(x) is list
    return x[0] if x else None

if group == "write":
    a = []; a.append(a)
    b = []; b.append(([b],))
    d = {}; d["l"] = [d]
    vars(s)["held"] = [0]
    for name, v in {"self": a, "via tuple": b, "via dict": d, "huge": nest(HUGE, lambda x: [x], []),
                    "huge tuples": nest(HUGE, lambda x: (x,), []),
                    "huge dict": nest(HUGE, lambda x: {"a": x}, {})}.items():
        cases["assign " + name] = (lambda v=v: setattr(s, "x", v), R)
        cases["add " + name] = (lambda v=v: s._mv_add({"held": v}), R)
    cases["set_list self"] = (lambda: s._set_list(a), R)
    for wrap in (lambda x: [x], lambda x: (x,)):
        v = nest(depth, wrap, [])
        cases[f"deep {wrap(0)}"] = (lambda v=v: levels(s._set_list(v), list_step), depth)
    v = nest(dict_depth, lambda x: {"a": x}, {})
    cases["deep dict"] = (lambda: levels(TarvelVar(v), lambda x: vars(x).get("a")), dict_depth)
else:
    me = TarvelVar(); me.me = me
    via_list = TarvelVar(); via_list.l = [[1, (via_list,)]]
    x, y = TarvelVar(), TarvelVar(); x.y = y; y.x = x
    p, q = TarvelVar(), TarvelVar(); p.q = [q]; q.p = p
    deep, deep_list = nest(depth, setc, TarvelVar()), nest(depth, lambda v: [v], [])
    for name, st in {"self": me, "via list": via_list, "via store": x, "via list of stores": p,
                     "huge": nest(HUGE, setc, TarvelVar())}.items():
        cases["to_dict " + name] = (st._mv_to_dict, R)
        cases["_to_dict " + name] = (lambda st=st: s._to_dict(vars(st), True), R)
        cases["list_to_dict " + name] = (lambda st=st: s._list_to_dict([st]), R)
        cases["repr " + name] = (lambda st=st: repr(st), R)
    # values render by their own repr(), and a list's repr() stops at a list it is already inside
    cases["repr via list"] = (lambda: repr(via_list), "TarvelVar(l=[[1, [TarvelVar(l=[...])]]])")
    cases["repr via list of stores"] = (lambda: repr(p), "TarvelVar(q=[TarvelVar(p=TarvelVar(q=[...]))])")
    cases["repr deep"] = (lambda: repr(deep), "TarvelVar(c=" * depth + "TarvelVar()" + ")" * depth)
    cases["to_dict deep"] = (lambda: levels(deep._mv_to_dict(), lambda v: v.get("c")), depth)
    cases["list_to_dict deep"] = (lambda: levels(s._list_to_dict(deep_list), list_step), depth)
cases["still usable"] = (lambda: (s._mv_add({"z": [({"k": 1},)]}), s._mv_to_dict()["z"])[1], [[{"k": 1}]])
results = {}

def run():
    for name, (op, _) in cases.items():
        try:
            results[name] = op()
        except RecursionError:
            results[name] = R
        except BaseException as exc:
            results[name] = exc

if stack:
    old = threading.stack_size(stack)
    try:
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(old)
else:
    run()
wrong = {n: (results.get(n, "missing"), want) for n, (_, want) in cases.items() if results.get(n, "missing") != want}
assert not wrong, wrong
print("done")
'''


# Finite nesting that must convert; the guard allows far more in the main thread. Each level of
# dict nesting also costs frames of the store's Python `add`.
@pytest.mark.parametrize("stack, depth, dict_depth", [(0, 3000, 400), (512 * 1024, 300, 100), (256 * 1024, 50, 50)],
                         ids=["main", "thread-512K", "thread-256K"])
@pytest.mark.parametrize("group", ["write", "read"])
def test_recursion(tmp_path, stack, depth, dict_depth, group):
    args = [sys.executable, "-P", "-c", CHILD, str(stack), group, str(depth), str(dict_depth)]
    proc = subprocess.run(args, cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0 and proc.stdout == "done\n", proc.stderr[-4000:]
