// Plain data written as JSON text natively, exactly as json.dumps(value, ensure_ascii=False,
// indent=..., sort_keys=..., allow_nan=...) writes it.
//
// The command line prints whole documents this way. Only what json.dumps writes without help is
// written here (dicts with str keys, lists, tuples, str, int, float, bool, None); for anything
// else (another type, a key of another type, a lone surrogate, NaN where it is refused, nesting
// the guard stops) json_text answers None and the general way writes it, with its own errors.
#include "json_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "capi/recursion.hpp"
#include "methods.hpp"
#include "store_access.hpp"

namespace store {
namespace {

// What only the general way writes: the writing stops, and answers None.
struct GeneralWay {};

class Writer {
public:
    Writer(Py_ssize_t indent, bool sort, bool allow_nan) : indent_(indent), sort_(sort), allow_nan_(allow_nan) {}

    void value(PyObject* item, Py_ssize_t depth) {
        if (item == Py_None) {
            out_ += "null";
        } else if (item == Py_True) {
            out_ += "true";
        } else if (item == Py_False) {
            out_ += "false";
        } else if (PyUnicode_CheckExact(item)) {
            text(item);
        } else if (PyLong_CheckExact(item)) {
            integer(item);
        } else if (PyFloat_CheckExact(item)) {
            number(PyFloat_AS_DOUBLE(item));
        } else if (PyDict_CheckExact(item)) {
            object(item, depth);
        } else if (PyList_CheckExact(item) || PyTuple_CheckExact(item)) {
            array(item, depth);
        } else {
            throw GeneralWay{};
        }
    }

    const std::string& written() const noexcept { return out_; }

private:
    void object(PyObject* dict, Py_ssize_t depth) {
        if (PyDict_GET_SIZE(dict) == 0) {
            out_ += "{}";
            return;
        }
        capi::RecursionGuard guard;
        std::vector<std::pair<PyObject*, PyObject*>> members;  // borrowed: nothing here runs Python code
        members.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* item = nullptr;
        while (PyDict_Next(dict, &position, &key, &item)) {
            if (!PyUnicode_CheckExact(key)) throw GeneralWay{};  // json.dumps turns some into text
            members.emplace_back(key, item);
        }
        if (sort_) {
            std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
                return PyUnicode_Compare(a.first, b.first) < 0;
            });
        }
        out_ += '{';
        bool first = true;
        for (const auto& [name, member] : members) {
            separator(first, depth + 1);
            text(name);
            out_ += ": ";
            value(member, depth + 1);
        }
        close(depth, '}');
    }

    void array(PyObject* sequence, Py_ssize_t depth) {
        const bool is_list = PyList_CheckExact(sequence);
        const Py_ssize_t size = is_list ? PyList_GET_SIZE(sequence) : PyTuple_GET_SIZE(sequence);
        if (size == 0) {
            out_ += "[]";
            return;
        }
        capi::RecursionGuard guard;
        out_ += '[';
        bool first = true;
        for (Py_ssize_t i = 0; i < size; ++i) {
            separator(first, depth + 1);
            value(is_list ? PyList_GET_ITEM(sequence, i) : PyTuple_GET_ITEM(sequence, i), depth + 1);
        }
        close(depth, ']');
    }

    // What comes before an item: ", " on one line; a new line and the indentation otherwise.
    void separator(bool& first, Py_ssize_t depth) {
        if (indent_ < 0) {
            if (!first) out_ += ", ";
        } else {
            if (!first) out_ += ',';
            new_line(depth);
        }
        first = false;
    }

    void close(Py_ssize_t depth, char bracket) {
        if (indent_ >= 0) new_line(depth);
        out_ += bracket;
    }

    void new_line(Py_ssize_t depth) {
        out_ += '\n';
        out_.append(static_cast<std::size_t>(indent_ * depth), ' ');
    }

    void integer(PyObject* number) {
        int overflow = 0;
        const long long small = PyLong_AsLongLongAndOverflow(number, &overflow);
        if (overflow == 0) {
            if (small == -1 && PyErr_Occurred()) capi::throw_error();
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, small).ptr;
            out_.append(digits, static_cast<std::size_t>(end - digits));
            return;
        }
        Ref decimal = require(PyObject_Str(number));
        append_utf8(decimal.get());
    }

    void number(double value) {
        if (!std::isfinite(value)) {
            if (!allow_nan_) throw GeneralWay{};  // refused there, naming the place
            out_ += std::isnan(value) ? "NaN" : value > 0 ? "Infinity" : "-Infinity";
            return;
        }
        // float.__repr__, which json.dumps writes
        char* repr = PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
        if (repr == nullptr) capi::throw_error();
        out_ += repr;
        PyMem_Free(repr);
    }

    void text(PyObject* string) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(string, &size);
        if (utf8 == nullptr) {  // a lone surrogate, which the general way escapes
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) capi::throw_error();
            PyErr_Clear();
            throw GeneralWay{};
        }
        out_ += '"';
        // the bytes that need no escape, appended a run at a time: most strings are one run
        const char* run = utf8;
        const char* const end = utf8 + size;
        for (const char* at = utf8; at < end; ++at) {
            const auto byte = static_cast<unsigned char>(*at);
            if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
            out_.append(run, static_cast<std::size_t>(at - run));
            escape(byte);
            run = at + 1;
        }
        out_.append(run, static_cast<std::size_t>(end - run));
        out_ += '"';
    }

    void escape(unsigned char byte) {
        static constexpr char kHex[] = "0123456789abcdef";
        switch (byte) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '\t': out_ += "\\t"; break;
            case '\b': out_ += "\\b"; break;
            case '\f': out_ += "\\f"; break;
            default:
                out_ += "\\u00";
                out_ += kHex[byte >> 4];
                out_ += kHex[byte & 0xF];
        }
    }

    void append_utf8(PyObject* string) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(string, &size);
        if (utf8 == nullptr) capi::throw_error();
        out_.append(utf8, static_cast<std::size_t>(size));
    }

    Py_ssize_t indent_;  // -1: one line
    bool sort_;
    bool allow_nan_;
    std::string out_;
};

// json_text(value, indent, sort, allow_nan, /): `value` as json.dumps writes it (indent None or
// a number of spaces), or None where the general way must write it.
PyObject* json_text(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return entry([&]() -> PyObject* {
        if (nargs != 4) raise(PyExc_TypeError, "json_text(value, indent, sort, allow_nan, /) takes 4 arguments");
        Py_ssize_t indent = -1;
        if (args[1] != Py_None) {
            if (!PyLong_CheckExact(args[1])) return Py_NewRef(Py_None);
            indent = PyLong_AsSsize_t(args[1]);
            if (indent < 0) {
                if (PyErr_Occurred()) capi::throw_error();
                indent = 0;  // json.dumps indents by no spaces for a negative number
            }
        }
        Writer writer(indent, capi::truth(args[2]), capi::truth(args[3]));
        try {
            writer.value(args[0], 0);
        } catch (const GeneralWay&) {
            return Py_NewRef(Py_None);
        } catch (const capi::PyErrorSet&) {
            // nesting the guard stopped: the general way says so in its own words
            if (!PyErr_ExceptionMatches(PyExc_RecursionError)) throw;
            PyErr_Clear();
            return Py_NewRef(Py_None);
        }
        const std::string& text = writer.written();
        return require(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr)).release();
    });
}

PyMethodDef writer_functions[] = {
    {"json_text", as_cfunction(json_text), METH_FASTCALL,
     "json_text(value, indent, sort, allow_nan, /)\n--\n\nPlain data as json.dumps(ensure_ascii=False) "
     "writes it, or None where json.dumps must write it."},
};

}  // namespace

bool ready_json_writer(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] {
        add_functions(module, writer_functions);
        return true;
    });
}

}  // namespace store
