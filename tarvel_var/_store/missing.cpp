#include "missing.hpp"

#include "store_access.hpp"

namespace store {
namespace {

capi::StaticRef missing_variable_error;  // the type

// The store's variables closest to the missing name (difflib's measure, as get_close_matches),
// quoted and joined; empty when there are none.
Ref closest_names(PyObject* self) {
    Ref obj = require(PyObject_GetAttrString(self, "obj"));
    Ref name = require(PyObject_GetAttrString(self, "name"));
    if (!is_store(obj.get()) || !PyUnicode_Check(name.get())) return Ref();
    Ref keys = require(PySequence_List(listed_keys(obj.get()).get()));
    Ref difflib = require(PyImport_ImportModule("difflib"));
    Ref matches = require(PyObject_CallMethod(difflib.get(), "get_close_matches", "OOid", name.get(),
                                              keys.get(), 3, 0.6));
    Ref quoted = require(PyList_New(0));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(matches.get()); ++i) {
        Ref match = Ref::borrow(PyList_GET_ITEM(matches.get(), i));
        require_status(PyList_Append(quoted.get(), require(PyObject_Repr(match.get())).get()));
    }
    if (PyList_GET_SIZE(quoted.get()) == 0) return Ref();
    Ref separator = require(PyUnicode_FromString(", "));
    return require(PyUnicode_Join(separator.get(), quoted.get()));
}

// str(error): the message it was raised with, and the store's closest names when the store
// is still there to ask and has any close enough. Showing an error must not fail: should the
// store's listing raise, the message is shown alone.
PyObject* missing_variable_str(PyObject* self) {
    return capi::at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        Ref message = require(reinterpret_cast<PyTypeObject*>(PyExc_AttributeError)->tp_str(self));
        Ref joined;
        try {
            joined = closest_names(self);
        } catch (const capi::PyErrorSet&) {
            if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;
            PyErr_Clear();
        }
        if (!joined) return message.release();
        return PyUnicode_FromFormat("%U (closest variables: %U)", message.get(), joined.get());
    });
}

PyType_Slot missing_slots[] = {
    {Py_tp_str, reinterpret_cast<void*>(missing_variable_str)},
    {Py_tp_doc, const_cast<char*>("A missing attribute of a strict store (an AttributeError). Its "
                                  "message names the store's variables closest to the name.")},
    {0, nullptr},
};

PyType_Spec missing_spec = {
    "tarvel_var.MissingVariableError",
    0,  // an AttributeError's layout
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,  // and the collector support of its base
    missing_slots,
};

}  // namespace

bool ready_missing_variable_error(PyObject* module) {
    if (missing_variable_error) return PyModule_AddObjectRef(module, "MissingVariableError",
                                                             missing_variable_error) == 0;
    PyObject* type = PyType_FromSpecWithBases(&missing_spec, PyExc_AttributeError);
    if (type == nullptr) return false;
    missing_variable_error.set(Ref::steal(type));
    return PyModule_AddObjectRef(module, "MissingVariableError", missing_variable_error) == 0;
}

void raise_missing_attribute(PyObject* self, PyObject* name, bool strict) {
    Ref message = require(PyUnicode_FromFormat("'%.100s' object has no attribute '%U'",
                                               Py_TYPE(self)->tp_name, name));
    PyObject* type = strict ? missing_variable_error.get() : PyExc_AttributeError;
    Ref error = require(PyObject_CallOneArg(type, message.get()));
    require_status(PyObject_SetAttrString(error.get(), "name", name));
    require_status(PyObject_SetAttrString(error.get(), "obj", self));
    PyErr_SetObject(type, error.get());
    throw_error();
}

}  // namespace store
