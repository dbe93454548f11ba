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

// Items end at a comma or the closing brace; quotes and blanks are kept
// verbatim; a name that is part of a longer name matches there; over-long
// values fail rather than overrun the host's 1024-byte buffers.
TEST_F(ScannerTest, ItemsAndFailures) {
  struct Case {
    std::string json, name;
    bool ok;
    std::string value;
  } cases[] = {
      {"{a:1,b:2}", "b", true, "2"},
      {"{\"k\": \"q v\",x:1}", "k", true, " \"q v\""},
      {"{hostNameX:h1,Name:n2}", "Name", true, "h1"},
      {"{x,y:1}", "x", false, ""},
      {"{a:1", "a", false, ""},
      {"", "a", false, ""},
      {"{a:1}", "", false, ""},
      {"{a:" + std::string(1024, 'x') + "}", "a", false, ""},
      {"{a:" + std::string(1023, 'x') + "}", "a", true, std::string(1023, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json.substr(0, 30) + " " + c.name);
    std::string v = "untouched";
    EXPECT_EQ(c.ok, parseJSONString(c.json, c.name, v));
    EXPECT_EQ(c.ok ? c.value : "untouched", v);
  }
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
  EXPECT_EQ(maskSecrets("{\"hostPassword\":\"p,w\",b:2}"), "{\"hostPassword\":****,b:2}");
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

// A cached array with a filled buffer skips the database; otherwise (or with
// the skip flag) each non-empty id is asked of the host until one answers.
TEST_F(ArrayInfoDB, CacheAndDatabase) {
  using V = std::vector<std::string>;
  struct Case {
    const char* name;
    V cache, ids;
    const char* buffer;
    bool skipCache, inDb, ok;
    const char* used;
    V asked;
    std::string result;
  } cases[] = {
      {"cached and filled", {"A1"}, {"A1", "A2"}, "{earlier record}", false, true, true, "A1",
       {}, "{earlier record}"},
      {"cached but empty", {"A1"}, {"A1"}, "", false, true, true, "A1", {"A1"}, kRecord},
      {"skip flag", {"A2"}, {"", "A1", "A2"}, "{stale}", true, true, true, "A2", {"A1", "A2"},
       kRecord},
      {"nowhere", {}, {"A1", "A2"}, "", false, false, false, "", {"A1", "A2"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    si = FakeSnapInfo();
    si.arrayInfoCache = {c.cache.begin(), c.cache.end()};
    if (c.inDb) si.arrayInfoDb[c.cache.empty() ? "A1" : c.cache[0]] = kRecord;
    strcpy(buffer, c.buffer);
    used.clear();
    EXPECT_EQ(c.ok, getArrayInfoFromDB(&si, {c.ids.begin(), c.ids.end()}, used, buffer,
                                       sizeof buffer, c.skipCache));
    EXPECT_EQ(c.asked, si.setArrayInfoCalls);
    if (c.skipCache || c.ids.empty()) { EXPECT_TRUE(si.cacheLookups.empty()); }
    if (!c.ok) continue;
    EXPECT_EQ(c.used, used);
    EXPECT_EQ(c.result, std::string(buffer));
  }
  si.arrayInfoDb["A1"] = "";  // host loads it but has no text
  EXPECT_FALSE(getArrayInfoFromDB(&si, {"A1"}, used, buffer, sizeof buffer, false));
}

TEST_F(ArrayInfoDB, LongHostTextStaysTerminated) {
  si.arrayInfoDb["A1"] = std::string(100, 'x');
  char small[16];
  memset(small, 'y', sizeof small);
  ASSERT_TRUE(getArrayInfoFromDB(&si, {"A1"}, used, small, sizeof small, true));
  EXPECT_LT(strlen(small), sizeof small);
}

