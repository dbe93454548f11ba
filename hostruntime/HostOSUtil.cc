// PZOSUtil of the host runtime over the environment's HostSystem.
#include <cstring>

#include "hostruntime/Env.h"
#include "hostruntime/HostRequest.h"
#include "hostruntime/HostSystem.h"

namespace hostrt {

namespace {

// Result codes of the utility operations.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kListFailed = -1;

void DebugLine(int level, const char* function, const std::string& text) {
  LogRecord r;
  r.kind = LogKind::kDebug;
  r.level = level;
  r.function = function;
  r.text = text;
  CurrentEnv()->Log(r);
}

HostSystem* SystemOrLog(const char* function) {
  HostSystem* system = CurrentEnv()->System();
  if (!system) DebugLine(-1, function, "The host has no system service");
  return system;
}

std::string HostText(const char* host) { return host ? host : ""; }

std::vector<std::string> CStringList(const char** list) {
  std::vector<std::string> out;
  for (const char** p = list; p && *p; ++p) out.push_back(*p);
  return out;
}

std::string Join(const std::vector<std::string>& items, const std::string& sep) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += sep;
    out += items[i];
  }
  return out;
}

}  // namespace

HostOSUtil::HostOSUtil(std::vector<HostSnapInfo*> requestArray, long job)
    : requests(std::move(requestArray)), jobId(job) {}

int HostOSUtil::rescanBus(const char* host, const char** /*initiators*/,
                          const char** cleanupPaths) {
  HostSystem* system = SystemOrLog("rescanBus");
  if (!system) return kFailed;
  std::string error;
  if (!system->Rescan(HostText(host), CStringList(cleanupPaths), &error)) {
    DebugLine(-1, "rescanBus", "Rescan of host [" + HostText(host) +
                                   "] failed: " + error);
    return kFailed;
  }
  return kOk;
}

int HostOSUtil::getDeviceListString(const char* host, const char* vendor,
                                    const char* separator, int bufferSize,
                                    char* buffer) {
  HostSystem* system = SystemOrLog("getDeviceListString");
  if (!system) return kListFailed;
  std::vector<std::string> paths;
  std::string error;
  if (!system->Devices(HostText(host), vendor ? vendor : "", &paths, &error)) {
    DebugLine(-1, "getDeviceListString", "Device list of host [" +
                                             HostText(host) + "] failed: " + error);
    return kListFailed;
  }
  std::string text = Join(paths, separator ? separator : "");
  int needed = int(text.size()) + 1;
  if (!buffer || bufferSize < needed) return needed;
  memcpy(buffer, text.c_str(), text.size() + 1);
  return kOk;
}

// Two calls: the first (null buffers) learns the lengths, the second fills
// the names joined by "," and one type byte per name.
int HostOSUtil::queryInitiators(const char* host, const char* /*arraySerial*/,
                                char* names, int* namesLength, char* types,
                                int* typesLength) {
  if (!namesLength || !typesLength) return kFailed;
  HostSystem* system = SystemOrLog("queryInitiators");
  std::vector<Initiator> found;
  std::string error;
  if (!system || !system->Initiators(HostText(host), &found, &error)) {
    if (system)
      DebugLine(-1, "queryInitiators", "Initiators of host [" + HostText(host) +
                                           "] failed: " + error);
    *namesLength = 0;
    *typesLength = 0;
    return kFailed;
  }
  std::string joined;
  std::string typeBytes;
  for (size_t i = 0; i < found.size(); ++i) {
    if (i) joined += ",";
    joined += found[i].name;
    typeBytes += static_cast<char>(found[i].type);
  }
  int neededNames = found.empty() ? 0 : int(joined.size()) + 1;
  int neededTypes = int(typeBytes.size());
  if (!names || !types) {
    *namesLength = neededNames;
    *typesLength = neededTypes;
    return kOk;
  }
  if (neededNames == 0 || *namesLength < neededNames ||
      *typesLength < neededTypes) {
    *namesLength = neededNames;
    *typesLength = neededTypes;
    return kFailed;
  }
  memcpy(names, joined.c_str(), joined.size() + 1);
  memcpy(types, typeBytes.data(), typeBytes.size());
  *namesLength = neededNames;
  *typesLength = neededTypes;
  return kOk;
}

// The first initiator of a remote (ESX) host.
int HostOSUtil::queryHostInitiator(const char* hostId,
                                   const char* /*arraySerial*/, char* buffer,
                                   int* size, bool* isIscsi) {
  if (!size) return kFailed;
  HostSystem* system = SystemOrLog("queryHostInitiator");
  std::vector<Initiator> found;
  std::string error;
  if (!system || !system->Initiators(HostText(hostId), &found, &error) ||
      found.empty()) {
    if (system)
      DebugLine(-1, "queryHostInitiator", "No initiator for host [" +
                                              HostText(hostId) + "] " + error);
    *size = 0;
    return kFailed;
  }
  const Initiator& first = found.front();
  int needed = int(first.name.size()) + 1;
  if (!buffer || *size < needed) {
    *size = needed;
    return kFailed;
  }
  memcpy(buffer, first.name.c_str(), first.name.size() + 1);
  if (isIscsi) *isIscsi = first.type == kInitiatorISCSI;
  return kOk;
}

int HostOSUtil::getLocalDeviceList(const char* host, const char* vendor,
                                   std::vector<std::string>& devices) {
  HostSystem* system = SystemOrLog("getLocalDeviceList");
  if (!system) return kListFailed;
  std::vector<std::string> paths;
  std::string error;
  if (!system->Devices(HostText(host), vendor ? vendor : "", &paths, &error)) {
    DebugLine(-1, "getLocalDeviceList", "Device list of host [" +
                                            HostText(host) + "] failed: " + error);
    return kListFailed;
  }
  devices = paths;
  return kOk;
}

// Sends the whole request array, waits for the answer and applies it; any
// fault of the transport or the answer leaves the requests untouched.
bool HostOSUtil::executeOnRemoteClient(const std::string& client) {
  lastRemoteError.clear();
  if (client.empty() || requests.empty()) {
    lastRemoteError = client.empty() ? "no remote client named" : "no requests";
    DebugLine(-1, "executeOnRemoteClient", lastRemoteError);
    return false;
  }
  std::string response, error;
  if (!CurrentEnv()->RunRemote(client, ToJson(requests).dump(), &response,
                               &error)) {
    lastRemoteError = "remote execution on [" + client + "] failed: " + error;
    DebugLine(-1, "executeOnRemoteClient", lastRemoteError);
    return false;
  }
  nlohmann::json answer = nlohmann::json::parse(response, nullptr, false);
  if (answer.is_discarded()) {
    lastRemoteError = "the answer of [" + client + "] is not JSON";
  } else if (!ApplyJson(answer, requests, &error)) {
    lastRemoteError = "the answer of [" + client + "] was refused: " + error;
  }
  if (!lastRemoteError.empty()) {
    DebugLine(-1, "executeOnRemoteClient", lastRemoteError);
    return false;
  }
  DebugLine(1, "executeOnRemoteClient",
            "Remote execution on [" + client + "] answered for " +
                std::to_string(requests.size()) + " requests");
  return true;
}

}  // namespace hostrt
