// tarvel_var._store: the native half of the public class TarvelVar. The package defines the
// class in Python and calls bind() once, which puts the methods of this module on it.
#include "capi/python.hpp"

#include <cstddef>
#include <optional>
#include <vector>

#include "contract.hpp"
#include "freeze.hpp"
#include "json_objects.hpp"
#include "origin_walk.hpp"
#include "plain_walks.hpp"
#include "readers.hpp"
#include "json_writer.hpp"
#include "data.hpp"
#include "capi/cpython_private.hpp"
#include "capi/dict_states.hpp"
#include "capi/recursion.hpp"
#include "equality.hpp"
#include "nesting.hpp"
#include "method_table.hpp"
#include "methods.hpp"
#include "missing.hpp"
#include "references.hpp"
#include "slots.hpp"
#include "views.hpp"
#include "store_access.hpp"

namespace store {
namespace {

constexpr int kFast = METH_FASTCALL;

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
    state.loose_factory.set(require(PyObject_GetAttrString(module, "loose_store")));
}

PyObject* bind(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    return capi::at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        if (nargs != 4 || !PyType_Check(args[0]) || !PyType_Check(args[1]) || !PyTuple_Check(args[3]) ||
            PyTuple_GET_SIZE(args[3]) != 3) {
            raise(PyExc_TypeError, "bind(cls, main_cls, mapping_abc, views) takes two classes, an ABC "
                                   "and the three view classes");
        }
        if (state.bound) raise(PyExc_RuntimeError, "the public class is already bound");
        PyObject* cls = args[0];
        record_state(module, cls, args[1], args[2]);
        for (PyMethodDef* def = protocol_method_table(); def->ml_name != nullptr; ++def) {
            Ref method = require(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls), def));
            set_class_attribute(cls, def->ml_name, method.get());
        }
        for (PyMethodDef* def = public_method_table(); def->ml_name != nullptr; ++def) {
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
        state.setattr_slot = reinterpret_cast<PyTypeObject*>(cls)->tp_setattro;
        state.bound = true;
        return Py_NewRef(Py_None);
    });
}

// check(store, data): raises what merge() would raise for `data` on `store`, changing nothing;
// for edits made in steps (setting by path) that must be refused before the first step.
PyObject* check(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return capi::at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        if (nargs != 2) raise(PyExc_TypeError, "check(store, data) takes 2 arguments (%zd given)", nargs);
        prepare_data(Py_TYPE(args[0]), args[1], "check()");
        return Py_NewRef(Py_None);
    });
}

// equal(a, b): whether two values are equal as the stores holding them would be.
PyObject* equal(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return capi::at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        if (nargs != 2) raise(PyExc_TypeError, "equal(a, b) takes 2 arguments (%zd given)", nargs);
        return Py_NewRef(values_equal(args[0], args[1]) ? Py_True : Py_False);
    });
}

// check_stack(): the guard of the native walks, for the package's walks written in Python. A
// Python function called again from a generator, or from a builtin such as all() or hash(),
// puts native frames on the stack at every level, which the interpreter's counter does not
// measure; a thread started with a small stack would overflow long before the counter ran out.
PyObject* check_stack(PyObject*, PyObject*) {
    if (capi::native_stack_exhausted()) {
        PyErr_SetString(PyExc_RecursionError,
                        "maximum recursion depth exceeded (native stack nearly exhausted)");
        return nullptr;
    }
    return Py_NewRef(Py_None);
}

// stack_room(): the bytes of native stack left to the current thread before the guard trips,
// or None where the stack cannot be measured; for handing deep data to a library whose own
// recursion is not guarded against small stacks.
PyObject* stack_room(PyObject*, PyObject*) {
    const std::optional<std::size_t> room = capi::native_stack_room();
    if (!room) return Py_NewRef(Py_None);
    return PyLong_FromSize_t(*room);
}

// native_paths(): which way each interface with a private path takes in this build, as
// (interface, way) pairs; what `python -m tarvel_var --version` reports.
PyObject* native_paths(PyObject*, PyObject*) {
    return capi::at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        const std::vector<capi::PathChoice> choices = capi::path_choices();
        Ref pairs = require(PyList_New(0));
        for (const capi::PathChoice& choice : choices) {
            Ref pair = require(Py_BuildValue("(ss)", choice.interface, choice.way));
            require_status(PyList_Append(pairs.get(), pair.get()));
        }
        return pairs.release();
    });
}

// nests_deeper(value, limit): whether dicts and lists nest in `value` more than `limit` levels.
PyObject* nests_deeper(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return capi::at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        if (nargs != 2 || !PyLong_Check(args[1])) {
            raise(PyExc_TypeError, "nests_deeper(value, limit) takes a value and an int");
        }
        const Py_ssize_t limit = PyLong_AsSsize_t(args[1]);
        if (limit < 0) {
            if (PyErr_Occurred()) throw_error();
            raise(PyExc_ValueError, "nests_deeper(): the limit must not be negative");
        }
        return Py_NewRef(nests_deeper_than(args[0], limit) ? Py_True : Py_False);
    });
}

PyObject* public_method(PyObject*, PyObject* function) {
    return capi::at_boundary<PyObject*>(nullptr, [&] { return new_contract_function(function).release(); });
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
    {"read_slots", as_cfunction(install_read_slots), METH_O,
     "read_slots(cls, /)\n--\n\nGives a subclass of the public class the public class's own reading slots."},
    {"reference_sites", as_cfunction(reference_sites), METH_O,
     "reference_sites(store, /)\n--\n\n(container, key, path) of every text below the store that holds \"${\"."},
    {"equal", as_cfunction(equal), kFast,
     "equal(a, b, /)\n--\n\nWhether a and b are equal as the stores holding them would be."},
    {"check_stack", as_cfunction(check_stack), METH_NOARGS,
     "check_stack()\n--\n\nRaises RecursionError when the thread's native stack is nearly exhausted."},
    {"stack_room", as_cfunction(stack_room), METH_NOARGS,
     "stack_room()\n--\n\nThe bytes of native stack left before RecursionError, or None if unknown."},
    {"native_paths", as_cfunction(native_paths), METH_NOARGS,
     "native_paths()\n--\n\n(interface, way) for each interface this build may take a private path for."},
    {"nests_deeper", as_cfunction(nests_deeper), kFast,
     "nests_deeper(value, limit, /)\n--\n\nWhether dicts and lists nest in value more than limit levels deep."},
    {"strict_store", as_cfunction(strict_store), METH_NOARGS,
     "strict_store()\n--\n\nA new strict TarvelVar: the store factory of strict stores."},
    {"loose_store", as_cfunction(loose_store), METH_NOARGS,
     "loose_store()\n--\n\nA new TarvelVar that answers None for a missing attribute: the store "
     "factory of such stores."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    if (!init_names() || !ready_contract_type() || !ready_missing_variable_error(module) ||
        !ready_json_objects(module) || !ready_readers(module) || !ready_json_writer(module) ||
        !ready_freeze(module) || !ready_plain_walks(module) ||
        !ready_origin_walk(module)) {
        return -1;
    }
    capi::calibrate_key_probe();  // each module has its own copy of the toolkit's state
    capi::track_dict_states();  // repeated reads of an unchanged store rely on it
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    // As var_main: the package binds one interpreter's class (var_main admits only the first
    // interpreter that imports it, and the package imports var_main first).
    TARVEL_VERSION_SLOTS
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
}  // namespace store

PyMODINIT_FUNC PyInit__store(void) { return PyModuleDef_Init(&store::module_def); }
