// GoogleMock stand-in for the array command interface (all operations).
#pragma once

#include <gmock/gmock.h>

#include <list>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "array/ArrayAPI.h"

namespace testing_host {

using DevPropMap = std::unordered_map<std::string, VMAXLun>;
using SGByHBAMap =
    std::unordered_map<std::string, std::unordered_set<std::string>>;
using RestoreSessionMap =
    std::unordered_map<std::string, std::list<std::string>>;
using StrList = std::list<std::string>;
using StrSet = std::unordered_set<std::string>;

class MockArrayAPI : public ArrayAPI {
 public:
  MOCK_METHOD(bool, init, (ArrayAPIInitParams & params), (override));
  MOCK_METHOD(bool, getPowerMaxDetails, (VMAXArrayInfo & info), (override));
  MOCK_METHOD(bool, GetDevProps,
              (const std::string& sid, const std::string& dev, VMAXLun& lun),
              (override));
  MOCK_METHOD(bool, GetDevProps,
              (const std::string& sid, const StrList& devs, DevPropMap& props),
              (override));
  MOCK_METHOD(bool, GetSnapInfo, (VMAXSnapInfo & info, bool withLinkDevs),
              (override));
  MOCK_METHOD(bool, GetSnapInfo, (std::list<VMAXSnapInfo> & infos),
              (override));
  MOCK_METHOD(bool, CreateSnaps, (VMAXSnapParamList & list), (override));
  MOCK_METHOD(bool, DeleteSnaps, (VMAXSnapParamList & list), (override));
  MOCK_METHOD(bool, LinkTarget, (VMAXSnapParamList & list), (override));
  MOCK_METHOD(bool, UnlinkTarget, (VMAXSnapParamList & list), (override));
  MOCK_METHOD(bool, GetLinkDevsSnap, (VMAXSnapInfo & info), (override));
  MOCK_METHOD(bool, IsSnapLinked, (VMAXSnapParamList & list), (override));
  MOCK_METHOD(bool, GetSGListByDevice,
              (const std::string& sid, const std::string& dev, StrList& sgs),
              (override));
  MOCK_METHOD(bool, GetSGListByHBA,
              (const std::string& sid, const StrList& wwpns,
               SGByHBAMap& sgByHba),
              (override));
  MOCK_METHOD(bool, SGDevAdd,
              (const std::string& sid, const StrList& devs,
               const std::string& sg),
              (override));
  MOCK_METHOD(bool, SGDevRemove,
              (const std::string& sid, const StrList& devs,
               const std::string& sg),
              (override));
  MOCK_METHOD(bool, GetDevListBySG,
              (const std::string& sid, const std::string& sg, StrSet& devs),
              (override));
  MOCK_METHOD(bool, GetChildSGList,
              (const std::string& sid, const std::string& sg,
               std::vector<std::string>& children),
              (override));
  MOCK_METHOD(bool, GetParentSGList, (const std::string& sid, StrSet& sgs),
              (override));
  MOCK_METHOD(bool, GetDevListLinked, (const std::string& sid, StrSet& devs),
              (override));
  MOCK_METHOD(bool, GetDevListUnmapped,
              (const std::string& sid, const std::string& sg, StrSet& devs),
              (override));
  MOCK_METHOD(bool, GetFreeTDEVListBySG,
              (const std::string& sid, const std::string& sg,
               std::list<VMAXLun>& luns),
              (override));
  MOCK_METHOD(bool, IsAllowedWWPN, (const std::string& wwpn), (override));
  MOCK_METHOD(bool, IsAllowedMaskingView, (const std::string& view),
              (override));
  MOCK_METHOD(bool, RestoreSnaps, (VMAXSnapParamList & list), (override));
  MOCK_METHOD(bool, RestoreCleanupAll,
              (const std::string& sid, const StrList& devs), (override));
  MOCK_METHOD(bool, RestoreCleanup,
              (const std::string& sid, const std::string& snapName,
               const StrList& devs, bool waitForCompletion),
              (override));
  MOCK_METHOD(bool, GetRestoreSessions,
              (const std::string& sid, const StrList& devs,
               RestoreSessionMap& sessions),
              (override));
  MOCK_METHOD(bool, WaitForRestoreCompletion,
              (const std::string& sid, const std::string& snapName,
               const StrList& devs),
              (override));
  MOCK_METHOD(bool, DeleteRestoreSessions,
              (const std::string& sid, const std::string& snapName,
               const StrList& devs),
              (override));
  MOCK_METHOD(bool, GetSEVersion, (unsigned long& version), (override));
};

}  // namespace testing_host
