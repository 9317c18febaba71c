"""Eight threads mutate, read, convert and render the same stores at once: no crash, only
the documented exception of a store that changed while it was walked, and every store
consistent afterwards."""
import random
import sys
import threading
import time

from conftest import INTERNAL
from tarvel_var import TarvelVar, TarvelVarMain

SECONDS = 2.5


def worker(seed, stores, stop, errors, counts):
    rnd = random.Random(seed)
    ops = [
        lambda s: s._mv_add({"d": {f"k{rnd.randrange(4)}": [rnd.randrange(9)]}, "l": [{"x": 1}], "n": rnd.randrange(9)}),
        lambda s: setattr(s, f"v{rnd.randrange(6)}", {"a": (1, {"b": [2]})}),
        lambda s: s._mv_set(f"v{rnd.randrange(6)}", [rnd.randrange(9)], True),
        lambda s: s._mv_pop(f"v{rnd.randrange(6)}"),
        lambda s: s._mv_pops(("n", f"v{rnd.randrange(6)}")),
        lambda s: rnd.randrange(20) == 0 and s._mv_clear(),
        lambda s: s._mv_get("$.d.k1"), lambda s: s._mv_get(f"v{rnd.randrange(6)}"),
        lambda s: s._mv_keys(), lambda s: s._mv_items(), lambda s: s._mv_values(),
        lambda s: s._mv_to_dict(rnd.random() < 0.5), lambda s: s._to_dict(dict(vars(s))),
        lambda s: s._mv_to_params(), lambda s: s._mv_to_string(), lambda s: repr(s),
        lambda s: s._set_list([{"y": 2}, (3,)], "l"), lambda s: s._set_dict("d", {"z": 3}),
        lambda s: s._mv_set("peer", TarvelVar({"q": [rnd.randrange(9)]})),
    ]
    done = 0
    while not stop.is_set():
        store = stores[rnd.randrange(len(stores))]
        try:
            rnd.choice(ops)(store)
        except RuntimeError as exc:  # another thread changed the store while this one walked it
            if str(exc) != "dictionary changed size during iteration":
                errors.append(exc)
        except BaseException as exc:
            errors.append(exc)
        done += 1
    counts.append(done)


def test_threads_share_stores():
    stores = [TarvelVar({"d": {"k0": [0]}, "l": []}) for _ in range(3)]
    stop, errors, counts = threading.Event(), [], []
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # switch threads as often as possible
    try:
        threads = [threading.Thread(target=worker, args=(i, stores, stop, errors, counts)) for i in range(8)]
        for t in threads:
            t.start()
        time.sleep(SECONDS)
        stop.set()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(old)
    assert not errors, errors[:5]
    assert len(counts) == 8 and all(counts)
    for s in stores:
        variables = [(k, v) for k, v in vars(s).items() if k not in INTERNAL]
        assert TarvelVarMain._mv_items(s) == variables
        assert list(vars(s))[:4] == INTERNAL
        converted = s._mv_to_dict()
        assert list(converted) == [k for k, _ in variables]
        s._mv_add({"d": {"k9": [9]}})
        assert s._mv_get("$.d.k9") == [9]
