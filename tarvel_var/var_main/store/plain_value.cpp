#include "store/plain_value.hpp"

#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/toolkit.hpp"
#include "frame/type_facts.hpp"

namespace var_main {
namespace {

bool links_are_ours(PyTypeObject* type, ChainFrom from) {
    const TypeFacts facts = type_facts(type);
    if (!facts.plain_flags || !facts.owns(Method::SetAttr)) return false;
    if (from == ChainFrom::Hook) return true;
    if (!facts.setattr_is_own_hook()) return false;
    return from == ChainFrom::Setattr || facts.owns(Method::MvSet);
}

bool hides(PyObject* dict, Method which) {
    return require_status(PyDict_Contains(dict, method_name(which))) == 1;
}

}  // namespace

bool PlainValueWriter::chain_is_ours() {
    dict_ = Ref();
    if (!links_are_ours(Py_TYPE(self_), from_)) return false;
    Ref dict = require(PyObject_GenericGetDict(self_, nullptr));
    if (!PyDict_CheckExact(dict.get())) return false;
    if ((from_ == ChainFrom::MvSet && hides(dict.get(), Method::MvSet)) ||
        hides(dict.get(), Method::SetAttr)) {
        return false;
    }
    PyObject* inherit = nullptr;
    if (require_status(PyDict_GetItemRef(dict.get(), names().g_n_i, &inherit)) == 0) return false;
    if (!PyBool_Check(Ref::steal(inherit).get())) return false;  // its truth test may run code
    dict_ = std::move(dict);
    return true;
}

bool PlainValueWriter::store(PyObject* name, PyObject* value) {
    if (PyDict_Check(value) || is_sequence_value(value) || !PyUnicode_CheckExact(name)) return false;
    if (!checked_) {
        chain_is_ours();
        checked_ = true;
    }
    if (!dict_) return false;
    Ref key = from_ == ChainFrom::Hook ? Ref::borrow(name) : intern_attribute_name(name);
    // A name beginning with "_" may be a flag or hide one of the methods of the chain.
    if (PyUnicode_GET_LENGTH(key.get()) > 0 && PyUnicode_READ_CHAR(key.get(), 0) == '_') {
        checked_ = false;
    }
    if (one_store_) {
        require_status(PyDict_SetItem(dict_.get(), key.get(), value));
        return true;
    }
    PyObject* raw_held = nullptr;
    const int had_key = require_status(PyDict_SetDefaultRef(dict_.get(), key.get(), value, &raw_held));
    Ref held = Ref::steal(raw_held);
    if (had_key == 0) return true;  // `value` was inserted; `held` is it, and the dict keeps it
    // Replacing a value: the old one is released here, after the store, and if that was its
    // last reference, releasing it may run code.
    Ref old = std::move(held);
    require_status(PyDict_SetItem(dict_.get(), key.get(), value));
    if (Py_REFCNT(old.get()) == 1) checked_ = false;
    return true;
}

}  // namespace var_main
