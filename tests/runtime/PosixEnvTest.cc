// The real machine's environment in a temporary home: settings, log files
// and the secrets that must never reach them.
#include "hostruntime/PosixEnv.h"

#include <gtest/gtest.h>

#include <fstream>

#include "host/HostServices.h"
#include "hostruntime/HostRequest.h"
#include "hostruntime/LogMask.h"
#include "hostruntime/SqliteHostDatabase.h"
#include "hostruntime/Settings.h"
#include "tests/runtime/TempDir.h"

namespace {

using hostrt::PosixEnv;

using runtime_test::ReadFile;

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

class PosixEnvTest : public ::testing::Test {
 protected:
  runtime_test::TempDir home;
};

// Plain values are read by every end-to-end run; these are the overrides.
TEST_F(PosixEnvTest, SettingsOverrideTheDefaults) {
  std::string dir;
  Write(home.File("settings.ini"),
        "[EventManager]\ndEVLOGDIR = " + home.File("elsewhere") +
            "\n[Host]\ndatabasePath = " + home.File("other.db") +
            "\n[~Fieldunit]\nnSymCliTimeoutSecs = 7\nnSymCliTimeoutMs = 1500\n");
  PosixEnv env(home.path());
  ASSERT_TRUE(env.GetDirectory("dEVLOGDIR", &dir));
  EXPECT_EQ(home.File("elsewhere"), dir);
  ASSERT_NE(nullptr, env.Database());
  EXPECT_NE("", ReadFile(home.File("other.db")));
  EXPECT_EQ("", ReadFile(home.File("host.db")));
  hostrt::ScopedEnv scope(&env);
  EXPECT_EQ(1500, hostrt::CommandTimeLimitMs());  // milliseconds win
}

TEST_F(PosixEnvTest, MalformedSettingsFailClearlyAndKeepThePreviousOnes) {
  Write(home.File("settings.ini"), "[Host]\nphysicalMachine = hostA\n");
  PosixEnv env(home.path());
  EXPECT_EQ("hostA", env.HostName());
  std::string error;
  EXPECT_TRUE(env.SettingsUsable(&error));
  Write(home.File("settings.ini"), "[Host]\nphysicalMachine hostB\n");
  EXPECT_FALSE(env.ReloadSettings(&error));
  EXPECT_NE(std::string::npos, error.find("line 2")) << error;
  EXPECT_FALSE(env.SettingsUsable(&error));
  EXPECT_EQ("hostA", env.HostName());
  PosixEnv fresh(home.path());
  EXPECT_FALSE(fresh.SettingsUsable(&error));
  EXPECT_FALSE(error.empty());
}

TEST_F(PosixEnvTest, LogLinesCarryTimePidLevelFunctionAndHonourThresholds) {
  Write(home.File("settings.ini"), "[Host]\ndebugLogLevel = 1\nrequestLogLevel = 1\n");
  PosixEnv env(home.path());
  hostrt::ScopedEnv scope(&env);
  EvDebug debug("test");
  debug.DebugLvl(1, "fnKept", "kept %d", 1);
  debug.DebugLvl(3, "fnDropped", "dropped");
  debug.Error("fnError", "two\nlines");
  hostrt::HostSnapInfo request;
  request.smSnapId = 77;
  request.log(0, "reqDetail", "detail dropped");
  request.log(2, "reqFailure", "failure kept");
  env.SetJobId(12);
  request.log(2, "reqJob", "in a job");
  std::string debugLog = ReadFile(home.File("logs/debug.log"));
  std::string requestLog = ReadFile(home.File("logs/request.log"));
  std::string pid = " " + std::to_string(getpid()) + " ";
  EXPECT_NE(std::string::npos, debugLog.find(pid + "[1] fnKept: kept 1\n"));
  EXPECT_NE(std::string::npos, debugLog.find(pid + "[-1] fnError: two lines\n"));
  EXPECT_EQ(std::string::npos, debugLog.find("dropped"));
  EXPECT_NE(std::string::npos, requestLog.find(pid + "[2] <77> reqFailure: failure kept\n"));
  EXPECT_EQ(std::string::npos, requestLog.find("detail dropped"));
  EXPECT_NE(std::string::npos, requestLog.find("[2] <77> {job 12} reqJob: in a job\n"));
}

TEST_F(PosixEnvTest, PasswordsNeverReachALogFile) {
  const std::string recordPassword = "Rec0rdPw", detailPassword = "Det4ilPw";
  PosixEnv env(home.path());
  hostrt::ScopedEnv scope(&env);
  auto* admin = dynamic_cast<hostrt::SqliteHostDatabase*>(env.Database());
  ASSERT_NE(nullptr, admin);
  std::string error;
  ASSERT_TRUE(admin->PutArrayInfoRecord(
      "000197900123", hostrt::MakeArrayInfoRecord(1, "ctl", "adm", recordPassword),
      &error));
  hostrt::ArrayDetailsRow row;
  row.arrayNumber = 1;
  row.arrayName = "000197900123";
  ASSERT_TRUE(admin->PutArrayDetails(row, detailPassword, &error));

  hostrt::HostSnapInfo request;
  request.arrayNum = 1;
  ASSERT_EQ(0, request.setArrayInfo("000197900123"));
  char record[4096];
  short size = sizeof record;
  ASSERT_EQ(0, request.getArrayInfoString(record, &size));
  // Decoding makes the runtime know the password as a secret.
  PZSO::ArrayDetailsSource* details = nullptr;
  ASSERT_EQ(0, request.getArrayDetailsObject(&details));
  std::string plain;
  ASSERT_EQ(0, request.decodeArrayDetail(details->getEncodedPassword(), &plain));
  request.releaseArrayDetailsObject(&details);

  // Careless callers: the record itself, the decoded password in a command
  // line, a name-value pair with quotes.
  request.log(2, "careless", "record %s", record);
  request.log(2, "careless", "symcli -pass %s -host ctl", plain.c_str());
  EvDebug debug("test");
  debug.Error("careless", "{\"hostPassword\" : \"other secret\", \"x\":1}");
  debug.Error("careless", "again %s and %s", recordPassword.c_str(), plain.c_str());

  std::vector<std::string> names;
  ASSERT_TRUE(env.ListDir(home.File("logs"), &names, &error));
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    std::string text = ReadFile(home.File("logs/" + name));
    EXPECT_EQ(std::string::npos, text.find(recordPassword)) << name;
    EXPECT_EQ(std::string::npos, text.find(detailPassword)) << name;
    EXPECT_EQ(std::string::npos, text.find("other secret")) << name;
  }
  std::string all = ReadFile(home.File("logs/request.log"));
  EXPECT_NE(std::string::npos, all.find("hostPassword:****}"));
  EXPECT_NE(std::string::npos, all.find("-pass **** -host ctl"));
}

TEST(LogMask, NamedValuesEndAtTheirItem) {
  EXPECT_EQ("{hostName:h,hostPassword:****,x:1}",
            hostrt::MaskSecrets("{hostName:h,hostPassword:abc,x:1}"));
  EXPECT_EQ("hostPassword=**** rest", hostrt::MaskSecrets("hostPassword=abc rest"));
  EXPECT_EQ("no hostPassword here", hostrt::MaskSecrets("no hostPassword here"));
  EXPECT_EQ("hostPassword:", hostrt::MaskSecrets("hostPassword:"));
}

}  // namespace
