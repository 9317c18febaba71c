// get(): a variable by name, or a value by "$." path, stepping into lists by index too
// (`$.hosts.0.port`, or `$.hosts[0].port`).
//
// A plain name, or any key that is not a "$." path, is the store's own `_mv_get`. A path is
// walked as `_mv_get` walks one (through keys() and get() of every object it meets, plain
// dicts directly), and where the current object is a list or tuple, a step that is a whole
// number (negative counts from the end) is an index into it. As for `_mv_get`, any error on
// the way gives the default.
#include <array>
#include <cstdint>
#include <new>

#include "methods.hpp"
#include "store_access.hpp"

namespace store {
namespace {

// The step as an index into a sequence of `size`, when it is a whole number in range.
bool index_of(PyObject* step, Py_ssize_t size, Py_ssize_t& index) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(step);
    Py_ssize_t at = 0;
    const bool negative = length > 1 && PyUnicode_READ_CHAR(step, 0) == '-';
    if (negative) at = 1;
    if (length - at < 1 || length - at > 18) return false;
    Py_ssize_t value = 0;
    for (; at < length; ++at) {
        const Py_UCS4 ch = PyUnicode_READ_CHAR(step, at);
        if (ch < '0' || ch > '9') return false;
        value = value * 10 + static_cast<Py_ssize_t>(ch - '0');
    }
    if (negative) value = -value;
    if (value < -size || value >= size) return false;
    index = value < 0 ? value + size : value;
    return true;
}

// One step below `current`; empty when the step is missing.
Ref step_into(PyObject* current, PyObject* step) {
    if (PyDict_CheckExact(current)) {
        PyObject* found = nullptr;
        if (require_status(PyDict_Contains(current, step)) == 0) return Ref();
        if (require_status(PyDict_GetItemRef(current, step, &found)) == 0) return capi::none();
        return Ref::steal(found);
    }
    if (PyList_Check(current) || PyTuple_Check(current)) {
        Py_ssize_t index = 0;
        const Py_ssize_t size = PySequence_Size(current);  // a subclass's __len__ may fail
        if (size < 0) throw_error();
        if (!index_of(step, size, index)) return Ref();
        return require(PySequence_GetItem(current, index));
    }
    // keys() is the listing and get() this: answer from the variables
    if (std::optional<Ref> found = get_directly(current, step)) return std::move(*found);
    if (has_own_get(current)) {
        Ref value;
        if (!find_variable(current, step, &value)) return Ref();
        return value;
    }
    Ref keys = require(PyObject_CallMethodNoArgs(current, names().keys));
    if (require_status(PySequence_Contains(keys.get(), step)) == 0) return Ref();
    return require(PyObject_CallMethodOneArg(current, names().get, step));
}

// The steps of the path: its pieces between dots after the "$"; a path with brackets
// (`hosts[0].port`) is read by the package's path reader, which knows their syntax.
Ref split_steps(PyObject* path) {
    if (PyUnicode_FindChar(path, '[', 0, PyUnicode_GET_LENGTH(path), 1) < 0) {
        Ref pieces = require(PyUnicode_Split(path, names().dot, -1));
        return require(PyList_GetSlice(pieces.get(), 1, PY_SSIZE_T_MAX));
    }
    Ref paths = require(PyImport_ImportModule("tarvel_var.paths"));
    Ref steps = require(PyObject_CallMethod(paths.get(), "steps", "O", path));
    if (!PyList_CheckExact(steps.get())) raise(PyExc_TypeError, "steps() gave no list");
    return steps;
}

// Paths are most often constants of the calling code, read again and again: the steps of the
// last ones read are kept, by the path object, which an entry holds (so that an address names
// one path as long as it is kept). Steps are kept as a tuple, which nothing can change.
// The entries own their references and are never released at exit (after the interpreter
// has gone), as the module's other process-lifetime references.
struct StepsEntry {
    PyObject* path = nullptr;
    PyObject* steps = nullptr;
};
std::array<StepsEntry, 64> steps_cache;

Ref steps_of(PyObject* path) {
    StepsEntry& entry = steps_cache[(reinterpret_cast<std::uintptr_t>(path) >> 4) % steps_cache.size()];
    if (entry.path == path) return Ref::borrow(entry.steps);
    Ref steps = require(PyList_AsTuple(split_steps(path).get()));
    Ref old_path = Ref::steal(entry.path), old_steps = Ref::steal(entry.steps);  // released last
    entry.path = Py_NewRef(path);
    entry.steps = Py_NewRef(steps.get());
    return steps;
}

Ref walk(PyObject* self, PyObject* path) {
    Ref steps = steps_of(path);
    Ref current = Ref::borrow(self);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(steps.get()); ++i) {
        Ref step = Ref::borrow(PyTuple_GET_ITEM(steps.get(), i));
        current = step_into(current.get(), step.get());
        if (!current) return Ref();
    }
    return current;
}

bool is_path(PyObject* key) {
    return PyUnicode_CheckExact(key) && PyUnicode_GET_LENGTH(key) >= 2 &&
           PyUnicode_READ_CHAR(key, 0) == '$' && PyUnicode_READ_CHAR(key, 1) == '.';
}

}  // namespace

Ref get_impl(PyObject* self, PyObject* key, PyObject* default_value) {
    if (!is_path(key)) {
        // `_mv_get` of a plain name, answered from the store's variables when it is var_main's
        // own and the listing is too (nothing on that way can fail)
        if (std::optional<Ref> found = get_directly(self, key)) {
            return *found ? std::move(*found) : Ref::borrow(default_value);
        }
        return call_store_method(self, names().mv_get, {key, default_value});
    }
    try {
        if (Ref found = walk(self, key)) return found;
        return Ref::borrow(default_value);
    } catch (const capi::PyErrorSet&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw capi::PyErrorSet{};
    PyErr_Clear();
    return Ref::borrow(default_value);
}

}  // namespace store
