#include "equality.hpp"

#include "capi/recursion.hpp"

namespace store {
namespace {

// How the comparison treats a value.
enum class Shape { Store, Mapping, Sequence, Other };

class Comparer {
public:
    bool equal(PyObject* a, PyObject* b) {
        if (a == b) return true;  // as containers compare their items
        if (is_plain_scalar(a) && is_plain_scalar(b)) {
            return require_status(PyObject_RichCompareBool(a, b, Py_EQ)) == 1;
        }
        const Shape ka = kind(a), kb = kind(b);
        const bool a_map = ka == Shape::Store || ka == Shape::Mapping;
        const bool b_map = kb == Shape::Store || kb == Shape::Mapping;
        if (a_map && b_map) return mappings_equal(a, ka, b, kb);
        if (ka == Shape::Sequence && kb == Shape::Sequence) return sequences_equal(a, b);
        code_may_have_run_ = true;
        if (ka == Shape::Store || kb == Shape::Store) {
            Ref plain_a = plain(a, ka), plain_b = plain(b, kb);
            return require_status(PyObject_RichCompareBool(plain_a.get(), plain_b.get(), Py_EQ)) == 1;
        }
        return require_status(PyObject_RichCompareBool(a, b, Py_EQ)) == 1;
    }

    Shape kind(PyObject* obj) {
        const Kind kind = classify(obj);
        switch (kind) {
            case Kind::Dict: return Shape::Mapping;
            case Kind::List: return Shape::Sequence;
            case Kind::Scalar:
            case Kind::Atom: return Shape::Other;
            default: break;
        }
        if (PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(state.public_cls.get())) ||
            (is_store(obj) && is_store_by_name(obj))) {
            return Shape::Store;
        }
        if (kind == Kind::ListSubclass) return Shape::Sequence;
        if (kind == Kind::DictSubclass) return Shape::Mapping;
        code_may_have_run_ = true;  // an ABC's instance check can run code
        return require_status(PyObject_IsInstance(obj, state.mapping_abc)) ? Shape::Mapping : Shape::Other;
    }

    bool mappings_equal(PyObject* a, Shape ka, PyObject* b, Shape kb) {
        capi::RecursionGuard guard;
        if (size(a, ka) != size(b, kb)) return false;
        bool equal_so_far = true;
        Ref b_dict;  // b's variables read straight off its dictionary, while nothing has run
        auto visit = [&](PyObject* key, PyObject* value) {
            Ref other;
            if (!lookup(b, kb, key, b_dict, other) || !equal(value, other.get())) {
                equal_so_far = false;
            }
            return equal_so_far;
        };
        if (ka == Shape::Store) {
            for_each_variable(a, visit);
        } else if (PyDict_CheckExact(a)) {
            walk_dict(a, visit);
        } else {
            code_may_have_run_ = true;
            Ref items = require(PyMapping_Items(a));
            for (Py_ssize_t i = 0; equal_so_far && i < PyList_GET_SIZE(items.get()); ++i) {
                Ref pair = Ref::borrow(PyList_GET_ITEM(items.get(), i));
                Ref key = require(PySequence_GetItem(pair.get(), 0));
                Ref value = require(PySequence_GetItem(pair.get(), 1));
                visit(key.get(), value.get());
            }
        }
        return equal_so_far;
    }

    bool sequences_equal(PyObject* a, PyObject* b) {
        capi::RecursionGuard guard;
        Ref list_a = as_list_or_tuple(a), list_b = as_list_or_tuple(b);
        for (Py_ssize_t i = 0;; ++i) {
            const Py_ssize_t size_a = PySequence_Fast_GET_SIZE(list_a.get());
            const Py_ssize_t size_b = PySequence_Fast_GET_SIZE(list_b.get());
            if (i == 0 && size_a != size_b) return false;
            if (i >= size_a || i >= size_b) return size_a == size_b;
            Ref x = Ref::borrow(PySequence_Fast_ITEMS(list_a.get())[i]);
            Ref y = Ref::borrow(PySequence_Fast_ITEMS(list_b.get())[i]);
            if (!equal(x.get(), y.get())) return false;
        }
    }

private:
    Py_ssize_t size(PyObject* obj, Shape k) {
        if (k == Shape::Store) {
            code_may_have_run_ = true;
            return count_variables(obj);
        }
        if (PyDict_CheckExact(obj)) return PyDict_GET_SIZE(obj);
        code_may_have_run_ = true;
        const Py_ssize_t n = PyObject_Size(obj);
        if (n < 0) throw_error();
        return n;
    }

    // other = b[key] when b holds key.
    bool lookup(PyObject* b, Shape kb, PyObject* key, Ref& b_dict, Ref& other) {
        PyObject* found = nullptr;
        if (PyDict_CheckExact(b)) {
            if (require_status(PyDict_GetItemRef(b, key, &found)) == 0) return false;
            other = Ref::steal(found);
            return true;
        }
        if (kb == Shape::Store) {
            if (code_may_have_run_ || !b_dict) {
                code_may_have_run_ = false;
                b_dict = variables_dict(b);
                if (!b_dict) code_may_have_run_ = true;  // keep asking the listing
            }
            if (b_dict && PyUnicode_CheckExact(key)) {
                if (is_internal_name(key)) return false;
                if (require_status(PyDict_GetItemRef(b_dict.get(), key, &found)) == 0) return false;
                other = Ref::steal(found);
                return true;
            }
            code_may_have_run_ = true;
            return find_variable(b, key, &other);
        }
        code_may_have_run_ = true;
        if (require_status(PyMapping_GetOptionalItem(b, key, &found)) == 0) return false;
        other = Ref::steal(found);
        return true;
    }

    Ref plain(PyObject* obj, Shape k) {
        if (k == Shape::Store) return call_store_method(obj, names().mv_to_dict, {});
        return Ref::borrow(obj);
    }

    static Ref as_list_or_tuple(PyObject* obj) {
        if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) return Ref::borrow(obj);
        return require(PySequence_List(obj));
    }

    bool code_may_have_run_ = true;
};

}  // namespace

bool is_comparable_mapping(PyObject* other) {
    Comparer comparer;
    const Shape k = comparer.kind(other);
    return k == Shape::Store || k == Shape::Mapping;
}

bool store_equals(PyObject* self, PyObject* other) {
    Comparer comparer;
    return comparer.mappings_equal(self, Shape::Store, other, comparer.kind(other));
}

bool values_equal(PyObject* a, PyObject* b) {
    Comparer comparer;
    return comparer.equal(a, b);
}

}  // namespace store
