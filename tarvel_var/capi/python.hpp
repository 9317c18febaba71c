// The one include of Python.h. The sources are written against CPython 3.13's C API; the calls
// that 3.13 (or 3.12) added get their equivalents here for the older interpreters we support,
// built from calls those interpreters have, with the same contracts. Everything private or
// tied to one interpreter's layout lives in capi/cpython_private.hpp instead.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>

#if PY_VERSION_HEX < 0x030B0000
#error "tarvel_var needs CPython 3.11 or newer"
#endif

// ---- 3.12 ---------------------------------------------------------------------------------
#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>  // PyMemberDef's definition and its type codes, before 3.12
#define Py_T_OBJECT_EX T_OBJECT_EX
#define Py_T_PYSSIZET T_PYSSIZET
#define Py_READONLY READONLY
#endif

// The module slots a version knows, for the modules' slot tables: one interpreter's class per
// process (3.12) and the need of the GIL (3.13; a free-threaded interpreter then re-enables it).
#if defined(Py_mod_multiple_interpreters)
#define TARVEL_SLOT_INTERPRETERS {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_SUPPORTED},
#else
#define TARVEL_SLOT_INTERPRETERS
#endif
#if defined(Py_mod_gil)
#define TARVEL_SLOT_GIL {Py_mod_gil, Py_MOD_GIL_USED},
#else
#define TARVEL_SLOT_GIL
#endif
#define TARVEL_VERSION_SLOTS TARVEL_SLOT_INTERPRETERS TARVEL_SLOT_GIL

// ---- 3.13 ---------------------------------------------------------------------------------
#if PY_VERSION_HEX < 0x030D0000

// 1 and a new reference when `key` is in the dict, 0 and nullptr when not, -1 on error.
inline int PyDict_GetItemRef(PyObject* dict, PyObject* key, PyObject** result) {
    PyObject* item = PyDict_GetItemWithError(dict, key);  // borrowed; taken before any code runs
    *result = Py_XNewRef(item);
    if (item != nullptr) return 1;
    return PyErr_Occurred() ? -1 : 0;
}

// 1 with the value held when `key` was present, 0 with `value` when it was inserted, -1 on
// error. Looked up first: PyDict_SetDefault cannot tell an inserted value from an equal one.
inline int PyDict_SetDefaultRef(PyObject* dict, PyObject* key, PyObject* value, PyObject** result) {
    const int found = PyDict_GetItemRef(dict, key, result);
    if (found != 0) return found;
    PyObject* held = PyDict_SetDefault(dict, key, value);
    if (held == nullptr) return -1;
    *result = Py_NewRef(held);
    return held == value ? 0 : 1;
}

// 1 when `key` was removed (its value in *result when result is not null), 0 when absent,
// -1 on error.
inline int PyDict_Pop(PyObject* dict, PyObject* key, PyObject** result) {
    PyObject* value = nullptr;
    int found = PyDict_GetItemRef(dict, key, &value);
    if (found == 1 && PyDict_DelItem(dict, key) < 0) {
        Py_CLEAR(value);
        found = -1;
        if (PyErr_ExceptionMatches(PyExc_KeyError)) {  // the key's comparison removed it meanwhile
            PyErr_Clear();
            found = 0;
        }
    }
    if (result != nullptr) {
        *result = value;
    } else {
        Py_XDECREF(value);
    }
    return found;
}

// As PyObject_GetItem, but a missing key is 0 with no exception instead of KeyError.
inline int PyMapping_GetOptionalItem(PyObject* obj, PyObject* key, PyObject** result) {
    if (PyDict_CheckExact(obj)) return PyDict_GetItemRef(obj, key, result);
    *result = PyObject_GetItem(obj, key);
    if (*result != nullptr) return 1;
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) return -1;
    PyErr_Clear();
    return 0;
}

// As PyObject_GetAttr, but a missing attribute is 0 with no exception instead of AttributeError.
inline int PyObject_GetOptionalAttr(PyObject* obj, PyObject* name, PyObject** result) {
    *result = PyObject_GetAttr(obj, name);
    if (*result != nullptr) return 1;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
}

inline int PyObject_GetOptionalAttrString(PyObject* obj, const char* name, PyObject** result) {
    PyObject* name_object = PyUnicode_FromString(name);
    if (name_object == nullptr) {
        *result = nullptr;
        return -1;
    }
    const int found = PyObject_GetOptionalAttr(obj, name_object, result);
    Py_DECREF(name_object);
    return found;
}

// Whether `text` is a str equal to the UTF-8 string `utf8`; never fails.
inline int PyUnicode_EqualToUTF8(PyObject* text, const char* utf8) {
    if (!PyUnicode_Check(text)) return 0;
    Py_ssize_t size = 0;
    const char* own = PyUnicode_AsUTF8AndSize(text, &size);
    if (own == nullptr) {  // lone surrogates: no UTF-8 string equals it
        PyErr_Clear();
        return 0;
    }
    const std::size_t length = std::strlen(utf8);
    return static_cast<std::size_t>(size) == length && std::memcmp(own, utf8, length) == 0;
}

#endif
