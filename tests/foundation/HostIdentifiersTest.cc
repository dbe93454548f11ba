// Host-side identifiers: array info records (scanner, secrets, the host's
// cache), device names, device WWNs and Symmetrix NAA identifiers.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "hostdev/VMAXUtils.h"
#include "hostruntime/Env.h"
#include "tests/support/E2eWorld.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using testing_host::FakeEnv;
using testing_host::FakeSnapInfo;

namespace {

const char kSecret[] = "S3cr3t-pw";
const std::string kRecord = std::string("{engineId:7,hostName:ctl01,hostUserName:smc,") +
                            "hostPassword:" + kSecret + "}";

class HostIdsTest : public ::testing::Test {
 protected:
  FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  FakeSnapInfo si;
  char buffer[4096] = {};
  std::string used;
};

}  // namespace

// Items end at a comma or the closing brace; quotes and blanks are kept
// verbatim; a name that is part of a longer name matches there; over-long
// values fail rather than overrun the host's 1024-byte buffers.
TEST_F(HostIdsTest, ItemsAndFailures) {
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

// Every password value is masked, quoted or not, in every log line.
TEST_F(HostIdsTest, PasswordNeverReachesTheLogs) {
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
  EXPECT_EQ(maskSecrets("{hostPassword:x,hostPassword:yy}"),
            "{hostPassword:****,hostPassword:****}");
  EXPECT_EQ(maskSecrets("{\"hostPassword\":\"p,w\",b:2}"), "{\"hostPassword\":****,b:2}");
  EXPECT_EQ(maskSecrets("hostPassword"), "hostPassword");
}

// A cached array with a filled buffer skips the database; otherwise (or with
// the skip flag) each non-empty id is asked of the host until one answers.
TEST_F(HostIdsTest, CacheAndDatabase) {
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

TEST_F(HostIdsTest, LongHostTextStaysTerminated) {
  si.arrayInfoDb["A1"] = std::string(100, 'x');
  char small[16];
  memset(small, 'y', sizeof small);
  ASSERT_TRUE(getArrayInfoFromDB(&si, {"A1"}, used, small, sizeof small, true));
  EXPECT_LT(strlen(small), sizeof small);
}

// Device names in canonical five-digit form; devices compare numerically,
// WWNs without colons, blanks or case.
TEST_F(HostIdsTest, DeviceNamesAndComparisons) {
  const std::pair<const char*, const char*> cases[] = {
      {"a4", "000A4"}, {"00A4", "000A4"}, {"0x00a4", "000A4"}, {"  12f", "0012F"},
      {"123456", "123456"},  // wider values are not cut
      {"xyz", "00000"}, {"", "00000"}, {"1F:rest", "0001F"}};
  for (const auto& c : cases) EXPECT_EQ(c.second, StdDevName(c.first)) << c.first;
  EXPECT_TRUE(compareDevs("00A4", "a4"));
  EXPECT_FALSE(compareDevs("0", "0"));
  EXPECT_FALSE(compareDevs("a4", "zz"));
  EXPECT_FALSE(compareDevs("FFFFFFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFFFFFF"));  // overflow
  EXPECT_TRUE(compareWWNs("50:00:09:73:F0:0A:B1:04", "50000973F00AB104 "));
  EXPECT_FALSE(compareWWNs("5000", "5000-"));
}


// 32 hex digits: serial, then the device as ASCII pairs (an unscannable pair
// ends it); any other length leaves the outputs alone.
TEST_F(HostIdsTest, ParseDeviceWWNSplitsSerialAndDevice) {
  const std::string wwn(32, '3');
  struct Case {
    std::string wwn;
    bool ok;
    const char* dev;
  } cases[] = {
      {"60000970000197900123533030304134", true, "000A4"},
      {"60000970000197900123533030ZZ4134", true, "00"},
      {"600009700001979001235330303041GG", true, "000A"},
      {wwn.substr(1), false, "keep"},
      {wwn + "0", false, "keep"},
  };
  for (const Case& c : cases) {
    FakeSnapInfo si;
    std::string serial = "keep", dev = "keep";
    EXPECT_EQ(c.ok, parseDeviceWWN(&si, c.wwn, serial, dev)) << c.wwn;
    EXPECT_EQ(c.ok ? "000197900123" : "keep", serial);
    EXPECT_EQ(c.dev, dev);
  }
  std::string serial, dev;
  EXPECT_FALSE(parseDeviceWWN(nullptr, "short", serial, dev));  // no request: no crash
}

// WWN texts and bytes: colons are skipped, missing digits count as zero,
// and the bytes print back as lower-case hex.
TEST(WwnText, BytesAndTextRoundTrip) {
  const unsigned char port[] = {0x50, 0x00, 0x09, 0x73, 0xf0, 0x0a, 0xb1, 0x04};
  EXPECT_EQ("50000973f00ab104", WWNToString(port));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(port), 8),
            StringToWWN("50:00:09:73:F0:0A:B1:04"));
  EXPECT_EQ(std::string("\x12\x30\0\0\0\0\0\0", 8), StringToWWN("123"));
  EXPECT_EQ("", StringToWWN("::"));
  unsigned char device[16];
  for (int i = 0; i < 16; ++i) device[i] = static_cast<unsigned char>(i * 17);
  EXPECT_EQ("00112233445566778899aabbccddeeff", DeviceWWNToString(device));
  EXPECT_EQ("", WWNToString(nullptr));
}

TEST(ParseDeviceWWN, DecodesSampleWWNs) {
  std::string dir = PZ_SHARED_DIR "/scsi-samples/";
  struct Sample {
    const char* file;
    std::regex expect;  // serial and device as the sample's text names them
  };
  Sample samples[] = {
      {"devicewwn_naa6_decode__2.txt", std::regex("S/N:([0-9]+) HVE:([0-9A-F]+)")},
      {"symdev_show_wwn__1.txt", std::regex("show ([0-9A-F]+)")},
  };
  int decoded = 0;
  for (const Sample& s : samples) {
    std::string content;
    if (!e2e::ReadFile(dir + s.file, &content)) GTEST_SKIP() << "sample absent: " << s.file;
    std::smatch want;
    ASSERT_TRUE(std::regex_search(content, want, s.expect)) << s.file;
    std::regex wwnPattern("[0-9A-Fa-f]{32}");
    for (auto it = std::sregex_iterator(content.begin(), content.end(), wwnPattern);
         it != std::sregex_iterator(); ++it) {
      std::string wwn = it->str();
      FakeSnapInfo si;
      std::string serial, dev;
      ASSERT_TRUE(parseDeviceWWN(&si, wwn, serial, dev)) << wwn;
      EXPECT_EQ(serial, wwn.substr(8, 12));
      if (want.size() == 3) { EXPECT_EQ(serial, want[1].str()); }
      EXPECT_EQ(StdDevName(dev), StdDevName(want[want.size() - 1].str())) << wwn;
      ++decoded;
    }
  }
  EXPECT_EQ(decoded, 2);
}

TEST(ParseSymmetrixNaa, AcceptsTheArraysOuisAndReadsTheTail) {
  struct Case {
    const char* hex;  // 16 bytes
    bool ok;
    const char* serial;
    const char* dev;
  } cases[] = {
      {"60000970000196700531533030383039", true, "000196700531", "00809"},
      {"60060480000190103189533030343834", true, "000190103189", "00484"},
      {"6000097000019780012353202031303a", true, "000197800123", ""},    // ':' ends it
      {"60000970000197800123532020314142", true, "000197800123", "001AB"},  // padded
      {"600009700001978001234d3030313030", true, "000197800123", ""},    // no "S"
      {"600a0980000197800123533030313030", false, "", ""},               // other OUI
      {"50000970000197800123533030313030", false, "", ""},               // NAA 5
  };
  for (const Case& c : cases) {
    unsigned char naa[16];
    for (int i = 0; i < 16; ++i) {
      unsigned v = 0;
      sscanf(c.hex + 2 * i, "%2x", &v);
      naa[i] = (unsigned char)v;
    }
    std::string serial = "kept", dev = "kept";
    EXPECT_EQ(c.ok, parseSymmetrixNaa(naa, sizeof naa, serial, dev)) << c.hex;
    EXPECT_EQ(c.ok ? c.serial : "kept", serial) << c.hex;
    EXPECT_EQ(c.ok ? c.dev : "kept", dev) << c.hex;
    EXPECT_FALSE(parseSymmetrixNaa(naa, 15, serial, dev));
  }
}
