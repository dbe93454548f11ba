// What stops an operator's mistake: settings that are refused unless read as
// meant, array records and their secrets, and the verbs that change an
// array seen first with --dry-run or confirmed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/e2e/Steps.h"
#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

std::string Settings(const std::string& home) {
  std::string text;
  EXPECT_TRUE(ReadFile(home + "/settings.ini", &text));
  return text;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path) << text;
  ASSERT_EQ(0, chmod(path.c_str(), mode));
}

TEST(OperatorSafety, RefusedSettingsLeaveTheFileByteForByte) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  // An operator's comments, which every rewrite keeps where they stand.
  std::string edited = "# tuned for the lab array\n" + Settings(home) +
                       "\n; retries\n[~Fieldunit]\nnSymmMountRetryAttempts = 3\n";
  WriteFile(home + "/settings.ini", edited, 0600);
  struct Case {
    std::vector<std::string> args;
    const char* why;  // in the refusal
  };
  const std::vector<Case> refused = {
      {{"--setting", "~Fieldunit", "nSymCliTimeoutSecs", "-5"}, "from 1 to"},
      {{"--setting", "~Fieldunit", "nSymCliTimeoutMs", "1e3"}, "an integer"},
      {{"--setting", "~Fieldunit", "nSymmMountRetryAttempts", "many"}, "an integer"},
      {{"--setting", "~Fieldunit", "bSymmSmartRevert", "yes"}, "1 (on) or 0"},
      {{"--setting", "~Fieldunit", "nSymmMountRetryAtempts", "3"}, "--force"},
      {{"--setting", "Hots", "sleepScale", "0"}, "known sections"},
      {{"--setting", "Host", "sleepScale", "fast"}, "a number"},
      {{"--setting", "Database", "backend", "mysql"}, "sqlite or postgresql"},
      {{"--setting", "~Fieldunit", "sSymmAllowMaskingViews", "mv1,mv 2"}, "masking view"},
      {{"--snap", "SMCONFIG_LINK_DEVICE_STORAGE_GROUP", "SG one"}, "storage group"},
      {{"--snap", "SMCONFIG_LINK_DEVICE_STORAGE_GROUP", "-sid"}, "storage group"},
      {{"--snap", "SMCONFIG_NAME_WWPNS_TO_USE", "10000000c9abcdeg"}, "WWPN"},
      {{"--snap", "SMCONFIG_NAME_USE_SMART_REVERT", "2"}, "1 (on) or 0"},
      {{"--snap", "SMCONFIG_BOGUS", "1"}, "--force"},
  };
  Result before = w.Pzhost(home, {"config", "list"});
  for (const Case& c : refused) {
    // "--" ends the options, so that "-5" is a value.
    std::vector<std::string> args = {"config", "set"};
    args.insert(args.end(), c.args.begin(), c.args.end() - 2);
    args.insert(args.end(), {"--", c.args[c.args.size() - 2], c.args.back()});
    Result r = w.Pzhost(home, args);
    EXPECT_EQ(1, r.exitCode) << c.args[2] << ": " << r.Describe();
    EXPECT_TRUE(Contains(r.err, c.why)) << r.err;
    EXPECT_EQ(edited, Settings(home)) << c.args[2];
  }
  EXPECT_EQ(before.json["config"], w.Pzhost(home, {"config", "list"}).json["config"])
      << "no refused snap config was stored";

  // --force stores an unknown key; a known one with a sound value is stored
  // in place; the comments stay where they were.
  Ok(w, home, {"config", "set", "--force", "--setting", "~Fieldunit", "nSymmFuture", "7"});
  Ok(w, home, {"config", "set", "--setting", "~Fieldunit", "nSymmMountRetryAttempts", "4"});
  Ok(w, home, {"config", "set", "--setting", "~Fieldunit", "nSymCliTimeoutSecs", "30"});
  Ok(w, home, {"config", "set", "--snap", "SMCONFIG_NAME_MASKING_VIEWS_TO_USE", "mv_a,\"mv.b\""});
  std::string after = Settings(home);
  size_t top = after.find("# tuned for the lab array\n");
  size_t retries = after.find("; retries\n[~Fieldunit]\nnSymmMountRetryAttempts = 4\n");
  EXPECT_EQ(0u, top) << after;
  ASSERT_NE(std::string::npos, retries) << after;
  EXPECT_NE(std::string::npos, after.find("nSymmFuture = 7", retries)) << after;
  EXPECT_NE(std::string::npos, after.find("nSymCliTimeoutSecs = 30", retries)) << after;
}

TEST(OperatorSafety, ArraysAndTheirSecrets) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  const std::string secret = "Open-Sesame-0815";
  const std::string file = w.dir() + "/password";
  WriteFile(file, secret + "\n", 0644);
  struct Case {
    std::vector<std::string> extra;
    int exitCode;
    const char* says;
  };
  const std::vector<Case> cases = {
      {{"--password-file", file}, 1, "chmod 600"},
      {{"--password", secret}, 2, "--password-file"},
      {{"--password=" + secret}, 2, "--password-file"},
      {{}, 0, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"array", "add", "--serial", "000197800999",
                                     "--num", "2"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    Result r = w.Pzhost(home, args);
    EXPECT_EQ(c.exitCode, r.exitCode) << r.Describe();
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    EXPECT_FALSE(Contains(r.out + r.err, secret)) << r.Describe();
  }
  Result list = Ok(w, home, {"array", "list"});
  ASSERT_EQ(2u, list.json["arrays"].size()) << list.Describe();
  EXPECT_TRUE(list.json["arrays"][0]["password"].get<bool>());
  EXPECT_FALSE(list.json["arrays"][1]["password"].get<bool>())
      << "an array added without a password has none stored";
  Ok(w, home, {"array", "remove", "--num", "2"});
  EXPECT_EQ(1, w.Pzhost(home, {"array", "remove", "--num", "2"}).exitCode);

  // A password read from its file never leaves the host database, whatever
  // the plug-in logs on a job.
  ASSERT_EQ(0, chmod(file.c_str(), 0600));
  Ok(w, home, {"array", "add", "--serial", w.serial(), "--num", "1", "--host", "ctl",
               "--user", "admin", "--password-file", file});
  std::string id = Backup(w, home, {w.Source(0)});
  EXPECT_FALSE(Contains(w.Pzhost(home, {"array", "list"}).out, secret));
  std::string content;
  for (const std::string& f : ListDir(home + "/logs")) {
    ASSERT_TRUE(ReadFile(home + "/logs/" + f, &content));
    EXPECT_FALSE(Contains(content, secret)) << f;
  }
  EXPECT_FALSE(Contains(Settings(home), secret));
  ASSERT_TRUE(ReadFile(home + "/host.db", &content));
  EXPECT_FALSE(Contains(content, secret)) << "stored encoded";

  // An array whose targets a mount holds stays until they are free.
  Ok(w, home, {"mount", id});
  Result held = w.Pzhost(home, {"array", "remove", "--serial", w.serial()});
  EXPECT_EQ(1, held.exitCode) << held.Describe();
  ASSERT_EQ(1u, held.json["reservations"].size()) << held.Describe();
  EXPECT_TRUE(Contains(held.err, held.json["reservations"][0]["target"].get<std::string>()))
      << held.err;
  EXPECT_EQ(1u, w.Pzhost(home, {"array", "list"}).json["arrays"].size());
  Ok(w, home, {"unmount", id});
  Ok(w, home, {"array", "remove", "--serial", w.serial()});
  EXPECT_EQ(0u, w.Pzhost(home, {"array", "list"}).json["arrays"].size());
}

TEST(OperatorSafety, DryRunsAndUnconfirmedRevertsLeaveTheArrayAsItWas) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  Result backup = Ok(w, home, {"backup", w.Source(0)});
  std::string id = std::to_string(World::SnapshotId(backup));
  std::string name = backup.json["snapshot"].value("name", "");
  Ok(w, home, {"mount", id});
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* says;  // on standard error when refused, else on standard output
  };
  const std::vector<Case> cases = {
      {{"unmount", "--dry-run", id}, 0, "target "},
      {{"revert", "--dry-run", id}, 0, "overwrite the source devices"},
      {{"delete", "--dry-run", id}, 1, "unmount it before deleting"},
      {{"revert", id}, 1, "pass --yes"},
  };
  Result arrayBefore = w.Symsim({"show", "--json"});
  Result catalogBefore = w.Pzhost(home, {"list"});
  ASSERT_EQ(0, arrayBefore.exitCode) << arrayBefore.Describe();
  for (const Case& c : cases) {
    Result r = w.Pzhost(home, c.args, false);
    EXPECT_EQ(c.exitCode, r.exitCode) << r.Describe();
    EXPECT_TRUE(Contains(c.exitCode ? r.err : r.out, c.says)) << r.Describe();
    if (c.exitCode == 0) {
      EXPECT_TRUE(Contains(r.out, name) && Contains(r.out, w.SourceDevice(0))) << r.out;
    }
    EXPECT_EQ(arrayBefore.json, w.Symsim({"show", "--json"}).json) << c.args[0];
  }
  EXPECT_EQ(catalogBefore.json["snapshots"], w.Pzhost(home, {"list"}).json["snapshots"]);
  Ok(w, home, {"unmount", id});
  arrayBefore = w.Symsim({"show", "--json"});
  EXPECT_TRUE(Ok(w, home, {"delete", "--dry-run", id}).json.value("dryRun", false));
  EXPECT_EQ(arrayBefore.json, w.Symsim({"show", "--json"}).json);
  EXPECT_EQ(1u, w.Pzhost(home, {"list"}).json["snapshots"].size());
}

}  // namespace
}  // namespace e2e
