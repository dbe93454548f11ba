// The array command interface. The virtual operations stand in a fixed slot
// order after the destructors; never reorder them.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/VMAXParams.h"

enum ArrayAPIType { ARRAY_API_CLI = 0 };

class ArrayAPI {
 public:
  virtual ~ArrayAPI();

  virtual bool init(ArrayAPIInitParams& params) = 0;
  virtual bool getPowerMaxDetails(VMAXArrayInfo& info) = 0;
  virtual bool GetDevProps(const std::string& sid, const std::string& dev,
                           VMAXLun& lun) = 0;
  virtual bool GetDevProps(const std::string& sid,
                           const std::list<std::string>& devs,
                           std::unordered_map<std::string, VMAXLun>& props) = 0;
  virtual bool GetSnapInfo(VMAXSnapInfo& info, bool withLinkDevs) = 0;
  virtual bool GetSnapInfo(std::list<VMAXSnapInfo>& infos) = 0;
  virtual bool CreateSnaps(VMAXSnapParamList& list) = 0;
  virtual bool DeleteSnaps(VMAXSnapParamList& list) = 0;
  virtual bool LinkTarget(VMAXSnapParamList& list) = 0;
  virtual bool UnlinkTarget(VMAXSnapParamList& list) = 0;
  virtual bool GetLinkDevsSnap(VMAXSnapInfo& info) = 0;
  virtual bool IsSnapLinked(VMAXSnapParamList& list) = 0;
  virtual bool GetSGListByDevice(const std::string& sid,
                                 const std::string& dev,
                                 std::list<std::string>& sgs) = 0;
  virtual bool GetSGListByHBA(
      const std::string& sid, const std::list<std::string>& wwpns,
      std::unordered_map<std::string, std::unordered_set<std::string>>&
          sgByHba) = 0;
  virtual bool SGDevAdd(const std::string& sid,
                        const std::list<std::string>& devs,
                        const std::string& sg) = 0;
  virtual bool SGDevRemove(const std::string& sid,
                           const std::list<std::string>& devs,
                           const std::string& sg) = 0;
  virtual bool GetDevListBySG(const std::string& sid, const std::string& sg,
                              std::unordered_set<std::string>& devs) = 0;
  virtual bool GetChildSGList(const std::string& sid, const std::string& sg,
                              std::vector<std::string>& children) = 0;
  virtual bool GetParentSGList(const std::string& sid,
                               std::unordered_set<std::string>& sgs) = 0;
  virtual bool GetDevListLinked(const std::string& sid,
                                std::unordered_set<std::string>& devs) = 0;
  virtual bool GetDevListUnmapped(const std::string& sid,
                                  const std::string& sg,
                                  std::unordered_set<std::string>& devs) = 0;
  virtual bool GetFreeTDEVListBySG(const std::string& sid,
                                   const std::string& sg,
                                   std::list<VMAXLun>& luns) = 0;
  virtual bool IsAllowedWWPN(const std::string& wwpn) = 0;
  virtual bool IsAllowedMaskingView(const std::string& view) = 0;
  virtual bool RestoreSnaps(VMAXSnapParamList& list) = 0;
  virtual bool RestoreCleanupAll(const std::string& sid,
                                 const std::list<std::string>& devs) = 0;
  virtual bool RestoreCleanup(const std::string& sid,
                              const std::string& snapName,
                              const std::list<std::string>& devs,
                              bool waitForCompletion) = 0;
  virtual bool GetRestoreSessions(
      const std::string& sid, const std::list<std::string>& devs,
      std::unordered_map<std::string, std::list<std::string>>& sessions) = 0;
  virtual bool WaitForRestoreCompletion(const std::string& sid,
                                        const std::string& snapName,
                                        const std::list<std::string>& devs) = 0;
  virtual bool DeleteRestoreSessions(const std::string& sid,
                                     const std::string& snapName,
                                     const std::list<std::string>& devs) = 0;
  virtual bool GetSEVersion(unsigned long& version) = 0;

  // Constructs the command-line implementation, whatever `type` holds.
  static std::shared_ptr<ArrayAPI> getInstance(PZSO::SnapInfo* snapInfo,
                                               ArrayAPIType type);

  PZSO::SnapInfo* snapInfo = nullptr;
  ArrayDetails arrayDetails;
  unsigned long seVersion = 0;
};
