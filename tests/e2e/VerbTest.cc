// Verbs in their own right: post-snap backups, config scopes, supported.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

int CountEstablish(World& w) {
  Result audit = w.Symsim({"audit", "--json"});
  EXPECT_EQ(0, audit.exitCode) << audit.Describe();
  int n = 0;
  for (const auto& row : audit.json)
    for (const auto& a : row.value("args", nlohmann::json::array()))
      if (a.is_string() && a.get<std::string>() == "establish") ++n;
  return n;
}

TEST(Verb, PostSnapBackupEstablishesOnceInThePostSnapCall) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  Result backup = w.Pzhost(home, {"backup", "--post-snap", w.Source(0)});
  ASSERT_EQ(0, backup.exitCode) << backup.Describe();
  EXPECT_EQ(5, backup.json["snapshot"]["devices"][0]["status"].get<int>());
  EXPECT_EQ(1, CountEstablish(w)) << "prepare, then post-snap; never both";
}

TEST(Verb, ConfigScopesAreKeptApart) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  ASSERT_EQ(0, w.Pzhost(home, {"config", "set", "--setting", "~Fieldunit",
                               "nSymmMountRetryAttempts", "2"}).exitCode);
  Result get = w.Pzhost(home, {"config", "get", "--setting", "~Fieldunit",
                               "nSymmMountRetryAttempts"});
  EXPECT_EQ("2", get.json.value("nSymmMountRetryAttempts", ""));
  EXPECT_EQ(1, w.Pzhost(home, {"config", "get", "--snap",
                               "nSymmMountRetryAttempts"}).exitCode);
  EXPECT_EQ(1, w.Pzhost(home, {"config", "get", "nSymmMountRetryAttempts"})
                   .exitCode) << "a scope is required";
  std::string ini;
  ASSERT_TRUE(ReadFile(home + "/settings.ini", &ini));
  EXPECT_NE(std::string::npos, ini.find("[~Fieldunit]"));
  ASSERT_EQ(0, w.Pzhost(home, {"config", "unset", "--setting", "~Fieldunit",
                               "nSymmMountRetryAttempts"}).exitCode);
  EXPECT_EQ(1, w.Pzhost(home, {"config", "unset", "--setting", "~Fieldunit",
                               "nSymmMountRetryAttempts"}).exitCode);
  Result list = w.Pzhost(home, {"config", "list", "--snap"});
  EXPECT_EQ(w.demo().value("targetStorageGroup", ""),
            list.json["config"]["snap"].value(
                "SMCONFIG_LINK_DEVICE_STORAGE_GROUP", ""));
}

TEST(Verb, SupportedAnswersByExitCode) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  EXPECT_EQ(0, w.Pzhost(home, {"supported", w.Source(0)}).exitCode);
  Result no = w.Pzhost(home, {"supported", "symsim:" + w.host() + ":nothing"});
  EXPECT_EQ(1, no.exitCode);
  EXPECT_FALSE(no.json.value("supported", true));
}

TEST(Verb, InitStoresTheSymcliHomeAsAnAbsolutePath) {
  World w;
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
  std::string home = w.dir() + "/rel";
  ASSERT_EQ(0, w.Pzhost(home, {"init", "--symcli-home", "some/world/"}).exitCode);
  Result get = w.Pzhost(home, {"config", "get", "--setting", "EventManager",
                               "SYMAPI_HOME_DIR"});
  EXPECT_EQ(std::string(cwd) + "/some/world",
            get.json.value("SYMAPI_HOME_DIR", ""))
      << "a job started from another directory must find the same tools";
}

TEST(Verb, SettingsThatWouldReadBackAsOthersAreNeverWritten) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  std::string before, after;
  ASSERT_TRUE(ReadFile(home + "/settings.ini", &before));
  Result set = w.Pzhost(home, {"config", "set", "--setting", "Host", "k",
                               "1\n[EventManager]\nSYMAPI_HOME_DIR = /elsewhere"});
  EXPECT_EQ(1, set.exitCode) << set.Describe();
  Result init = w.Pzhost(home, {"init", "--symcli-home", w.world(), "--client-name",
                                "c\n[Host]\nsimulatedHost = other"});
  EXPECT_EQ(1, init.exitCode) << init.Describe();
  EXPECT_NE(std::string::npos, init.err.find("cannot store [Host] clientName")) << init.err;
  ASSERT_TRUE(ReadFile(home + "/settings.ini", &after));
  EXPECT_EQ(before, after);
}

}  // namespace
}  // namespace e2e
