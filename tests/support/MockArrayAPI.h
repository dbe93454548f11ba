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
using SGByHBAMap = std::unordered_map<std::string, std::unordered_set<std::string>>;
using RestoreSessionMap = std::unordered_map<std::string, std::list<std::string>>;
using StrList = std::list<std::string>;
using StrSet = std::unordered_set<std::string>;

class MockArrayAPI : public ArrayAPI {
 public:
  MOCK_METHOD(bool, init, (ArrayAPIInitParams&), (override));
  MOCK_METHOD(bool, getPowerMaxDetails, (VMAXArrayInfo&), (override));
  MOCK_METHOD(bool, GetDevProps, (const std::string&, const std::string&, VMAXLun&), (override));
  MOCK_METHOD(bool, GetDevProps, (const std::string&, const StrList&, DevPropMap&), (override));
  MOCK_METHOD(bool, GetSnapInfo, (VMAXSnapInfo&, bool), (override));
  MOCK_METHOD(bool, GetSnapInfo, (std::list<VMAXSnapInfo>&), (override));
  MOCK_METHOD(bool, CreateSnaps, (VMAXSnapParamList&), (override));
  MOCK_METHOD(bool, DeleteSnaps, (VMAXSnapParamList&), (override));
  MOCK_METHOD(bool, LinkTarget, (VMAXSnapParamList&), (override));
  MOCK_METHOD(bool, UnlinkTarget, (VMAXSnapParamList&), (override));
  MOCK_METHOD(bool, GetLinkDevsSnap, (VMAXSnapInfo&), (override));
  MOCK_METHOD(bool, IsSnapLinked, (VMAXSnapParamList&), (override));
  MOCK_METHOD(bool, GetSGListByDevice, (const std::string&, const std::string&, StrList&),
              (override));
  MOCK_METHOD(bool, GetSGListByHBA, (const std::string&, const StrList&, SGByHBAMap&), (override));
  MOCK_METHOD(bool, SGDevAdd, (const std::string&, const StrList&, const std::string&),
              (override));
  MOCK_METHOD(bool, SGDevRemove, (const std::string&, const StrList&, const std::string&),
              (override));
  MOCK_METHOD(bool, GetDevListBySG, (const std::string&, const std::string&, StrSet&), (override));
  MOCK_METHOD(bool, GetChildSGList,
              (const std::string&, const std::string&, std::vector<std::string>&), (override));
  MOCK_METHOD(bool, GetParentSGList, (const std::string&, StrSet&), (override));
  MOCK_METHOD(bool, GetDevListLinked, (const std::string&, StrSet&), (override));
  MOCK_METHOD(bool, GetDevListUnmapped, (const std::string&, const std::string&, StrSet&),
              (override));
  MOCK_METHOD(bool, GetFreeTDEVListBySG,
              (const std::string&, const std::string&, std::list<VMAXLun>&), (override));
  MOCK_METHOD(bool, IsAllowedWWPN, (const std::string&), (override));
  MOCK_METHOD(bool, IsAllowedMaskingView, (const std::string&), (override));
  MOCK_METHOD(bool, RestoreSnaps, (VMAXSnapParamList&), (override));
  MOCK_METHOD(bool, RestoreCleanupAll, (const std::string&, const StrList&), (override));
  MOCK_METHOD(bool, RestoreCleanup, (const std::string&, const std::string&, const StrList&, bool),
              (override));
  MOCK_METHOD(bool, GetRestoreSessions, (const std::string&, const StrList&, RestoreSessionMap&),
              (override));
  MOCK_METHOD(bool, WaitForRestoreCompletion,
              (const std::string&, const std::string&, const StrList&), (override));
  MOCK_METHOD(bool, DeleteRestoreSessions,
              (const std::string&, const std::string&, const StrList&), (override));
  MOCK_METHOD(bool, GetSEVersion, (unsigned long&), (override));
};

}  // namespace testing_host
