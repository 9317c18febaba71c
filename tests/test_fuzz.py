"""Stateful fuzzing: random sequences of every operation on a few stores, including values
that run code mutating the stores while they are compared, hashed, rendered or tested for
truth. After every step the listings must agree with the instance dictionary, a model store
fed only plain data must convert back to its model, and nothing may raise an exception the
stores do not document."""
import re
import sys

from hypothesis import strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, initialize, invariant, precondition, rule

from conftest import INTERNAL, MUTATIONS, Meddler, merged
from tarvel_var import TarvelVar, TarvelVarMain


# Exceptions a Python program can provoke on purpose, by their documented messages.
DOCUMENTED = {
    TypeError: [r"Argument '\w+' has incorrect type \(expected \w+, got \w+\)",
                r"hasattr\(\): attribute name must be string", r"attribute name must be string",
                r"'<' not supported between instances of", r"keywords must be strings",
                r"object is not callable", r"object is not iterable", r"Expected list, got \w+",
                r"argument of type '\w+' is not a container or iterable",
                r"can't delete __class__ attribute", r"cannot delete __dict__"],
    AttributeError: [r"object has no attribute '\w+'",
                     r"^'?\w+'?$"],
    RuntimeError: [r"^dictionary changed size during iteration$"],
    RecursionError: [r""],
}


def check_documented(exc):
    patterns = next((DOCUMENTED[kind] for kind in type(exc).__mro__ if kind in DOCUMENTED), None)
    assert patterns and any(re.search(p, str(exc)) for p in patterns), repr(exc)


def expanded_size(value, cap=20_000):
    """How many nodes a conversion or rendering of `value` visits, up to `cap`. Stores can hold
    one another several times over, and every path through such sharing is walked anew, so
    the work can grow exponentially with the steps; a cycle instead ends in RecursionError at
    once, and counts once here."""
    count, on_path = 0, set()

    def visit(obj):
        nonlocal count
        count += 1
        if count > cap or id(obj) in on_path:
            return
        if type(obj).__name__ == "TarvelVar" or isinstance(obj, TarvelVarMain):
            children = list(vars(obj).values())
        elif isinstance(obj, dict):
            children = list(obj.values())
        elif isinstance(obj, (list, tuple, set, frozenset)):
            children = list(obj)
        else:
            return
        on_path.add(id(obj))
        for child in children:
            visit(child)
        on_path.discard(id(obj))

    visit(value)
    return count


def attempt(op, *args, **kwargs):
    try:
        return op(*args, **kwargs)
    except (TypeError, AttributeError, RuntimeError, RecursionError) as exc:
        check_documented(exc)
        return exc


class StrSub(str):
    pass


class IntSub(int):
    pass


class DictSub(dict):
    pass


class ListSub(list):
    pass


def wipe(s):
    vars(s).clear()  # internal variables too: the store is no longer set up


class SkipMore(TarvelVar):
    def _skip(self):
        return super()._skip() + ["hidden"]


class PopTwice(TarvelVar):
    def _mv_pop(self, name):
        super()._mv_pop(name)
        super()._mv_pop(name)


class FlatDict(TarvelVar):
    def _to_dict(self, kwargs, sort=False):
        return super()._to_dict(kwargs, not sort)


def new_main():
    store = TarvelVarMain()
    store._set_class(TarvelVar, False, False)
    return store


STORE_KINDS = [TarvelVar, SkipMore, PopTwice, FlatDict, new_main]

names = st.text(alphabet="abcxyz.$", max_size=4)
odd_names = st.sampled_from(INTERNAL + ["_skip", "_mv_keys", "_to_dict", "add", "keys", "get",
                                        "__class__", "__dict__", "hidden"])
any_name = names | odd_names
scalars = (st.none() | st.booleans() | st.integers(-5, 5) | st.text(max_size=3)
           | st.floats(allow_nan=False, width=16))
json_like = st.recursive(
    scalars,
    lambda inner: (st.lists(inner, max_size=3) | st.tuples(inner) | st.frozensets(st.integers(0, 3), max_size=2)
                   | st.sets(st.integers(0, 3) | st.tuples(st.integers(0, 3)), max_size=3)
                   | st.dictionaries(names, inner, max_size=3)),
    max_leaves=12)
documents = st.dictionaries(names, json_like, max_size=4)


def plain(value):
    """What a conversion makes of JSON-like input: tuples and sets become lists."""
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple, set)):
        return [plain(v) for v in value]
    return value


class StoreMachine(RuleBasedStateMachine):
    stores = Bundle("stores")

    @initialize(target=stores)
    def first_store(self):
        self.model_store, self.model = TarvelVar(), {}
        self.all_stores = [TarvelVar({"seed": {"x": [1, {"y": 2}]}})]
        return self.all_stores[0]

    @rule(target=stores, kind=st.sampled_from(STORE_KINDS), doc=documents)
    def new_store(self, kind, doc):
        store = kind()
        store._mv_add(doc)
        assert store._mv_to_dict() == plain(doc)
        self.all_stores.append(store)
        return store

    def values(self):
        return st.one_of(
            json_like, st.builds(StrSub, st.text(max_size=2)), st.builds(IntSub, st.integers(0, 3)),
            st.builds(DictSub, st.dictionaries(names, scalars, max_size=2)),
            st.builds(ListSub, st.lists(json_like, max_size=2)),
            self.stores, st.lists(self.stores, max_size=2), st.tuples(st.dictionaries(names, self.stores, max_size=1)),
            st.builds(Meddler, self.stores, st.sampled_from(MUTATIONS + [wipe]), st.booleans()))

    # -- writing -------------------------------------------------------------------------
    @rule(data=st.data(), store=stores, name=any_name)
    def assign(self, data, store, name):
        attempt(setattr, store, name, data.draw(self.values()))

    @rule(data=st.data(), store=stores, name=any_name, inherit=st.booleans())
    def mv_set(self, data, store, name, inherit):
        attempt(store._mv_set, name, data.draw(self.values()), inherit)

    @rule(data=st.data(), store=stores)
    def mv_add(self, data, store):
        attempt(store._mv_add, data.draw(st.dictionaries(any_name, self.values(), max_size=3)))

    @rule(data=st.data(), store=stores, name=any_name)
    def set_kwargs(self, data, store, name):
        attempt(store._mv_set_kwargs, {name: data.draw(self.values()), StrSub("s"): 1})

    @rule(data=st.data(), store=stores, name=any_name, new=st.booleans())
    def set_dict(self, data, store, name, new):
        attempt(store._set_dict, name, data.draw(st.dictionaries(names, self.values(), max_size=2)), new)

    @rule(data=st.data(), store=stores, key=st.none() | any_name)
    def set_list(self, data, store, key):
        result = attempt(store._set_list, data.draw(st.lists(self.values(), max_size=3)), key)
        assert isinstance(result, BaseException) or type(result) is list

    @rule(store=stores, reprint=st.booleans() | st.none(), inherit=st.booleans() | st.integers(0, 1))
    def set_class(self, store, reprint, inherit):
        store._set_class(type(store) if isinstance(store, TarvelVar) else TarvelVar, reprint, inherit)

    @rule(store=stores, flag=st.sampled_from(["_g_n_r", "_g_n_i"]), value=st.booleans())
    def flip_flag(self, store, flag, value):
        attempt(setattr, store, flag, value)

    @rule(store=stores, name=odd_names)
    def delete_internal(self, store, name):
        vars(store).pop(name, None)

    @rule(store=stores, other=stores)
    def foreign_key(self, store, other):
        vars(store)[3] = other  # a key no assignment can make

    # -- removing ------------------------------------------------------------------------
    @rule(store=stores, name=any_name)
    def pop(self, store, name):
        attempt(store._mv_pop, name)
        if name in vars(store) and name not in ("__class__", "__dict__"):
            raise AssertionError(f"{name} survived _mv_pop")

    @rule(store=stores, items=st.lists(any_name | st.integers() | st.none(), max_size=3))
    def pops(self, store, items):
        attempt(store._mv_pops, tuple(items))

    @rule(store=stores)
    def clear(self, store):
        attempt(store._mv_clear)

    # -- reading -------------------------------------------------------------------------
    @rule(store=stores, key=any_name | names.map(lambda n: "$." + n) | st.lists(names | st.integers(), max_size=3)
          | st.none())
    def get(self, store, key):
        default = object()
        found = store._mv_get(key, default)
        if isinstance(key, str) and not key.startswith("$.") and found is not default:
            assert found is vars(store)[key]

    @rule(store=stores, sort=st.booleans())
    def convert(self, store, sort):
        if expanded_size(store) > 20_000:
            return  # shared many times over: exponential work, not a fault
        result = attempt(store._mv_to_dict, sort)
        assert isinstance(result, (BaseException, dict))
        attempt(store._list_to_dict, [store, (store,)])
        attempt(store._to_dict, dict(vars(store)), sort)

    @rule(store=stores)
    def render(self, store):
        if expanded_size(store) > 20_000:
            return  # as in convert
        for text in (attempt(store._mv_to_params), attempt(store._mv_to_string), attempt(repr, store)):
            assert isinstance(text, (BaseException, str))

    # -- the model store: plain data only, so its content is known -------------------------
    @rule(doc=documents)
    def model_add(self, doc):
        self.model_store._mv_add(doc)
        self.model = merged(self.model, plain(doc))

    @rule(name=names, value=json_like)
    def model_assign(self, name, value):
        setattr(self.model_store, name, value)
        self.model[name] = plain(value)

    @rule(doc=documents)
    def model_round_trip(self, doc):
        assert TarvelVar(doc)._mv_to_dict() == plain(doc)

    @precondition(lambda self: self.model)
    @rule(data=st.data())
    def model_pop(self, data):
        name = data.draw(st.sampled_from(sorted(self.model)))
        self.model_store._mv_pops((name, name))
        del self.model[name]

    @invariant()
    def model_converts_back(self):
        if hasattr(self, "model"):
            assert self.model_store._mv_keys() == list(self.model)
            assert self.model_store._mv_to_dict() == self.model

    @invariant()
    def listings_agree_with_dict(self):
        for store in getattr(self, "all_stores", ()):
            expected = attempt(lambda: [(k, v) for k, v in list(vars(store).items()) if k not in store._skip()])
            items = attempt(TarvelVarMain._mv_items, store)
            if isinstance(expected, BaseException):
                assert type(items) is type(expected)
                continue
            assert items == expected and all(type(pair) is tuple for pair in items)
            assert TarvelVarMain._mv_keys(store) == [k for k, _ in items]
            assert TarvelVarMain._mv_values(store) == [v for _, v in items]


class TestStores(StoreMachine.TestCase):
    # examples and steps per example come from the profile (conftest.py)
    # Stores that come to hold themselves end every conversion in RecursionError; a low limit
    # gets there sooner (the suite also runs under ASan, where deep stacks are slow).
    def setUp(self):
        self.limit = sys.getrecursionlimit()
        sys.setrecursionlimit(300)

    def tearDown(self):
        sys.setrecursionlimit(self.limit)
