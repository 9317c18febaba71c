#include "state.hpp"

#include <utility>

namespace store {

State state;

bool init_names() {
    Names& n = state.names;
    const capi::NameSlot own[] = {
        {&n.skip, "_skip"}, {&n.set_class, "_set_class"}, {&n.mv_add, "_mv_add"}, {&n.mv_set, "_mv_set"},
        {&n.mv_pop, "_mv_pop"}, {&n.mv_clear, "_mv_clear"}, {&n.mv_get, "_mv_get"}, {&n.mv_keys, "_mv_keys"},
        {&n.mv_to_dict, "_mv_to_dict"}, {&n.set_dict, "_set_dict"}, {&n.set_list, "_set_list"},
        {&n.set_attr, "_set_attr"}, {&n.dunder_setattr, "__setattr__"}, {&n.to_dict, "_to_dict"},
        {&n.list_to_dict, "_list_to_dict"}, {&n.mv_items, "_mv_items"}, {&n.dunder_class, "__class__"},
        {&n.frozen_marker, "__tarvel_frozen__"}, {&n.setter, "setter"}, {&n.touched, "touched"},
        {&n.below, "below"}, {&n.at, "at"}, {&n.lines, "lines"}, {&n.origin, "origin"},
    };
    return capi::intern_common_names(n) && capi::intern_names(own);
}

}  // namespace store
