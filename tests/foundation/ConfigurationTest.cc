#include <gtest/gtest.h>

#include "config/VMAXConfig.h"
#include "hostruntime/Env.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using testing_host::FakeEnv;
using testing_host::FakeSnapInfo;

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  void Setting(const std::string& key, const std::string& value) {
    env.Set("~Fieldunit", key, value);
  }
  bool ReadBoth() { return readSnapConfigs(&si, cfg) && readRegistryKeys(&si, cfg); }
  FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  FakeSnapInfo si;
  VMAXSnapConfig cfg;
};

using Strings = std::list<std::string>;

}  // namespace

TEST_F(ConfigTest, SmartRevertSettingOverridesSnapConfig) {
  si.snapConfigInts["SMCONFIG_NAME_USE_SMART_REVERT"] = 1;
  ASSERT_TRUE(ReadBoth());
  EXPECT_TRUE(cfg.bSymmSmartRevert);  // setting absent: unchanged
  EXPECT_TRUE(si.hasLog("Read snap config [SMCONFIG_NAME_USE_SMART_REVERT = 1]"));

  Setting("bSymmSmartRevert", "0");
  cfg = VMAXSnapConfig();
  ASSERT_TRUE(ReadBoth());
  EXPECT_FALSE(cfg.bSymmSmartRevert);
  EXPECT_TRUE(env.hasLogContaining("Additional setting found [~Fieldunit/bSymmSmartRevert] = [0]"));

  si.snapConfigInts.clear();
  Setting("bSymmSmartRevert", "1");
  ASSERT_TRUE(ReadBoth());
  EXPECT_TRUE(cfg.bSymmSmartRevert);
}

TEST_F(ConfigTest, OnlyValueOneTurnsAFlagOn) {
  si.snapConfigInts["SMCONFIG_DECOUPLED_INSTANT_CLONE"] = 2;
  si.snapConfigInts["SMCONFIG_DISABLE_SRDF_METRO_CONFIG"] = 1;
  si.snapConfigInts["SMCONFIG_NAME_DO_NOT_UNMAP_DURING_UNMOUNT"] = 1;
  si.snapConfigInts["SMCONFIG_NAME_USE_ENGINUITY_CONSISTENCY_ASSIST"] = 0;
  Setting("bSYMCLIForceUnlink", "2");
  Setting("bSymmVerboseLogging", "1");
  Setting("bSkipRestoreCleanup", "yes");  // not a number: ignored, reported
  cfg.bSkipRestoreCleanup = true;
  ASSERT_TRUE(ReadBoth());
  EXPECT_FALSE(cfg.bDecoupledInstantClone);
  EXPECT_TRUE(cfg.bDisableSRDFMetroConfig);
  EXPECT_TRUE(cfg.bDoNotUnmapDuringUnmount);
  EXPECT_FALSE(cfg.bUseEnginuityConsistencyAssist);
  EXPECT_FALSE(cfg.bSYMCLIForceUnlink);
  EXPECT_TRUE(cfg.bSymmVerboseLogging);
  EXPECT_TRUE(cfg.bSkipRestoreCleanup);
  // Absent ints keep their preset -1, which is logged; a 0 is not.
  EXPECT_TRUE(si.hasLog("Read snap config [SMCONFIG_NAME_USE_SMART_REVERT = -1]"));
  EXPECT_FALSE(si.hasLogContaining("SMCONFIG_NAME_USE_ENGINUITY_CONSISTENCY_ASSIST"));
}

TEST_F(ConfigTest, ListsAndStrings) {
  si.snapConfigStrings["SMCONFIG_NAME_WWPNS_TO_USE"] = "10000000c9aa0001,10000000c9aa0002";
  si.snapConfigStrings["SMCONFIG_NAME_MASKING_VIEWS_TO_USE"] = "mv_a";
  si.snapConfigStrings["SMCONFIG_LINK_DEVICE_STORAGE_GROUP"] = "tgt_sg";
  Setting("sSymmAllowWWPNs", "");  // empty: snap config list stays
  Setting("sSymmAllowMaskingViews", "mv_b,\"mv,c\",mv_d");
  env.Set("EventManager", "SYMAPI_HOME_DIR", "/opt/emc/SYMAPI");
  ASSERT_TRUE(ReadBoth());
  EXPECT_EQ(cfg.allowWWPNs, (Strings{"10000000c9aa0001", "10000000c9aa0002"}));
  EXPECT_EQ(cfg.allowMaskingViews, (Strings{"mv_b", "mv,c", "mv_d"}));
  EXPECT_EQ(cfg.linkDeviceStorageGroup, "tgt_sg");
  EXPECT_EQ(cfg.symapiHomeDir, "/opt/emc/SYMAPI");
  EXPECT_TRUE(si.hasLog("Read snap config [SMCONFIG_LINK_DEVICE_STORAGE_GROUP = 'tgt_sg']"));
}

TEST_F(ConfigTest, BadListSettingFailsAndKeepsTheList) {
  si.snapConfigStrings["SMCONFIG_NAME_WWPNS_TO_USE"] = "w1";
  Setting("sSymmAllowWWPNs", "\"unterminated,w2");
  EXPECT_TRUE(readSnapConfigs(&si, cfg));
  EXPECT_FALSE(readRegistryKeys(&si, cfg));
  EXPECT_TRUE(si.hasLog("Failed to parse additional setting value [\"unterminated,w2]"));
  EXPECT_EQ(cfg.allowWWPNs, Strings{"w1"});
  EXPECT_FALSE(readSnapConfigs(nullptr, cfg));
}

TEST_F(ConfigTest, OverlongSnapConfigStringIsCut) {
  si.snapConfigStrings["SMCONFIG_LINK_DEVICE_STORAGE_GROUP"] = std::string(5000, 's');
  ASSERT_TRUE(readSnapConfigs(&si, cfg));
  EXPECT_EQ(cfg.linkDeviceStorageGroup, std::string(1023, 's'));
}

TEST_F(ConfigTest, RegistryLookups) {
  int v = 42;
  EXPECT_FALSE(GetRegInt(nullptr, "nSymmMountRetryAttempts", &v));
  EXPECT_EQ(v, 42);
  Setting("nSymmMountRetryAttempts", "5");
  env.Set("~Fieldunit/inst1", "nSymmMountRetryAttempts", "7");
  EXPECT_TRUE(GetRegInt(nullptr, "nSymmMountRetryAttempts", &v));
  EXPECT_EQ(v, 5);
  EXPECT_TRUE(GetRegInt("inst1", "nSymmMountRetryAttempts", &v));
  EXPECT_EQ(v, 7);
  EXPECT_FALSE(GetRegInt(nullptr, nullptr, &v));
  EXPECT_FALSE(GetRegInt(nullptr, "nSymmMountRetryAttempts", nullptr));
  std::string s = "keep";
  EXPECT_FALSE(GetRegStr(nullptr, "sSymmCorrectiveArrayID", s));
  EXPECT_EQ(s, "keep");
  Setting("sSymmCorrectiveArrayID", "0001:0002");
  EXPECT_TRUE(GetRegStr(nullptr, "sSymmCorrectiveArrayID", s));
  EXPECT_EQ(s, "0001:0002");
  EXPECT_TRUE(env.hasLogContaining("Additional setting found [~Fieldunit/sSymmCorrectiveArrayID] = [0001:0002]"));
}

TEST(TokenizeCSVString, SplitRules) {
  FakeEnv env;
  hostrt::ScopedEnv scope(&env);
  Strings out{"old"};
  EXPECT_TRUE(TokenizeCSVString("", out));
  EXPECT_EQ(out, Strings{"old"});
  EXPECT_TRUE(TokenizeCSVString("a,\"b,c\",d", out));
  EXPECT_EQ(out, (Strings{"a", "b,c", "d"}));
  EXPECT_TRUE(env.hasLogContaining("Parsed CSV string [a, b,c, d, ]"));
  EXPECT_TRUE(TokenizeCSVString("x\\,y", out));
  EXPECT_EQ(out, Strings{"x,y"});
  EXPECT_FALSE(TokenizeCSVString("\"open", out));
  EXPECT_EQ(out, Strings{"x,y"});
  EXPECT_TRUE(env.hasLogContaining("Failed to parse CSV string [\"open]"));
}
