// Module initialisation: multi-phase, with a create step that admits one interpreter per
// process and returns the same module object on every later import, and an execution step
// that builds the class once.
#include "capi/python.hpp"

#include <array>
#include <cstdint>

#include "frame/toolkit.hpp"
#include "capi/dict_states.hpp"
#include "frame/function.hpp"
#include "frame/runtime.hpp"
#include "frame/type_facts.hpp"

namespace var_main {
namespace {

constexpr const char* kModuleDoc =
    "var_main: the native core of tarvel_var.\n\n"
    "Author: the tarvel_var developers\n"
    "Date: 2026-12-08\n"
    "Editor: any\n"
    "Project: tarvel_var\n"
    "File: tarvel_var/var_main\n";

constexpr const char* kClassDoc =
    "\n    TarvelVarMain 类用于管理和操作变量集合，支持添加、删除、获取、转换等操作。\n    ";

constexpr const char* kTypingNames[] = {"Dict", "List", "Optional", "Any", "Union", "Set", "Tuple"};

// The first interpreter that created the module; -1 until then. Never cleared.
std::int64_t admitted_interpreter = -1;
// The module object whose execution has begun; cleared again if execution fails.
StaticRef executing_module;

void check_interpreter() {
    PyInterpreterState* interp = PyInterpreterState_Get();
    std::int64_t id = PyInterpreterState_GetID(interp);
    if (id < 0) throw_error();
    if (admitted_interpreter == -1) {
        admitted_interpreter = id;
    } else if (admitted_interpreter != id) {
        raise(PyExc_ImportError,
              "Interpreter change detected - this module can only be loaded into one "
              "interpreter per process.");
    }
}

// Copies spec.<attr> into the module dict as <key>; a missing attribute is skipped.
void copy_spec_attribute(PyObject* spec, PyObject* module_dict, const char* attr, const char* key,
                         bool skip_none) {
    PyObject* raw = nullptr;
    int found = require_status(PyObject_GetOptionalAttrString(spec, attr, &raw));
    Ref value = Ref::steal(raw);
    if (found == 0) return;
    if (skip_none && value.is(Py_None)) return;
    require_status(PyDict_SetItemString(module_dict, key, value.get()));
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
    return at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        check_interpreter();
        if (executing_module) return Py_NewRef(executing_module.get());
        Ref name = require(PyObject_GetAttrString(spec, "name"));
        Ref module = require(PyModule_NewObject(name.get()));
        PyObject* module_dict = PyModule_GetDict(module.get());  // borrowed, owned by module
        copy_spec_attribute(spec, module_dict, "loader", "__loader__", false);
        copy_spec_attribute(spec, module_dict, "origin", "__file__", false);
        copy_spec_attribute(spec, module_dict, "parent", "__package__", false);
        copy_spec_attribute(spec, module_dict, "submodule_search_locations", "__path__", true);
        return module.release();
    });
}

void bind_typing_names(PyObject* module) {
    Ref typing = require(PyImport_ImportModule("typing"));
    for (const char* text : kTypingNames) {
        Ref name = require(PyUnicode_FromString(text));
        PyObject* raw = nullptr;
        if (require_status(PyObject_GetOptionalAttr(typing.get(), name.get(), &raw)) == 0) {
            raise(PyExc_ImportError, "cannot import name %S", name.get());
        }
        Ref value = Ref::steal(raw);
        require_status(PyObject_SetAttr(module, name.get(), value.get()));
    }
}

Ref make_namespace() {
    Ref ns = require(PyDict_New());
    Ref module_name = require(PyUnicode_FromString("var_main"));
    Ref qualname = require(PyUnicode_FromString("TarvelVarMain"));
    Ref doc = require(PyUnicode_FromString(kClassDoc));
    require_status(PyDict_SetItemString(ns.get(), "__module__", module_name.get()));
    require_status(PyDict_SetItemString(ns.get(), "__qualname__", qualname.get()));
    require_status(PyDict_SetItemString(ns.get(), "__doc__", doc.get()));
    for (std::size_t m = 0; m < kMethodCount; ++m) {
        const Method which = static_cast<Method>(m);
        Ref function = require(new_function(which));
        Ref entry = function;
        if (method_spec(which).is_static()) {
            entry = require(PyStaticMethod_New(function.get()));
        }
        require_status(PyDict_SetItemString(ns.get(), method_spec(which).name, entry.get()));
    }
    return ns;
}

// Records what the fast paths compare against: our method objects as the class holds them.
// Everything is gathered and checked first, so that a failure records nothing.
void record_runtime(PyObject* cls, PyObject* ns) {
    std::array<Ref, kMethodCount> functions;
    for (std::size_t m = 0; m < kMethodCount; ++m) {
        const MethodSpec& spec = method_spec(static_cast<Method>(m));
        PyObject* entry = PyDict_GetItemString(ns, spec.name);  // borrowed; ns is alive
        if (entry == nullptr) raise(PyExc_SystemError, "method %s missing", spec.name);
        functions[m] = Ref::borrow(entry);
    }
    PyTypeObject* type = reinterpret_cast<PyTypeObject*>(cls);
    Ref dict_descriptor = Ref::borrow(class_attribute(type, names().dunder_dict));
    Ref object_getattribute =
        Ref::borrow(class_attribute(&PyBaseObject_Type, names().dunder_getattribute));
    Ref object_delattr = Ref::borrow(class_attribute(&PyBaseObject_Type, names().dunder_delattr));
    if (!dict_descriptor || !object_getattribute || !object_delattr) {
        raise(PyExc_SystemError, "var_main: class layout not as expected");
    }
    for (std::size_t m = 0; m < kMethodCount; ++m) runtime.functions[m].set(std::move(functions[m]));
    runtime.cls.set(Ref::borrow(cls));
    runtime.cls_getattro = type->tp_getattro;
    runtime.cls_setattro = type->tp_setattro;
    runtime.cls_repr = type->tp_repr;
    runtime.cls_dict_descriptor.set(std::move(dict_descriptor));
    runtime.object_getattribute.set(std::move(object_getattribute));
    runtime.object_delattr.set(std::move(object_delattr));
    runtime.ready = true;
}

void run_body(PyObject* module) {
    if (!init_names() || !ready_function_type()) throw_error();
    calibrate_key_probe();
    capi::track_dict_states();  // what the public answer of the key probe remembers by
    bind_typing_names(module);
    Ref ns = make_namespace();
    Ref class_name = require(PyUnicode_FromString("TarvelVarMain"));
    Ref bases = require(PyTuple_New(0));
    Ref cls = require(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyType_Type),
                                                   class_name.get(), bases.get(), ns.get(),
                                                   nullptr));
    require_status(PyObject_SetAttrString(module, "TarvelVarMain", cls.get()));
    Ref doctest_table = require(PyDict_New());
    require_status(PyObject_SetAttrString(module, "__test__", doctest_table.get()));
    record_runtime(cls.get(), ns.get());
}

int exec_module(PyObject* module) {
    if (executing_module) {
        if (executing_module.get() == module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'var_main' has already been imported. Re-initialisation is not "
                        "supported.");
        return -1;
    }
    executing_module.set(Ref::borrow(module));
    return at_boundary<int>(-1, [&] {
        try {
            Ref builtins = require(PyImport_ImportModule("builtins"));
            require_status(PyObject_SetAttrString(module, "__builtins__", builtins.get()));
            run_body(module);
            return 0;
        } catch (...) {
            executing_module.take();  // released here: the failed module is forgotten
            throw;
        }
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    TARVEL_VERSION_SLOTS
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "var_main",
    kModuleDoc,
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace var_main

PyMODINIT_FUNC PyInit_var_main(void) { return PyModuleDef_Init(&var_main::module_def); }
