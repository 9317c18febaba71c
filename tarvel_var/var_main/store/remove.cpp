// Removing variables: _mv_pop, _mv_pops, _mv_clear.
#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/toolkit.hpp"
#include "frame/impls.hpp"
#include "frame/type_facts.hpp"
#include "store/selection.hpp"

namespace var_main {
namespace {

// Ordinary attribute lookup without the fallback to the class's __getattr__, which would
// answer every name: the class's __getattribute__ (object's generic lookup unless overridden).
// A failed lookup counts as absent; exceptions that are not errors (KeyboardInterrupt,
// SystemExit) still propagate.
bool has_attribute(PyObject* self, PyObject* name) {
    try {
        return attribute_without_fallback(self, name).has_value();
    } catch (const PyErrorSet&) {
        if (!PyErr_ExceptionMatches(PyExc_Exception)) throw;
        PyErr_Clear();
        return false;
    }
}

// delattr(self, name); object's own deletion directly when that is what it would reach.
void delete_attribute(PyObject* self, PyObject* name) {
    if (PyUnicode_CheckExact(name) && type_facts(Py_TYPE(self)).plain_delete) {
        Ref interned = intern_attribute_name(name);  // as delattr() hands it on
        require_status(PyObject_GenericSetAttr(self, interned.get(), nullptr));
    } else {
        require_status(PyObject_DelAttr(self, name));
    }
}

// The common case done directly: object's own lookup and deletion, and no class attribute of
// that name, so that the existence test is whether the instance dict holds the name and the
// deletion is popping it. False when it does not apply.
bool remove_from_dict(PyObject* self, PyObject* name) {
    PyTypeObject* type = Py_TYPE(self);
    const TypeFacts facts = type_facts(type);
    if (!PyUnicode_CheckExact(name) || !facts.standard || !facts.plain_delete ||
        class_attribute(type, name) != nullptr) {
        return false;
    }
    Ref dict = require(PyObject_GenericGetDict(self, nullptr));
    if (!PyDict_CheckExact(dict.get())) return false;
    Ref interned = intern_attribute_name(name);  // as delattr() hands it on
    // the value is released after the removal: its release may run code
    require_status(PyDict_Pop(dict.get(), interned.get(), nullptr));
    return true;
}

void remove_if_present(PyObject* self, PyObject* name) {
    if (remove_from_dict(self, name)) return;
    if (has_attribute(self, name)) delete_attribute(self, name);
}

}  // namespace

namespace impl {

Ref mv_pop(Args args) {
    const auto [self, name] = arguments<2>(args);
    remove_if_present(self, name);
    return none();
}

Ref mv_pops(Args args) {
    const auto [self, names_tuple] = arguments<2>(args);
    for_each_item(names_tuple, [&](PyObject* name) {
        if (!PyUnicode_Check(name)) raise(PyExc_TypeError, "hasattr(): attribute name must be string");
        remove_if_present(self, name);
    });
    return none();
}

Ref mv_clear(Args args) {
    const auto [self] = arguments<1>(args);
    Ref dict = instance_dict(self);
    Ref doomed = require(PyList_New(0));
    Selection selection(self);
    walk_pairs(dict.get(), [&](PyObject* name, PyObject*) {
        if (selection.is_variable(name)) require_status(PyList_Append(doomed.get(), name));
    });
    for_each_item(doomed.get(), [&](PyObject* name) {
        // `self._mv_pop(name)`; our own body's common case without the call around it
        if (!own_method(self, Method::MvPop) || !remove_from_dict(self, name)) {
            call(self, Method::MvPop, {name});
        }
    });
    return none();
}

}  // namespace impl
}  // namespace var_main
