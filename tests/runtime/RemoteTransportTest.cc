// Remote execution through a transport command run locally: this test
// program itself plays the remote host when PZ_REMOTE_SIDE names a mode. A
// good answer is applied end to end (tests/e2e), and answers that do not fit
// the requests by RequestJsonTest; these are the transports that break.
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

// The remote side reads the whole request, then answers before the test
// framework writes anything to standard output.
struct RemoteSideHook {
  RemoteSideHook() {
    const char* mode = getenv(kModeVariable);
    if (!mode) return;
    std::string input((std::istreambuf_iterator<char>(std::cin)),
                      std::istreambuf_iterator<char>());
    if (std::string(mode) == "hang") pause();
    if (std::string(mode) == "garbage") std::cout << "Segmentation fault (core dumped)\n";
    std::cout.flush();
    _exit(std::string(mode) == "fail" ? 3 : 0);
  }
} remoteSideHook;

class RemoteTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto& r : requests) r.status = PZSO::SNAP_STATUS_CREATED;
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

  runtime_test::TempDir home;
  hostrt::PosixEnv env{home.path()};
  hostrt::ScopedEnv scope{&env};
  hostrt::HostSnapInfo requests[2];
  hostrt::HostOSUtil util{{&requests[0], &requests[1]}, 4711};
};

// Only the hang runs under a short limit, so the others fail for their own
// reason however slowly this program starts.
TEST_F(RemoteTransportTest, GarbageFailedOrHungTransportsApplyNothing) {
  for (const std::string mode : {"garbage", "fail", "hang"}) {
    Transport(mode == "hang" ? 300 : 60000);
    setenv(kModeVariable, mode.c_str(), 1);
    EXPECT_FALSE(util.executeOnRemoteClient("ma2")) << mode;
    EXPECT_FALSE(util.lastRemoteError.empty()) << mode;
    for (auto& r : requests) {
      EXPECT_EQ(PZSO::SNAP_STATUS_CREATED, r.status);
      EXPECT_TRUE(r.requestMetadata.empty());
    }
  }
  EXPECT_NE(std::string::npos, util.lastRemoteError.find("within 300 ms"))
      << util.lastRemoteError;
  EXPECT_FALSE(util.executeOnRemoteClient("unknown"));
  EXPECT_NE(std::string::npos, util.lastRemoteError.find("no remote transport"));
}

}  // namespace
