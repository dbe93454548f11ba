// The per-array orchestration object used by every operation worker.
#pragma once

#include <memory>
#include <string>
#include <unordered_set>

#include "array/ArrayAPI.h"
#include "config/VMAXSnapConfig.h"
#include "host/SnapInfo.h"
#include "orchestration/VMAXParams.h"

class VMAXAPI {
 public:
  VMAXAPI(PZSO::SnapInfo* si, PZSO::PZOSUtil* os);
  VMAXAPI(VMAXAPI&&) = default;
  VMAXAPI& operator=(VMAXAPI&&) = default;

  bool Init(VMAXAPIInitParams& params);
  VMAXSnapConfig getSnapConfig() const;

  // Snapshot lifecycle.
  bool PrepareSnaps(VMAXSnapParamList& list);
  bool CreateSnaps(VMAXSnapParamList& list);
  bool DeleteSnaps(VMAXSnapParamList& list);
  bool ReconcileSnaps(VMAXSnapParamList& list);
  bool RevertSnaps(VMAXSnapParamList& list);
  bool GetSEVersion(unsigned long& version);

  // Target selection and reservation.
  bool FindTarget(VMAXSnapParamList& list,
                  std::unordered_set<std::string>& activeSnapDevs);
  bool ReserveTarget(VMAXSnapParamList& list, long jobId);

  // Array-side mapping and unmapping.
  bool MapSnaps(VMAXSnapParamList& list);
  bool UnMapDeviceFromAllHosts(VMAXMapParams& mapParams);
  bool UnmapSnaps(VMAXSnapParamList& list, long jobId);

  std::shared_ptr<ArrayAPI> arrayApi;
  PZSO::SnapInfo* snapInfo;
  PZSO::PZOSUtil* osUtil;
  VMAXSnapConfig config;
  int mode = 0;
};

// Target reservation records in the host database.
bool GetActiveSnaps(PZSO::SnapInfo* si, long jobId, std::string arrayName,
                    std::unordered_set<std::string>& activeDevs);
bool SetActiveSnaps(PZSO::SnapInfo* si, long jobId, VMAXSnapParamList& list);
bool DeleteActiveSnaps(PZSO::SnapInfo* si, long jobId,
                       VMAXSnapParamList& list);
