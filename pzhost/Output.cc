#include "pzhost/Output.h"

#include <sys/resource.h>

#include <cstdio>

#include "host/HostConstants.h"

namespace pzhost {

namespace {
// Plug-in log levels shown: failures always, progress with --verbose.
constexpr int kLogProgress = 1;
constexpr int kLogFailure = 2;
constexpr double kMsPerSecond = 1e3;
constexpr double kMsPerMicrosecond = 1e-3;

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

void Output::PluginLog(int level, const std::string& function,
                       const std::string& text) {
  if (level >= kLogFailure) {
    if (json_) doc_["pluginErrors"].push_back(function + ": " + text);
    if (verbose_) {
      fprintf(stderr, "  error: %s: %s\n", function.c_str(), text.c_str());
      fflush(stderr);
    } else {
      heldFailures_.push_back(function + ": " + text);
    }
  } else if (verbose_ && level >= kLogProgress) {
    fprintf(stderr, "  ... %s: %s\n", function.c_str(), text.c_str());
    fflush(stderr);
  }
}

void Output::FlushPluginFailures(bool failed) {
  if (failed) {
    for (const std::string& line : heldFailures_)
      fprintf(stderr, "  error: %s\n", line.c_str());
    fflush(stderr);
  }
  heldFailures_.clear();
}

void Output::Finish(int exitCode) {
  FlushPluginFailures(exitCode != 0);
  if (!json_) return;
  doc_["exitCode"] = exitCode;
  doc_["cpuMs"] = OwnCpuMs();
  fprintf(stdout, "%s\n", doc_.dump(2).c_str());
  fflush(stdout);
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
