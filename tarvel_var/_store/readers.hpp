// Documents read straight into stores or plain data by the distributions' native parsers,
// each where the build found its library: JSON by simdjson (json_reader.cpp), YAML by libyaml
// (yaml_reader.cpp), TOML by toml++ (toml_reader.cpp). Each answers None for what only the
// Python parsers read exactly, and they then read it.
#pragma once

#include "capi/python.hpp"

#include <string>

namespace store {

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
