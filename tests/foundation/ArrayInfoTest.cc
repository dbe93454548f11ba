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
  EXPECT_TRUE(env.hasLogContaining("Name [zz] not found in JSON string [{a:1}]"));
  EXPECT_FALSE(parseJSONString("", "a", v));
  EXPECT_FALSE(parseJSONString("{a:1}", "", v));
  EXPECT_TRUE(env.hasLogContaining("Either JSON string or search name is empty."));
  EXPECT_EQ(v, "untouched");
  // Over-long values fail rather than overrun the host's 1024-byte buffers.
  EXPECT_FALSE(parseJSONString("{a:" + std::string(1024, 'x') + "}", "a", v));
  EXPECT_TRUE(parseJSONString("{a:" + std::string(1023, 'x') + "}", "a", v));
}

TEST_F(ScannerTest, ByteFormCopiesAtMostTheAreaSize) {
  char area[8];
  memset(area, '#', sizeof area);
  EXPECT_EQ(parseJSONString("{a:12345,b:2}", "a", area, 5), 5);
  EXPECT_EQ(std::string(area, 6), "12345#");  // no terminator written
  memset(area, '#', sizeof area);
  EXPECT_EQ(parseJSONString("{a:123456}", "a", area, 5), -1);
  EXPECT_EQ(area[0], '#');
  EXPECT_EQ(parseJSONString("{a:}", "a", area, 5), 0);
  EXPECT_EQ(parseJSONString("{a:1}", "a", nullptr, 5), -1);
  EXPECT_TRUE(env.hasLogContaining("Invalid parameters passed - JSON string [{a:1}] Name [a]"));
  EXPECT_EQ(parseJSONString("{a:1", "a", area, 5), -1);
  EXPECT_TRUE(env.hasLogContaining("Item separator character is not found"));
}

TEST_F(ScannerTest, PasswordNeverReachesTheLogs) {
  FakeSnapInfo si;
  std::string v;
  ASSERT_TRUE(parseJSONString(kRecord, "hostPassword", v));
  EXPECT_EQ(v, kSecret);
  char area[64] = {};
  EXPECT_EQ(parseJSONString(kRecord, "hostPassword", area, sizeof area), 9);
  ASSERT_TRUE(parseJsonString(&si, kRecord, "hostPassword", v));
  // A shorter name that matches inside the password item.
  ASSERT_TRUE(parseJSONString(kRecord, "Password", v));
  EXPECT_EQ(v, kSecret);
  ASSERT_TRUE(parseJsonString(&si, kRecord, "Pass", v));
  // Failure lines that quote the whole record.
  EXPECT_FALSE(parseJSONString(kRecord, "missing", v));
  EXPECT_EQ(parseJSONString(kRecord, "missing", area, sizeof area), -1);
  EXPECT_FALSE(parseJsonString(&si, kRecord, "missing", v));
  std::string quoted = "{\"hostPassword\" : \"a,b}c\", \"x\":1";
  EXPECT_FALSE(parseJSONString(quoted, "", v));
  EXPECT_FALSE(parseJsonString(&si, quoted, "", v));

  EXPECT_TRUE(env.hasLogContaining("hostPassword:****}"));
  EXPECT_TRUE(si.hasLogContaining("hostPassword:****}"));
  EXPECT_FALSE(env.hasLogContaining(kSecret)) << env.allLogs();
  EXPECT_FALSE(si.hasLogContaining(kSecret)) << si.allLogs();
  EXPECT_FALSE(env.hasLogContaining("a,b}c")) << env.allLogs();
  EXPECT_FALSE(si.hasLogContaining("b}c")) << si.allLogs();
}

TEST(MaskSecrets, ReplacesEveryPasswordValue) {
  EXPECT_EQ(maskSecrets("{hostPassword:x,hostPassword:yy}"),
            "{hostPassword:****,hostPassword:****}");
  EXPECT_EQ(maskSecrets("{a:1,hostPassword:tail"), "{a:1,hostPassword:****");
  EXPECT_EQ(maskSecrets("{\"hostPassword\":\"p,w\",b:2}"), "{\"hostPassword\":****,b:2}");
  EXPECT_EQ(maskSecrets("{a:1}"), "{a:1}");
  EXPECT_EQ(maskSecrets("hostPassword"), "hostPassword");
}

TEST(ParseJsonString, LogsThroughTheRequest) {
  FakeEnv env;
  hostrt::ScopedEnv scope(&env);
  FakeSnapInfo si;
  std::string v;
  ASSERT_TRUE(parseJsonString(&si, "{a:1,b:2}", "b", v));
  EXPECT_EQ(v, "2");
  EXPECT_TRUE(si.hasLog("Item Name:Item Value [b:2]"));
  EXPECT_FALSE(parseJsonString(&si, "{x,y:1}", "x", v));
  EXPECT_TRUE(si.hasLog("No value present for item x"));
  EXPECT_FALSE(parseJsonString(&si, "{a 1}", "a", v));
  EXPECT_TRUE(si.hasLog("Name-value separator character is not present."));
  EXPECT_FALSE(parseJsonString(&si, "{a:1", "a", v));
  EXPECT_TRUE(si.hasLog("Item separator character is not present"));
  EXPECT_FALSE(parseJsonString(&si, "{a:1}", "q", v));
  EXPECT_TRUE(si.hasLog("The item being requested [q] is not in Json string [{a:1}]"));
  for (const auto& line : si.logs) EXPECT_EQ(line.level, 0);
}

TEST(ParseArrayInfo, AllFourItemsRequired) {
  FakeEnv env;
  hostrt::ScopedEnv scope(&env);
  int engine = -1;
  std::string host, user, pw;
  ASSERT_TRUE(parseArrayInfo(kRecord, engine, host, user, pw));
  EXPECT_EQ(engine, 7);
  EXPECT_EQ(host, "ctl01");
  EXPECT_EQ(user, "smc");
  EXPECT_EQ(pw, kSecret);
  EXPECT_TRUE(parseArrayInfo("{engineId: 12,hostName:h,hostUserName:u,hostPassword:p}",
                             engine, host, user, pw));
  EXPECT_EQ(engine, 12);
  engine = -1;
  EXPECT_FALSE(parseArrayInfo("{engineId:x1,hostName:h,hostUserName:u,hostPassword:p}",
                              engine, host, user, pw));
  EXPECT_FALSE(parseArrayInfo("{engineId:1,hostName:h,hostUserName:u}", engine, host,
                              user, pw));
  EXPECT_EQ(engine, -1);
  EXPECT_FALSE(env.hasLogContaining(kSecret));
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

TEST_F(ArrayInfoDB, GetArrayInfoDecodesTheRecord) {
  si.arrayInfoDb["A2"] = kRecord;
  int engine = 0;
  std::string host, user, pw;
  ASSERT_TRUE(getArrayInfo(&si, {"A1", "A2"}, used, engine, host, user, pw, true));
  EXPECT_EQ(used, "A2");
  EXPECT_EQ(engine, 7);
  EXPECT_EQ(pw, kSecret);
  ASSERT_TRUE(getArrayInfo(&si, "A2", engine, host, user, pw, true));
  EXPECT_FALSE(getArrayInfo(&si, "A9", engine, host, user, pw, true));
  EXPECT_TRUE(si.hasLog("Failed to get array information for array ID [A9]"));
  si.arrayInfoDb["A3"] = "{engineId:1}";
  EXPECT_FALSE(getArrayInfo(&si, {"A3"}, used, engine, host, user, pw, true));
  EXPECT_TRUE(si.hasLog("Failed to parse array information for array IDs [A3]"));
  EXPECT_FALSE(si.hasLogContaining(kSecret));
  EXPECT_FALSE(env.hasLogContaining(kSecret));
}

TEST(ListHelpers, JoinAndPrint) {
  EXPECT_EQ(concatStrings(std::vector<std::string>{"a", "b", "c"}, ","), "a,b,c");
  EXPECT_EQ(concatStrings(std::list<std::string>{"a", "b"}, "\n"), "a\nb");
  EXPECT_EQ(concatStrings(std::list<std::string>{}, ","), "");
  EXPECT_EQ(concatStrings(std::vector<std::string>{"only"}, ","), "only");
  FakeSnapInfo si;
  PrintStringList(&si, "Targets", {});
  EXPECT_TRUE(si.logs.empty());
  PrintStringList(&si, "Targets %s", {"a", "%n"});
  ASSERT_EQ(si.logs.size(), 1u);
  EXPECT_EQ(si.logs[0].text, "Targets %s [a, %n, ]");
  EXPECT_EQ(si.logs[0].level, 1);
}
