// The array map request: the initiators a remote snap MA maps to, as JSON
// with the members "LocalHBA" and "ESXHBA".
#include <nlohmann/json.hpp>

#include "engine/PZSOVMAX.h"

namespace {
const char* const kLocalHbaKey = "LocalHBA";
const char* const kEsxHbaKey = "ESXHBA";

// Appends the string elements of `key` when it is an array.
void appendStrings(const nlohmann::json& object, const char* key,
                   std::list<std::string>& out) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_array()) return;
  for (const auto& e : *it)
    if (e.is_string()) out.push_back(e.get<std::string>());
}
}  // namespace

bool populateJsonForArrayMapRequest(const VMAX_HBAs& hbas, std::string& json) {
  json.clear();
  nlohmann::json object = nlohmann::json::object();
  object[kLocalHbaKey] = nlohmann::json::array();
  object[kEsxHbaKey] = nlohmann::json::array();
  for (const auto& h : hbas.localHbas) object[kLocalHbaKey].push_back(h);
  for (const auto& h : hbas.esxHbas) object[kEsxHbaKey].push_back(h);
  // A name that is not UTF-8 cannot be written as JSON: a failure, not an
  // exception out of the caller.
  try {
    json = object.dump();
  } catch (const nlohmann::json::exception&) {
    json.clear();
    return false;
  }
  return true;
}

bool getDetailsForArrayMapRequest(const std::string& json, VMAX_HBAs& hbas) {
  if (json.empty()) return false;
  nlohmann::json object = nlohmann::json::parse(json, nullptr, false);
  if (object.is_discarded() || !object.is_object() || object.empty())
    return false;
  appendStrings(object, kLocalHbaKey, hbas.localHbas);
  appendStrings(object, kEsxHbaKey, hbas.esxHbas);
  return true;
}
