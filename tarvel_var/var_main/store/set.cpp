// Setting variables: _mv_set, _set_attr, _mv_set_kwargs.
#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/function.hpp"
#include "frame/impls.hpp"
#include "store/plain_value.hpp"

namespace var_main::impl {

Ref mv_set(Args args) {
    const auto& [self, name, value, inherit] = args;
    if (truth(inherit)) {
        call(self, Method::SetAttr, {name, value});
    } else if (!store_plain_value(self, name, value, ChainFrom::Setattr)) {
        set_attribute(self, name, value);
    }
    return none();
}

// The converted assignment: a dict becomes a fresh nested store, a list, set or tuple a new
// converted list, anything else is stored as it is.
Ref set_attr(Args args) {
    const auto [self, name, value] = arguments<3>(args);
    if (PyDict_Check(value)) {
        call(self, Method::SetDict, {name, value, Py_True}, names().new_kwnames);
    } else if (is_sequence_value(value)) {
        Ref text_list = call(self, Method::SetList, {value});
        mapping_set(instance_dict(self).get(), name, text_list.get());
    } else {
        mapping_set(instance_dict(self).get(), name, value);
    }
    return none();
}

Ref mv_set_kwargs(Args args) {
    const auto [self, kwargs] = arguments<2>(args);
    PlainValueWriter writer(self, ChainFrom::Setattr);
    walk_dict(kwargs, [&](PyObject* key, PyObject* value) {
        if (writer.store(key, value)) return;
        writer.code_may_have_run();
        set_attribute(self, key, value);
    });
    return none();
}

}  // namespace var_main::impl
