"""Module frame of tarvel_var.var_main: import, class shape, method objects, argument parser."""
import builtins
import ctypes
import importlib
import subprocess
import sys
import types
import typing

import pytest

import tarvel_var.var_main as vm
from tarvel_var import TarvelVarMain as T
from conftest import SUBINTERPRETERS, assert_no_leak

# (name, signature line, summary, field lines): every docstring, annotation, default and
# argument rule below is rebuilt from these texts.
DOCS = [
    ("_set_class", "TarvelVarMain._set_class(self, instance: Any, reprint: bool, inherit: bool) -> None", "初始化类实例，设置内部变量。", [":param instance: 实例对象，用于创建新的变量。", ":param reprint: 布尔值，控制是否重新打印属性。", ":param inherit: 布尔值，控制是否继承属性。"]),
    ("_mv_add", "TarvelVarMain._mv_add(self, dict kwargs: Dict[str, Any]) -> None", "添加变量到实例中，支持字典、列表、集合、元组等类型。", [":param kwargs: 字典类型，包含要添加的变量及其值。"]),
    ("_mv_pop", "TarvelVarMain._mv_pop(self, unicode name: str) -> None", "删除指定名称的变量。", [":param name: 字符串类型，表示要删除的变量名称。"]),
    ("_mv_pops", "TarvelVarMain._mv_pops(self, tuple args: Tuple[str, ...]) -> None", "批量删除指定名称的变量。", [":param args: 列表类型，包含要删除的变量名称。"]),
    ("_mv_clear", "TarvelVarMain._mv_clear(self) -> None", "清除所有变量，保留内部变量。", []),
    ("_mv_get", "TarvelVarMain._mv_get(self, key: Any, default: Any = None) -> Optional[Any]", "获取指定路径的变量值。", [":param key: 要获取的变量名称。", ":param default: 获取变量出错时，默认返回的值。", ":return: 返回指定路径的变量值，若不存在则返回 None 或默认值。"]),
    ("_mv_keys", "TarvelVarMain._mv_keys(self) -> List[str]", "获取所有变量的名称，排除内部变量。", [":return: 列表类型，包含所有变量的名称。"]),
    ("_mv_values", "TarvelVarMain._mv_values(self) -> List[Any]", "获取所有变量的值，排除内部变量。", [":return: 列表类型，包含所有变量的值。"]),
    ("_mv_items", "TarvelVarMain._mv_items(self) -> List[Tuple[str, Any]]", "获取所有变量的名称和值，排除内部变量。", [":return: 列表类型，包含所有变量的名称和值。"]),
    ("_mv_to_dict", "TarvelVarMain._mv_to_dict(self, sort: bool = False) -> Dict[str, Any]", "将变量转换为字典，支持排序。", [":param sort: 布尔值，控制是否对字典进行排序。", ":return: 字典类型，包含所有变量的名称和值。"]),
    ("_mv_to_params", "TarvelVarMain._mv_to_params(self) -> str", "将变量转换为参数字符串。", [":return: 字符串类型，表示所有变量的名称和值。"]),
    ("_mv_to_string", "TarvelVarMain._mv_to_string(self) -> str", "将变量转换为字符串。", [":return: 字符串类型，表示所有变量的名称和值。"]),
    ("_to_dict", "TarvelVarMain._to_dict(self, dict kwargs: Dict[str, Any], sort: bool = False) -> Dict[str, Any]", "将变量集合转换为字典，支持递归转换。", [":param kwargs: 字典类型，包含要转换的变量集合。", ":param sort: 布尔值，控制是否对字典进行排序。", ":return: 字典类型，包含转换后的变量集合。"]),
    ("_list_to_dict", "TarvelVarMain._list_to_dict(self, array: Union[List[Any], Set[Any], Tuple[Any, ...]]) -> List[Any]", "将列表转换为字典，支持递归转换。", [":param array: 列表类型，包含要转换的元素。", ":return: 列表类型，包含转换后的元素。"]),
    ("_set_dict", "TarvelVarMain._set_dict(self, unicode key: str, dict value: Dict[str, Any], new: bool = False) -> None", "设置字典类型的变量，支持合并或新建。", [":param key: 字符串类型，表示变量的名称。", ":param value: 字典类型，表示变量的值。", ":param new: 布尔值，控制是否新建变量。"]),
    ("_set_list", "TarvelVarMain._set_list(self, value: Union[List[Any], Set[Any], Tuple[Any, ...]], unicode key: Optional[str] = None) -> List[Any]", "设置列表类型的变量，支持递归设置。", [":param value: 列表类型，表示变量的值。", ":param key: 字符串类型，表示变量的名称。", ":return: 列表类型，包含设置后的变量值。"]),
    ("_skip", "TarvelVarMain._skip() -> List[str]", "获取需要跳过的内部变量名称。", [":return: 列表类型，包含需要跳过的内部变量名称。"]),
    ("_mv_set", "TarvelVarMain._mv_set(self, unicode name: str, value: Any, inherit: bool = False) -> None", "设置变量，支持继承属性。", [":param name: 字符串类型，表示变量的名称。", ":param value: 任意类型，表示变量的值。", ":param inherit: 布尔值，控制是否继承属性。"]),
    ("_mv_set_kwargs", "TarvelVarMain._mv_set_kwargs(self, dict kwargs: Dict[str, Any]) -> None", "批量设置变量。", [":param kwargs: 字典类型，包含要设置的变量及其值。"]),
    ("_set_attr", "TarvelVarMain._set_attr(self, unicode name: str, value: Any) -> None", "设置属性，支持字典、列表、集合、元组等类型。", [":param name: 字符串类型，表示属性的名称。", ":param value: 任意类型，表示属性的值。"]),
    ("__getattr__", "TarvelVarMain.__getattr__(self, unicode name: str) -> Union[str, None]", "获取属性，若属性不存在则返回名称或 None。", [":param name: 字符串类型，表示属性的名称。", ":return: 字符串类型或 None，表示属性的值。"]),
    ("__setattr__", "TarvelVarMain.__setattr__(self, unicode name: str, value: Any) -> None", "设置属性，支持继承属性。", [":param name: 字符串类型，表示属性的名称。", ":param value: 任意类型，表示属性的值。"]),
    ("__repr__", "TarvelVarMain.__repr__(self) -> str", "返回实例的字符串表示。", [":return: 字符串类型，表示实例的字符串表示。"]),
]
NAMES = [d[0] for d in DOCS]


def parse(sig):
    """[(name, exact type or None, annotation, default marker)], return annotation."""
    inner, ret = sig[sig.index("(") + 1:].rsplit(") -> ", 1)
    parts, depth, cur = [], 0, ""
    for ch in inner:  # split on commas outside brackets
        depth += (ch == "[") - (ch == "]")
        if ch == "," and not depth:
            parts.append(cur.strip())
            cur = ""
        else:
            cur += ch
    params = []
    for p in [*parts, cur.strip()] if inner else []:
        decl, _, ann = p.partition(": ")
        ann, _, default = ann.partition(" = ")
        words = decl.split()
        typ = {"unicode": str, "dict": dict, "tuple": tuple}.get(words[0]) if len(words) > 1 else None
        params.append((words[-1], typ, ann, {"None": (None,), "False": (False,), "": ()}[default]))
    return params, ret


PARSED = {n: parse(sig) for n, sig, *_ in DOCS}
INSTANCE = [n for n in NAMES if n != "_skip"]


def test_module_globals_and_records():
    import tarvel_var
    extra = [k for k in vars(vm) if k not in {"__name__", "__doc__", "__loader__", "__file__",
                                               "__package__", "__spec__", "__builtins__"}]
    assert extra == ["Dict", "List", "Optional", "Any", "Union", "Set", "Tuple", "TarvelVarMain", "__test__"]
    for name in extra[:7]:
        assert getattr(vm, name) is getattr(typing, name)
    assert vm.__test__ == {} and type(vm.__test__) is dict
    assert vm.__builtins__ is builtins
    assert (vm.__name__, vm.__package__, vm.__file__) == ("tarvel_var.var_main", "tarvel_var", vm.__spec__.origin)
    assert vm.__loader__ is vm.__spec__.loader
    assert tarvel_var.TarvelVarMain is vm.TarvelVarMain is T


def test_reimport_returns_same_module_and_class():
    saved = sys.modules.pop("tarvel_var.var_main")
    try:
        again = importlib.import_module("tarvel_var.var_main")
        assert again is saved and again.TarvelVarMain is T and again.__test__ is saved.__test__
    finally:
        sys.modules["tarvel_var.var_main"] = saved


def run_py(code):
    return subprocess.run([sys.executable, "-P", "-c", code], capture_output=True, text=True, timeout=120)


def test_second_interpreter_refused():
    r = run_py(SUBINTERPRETERS + "import tarvel_var.var_main as m\n"
               "i = create('legacy')\n"
               "run_string(i, '''\ntry:\n import tarvel_var.var_main\n"
               "except ImportError as e:\n print('ERR', type(e).__name__, e)\nelse:\n print('LOADED')\n''')\n"
               "destroy(i)\nprint(m.TarvelVarMain.__name__)\n")
    assert r.returncode == 0, r.stderr
    assert r.stdout == ("ERR ImportError Interpreter change detected - this module can only be loaded "
                        "into one interpreter per process.\nTarvelVarMain\n")


def test_failed_execution_is_forgotten():
    # typing without Set: the body fails; the next import must build a fresh module
    r = run_py("import sys, types, typing\nfake = types.ModuleType('typing')\n"
               "fake.__dict__.update({k: getattr(typing, k) for k in dir(typing) if k != 'Set'})\n"
               "sys.modules['typing'] = fake\n"
               "try:\n import tarvel_var.var_main\nexcept ImportError as e:\n print(e)\n"
               "sys.modules['typing'] = typing\nimport tarvel_var.var_main as m\n"
               "print(m.Set is typing.Set, m.TarvelVarMain.__name__)\n")
    assert r.returncode == 0, r.stderr
    assert r.stdout == "cannot import name Set\nTrue TarvelVarMain\n"


def test_class_shape():
    assert T.__bases__ == (object,) and type(T) is type and T.__mro__ == (T, object)
    assert (T.__module__, T.__name__, T.__qualname__) == ("var_main", "TarvelVarMain", "TarvelVarMain")
    assert T.__doc__ == "\n    TarvelVarMain 类用于管理和操作变量集合，支持添加、删除、获取、转换等操作。\n    "
    keys = list(T.__dict__)
    assert keys[:25] == ["__module__", "__doc__", *NAMES]
    assert not {"__qualname__", "__init__", "__new__", "__slots__"} & set(keys)
    assert vars(T()) == {}
    flags = type(T._mv_keys).__flags__  # vectorcall and method-descriptor flags
    assert flags & (1 << 11) and flags & (1 << 17)


@pytest.mark.parametrize("name, sig, summary, fields", DOCS, ids=NAMES)
def test_method_object(name, sig, summary, fields, main_store):
    store = main_store
    params, ret = PARSED[name]
    raw = T.__dict__[name]
    if name == "_skip":
        assert type(raw) is staticmethod
        func = raw.__func__
        assert T._skip is func and store._skip is func
    else:
        func = raw
        assert T.__dict__[name] is getattr(T, name)
        bound = getattr(store, name)
        assert type(bound) is types.MethodType and bound.__func__ is func and bound.__self__ is store
    assert (func.__name__, func.__qualname__, func.__module__) == (name, "TarvelVarMain." + name, "var_main")
    defaults = [d for *_, d in params if d]
    assert func.__defaults__ == (defaults[0] if defaults else None)
    ann = func.__annotations__
    assert list(ann.items()) == [(p, a) for p, _, a, _ in params if p != "self"] + [("return", ret)]
    body = "\n\n" + "\n".join("        " + f for f in fields) if fields else ""
    assert func.__doc__ == f"{sig}\n\n        {summary}{body}\n        "


GOOD = {str: "k", dict: {}, tuple: (), None: 0}


def count_msg(name, word, limit, given):
    return f"{name}() takes {word} {limit} positional argument{'' if limit == 1 else 's'} ({given} given)"


def parser_cases():
    """(method, args after self, kwargs, message) for every argument error of every method."""
    for name in INSTANCE:
        params = PARSED[name][0]
        lo, hi = sum(not d for *_, d in params), len(params)
        rest = [GOOD[t] for _, t, _, _ in params[1:]]
        same = lo == hi
        if lo > 1:
            yield name, rest[:lo - 2], {}, count_msg(name, "exactly" if same else "at least", lo, lo - 1)
            # keywords for everything but the first parameter after self, plus a misspelt one
            kw = {p: v for (p, *_), v in zip(params[2:], rest[1:])} | {"zz": 1}
            yield name, None, kw, count_msg(name, "exactly" if same else "at least", lo, 1)
        yield name, rest + [0], {}, count_msg(name, "exactly" if same else "at most", hi, hi + 1)
        yield name, rest + [0], {"zz": 1}, count_msg(name, "exactly" if same else "at most", hi, hi + 1)
        yield name, rest, {"zz": 1}, f"{name}() got an unexpected keyword argument 'zz'"
        yield name, rest, {params[-1][0]: 0}, f"{name}() got multiple values for keyword argument '{params[-1][0]}'"
        for i, (p, t, _, d) in enumerate(params):
            if t:  # this parameter and every later typed one wrong: the first wins
                args = [GOOD[tt] if j < i else (1 if tt else 0) for j, (_, tt, _, _) in enumerate(params)][1:]
                for bad, tn in [(1, "int"), (None, "NoneType"), (type("Sub", (t,), {})(), "Sub")]:
                    if bad is None and d == (None,):
                        continue
                    yield name, [*args[:i - 1], bad, *args[i:]], {}, \
                        f"Argument '{p}' has incorrect type (expected {t.__name__}, got {tn})"


CASES = list(parser_cases())


@pytest.mark.parametrize("name, args, kwargs, msg", CASES, ids=[f"{c[0]}-{i}" for i, c in enumerate(CASES)])
def test_argument_errors_leave_store_unchanged(name, args, kwargs, msg, main_store):
    store = main_store
    store.v = 1
    before = list(vars(store).items())
    with pytest.raises(TypeError) as e:
        if args is None:
            getattr(store, name)(**kwargs)
        else:
            getattr(T, name)(store, *args, **kwargs)
    assert str(e.value) == msg
    assert list(vars(store).items()) == before


@pytest.mark.parametrize("call, msg", [
    (lambda s: T._mv_keys(), "_mv_keys() takes exactly 1 positional argument (0 given)"),
    (lambda s: s._mv_set("a", 1, name="b"), "_mv_set() got multiple values for keyword argument 'name'"),
    (lambda s: T._set_dict(s, value={}, key=None), "Argument 'key' has incorrect type (expected str, got NoneType)"),
    (lambda s: T._mv_get(s, default=1, zz=2), "_mv_get() takes at least 2 positional arguments (1 given)"),
    (lambda s: T._mv_get(s, 1, zz=2, yy=3), "_mv_get() got an unexpected keyword argument 'zz'"),
])
def test_argument_error_examples(call, msg, store):
    with pytest.raises(TypeError) as e:
        call(store)
    assert str(e.value) == msg


def test_keywords_including_self(store):
    store._mv_set("a", 1)
    assert T._mv_keys(self=store) == store._mv_keys() == ["a"]
    assert T._mv_get(key="a", self=store, default=5) == 1
    assert store._set_list([1], None) == [1]  # key admits None


def test_non_string_keyword_via_vectorcall(store):
    api = ctypes.pythonapi
    api.PyObject_Vectorcall.restype = ctypes.py_object
    api.PyObject_Vectorcall.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t, ctypes.py_object]
    args = (ctypes.py_object * 2)(store, 0)
    with pytest.raises(TypeError) as e:
        api.PyObject_Vectorcall(T._mv_keys, args, 1, (7,))
    assert str(e.value) == "_mv_keys() keywords must be strings"


def test_argument_errors_do_not_leak(store):
    obj, sub = object(), type("Sub", (dict,), {})()

    def calls():
        for f in (lambda: store._mv_pop(obj), lambda: store._mv_add(sub), lambda: store._mv_keys(obj),
                  lambda: store._mv_keys(zz=obj), lambda: store._mv_get(obj, key=obj),
                  lambda: T._set_class(store, obj, obj), lambda: store._skip(obj), lambda: store._skip(k=obj)):
            with pytest.raises(TypeError):
                f()
    assert_no_leak(calls, obj, sub, store)
    assert_no_leak(lambda: T._mv_get(key="nope", self=store, default=obj), obj, store)


LEAN_IMPORT = """
import sys
import typing  # the core imports it by design: what it brings (re and enum before 3.13) is not ours
before = set(sys.modules)
import tarvel_var
heavy = ["re", "difflib", "dataclasses", "json", "inspect", "enum", "threading"]
heavy += [f"tarvel_var.{name}" for name in ("files", "formats", "layers", "origins", "schemas", "settings",
                                            "paths", "references", "frozen", "diff", "environment")]
print([name for name in heavy if name in sys.modules and name not in before])
import tarvel_var.origins, tarvel_var.diff  # the modules named like the functions, imported
from tarvel_var import Settings, ValidationError, origins, diff
print(tarvel_var.origins is origins is tarvel_var.origins.__globals__["origins"], callable(tarvel_var.diff),
      "Settings" in dir(tarvel_var), issubclass(Settings, tarvel_var.TarvelVar), ValidationError.__module__)
"""


def test_import_loads_only_what_the_store_needs():
    from conftest import run_child

    assert run_child(LEAN_IMPORT) == "[]\nTrue True True True tarvel_var.schemas\n"
