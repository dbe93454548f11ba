// Vocabulary of the host framework: snapshot statuses, metadata types, job
// parameters and flags the host defines and the plug-in uses by value.
#pragma once

#include <cstdint>

namespace PZSO {

enum SnapStatus : int {
  SNAP_STATUS_NO_SNAPSHOT = 0,
  SNAP_STATUS_PREPARED = 1,
  SNAP_STATUS_PREPARE_FAILED = 2,
  SNAP_STATUS_CREATED = 5,
  SNAP_STATUS_CREATE_FAILED = 6,
  SNAP_STATUS_MAP_FAILED = 11,
  SNAP_STATUS_MAPPED = 12,
  SNAP_STATUS_UNMAPPED = 14,
  SNAP_STATUS_UNMAP_FAILED = 15,
  SNAP_STATUS_DELETED = 20,
  SNAP_STATUS_DELETE_FAILED = 21,
  SNAP_STATUS_REVERTED = 22,
  SNAP_STATUS_REVERT_FAILED = 23,
  SNAP_STATUS_VANISHED = 24,
};

// Metadata item types (device metadata and request metadata).
constexpr int SM_MDT_SNAP_UNIQUE_ID = 6;
constexpr int SM_MDT_REMOTE_EXEC_MSG = 60;
constexpr int SM_MDT_REMOTE_MSG_ID = 61;
constexpr int SM_MDT_VPLEX_BACKEND_DEVICE = 81;
constexpr int SM_MDT_REMOTE_REQUEST = 91;
constexpr int SM_MDT_MOUNT_TARGET_DEVICE = 149;
constexpr int SM_MDT_MAPPED_TARGET_DEVICE = 150;

// Job parameters (SnapInfo::getJobParam).
constexpr int JOB_PARAM_JOB_ID = 12;          // value: long long
constexpr int JOB_PARAM_OPERATION_SOURCE = 33;  // value: int
constexpr int OPERATION_SOURCE_TEST_TOOL = 4;

// Snap flags (SnapInfo::isSnapFlagSet / getSnapFlags).
constexpr int SNAP_FLAG_HYPERV_BACKUP = 0x1000;
constexpr int SNAP_FLAG_CLONE_MOUNT = 0x8000;
constexpr unsigned int SNAP_FLAG_SOURCE_IS_WWN = 0x20000000u;

// Job flags (SnapInfo::isJobFlagSet / setJobFlag / clearJobFlag).
constexpr uint64_t JOB_FLAG_CLONE_MOUNT = 0x8000ull;
constexpr uint64_t JOB_FLAG_DECOUPLED_CLONE = 0x200000000000ull;

// Platform type bit: the host is managed by a central management server.
constexpr unsigned int PLATFORM_TYPE_MANAGED_CLIENT = 0x1u;

// reportEvent severities.
constexpr int EVENT_SEVERITY_INFO = 0;
constexpr int EVENT_SEVERITY_WARNING = 1;
constexpr int EVENT_SEVERITY_ERROR = 2;

}  // namespace PZSO
