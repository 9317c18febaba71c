// Documents read straight into stores or plain data by the distributions' native parsers,
// each where the build found its library: JSON by simdjson (json_reader.cpp), YAML by libyaml
// (yaml_reader.cpp), TOML by toml++ (toml_reader.cpp). Each answers None for what only the
// Python parsers read exactly, and they then read it.
#pragma once

#include "capi/python.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "capi/refs.hpp"

namespace store {

// What a reader met that only the Python parser reads exactly (or must refuse, with its
// message and place): the read stops, and answers None.
struct GeneralWay {};

// `made`, a new reference, or the general way where making it raised `refused` (int() of too
// many digits, a date that does not exist); any other error is raised.
capi::Ref made_or_general_way(PyObject* made, PyObject* refused);

// The UTF-8 of a str, or nothing where it holds lone surrogates (no UTF-8 holds them).
std::optional<std::string_view> utf8_of(PyObject* text);

// The str of UTF-8 text a parser read; the general way where it is none (a lone surrogate a
// JSON escape let through as bytes).
capi::Ref decoded(std::string_view utf8);

// The datetime module's values, as its constructors make them; the general way for one they
// refuse (a day or a second that does not exist). `offset_minutes`: the fixed time zone of a
// datetime, none for a naive one.
capi::Ref date_made(int year, int month, int day);
capi::Ref time_made(int hour, int minute, int second, int microsecond);
capi::Ref date_time_made(int year, int month, int day, int hour, int minute, int second, int microsecond,
                         std::optional<int> offset_minutes);

// "format: library version" of each native reader; empty where the build has none.
std::string json_reader_library();
std::string yaml_reader_library();
std::string toml_reader_library();

// Each adds its functions to the module; false with an exception set.
bool ready_json_reader(PyObject* module);
bool ready_yaml_reader(PyObject* module);
bool ready_toml_reader(PyObject* module);
bool ready_readers(PyObject* module);  // the three, and native_readers()

}  // namespace store
