// The command-line implementation of ArrayAPI: builds SYMCLI command lines,
// runs them through RunCommand and parses their text output.
#pragma once

#include <list>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "array/ArrayAPI.h"
#include "common/VMAXSnapConfig.h"

// Names of the SYMCLI executables and the layer's path constants.
constexpr const char* kDefaultSymcliHome = "/opt/emc/SYMCLI";
constexpr const char* kSymcliBinDir = "bin";
constexpr const char* kSymcliPathSeparator = "/";
constexpr const char* kToolSymsnapvx = "symsnapvx";
constexpr const char* kToolSymsg = "symsg";
constexpr const char* kToolSymaccess = "symaccess";
constexpr const char* kToolSymdev = "symdev";
constexpr const char* kToolSymcli = "symcli";

// Newest Solutions Enabler version that prints the older "symsg show".
constexpr unsigned long kLastOldSymsgShowVersion = 9019999;

class ArrayAPI_CLI : public ArrayAPI {
 public:
  explicit ArrayAPI_CLI(PZSO::SnapInfo* si);
  ArrayAPI_CLI(const ArrayAPI_CLI&) = default;
  ArrayAPI_CLI& operator=(const ArrayAPI_CLI&) = default;
  ~ArrayAPI_CLI() override;

  bool init(ArrayAPIInitParams& params) override;
  bool getPowerMaxDetails(VMAXArrayInfo& info) override;
  bool GetDevProps(const std::string& sid, const std::string& dev,
                   VMAXLun& lun) override;
  bool GetDevProps(const std::string& sid, const std::list<std::string>& devs,
                   std::unordered_map<std::string, VMAXLun>& props) override;
  bool GetSnapInfo(VMAXSnapInfo& info, bool withLinkDevs) override;
  bool GetSnapInfo(std::list<VMAXSnapInfo>& infos) override;
  bool CreateSnaps(VMAXSnapParamList& list) override;
  bool DeleteSnaps(VMAXSnapParamList& list) override;
  bool LinkTarget(VMAXSnapParamList& list) override;
  bool UnlinkTarget(VMAXSnapParamList& list) override;
  bool GetLinkDevsSnap(VMAXSnapInfo& info) override;
  bool IsSnapLinked(VMAXSnapParamList& list) override;
  bool GetSGListByDevice(const std::string& sid, const std::string& dev,
                         std::list<std::string>& sgs) override;
  bool GetSGListByHBA(
      const std::string& sid, const std::list<std::string>& wwpns,
      std::unordered_map<std::string, std::unordered_set<std::string>>&
          sgByHba) override;
  bool SGDevAdd(const std::string& sid, const std::list<std::string>& devs,
                const std::string& sg) override;
  bool SGDevRemove(const std::string& sid, const std::list<std::string>& devs,
                   const std::string& sg) override;
  bool GetDevListBySG(const std::string& sid, const std::string& sg,
                      std::unordered_set<std::string>& devs) override;
  bool GetChildSGList(const std::string& sid, const std::string& sg,
                      std::vector<std::string>& children) override;
  bool GetParentSGList(const std::string& sid,
                       std::unordered_set<std::string>& sgs) override;
  bool GetDevListLinked(const std::string& sid,
                        std::unordered_set<std::string>& devs) override;
  bool GetDevListUnmapped(const std::string& sid, const std::string& sg,
                          std::unordered_set<std::string>& devs) override;
  bool GetFreeTDEVListBySG(const std::string& sid, const std::string& sg,
                           std::list<VMAXLun>& luns) override;
  bool IsAllowedWWPN(const std::string& wwpn) override;
  bool IsAllowedMaskingView(const std::string& view) override;
  bool RestoreSnaps(VMAXSnapParamList& list) override;
  bool RestoreCleanupAll(const std::string& sid,
                         const std::list<std::string>& devs) override;
  bool RestoreCleanup(const std::string& sid, const std::string& snapName,
                      const std::list<std::string>& devs,
                      bool waitForCompletion) override;
  bool GetRestoreSessions(
      const std::string& sid, const std::list<std::string>& devs,
      std::unordered_map<std::string, std::list<std::string>>& sessions)
      override;
  bool WaitForRestoreCompletion(const std::string& sid,
                                const std::string& snapName,
                                const std::list<std::string>& devs) override;
  bool DeleteRestoreSessions(const std::string& sid,
                             const std::string& snapName,
                             const std::list<std::string>& devs) override;
  bool GetSEVersion(unsigned long& version) override;

  // Child groups of a cascaded group as Solutions Enabler 9.2 and later
  // print them ("Child Storage Groups").
  bool GetChildSGListv2(const std::string& sid, const std::string& sg,
                        std::vector<std::string>& children);
  bool GetMVListByInitiator(const std::string& sid,
                            const std::string& initiator,
                            std::vector<std::string>& views);
  bool MaskViewInfoByName(const std::string& sid, const std::string& view,
                          VMAXMaskViewInfo& info);
  // Resolves symcliBinPath once per object.
  void PopulateSYMCLIPath();

  VMAXSnapConfig config;
  std::string symcliBinPath;

 private:
  std::string Tool(const char* name) const { return symcliBinPath + name; }
  // Writes a device file; logs "Failed to create file [%s]" on failure.
  bool WriteDeviceFile(const char* function, const std::string& content,
                       std::string& fileName);
  // Shared body of SGDevAdd and SGDevRemove.
  bool ChangeStorageGroup(const std::string& sid,
                          const std::list<std::string>& devs,
                          const std::string& sg, bool add);
  // After the tool refused a list because one device needed no change:
  // changes the devices of `devs` the group listing says still need it.
  bool FinishStorageGroupChange(const std::string& sid,
                                const std::list<std::string>& devs,
                                const std::string& sg, bool add);
  // MaskViewInfoByName; `notFound` tells a view the array does not have (or
  // a name no array would give) apart from a query that failed or was
  // killed at its time limit.
  // Adds the storage groups of one HBA's masking views (a parent group's
  // children in its place). False when a view cannot be read: the choice
  // among the host's groups would be made blind.
  bool AddViewGroups(const std::string& sid, const std::string& hba,
                     const std::vector<std::string>& views,
                     const std::unordered_set<std::string>& parents,
                     std::unordered_set<std::string>& groups);
  bool QueryMaskView(const std::string& sid, const std::string& view,
                     VMAXMaskViewInfo& info, bool* notFound);
  // Shared body of LinkTarget and UnlinkTarget.
  bool RunLinkCommand(VMAXSnapParamList& list, bool link);
};
