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
  // A log line of the plug-in. Failure-level lines are held until the
  // plug-in call's outcome is known (many report tolerated answers, such as
  // "no restore session"); --verbose shows every line as it comes.
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

// Readable name of a snapshot status.
std::string StatusName(int status);

}  // namespace pzhost
