// Request object of the host runtime: array details from the host database,
// buffers too small for an answer and requests a normal run never makes.
#include "hostruntime/HostRequest.h"

#include <gtest/gtest.h>

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
}

TEST_F(HostSnapInfoTest, ArrayDetailsComeFromDatabaseWithDecodablePassword) {
  hostrt::ArrayDetailsRow row;
  row.arrayNumber = 3;
  row.encodedPassword = hostrt::EncodeSecret("s3cret!");
  env.database.arrayDetails[3] = row;
  PZSO::ArrayDetailsSource* details = nullptr;
  r.arrayNum = 4;
  EXPECT_NE(0, r.getArrayDetailsObject(&details));
  EXPECT_EQ(nullptr, details);
  r.arrayNum = 3;
  ASSERT_EQ(0, r.getArrayDetailsObject(&details));
  ASSERT_NE(nullptr, details);
  std::string plain;
  ASSERT_EQ(0, r.decodeArrayDetail(details->getEncodedPassword(), &plain));
  EXPECT_EQ("s3cret!", plain);
  EXPECT_NE(0, r.decodeArrayDetail("s3cret!", &plain));     // not encoded
  EXPECT_NE(0, r.decodeArrayDetail("pzenc1:abc", &plain));  // odd length
  r.releaseArrayDetailsObject(&details);
  EXPECT_EQ(nullptr, details);
}

// Requests the plug-in never makes in a normal run: an unknown job
// parameter, an absent setting, an empty snapshot id, metadata cleared.
TEST_F(HostSnapInfoTest, RareRequestsAreRefusedOrClear) {
  int value = -1;
  EXPECT_NE(0, r.getJobParam(99, &value));
  EXPECT_NE(0, r.getSnapConfigInt("nAbsent", &value));
  EXPECT_EQ(-1, value);  // left as preset
  EXPECT_NE(0, r.setSnapUniqueId(""));
  std::string v;
  r.setRequestMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, "5");
  r.setRequestMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, nullptr);
  EXPECT_FALSE(r.getMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, v));
}

// A line longer than any fixed buffer reaches the request log whole.
TEST_F(HostSnapInfoTest, LongLogLinesAreKeptWhole) {
  r.smSnapId = 42;
  std::string longText(3000, 'y');
  r.log(1, "fn", "value [%d] %s", 5, longText.c_str());
  ASSERT_EQ(1u, env.logs.size());
  EXPECT_EQ(42, env.logs[0].smSnapId);
  EXPECT_EQ("value [5] " + longText, env.logs[0].text);
}

}  // namespace
