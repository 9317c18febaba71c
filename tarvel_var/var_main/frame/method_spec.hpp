// The description of one method of TarvelVarMain: everything the function object, the
// argument parser and the docstring builder need. The table itself is in method_table.cpp.
#pragma once

#include "capi/python.hpp"

#include <array>
#include <cstddef>

#include "frame/toolkit.hpp"

namespace var_main {

// The methods, in the order of the class namespace. Fast paths name a method by this index.
enum class Method : int {
    SetClass, MvAdd, MvPop, MvPops, MvClear, MvGet, MvKeys, MvValues, MvItems, MvToDict,
    MvToParams, MvToString, ToDict, ListToDict, SetDict, SetList, Skip, MvSet, MvSetKwargs,
    SetAttr, GetAttrHook, SetAttrHook, ReprHook,
    Count
};
constexpr std::size_t kMethodCount = static_cast<std::size_t>(Method::Count);
// The position of a method in the table and in the arrays indexed like it.
constexpr std::size_t index_of(Method which) { return static_cast<std::size_t>(which); }

// Exact-type test of a parameter: the argument's type must be this built-in type itself.
enum class Exact : unsigned char { Any, Str, StrOrNone, Dict, Tuple };

enum class Default : unsigned char { Required, None, False };

struct Param {
    const char* name;
    const char* annotation;  // nullptr for `self`
    Exact exact = Exact::Any;
};

constexpr std::size_t kMaxParams = 4;

// Bound arguments, `self` first; every pointer is borrowed from the call.
using Args = const std::array<PyObject*, kMaxParams>&;

// The first `count` bound arguments, so that a method body names its parameters once:
//     const auto [self, key, default_value] = arguments<3>(args);
template <std::size_t count>
std::array<PyObject*, count> arguments(Args args) noexcept {
    static_assert(count >= 1 && count <= kMaxParams);
    std::array<PyObject*, count> named{};
    for (std::size_t i = 0; i < count; ++i) named[i] = args[i];
    return named;
}
// A method body: arguments already checked; returns a new reference or throws PyErrorSet.
using Impl = Ref (*)(Args args);

struct MethodSpec {
    const char* name;
    std::array<Param, kMaxParams> params;
    int param_count;       // `self` included; 0 for the static `_skip`
    Default last_default;  // the default of the last parameter, if any
    const char* return_annotation;
    const char* signature;
    const char* summary;
    std::array<const char*, 3> fields;  // field lines, unused ones nullptr
    Impl impl;

    bool is_static() const { return param_count == 0; }
    std::size_t arity() const { return static_cast<std::size_t>(param_count); }
    int max_args() const { return param_count; }
    int min_args() const { return param_count - (last_default == Default::Required ? 0 : 1); }
    // The value a call gets for the last parameter when it is left out.
    PyObject* default_value() const { return last_default == Default::False ? Py_False : Py_None; }
};

const MethodSpec& method_spec(Method which);

}  // namespace var_main
