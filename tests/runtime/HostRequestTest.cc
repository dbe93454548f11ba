// Request object of the host runtime: state seen through the SnapInfo
// operations, array information and details from the host database.
#include "hostruntime/HostRequest.h"

#include <gtest/gtest.h>

#include <cstring>

#include "host/HostConstants.h"
#include "hostruntime/SecretCodec.h"
#include "tests/support/FakeEnv.h"

namespace {

using hostrt::HostSnapInfo;

class HostSnapInfoTest : public ::testing::Test {
 protected:
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  HostSnapInfo r;
};

TEST_F(HostSnapInfoTest, ArrayInfoComesFromDatabaseAndIsCached) {
  env.database.arrayRecords["000197900123"] =
      "{engineId:7,hostName:ctl1,hostUserName:adm,hostPassword:pw}";
  char buffer[4096] = {0};
  short size = sizeof buffer;
  EXPECT_NE(0, r.getArrayInfoString(buffer, &size));  // nothing current yet
  EXPECT_NE(0, r.findArrayInfoInCache("000197900123"));
  EXPECT_NE(0, r.setArrayInfo("000197900999"));
  ASSERT_EQ(0, r.setArrayInfo("000197900123"));
  ASSERT_EQ(0, r.getArrayInfoString(buffer, &size));
  EXPECT_STREQ("{engineId:7,hostName:ctl1,hostUserName:adm,hostPassword:pw}", buffer);

  // A second request sharing the cache finds it without the database.
  HostSnapInfo other;
  other.arrayInfoCache = r.arrayInfoCache;
  env.database.arrayRecords.clear();
  EXPECT_EQ(0, other.findArrayInfoInCache("000197900123"));
  memset(buffer, 0, sizeof buffer);
  ASSERT_EQ(0, other.getArrayInfoString(buffer, &size));
  EXPECT_EQ('{', buffer[0]);
}

TEST_F(HostSnapInfoTest, TooSmallBuffersAreRefusedWithTheSizeNeeded) {
  r.hostTypeInfo = "vmware";
  char small[4] = {'x', 'x', 'x', 'x'};
  short size = sizeof small;
  EXPECT_NE(0, r.getHostTypeInfo(small, &size));
  EXPECT_EQ(7, size);
  EXPECT_EQ('x', small[3]);  // nothing written past or into it

  r.snapConfigStrings["sName"] = "abcdef";
  char config[8] = {0};
  int csize = 3;
  EXPECT_NE(0, r.getSnapConfigString("sName", config, &csize));
  EXPECT_EQ(6, csize);
  EXPECT_STREQ("", config);
  csize = 6;
  ASSERT_EQ(0, r.getSnapConfigString("sName", config, &csize));
  EXPECT_EQ(std::string("abcdef"), std::string(config, 6));
  int value = -1;
  EXPECT_NE(0, r.getSnapConfigInt("nAbsent", &value));
  EXPECT_EQ(-1, value);  // left as preset
}

TEST_F(HostSnapInfoTest, ArrayDetailsComeFromDatabaseWithDecodablePassword) {
  hostrt::ArrayDetailsRow row;
  row.arrayNumber = 3;
  row.arrayName = "000197900123";
  row.controlHost = "ctl1";
  row.userName = "adm";
  row.encodedPassword = hostrt::EncodeSecret("s3cret!");
  env.database.arrayDetails[3] = row;
  PZSO::ArrayDetailsSource* details = nullptr;
  r.arrayNum = 4;
  EXPECT_NE(0, r.getArrayDetailsObject(&details));
  EXPECT_EQ(nullptr, details);
  r.arrayNum = 3;
  ASSERT_EQ(0, r.getArrayDetailsObject(&details));
  ASSERT_NE(nullptr, details);
  EXPECT_EQ(3, details->getArrayNumber());
  std::string plain;
  ASSERT_EQ(0, r.decodeArrayDetail(details->getEncodedPassword(), &plain));
  EXPECT_EQ("s3cret!", plain);
  EXPECT_NE(0, r.decodeArrayDetail("s3cret!", &plain));      // not encoded
  EXPECT_NE(0, r.decodeArrayDetail("pzenc1:abc", &plain));   // odd length
  r.releaseArrayDetailsObject(&details);
  EXPECT_EQ(nullptr, details);
}

TEST_F(HostSnapInfoTest, LogLinesGoToRequestLogWithSnapIdAndCallback) {
  r.smSnapId = 42;
  std::vector<std::string> seen;
  r.onLog = [&](int level, const std::string& fn, const std::string& text) {
    seen.push_back(std::to_string(level) + fn + text);
  };
  std::string longText(3000, 'y');
  r.log(1, "fn", "value [%d] %s", 5, longText.c_str());
  ASSERT_EQ(1u, env.logs.size());
  EXPECT_EQ(hostrt::LogKind::kRequest, env.logs[0].kind);
  EXPECT_EQ(42, env.logs[0].smSnapId);
  EXPECT_EQ("value [5] " + longText, env.logs[0].text);
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ("1fnvalue [5] " + longText, seen[0]);

  int events = 0;
  r.onEvent = [&](int, const std::string&) { ++events; };
  r.reportEvent(PZSO::EVENT_SEVERITY_WARNING, "careful");
  EXPECT_EQ(1, events);
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ("careful", r.events[0].second);
}

// Request metadata cleared by a null value, job flags cleared again, and an
// unknown job parameter refused.
TEST_F(HostSnapInfoTest, ClearedMetadataFlagsAndUnknownJobParams) {
  std::string v;
  r.setRequestMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, "5");
  r.setRequestMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, nullptr);
  EXPECT_FALSE(r.getMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, v));
  r.setJobFlag(PZSO::JOB_FLAG_DECOUPLED_CLONE);
  r.clearJobFlag(PZSO::JOB_FLAG_DECOUPLED_CLONE);
  EXPECT_FALSE(r.isJobFlagSet(PZSO::JOB_FLAG_DECOUPLED_CLONE));
  EXPECT_FALSE(r.isSnapFlagSet(0));
  int source = 0;
  EXPECT_NE(0, r.getJobParam(99, &source));
}

TEST_F(HostSnapInfoTest, SnapUniqueIdIsMadeOnceAndShared) {
  r.jobId = 77;
  std::string first, again;
  ASSERT_TRUE(r.getSnapUniqueId(first));
  env.nowMicros += 5000000;
  ASSERT_TRUE(r.getSnapUniqueId(again));
  EXPECT_EQ(first, again);
  EXPECT_EQ(0u, first.find("SP_77_"));
  HostSnapInfo second;
  EXPECT_NE(0, second.setSnapUniqueId(""));
  ASSERT_EQ(0, second.setSnapUniqueId(first.c_str()));
  ASSERT_TRUE(second.getSnapUniqueId(again));
  EXPECT_EQ(first, again);
}

}  // namespace
