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

// A count below one, no list, no util or a null request is refused, with one
// failure line.
TEST_F(DispatchTest, InvalidInputIsRefused) {
  SnapInfo* both[] = {&a, &b};
  SnapInfo* laterNull[] = {&a, nullptr};
  struct Case {
    SnapInfo** list;
    short count;
    bool withUtil, valid;
  } cases[] = {
      {both, 2, true, true},     {both, 0, true, false},      {nullptr, -3, false, false},
      {nullptr, 1, true, false}, {laterNull, 2, false, false}, {laterNull, 2, true, false},
  };
  for (const Case& c : cases) {
    env.logs.clear();
    EXPECT_EQ(c.valid, validateInputParams(c.list, c.count, c.withUtil ? &util : nullptr));
    EXPECT_EQ(c.valid ? 0u : 1u, env.logs.size());
  }
}

TEST_F(DispatchTest, FirstErrorWins) {
  setError(&a, 60551, "first");
  setError(&a, 62003, "second");
  EXPECT_EQ(a.errorCode, 60551);
  EXPECT_EQ(a.errorHistory.size(), 1u);
  setError(&b, 62003, nullptr);  // no text: nothing set
  EXPECT_TRUE(b.errorHistory.empty());
  b.errorCode = 0;
  b.errorText = "stale text without a code";
  setError(&b, 62002, "host id");
  EXPECT_EQ(b.errorCode, 62002);
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
}
