// The per-array orchestration object used by every operation worker.
#pragma once

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "array/ArrayAPI.h"
#include "common/VMAXSnapConfig.h"
#include "host/SnapInfo.h"
#include "common/VMAXParams.h"

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

 private:
  // The steps of ReserveTarget.
  bool ReserveFoundTargets(VMAXSnapParamList& w, VMAXSnapParamList& l, long jobId,
                           const std::vector<bool>& wasReserved);
  bool RecordTargets(VMAXSnapParamList& w, VMAXSnapParamList& l, long jobId,
                     const std::vector<bool>& wasReserved);
  bool KeepWhatAFailedLinkLinked(VMAXSnapParamList& w, long jobId,
                                 const std::vector<bool>& wasReserved);
  // The steps of MapSnaps and UnmapSnaps.
  bool ChooseMountGroup(VMAXSnapParamList& l, const std::vector<std::string>& reachable,
                        std::string* sg, std::unordered_set<std::string>* inGroup);
  bool UnmapStaleTargets(VMAXSnapParamList& l, const std::vector<std::string>& targets,
                         long jobId, size_t* unlinked);
  bool DetachTargets(VMAXSnapParamList& w, long jobId);
};

// Target reservation records in the host database.
bool GetActiveSnaps(PZSO::SnapInfo* si, long jobId, std::string arrayName,
                    std::unordered_set<std::string>& activeDevs);
bool SetActiveSnaps(PZSO::SnapInfo* si, long jobId, VMAXSnapParamList& list);
bool DeleteActiveSnaps(PZSO::SnapInfo* si, long jobId,
                       VMAXSnapParamList& list);
