#include "state.hpp"

#include <utility>

namespace store {

State state;

bool init_names() {
    Names& n = state.names;
    const std::pair<StaticRef*, const char*> table[] = {
        {&n.i_c_u, "_i_c_u"}, {&n.g_n_r, "_g_n_r"}, {&n.g_n_i, "_g_n_i"}, {&n.g_n_s, "_g_n_s"},
        {&n.skip, "_skip"}, {&n.set_class, "_set_class"}, {&n.mv_add, "_mv_add"},
        {&n.mv_set, "_mv_set"}, {&n.mv_pop, "_mv_pop"}, {&n.mv_clear, "_mv_clear"},
        {&n.mv_get, "_mv_get"}, {&n.mv_keys, "_mv_keys"}, {&n.mv_to_dict, "_mv_to_dict"},
        {&n.set_dict, "_set_dict"}, {&n.set_list, "_set_list"}, {&n.set_attr, "_set_attr"},
        {&n.dunder_setattr, "__setattr__"}, {&n.dunder_delattr, "__delattr__"}, {&n.add, "add"},
        {&n.to_dict, "_to_dict"}, {&n.list_to_dict, "_list_to_dict"},
        {&n.dunder_dict, "__dict__"}, {&n.dunder_getattribute, "__getattribute__"},
        {&n.keys, "keys"}, {&n.get, "get"}, {&n.dot, "."},
    };
    for (const auto& [slot, text] : table) {
        if (*slot) continue;
        PyObject* name = PyUnicode_InternFromString(text);
        if (name == nullptr) return false;
        slot->set(capi::Ref::steal(name));
    }
    return true;
}

}  // namespace store
