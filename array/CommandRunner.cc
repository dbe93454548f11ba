#include "array/CommandRunner.h"

#include <fcntl.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "host/HostConstants.h"
#include "host/PzClock.h"

namespace {

// Device and log files: truncated, never through a link, owner only.
constexpr int kOutputFileFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
constexpr int kOutputFileMode = 0600;

constexpr const char* kDeviceFilePattern = "{1}{2}FLVMAX_{3}_{4}.txt";
constexpr const char* kPathSeparator = "/";
constexpr const char* kLogDirectorySetting = "dEVLOGDIR";
constexpr const char* kLogFileSuffix = ".log";
constexpr const char* kTimeFormat = "%Y.%m.%d-%H.%M.%S";
constexpr size_t kTimeBufferSize = 80;
constexpr int64_t kMicrosPerSecond = 1000000;

// What the global log writer is told about a successful command.
constexpr int kWriterTraceLevel = 3;
constexpr int kRunCommandSourceLine = 2576;
constexpr const char* kRunCommandSignature =
    "int RunCommand(PZSO::SnapInfo*, const string&, std::string&, "
    "std::string&, int&)";

constexpr int kProcessFlags = 0;
constexpr int kProcessNotRun = -1;

// Where this thread's command-layer log lines go; null: to the request.
thread_local DeferredCommandLog* tDeferredLog = nullptr;

}  // namespace

void DeferCommandLog(std::function<void()> line) {
  tDeferredLog->lines_.push_back(std::move(line));
}

void DeferredCommandLog::Replay() {
  std::vector<std::function<void()>> lines;
  lines.swap(lines_);
  for (const auto& line : lines) line();
}

ScopedCommandLogDeferral::ScopedCommandLogDeferral(DeferredCommandLog* log)
    : previous_(tDeferredLog) {
  tDeferredLog = log;
}

ScopedCommandLogDeferral::~ScopedCommandLogDeferral() { tDeferredLog = previous_; }

void CliLog(PZSO::SnapInfo* si, int level, const char* function,
            const char* format, ...) {
  if (!si) return;
  va_list args;
  va_start(args, format);
  std::string text = FXString::FormatV(format, args);
  va_end(args);
  if (tDeferredLog) {
    std::string fn = function ? function : "";
    DeferCommandLog([si, level, fn, text] { si->log(level, fn.c_str(), "%s", text.c_str()); });
    return;
  }
  si->log(level, function, "%s", text.c_str());
}

int64_t CommandLayerNowMicros() { return PzClock::nowMicros(); }

void CommandLayerSleepMs(int64_t ms) { PzClock::sleepMs(ms); }

void GetCurrTime(std::string& out) {
  std::time_t now = std::time_t(CommandLayerNowMicros() / kMicrosPerSecond);
  std::tm local{};
  PzClock::localTime(now, &local);
  char buffer[kTimeBufferSize];
  size_t n = strftime(buffer, sizeof buffer, kTimeFormat, &local);
  out.assign(buffer, n);
}

int RunCommand(PZSO::SnapInfo* si, const std::string& cmd,
               std::string& output, std::string& error, int& exitCode) {
  static const char* kFn = "RunCommand";
  PzProcess process;
  int result = kProcessNotRun;
  int rc = process.system(cmd, &output, &error, kProcessFlags, false);
  if (rc != kProcessNotRun) {
    output += error;
    exitCode = rc;
    result = 0;
  }
  if (result == kProcessNotRun) {
    CliLog(si, LOG_FAILURE, kFn, "Failed to execute command [%s] error [%s]",
           cmd.c_str(), error.c_str());
  } else if (exitCode != 0) {
    CliLog(si, LOG_FAILURE, kFn,
           "Command [%s] completed with exit code [%d] error [%s] output [%s]",
           cmd.c_str(), exitCode, error.c_str(), output.c_str());
  } else if (g_ptrLogWriter && g_ptrLogWriter->getLevel() > LOG_FAILURE) {
    auto trace = [cmd, output] {
      g_ptrLogWriter->write(kWriterTraceLevel, kRunCommandSignature,
                            kRunCommandSourceLine,
                            "Successfully executed command [%s] output [%s] ",
                            cmd.c_str(), output.c_str());
    };
    if (tDeferredLog)
      DeferCommandLog(trace);
    else
      trace();
  }
  return result;
}

int RunCommand(PZSO::SnapInfo* si, const std::string& cmd,
               std::string& output, std::string& error, int& exitCode,
               const std::string& inputFile, bool keepInputFile) {
  int result = RunCommand(si, cmd, output, error, exitCode);
  if (!inputFile.empty() && !keepInputFile) CWvFile::remove(inputFile);
  return result;
}

SymcliCommand::~SymcliCommand() {
  if (!deviceFile_.empty() && !(ran_ && keepDeviceFile_)) CWvFile::remove(deviceFile_);
}

void SymcliCommand::OwnDeviceFile(const std::string& path, bool keepAfterRun) {
  deviceFile_ = path;
  keepDeviceFile_ = keepAfterRun;
}

bool SymcliCommand::Run(const std::string& commandLine) {
  output_.clear();
  error_.clear();
  exitCode_ = 0;
  ran_ = RunCommand(si_, commandLine, output_, error_, exitCode_) == 0;
  return succeeded();
}

bool SymcliCommand::said(const char* marker) const {
  return ran_ && output_.find(marker) != std::string::npos;
}

namespace {

// Opens, writes and closes `path`; `openFailed` tells an open failure apart.
bool WriteWhole(const std::string& path, const std::string& content,
                bool* openFailed, CWvError* error) {
  CWvFile file;
  *openFailed = false;
  if (!file.open(path, kOutputFileFlags, kOutputFileMode, error)) {
    *openFailed = true;
    return false;
  }
  if (!file.write(content.data(), content.size(), error)) {
    file.close(nullptr);
    return false;
  }
  return file.close(error);
}

}  // namespace

bool WriteToFile(PZSO::SnapInfo* si, const std::string& content,
                 std::string& fileName) {
  static const char* kFn = "WriteToFile";
  fileName.clear();
  long long jobId = 0;
  if (!si || si->getJobParam(PZSO::JOB_PARAM_JOB_ID, &jobId) != 0) {
    CliLog(si, LOG_FAILURE, kFn, "Unable to get jobId.");
    return false;
  }
  std::string tempDir = PZPI_Base::getNebulonTempDirectory();
  if (tempDir.empty()) {
    CliLog(si, LOG_FAILURE, kFn, "Failed to get Nebulon Temp directory");
    return false;
  }
  std::string stamp;
  GetCurrTime(stamp);
  fileName = CWvString::Format(
      kDeviceFilePattern,
      {tempDir, kPathSeparator, std::to_string(jobId), stamp});
  bool openFailed = false;
  CWvError error;
  if (WriteWhole(fileName, content, &openFailed, &error)) return true;
  if (openFailed) {
    CliLog(si, LOG_FAILURE, kFn, "Unable to create input  file [%s]. error [%s]",
           fileName.c_str(), error.text().c_str());
  } else {
    CliLog(si, LOG_FAILURE, kFn, "Unable to write to file [%s]. error [%s]",
           fileName.c_str(), error.text().c_str());
    CWvFile::remove(fileName);
  }
  return false;
}

bool WriteToFile(const std::string& content, std::string& fileName) {
  static const char* kFn = "WriteToFile";
  EvDebug debug("WriteToFile");
  std::string stamp;
  GetCurrTime(stamp);
  std::string name = fileName + stamp + kLogFileSuffix;
  std::string dir;
  if (!PZPlatformInfo::getDirectory(kLogDirectorySetting, &dir) ||
      dir.empty()) {
    debug.Debug(kFn, "Failed to get Vornel log file directory path");
    return false;
  }
  fileName = dir + kPathSeparator + name;
  debug.Debug(kFn, "Saving text to file [%s]", fileName.c_str());
  bool openFailed = false;
  CWvError error;
  if (WriteWhole(fileName, content, &openFailed, &error)) return true;
  if (openFailed) {
    debug.Error(kFn, "Failed to open file [%s] Error [%s]", fileName.c_str(),
                error.text().c_str());
  } else {
    debug.Error(kFn, "Failed to write to file [%s] Error [%s]",
                fileName.c_str(), error.text().c_str());
  }
  return false;
}

namespace {
// isspace of the C locale, which the plug-in runs in, without a call per
// character: blank, \t, \n, \v, \f, \r.
inline bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

void skipSpace(const char*& p) {
  while (p && *p && IsBlank(*p)) ++p;
}

std::string skipToSpace(const char*& p) {
  if (!p) return std::string();
  const char* start = p;
  while (*p && !IsBlank(*p)) ++p;
  return std::string(start, size_t(p - start));
}

void skipColumns(const char*& p, int n) {
  skipSpace(p);
  for (int i = 0; i < n; ++i) {
    skipToSpace(p);
    skipSpace(p);
  }
}
