// The type slots of the public class, set to C functions directly (through
// tv::write_slots, where the reason is written down). Setting `__getitem__` and the other
// protocol methods on the class makes the interpreter's slots look the method up and call it
// on every `s[k]`, `k in s`, `len(s)`, `s == t`, `s.x = v` and `TarvelVar()`; these call the
// same C functions without that detour. The methods stay on the class (for introspection and
// explicit calls).
#include "capi/cpython_private.hpp"
#include "methods.hpp"
#include "slots.hpp"
#include "store_access.hpp"

namespace tvs {
namespace {

Py_ssize_t length_slot(PyObject* self) {
    return tv::at_boundary<Py_ssize_t>(-1, [&] { return count_variables(self); });
}

int contains_slot(PyObject* self, PyObject* key) {
    return tv::at_boundary<int>(-1, [&] { return find_variable(self, key, nullptr) ? 1 : 0; });
}

int assign_slot(PyObject* self, PyObject* key, PyObject* value) {
    Ref result;
    if (value == nullptr) {
        result = Ref::steal(delitem(self, key));
    } else {
        PyObject* args[] = {key, value};
        result = Ref::steal(setitem(self, args, 2));
    }
    return result ? 0 : -1;
}

PyObject* iter_slot(PyObject* self) { return iterate(self, nullptr); }

// Deleting stays object's own deletion, as the class's `__delattr__` is object's.
int setattr_slot(PyObject* self, PyObject* name, PyObject* value) {
    if (value == nullptr) return PyObject_GenericSetAttr(self, name, nullptr);
    if (!PyUnicode_Check(name)) return PyObject_GenericSetAttr(self, name, value);  // its error
    return tv::at_boundary<int>(-1, [&] {
        assign_attribute(self, name, value);
        return 0;
    });
}

PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) {
    if (op == Py_EQ) return equals(self, other);
    if (op == Py_NE) return not_equals(self, other);
    return Py_NewRef(Py_NotImplemented);
}

int init_slot(PyObject* self, PyObject* args, PyObject* kwargs) {
    return tv::at_boundary<int>(-1, [&] {
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        Ref result;
        if (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) {
            result = Ref::steal(init(self, &PyTuple_GET_ITEM(args, 0), nargs, nullptr));
        } else {
            // the positional arguments, then the keyword values in the order of their names
            Ref stack = require(PyList_New(0));
            for (Py_ssize_t i = 0; i < nargs; ++i) {
                require_status(PyList_Append(stack.get(), PyTuple_GET_ITEM(args, i)));
            }
            Ref kwnames = require(PyTuple_New(PyDict_GET_SIZE(kwargs)));
            Py_ssize_t pos = 0, index = 0;
            PyObject* key = nullptr;
            PyObject* value = nullptr;
            while (PyDict_Next(kwargs, &pos, &key, &value)) {
                PyTuple_SET_ITEM(kwnames.get(), index++, Py_NewRef(key));
                require_status(PyList_Append(stack.get(), value));
            }
            result = Ref::steal(init(self, PySequence_Fast_ITEMS(stack.get()), nargs, kwnames.get()));
        }
        if (!result) throw_error();
        return 0;
    });
}

}  // namespace

setattrofunc direct_setattr_slot() { return setattr_slot; }

void install_direct_slots(PyObject* cls) {
    tv::SlotWrites writes;
    writes.subscript = getitem;
    writes.assign_item = assign_slot;
    writes.length = length_slot;
    writes.contains = contains_slot;
    writes.iterate = iter_slot;
    writes.compare = richcompare_slot;
    writes.init = init_slot;
    writes.set_attribute = setattr_slot;
    writes.bitwise_or = or_op;
    writes.inplace_or = ior_op;
    tv::write_slots(reinterpret_cast<PyTypeObject*>(cls), writes);
}

}  // namespace tvs
