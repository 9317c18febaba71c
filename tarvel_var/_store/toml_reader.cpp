// TOML documents read by toml++, where the build found it.
//
// toml_document(text) makes the plain data that tomllib.loads makes of the text: tables as dicts
// with their keys in the order the document first names them (toml++ keeps a table's keys
// sorted; each key's place in the text restores the order), arrays as lists, dates and times as
// the datetime module's, offsets as its timezones. It answers None wherever tomllib must read
// the text: any error (tomllib's message and place are the ones the package reports), NaN (whose
// sign tomllib takes from the text), an integer beyond 64 bits, a float beyond a double's range,
// a time no datetime holds.
#include "readers.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "capi/collector.hpp"
#include "capi/recursion.hpp"
#include "methods.hpp"

#ifdef TARVEL_HAVE_TOMLPLUSPLUS
#include <toml++/toml.h>
#endif

namespace store {

using capi::require;
using capi::require_status;

namespace {

#ifdef TARVEL_HAVE_TOMLPLUSPLUS

int microseconds(const toml::time& time) { return static_cast<int>(time.nanosecond / 1000); }

Ref date_of(const toml::date& date) { return date_made(date.year, date.month, date.day); }

Ref time_of(const toml::time& time) { return time_made(time.hour, time.minute, time.second, microseconds(time)); }

Ref date_time_of(const toml::date_time& moment) {
    const toml::date& date = moment.date;
    const toml::time& time = moment.time;
    std::optional<int> offset;
    if (moment.offset) offset = moment.offset->minutes;
    return date_time_made(date.year, date.month, date.day, time.hour, time.minute, time.second, microseconds(time),
                          offset);
}

Ref value_of(const toml::node& node);

// A table's members in the order the document first names their keys.
Ref dict_of(const toml::table& table) {
    capi::RecursionGuard guard;
    std::vector<std::pair<const toml::key*, const toml::node*>> members;
    members.reserve(table.size());
    for (auto&& [key, node] : table) members.emplace_back(&key, &node);
    std::sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
        const toml::source_position& left = a.first->source().begin;
        const toml::source_position& right = b.first->source().begin;
        return left.line != right.line ? left.line < right.line : left.column < right.column;
    });
    Ref dict = require(PyDict_New());
    for (const auto& [key, node] : members) {
        Ref value = value_of(*node);
        require_status(PyDict_SetItem(dict.get(), decoded(key->str()).get(), value.get()));
    }
    return dict;
}

Ref list_of(const toml::array& array) {
    capi::RecursionGuard guard;
    Ref list = require(PyList_New(static_cast<Py_ssize_t>(array.size())));
    Py_ssize_t index = 0;
    for (const toml::node& item : array) PyList_SET_ITEM(list.get(), index++, value_of(item).release());
    return list;
}

Ref value_of(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::table: return dict_of(*node.as_table());
        case toml::node_type::array: return list_of(*node.as_array());
        case toml::node_type::string: return decoded(node.as_string()->get());
        case toml::node_type::integer: return require(PyLong_FromLongLong(node.as_integer()->get()));
        case toml::node_type::floating_point: {
            const double value = node.as_floating_point()->get();
            if (std::isnan(value)) throw GeneralWay{};
            return require(PyFloat_FromDouble(value));
        }
        case toml::node_type::boolean: return Ref::borrow(node.as_boolean()->get() ? Py_True : Py_False);
        case toml::node_type::date: return date_of(node.as_date()->get());
        case toml::node_type::time: return time_of(node.as_time()->get());
        case toml::node_type::date_time: return date_time_of(node.as_date_time()->get());
        default: throw GeneralWay{};
    }
}

Ref read(PyObject* text) {
    const std::optional<std::string_view> utf8 = utf8_of(text);
    if (!utf8) return Ref();
    toml::parse_result parsed = toml::parse(*utf8);
    if (!parsed) return Ref();
    capi::CollectorPaused paused;  // the document is a tree of new containers
    try {
        return dict_of(parsed.table());
    } catch (const GeneralWay&) {
        return Ref();
    }
}

std::string library() {
    return "toml: toml++ " + std::to_string(TOML_LIB_MAJOR) + "." + std::to_string(TOML_LIB_MINOR) + "." +
           std::to_string(TOML_LIB_PATCH);
}

#else

Ref read(PyObject*) { return Ref(); }

std::string library() { return std::string(); }

#endif

// toml_document(text, /): the plain data tomllib.loads makes of `text`, or None where tomllib
// must read it.
PyObject* toml_document(PyObject*, PyObject* text) {
    return entry([&] {
        if (!PyUnicode_Check(text)) capi::raise(PyExc_TypeError, "toml_document(text, /) takes a str");
        Ref document = read(text);
        return document ? document.release() : Py_NewRef(Py_None);
    });
}

PyMethodDef toml_functions[] = {
    {"toml_document", as_cfunction(toml_document), METH_O,
     "toml_document(text, /)\n--\n\nThe plain data of a TOML document read natively, or None where "
     "tomllib must read it."},
};

}  // namespace

std::string toml_reader_library() { return library(); }

bool ready_toml_reader(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] {
        add_functions(module, toml_functions);
        return true;
    });
}

}  // namespace store
