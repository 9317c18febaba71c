// JSON documents read straight into stores by simdjson, where the build found it.
//
// json_document(text, strict) parses the text natively and builds its stores as the parser hooks
// of json_objects.cpp build them from json.loads: every object a store set up as the store
// factory sets one up, arrays new lists, names interned where the merge interns them. It answers
// None wherever the text is not a document it reads exactly as json.loads does (NaN and Infinity,
// integers beyond 64 bits, numbers beyond a double's range, lone surrogates, a byte order mark,
// nesting deeper than simdjson takes, any error) and wherever the store must have its say (a key
// written twice, a key the store keeps for itself, a top level that is no object): the general
// way then reads it, with its errors and their places.
#include "readers.hpp"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "build.hpp"
#include "capi/recursion.hpp"
#include "json_objects.hpp"
#include "methods.hpp"
#include "store_access.hpp"

#ifdef TARVEL_HAVE_SIMDJSON
#include <simdjson.h>
#endif

namespace store {
namespace {

#ifdef TARVEL_HAVE_SIMDJSON

namespace dom = simdjson::dom;

// A document repeats its keys: each is made once, as json.loads makes it once, and the
// interned name a store holds for it once too. The views point into the parser's buffer, which
// outlives the readers.
class DocumentKeys {
public:
    PyObject* named(std::string_view utf8) { return made(utf8).named.get(); }

    PyObject* interned(std::string_view utf8) {
        Keys& keys = made(utf8);
        if (!keys.interned) keys.interned = capi::intern_attribute_name(keys.named.get());
        return keys.interned.get();
    }

private:
    struct Keys {
        Ref named;
        Ref interned;
    };

    Keys& made(std::string_view utf8) {
        Keys& keys = keys_[utf8];
        if (!keys.named) keys.named = decoded(utf8);
        return keys;
    }

    std::unordered_map<std::string_view, Keys> keys_;
};

// A value that is neither an object nor an array, as json.loads makes it.
Ref leaf(dom::element element) {
    switch (element.type()) {
        case dom::element_type::STRING: return decoded(std::string_view(element));
        case dom::element_type::INT64: return require(PyLong_FromLongLong(int64_t(element)));
        case dom::element_type::UINT64: return require(PyLong_FromUnsignedLongLong(uint64_t(element)));
        case dom::element_type::DOUBLE: return require(PyFloat_FromDouble(double(element)));
        case dom::element_type::BOOL: return Ref::borrow(bool(element) ? Py_True : Py_False);
        case dom::element_type::NULL_VALUE: return Ref::borrow(Py_None);
        default: throw GeneralWay{};
    }
}

class Reader {
public:
    // `frozen`: the frozen variant of the public class, for a document read frozen (its arrays
    // tuples, as freezing leaves them); nullptr otherwise
    Reader(bool strict, PyTypeObject* frozen) : strict_(strict), frozen_(frozen) {}

    Ref value(dom::element element) {
        switch (element.type()) {
            case dom::element_type::OBJECT: return object(dom::object(element));
            case dom::element_type::ARRAY: return array(dom::array(element));
            default: return leaf(element);
        }
    }

    Ref object(dom::object members) {
        capi::RecursionGuard guard;
        Ref store = new_fresh_store(strict_, frozen_);
        Ref dict = require(PyObject_GenericGetDict(store.get(), nullptr));
        for (dom::key_value_pair member : members) {
            Ref item = value(member.value);
            const bool holds_array = member.value.type() == dom::element_type::ARRAY;
            // a list is held under the key as it is named, as put_member holds it
            PyObject* key = holds_array ? keys_.named(member.key) : keys_.interned(member.key);
            if (put_member(dict.get(), key, item.get(), holds_array) != Member::Taken) throw GeneralWay{};
        }
        return store;
    }

private:
    Ref array(dom::array items) {
        capi::RecursionGuard guard;
        // size() saturates at 0xFFFFFF: a longer array is counted as it is read
        const std::size_t size = items.size();
        if (size >= 0xFFFFFF) {
            Ref list = require(PyList_New(0));
            for (dom::element item : items) require_status(PyList_Append(list.get(), value(item).get()));
            return frozen_ ? require(PyList_AsTuple(list.get())) : list;
        }
        Ref sequence = require(frozen_ ? PyTuple_New(static_cast<Py_ssize_t>(size))
                                       : PyList_New(static_cast<Py_ssize_t>(size)));
        Py_ssize_t index = 0;
        for (dom::element item : items) {
            PyObject* made = value(item).release();
            if (frozen_) {
                PyTuple_SET_ITEM(sequence.get(), index++, made);
            } else {
                PyList_SET_ITEM(sequence.get(), index++, made);
            }
        }
        return sequence;
    }

    bool strict_;
    PyTypeObject* frozen_;
    DocumentKeys keys_;
};

// One parser, reused: its buffers grow to the largest document read. Only the thread that holds
// the interpreter's lock uses it, and no Python code runs while it does.
dom::parser& shared_parser() {
    static dom::parser parser;
    return parser;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The plain data (dicts, lists) of a document's parts, for the command line: json_pruned.
class PlainReader {
public:
    Ref value(dom::element element) {
        switch (element.type()) {
            case dom::element_type::OBJECT: {
                capi::RecursionGuard guard;
                Ref dict = require(PyDict_New());
                for (dom::key_value_pair member : dom::object(element)) {
                    Ref item = value(member.value);
                    require_status(PyDict_SetItem(dict.get(), keys_.named(member.key), item.get()));
                }
                return dict;
            }
            case dom::element_type::ARRAY: {
                capi::RecursionGuard guard;
                dom::array items(element);
                // size() saturates at 0xFFFFFF: a longer array is counted as it is read
                const std::size_t size = items.size();
                if (size >= 0xFFFFFF) {
                    Ref list = require(PyList_New(0));
                    for (dom::element item : items) require_status(PyList_Append(list.get(), value(item).get()));
                    return list;
                }
                Ref list = require(PyList_New(static_cast<Py_ssize_t>(size)));
                Py_ssize_t index = 0;
                for (dom::element item : items) PyList_SET_ITEM(list.get(), index++, value(item).release());
                return list;
            }
            default: return leaf(element);
        }
    }

    // `element` with only what the paths below it reach: sections hold only the keys named,
    // lists keep their length (None elsewhere), and what a path ends on is whole.
    Ref pruned(dom::element element, PyObject* paths, Py_ssize_t depth) {
        bool whole = false;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(paths); ++i) {
            if (PyTuple_GET_SIZE(PyList_GET_ITEM(paths, i)) == depth) whole = true;
        }
        if (whole) return value(element);
        capi::RecursionGuard guard;
        if (element.type() == dom::element_type::OBJECT) {
            Ref dict = require(PyDict_New());
            dom::object members(element);
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(paths); ++i) {
                PyObject* step = PyTuple_GET_ITEM(PyList_GET_ITEM(paths, i), depth);
                if (require_status(PyDict_Contains(dict.get(), step)) == 1) continue;
                Py_ssize_t size = 0;
                const char* utf8 = PyUnicode_AsUTF8AndSize(step, &size);
                if (utf8 == nullptr) throw GeneralWay{};  // a step no JSON key can equal
                dom::element below;
                if (members.at_key(std::string_view(utf8, static_cast<std::size_t>(size))).get(below) != simdjson::SUCCESS) {
                    continue;
                }
                Ref part = pruned(below, following(paths, depth, step).get(), depth + 1);
                require_status(PyDict_SetItem(dict.get(), step, part.get()));
            }
            return dict;
        }
        if (element.type() == dom::element_type::ARRAY) {
            dom::array items(element);
            const std::size_t size = items.size();
            if (size >= 0xFFFFFF) throw GeneralWay{};
            Ref list = require(PyList_New(static_cast<Py_ssize_t>(size)));
            for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(size); ++i) PyList_SET_ITEM(list.get(), i, Py_NewRef(Py_None));
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(paths); ++i) {
                PyObject* step = PyTuple_GET_ITEM(PyList_GET_ITEM(paths, i), depth);
                const std::optional<Py_ssize_t> index = index_in(step, static_cast<Py_ssize_t>(size));
                if (!index) continue;
                dom::element below;
                if (items.at(static_cast<std::size_t>(*index)).get(below) != simdjson::SUCCESS) throw GeneralWay{};
                Ref part = pruned(below, following(paths, depth, step).get(), depth + 1);
                require_status(PyList_SetItem(list.get(), *index, part.release()));
            }
            return list;
        }
        return leaf(element);
    }

private:
    // The paths that go on from `depth` through `step`.
    static Ref following(PyObject* paths, Py_ssize_t depth, PyObject* step) {
        Ref found = require(PyList_New(0));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(paths); ++i) {
            PyObject* path = PyList_GET_ITEM(paths, i);
            if (PyTuple_GET_SIZE(path) > depth &&
                require_status(PyObject_RichCompareBool(PyTuple_GET_ITEM(path, depth), step, Py_EQ)) == 1) {
                require_status(PyList_Append(found.get(), path));
            }
        }
        return found;
    }

    // The list index a step names (ASCII digits, perhaps after a minus sign, counted from
    // the end when negative), as the paths read it; nothing when it names no item.
    static std::optional<Py_ssize_t> index_in(PyObject* step, Py_ssize_t size) {
        Py_ssize_t length = 0;
        const char* text = PyUnicode_AsUTF8AndSize(step, &length);
        if (text == nullptr) throw GeneralWay{};
        std::string_view digits(text, static_cast<std::size_t>(length));
        const bool negative = digits.starts_with('-');
        if (negative) digits.remove_prefix(1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
        Py_ssize_t index = 0;
        for (char digit : digits) {
            if (index > size) return std::nullopt;  // past any item, however long the digits
            index = index * 10 + (digit - '0');
        }
        if (negative) index = -index;
        if (index < -size || index >= size) return std::nullopt;
        return index < 0 ? index + size : index;
    }

    DocumentKeys keys_;
};

// Whether some object in `element` names a key twice (json.loads' check, made on the tree) or a
// key that begins with "_" (which a store may keep for itself: the store must have its say).
bool needs_the_store(dom::element element) {
    if (element.type() == dom::element_type::ARRAY) {
        for (dom::element item : dom::array(element)) {
            if (needs_the_store(item)) return true;
        }
    } else if (element.type() == dom::element_type::OBJECT) {
        dom::object members(element);
        std::vector<std::string_view> keys;
        for (dom::key_value_pair member : members) {
            if (member.key.starts_with('_')) return true;
            keys.push_back(member.key);
            if (needs_the_store(member.value)) return true;
        }
        std::sort(keys.begin(), keys.end());
        if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return true;
    }
    return false;
}

Ref read(PyObject* text, bool strict, PyTypeObject* frozen) {
    Py_ssize_t size = 0;
    const char* utf8 = nullptr;
    if (PyBytes_Check(text)) {
        // a file's bytes, which simdjson checks as UTF-8; the byte order mark a file may begin
        // with is dropped, as decoding the file drops it
        utf8 = PyBytes_AS_STRING(text);
        size = PyBytes_GET_SIZE(text);
        if (std::string_view(utf8, static_cast<std::size_t>(size)).starts_with(kByteOrderMark)) {
            utf8 += 3;
            size -= 3;
        }
    } else {
        const std::optional<std::string_view> encoded = utf8_of(text);
        if (!encoded) return Ref();
        utf8 = encoded->data();
        size = static_cast<Py_ssize_t>(encoded->size());
        // json.loads refuses a byte order mark in text, which simdjson would skip
        if (std::string_view(utf8, static_cast<std::size_t>(size)).starts_with(kByteOrderMark)) return Ref();
    }
    dom::element root;
    if (shared_parser().parse(utf8, static_cast<std::size_t>(size)).get(root) != simdjson::SUCCESS ||
        root.type() != dom::element_type::OBJECT) {
        return Ref();
    }
    try {
        return Reader(strict, frozen).object(dom::object(root));
    } catch (const GeneralWay&) {
        return Ref();
    } catch (const simdjson::simdjson_error&) {  // an element not of the type it reported
        return Ref();
    }
}

#define TARVEL_TEXT_OF(x) #x
#define TARVEL_VERSION_TEXT(x) TARVEL_TEXT_OF(x)
constexpr const char* kLibrary = "json: simdjson " TARVEL_VERSION_TEXT(SIMDJSON_VERSION);

// The pruned plain data of a file's JSON bytes for `paths` (a list of tuples of steps), or an
// empty Ref where json.loads must read it.
Ref pruned(PyObject* data, PyObject* paths) {
    std::string_view utf8(PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
    if (utf8.starts_with(kByteOrderMark)) utf8.remove_prefix(3);
    dom::element root;
    // a document must be an object: of any other the general way says so
    if (shared_parser().parse(utf8.data(), utf8.size()).get(root) != simdjson::SUCCESS ||
        root.type() != dom::element_type::OBJECT || needs_the_store(root)) {
        return Ref();
    }
    try {
        return PlainReader().pruned(root, paths, 0);
    } catch (const GeneralWay&) {
        return Ref();
    } catch (const simdjson::simdjson_error&) {
        return Ref();
    }
}

#else

Ref read(PyObject*, bool, PyTypeObject*) { return Ref(); }
Ref pruned(PyObject*, PyObject*) { return Ref(); }

constexpr const char* kLibrary = "";

#endif

// json_document(text, strict, frozen_class=None, /): the store of the JSON document `text` (a
// str, or a file's bytes), or None where the general way must read it; read frozen, as freeze()
// leaves a store, with the frozen variant of the public class.
PyObject* json_document(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return entry([&] {
        if (nargs < 2 || nargs > 3 || !(PyUnicode_Check(args[0]) || PyBytes_Check(args[0])) ||
            (nargs == 3 && args[2] != Py_None &&
             !(PyType_Check(args[2]) && PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(args[2]),
                                                         reinterpret_cast<PyTypeObject*>(state.public_cls.get()))))) {
            raise(PyExc_TypeError, "json_document(text, strict, frozen_class=None, /) takes a str or bytes, "
                                   "a flag and a variant of the public class");
        }
        PyTypeObject* frozen = nargs == 3 && args[2] != Py_None ? reinterpret_cast<PyTypeObject*>(args[2]) : nullptr;
        Ref store = read(args[0], capi::truth(args[1]), frozen);
        return store ? store.release() : Py_NewRef(Py_None);
    });
}

// json_pruned(data, paths, /): a file's JSON document as plain data holding only what the
// paths reach (see PlainReader::pruned), or None where json.loads must read it or a store
// must be built of it (a key beginning with "_").
PyObject* json_pruned(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return entry([&] {
        if (nargs != 2 || !PyBytes_Check(args[0]) || !PyList_CheckExact(args[1])) {
            raise(PyExc_TypeError, "json_pruned(data, paths, /) takes bytes and a list of tuples of str");
        }
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(args[1]); ++i) {
            PyObject* path = PyList_GET_ITEM(args[1], i);
            if (!PyTuple_CheckExact(path)) raise(PyExc_TypeError, "a path is a tuple of str steps");
            for (Py_ssize_t j = 0; j < PyTuple_GET_SIZE(path); ++j) {
                if (!PyUnicode_CheckExact(PyTuple_GET_ITEM(path, j))) raise(PyExc_TypeError, "a step is a str");
            }
        }
        Ref document = pruned(args[0], args[1]);
        return document ? document.release() : Py_NewRef(Py_None);
    });
}

PyMethodDef reader_functions[] = {
    {"json_document", as_cfunction(json_document), METH_FASTCALL,
     "json_document(text, strict, frozen_class=None, /)\n--\n\nThe store of a JSON document read "
     "natively (frozen, as a store of frozen_class), or None where json.loads must read it."},
    {"json_pruned", as_cfunction(json_pruned), METH_FASTCALL,
     "json_pruned(data, paths, /)\n--\n\nA file's JSON document as plain data holding only what "
     "the paths (tuples of steps) reach, or None where json.loads must read it."},
};

}  // namespace

std::string json_reader_library() { return kLibrary; }

bool ready_json_reader(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] {
        add_functions(module, reader_functions);
        return true;
    });
}

}  // namespace store
