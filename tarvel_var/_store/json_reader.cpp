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
#include "json_reader.hpp"

#include <string_view>
#include <unordered_map>

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

// What the reader met that only the general way reads: the build stops, and answers None.
struct GeneralWay {};

class Reader {
public:
    explicit Reader(bool strict) : strict_(strict) {}

    Ref value(dom::element element) {
        switch (element.type()) {
            case dom::element_type::OBJECT: return object(dom::object(element));
            case dom::element_type::ARRAY: return array(dom::array(element));
            case dom::element_type::STRING: return text(std::string_view(element));
            case dom::element_type::INT64: return require(PyLong_FromLongLong(int64_t(element)));
            case dom::element_type::UINT64: return require(PyLong_FromUnsignedLongLong(uint64_t(element)));
            case dom::element_type::DOUBLE: return require(PyFloat_FromDouble(double(element)));
            case dom::element_type::BOOL: return Ref::borrow(bool(element) ? Py_True : Py_False);
            case dom::element_type::NULL_VALUE: return Ref::borrow(Py_None);
        }
        throw GeneralWay{};
    }

    Ref object(dom::object members) {
        capi::RecursionGuard guard;
        Ref store = new_fresh_store(strict_);
        Ref dict = require(PyObject_GenericGetDict(store.get(), nullptr));
        for (dom::key_value_pair member : members) {
            Ref item = value(member.value);
            PyObject* key = key_for(member.key, PyList_CheckExact(item.get()));
            if (put_member(dict.get(), key, item.get()) != Member::Taken) throw GeneralWay{};
        }
        return store;
    }

private:
    // A document repeats its keys: each is made once, as json.loads makes it once, and the
    // interned name a store holds for it once too (a list is held under the key as it is named,
    // as put_member holds it). The views point into the parser's buffer, which outlives them.
    struct Keys {
        Ref named;
        Ref interned;
    };

    PyObject* key_for(std::string_view utf8, bool holds_list) {
        Keys& keys = keys_[utf8];
        if (!keys.named) keys.named = text(utf8);
        if (holds_list) return keys.named.get();
        if (!keys.interned) keys.interned = capi::intern_attribute_name(keys.named.get());
        return keys.interned.get();
    }

    Ref array(dom::array items) {
        capi::RecursionGuard guard;
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

    static Ref text(std::string_view utf8) {
        // simdjson has checked the UTF-8; a lone surrogate it let through as bytes no UTF-8
        // decoder takes is the general way's to read
        PyObject* decoded = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), nullptr);
        if (decoded == nullptr) {
            if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) capi::throw_error();
            PyErr_Clear();
            throw GeneralWay{};
        }
        return Ref::steal(decoded);
    }

    bool strict_;
    std::unordered_map<std::string_view, Keys> keys_;
};

// One parser, reused: its buffers grow to the largest document read. Only the thread that holds
// the interpreter's lock uses it, and no Python code runs while it does.
dom::parser& shared_parser() {
    static dom::parser parser;
    return parser;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

Ref read(PyObject* text, bool strict) {
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
        utf8 = PyUnicode_AsUTF8AndSize(text, &size);
        if (utf8 == nullptr) {  // lone surrogates: no UTF-8 holds them
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) capi::throw_error();
            PyErr_Clear();
            return Ref();
        }
        // json.loads refuses a byte order mark in text, which simdjson would skip
        if (std::string_view(utf8, static_cast<std::size_t>(size)).starts_with(kByteOrderMark)) return Ref();
    }
    dom::element root;
    if (shared_parser().parse(utf8, static_cast<std::size_t>(size)).get(root) != simdjson::SUCCESS ||
        root.type() != dom::element_type::OBJECT) {
        return Ref();
    }
    try {
        return Reader(strict).object(dom::object(root));
    } catch (const GeneralWay&) {
        return Ref();
    } catch (const simdjson::simdjson_error&) {  // an element not of the type it reported
        return Ref();
    }
}

#define TARVEL_TEXT_OF(x) #x
#define TARVEL_VERSION_TEXT(x) TARVEL_TEXT_OF(x)
constexpr const char* kReaders = "json: simdjson " TARVEL_VERSION_TEXT(SIMDJSON_VERSION);

#else

Ref read(PyObject*, bool) { return Ref(); }

constexpr const char* kReaders = "";

#endif

// json_document(text, strict, /): the store of the JSON document `text` (a str, or a file's
// bytes), or None where the general way must read it.
PyObject* json_document(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return entry([&] {
        if (nargs != 2 || !(PyUnicode_Check(args[0]) || PyBytes_Check(args[0]))) {
            raise(PyExc_TypeError, "json_document(text, strict, /) takes a str or bytes and a flag");
        }
        Ref store = read(args[0], capi::truth(args[1]));
        return store ? store.release() : Py_NewRef(Py_None);
    });
}

// native_readers(): the formats read natively, as "format: library version" texts.
PyObject* native_readers(PyObject*, PyObject*) {
    return entry([&] {
        Ref readers = require(PyTuple_New(*kReaders ? 1 : 0));
        if (*kReaders) PyTuple_SET_ITEM(readers.get(), 0, require(PyUnicode_FromString(kReaders)).release());
        return readers.release();
    });
}

PyMethodDef reader_functions[] = {
    {"json_document", as_cfunction(json_document), METH_FASTCALL,
     "json_document(text, strict, /)\n--\n\nThe store of a JSON document read natively, or None "
     "where json.loads must read it."},
    {"native_readers", as_cfunction(native_readers), METH_NOARGS,
     "native_readers()\n--\n\nThe formats this build reads natively, as 'format: library version'."},
};

}  // namespace

bool ready_json_reader(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] {
        for (PyMethodDef& def : reader_functions) {
            Ref function = require(PyCFunction_NewEx(&def, nullptr, nullptr));
            require_status(PyModule_AddObjectRef(module, def.ml_name, function.get()));
        }
        return true;
    });
}

}  // namespace store
