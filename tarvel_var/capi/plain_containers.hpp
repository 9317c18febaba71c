// Tests and walks of plain containers that need nothing of either module's runtime, so that
// the core and the public class's native module share one definition of each.
#pragma once

#include "capi/python.hpp"

#include <cstring>
#include <type_traits>

#include "capi/errors.hpp"
#include "capi/refs.hpp"

namespace capi {

// A list, set or tuple, subclasses included; a frozenset is not one.
inline bool is_sequence_value(PyObject* obj) {
    if (PyList_Check(obj) || PyTuple_Check(obj)) return true;
    // PySet_Check walks the MRO; str, int, bytes and type instances cannot be sets (their
    // layouts conflict), and neither can floats and None.
    constexpr unsigned long kNeverSet = Py_TPFLAGS_UNICODE_SUBCLASS | Py_TPFLAGS_LONG_SUBCLASS |
                                        Py_TPFLAGS_BYTES_SUBCLASS | Py_TPFLAGS_TYPE_SUBCLASS;
    PyTypeObject* type = Py_TYPE(obj);
    if ((type->tp_flags & kNeverSet) || type == &PyFloat_Type || obj == Py_None) return false;
    return PySet_Check(obj);
}

// An exact str, int, float or bool, or None: a value with nothing inside it, whose comparisons
// and conversions run no Python code.
inline bool is_plain_scalar(PyObject* obj) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
           type == &PyBool_Type || obj == Py_None;
}

// What a value is, read from its type alone (no Python code runs). The public class's walks
// (checking data, building, comparing, converting) all start from this answer:
//  - Scalar: is_plain_scalar; Atom: bytes, frozenset or complex, subclasses included, which hold
//    nothing a store converts;
//  - Dict and List: an exact dict; an exact list, tuple or set (what a store converts itself);
//  - DictSubclass and ListSubclass: a subclass of one of those, which the public class converts
//    after asking for its items (which may run code);
//  - Other: anything else. It may be a store (each walk has its own notion of which stores it
//    takes) or another Mapping, which only an instance check, which can run code, can tell.
enum class Kind { Scalar, Atom, Dict, List, DictSubclass, ListSubclass, Other };

inline Kind classify(PyObject* obj) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    if (is_plain_scalar(obj)) return Kind::Scalar;
    if (type == &PyDict_Type) return Kind::Dict;
    if (type == &PyList_Type || type == &PyTuple_Type || type == &PySet_Type) return Kind::List;
    if (PyBytes_Check(obj) || PyFrozenSet_Check(obj) || PyComplex_Check(obj)) return Kind::Atom;
    if (is_sequence_value(obj)) return Kind::ListSubclass;
    if (PyDict_Check(obj)) return Kind::DictSubclass;
    return Kind::Other;
}

// A class whose __name__ is exactly "TarvelVar": how both modules recognise a nested store.
// Reads the name without looking it up (a heap type's ht_name, a static type's tp_name after
// its last dot), so it runs no code.
inline bool is_named_tarvel_var(PyTypeObject* type) noexcept {
    if (type->tp_flags & Py_TPFLAGS_HEAPTYPE) {
        PyObject* name = reinterpret_cast<PyHeapTypeObject*>(type)->ht_name;
        return PyUnicode_Check(name) && PyUnicode_EqualToUTF8(name, "TarvelVar");
    }
    const char* full = type->tp_name;
    const char* dot = std::strrchr(full, '.');
    return std::strcmp(dot == nullptr ? full : dot + 1, "TarvelVar") == 0;
}

[[noreturn]] inline void raise_dict_changed_size() {
    PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
    throw_error();
}

// Walks an exact dict in order, comparing its size with the size at the start before each
// step and once at the end, as a dict's own iteration does. visit(key, value) receives strong
// references; a visit that returns bool stops the walk by returning false.
template <class Visit>
void walk_dict(PyObject* dict, Visit&& visit) {
    const Py_ssize_t size = PyDict_GET_SIZE(dict);
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (;;) {
        if (PyDict_GET_SIZE(dict) != size) raise_dict_changed_size();
        if (!PyDict_Next(dict, &pos, &key, &value)) break;
        Ref key_ref = Ref::borrow(key), value_ref = Ref::borrow(value);
        if constexpr (std::is_same_v<decltype(visit(key, value)), bool>) {
            if (!visit(key_ref.get(), value_ref.get())) return;
        } else {
            visit(key_ref.get(), value_ref.get());
        }
    }
}

}  // namespace capi
