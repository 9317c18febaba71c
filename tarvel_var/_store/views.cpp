// The views that keys(), values() and items() return, as a dict's do: live (each use reads the
// store as it is then), in the store's order, and for keys and items set-like.
//
// The classes are written in Python over collections.abc's KeysView, ValuesView and ItemsView,
// whose mixins give the set operations and comparisons; bind() points their length, membership
// and iteration slots at the functions here, which answer from the store natively. An instance
// is laid out as MappingView's: the object header, then the `_mapping` slot holding the store.
#include "views.hpp"

#include "capi/cpython_private.hpp"
#include "methods.hpp"
#include "store_access.hpp"

namespace store {
namespace {

struct ViewTypes {
    PyTypeObject* keys = nullptr;
    PyTypeObject* values = nullptr;
    PyTypeObject* items = nullptr;
    Py_ssize_t store_offset = 0;  // where MappingView's `_mapping` slot lies
};
ViewTypes view_types;

// The store a view shows, held; a view whose `_mapping` was deleted raises as MappingView's
// own methods would.
Ref store_of(PyObject* view) {
    PyObject* store = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(view) + view_types.store_offset);
    if (store == nullptr) {
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '_mapping'", Py_TYPE(view)->tp_name);
        throw_error();
    }
    return Ref::borrow(store);
}

PyObject* new_view(PyTypeObject* type, PyObject* store) {
    return entry([&] {
        Ref view = require(type->tp_alloc(type, 0));
        *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(view.get()) + view_types.store_offset) =
            Py_NewRef(store);
        return view.release();
    });
}

Py_ssize_t view_length(PyObject* view) {
    return capi::at_boundary<Py_ssize_t>(-1, [&] { return count_variables(store_of(view).get()); });
}

int keys_contain(PyObject* view, PyObject* key) {
    return capi::at_boundary<int>(-1, [&] { return find_variable(store_of(view).get(), key, nullptr) ? 1 : 0; });
}

// (name, value) in items(): the store holds `name`, and its value is `value` or equal to it.
int items_contain(PyObject* view, PyObject* item) {
    return capi::at_boundary<int>(-1, [&] {
        Ref store = store_of(view);
        if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) return 0;
        Ref value;
        if (!find_variable(store.get(), PyTuple_GET_ITEM(item, 0), &value)) return 0;
        return require_status(PyObject_RichCompareBool(value.get(), PyTuple_GET_ITEM(item, 1), Py_EQ));
    });
}

// Iteration walks a list made when it starts, as iter(store) does: changes made while it runs
// are not seen, and cannot break it.
template <class List>
PyObject* iterate_over(PyObject* view, List&& list_of) {
    return entry([&] { return PyObject_GetIter(list_of(store_of(view).get()).get()); });
}

PyObject* keys_iterate(PyObject* view) { return iterate_over(view, variable_names); }
PyObject* values_iterate(PyObject* view) { return iterate_over(view, value_list); }
PyObject* items_iterate(PyObject* view) { return iterate_over(view, item_list); }

void point_slots(PyTypeObject* type, getiterfunc iterate_view, objobjproc contain) {
    capi::SlotWrites writes;
    writes.iterate = iterate_view;
    writes.length = view_length;
    writes.contains = contain;
    capi::write_slots(type, writes);
}

// Where a view class keeps MappingView's `_mapping` slot, or -1 when it is not laid out as
// MappingView (the object header, then that one slot). Found by storing through the class's
// own descriptor on a new instance and looking where the value landed.
Py_ssize_t mapping_slot_offset(PyTypeObject* type, PyObject* slot_name) {
    constexpr auto offset = static_cast<Py_ssize_t>(sizeof(PyObject));
    if (type->tp_basicsize != offset + static_cast<Py_ssize_t>(sizeof(PyObject*)) ||
        class_attribute(type, slot_name) == nullptr) {
        return -1;
    }
    Ref view = require(type->tp_alloc(type, 0));
    Ref marker = require(PyList_New(0));
    require_status(PyObject_GenericSetAttr(view.get(), slot_name, marker.get()));
    PyObject* landed = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(view.get()) + offset);
    return landed == marker.get() ? offset : -1;
}

}  // namespace

void bind_views(PyObject* keys_type, PyObject* values_type, PyObject* items_type) {
    PyObject* types[] = {keys_type, values_type, items_type};
    Ref slot_name = require(PyUnicode_InternFromString("_mapping"));
    for (PyObject* type : types) {
        if (!PyType_Check(type)) raise(PyExc_TypeError, "bind() takes the three view classes");
        const Py_ssize_t offset = mapping_slot_offset(reinterpret_cast<PyTypeObject*>(type), slot_name.get());
        if (offset < 0 || (view_types.store_offset != 0 && offset != view_types.store_offset)) {
            raise(PyExc_TypeError, "the view classes must be laid out as MappingView");
        }
        view_types.store_offset = offset;
    }
    view_types.keys = reinterpret_cast<PyTypeObject*>(Py_NewRef(keys_type));
    view_types.values = reinterpret_cast<PyTypeObject*>(Py_NewRef(values_type));
    view_types.items = reinterpret_cast<PyTypeObject*>(Py_NewRef(items_type));
    point_slots(view_types.keys, keys_iterate, keys_contain);
    point_slots(view_types.values, values_iterate, nullptr);
    point_slots(view_types.items, items_iterate, items_contain);
}

PyObject* keys_view(PyObject* self, PyObject*) { return new_view(view_types.keys, self); }
PyObject* values_view(PyObject* self, PyObject*) { return new_view(view_types.values, self); }
PyObject* items_view(PyObject* self, PyObject*) { return new_view(view_types.items, self); }

}  // namespace store
