// Shared set-up of the orchestration tests: a fake host environment, fake
// requests, a strict array mock and a VMAXAPI bound to them.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "orchestration/VMAXAPI.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"
#include "tests/support/MockArrayAPI.h"

namespace orch_test {

using testing_host::FakeSnapInfo;
using testing_host::MockArrayAPI;

constexpr char kSerial[] = "000197900123";
constexpr char kTargetSG[] = "PZ_TARGETS";
constexpr long kJobId = 4711;

class OrchestrationTest : public ::testing::Test {
 protected:
  OrchestrationTest()
      : scope_(&env),
        mock(std::make_shared<::testing::StrictMock<MockArrayAPI>>()),
        api(nullptr, &os) {
    api.arrayApi = mock;
    api.config.linkDeviceStorageGroup = kTargetSG;
  }

  // A clean slate for the next case of a table: no requests, settings,
  // waits or database entries.
  void Fresh() {
    reqs.clear();
    api.snapInfo = nullptr;
    env.settings.clear();
    env.sleeps.clear();
    env.database = testing_host::InMemoryHostDatabase();
  }

  // A request with its own host snap id; the first one also logs for api.
  FakeSnapInfo& Request(int smSnapId) {
    reqs.push_back(std::make_unique<FakeSnapInfo>());
    FakeSnapInfo& r = *reqs.back();
    r.smSnapId = smSnapId;
    r.jobParams[PZSO::JOB_PARAM_OPERATION_SOURCE] = 0;
    if (!api.snapInfo) api.snapInfo = &r;
    return r;
  }

  VMAXSnapParam Param(FakeSnapInfo& r, const std::string& source,
                      const std::string& snap,
                      const std::string& target = "") {
    VMAXSnapParam p(&r);
    p.sourceDevice = source;
    p.snapUid = snap;
    p.targetDevice = target;
    return p;
  }

  VMAXSnapParamList List() {
    VMAXSnapParamList l;
    l.serial = kSerial;
    return l;
  }

  void Hold(int smSnapId, const std::string& source, const std::string& target,
            long long jobId = 9999) {
    env.database.reservations.push_back({smSnapId, kSerial, source, target, jobId, {}});
  }

  // The array answers the link query: `linked` holds the target devices
  // that are linked; the others lose their target, as the array layer does.
  void LinkedOnArray(std::set<std::string> linked) {
    EXPECT_CALL(*mock, IsSnapLinked(::testing::_))
        .WillRepeatedly(::testing::Invoke([linked](VMAXSnapParamList& l) {
          for (auto& p : l.params) {
            p.targetLinked = linked.count(p.targetDevice) > 0;
            if (!p.targetLinked) p.targetDevice.clear();
          }
          return true;
        }));
  }

  bool Held(const std::string& target, int smSnapId) const {
    for (const auto& r : env.database.reservations)
      if (r.target == target && r.smSnapId == smSnapId) return true;
    return false;
  }

  testing_host::FakeEnv env;
  hostrt::ScopedEnv scope_;
  testing_host::FakeOSUtil os;
  std::vector<std::unique_ptr<FakeSnapInfo>> reqs;
  std::shared_ptr<::testing::StrictMock<MockArrayAPI>> mock;
  VMAXAPI api;
};

inline VMAXLun Lun(const std::string& dev, uint64_t cylinders) {
  VMAXLun l;
  l.sid = kSerial;
  l.deviceId = dev;
  l.cylinders = cylinders;
  return l;
}

}  // namespace orch_test
