#include "frame/runtime.hpp"

#include "frame/toolkit.hpp"

namespace var_main {

Runtime runtime;

namespace {

// Interns `text` into `slot` unless an earlier, failed import already did.
bool intern(StaticRef& slot, const char* text) {
    if (slot) return true;
    Ref name = Ref::steal(PyUnicode_InternFromString(text));
    if (!name) return false;
    slot.set(std::move(name));
    return true;
}

}  // namespace

bool init_names() {
    Names& n = runtime.names;
    const std::pair<StaticRef*, const char*> table[] = {
        {&n.i_c_u, "_i_c_u"}, {&n.g_n_r, "_g_n_r"}, {&n.g_n_i, "_g_n_i"}, {&n.g_n_s, "_g_n_s"},
        {&n.dunder_dict, "__dict__"}, {&n.dunder_getattribute, "__getattribute__"},
        {&n.dunder_delattr, "__delattr__"},
        {&n.add, "add"}, {&n.keys, "keys"}, {&n.get, "get"}, {&n.items, "items"},
        {&n.append, "append"}, {&n.startswith, "startswith"},
        {&n.dollar_dot, "$."}, {&n.dot, "."},
    };
    for (const auto& [slot, text] : table) {
        if (!intern(*slot, text)) return false;
    }
    if (!n.new_kwnames) {
        Ref word = Ref::steal(PyUnicode_InternFromString("new"));
        if (!word) return false;
        Ref kwnames = Ref::steal(PyTuple_Pack(1, word.get()));
        if (!kwnames) return false;
        n.new_kwnames.set(std::move(kwnames));
    }
    for (std::size_t m = 0; m < kMethodCount; ++m) {
        const MethodSpec& spec = method_spec(static_cast<Method>(m));
        if (!intern(n.methods[m], spec.name)) return false;
        for (std::size_t p = 0; p < spec.arity(); ++p) {
            if (!intern(n.params[m][p], spec.params[p].name)) return false;
        }
    }
    return true;
}

}  // namespace var_main
