// Forwarding to the remote snap MA and running forwarded operations.
#include "tests/engine/EngineFixture.h"

namespace engine_test {
namespace {

class RemoteTest : public EngineTest {
 protected:
  void Configure(const std::string& ma) {
    for (auto& si : owned) si->snapConfigStrings["SMCONFIG_NAME_REMOTE_SNAP_MA"] = ma;
  }
  void RemoteAnswers(const std::string& code) {
    os.onRemote = [this, code](const std::string&) {
      seenMsgId = R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID];
      R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG] = code;
      return true;
    };
  }
  std::string seenMsgId;
};

TEST_F(RemoteTest, LocalClientNameRunsLocally) {
  env.hostName = "ma1";
  Add();
  Configure("ma1");
  EXPECT_EQ(0, pzso_deleteSnaps(All(), N(), &os));
  EXPECT_TRUE(os.remoteCalls.empty());
  EXPECT_TRUE(R(0)->hasLog(
      "Remote Snap MA [ma1] and current client [ma1] are same, continuing in local mode."));
  EXPECT_EQ(PZSO::SNAP_STATUS_DELETED, R(0)->status);
}

TEST_F(RemoteTest, ManagedClientUsesTheCentralName) {
  env.hostName = "ma1";
  env.platformType = PZSO::PLATFORM_TYPE_MANAGED_CLIENT;
  env.clientName = "ma1_cs";
  EXPECT_EQ("ma1_cs", getLocalClientName());
  env.platformType = 0;
  env.hostName = std::string(300, 'h');
  EXPECT_EQ(255u, getLocalClientName().size());
}

TEST_F(RemoteTest, ForwardedOperationReturnsTheRemoteCode) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Configure("ma2");
  RemoteAnswers("0");
  EXPECT_EQ(0, pzso_snapDevices(All(), N(), &os));
  EXPECT_EQ("2", seenMsgId);
  EXPECT_EQ((std::vector<std::string>{"ma2"}), os.remoteCalls);
  EXPECT_TRUE(env.runs.empty());
  // The exchange items are cleared afterwards.
  EXPECT_TRUE(R(0)->requestMetadata.empty());
  EXPECT_TRUE(R(0)->hasLog("Sending request to Remote Snap MA:[ma2]"));
}

TEST_F(RemoteTest, PartialRemoteResultIsAnInvalidCode) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Configure("ma2");
  RemoteAnswers("2");
  EXPECT_EQ(1, pzso_deleteSnaps(All(), N(), &os));
  EXPECT_EQ("7", seenMsgId);
  EXPECT_TRUE(R(0)->hasLog("Invalid Remote execution return code."));
}

TEST_F(RemoteTest, MissingOrUnreadableReturnCodeFails) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Configure("ma2");
  os.onRemote = [](const std::string&) { return true; };
  EXPECT_EQ(1, vmax_revertWorker(All(), N(), &os, true));
  EXPECT_TRUE(R(0)->hasLog(
      "Failed to get the metadata SM_MDT_REMOTE_EXEC_MSG containing return code"));
  RemoteAnswers("0x0");
  EXPECT_EQ(1, vmax_reconcileWorker(All(), N(), &os, true));
  EXPECT_TRUE(R(0)->hasLogContaining("not a decimal number"));
  RemoteAnswers("");
  EXPECT_EQ(1, vmax_prepareWorker(All(), N(), &os, true));
  os.onRemote = nullptr;
  os.remoteResult = false;
  EXPECT_EQ(1, vmax_unmapWorker(All(), N(), &os, true));
  EXPECT_TRUE(R(0)->hasLog("executeOnRemoteMA failed"));
}

TEST_F(RemoteTest, RemoteSideNeverForwardsAgain) {
  Add();
  Configure("ma2");
  R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID] = "7";
  EXPECT_EQ(0, pzso_execSnapEngineOp(All(), N(), &os));
  EXPECT_TRUE(os.remoteCalls.empty());
  EXPECT_EQ("0", R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG]);
  EXPECT_TRUE(R(0)->hasLog("Remote MA Msg-Id [7][DELETE]"));
}

// Unknown and non-decimal ids are refused without a return code and run
// nothing.
TEST_F(RemoteTest, BadIdsAreRefusedWithoutAReturnCode) {
  Add();
  for (const char* id : {"0", "10", "-1", "4294967303", "5x", "", " ", "abc"}) {
    R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID] = id;
    EXPECT_EQ(1, pzso_execSnapEngineOp(All(), N(), &os)) << id;
    EXPECT_FALSE(R(0)->requestMetadata.count(PZSO::SM_MDT_REMOTE_EXEC_MSG)) << id;
  }
  EXPECT_TRUE(R(0)->hasLog("Unknown Remote MA Msg-Id [10]"));
  EXPECT_TRUE(R(0)->hasLog("Remote MA Msg-Id [5x] is not a decimal number"));
  EXPECT_TRUE(env.runs.empty());
}

TEST_F(RemoteTest, PrepareRemoteIdWritesOne) {
  Add();
  Add();
  R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID] = "8";
  EXPECT_EQ(1, pzso_execSnapEngineOp(All(), N(), &os));
  EXPECT_EQ("1", R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG]);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(PZSO::SNAP_STATUS_PREPARE_FAILED, R(i)->status);
    EXPECT_EQ(62008, R(i)->errorCode);
  }
}

TEST_F(RemoteTest, MissingIdAndInvalidInput) {
  Add();
  EXPECT_EQ(1, pzso_execSnapEngineOp(All(), N(), &os));
  EXPECT_TRUE(R(0)->hasLog("Failed to get Remote Request Message Id"));
  R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID] = "7";
  EXPECT_EQ(1, pzso_execSnapEngineOp(All(), 0, &os));
  EXPECT_EQ(1, pzso_execSnapEngineOp(All(), N(), nullptr));
  EXPECT_FALSE(R(0)->requestMetadata.count(PZSO::SM_MDT_REMOTE_EXEC_MSG));
}

}  // namespace
}  // namespace engine_test
