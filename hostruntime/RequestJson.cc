// JSON form of a request array, for carrying a job to another host and its
// outcome back.
#include <climits>
#include <cstdlib>

#include "hostruntime/HostRequest.h"

namespace hostrt {

using nlohmann::json;

namespace {

constexpr int kFormatVersion = 1;

json IntMap(const std::map<int, std::string>& items) {
  json out = json::object();
  for (const auto& kv : items) out[std::to_string(kv.first)] = kv.second;
  return out;
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// Typed readers: an absent key keeps the value; a key of the wrong type fails.
class Reader {
 public:
  Reader(const json& object, std::string where, std::string* error)
      : o_(object), where_(std::move(where)), error_(error) {}

  bool Has(const char* key) const { return o_.contains(key); }

  bool Str(const char* key, std::string* out) {
    if (!o_.contains(key)) return true;
    const json& v = o_[key];
    if (!v.is_string()) return Bad(key, "a string");
    *out = v.get<std::string>();
    return true;
  }
  bool Bool(const char* key, bool* out) {
    if (!o_.contains(key)) return true;
    const json& v = o_[key];
    if (!v.is_boolean()) return Bad(key, "true or false");
    *out = v.get<bool>();
    return true;
  }
  bool Int(const char* key, int* out) {
    long long v = 0;
    if (!o_.contains(key)) return true;
    if (!Integer(o_[key], INT_MIN, INT_MAX, &v)) return Bad(key, "an int");
    *out = int(v);
    return true;
  }
  bool Int64(const char* key, long long* out) {
    if (!o_.contains(key)) return true;
    if (!Integer(o_[key], LLONG_MIN, LLONG_MAX, out)) return Bad(key, "an integer");
    return true;
  }
  bool Unsigned(const char* key, unsigned long long max, unsigned long long* out) {
    if (!o_.contains(key)) return true;
    const json& v = o_[key];
    if (!v.is_number_unsigned() || v.get<unsigned long long>() > max)
      return Bad(key, "an unsigned integer");
    *out = v.get<unsigned long long>();
    return true;
  }
  bool TypedMap(const char* key, std::map<int, std::string>* out) {
    if (!o_.contains(key)) return true;
    const json& v = o_[key];
    if (!v.is_object()) return Bad(key, "an object");
    std::map<int, std::string> items;
    for (auto it = v.begin(); it != v.end(); ++it) {
      int type = 0;
      if (!MetadataType(it.key(), &type) || !it.value().is_string())
        return Bad(key, "metadata types with text values");
      items[type] = it.value().get<std::string>();
    }
    *out = items;
    return true;
  }
  bool NamedInts(const char* key, std::map<std::string, int>* out) {
    if (!o_.contains(key)) return true;
    const json& v = o_[key];
    if (!v.is_object()) return Bad(key, "an object");
    std::map<std::string, int> items;
    for (auto it = v.begin(); it != v.end(); ++it) {
      long long n = 0;
      if (!Integer(it.value(), INT_MIN, INT_MAX, &n)) return Bad(key, "int values");
      items[it.key()] = int(n);
    }
    *out = items;
    return true;
  }
  bool NamedStrings(const char* key, std::map<std::string, std::string>* out) {
    if (!o_.contains(key)) return true;
    const json& v = o_[key];
    if (!v.is_object()) return Bad(key, "an object");
    std::map<std::string, std::string> items;
    for (auto it = v.begin(); it != v.end(); ++it) {
      if (!it.value().is_string()) return Bad(key, "text values");
      items[it.key()] = it.value().get<std::string>();
    }
    *out = items;
    return true;
  }
  bool Events(const char* key, std::vector<std::pair<int, std::string>>* out) {
    if (!o_.contains(key)) return true;
    const json& v = o_[key];
    if (!v.is_array()) return Bad(key, "an array");
    std::vector<std::pair<int, std::string>> items;
    for (const json& e : v) {
      long long severity = 0;
      if (!e.is_object() || !e.contains("severity") || !e.contains("text") ||
          !Integer(e["severity"], INT_MIN, INT_MAX, &severity) ||
          !e["text"].is_string())
        return Bad(key, "events with a severity and a text");
      items.emplace_back(int(severity), e["text"].get<std::string>());
    }
    *out = items;
    return true;
  }

 private:
  static bool Integer(const json& v, long long min, long long max,
                      long long* out) {
    if (v.is_number_unsigned()) {
      unsigned long long u = v.get<unsigned long long>();
      if (u > static_cast<unsigned long long>(max)) return false;
      *out = static_cast<long long>(u);
      return true;
    }
    if (!v.is_number_integer()) return false;
    long long n = v.get<long long>();
    if (n < min || n > max) return false;
    *out = n;
    return true;
  }
  static bool MetadataType(const std::string& key, int* type) {
    if (key.empty() || key.size() > 9) return false;
    for (char c : key)
      if (c < '0' || c > '9') return false;
    *type = atoi(key.c_str());
    return true;
  }
  bool Bad(const char* key, const char* what) {
    return Fail(error_, where_ + ": \"" + key + "\" must be " + what);
  }

  const json& o_;
  std::string where_;
  std::string* error_;
};

bool ReadRequest(const json& entry, size_t index, HostSnapInfo* r,
                 std::string* error) {
  std::string where = "request " + std::to_string(index);
  if (!entry.is_object()) return Fail(error, where + " is not an object");
  Reader in(entry, where, error);
  unsigned long long snapFlags = r->snapFlags, jobFlags = r->jobFlags;
  bool ok = in.Str("sourceDevice", &r->sourceDevice) &&
            in.Unsigned("snapFlags", UINT_MAX, &snapFlags) &&
            in.Unsigned("jobFlags", ULLONG_MAX, &jobFlags) &&
            in.Int("status", &r->status) && in.Int("errorCode", &r->errorCode) &&
            in.Str("errorText", &r->errorText) &&
            in.TypedMap("metadata", &r->metadata) &&
            in.TypedMap("requestMetadata", &r->requestMetadata) &&
            in.NamedInts("snapConfigInts", &r->snapConfigInts) &&
            in.NamedStrings("snapConfigStrings", &r->snapConfigStrings) &&
            in.Int64("jobId", &r->jobId) &&
            in.Int("operationSource", &r->operationSource) &&
            in.Int("smSnapId", &r->smSnapId) && in.Int("mountId", &r->mountId) &&
            in.Int("arrayNum", &r->arrayNum) &&
            in.Str("devicePath", &r->devicePath) &&
            in.Str("snapUniqueId", &r->snapUniqueId) &&
            in.Str("hostTypeInfo", &r->hostTypeInfo) &&
            in.Str("vmHostId", &r->vmHostId) &&
            in.Bool("srdfInfo", &r->srdfInfo) &&
            in.Bool("srdfAsync", &r->srdfAsync) &&
            in.Str("arrayInfoSerial", &r->arrayInfoSerial) &&
            in.Events("events", &r->events);
  r->snapFlags = static_cast<unsigned int>(snapFlags);
  r->jobFlags = jobFlags;
  return ok;
}

bool RequestArray(const json& doc, const json** array, std::string* error) {
  if (!doc.is_object()) return Fail(error, "the request document is not an object");
  if (!doc.contains("version") || doc["version"] != kFormatVersion)
    return Fail(error, "unknown request document version");
  if (!doc.contains("requests") || !doc["requests"].is_array())
    return Fail(error, "the request document has no request array");
  *array = &doc["requests"];
  return true;
}

}  // namespace

json ToJson(const std::vector<HostSnapInfo*>& requests) {
  json array = json::array();
  for (const HostSnapInfo* r : requests) {
    if (!r) continue;
    json events = json::array();
    for (const auto& e : r->events)
      events.push_back({{"severity", e.first}, {"text", e.second}});
    array.push_back({
        {"sourceDevice", r->sourceDevice},
        {"snapFlags", r->snapFlags},
        {"jobFlags", r->jobFlags},
        {"status", r->status},
        {"errorCode", r->errorCode},
        {"errorText", r->errorText},
        {"metadata", IntMap(r->metadata)},
        {"requestMetadata", IntMap(r->requestMetadata)},
        {"snapConfigInts", r->snapConfigInts},
        {"snapConfigStrings", r->snapConfigStrings},
        {"jobId", r->jobId},
        {"operationSource", r->operationSource},
        {"smSnapId", r->smSnapId},
        {"mountId", r->mountId},
        {"arrayNum", r->arrayNum},
        {"devicePath", r->devicePath},
        {"snapUniqueId", r->snapUniqueId},
        {"hostTypeInfo", r->hostTypeInfo},
        {"vmHostId", r->vmHostId},
        {"srdfInfo", r->srdfInfo},
        {"srdfAsync", r->srdfAsync},
        {"arrayInfoSerial", r->arrayInfoSerial},
        {"events", events},
    });
  }
  return {{"version", kFormatVersion}, {"requests", array}};
}

bool RequestsFromJson(const json& doc,
                      std::vector<std::unique_ptr<HostSnapInfo>>* requests,
                      std::string* error) {
  const json* array = nullptr;
  if (!requests || !RequestArray(doc, &array, error)) return false;
  std::vector<std::unique_ptr<HostSnapInfo>> built;
  auto cache = std::make_shared<ArrayInfoCache>();
  for (size_t i = 0; i < array->size(); ++i) {
    auto r = std::make_unique<HostSnapInfo>();
    if (!ReadRequest((*array)[i], i, r.get(), error)) return false;
    r->arrayInfoCache = cache;  // the requests of one job share it
    built.push_back(std::move(r));
  }
  if (built.empty()) return Fail(error, "the request array is empty");
  *requests = std::move(built);
  return true;
}

bool ApplyJson(const json& doc, const std::vector<HostSnapInfo*>& requests,
               std::string* error) {
  const json* array = nullptr;
  if (!RequestArray(doc, &array, error)) return false;
  if (array->size() != requests.size())
    return Fail(error, "the answer has " + std::to_string(array->size()) +
                           " requests, " + std::to_string(requests.size()) +
                           " were sent");
  // Check everything first: an answer is applied whole or not at all.
  std::vector<HostSnapInfo> answers(requests.size());
  static const char* const kRequired[] = {"status", "errorCode", "errorText",
                                          "metadata", "requestMetadata",
                                          "smSnapId"};
  for (size_t i = 0; i < requests.size(); ++i) {
    if (!requests[i]) return Fail(error, "request " + std::to_string(i) + " is null");
    const json& entry = (*array)[i];
    if (!ReadRequest(entry, i, &answers[i], error)) return false;
    for (const char* key : kRequired)
      if (!entry.contains(key))
        return Fail(error, "request " + std::to_string(i) + " has no \"" + key + "\"");
    if (answers[i].smSnapId != requests[i]->smSnapId)
      return Fail(error, "request " + std::to_string(i) +
                             " answers for another snapshot id");
  }
  for (size_t i = 0; i < requests.size(); ++i) {
    HostSnapInfo* r = requests[i];
    const json& entry = (*array)[i];
    HostSnapInfo& a = answers[i];
    r->status = a.status;
    r->errorCode = a.errorCode;
    r->errorText = a.errorText;
    r->metadata = a.metadata;
    r->requestMetadata = a.requestMetadata;
    if (entry.contains("devicePath")) r->devicePath = a.devicePath;
    if (entry.contains("snapUniqueId")) r->snapUniqueId = a.snapUniqueId;
    if (entry.contains("jobFlags")) r->jobFlags = a.jobFlags;
    // The answer carries the events sent plus the remote side's own.
    for (size_t e = r->events.size(); e < a.events.size(); ++e)
      r->reportEvent(a.events[e].first, a.events[e].second.c_str());
  }
  return true;
}

}  // namespace hostrt
