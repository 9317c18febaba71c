// Text renderings: _mv_to_params, _mv_to_string, __repr__.
#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/toolkit.hpp"
#include "frame/function.hpp"
#include "frame/impls.hpp"
#include "frame/type_facts.hpp"
#include "store/selection.hpp"

namespace var_main {
namespace {

// The literals of one rendering: each piece is `before` name `between` value `after`, pieces
// are separated by `separator`, and the whole is wrapped in `open` ... `close`.
struct Layout {
    std::string_view before;
    std::string_view between;
    std::string_view after;
    std::string_view separator;
    std::string_view open;
    std::string_view close;
};

constexpr Layout kParams{"", "=", "", "&", "", ""};
constexpr Layout kString{"\"", "\": \"", "\"", ", ", "", ""};
constexpr Layout kRepr{"", "=", "", ", ", "TarvelVar(", ")"};

// The pieces of a rendering: converted parts, and the layout's literals (one character or a
// run of ASCII).
class TextWriter {
public:
    explicit TextWriter(Py_ssize_t expected_length) : writer_(expected_length) {}

    void write(PyObject* text) { writer_.write(text); }
    void write(std::string_view ascii) {
        if (ascii.size() == 1) {
            writer_.write_char(static_cast<unsigned char>(ascii[0]));
        } else if (!ascii.empty()) {
            writer_.write_ascii(ascii.data(), static_cast<Py_ssize_t>(ascii.size()));
        }
    }
    Ref finish() { return writer_.finish(); }

private:
    UnicodeWriter writer_;
};

// repr() of these runs no Python code, so it cannot change the store or its class. An int is
// not one of them: converting it to decimal checks for signals as it goes, and that check
// also runs a garbage collection that is due, with its callbacks and finalisers, or a
// signal handler; any of them may replace `_skip`.
bool repr_runs_no_code(PyObject* value) {
    PyTypeObject* type = Py_TYPE(value);
    return type == &PyUnicode_Type || type == &PyFloat_Type || type == &PyBool_Type ||
           value == Py_None;
}

// repr(value). A nested store whose class uses our __repr__ is rendered by its body directly,
// as the interpreter's call would end up doing.
Ref repr_of(PyObject* value) {
    PyTypeObject* type = Py_TYPE(value);
    if (type->tp_repr == runtime.cls_repr && type_facts(type).owns(Method::ReprHook)) {
        const std::array<PyObject*, kMaxParams> bound{value, nullptr, nullptr, nullptr};
        return invoke(Method::ReprHook, bound);
    }
    return require(PyObject_Repr(value));
}

// One piece per variable, from str(name) and repr(value), for each (name, value) pair that
// walk(visit) visits, in that order.
template <class Walk>
Ref render(PyObject* self, const Layout& layout, Py_ssize_t entries, Walk&& walk) {
    TextWriter text(16 * entries + 16);
    text.write(layout.open);
    Selection selection(self);
    bool first = true;
    walk([&](PyObject* name, PyObject* value) {
        if (!selection.is_variable(name)) return;
        Ref name_part = require(PyObject_Str(name));
        Ref value_part = repr_of(value);
        if (!first) text.write(layout.separator);
        first = false;
        text.write(layout.before);
        text.write(name_part.get());
        text.write(layout.between);
        text.write(value_part.get());
        text.write(layout.after);
        if (!PyUnicode_CheckExact(name) || !repr_runs_no_code(value)) selection.code_may_have_run();
    });
    text.write(layout.close);
    return text.finish();
}

Ref render_instance_dict(PyObject* self, const Layout& layout) {
    Ref dict = instance_dict(self);
    const Py_ssize_t entries = PyDict_Check(dict.get()) ? PyDict_GET_SIZE(dict.get()) : 0;
    return render(self, layout, entries, [&](auto&& visit) { walk_pairs(dict.get(), visit); });
}

// Code-point order of two str objects, as PyUnicode_Compare gives it; one-byte strings, the
// common case, are compared here without a call.
bool text_less(PyObject* a, PyObject* b) {
    if (PyUnicode_KIND(a) == PyUnicode_1BYTE_KIND && PyUnicode_KIND(b) == PyUnicode_1BYTE_KIND) {
        const Py_ssize_t length_a = PyUnicode_GET_LENGTH(a), length_b = PyUnicode_GET_LENGTH(b);
        const Py_UCS1* text_a = PyUnicode_1BYTE_DATA(a);
        const Py_UCS1* text_b = PyUnicode_1BYTE_DATA(b);
        for (Py_ssize_t i = 0, common = std::min(length_a, length_b); i < common; ++i) {
            if (text_a[i] != text_b[i]) return text_a[i] < text_b[i];
        }
        return length_a < length_b;
    }
    return PyUnicode_Compare(a, b) < 0;
}

// The (name, value) pairs of a dict whose keys are all exact str, ordered by name. Sorting
// (name, value) pairs compares distinct names only, by code point, and so does this; neither
// runs code. A dict made from the sorted pairs would hold the same pairs in the same order.
std::vector<std::pair<Ref, Ref>> sorted_text_pairs(PyObject* dict) {
    std::vector<std::pair<Ref, Ref>> pairs;
    pairs.reserve(static_cast<size_t>(PyDict_GET_SIZE(dict)));
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &key, &value)) pairs.emplace_back(Ref::borrow(key), Ref::borrow(value));
    std::sort(pairs.begin(), pairs.end(),
              [](const auto& a, const auto& b) { return text_less(a.first.get(), b.first.get()); });
    return pairs;
}

}  // namespace

namespace impl {

Ref mv_to_params(Args args) {
    const auto [self] = arguments<1>(args);
    return render_instance_dict(self, kParams);
}

Ref mv_to_string(Args args) {
    const auto [self] = arguments<1>(args);
    return render_instance_dict(self, kString);
}

// Ordered by name over a snapshot, so a value's repr() that changes the store cannot
// disturb the walk.
Ref repr_hook(Args args) {
    const auto [self] = arguments<1>(args);
    Ref dict = instance_dict(self);
    if (PyDict_CheckExact(dict.get()) && has_only_exact_str_keys(dict.get())) {
        const auto pairs = sorted_text_pairs(dict.get());
        return render(self, kRepr, static_cast<Py_ssize_t>(pairs.size()), [&](auto&& visit) {
            for (const auto& [name, value] : pairs) visit(name.get(), value.get());
        });
    }
    Ref pairs;
    if (PyDict_CheckExact(dict.get())) {
        pairs = require(PyDict_Items(dict.get()));  // what its items() gives, as a list
    } else {
        Ref view = call_method(dict.get(), names().items, {});
        pairs = require(PySequence_List(view.get()));
    }
    require_status(PyList_Sort(pairs.get()));
    Ref print_dict = require(PyDict_New());
    require_status(PyDict_MergeFromSeq2(print_dict.get(), pairs.get(), 1));
    return render(self, kRepr, PyDict_GET_SIZE(print_dict.get()),
                  [&](auto&& visit) { walk_pairs(print_dict.get(), visit); });
}

}  // namespace impl
}  // namespace var_main
