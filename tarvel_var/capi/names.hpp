// The interned names both native modules use, declared once. Each module holds its own table
// (the modules share code, not state) and adds the names only it needs, by deriving from this.
#pragma once

#include "capi/python.hpp"

#include <span>
#include <utility>

#include "capi/refs.hpp"

namespace capi {

// A new reference to the attribute name as the interpreter's setattr() and delattr() hand it
// to the hooks: interned. (From 3.13 interned names are released with their last user; before,
// interning keeps them for the life of the process, as the interpreter's own setattr() does.)
Ref intern_attribute_name(PyObject* name);

struct CommonNames {
    // the store's internal variables, in the order set-up writes them
    StaticRef i_c_u;
    StaticRef g_n_r;
    StaticRef g_n_i;
    StaticRef g_n_s;
    // the protocol names the fast paths compare or look up
    StaticRef dunder_dict;
    StaticRef dunder_getattribute;
    StaticRef dunder_delattr;
    StaticRef add;
    StaticRef keys;
    StaticRef get;
    StaticRef dot;  // "."

    // One of the internal variable names; `name` must be a str. All four are six characters
    // long and begin with "_", which settles almost every other name at once.
    bool is_internal(PyObject* name) const noexcept {
        if (name == i_c_u || name == g_n_r || name == g_n_i || name == g_n_s) return true;
        if (PyUnicode_GET_LENGTH(name) != 6 || PyUnicode_READ_CHAR(name, 0) != '_') return false;
        return equals_internal(name);
    }

private:
    bool equals_internal(PyObject* name) const noexcept;
};

using NameSlot = std::pair<StaticRef*, const char*>;

// Interns each text into its slot, leaving a slot that an earlier, failed import filled; false
// with an exception set.
bool intern_names(std::span<const NameSlot> slots);

// The common names: false with an exception set.
bool intern_common_names(CommonNames& names);

}  // namespace capi
