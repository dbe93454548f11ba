// Forwarding to the remote snap MA and running forwarded operations.
#include "tests/engine/EngineFixture.h"

namespace engine_test {
namespace {

using RemoteTest = EngineTest;

// A remote snap MA named like this host runs locally; the local name is the
// client name on a managed client, and at most 255 characters.
TEST_F(RemoteTest, LocalClientNameRunsLocally) {
  env.hostName = "ma1";
  Add();
  ForwardTo("ma1");
  EXPECT_EQ(0, pzso_deleteSnaps(All(), N(), &os));
  EXPECT_TRUE(os.remoteCalls.empty());
  env.platformType = PZSO::PLATFORM_TYPE_MANAGED_CLIENT;
  env.clientName = "ma1_cs";
  EXPECT_EQ("ma1_cs", getLocalClientName());
  env.platformType = 0;
  env.hostName = std::string(300, 'h');
  EXPECT_EQ(255u, getLocalClientName().size());
}

// A forwarded operation sends its message id and returns the remote code;
// anything but 0 or 1 (or no answer) fails. The exchange items are cleared.
TEST_F(RemoteTest, ForwardedOperationReturnsTheRemoteCode) {
  struct Case {
    const char* name;
    int (*worker)(PZSO::SnapInfo**, short, PZOSUtil*, bool);
    const char* code;  // null: no code; "!": the remote call fails
    int result;
    const char* msgId;
  } cases[] = {
      {"snap", vmax_snapWorker, "0", 0, "2"},
      {"delete partial", vmax_deleteWorker, "2", 1, "7"},
      {"revert no code", vmax_revertWorker, nullptr, 1, nullptr},
      {"reconcile hex", vmax_reconcileWorker, "0x0", 1, nullptr},
      {"prepare empty", vmax_prepareWorker, "", 1, nullptr},
      {"unmap unreachable", vmax_unmapWorker, "!", 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    owned.clear();
    ptrs.clear();
    os.remoteCalls.clear();
    Add(Uid(kSerialA, "00A1B", "SNAP_1"));
    ForwardTo("ma2");
    std::string seen;
    os.remoteResult = std::string("!") != (c.code ? c.code : "");
    os.onRemote = nullptr;
    if (os.remoteResult)
      os.onRemote = [this, &seen, &c](const std::string&) {
        seen = R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID];
        if (c.code) R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG] = c.code;
        return true;
      };
    EXPECT_EQ(c.result, c.worker(All(), N(), &os, true));
    if (os.remoteResult) { EXPECT_EQ((std::vector<std::string>{"ma2"}), os.remoteCalls); }
    if (c.msgId) { EXPECT_EQ(c.msgId, seen); }
    if (!c.result) { EXPECT_TRUE(R(0)->requestMetadata.empty()); }
    EXPECT_TRUE(env.runs.empty());
  }
}

// The remote side runs the operation named by the id and never forwards it
// again; unknown and non-decimal ids are refused without a return code.
TEST_F(RemoteTest, RemoteSideRunsKnownIdsOnly) {
  Add();
  Add();
  ForwardTo("ma2");
  auto Exec = [&](const char* id) {
    R(0)->requestMetadata.clear();
    if (id) R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID] = id;
    return pzso_execSnapEngineOp(All(), N(), &os);
  };
  for (const char* bad : {"0", "10", "-1", "4294967303", "5x", "", " ", "abc"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(1, Exec(bad));
    EXPECT_FALSE(R(0)->requestMetadata.count(PZSO::SM_MDT_REMOTE_EXEC_MSG));
  }
  EXPECT_EQ(1, Exec(nullptr));
  EXPECT_EQ(0, Exec("7"));
  EXPECT_EQ("0", R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG]);
  EXPECT_EQ(1, Exec("8"));
  EXPECT_EQ("1", R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG]);
  EXPECT_TRUE(os.remoteCalls.empty());
  // The prepare id ("8") failed every request with the prepare error.
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(62008, R(i)->errorCode);
  EXPECT_TRUE(env.runs.empty());
}

}  // namespace
}  // namespace engine_test
