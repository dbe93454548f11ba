// Remote execution through a transport command run locally: this test
// program itself plays the remote host when PZ_REMOTE_SIDE names a mode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>

#include "host/HostConstants.h"
#include "hostruntime/HostRequest.h"
#include "hostruntime/PosixEnv.h"
#include "tests/runtime/TempDir.h"

namespace {

constexpr const char* kModeVariable = "PZ_REMOTE_SIDE";
constexpr int kAnswerLimitMs = 60000;
constexpr int kHangLimitMs = 300;

// The remote side answers before the test framework writes anything to
// standard output, so the answer is all the caller reads.
int RemoteSide(const std::string& mode) {
  std::string input((std::istreambuf_iterator<char>(std::cin)),
                    std::istreambuf_iterator<char>());
  if (mode == "hang") pause();
  if (mode == "garbage") {
    std::cout << "Segmentation fault (core dumped)\n";
    return 0;
  }
  if (mode == "fail") return 3;
  // "short": a good answer, but to one request fewer than were sent.
  std::vector<std::unique_ptr<hostrt::HostSnapInfo>> requests;
  std::string error;
  if (!hostrt::RequestsFromJson(nlohmann::json::parse(input, nullptr, false),
                                &requests, &error))
    return 1;
  std::vector<hostrt::HostSnapInfo*> view;
  for (auto& r : requests) {
    r->setStatus(PZSO::SNAP_STATUS_MAPPED);
    r->setRequestMetadata(PZSO::SM_MDT_REMOTE_EXEC_MSG, "0");
    view.push_back(r.get());
  }
  view.pop_back();
  std::cout << hostrt::ToJson(view).dump();
  return 0;
}

struct RemoteSideHook {
  RemoteSideHook() {
    if (const char* mode = getenv(kModeVariable)) {
      std::cout.flush();
      int rc = RemoteSide(mode);
      std::cout.flush();
      _exit(rc);
    }
  }
} remoteSideHook;

class RemoteTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A limit that no start of this program reaches, however busy the
    // machine; the hang case sets a short one.
    Transport(kAnswerLimitMs);
    for (int i = 0; i < 2; ++i) {
      requests[i].smSnapId = 10 + i;
      requests[i].status = PZSO::SNAP_STATUS_CREATED;
      requests[i].requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID] = "5";
    }
  }
  void TearDown() override { unsetenv(kModeVariable); }
  void Transport(int limitMs) {
    char self[4096] = {0};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::ofstream(home.File("settings.ini"), std::ios::trunc)
        << "[Host]\nremoteTimeoutMs = " << limitMs << "\n[RemoteClients]\nma2 = \""
        << self << "\" --as-remote\n";
    std::string error;
    ASSERT_TRUE(env.ReloadSettings(&error)) << error;
  }
  bool Run(const char* mode) {
    setenv(kModeVariable, mode, 1);
    return util.executeOnRemoteClient("ma2");
  }
  void ExpectUntouched() {
    for (auto& r : requests) {
      EXPECT_EQ(PZSO::SNAP_STATUS_CREATED, r.status);
      EXPECT_TRUE(r.devicePath.empty());
      EXPECT_EQ(0u, r.requestMetadata.count(PZSO::SM_MDT_REMOTE_EXEC_MSG));
      EXPECT_TRUE(r.events.empty());
    }
  }

  runtime_test::TempDir home;
  hostrt::PosixEnv env{home.path()};
  hostrt::ScopedEnv scope{&env};
  hostrt::HostSnapInfo requests[2];
  hostrt::HostOSUtil util{{&requests[0], &requests[1]}, 4711};
};

// A good answer is applied end to end (tests/e2e); these are the broken ones.
// Only the hang runs under a short limit, so the others fail for their own
// reason however slowly this program starts.
TEST_F(RemoteTransportTest, GarbageShortFailedOrHungTransportsApplyNothing) {
  for (const std::string mode : {"garbage", "short", "fail", "hang"}) {
    if (mode == "hang") Transport(kHangLimitMs);
    EXPECT_FALSE(Run(mode.c_str())) << mode;
    EXPECT_FALSE(util.lastRemoteError.empty()) << mode;
    ExpectUntouched();
  }
  EXPECT_NE(std::string::npos, util.lastRemoteError.find("within 300 ms"))
      << util.lastRemoteError;
  EXPECT_FALSE(util.executeOnRemoteClient("unknown"));
  EXPECT_NE(std::string::npos, util.lastRemoteError.find("no remote transport"));
}

}  // namespace
