// The command layer's free functions: running one SYMCLI command line through
// the host's process runner, writing the device file handed to SYMCLI with
// -file, the local time stamp, the text-scanning helpers every output parser
// uses, and the layer's one clock and sleep access.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Vocabulary.h"
#include "host/HostServices.h"
#include "host/SnapInfo.h"

// Runs `cmd` and waits for it. Returns 0 when it ran (whatever its exit code;
// `exitCode` is set and the standard error is appended to `output`), -1 when
// it could not be run (`exitCode` untouched).
int RunCommand(PZSO::SnapInfo* si, const std::string& cmd,
               std::string& output, std::string& error, int& exitCode);
// Same, then deletes `inputFile` (when not empty) unless `keepInputFile`.
int RunCommand(PZSO::SnapInfo* si, const std::string& cmd,
               std::string& output, std::string& error, int& exitCode,
               const std::string& inputFile, bool keepInputFile);

// One SYMCLI command of an array operation: the command line it runs (once,
// or again for a poll), the device file it reads with -file (owned for the
// call's life: removed with the object, unless it ran and the file is kept
// for diagnosis), and its one result, that of the last run.
class SymcliCommand {
 public:
  explicit SymcliCommand(PZSO::SnapInfo* si) : si_(si) {}
  ~SymcliCommand();
  SymcliCommand(const SymcliCommand&) = delete;
  SymcliCommand& operator=(const SymcliCommand&) = delete;

  // Takes the written device file `path` into the command's care.
  void OwnDeviceFile(const std::string& path, bool keepAfterRun);
  // Runs `commandLine` (see RunCommand); true when it ran and exited 0.
  bool Run(const std::string& commandLine);

  bool ran() const { return ran_; }
  bool succeeded() const { return ran_ && exitCode_ == 0; }
  int exitCode() const { return exitCode_; }
  // Standard output followed by standard error.
  const std::string& output() const { return output_; }
  const std::string& error() const { return error_; }
  // It ran and its output holds `marker` (whatever its exit code).
  bool said(const char* marker) const;

 private:
  PZSO::SnapInfo* si_;
  std::string deviceFile_;
  bool keepDeviceFile_ = false;
  bool ran_ = false;
  int exitCode_ = 0;
  std::string output_, error_;
};

// Writes the device file "<tmp>/FLVMAX_<job>_<time>.txt" (mode 0600,
// truncated); `fileName` leaves as its path, or as far as it was formed.
bool WriteToFile(PZSO::SnapInfo* si, const std::string& content,
                 std::string& fileName);
// Writes `content` to "<log dir>/<fileName><time>.log"; `fileName` enters as
// the name prefix and leaves as the full path.
bool WriteToFile(const std::string& content, std::string& fileName);

// Local time as "%Y.%m.%d-%H.%M.%S".
void GetCurrTime(std::string& out);

// Scanning helpers; none moves past the terminating NUL.
void skipSpace(const char*& p);
std::string skipToSpace(const char*& p);
void skipColumns(const char*& p, int n);

// The layer's clock and sleep, both through the host environment.
int64_t CommandLayerNowMicros();
void CommandLayerSleepMs(int64_t ms);

// Logs one printf-style line on the request (nothing when it is null).
void CliLog(PZSO::SnapInfo* si, int level, const char* function,
            const char* format, ...) PZ_PRINTF(4, 5);

// Log lines the command layer makes on one thread, kept to be written later
// on another: a request's log is written by one thread at a time, so lookups
// that run beside each other keep their lines and the caller writes them in
// the order the lookups would have run one after the other.
class DeferredCommandLog {
 public:
  // Writes the kept lines, in order, on the calling thread, and forgets them.
  void Replay();

 private:
  friend void DeferCommandLog(std::function<void()> line);
  std::vector<std::function<void()>> lines_;
};

// While it lives, the command layer's log lines of this thread go to `log`.
class ScopedCommandLogDeferral {
 public:
  explicit ScopedCommandLogDeferral(DeferredCommandLog* log);
  ~ScopedCommandLogDeferral();
  ScopedCommandLogDeferral(const ScopedCommandLogDeferral&) = delete;
  ScopedCommandLogDeferral& operator=(const ScopedCommandLogDeferral&) = delete;

 private:
  DeferredCommandLog* previous_;
};
