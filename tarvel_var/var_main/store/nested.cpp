// Nested values: _set_dict, _set_list, _mv_add.
#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/function.hpp"
#include "frame/impls.hpp"
#include "store/plain_value.hpp"

namespace var_main {
namespace {

// A new nested store from the store factory held in `_i_c_u`, called with no arguments.
Ref make_store(PyObject* self) {
    Ref factory = read_flag(self, names().i_c_u);
    return require(PyObject_CallNoArgs(factory.get()));
}

// store.add(**entries); the result is ignored.
void fill_store(PyObject* store, PyObject* entries) {
    Ref add = require(PyObject_GetAttr(store, names().add));
    Ref kwargs = Ref::borrow(entries);
    if (!PyDict_CheckExact(entries)) {  // `**mapping` sees a subclass through its own methods
        kwargs = require(PyDict_New());
        require_status(PyDict_Merge(kwargs.get(), entries, 1));
    }
    Ref no_args = require(PyTuple_New(0));
    require(PyObject_Call(add.get(), no_args.get(), kwargs.get()));
}

}  // namespace

namespace impl {

// The instance dictionary is fetched anew at each use: the truth tests, the store factory,
// `add` and the release of a replaced value can all run code that gives the store a new one.
Ref set_dict(Args args) {
    const auto& [self, key, value, new_] = args;
    Ref held = mapping_get(instance_dict(self).get(), key);
    if (truth(held.get()) && !truth(new_)) {
        if (PyDict_Check(held.get())) {
            // A plain dict kept by a raw store: calling `add` on it would fail, so both are
            // merged into a new nested store, the old entries first. The store is written under
            // `key` only once it is filled, so that a merge that fails (a key that cannot be a
            // keyword) leaves the old dict in place; the old dict itself is never changed.
            Ref merged = make_store(self);
            fill_store(merged.get(), held.get());
            fill_store(merged.get(), value);
            mapping_set(instance_dict(self).get(), key, merged.get());
            return none();
        }
        if (!is_nested_store(held.get())) {
            Ref replacement = make_store(self);
            mapping_set(instance_dict(self).get(), key, replacement.get());
        }
        Ref target = mapping_item(instance_dict(self).get(), key);
        fill_store(target.get(), value);
        return none();
    }
    Ref fresh = make_store(self);
    if (!store_plain_value(self, key, fresh.get(), ChainFrom::MvSet)) {
        call(self, Method::MvSet, {key, fresh.get()});
    }
    fill_store(fresh.get(), value);
    return none();
}

Ref set_list(Args args) {
    const auto [self, value, key] = arguments<3>(args);
    Ref text_list;  // the target: the list held under `key`, or a new one
    if (key != Py_None && PyUnicode_GET_LENGTH(key) > 0) {
        Ref held = mapping_get(instance_dict(self).get(), key);
        // read again by item access, from the dictionary the store has now (comparing keys
        // in the lookup above may have run code)
        if (PyList_Check(held.get())) text_list = mapping_item(instance_dict(self).get(), key);
    }
    if (!text_list) {
        text_list = copy_if_no_element_needs_work(value, [](PyObject* element) {
            return PyDict_Check(element) || is_sequence_value(element);
        });
        if (text_list) return text_list;
        text_list = require(PyList_New(0));
    }

    // Extending a list with itself: convert the elements it held at the start.
    Ref source = Ref::borrow(value);
    if (text_list.is(value)) source = require(PySequence_List(value));

    for_each_item(source.get(), [&](PyObject* element) {
        if (PyDict_Check(element)) {
            Ref element_store = make_store(self);
            fill_store(element_store.get(), element);
            list_append(text_list.get(), element_store.get());
        } else if (is_sequence_value(element)) {
            Ref element_list = call(self, Method::SetList, {element});
            list_append(text_list.get(), element_list.get());
        } else {
            list_append(text_list.get(), element);
        }
    });
    if (!PyList_CheckExact(text_list.get())) {
        raise(PyExc_TypeError, "Expected %s, got %.200s", "list", Py_TYPE(text_list.get())->tp_name);
    }
    return text_list;
}

// Merges every entry: dicts into nested stores, sequences onto the lists already held,
// anything else replacing what was there.
Ref mv_add(Args args) {
    const auto [self, kwargs] = arguments<2>(args);
    PlainValueWriter writer(self, ChainFrom::MvSet);
    walk_dict(kwargs, [&](PyObject* key, PyObject* value) {
        if (writer.store(key, value)) return;
        writer.code_may_have_run();  // every other entry goes through calls that may run code
        if (PyDict_Check(value)) {
            call(self, Method::SetDict, {key, value});
        } else if (is_sequence_value(value)) {
            Ref text_list = call(self, Method::SetList, {value, key});
            mapping_set(instance_dict(self).get(), key, text_list.get());
        } else {
            call(self, Method::MvSet, {key, value});
        }
    });
    return none();
}

}  // namespace impl
}  // namespace var_main
