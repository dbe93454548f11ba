// The operations pzarray runs: one per ArrayAPI_CLI operation, with its
// arguments in the operation's order and its results as JSON under the
// parameter model's field names.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "array/ArrayAPI_CLI.h"

namespace pzarray {

using Json = nlohmann::ordered_json;
using Args = std::vector<std::string>;

struct Operation {
  const char* name;
  const char* usage;  // argument names, [optional] ones last
  size_t required;
  size_t optional;
  // Reads seVersion: probed first unless --se-version gives it.
  bool needsVersion;
  // Throws std::invalid_argument on a malformed argument.
  std::function<bool(ArrayAPI_CLI&, const Args&, Json&)> run;
};

const std::vector<Operation>& Operations();
const Operation* FindOperation(const std::string& name);
// One line per operation: name and arguments, then how arguments are given.
std::string OperationsHelp();

}  // namespace pzarray
