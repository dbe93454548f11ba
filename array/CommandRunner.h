// The command layer's free functions: running one SYMCLI command line through
// the host's process runner, writing the device file handed to SYMCLI with
// -file, the local time stamp, the text-scanning helpers every output parser
// uses, and the layer's one clock and sleep access.
#pragma once

#include <cstdint>
#include <string>

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

// Log levels of the request log.
constexpr int kLogDetail = 0;
constexpr int kLogProgress = 1;
constexpr int kLogFailure = 2;
constexpr int kLogTrace = 3;
