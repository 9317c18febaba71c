// tarvel_var._store: the native half of the public class TarvelVar. The package defines the
// class in Python and calls bind() once, which puts the methods of this module on it.
#include <Python.h>

#include "contract.hpp"
#include "json_objects.hpp"
#include "data.hpp"
#include "capi/cpython_private.hpp"
#include "methods.hpp"
#include "missing.hpp"
#include "slots.hpp"
#include "views.hpp"
#include "store_access.hpp"

namespace tvs {
namespace {

constexpr int kFast = METH_FASTCALL;
constexpr int kFastKw = METH_FASTCALL | METH_KEYWORDS;
constexpr int kVarKw = METH_VARARGS | METH_KEYWORDS;

template <class F>
PyCFunction as_cfunction(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The protocol methods, found by the interpreter on the class.
PyMethodDef protocol_methods[] = {
    {"__init__", as_cfunction(init), kFastKw,
     "__init__($self, data=None, /, *, reprint=False, inherit=False, strict=False)\n--\n\n"
     "Makes a store of `data`, a mapping (a store gives its content). `data` is checked whole "
     "first: a key that is not a str, or that the store keeps for itself, is refused (TypeError, "
     "ValueError) before anything is stored. `strict` makes missing attributes raise, here and "
     "in every nested store made in this one."},
    {"__getattr__", as_cfunction(getattr_hook), METH_O,
     "__getattr__($self, name, /)\n--\n\n"
     "A missing attribute: AttributeError in a strict store and for dunder names, else what the "
     "store's reprint flag says (the name, or None)."},
    {"__setattr__", as_cfunction(setattr_method), kFast,
     "__setattr__($self, name, value, /)\n--\n\nSets the variable `name`, converting `value` as item "
     "assignment does (any mapping becomes a nested store); the name is not checked."},
    {"__getitem__", as_cfunction(getitem), METH_O,
     "__getitem__($self, key, /)\n--\n\nThe variable `key`; KeyError when there is none."},
    {"__setitem__", as_cfunction(setitem), kFast,
     "__setitem__($self, key, value, /)\n--\n\nSets the variable `key` as attribute assignment does; "
     "a refused key or value leaves the store as it was."},
    {"__delitem__", as_cfunction(delitem), METH_O,
     "__delitem__($self, key, /)\n--\n\nRemoves the variable `key`; KeyError when there is none."},
    {"__len__", as_cfunction(length), METH_NOARGS, "__len__($self, /)\n--\n\nThe number of variables."},
    {"__contains__", as_cfunction(contains), METH_O,
     "__contains__($self, key, /)\n--\n\nWhether the store has the variable `key`."},
    {"__iter__", as_cfunction(iterate), METH_NOARGS,
     "__iter__($self, /)\n--\n\nThe variable names, in the store's order."},
    {"__eq__", as_cfunction(equals), METH_O,
     "__eq__($self, other, /)\n--\n\nEquality by content with a store or any mapping."},
    {"__ne__", as_cfunction(not_equals), METH_O, "__ne__($self, other, /)\n--\n\nThe inverse of ==."},
    {"__reversed__", as_cfunction(reversed_keys), METH_NOARGS,
     "__reversed__($self, /)\n--\n\nThe variable names, last first."},
    {"__or__", as_cfunction(or_op), METH_O,
     "__or__($self, other, /)\n--\n\nA copy of the store (see copy()) updated with the mapping `other`."},
    {"__ior__", as_cfunction(ior_op), METH_O,
     "__ior__($self, other, /)\n--\n\nupdate(other), and the store itself."},
    {nullptr, nullptr, 0, nullptr},
};

// The public methods, which stay reachable beside a variable of the same name.
PyMethodDef public_methods[] = {
    {"add", as_cfunction(add), kVarKw,
     "add($self, /, **entries)\n--\n\nMerges the keyword arguments into the store."},
    {"keys", as_cfunction(keys_view), METH_NOARGS,
     "keys($self, /)\n--\n\nA set-like view of the names of the variables, in the store's order."},
    {"values", as_cfunction(values_view), METH_NOARGS,
     "values($self, /)\n--\n\nA view of the values of the variables, in the store's order."},
    {"items", as_cfunction(items_view), METH_NOARGS,
     "items($self, /)\n--\n\nA set-like view of the (name, value) pairs of the variables, in the "
     "store's order."},
    {"pop", as_cfunction(pop), kFast,
     "pop($self, key, /, *default)\n--\n\n"
     "Removes the variable `key` and returns its value; `default` (or KeyError) when there is none."},
    {"popitem", as_cfunction(popitem), METH_NOARGS,
     "popitem($self, /)\n--\n\nRemoves the last variable and returns its (name, value) pair."},
    {"setdefault", as_cfunction(setdefault), kFast,
     "setdefault($self, key, default=None, /)\n--\n\n"
     "The variable `key`, set first to `default` when missing (converted as assignment converts)."},
    {"update", as_cfunction(update), kVarKw,
     "update($self, other=(), /, **entries)\n--\n\n"
     "Sets each entry as item assignment does (replacing, not merging). Every entry is checked "
     "before the first is set; an error while setting leaves the entries set before it."},
    {"copy", as_cfunction(copy_store), METH_NOARGS,
     "copy($self, /)\n--\n\nA deep copy of the store, as copy.deepcopy makes one: its nested stores, lists "
     "and values are copies too, and it keeps the store's flags. (A dict's copy() is shallow; "
     "a configuration's copy is meant to be changed without changing the original.)"},
    {"clear", as_cfunction(clear), METH_NOARGS,
     "clear($self, /)\n--\n\nRemoves every variable; the store stays set up."},
    {"to_dict", as_cfunction(to_dict), kFastKw,
     "to_dict($self, /, sort=False)\n--\n\n"
     "The store as plain dicts and lists; `sort` orders the names of every dict, at every level."},
    {"get", as_cfunction(get), kFastKw,
     "get($self, /, key, default=None)\n--\n\n"
     "The variable `key`, or the value at the \"$.\" path `key`, or `default`. A path steps into "
     "stores and dicts by name and into lists by index (negative from the end): "
     "`get(\"$.servers.0.host\")`, also written `get(\"$.servers[0].host\")`. Any error on the way "
     "gives `default`."},
    {"merge", as_cfunction(merge), METH_O,
     "merge($self, data, /)\n--\n\n"
     "Merges a mapping in: dicts into nested stores, lists onto the lists held, the rest "
     "replacing. `data` is checked whole before the store changes; an error raised while "
     "merging (by a value's own code, say) leaves the entries merged before it."},
    {nullptr, nullptr, 0, nullptr},
};

void set_class_attribute(PyObject* cls, const char* name, PyObject* value) {
    require_status(PyObject_SetAttrString(cls, name, value));
}

void record_state(PyObject* module, PyObject* cls, PyObject* main_cls, PyObject* mapping_abc) {
    PyTypeObject* main_type = reinterpret_cast<PyTypeObject*>(main_cls);
    Ref getattr_name = require(PyUnicode_InternFromString("__getattr__"));
    state.main_getattr.set(Ref::borrow(class_attribute(main_type, getattr_name.get())));
    state.main_setattr.set(Ref::borrow(class_attribute(main_type, names().dunder_setattr)));
    state.main_dict_descriptor.set(Ref::borrow(class_attribute(main_type, names().dunder_dict)));
    state.object_getattribute.set(Ref::borrow(class_attribute(&PyBaseObject_Type, names().dunder_getattribute)));
    state.object_delattr.set(Ref::borrow(class_attribute(&PyBaseObject_Type, names().dunder_delattr)));
    if (class_attribute(main_type, names().skip) == nullptr || state.main_getattr == nullptr ||
        state.main_setattr == nullptr ||
        state.main_dict_descriptor == nullptr || state.object_getattribute == nullptr) {
        raise(PyExc_SystemError, "TarvelVarMain is not laid out as expected");
    }
    state.main_getattro = main_type->tp_getattro;
    state.main_cls.set(Ref::borrow(main_cls));
    state.public_cls.set(Ref::borrow(cls));
    state.mapping_abc.set(Ref::borrow(mapping_abc));
    state.strict_factory.set(require(PyObject_GetAttrString(module, "strict_store")));
}

PyObject* bind(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    return tv::at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        if (nargs != 4 || !PyType_Check(args[0]) || !PyType_Check(args[1]) || !PyTuple_Check(args[3]) ||
            PyTuple_GET_SIZE(args[3]) != 3) {
            raise(PyExc_TypeError, "bind(cls, main_cls, mapping_abc, views) takes two classes, an ABC "
                                   "and the three view classes");
        }
        if (state.bound) raise(PyExc_RuntimeError, "the public class is already bound");
        PyObject* cls = args[0];
        record_state(module, cls, args[1], args[2]);
        for (PyMethodDef* def = protocol_methods; def->ml_name != nullptr; ++def) {
            Ref method = require(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls), def));
            set_class_attribute(cls, def->ml_name, method.get());
        }
        for (PyMethodDef* def = public_methods; def->ml_name != nullptr; ++def) {
            set_class_attribute(cls, def->ml_name, new_contract_method(cls, def).get());
        }
        bind_views(PyTuple_GET_ITEM(args[3], 0), PyTuple_GET_ITEM(args[3], 1), PyTuple_GET_ITEM(args[3], 2));
        state.get_method.set(require(PyObject_GetAttrString(cls, "get")));
        state.add_method.set(require(PyObject_GetAttrString(cls, "add")));
        state.keys_method.set(require(PyObject_GetAttrString(cls, "keys")));
        state.setattr_method.set(require(PyObject_GetAttrString(cls, "__setattr__")));
        set_class_attribute(cls, "__hash__", Py_None);  // equal by content, so unhashable
        install_direct_slots(cls);
        state.init_slot = reinterpret_cast<PyTypeObject*>(cls)->tp_init;
        state.bound = true;
        return Py_NewRef(Py_None);
    });
}

// check(store, data): raises what merge() would raise for `data` on `store`, changing nothing;
// for edits made in steps (setting by path) that must be refused before the first step.
PyObject* check(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return tv::at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        if (nargs != 2) raise(PyExc_TypeError, "check(store, data) takes 2 arguments (%zd given)", nargs);
        prepare_data(Py_TYPE(args[0]), args[1], "check()");
        return Py_NewRef(Py_None);
    });
}

PyObject* public_method(PyObject*, PyObject* function) {
    return tv::at_boundary<PyObject*>(nullptr, [&] { return new_contract_function(function).release(); });
}

PyObject* public_class(PyObject*, PyObject*) {
    return Py_NewRef(state.public_cls ? state.public_cls.get() : Py_None);
}

PyMethodDef module_functions[] = {
    {"public_class", as_cfunction(public_class), METH_NOARGS,
     "public_class()\n--\n\nThe class bind() put the native methods on (None before)."},
    {"public_method", as_cfunction(public_method), METH_O,
     "public_method(function, /)\n--\n\nDeclares a public method of the store class written in Python: "
     "it stays reachable beside a variable of its name, as the native public methods do."},
    {"check", as_cfunction(check), kFast,
     "check(store, data, /)\n--\n\nRaises what store.merge(data) would raise for its keys, changing nothing."},
    {"bind", as_cfunction(bind), kFast,
     "bind(cls, main_cls, mapping_abc, views, /)\n--\n\nPuts the native methods on the public class."},
    {"strict_store", as_cfunction(strict_store), METH_NOARGS,
     "strict_store()\n--\n\nA new strict TarvelVar: the store factory of strict stores."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    if (!init_names() || !ready_contract_type() || !ready_missing_variable_error(module) ||
        !ready_json_objects(module)) {
        return -1;
    }
    tv::calibrate_dict_versions();  // repeated reads of an unchanged store rely on it
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    // As var_main: the package binds one interpreter's class (var_main admits only the first
    // interpreter that imports it, and the package imports var_main first).
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "tarvel_var._store",
    "The native methods of tarvel_var.TarvelVar.",
    0,
    module_functions,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tvs

PyMODINIT_FUNC PyInit__store(void) { return PyModuleDef_Init(&tvs::module_def); }
