// The words every layer of the engine shares: error codes, log levels,
// results of the entry points and workers, request logging, and the
// engine's host debug log.
#pragma once

#include <list>
#include <map>
#include <string>

#include "host/HostConstants.h"
#include "host/SnapInfo.h"

// Error codes set with setErrorInfo.
constexpr int PZ_ERR_NONE = 0;
constexpr int PZ_ERR_PREPARE = 2;
constexpr int PZ_ERR_REVERT_HOST_MAPPINGS = 60551;
constexpr int PZ_ERR_REVERT_NO_SNAP_DEVICE = 60558;
constexpr int PZ_ERR_HOST_IDENTIFIER = 62002;
constexpr int PZ_ERR_INITIATORS = 62003;
constexpr int PZ_ERR_SOURCE_INFO = 62005;
constexpr int PZ_ERR_REPLICATION_UNSUPPORTED = 62008;
constexpr int PZ_ERR_SNAP_METADATA = 62033;

// Log levels of SnapInfo::log.
constexpr int LOG_DETAIL = 0;
constexpr int LOG_PROGRESS = 1;
constexpr int LOG_FAILURE = 2;
constexpr int LOG_TRACE = 3;
// Levels of the host debug log.
constexpr int DBG_ERROR = -1;

// Results of exports and workers.
constexpr int PZ_RESULT_SUCCESS = 0;
constexpr int PZ_RESULT_FAILURE = 1;
constexpr int PZ_RESULT_PARTIAL = 2;

using PZSO::PZOSUtil;
using PZSO::SnapInfo;
using DeviceMap = std::map<std::string, std::list<std::string>>;

// Logs through a request when there is one.
#define PZ_LOG(si, level, function, ...)                \
  do {                                                  \
    if (si) (si)->log((level), (function), __VA_ARGS__); \
  } while (0)

// The process-wide host debug log of the plug-in.
class EvDebug;
EvDebug& engineDebug();
