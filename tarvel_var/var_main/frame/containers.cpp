#include "frame/containers.hpp"

#include "frame/toolkit.hpp"

namespace var_main {

Ref mapping_get(PyObject* mapping, PyObject* key) {
    if (PyDict_CheckExact(mapping)) {
        PyObject* value = nullptr;
        if (require_status(PyDict_GetItemRef(mapping, key, &value)) == 0) return none();
        return Ref::steal(value);
    }
    return call_method(mapping, names().get, {key});
}

Ref mapping_item(PyObject* mapping, PyObject* key) {
    return require(PyObject_GetItem(mapping, key));
}

void mapping_set(PyObject* mapping, PyObject* key, PyObject* value) {
    require_status(PyObject_SetItem(mapping, key, value));
}

void list_append(PyObject* list, PyObject* item) {
    if (PyList_CheckExact(list)) {
        require_status(PyList_Append(list, item));
    } else {
        call_method(list, names().append, {item});
    }
}

bool is_nested_store(PyObject* obj) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    // Most values are of a handful of built-in types, whose names are known.
    for (PyTypeObject* builtin : {&PyUnicode_Type, &PyLong_Type, &PyFloat_Type, &PyBool_Type,
                                  Py_TYPE(Py_None), &PyList_Type, &PyDict_Type, &PyTuple_Type,
                                  &PyType_Type}) {
        if (type == builtin) return false;
    }
    return is_named_tarvel_var(type);
}

}  // namespace var_main
