#include "pzhost/Output.h"

#include <sys/resource.h>

#include <cctype>
#include <chrono>
#include <cstdio>

#include "host/HostConstants.h"

namespace pzhost {

namespace {
// Plug-in log levels shown: failures always, progress with --verbose.
constexpr int kLogProgress = 1;
constexpr int kLogFailure = 2;
constexpr double kMsPerSecond = 1e3;
constexpr double kMsPerMicrosecond = 1e-3;

constexpr size_t kDeviceNumberDigits = 5;
// Restore progress lines of the plug-in, shown at each poll.
constexpr const char* kRestoreProgressMark = "restore percent [";
// Failure-level texts that report an answer the engine goes on from.
constexpr const char* kToleratedTexts[] = {
    "No snapshots are currently active",
    "No restore session found",
    "Looking up in DB now.",
};

const std::chrono::steady_clock::time_point kProcessStart =
    std::chrono::steady_clock::now();

// CPU time (user + system) of this process alone, not of the tools it ran:
// the host's and the plug-in's own cost of a verb.
double OwnCpuMs() {
  struct rusage usage {};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  auto ms = [](const timeval& t) {
    return double(t.tv_sec) * kMsPerSecond + double(t.tv_usec) * kMsPerMicrosecond;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}
}  // namespace

void Output::Line(const std::string& text) {
  if (json_) return;
  fprintf(stdout, "%s\n", text.c_str());
  fflush(stdout);
}

void Output::Error(const std::string& text) {
  fprintf(stderr, "pzhost: %s\n", text.c_str());
  fflush(stderr);
  if (json_) doc_["errors"].push_back(text);
}

void Output::Event(int severity, const std::string& text) {
  const char* kind = severity >= PZSO::EVENT_SEVERITY_ERROR     ? "error"
                     : severity == PZSO::EVENT_SEVERITY_WARNING ? "warning"
                                                                : "event";
  FILE* to = json_ ? stderr : stdout;
  fprintf(to, "  %s: %s\n", kind, text.c_str());
  fflush(to);
  if (json_)
    doc_["events"].push_back({{"severity", severity}, {"message", text}});
}

void Output::Progress(const std::string& text) {
  fprintf(stderr, "pzhost: %s\n", text.c_str());
  fflush(stderr);
}

void Output::PluginLog(int level, const std::string& function,
                       const std::string& text) {
  bool tolerated = IsToleratedPluginText(text);
  if (level >= kLogFailure) {
    if (verbose_) {
      fprintf(stderr, "  %s: %s: %s\n", tolerated ? "note" : "failure",
              function.c_str(), text.c_str());
      fflush(stderr);
    }
    if (!tolerated) heldFailures_.push_back(function + ": " + text);
  } else if (verbose_ && level >= kLogProgress) {
    fprintf(stderr, "  ... %s: %s\n", function.c_str(), text.c_str());
    fflush(stderr);
  } else if (level >= kLogProgress &&
             text.find(kRestoreProgressMark) != std::string::npos) {
    Progress(text);
  }
}

void Output::FlushPluginFailures(bool failed) {
  if (failed) {
    for (const std::string& line : heldFailures_) {
      fprintf(stderr, "  error: %s\n", line.c_str());
      if (json_) doc_["pluginErrors"].push_back(line);
    }
    fflush(stderr);
  }
  heldFailures_.clear();
}

void Output::Finish(int exitCode) {
  FlushPluginFailures(exitCode != 0);
  if (!json_) return;
  doc_["schemaVersion"] = kJsonSchemaVersion;
  if (!doc_.contains("pluginErrors"))
    doc_["pluginErrors"] = nlohmann::json::array();
  doc_["exitCode"] = exitCode;
  doc_["elapsedMs"] = ElapsedMs();
  doc_["cpuMs"] = OwnCpuMs();
  fprintf(stdout, "%s\n", doc_.dump(2).c_str());
  fflush(stdout);
}

bool IsToleratedPluginText(const std::string& text) {
  for (const char* tolerated : kToleratedTexts)
    if (text.find(tolerated) != std::string::npos) return true;
  return false;
}

std::string DeviceNumber(const std::string& device) {
  if (device.empty() || device.size() > kDeviceNumberDigits) return device;
  std::string upper;
  for (char c : device) {
    if (!isxdigit(static_cast<unsigned char>(c))) return device;
    upper += char(toupper(static_cast<unsigned char>(c)));
  }
  return std::string(kDeviceNumberDigits - upper.size(), '0') + upper;
}

double ElapsedMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now() - kProcessStart)
      .count();
}

std::string StatusName(int status) {
  using namespace PZSO;
  switch (status) {
    case SNAP_STATUS_NO_SNAPSHOT: return "none";
    case SNAP_STATUS_PREPARED: return "prepared";
    case SNAP_STATUS_PREPARE_FAILED: return "prepare failed";
    case SNAP_STATUS_CREATED: return "created";
    case SNAP_STATUS_CREATE_FAILED: return "create failed";
    case SNAP_STATUS_MAP_FAILED: return "mount failed";
    case SNAP_STATUS_MAPPED: return "mounted";
    case SNAP_STATUS_UNMAPPED: return "unmounted";
    case SNAP_STATUS_UNMAP_FAILED: return "unmount failed";
    case SNAP_STATUS_DELETED: return "deleted";
    case SNAP_STATUS_DELETE_FAILED: return "delete failed";
    case SNAP_STATUS_REVERTED: return "reverted";
    case SNAP_STATUS_REVERT_FAILED: return "revert failed";
    case SNAP_STATUS_VANISHED: return "vanished";
  }
  return "status " + std::to_string(status);
}

}  // namespace pzhost
