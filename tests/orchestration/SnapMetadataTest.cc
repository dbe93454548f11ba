// Snapshot unique-identifier metadata, array details and the Solutions
// Enabler version gate.
#include "orchestration/ArraySession.h"
#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "tests/orchestration/OrchestrationFixture.h"

namespace orch_test {
namespace {

using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

TEST(SnapUidMetadata, ParsesThreeFieldsAndRejectsEmpty) {
  VMAXMetadata md;
  EXPECT_TRUE(parseSnapUidMetadata("SER1|00A1F|SN_1|", md));
  EXPECT_EQ(md.arraySerial, "SER1");
  EXPECT_EQ(md.sourceDevice, "00A1F");
  EXPECT_EQ(md.snapName, "SN_1");
  EXPECT_TRUE(parseSnapUidMetadata("A|B", md));  // too short: unchanged
  EXPECT_EQ(md.arraySerial, "SER1");
  EXPECT_FALSE(parseSnapUidMetadata("", md));
}

TEST(SnapUidMetadata, MissingOrUnparsableMetadataFailsTheRequest) {
  FakeSnapInfo si;
  VMAXMetadata md;
  EXPECT_FALSE(getSnapMetadata(&si, PZSO::SNAP_STATUS_MAP_FAILED,
                               PZSO::SM_MDT_SNAP_UNIQUE_ID, md));
  EXPECT_EQ(si.status, PZSO::SNAP_STATUS_MAP_FAILED);
  EXPECT_EQ(si.errorCode, PZ_ERR_SNAP_METADATA);
  EXPECT_EQ(si.errorText, "Failed to get unique identifier metadata");
  EXPECT_EQ(getStorageArrayId(&si), "");

  si.metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = "";
  EXPECT_FALSE(getSnapMetadata(&si, PZSO::SNAP_STATUS_DELETE_FAILED,
                               PZSO::SM_MDT_SNAP_UNIQUE_ID, md));
  EXPECT_EQ(si.errorText, "Failed to parse device identifier to get snap info");

  si.metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = "SER1|00A1F|SN_1|";
  EXPECT_TRUE(getSnapMetadata(&si, PZSO::SNAP_STATUS_DELETE_FAILED,
                              PZSO::SM_MDT_SNAP_UNIQUE_ID, md));
  EXPECT_TRUE(si.hasLog("Received metadata [6 : SER1|00A1F|SN_1|]"));
  EXPECT_EQ(getStorageArrayId(&si), "SER1");
}

TEST(SnapUidMetadata, MountSnapId) {
  FakeSnapInfo si;
  si.mountId = 42;
  EXPECT_EQ(getMountSnapId(&si), "42");
  EXPECT_EQ(getMountSnapId(nullptr), "0");
}

TEST(ArrayDetailsTest, DecodesPasswordAndNeverLogsIt) {
  FakeSnapInfo si;
  si.arrayNum = 3;
  si.arrayDetails.number = 3;
  si.arrayDetails.name = "000197900123";
  si.arrayDetails.controlHost = "ctl.example";
  si.arrayDetails.userName = "smc";
  si.arrayDetails.encodedPassword = "terces-pot";  // fake host reverses
  ArrayDetails d;
  d.password = "stale";
  ASSERT_TRUE(GetArrayDetails(&si, d));
  EXPECT_EQ(d.arrayNum, 3);
  EXPECT_EQ(d.arrayName, "000197900123");
  EXPECT_EQ(d.arrayId, "000197900123");
  EXPECT_EQ(d.controlHost, "ctl.example");
  EXPECT_EQ(d.userName, "smc");
  EXPECT_EQ(d.password, "top-secret");
  EXPECT_EQ(si.releasedArrayDetails, 1);
  EXPECT_TRUE(si.hasLog("Got PowerMax details [000197900123] num# [3]"));
  EXPECT_FALSE(si.hasLogContaining("top-secret"));
  EXPECT_FALSE(si.hasLogContaining("terces-pot"));
}

TEST(ArrayDetailsTest, MissingDetailsFailInitArrayParams) {
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scope(&env);
  FakeSnapInfo si;
  si.arrayNum = 4;
  si.arrayDetailsOk = false;
  testing_host::FakeOSUtil os;
  std::string id = "SER9";
  EXPECT_EQ(initArrayParams(&si, &os, id, PZSO::SNAP_STATUS_MAP_FAILED), nullptr);
  EXPECT_TRUE(si.hasLogContaining(
      "Failed to get PowerMax details for array num [4] from database."));
  EXPECT_TRUE(si.hasLog("Failed to get array information for array ID [SER9]"));
  EXPECT_EQ(si.status, PZSO::SNAP_STATUS_PREPARE_FAILED);
  EXPECT_EQ(si.errorCode, PZ_ERR_SOURCE_INFO);
  EXPECT_EQ(si.errorText, "Failed to get array info");
}

class VersionGateTest : public OrchestrationTest {
 protected:
  void Version(unsigned long v, bool ok = true) {
    EXPECT_CALL(*mock, GetSEVersion(::testing::_))
        .WillOnce(DoAll(SetArgReferee<0>(v), Return(ok)));
  }
};

TEST_F(VersionGateTest, NineZeroIsTheLowestAccepted) {
  auto& si = Request(1);
  Version(8999999);
  EXPECT_FALSE(verifySEVersion(api, &si, PZSO::SNAP_STATUS_MAP_FAILED));
  EXPECT_EQ(si.errorCode, PZSO::SNAP_STATUS_MAP_FAILED);
  EXPECT_EQ(si.errorText,
            "Installed Solution Enabler version is lower than 9.0, Please "
            "install Solutions Enabler version 9.0 and above");
  EXPECT_TRUE(si.statusHistory.empty());
  Version(9000000);
  EXPECT_TRUE(verifySEVersion(api, &si, PZSO::SNAP_STATUS_MAP_FAILED));
}

TEST_F(VersionGateTest, FailureStatusZeroSetsNoError) {
  auto& si = Request(1);
  Version(0, false);
  EXPECT_FALSE(verifySEVersion(api, &si, PZSO::SNAP_STATUS_NO_SNAPSHOT));
  EXPECT_TRUE(si.errorHistory.empty());
  EXPECT_TRUE(si.hasLogContaining(
      "Failed to get installed Solutions Enabler version information."));
}

}  // namespace
}  // namespace orch_test
