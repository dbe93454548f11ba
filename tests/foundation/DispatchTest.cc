#include <gtest/gtest.h>

#include <cstring>

#include "engine/PZSOVMAX.h"
#include "hostruntime/Env.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using testing_host::FakeEnv;
using testing_host::FakeOSUtil;
using testing_host::FakeSnapInfo;

namespace {

class DispatchTest : public ::testing::Test {
 protected:
  FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  FakeSnapInfo a, b;
  FakeOSUtil util;
};

}  // namespace

// Count first, then the list, then the util (named even when a later request
// is null too), then each request: one failure line each.
TEST_F(DispatchTest, ValidationOrderAndMessages) {
  SnapInfo* both[] = {&a, &b};
  SnapInfo* firstNull[] = {nullptr, &b};
  SnapInfo* laterNull[] = {&a, nullptr};
  struct Case {
    SnapInfo** list;
    short count;
    bool withUtil;
    const char* line;  // null: valid
  } cases[] = {
      {both, 2, true, nullptr},
      {both, 0, true, "Invalid Device Count received [0]"},
      {nullptr, -3, false, "Invalid Device Count received [-3]"},
      {nullptr, 1, true, "Snap device list is NULL."},
      {firstNull, 2, false, "Snap device list is NULL."},
      {laterNull, 2, false, "Snap Util object is NULL."},
      {laterNull, 2, true, "Invalid Snap Info object received."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line ? c.line : "valid");
    env.logs.clear();
    EXPECT_EQ(c.line == nullptr, validateInputParams(c.list, c.count, c.withUtil ? &util : nullptr));
    ASSERT_EQ(c.line ? 1u : 0u, env.logs.size());
    if (c.line) { EXPECT_EQ(c.line, env.logs[0].text); }
  }
}

TEST_F(DispatchTest, FirstErrorWins) {
  setError(&a, 60551, "first");
  setError(&a, 62003, "second");
  EXPECT_EQ(a.errorCode, 60551);
  EXPECT_EQ(a.errorText, "first");
  EXPECT_EQ(a.errorHistory.size(), 1u);
  setError(&b, 62003, nullptr);  // no text: nothing set
  EXPECT_TRUE(b.errorHistory.empty());
  setError(nullptr, 1, "x");
  b.errorCode = 0;
  b.errorText = "stale text without a code";
  setError(&b, 62002, "host id");
  EXPECT_EQ(b.errorCode, 62002);
}

// The names appear in the remote side's request lines ("Msg-Id [7][DELETE]").
TEST(RemoteOpName, MessageIdTable) {
  const char* names[] = {"UNKNOWN", "PREPARE", "SNAP", "REVERT", "RECONCILE", "MAP",
                         "UNMAP", "DELETE", "PREPARE-REMOTE", "POST-SNAP", "UNKNOWN"};
  for (short id = 0; id <= 10; ++id) EXPECT_EQ(getRemoteOpNameUsingMsgId(id), names[id]);
}

TEST(SetErrorMessage, AlwaysTerminatesWithinSize) {
  char buffer[8];
  memset(buffer, 'X', sizeof buffer);
  setErrorMessage("Invalid parameters received", buffer, 5);
  EXPECT_STREQ(buffer, "Inva");
  EXPECT_EQ(buffer[5], 'X');  // nothing beyond the given size
  memset(buffer, 'X', sizeof buffer);
  setErrorMessage("ab", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "ab");
  setErrorMessage("ab", buffer, 1);
  EXPECT_STREQ(buffer, "");
  memset(buffer, 'X', sizeof buffer);
  setErrorMessage("ab", buffer, 0);
  setErrorMessage("ab", buffer, -4);
  setErrorMessage(nullptr, buffer, 8);
  EXPECT_EQ(buffer[0], 'X');
  setErrorMessage("ab", nullptr, 8);
}

TEST_F(DispatchTest, PrepareRemoteRefusesEveryRequest) {
  SnapInfo* both[] = {&a, &b};
  EXPECT_EQ(pzso_prepareRemoteSnaps(both, 2, &util), 1);
  for (FakeSnapInfo* r : {&a, &b}) {
    EXPECT_EQ(r->status, 2);
    EXPECT_EQ(r->errorCode, 62008);
    EXPECT_EQ(r->errorText,
              "Replication is not supported with Dell EMC TimeFinder SnapVX(SYMCLI) "
              "engine. Please remove Replica Copy association for this subclient.");
  }
  FakeSnapInfo c;
  SnapInfo* withNull[] = {&c, nullptr};
  EXPECT_EQ(pzso_prepareRemoteSnaps(withNull, 2, &util), 1);
  EXPECT_TRUE(c.statusHistory.empty());
  EXPECT_TRUE(c.errorHistory.empty());
}

TEST_F(DispatchTest, EntryPointsWithoutWork) {
  SnapInfo* one[] = {&a};
  EXPECT_EQ(pzso_preSnapDevices(one, 1, &util), 0);
  EXPECT_EQ(pzso_isMapped(one, 1, &util), 1);
  EXPECT_EQ(vmax_SRDFMetroWorker(one, 1, &util), 0);
  EXPECT_TRUE(a.statusHistory.empty());
  unsigned short major = 9, minor = 9, patch = 9;
  pzso_version(&major, nullptr, &patch);
  EXPECT_EQ(major, 9);
  pzso_version(&major, &minor, &patch);
  EXPECT_EQ(major * 100 + minor * 10 + patch, 100);
}
