#include "frame/runtime.hpp"

#include <array>

#include "frame/toolkit.hpp"

namespace var_main {

Runtime runtime;

bool init_names() {
    Names& n = runtime.names;
    const capi::NameSlot own[] = {
        {&n.items, "items"}, {&n.append, "append"}, {&n.startswith, "startswith"}, {&n.dollar_dot, "$."},
    };
    if (!capi::intern_common_names(n) || !capi::intern_names(own)) return false;
    if (!n.new_kwnames) {
        Ref word = Ref::steal(PyUnicode_InternFromString("new"));
        if (!word) return false;
        Ref kwnames = Ref::steal(PyTuple_Pack(1, word.get()));
        if (!kwnames) return false;
        n.new_kwnames.set(std::move(kwnames));
    }
    for (std::size_t m = 0; m < kMethodCount; ++m) {
        const MethodSpec& spec = method_spec(static_cast<Method>(m));
        if (!capi::intern_names(std::array{capi::NameSlot{&n.methods[m], spec.name}})) return false;
        for (std::size_t p = 0; p < spec.arity(); ++p) {
            if (!capi::intern_names(std::array{capi::NameSlot{&n.params[m][p], spec.params[p].name}})) return false;
        }
    }
    return true;
}

}  // namespace var_main
