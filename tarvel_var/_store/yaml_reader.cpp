// YAML documents read by libyaml's event parser, where the build found it.
//
// yaml_document(text) makes the plain data (dicts, lists, scalars) that the safe loader of
// formats.py makes of the text with PyYAML over libyaml: plain scalars resolved by the YAML 1.1
// rules that loader follows (null, booleans, ints in bases 2, 8, 10 and 16, floats, infinities,
// dates), aliases the very objects their anchors made. It answers None wherever the document
// holds what only that loader reads exactly or must refuse with its message and place: an
// explicit tag, a merge key, a sexagesimal number, a NaN, a timestamp with a time, a key that is
// not a string or is written twice, an alias before its anchor is complete, a repeated anchor,
// more than one document, a top level that is no mapping, and any error. Ours to do is only the
// common document, as fast as libyaml reads it.
#include "readers.hpp"

#include <string>
#include <string_view>
#include <unordered_map>

#include "build.hpp"
#include "capi/collector.hpp"
#include "capi/recursion.hpp"
#include "json_objects.hpp"
#include "methods.hpp"

#ifdef TARVEL_HAVE_LIBYAML
#include <yaml.h>
#endif

namespace store {

using capi::require;
using capi::require_status;

namespace {

// What a document's mappings become: plain dicts, as the safe loader makes them, or the stores
// the public class builds of those dicts (strict or not).
enum class Mappings { Dicts, Stores, StrictStores };

#ifdef TARVEL_HAVE_LIBYAML

// libyaml's parser over one text, an event at a time; each event lives until the next is read.
class Events {
public:
    Events(const char* utf8, std::size_t size) {
        if (!yaml_parser_initialize(&parser_)) throw std::bad_alloc();
        yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(utf8), size);
    }
    ~Events() {
        if (holds_event_) yaml_event_delete(&event_);
        yaml_parser_delete(&parser_);
    }
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    // The next event; a parse error is the general way's to report, with its place.
    const yaml_event_t& next() {
        if (holds_event_) yaml_event_delete(&event_);
        holds_event_ = false;
        if (!yaml_parser_parse(&parser_, &event_)) throw GeneralWay{};
        holds_event_ = true;
        return event_;
    }

private:
    yaml_parser_t parser_{};
    yaml_event_t event_{};
    bool holds_event_ = false;
};

Ref text_of(const unsigned char* utf8, std::size_t size) {
    return decoded(std::string_view(reinterpret_cast<const char*>(utf8), size));
}

// -- plain scalars, resolved as the YAML 1.1 rules of the safe loader resolve them -------------

enum class Kind { Str, Null, Bool, Int, Float, Date, General };

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The end of a run of `accepted` characters in `text` from `at`.
template <class Accepted>
std::size_t run(std::string_view text, std::size_t at, Accepted accepted) {
    while (at < text.size() && accepted(text[at])) ++at;
    return at;
}

bool digit_or_underscore(char c) { return is_digit(c) || c == '_'; }

bool is_bool(std::string_view v) {
    for (std::string_view word : {"yes", "Yes", "YES", "no", "No", "NO", "true", "True", "TRUE", "false", "False",
                                  "FALSE", "on", "On", "ON", "off", "Off", "OFF"}) {
        if (v == word) return true;
    }
    return false;
}

bool is_null(std::string_view v) { return v.empty() || v == "~" || v == "null" || v == "Null" || v == "NULL"; }

// [eE][-+][0-9]+ to the end, from `at`; or nothing left.
bool exponent_ends(std::string_view v, std::size_t at) {
    if (at == v.size()) return true;
    if (v[at] != 'e' && v[at] != 'E') return false;
    if (at + 1 == v.size() || (v[at + 1] != '-' && v[at + 1] != '+')) return false;
    const std::size_t digits = at + 2;
    return digits < v.size() && run(v, digits, is_digit) == v.size();
}

// [-+]?[0-9][0-9_]*\.[0-9_]*(exponent)? | \.[0-9][0-9_]*(exponent)? | [-+]?\.(inf|Inf|INF)
// (the sexagesimal and NaN forms are the general way's, found before this is asked)
bool is_float(std::string_view v) {
    std::size_t at = (v[0] == '-' || v[0] == '+') ? 1 : 0;
    const std::string_view rest = v.substr(at);
    if (rest == ".inf" || rest == ".Inf" || rest == ".INF") return true;
    if (at < v.size() && is_digit(v[at])) {
        at = run(v, at + 1, digit_or_underscore);
        if (at == v.size() || v[at] != '.') return false;
        return exponent_ends(v, run(v, at + 1, digit_or_underscore));
    }
    if (at != 0 || v.size() < 2 || v[0] != '.' || !is_digit(v[1])) return false;
    return exponent_ends(v, run(v, 2, digit_or_underscore));
}

// [-+]?0b[0-1_]+ | [-+]?0[0-7_]+ | [-+]?(0|[1-9][0-9_]*) | [-+]?0x[0-9a-fA-F_]+
bool is_int(std::string_view v) {
    const std::size_t at = (v[0] == '-' || v[0] == '+') ? 1 : 0;
    const std::string_view body = v.substr(at);
    if (body.empty() || !is_digit(body[0])) return false;
    if (body[0] != '0') return run(body, 1, digit_or_underscore) == body.size();
    if (body.size() == 1) return true;
    auto all_of = [&](std::size_t from, auto accepted) { return from < body.size() && run(body, from, accepted) == body.size(); };
    if (body[1] == 'b') return all_of(2, [](char c) { return c == '0' || c == '1' || c == '_'; });
    if (body[1] == 'x') {
        return all_of(2, [](char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '_'; });
    }
    return all_of(1, [](char c) { return (c >= '0' && c <= '7') || c == '_'; });
}

bool is_date(std::string_view v) {
    if (v.size() != 10 || v[4] != '-' || v[7] != '-') return false;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
        if (!is_digit(v[i])) return false;
    }
    return true;
}

// Digits, then a colon: what every sexagesimal int or float begins with ("10.0.0.1:80" does not)
bool may_be_sexagesimal(std::string_view v) {
    const std::size_t at = (v[0] == '-' || v[0] == '+') ? 1 : 0;
    if (at == v.size() || !is_digit(v[at])) return false;
    const std::size_t end = run(v, at + 1, digit_or_underscore);
    return end < v.size() && v[end] == ':';
}

Kind resolved(std::string_view v) {
    if (v.empty()) return Kind::Null;
    const char first = v[0];
    switch (first) {
        case 'y': case 'Y': case 't': case 'T': case 'f': case 'F': case 'o': case 'O':
            return is_bool(v) ? Kind::Bool : Kind::Str;
        case 'n': case 'N':
            if (is_bool(v)) return Kind::Bool;
            return is_null(v) ? Kind::Null : Kind::Str;
        case '~': return v.size() == 1 ? Kind::Null : Kind::Str;
        case '<': case '=': return (v == "<<" || v == "=") ? Kind::General : Kind::Str;  // a merge, a value key
        default: break;
    }
    if (!(is_digit(first) || first == '-' || first == '+' || first == '.')) return Kind::Str;
    // Sexagesimal numbers, NaN and timestamps are read the general way: whatever may be one is
    // sent there, and the general way decides.
    if (may_be_sexagesimal(v)) return Kind::General;
    if (v == ".nan" || v == ".NaN" || v == ".NAN") return Kind::General;
    if (is_date(v)) return Kind::Date;
    if (v.size() > 4 && v[4] == '-' && is_digit(v[0]) && is_digit(v[1]) && is_digit(v[2]) && is_digit(v[3])) {
        return Kind::General;
    }
    if (is_float(v)) return Kind::Float;
    if (is_int(v)) return Kind::Int;
    return Kind::Str;
}

// The text without its underscores, as the constructors read numbers.
std::string without_underscores(std::string_view v) {
    std::string digits;
    digits.reserve(v.size());
    for (char c : v) {
        if (c != '_') digits.push_back(c);
    }
    return digits;
}

// int() of `digits` in `base`, or the general way where int() would refuse (no digits, more
// digits than the interpreter converts).
Ref parsed_int(const std::string& digits, int base) {
    if (digits.empty()) throw GeneralWay{};
    char* end = nullptr;
    return made_or_general_way(PyLong_FromString(digits.c_str(), &end, base), PyExc_ValueError);
}

Ref int_of(std::string_view v) {
    std::string digits = without_underscores(v);
    const bool negative = digits[0] == '-';
    if (digits[0] == '-' || digits[0] == '+') digits.erase(0, 1);
    Ref number;
    if (digits == "0") {
        number = require(PyLong_FromLong(0));
    } else if (digits.starts_with("0b")) {
        number = parsed_int(digits.substr(2), 2);
    } else if (digits.starts_with("0x")) {
        number = parsed_int(digits.substr(2), 16);
    } else {
        number = parsed_int(digits, digits[0] == '0' ? 8 : 10);
    }
    return negative ? require(PyNumber_Negative(number.get())) : number;
}

Ref float_of(std::string_view v) {
    std::string digits = without_underscores(v);
    const double sign = digits[0] == '-' ? -1.0 : 1.0;
    if (digits[0] == '-' || digits[0] == '+') digits.erase(0, 1);
    if (digits.size() == 4 && digits[0] == '.' && (digits[1] == 'i' || digits[1] == 'I')) {
        return require(PyFloat_FromDouble(sign * Py_HUGE_VAL));
    }
    char* end = nullptr;
    const double value = PyOS_string_to_double(digits.c_str(), &end, nullptr);
    if (value == -1.0 && PyErr_Occurred()) capi::throw_error();
    if (end != digits.c_str() + digits.size()) throw GeneralWay{};
    return require(PyFloat_FromDouble(sign * value));
}

Ref date_of(std::string_view v) {
    auto number = [&](std::size_t at, std::size_t size) {
        int value = 0;
        for (std::size_t i = at; i < at + size; ++i) value = value * 10 + (v[i] - '0');
        return value;
    };
    // no such day (2001-02-30): the general way says so, with its place
    return date_made(number(0, 4), number(5, 2), number(8, 2));
}

Ref plain_scalar(const unsigned char* utf8, std::size_t size) {
    const std::string_view v(reinterpret_cast<const char*>(utf8), size);
    switch (resolved(v)) {
        case Kind::Str: return text_of(utf8, size);
        case Kind::Null: return Ref::borrow(Py_None);
        case Kind::Bool: return Ref::borrow(v[0] == 'y' || v[0] == 'Y' || v[0] == 't' || v[0] == 'T' ||
                                                    v == "on" || v == "On" || v == "ON" ? Py_True : Py_False);
        case Kind::Int: return int_of(v);
        case Kind::Float: return float_of(v);
        case Kind::Date: return date_of(v);
        case Kind::General: break;
    }
    throw GeneralWay{};
}

// -- the document --------------------------------------------------------------------------

class Reader {
public:
    // `expansion_limit`: the most values the document may hold with its aliases expanded
    Reader(Events& events, std::size_t expansion_limit, Mappings mappings)
        : events_(events), limit_(expansion_limit), mappings_(mappings) {}

    // The node that begins with `event` (read whole); `values` counts what it holds, itself
    // included, with the aliases in it expanded.
    Ref node(const yaml_event_t& event, std::size_t& values) {
        switch (event.type) {
            case YAML_SCALAR_EVENT: values = 1; return anchored(event.data.scalar.anchor, scalar(event), 1);
            case YAML_ALIAS_EVENT: return alias(event, values);
            case YAML_SEQUENCE_START_EVENT: {
                if (event.data.sequence_start.tag != nullptr) throw GeneralWay{};
                const std::string anchor = name_of(event.data.sequence_start.anchor);
                Ref list = sequence(values);
                return anchored(anchor, std::move(list), values);
            }
            case YAML_MAPPING_START_EVENT: {
                if (event.data.mapping_start.tag != nullptr) throw GeneralWay{};
                const std::string anchor = name_of(event.data.mapping_start.anchor);
                Ref dict = mapping(values);
                return anchored(anchor, std::move(dict), values);
            }
            default: throw GeneralWay{};
        }
    }

private:
    Ref mapping(std::size_t& values) {
        capi::RecursionGuard guard;
        if (mappings_ != Mappings::Dicts) return store(values);
        Ref dict = require(PyDict_New());
        members(values, [&](const Ref& key, const Ref& value) {
            // a key written twice is refused by the general way, naming it and its place
            if (require_status(PyDict_Contains(dict.get(), key.get())) == 1) throw GeneralWay{};
            require_status(PyDict_SetItem(dict.get(), key.get(), value.get()));
        });
        return dict;
    }

    // A mapping as the store the public class would build of its dict: its members put as
    // the JSON reader puts an object's. A key the store keeps for itself, or one written twice,
    // is the general way's to refuse.
    Ref store(std::size_t& values) {
        Ref made = new_fresh_store(mappings_ == Mappings::StrictStores);
        Ref dict = require(PyObject_GenericGetDict(made.get(), nullptr));
        members(values, [&](const Ref& key, const Ref& value) {
            if (put_member(dict.get(), key.get(), value.get(), PyList_CheckExact(value.get())) != Member::Taken) {
                throw GeneralWay{};
            }
        });
        return made;
    }

    // Reads a mapping's members up to its end, handing each key and value to put(); `values`
    // counts them as node() does.
    template <class Put>
    void members(std::size_t& values, Put&& put) {
        values = 1;
        for (;;) {
            const yaml_event_t& event = events_.next();
            if (event.type == YAML_MAPPING_END_EVENT) return;
            Ref key = this->key(event);
            std::size_t below = 0;
            Ref value = node(events_.next(), below);
            values = counted(values, below);
            put(key, value);
        }
    }

    Ref scalar(const yaml_event_t& event) {
        const auto& scalar = event.data.scalar;
        if (scalar.tag != nullptr) throw GeneralWay{};
        if (scalar.plain_implicit) return plain_scalar(scalar.value, scalar.length);
        return text_of(scalar.value, scalar.length);
    }

    Ref sequence(std::size_t& values) {
        capi::RecursionGuard guard;
        Ref list = require(PyList_New(0));
        values = 1;
        for (;;) {
            const yaml_event_t& event = events_.next();
            if (event.type == YAML_SEQUENCE_END_EVENT) return list;
            std::size_t below = 0;
            require_status(PyList_Append(list.get(), node(event, below).get()));
            values = counted(values, below);
        }
    }

    // A count of values grown by `more`: past the limit, aliases expand the document beyond
    // what it may hold, which the general way refuses with its message.
    std::size_t counted(std::size_t values, std::size_t more) const {
        if (more > limit_ || values > limit_ - more) throw GeneralWay{};
        return values + more;
    }

    // A mapping's key: a string, written as one or an alias of one.
    Ref key(const yaml_event_t& event) {
        Ref key;
        if (event.type == YAML_SCALAR_EVENT && event.data.scalar.tag == nullptr) {
            const auto& scalar = event.data.scalar;
            if (scalar.plain_implicit &&
                resolved(std::string_view(reinterpret_cast<const char*>(scalar.value), scalar.length)) != Kind::Str) {
                throw GeneralWay{};
            }
            key = anchored(scalar.anchor, text_of(scalar.value, scalar.length), 1);
        } else if (event.type == YAML_ALIAS_EVENT) {
            std::size_t values = 0;
            key = alias(event, values);
        }
        if (!key || !PyUnicode_CheckExact(key.get())) throw GeneralWay{};
        return key;
    }

    Ref alias(const yaml_event_t& event, std::size_t& values) {
        // an alias of a node not yet complete (one that holds itself) is the general way's;
        // so is any alias among stores, which the class builds anew for each place
        if (mappings_ != Mappings::Dicts) throw GeneralWay{};
        auto found = anchors_.find(reinterpret_cast<const char*>(event.data.alias.anchor));
        if (found == anchors_.end()) throw GeneralWay{};
        values = found->second.values;
        return found->second.made;
    }

    static std::string name_of(const unsigned char* anchor) {
        return anchor == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(anchor));
    }

    Ref anchored(const unsigned char* anchor, Ref made, std::size_t values) {
        return anchor == nullptr ? made : anchored(name_of(anchor), std::move(made), values);
    }

    Ref anchored(const std::string& anchor, Ref made, std::size_t values) {
        if (anchor.empty()) return made;
        if (!anchors_.emplace(anchor, Anchored{made, values}).second) throw GeneralWay{};  // named twice
        return made;
    }

    struct Anchored {
        Ref made;
        std::size_t values;
    };

    Events& events_;
    std::size_t limit_;
    Mappings mappings_;
    std::unordered_map<std::string, Anchored> anchors_;
};

Ref read(PyObject* text, std::size_t expansion_limit, Mappings mappings) {
    const std::optional<std::string_view> utf8 = utf8_of(text);
    if (!utf8) return Ref();
    capi::CollectorPaused paused;  // the document is a tree of new containers
    try {
        Events events(utf8->data(), utf8->size());
        if (events.next().type != YAML_STREAM_START_EVENT || events.next().type != YAML_DOCUMENT_START_EVENT) {
            return Ref();  // no document: the general way tells an empty one from a broken one
        }
        const yaml_event_t& top = events.next();
        if (top.type != YAML_MAPPING_START_EVENT) return Ref();  // the general way names what it is
        Reader reader(events, expansion_limit, mappings);
        std::size_t values = 0;
        Ref document = reader.node(top, values);
        // one document and nothing after it, as the loader asks
        if (events.next().type != YAML_DOCUMENT_END_EVENT || events.next().type != YAML_STREAM_END_EVENT) {
            return Ref();
        }
        return document;
    } catch (const GeneralWay&) {
        return Ref();
    }
}

std::string library() { return std::string("yaml: libyaml ") + yaml_get_version_string(); }

#else

Ref read(PyObject*, std::size_t, Mappings) { return Ref(); }

std::string library() { return std::string(); }

#endif

// The expansion limit argument, a count.
std::size_t limit_of(PyObject* limit) {
    const Py_ssize_t count = PyLong_AsSsize_t(limit);
    if (count < 0) {
        if (PyErr_Occurred()) capi::throw_error();
        capi::raise(PyExc_ValueError, "the expansion limit is not negative");
    }
    return static_cast<std::size_t>(count);
}

// yaml_document(text, expansion_limit, /): the plain data of the YAML document `text`, or None
// where the general way must read it (also where its aliases expand it to more than
// `expansion_limit` values).
PyObject* yaml_document(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return entry([&] {
        if (nargs != 2 || !PyUnicode_Check(args[0]) || !PyLong_Check(args[1])) {
            capi::raise(PyExc_TypeError, "yaml_document(text, expansion_limit, /) takes a str and an int");
        }
        Ref document = read(args[0], limit_of(args[1]), Mappings::Dicts);
        return document ? document.release() : Py_NewRef(Py_None);
    });
}

// yaml_store(text, strict, expansion_limit, /): the store the public class builds of the
// document's data, made as it is read; None where the general way must read or build it (an
// alias, a key the store keeps for itself, and all that yaml_document gives way on).
PyObject* yaml_store(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return entry([&] {
        if (nargs != 3 || !PyUnicode_Check(args[0]) || !PyLong_Check(args[2])) {
            capi::raise(PyExc_TypeError, "yaml_store(text, strict, expansion_limit, /) takes a str, a flag and an int");
        }
        const Mappings stores = capi::truth(args[1]) ? Mappings::StrictStores : Mappings::Stores;
        Ref document = read(args[0], limit_of(args[2]), stores);
        return document ? document.release() : Py_NewRef(Py_None);
    });
}

PyMethodDef yaml_functions[] = {
    {"yaml_document", as_cfunction(yaml_document), METH_FASTCALL,
     "yaml_document(text, expansion_limit, /)\n--\n\nThe plain data of a YAML document read natively, or None where "
     "the safe loader must read it."},
    {"yaml_store", as_cfunction(yaml_store), METH_FASTCALL,
     "yaml_store(text, strict, expansion_limit, /)\n--\n\nThe public class's store of a YAML document, "
     "read natively, or None where the general way must read or build it."},
};

}  // namespace

std::string yaml_reader_library() { return library(); }

bool ready_yaml_reader(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] {
        add_functions(module, yaml_functions);
        return true;
    });
}

}  // namespace store
