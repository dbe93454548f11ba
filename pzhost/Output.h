// What a verb shows: readable lines, or one JSON document with --json. The
// plug-in's events and failure lines are shown as they come (on standard
// error with --json, so standard output stays one document).
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace pzhost {

// Exit codes of every verb.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitPartial = 2;
// A command line pzhost cannot take (unknown verb or option, missing
// argument); never the outcome of an operation.
constexpr int kExitUsage = 2;
// The version of the layout of the --json documents; raised when a field
// changes its meaning or goes away.
constexpr int kJsonSchemaVersion = 1;
// A job stopped by a signal exits with 128 + the signal (130 for SIGINT,
// 143 for SIGTERM), as shells report it.
constexpr int kExitSignalBase = 128;

class Output {
 public:
  Output(bool json, bool verbose) : json_(json), verbose_(verbose) {}

  bool json() const { return json_; }
  bool verbose() const { return verbose_; }
  // A readable line (not shown with --json).
  void Line(const std::string& text);
  // An error of the verb itself (always shown, on standard error).
  void Error(const std::string& text);
  // A reportEvent message of the plug-in.
  void Event(int severity, const std::string& text);
  // Progress of the job on standard error (also with --json): fixed
  // waits, step times, restore progress.
  void Progress(const std::string& text);
  // The verb the document reports ("mount", "array add").
  void SetVerb(const std::string& verb) { doc_["verb"] = verb; }
  // A log line of the plug-in. Failure-level lines are held until the
  // plug-in call's outcome is known: only those of a failed call are
  // errors, and never the tolerated answers (no restore session, no active
  // snapshots, an array looked up in the database instead of the cache).
  // --verbose shows every line as it comes, by level.
  void PluginLog(int level, const std::string& function,
                 const std::string& text);
  // Shows the held failure-level lines when `failed`, then forgets them.
  void FlushPluginFailures(bool failed);
  // The JSON document printed at the end with --json.
  nlohmann::json& doc() { return doc_; }
  void Finish(int exitCode);

 private:
  bool json_;
  bool verbose_;
  std::vector<std::string> heldFailures_;
  nlohmann::json doc_ = nlohmann::json::object();
};

// True for a plug-in line that reports an answer the engine tolerates.
bool IsToleratedPluginText(const std::string& text);

// A device number in the one form pzhost shows: five upper-case hex digits
// ("100" and "0100" are "00100"); other texts unchanged.
std::string DeviceNumber(const std::string& device);

// Milliseconds since this process started, by the monotonic clock.
double ElapsedMs();

// Readable name of a snapshot status.
std::string StatusName(int status);

}  // namespace pzhost
