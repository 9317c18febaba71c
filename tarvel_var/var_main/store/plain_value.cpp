#include "store/plain_value.hpp"

#include "frame/calls.hpp"
#include "frame/type_facts.hpp"

namespace tv {
namespace {

bool chain_is_ours(PyTypeObject* type, ChainFrom from) {
    const TypeFacts facts = type_facts(type);
    if (!facts.plain_flags || !facts.owns(Method::SetAttr)) return false;
    if (from == ChainFrom::Hook) return true;
    if (!facts.owns(Method::SetAttrHook) || type->tp_setattro != runtime.cls_setattro) return false;
    return from == ChainFrom::Setattr || facts.owns(Method::MvSet);
}

bool hides(PyObject* dict, Method which) {
    return require_status(PyDict_Contains(dict, method_name(which))) == 1;
}

}  // namespace

bool store_plain_value(PyObject* self, PyObject* name, PyObject* value, ChainFrom from) {
    if (PyDict_Check(value) || is_sequence_value(value)) return false;
    if (!PyUnicode_CheckExact(name) || !chain_is_ours(Py_TYPE(self), from)) return false;
    Ref dict = require(PyObject_GenericGetDict(self, nullptr));
    if (!PyDict_CheckExact(dict.get())) return false;
    if ((from == ChainFrom::MvSet && hides(dict.get(), Method::MvSet)) ||
        hides(dict.get(), Method::SetAttr)) {
        return false;
    }
    PyObject* inherit = nullptr;
    if (require_status(PyDict_GetItemRef(dict.get(), names().g_n_i, &inherit)) == 0) return false;
    if (!PyBool_Check(Ref::steal(inherit).get())) return false;  // its truth test may run code
    Ref key = from == ChainFrom::Hook ? Ref::borrow(name) : intern_attribute_name(name);
    require_status(PyDict_SetItem(dict.get(), key.get(), value));
    return true;
}

}  // namespace tv
