"""Signatures as tools see them: inspect.signature() and help() of every method, and the type
stub, all checked against the one method table the module builds its methods from."""
import ast
import inspect
import pydoc
from pathlib import Path

import pytest

from tarvel_var import TarvelVar, TarvelVarMain as T
import tarvel_var

STUB = Path(tarvel_var.__file__).resolve().parent / "var_main.pyi"
METHODS = [name for name, value in vars(T).items()
           if callable(value) or isinstance(value, staticmethod)]


def function(name):
    raw = vars(T)[name]
    return raw.__func__ if isinstance(raw, staticmethod) else raw


def stub_methods():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    [cls] = [node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "TarvelVarMain"]
    return {node.name: node for node in cls.body if isinstance(node, ast.FunctionDef)}


def test_every_method_of_the_table_is_listed():
    assert len(METHODS) == 23 and METHODS[0] == "_set_class" and METHODS[-1] == "__repr__"


@pytest.mark.parametrize("name", METHODS)
def test_signature_agrees_with_the_table(name):
    func = function(name)
    sig = inspect.signature(func)
    params = list(sig.parameters.values())
    assert func.__text_signature__ == str(sig)
    annotated = [p for p in func.__annotations__ if p != "return"]
    if name == "_skip":
        assert params == []
    else:
        assert [p.name for p in params] == ["self", *annotated]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in params)
    defaults = tuple(p.default for p in params if p.default is not inspect.Parameter.empty)
    assert defaults == (func.__defaults__ or ())
    assert all(p.default is inspect.Parameter.empty for p in params[:len(params) - len(defaults)])


@pytest.mark.parametrize("name", [n for n in METHODS if n != "_skip"])
def test_bound_signature_drops_self_and_binds_like_a_call(name):
    store = TarvelVar()
    func = function(name)
    bound_sig = inspect.signature(getattr(store, name))
    assert list(bound_sig.parameters) == list(inspect.signature(func).parameters)[1:]
    # keyword `self` is accepted by the methods, and by the signature
    inspect.signature(func).bind(self=store, **{p: 0 for p in bound_sig.parameters})


def test_help_shows_the_parameters():
    text = pydoc.render_doc(T._mv_get, renderer=pydoc.plaintext)
    assert "_mv_get(self, key, default=None)" in text
    assert "获取指定路径的变量值。" in text
    store_text = pydoc.render_doc(TarvelVar()._set_dict, renderer=pydoc.plaintext)
    assert "_set_dict(key, value, new=False) method of tarvel_var.TarvelVar instance" in store_text


def test_text_signature_is_read_only():
    with pytest.raises(AttributeError):
        T._mv_get.__text_signature__ = "(x)"


def test_stub_lists_the_methods_in_table_order():
    assert list(stub_methods()) == METHODS


@pytest.mark.parametrize("name", METHODS)
def test_stub_agrees_with_the_table(name):
    node = stub_methods()[name]
    func = function(name)
    decorators = [ast.unparse(d) for d in node.decorator_list]
    assert decorators == (["staticmethod"] if isinstance(vars(T)[name], staticmethod) else [])
    args = node.args
    assert not (args.posonlyargs or args.kwonlyargs or args.vararg or args.kwarg)
    assert [a.arg for a in args.args] == list(inspect.signature(func).parameters)
    annotations = {a.arg: ast.unparse(a.annotation) for a in args.args if a.annotation is not None}
    annotations["return"] = ast.unparse(node.returns)
    assert annotations == func.__annotations__
    assert list(annotations) == list(func.__annotations__)
    defaults = tuple(ast.literal_eval(d) for d in args.defaults)
    assert defaults == (func.__defaults__ or ())
