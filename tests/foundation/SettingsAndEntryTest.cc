// Settings and snap configuration reading, and the entry points' input
// checks and error reporting.
#include <gtest/gtest.h>

#include <cstring>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "hostruntime/Env.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using testing_host::FakeEnv;
using testing_host::FakeOSUtil;
using testing_host::FakeSnapInfo;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void Setting(const std::string& key, const std::string& value) {
    env.Set("~Fieldunit", key, value);
  }
  bool ReadBoth() { return readSnapConfigs(&si, cfg) && readRegistryKeys(&si, cfg); }
  FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  FakeSnapInfo si, a, b;
  VMAXSnapConfig cfg;
  FakeOSUtil util;
};

using Strings = std::list<std::string>;

}  // namespace

// Each snap config int and host setting reaches its own field; only 1 turns a
// flag on; a host setting overrides the snap config; a value that is not a
// number is ignored.
TEST_F(SettingsTest, KeysReachTheirFields) {
  using C = VMAXSnapConfig;
  struct Case {
    const char* key;  // SMCONFIG_...: snap config int; else host setting
    const char* value;
    bool VMAXSnapConfig::*field;
    bool preset, want;
  } cases[] = {
      {"SMCONFIG_NAME_USE_SMART_REVERT", "1", &C::bSymmSmartRevert, false, true},
      {"bSymmSmartRevert", "0", &C::bSymmSmartRevert, true, false},
      {"SMCONFIG_DECOUPLED_INSTANT_CLONE", "2", &C::bDecoupledInstantClone, false, false},
      {"SMCONFIG_DISABLE_SRDF_METRO_CONFIG", "1", &C::bDisableSRDFMetroConfig, false, true},
      {"SMCONFIG_NAME_DO_NOT_UNMAP_DURING_UNMOUNT", "1", &C::bDoNotUnmapDuringUnmount, false, true},
      {"SMCONFIG_NAME_USE_ENGINUITY_CONSISTENCY_ASSIST", "0", &C::bUseEnginuityConsistencyAssist,
       true, false},
      {"bSYMCLIForceUnlink", "2", &C::bSYMCLIForceUnlink, false, false},
      {"bSymmVerboseLogging", "1", &C::bSymmVerboseLogging, false, true},
      {"bSkipRestoreCleanup", "yes", &C::bSkipRestoreCleanup, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    env.settings.clear();
    si.snapConfigInts.clear();
    cfg = C();
    cfg.*c.field = c.preset;
    if (std::string(c.key).rfind("SMCONFIG_", 0) == 0)
      si.snapConfigInts[c.key] = std::stoi(c.value);
    else
      Setting(c.key, c.value);
    ASSERT_TRUE(ReadBoth());
    EXPECT_EQ(c.want, cfg.*c.field);
  }
  // The setting wins over the snap config in both directions.
  si.snapConfigInts = {{"SMCONFIG_NAME_USE_SMART_REVERT", 0}};
  Setting("bSymmSmartRevert", "1");
  ASSERT_TRUE(ReadBoth());
  EXPECT_TRUE(cfg.bSymmSmartRevert);
}

TEST_F(SettingsTest, ListsAndStrings) {
  si.snapConfigStrings["SMCONFIG_NAME_WWPNS_TO_USE"] = "10000000c9aa0001,10000000c9aa0002";
  si.snapConfigStrings["SMCONFIG_NAME_MASKING_VIEWS_TO_USE"] = "mv_a";
  si.snapConfigStrings["SMCONFIG_LINK_DEVICE_STORAGE_GROUP"] = std::string(5000, 's');
  Setting("sSymmAllowWWPNs", "");  // empty: snap config list stays
  Setting("sSymmAllowMaskingViews", "mv_b,\"mv,c\",mv\\,d");
  env.Set("EventManager", "SYMAPI_HOME_DIR", "/opt/emc/SYMAPI");
  ASSERT_TRUE(ReadBoth());
  EXPECT_EQ(cfg.allowWWPNs, (Strings{"10000000c9aa0001", "10000000c9aa0002"}));
  EXPECT_EQ(cfg.allowMaskingViews, (Strings{"mv_b", "mv,c", "mv,d"}));
  // Longer than the reader's buffer: the host refuses it rather than cut it.
  EXPECT_EQ(cfg.linkDeviceStorageGroup, "");
  EXPECT_EQ(cfg.symapiHomeDir, "/opt/emc/SYMAPI");
}

TEST_F(SettingsTest, BadListSettingFailsAndKeepsTheList) {
  si.snapConfigStrings["SMCONFIG_NAME_WWPNS_TO_USE"] = "w1";
  Setting("sSymmAllowWWPNs", "\"unterminated,w2");
  EXPECT_TRUE(readSnapConfigs(&si, cfg));
  EXPECT_FALSE(readRegistryKeys(&si, cfg));
  EXPECT_EQ(cfg.allowWWPNs, Strings{"w1"});
  EXPECT_FALSE(readSnapConfigs(nullptr, cfg));
}

// A count below one, no list, no util or a null request is refused, with one
// failure line.
TEST_F(SettingsTest, InvalidInputIsRefused) {
  SnapInfo* both[] = {&a, &b};
  SnapInfo* laterNull[] = {&a, nullptr};
  struct Case {
    SnapInfo** list;
    short count;
    bool withUtil, valid;
  } cases[] = {
      {both, 2, true, true},     {both, 0, true, false},      {nullptr, -3, false, false},
      {nullptr, 1, true, false}, {laterNull, 2, false, false}, {laterNull, 2, true, false},
  };
  for (const Case& c : cases) {
    env.logs.clear();
    EXPECT_EQ(c.valid, validateInputParams(c.list, c.count, c.withUtil ? &util : nullptr));
    EXPECT_EQ(c.valid ? 0u : 1u, env.logs.size());
  }
}

TEST_F(SettingsTest, FirstErrorWins) {
  setError(&a, 60551, "first");
  setError(&a, 62003, "second");
  EXPECT_EQ(a.errorCode, 60551);
  EXPECT_EQ(a.errorHistory.size(), 1u);
  setError(&b, 62003, nullptr);  // no text: nothing set
  EXPECT_TRUE(b.errorHistory.empty());
  b.errorCode = 0;
  b.errorText = "stale text without a code";
  setError(&b, 62002, "host id");
  EXPECT_EQ(b.errorCode, 62002);
}

TEST(SetErrorMessage, AlwaysTerminatesWithinSize) {
  char buffer[8];
  memset(buffer, 'X', sizeof buffer);
  setErrorMessage("Invalid parameters received", buffer, 5);
  EXPECT_STREQ(buffer, "Inva");
  EXPECT_EQ(buffer[5], 'X');  // nothing beyond the given size
  memset(buffer, 'X', sizeof buffer);
  setErrorMessage("ab", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "ab");
  memset(buffer, 'X', sizeof buffer);
  setErrorMessage("ab", buffer, 0);
  setErrorMessage("ab", buffer, -4);
  setErrorMessage(nullptr, buffer, 8);
  EXPECT_EQ(buffer[0], 'X');
  setErrorMessage("ab", nullptr, 8);
}

TEST_F(SettingsTest, PrepareRemoteRefusesEveryRequest) {
  SnapInfo* both[] = {&a, &b};
  EXPECT_EQ(pzso_prepareRemoteSnaps(both, 2, &util), 1);
  for (FakeSnapInfo* r : {&a, &b}) {
    EXPECT_EQ(r->status, 2);
    EXPECT_EQ(r->errorCode, 62008);
    EXPECT_EQ(r->errorText,
              "Replication is not supported with Dell EMC TimeFinder SnapVX(SYMCLI) "
              "engine. Please remove Replica Copy association for this subclient.");
  }
}
