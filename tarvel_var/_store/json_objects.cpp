// Stores made straight from a JSON parser's objects.
//
// json.loads calls its `object_pairs_hook` with the (key, value) pairs of each object, innermost
// first; these hooks make each object the store the constructor would make of it: set up as
// the store factory sets one up, nested objects already stores, arrays already lists (new ones,
// which only the parser held, with their objects already stores), names interned where the
// merge interns them. So loading a JSON document builds its stores in one pass, without the
// dicts in between. A key written twice in one object raises DuplicateKeyError; a key the store
// keeps for itself raises NeedsChecking, and the caller loads the document the general way,
// whose error names the key's place.
#include "json_objects.hpp"

#include "build.hpp"
#include "capi/cpython_private.hpp"
#include "methods.hpp"
#include "store_access.hpp"

namespace store {
namespace {

capi::StaticRef duplicate_key_error;
capi::StaticRef needs_checking;

}  // namespace

Member put_member(PyObject* dict, PyObject* key, PyObject* value, bool holds_array) {
    if (!takes_key_as_is(key)) return Member::Reserved;
    // a list is written into the dict as it is named, anything else as assignment names it
    Ref name = holds_array ? Ref::borrow(key) : capi::intern_attribute_name(key);
    PyObject* held = nullptr;
    const int had = require_status(PyDict_SetDefaultRef(dict, name.get(), value, &held));
    Ref held_ref = Ref::steal(held);
    return had == 1 ? Member::Duplicate : Member::Taken;
}

namespace {

PyObject* object_of(PyObject* pairs, bool strict) {
    return entry([&] {
        if (!PyList_CheckExact(pairs)) raise(PyExc_TypeError, "expected the list of an object's pairs");
        Ref store = new_fresh_store(strict);
        Ref dict = require(PyObject_GenericGetDict(store.get(), nullptr));
        // The parser made every object here and holds nothing else: no step runs Python code.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(pairs); ++i) {
            PyObject* pair = PyList_GET_ITEM(pairs, i);
            if (!PyTuple_CheckExact(pair) || PyTuple_GET_SIZE(pair) != 2) {
                raise(PyExc_TypeError, "expected (key, value) pairs, not %.200s", Py_TYPE(pair)->tp_name);
            }
            PyObject* key = PyTuple_GET_ITEM(pair, 0);
            PyObject* value = PyTuple_GET_ITEM(pair, 1);
            const Member put = put_member(dict.get(), key, value, PyList_CheckExact(value));
            if (put != Member::Taken) {
                PyErr_SetObject(put == Member::Reserved ? needs_checking.get() : duplicate_key_error.get(), key);
                throw_error();
            }
        }
        return store.release();
    });
}

PyObject* json_store(PyObject*, PyObject* pairs) { return object_of(pairs, false); }
PyObject* json_strict_store(PyObject*, PyObject* pairs) { return object_of(pairs, true); }

}  // namespace

PyMethodDef json_object_functions[] = {
    {"json_store", json_store, METH_O,
     "json_store(pairs, /)\n--\n\nAn object_pairs_hook for json.loads: each object a TarvelVar."},
    {"json_strict_store", json_strict_store, METH_O,
     "json_strict_store(pairs, /)\n--\n\nThe same, each object a strict TarvelVar."},
};

namespace {

bool add_json_objects(PyObject* module) {
    if (!duplicate_key_error) {
        Ref type = require(PyErr_NewExceptionWithDoc(
            "tarvel_var._store.DuplicateKeyError",
            "A key written twice in one object of a document; args[0] is the key.", PyExc_ValueError, nullptr));
        duplicate_key_error.set(std::move(type));
        needs_checking.set(require(PyErr_NewExceptionWithDoc(
            "tarvel_var._store.NeedsChecking",
            "A document holds a key the store keeps for itself: load it the general way.", nullptr, nullptr)));
    }
    add_functions(module, json_object_functions);
    require_status(PyModule_AddObjectRef(module, "DuplicateKeyError", duplicate_key_error));
    require_status(PyModule_AddObjectRef(module, "NeedsChecking", needs_checking));
    return true;
}

}  // namespace

// The module's set-up calls it from the interpreter: its C++ errors stay here.
bool ready_json_objects(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] { return add_json_objects(module); });
}

}  // namespace store
