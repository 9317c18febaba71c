// The type slots of the public class, set to C functions directly (through
// capi::write_slots, where the reason is written down). Setting `__getitem__` and the other
// protocol methods on the class makes the interpreter's slots look the method up and call it
// on every `s[k]`, `k in s`, `len(s)`, `s == t`, `s.x = v` and `TarvelVar()`; these call the
// same C functions without that detour. The methods stay on the class (for introspection and
// explicit calls).
#include "capi/cpython_private.hpp"
#include "method_table.hpp"
#include "methods.hpp"
#include "slots.hpp"
#include "store_access.hpp"

namespace store {
namespace {

Py_ssize_t length_slot(PyObject* self) {
    return capi::at_boundary<Py_ssize_t>(-1, [&] { return count_variables(self); });
}

int contains_slot(PyObject* self, PyObject* key) {
    return capi::at_boundary<int>(-1, [&] { return find_variable(self, key, nullptr) ? 1 : 0; });
}

int assign_slot(PyObject* self, PyObject* key, PyObject* value) {
    if (value == nullptr) {
        Ref result = Ref::steal(delitem(self, key));
        return result ? 0 : -1;
    }
    return capi::at_boundary<int>(-1, [&] {
        setitem_impl(self, key, value);
        return 0;
    });
}

PyObject* iter_slot(PyObject* self) { return iterate(self, nullptr); }

// Deleting stays object's own deletion, as the class's `__delattr__` is object's: for a name no
// class attribute takes, removing it from the instance dictionary. Done here for a name the
// dictionary holds, so that removing many variables asks the class for each name once (the
// removal's own test asked already); anything else, and the error for a missing name, is
// object's.
int delete_attribute(PyObject* self, PyObject* name) {
    if (PyUnicode_CheckExact(name) && class_attribute(Py_TYPE(self), name) == nullptr) {
        Ref dict = Ref::steal(PyObject_GenericGetDict(self, nullptr));
        if (!dict) return -1;
        if (PyDict_CheckExact(dict.get())) {
            // the value is released after the removal: its release may run code
            const int status = PyDict_Pop(dict.get(), name, nullptr);
            if (status != 0) return status > 0 ? 0 : -1;
        }
    }
    return PyObject_GenericSetAttr(self, name, nullptr);
}

int setattr_slot(PyObject* self, PyObject* name, PyObject* value) {
    if (value == nullptr) return delete_attribute(self, name);
    if (!PyUnicode_Check(name)) return PyObject_GenericSetAttr(self, name, value);  // its error
    return capi::at_boundary<int>(-1, [&] {
        assign_attribute(self, name, value);
        return 0;
    });
}

PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) {
    if (op == Py_EQ) return equals(self, other);
    if (op == Py_NE) return not_equals(self, other);
    return Py_NewRef(Py_NotImplemented);
}

// The slots that only read: the public class's, and its variants' (frozen, composed).
capi::SlotWrites reading_slots() {
    capi::SlotWrites writes;
    writes.subscript = getitem;
    writes.length = length_slot;
    writes.contains = contains_slot;
    writes.iterate = iter_slot;
    writes.compare = richcompare_slot;
    return writes;
}

}  // namespace

setattrofunc direct_setattr_slot() { return setattr_slot; }

void install_direct_slots(PyObject* cls) {
    capi::SlotWrites writes = reading_slots();
    writes.assign_item = assign_slot;
    writes.init = init_from_tuple;
    writes.set_attribute = setattr_slot;
    writes.bitwise_or = or_op;
    writes.inplace_or = ior_op;
    capi::write_slots(reinterpret_cast<PyTypeObject*>(cls), writes);
}

// A variant of the public class (frozen, composed) reads as the class does: its reading slots
// are the same C functions. What it writes, it writes through its own methods.
PyObject* install_read_slots(PyObject*, PyObject* cls) {
    PyTypeObject* public_type = reinterpret_cast<PyTypeObject*>(state.public_cls.get());
    if (!PyType_Check(cls) || public_type == nullptr ||
        !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls), public_type)) {
        PyErr_SetString(PyExc_TypeError, "read_slots() takes a subclass of the public class");
        return nullptr;
    }
    capi::write_slots(reinterpret_cast<PyTypeObject*>(cls), reading_slots());
    return Py_NewRef(Py_None);
}

}  // namespace store
