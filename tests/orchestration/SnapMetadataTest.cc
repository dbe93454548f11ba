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

// Three fields; a too-short value leaves the record alone; none fails the
// request with its own error text.
TEST(SnapUidMetadata, ParseAndFailures) {
  struct Case {
    const char* value;  // null: no metadata
    bool ok;
    const char* serial;
    const char* error;
  } cases[] = {
      {nullptr, false, "", "Failed to get unique identifier metadata"},
      {"", false, "", "Failed to parse device identifier to get snap info"},
      {"SER1|00A1F|SN_1|", true, "SER1", ""},
      {"A|B", true, "", ""},  // too short: unchanged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "none");
    FakeSnapInfo si;
    if (c.value) si.metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = c.value;
    VMAXMetadata md;
    EXPECT_EQ(c.ok, getSnapMetadata(&si, PZSO::SNAP_STATUS_MAP_FAILED,
                                    PZSO::SM_MDT_SNAP_UNIQUE_ID, md));
    EXPECT_EQ(c.serial, md.arraySerial);
    EXPECT_EQ(c.error, si.errorText);
    EXPECT_EQ(c.ok ? 0 : PZ_ERR_SNAP_METADATA, si.errorCode);
    if (c.ok && *c.serial) { EXPECT_EQ("SN_1", md.snapName); }
  }
}

TEST(ArrayDetailsTest, DecodesPasswordAndNeverLogsIt) {
  FakeSnapInfo si;
  si.arrayDetails.name = "000197900123";
  si.arrayDetails.encodedPassword = "terces-pot";  // fake host reverses
  ArrayDetails d;
  ASSERT_TRUE(GetArrayDetails(&si, d));
  EXPECT_EQ(d.password, "top-secret");
  EXPECT_EQ(si.releasedArrayDetails, 1);
  EXPECT_FALSE(si.hasLogContaining("top-secret"));
  EXPECT_FALSE(si.hasLogContaining("terces-pot"));
}

class VersionGateTest : public OrchestrationTest {
 protected:
  void Version(unsigned long v, bool ok = true) {
    EXPECT_CALL(*mock, GetSEVersion(::testing::_))
        .WillOnce(DoAll(SetArgReferee<0>(v), Return(ok)));
  }
};

// 9.0 is the lowest accepted; the error text is the user's; a failed probe
// with failure status 0 sets no error.
TEST_F(VersionGateTest, NineZeroIsTheLowestAccepted) {
  auto& si = Request(1);
  Version(8999999);
  EXPECT_FALSE(verifySEVersion(api, &si, PZSO::SNAP_STATUS_MAP_FAILED));
  EXPECT_EQ(si.errorText,
            "Installed Solution Enabler version is lower than 9.0, Please "
            "install Solutions Enabler version 9.0 and above");
  Version(9000000);
  EXPECT_TRUE(verifySEVersion(api, &si, PZSO::SNAP_STATUS_MAP_FAILED));
  auto& other = Request(2);
  Version(0, false);
  EXPECT_FALSE(verifySEVersion(api, &other, PZSO::SNAP_STATUS_NO_SNAPSHOT));
  EXPECT_TRUE(other.errorHistory.empty());
}

}  // namespace
}  // namespace orch_test
