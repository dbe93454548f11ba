#include <gtest/gtest.h>

#include <cstring>

#include "hostdev/VMAXUtils.h"
#include "hostruntime/Env.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using testing_host::FakeEnv;
using testing_host::FakeSnapInfo;

namespace {

const char kSecret[] = "S3cr3t-pw";
const std::string kRecord = std::string("{engineId:7,hostName:ctl01,hostUserName:smc,") +
                            "hostPassword:" + kSecret + "}";

class ScannerTest : public ::testing::Test {
 protected:
  FakeEnv env;
  hostrt::ScopedEnv scope{&env};
};

}  // namespace

TEST_F(ScannerTest, ItemsEndAtCommaOrClosingBrace) {
  std::string v;
  ASSERT_TRUE(parseJSONString("{a:1,b:2}", "b", v));
  EXPECT_EQ(v, "2");
  ASSERT_TRUE(parseJSONString("{a:1,b:2}", "a", v));
  EXPECT_EQ(v, "1");
  ASSERT_TRUE(parseJSONString("{b:2}", "b", v));
  EXPECT_EQ(v, "2");
  ASSERT_TRUE(parseJSONString("{\"k\": \"q v\",x:1}", "k", v));
  EXPECT_EQ(v, " \"q v\"");  // quotes and blanks are kept verbatim
  EXPECT_TRUE(env.hasLogContaining("JSON value found [a = 1]"));
}

TEST_F(ScannerTest, SubstringMatchAndSeparatorFailures) {
  std::string v = "untouched";
  // A name that is part of a longer name matches there.
  ASSERT_TRUE(parseJSONString("{hostNameX:h1,Name:n2}", "Name", v));
  EXPECT_EQ(v, "h1");
  v = "untouched";
  EXPECT_FALSE(parseJSONString("{x,y:1}", "x", v));
  EXPECT_TRUE(env.hasLogContaining("No value found for name [x]"));
  EXPECT_FALSE(parseJSONString("{a 1}", "a", v));
  EXPECT_TRUE(env.hasLogContaining("Name-value separator character not found"));
  EXPECT_FALSE(parseJSONString("{a:1", "a", v));
  EXPECT_TRUE(env.hasLogContaining("Item separator character not found"));
  EXPECT_FALSE(parseJSONString("{a:1}", "zz", v));
  EXPECT_FALSE(parseJSONString("", "a", v));
  EXPECT_FALSE(parseJSONString("{a:1}", "", v));
  EXPECT_TRUE(env.hasLogContaining("Either JSON string or search name is empty."));
  EXPECT_EQ(v, "untouched");
  // Over-long values fail rather than overrun the host's 1024-byte buffers.
  EXPECT_FALSE(parseJSONString("{a:" + std::string(1024, 'x') + "}", "a", v));
  EXPECT_TRUE(parseJSONString("{a:" + std::string(1023, 'x') + "}", "a", v));
}

TEST_F(ScannerTest, PasswordNeverReachesTheLogs) {
  std::string v;
  ASSERT_TRUE(parseJSONString(kRecord, "hostPassword", v));
  EXPECT_EQ(v, kSecret);
  // A shorter name that matches inside the password item.
  ASSERT_TRUE(parseJSONString(kRecord, "Password", v));
  EXPECT_EQ(v, kSecret);
  // Failure lines that quote the whole record.
  EXPECT_FALSE(parseJSONString(kRecord, "missing", v));
  std::string quoted = "{\"hostPassword\" : \"a,b}c\", \"x\":1";
  EXPECT_FALSE(parseJSONString(quoted, "", v));

  EXPECT_TRUE(env.hasLogContaining("hostPassword:****}"));
  EXPECT_FALSE(env.hasLogContaining(kSecret)) << env.allLogs();
  EXPECT_FALSE(env.hasLogContaining("a,b}c")) << env.allLogs();
}

TEST(MaskSecrets, ReplacesEveryPasswordValue) {
  EXPECT_EQ(maskSecrets("{hostPassword:x,hostPassword:yy}"),
            "{hostPassword:****,hostPassword:****}");
  EXPECT_EQ(maskSecrets("{a:1,hostPassword:tail"), "{a:1,hostPassword:****");
  EXPECT_EQ(maskSecrets("{\"hostPassword\":\"p,w\",b:2}"), "{\"hostPassword\":****,b:2}");
  EXPECT_EQ(maskSecrets("{a:1}"), "{a:1}");
  EXPECT_EQ(maskSecrets("hostPassword"), "hostPassword");
}

class ArrayInfoDB : public ::testing::Test {
 protected:
  FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  FakeSnapInfo si;
  char buffer[4096] = {};
  std::string used;
};

TEST_F(ArrayInfoDB, EmptyListNeverCallsTheHost) {
  EXPECT_FALSE(getArrayInfoFromDB(&si, {}, used, buffer, sizeof buffer, false));
  EXPECT_TRUE(si.hasLog("No Array ID passed"));
  EXPECT_TRUE(si.cacheLookups.empty());
  EXPECT_TRUE(si.setArrayInfoCalls.empty());
}

TEST_F(ArrayInfoDB, CachedArrayWithFilledBufferSkipsTheDatabase) {
  si.arrayInfoCache = {"A1"};
  strcpy(buffer, "{earlier record}");
  ASSERT_TRUE(getArrayInfoFromDB(&si, {"A1", "A2"}, used, buffer, sizeof buffer, false));
  EXPECT_EQ(used, "A1");
  EXPECT_TRUE(si.setArrayInfoCalls.empty());
  EXPECT_STREQ(buffer, "{earlier record}");
  EXPECT_TRUE(si.hasLog("Array information found in cache for array ID [A1]"));
}

TEST_F(ArrayInfoDB, CachedArrayWithEmptyBufferReadsTheDatabase) {
  si.arrayInfoCache = {"A1"};
  si.arrayInfoDb["A1"] = kRecord;
  ASSERT_TRUE(getArrayInfoFromDB(&si, {"A1"}, used, buffer, sizeof buffer, false));
  EXPECT_TRUE(si.hasLog("Array ID not found in cache, looking up array ID in DB"));
  EXPECT_EQ(si.setArrayInfoCalls, std::vector<std::string>{"A1"});
  EXPECT_EQ(std::string(buffer), kRecord);
  EXPECT_TRUE(si.hasLog("Array information received from DB for array ID [A1]"));
}

TEST_F(ArrayInfoDB, SkipFlagEmptyIdsAndRejectedIds) {
  si.arrayInfoCache = {"A2"};
  si.arrayInfoDb["A2"] = kRecord;
  strcpy(buffer, "{stale}");
  ASSERT_TRUE(getArrayInfoFromDB(&si, {"", "A1", "A2"}, used, buffer, sizeof buffer, true));
  EXPECT_TRUE(si.cacheLookups.empty());
  EXPECT_EQ(si.setArrayInfoCalls, (std::vector<std::string>{"A1", "A2"}));
  EXPECT_EQ(used, "A2");
  EXPECT_EQ(std::string(buffer), kRecord);
}

TEST_F(ArrayInfoDB, FailuresAreReported) {
  EXPECT_FALSE(getArrayInfoFromDB(&si, {"A1", "A2"}, used, buffer, sizeof buffer, false));
  EXPECT_TRUE(si.hasLog("Failed to get array info from cache for array ID [A1]. Looking up in DB now."));
  EXPECT_TRUE(si.hasLog("Failed to set array information for array IDs [A1,A2]"));
  si.arrayInfoDb["A1"] = "";  // host loads it but has no text
  EXPECT_FALSE(getArrayInfoFromDB(&si, {"A1"}, used, buffer, sizeof buffer, false));
  EXPECT_TRUE(si.hasLog("Failed to get array information for array ID [A1]"));
  si.arrayInfoDb["A1"] = kRecord;
  EXPECT_FALSE(getArrayInfoFromDB(&si, {"A1"}, used, nullptr, 0, true));
}

TEST_F(ArrayInfoDB, LongHostTextStaysTerminated) {
  si.arrayInfoDb["A1"] = std::string(100, 'x');
  char small[16];
  memset(small, 'y', sizeof small);
  ASSERT_TRUE(getArrayInfoFromDB(&si, {"A1"}, used, small, sizeof small, true));
  EXPECT_LT(strlen(small), sizeof small);
}

TEST(ListHelpers, Join) {
  EXPECT_EQ(concatStrings(std::vector<std::string>{"a", "b", "c"}, ","), "a,b,c");
  EXPECT_EQ(concatStrings(std::list<std::string>{"a", "b"}, "\n"), "a\nb");
  EXPECT_EQ(concatStrings(std::list<std::string>{}, ","), "");
  EXPECT_EQ(concatStrings(std::vector<std::string>{"only"}, ","), "only");
}
