#include <gtest/gtest.h>

#include <regex>

#include "hostdev/VMAXUtils.h"
#include "hostruntime/Env.h"
#include "tests/support/E2eWorld.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using testing_host::FakeEnv;
using testing_host::FakeSnapInfo;

TEST(StdDevName, CanonicalFiveDigitForm) {
  const std::pair<const char*, const char*> cases[] = {
      {"a4", "000A4"}, {"00A4", "000A4"}, {"0x00a4", "000A4"}, {"  12f", "0012F"},
      {"123456", "123456"},  // wider values are not cut
      {"xyz", "00000"}, {"", "00000"}, {"1F:rest", "0001F"}};
  for (const auto& c : cases) EXPECT_EQ(c.second, StdDevName(c.first)) << c.first;
}

TEST(CompareIds, DevicesNumericallyWWNsWithoutColonsBlanksOrCase) {
  FakeEnv env;
  hostrt::ScopedEnv scope(&env);
  EXPECT_TRUE(compareDevs("00A4", "a4"));
  EXPECT_FALSE(compareDevs("0", "0"));
  EXPECT_FALSE(compareDevs("a4", "zz"));
  EXPECT_FALSE(compareDevs("FFFFFFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFFFFFF"));  // overflow
  EXPECT_TRUE(compareWWNs("50:00:09:73:F0:0A:B1:04", "50000973F00AB104 "));
  EXPECT_FALSE(compareWWNs("5000", "5000-"));
}

// 32 hex digits: serial, then the device as ASCII pairs (an unscannable pair
// ends it); any other length leaves the outputs alone.
TEST(ParseDeviceWWN, SplitsSerialAndDevice) {
  FakeEnv env;
  hostrt::ScopedEnv scope(&env);
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
      {"", false, "keep"},
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

TEST(WWNText, BinaryFormsAndBack) {
  const unsigned char port[8] = {0x50, 0x00, 0x09, 0x73, 0xf0, 0x0a, 0xb1, 0x04};
  EXPECT_EQ(WWNToString(port), "50000973f00ab104");
  unsigned char dev[16];
  for (int i = 0; i < 16; ++i) dev[i] = (unsigned char)(i * 17);
  EXPECT_EQ(DeviceWWNToString(dev), "00112233445566778899aabbccddeeff");
  const std::pair<const char*, std::string> back[] = {
      {"50:00:09:73:F0:0A:B1:04", std::string((const char*)port, 8)}, {"", ""}, {":::", ""},
      {"5", std::string("\x50\0\0\0\0\0\0\0", 8)},
      {"zz11", std::string("\x00\x11\0\0\0\0\0\0", 8)}};
  for (const auto& c : back) EXPECT_EQ(c.second, StringToWWN(c.first)) << c.first;
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
