// Conversion to plain containers: _mv_to_dict, _to_dict, _list_to_dict.
#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/toolkit.hpp"
#include "frame/impls.hpp"
#include "store/selection.hpp"

namespace var_main {
namespace {

// The converted form of a nested store or a sequence value, or an empty Ref for anything
// else. Conversions go through the outer object's methods, looked up on it at each use.
Ref convert_container(PyObject* self, PyObject* value) {
    if (is_nested_store(value)) {
        Ref variables = instance_dict(value);
        return call(self, Method::ToDict, {variables.get()});
    }
    if (is_sequence_value(value)) {
        return call(self, Method::ListToDict, {value});
    }
    return Ref();
}

Ref sorted_copy(PyObject* dict) {
    Ref items = require(PyDict_Items(dict));
    require_status(PyList_Sort(items.get()));
    Ref sorted = require(PyDict_New());
    for_each_item(items.get(), [&](PyObject* pair) {
        require_status(PyDict_SetItem(sorted.get(), PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1)));
    });
    return sorted;
}

}  // namespace

namespace impl {

Ref mv_to_dict(Args args) {
    const auto [self, sort] = arguments<2>(args);
    Ref dict = instance_dict(self);
    Ref result = call(self, Method::ToDict, {dict.get(), sort});
    if (!result.is(Py_None) && !PyDict_CheckExact(result.get())) {
        raise(PyExc_TypeError, "Expected %s, got %.200s", "dict", Py_TYPE(result.get())->tp_name);
    }
    return result;
}

Ref to_dict(Args args) {
    const auto [self, kwargs, sort] = arguments<3>(args);
    // Sized for every entry up front, so that filling it never grows the table.
    Ref new_kwargs = new_presized_dict(PyDict_GET_SIZE(kwargs));
    Selection selection(self);
    walk_dict(kwargs, [&](PyObject* name, PyObject* value) {
        Ref converted = convert_container(self, value);
        if (converted) {
            selection.code_may_have_run();  // the conversion may have gone through overrides
            require_status(PyDict_SetItem(new_kwargs.get(), name, converted.get()));
        } else if (selection.is_variable(name)) {
            require_status(PyDict_SetItem(new_kwargs.get(), name, value));
        }
        // Only a name that is not an exact str can run code when it is hashed or compared.
        if (!PyUnicode_CheckExact(name)) selection.code_may_have_run();
    });
    if (truth(sort)) return sorted_copy(new_kwargs.get());
    return new_kwargs;
}

Ref list_to_dict(Args args) {
    const auto [self, array] = arguments<2>(args);
    Ref copied = copy_if_no_element_needs_work(array, [](PyObject* value) {
        return is_nested_store(value) || is_sequence_value(value);
    });
    if (copied) return copied;
    Ref new_array = require(PyList_New(0));
    for_each_item(array, [&](PyObject* value) {
        Ref converted = convert_container(self, value);
        require_status(PyList_Append(new_array.get(), converted ? converted.get() : value));
    });
    return new_array;
}

}  // namespace impl
}  // namespace var_main
