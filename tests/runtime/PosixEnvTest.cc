// The real machine's environment in a temporary home: settings, log files
// and the secrets that must never reach them; the settings file's own rules.
#include "hostruntime/PosixEnv.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

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

// --- The settings file itself

// Written settings parse back the same; a blank section name is refused
// like an empty one.
TEST(IniFile, ParseAndWriteBack) {
  hostrt::IniFile ini, again;
  std::string error, value;
  ASSERT_TRUE(ini.Parse("# c\n[ a b ]\n k = v = w \r\n[c]\n", &error)) << error;
  ASSERT_TRUE(again.Parse(ini.Serialize(), &error)) << error;
  EXPECT_EQ(ini.sections(), again.sections());
  ASSERT_TRUE(again.Get("a b", "k", &value));
  EXPECT_EQ("v = w", value);
  EXPECT_FALSE(ini.Parse("[]\nk = v\n", &error));
  EXPECT_FALSE(ini.Parse("[ \t]\nk = v\n", &error));
  EXPECT_EQ("malformed section header at line 1", error);
}

// What a user hands to `config set` either round-trips exactly or is
// refused: a line break or "=" must not smuggle in a second setting.
TEST(IniFile, CanHoldOnlyWhatReadsBackAsTheSameSingleEntry) {
  struct Case {
    std::string section, key, value;
    bool fits;
  };
  const std::vector<Case> cases = {
      {"~Fieldunit", "nSymCliTimeoutMs", "300", true},
      {"Host", "remote command", "ssh -o BatchMode=yes", true},
      {"Host", "empty", "", true},
      {"Host", "k", "1\n[EventManager]\nSYMAPI_HOME_DIR = /evil", false},
      {"Host", "k", "1\rx = 2", false},
      {"Host", "a = b", "v", false},
      {"Host", "k\nx", "v", false},
      {"Host", "#k", "v", false},
      {"Host", "[k", "v", false},
      {"Host", " k", "v", false},
      {"Host", "k", "v ", false},
      {"Ho]st", "k", "v", false},
      {"Ho\nst", "k", "v", false},
      {"", "k", "v", false},
      {"Host", "", "v", false},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(c.fits, hostrt::IniFile::CanHold(c.section, c.key, c.value, &why))
        << "[" << c.section << "] " << c.key << " = " << c.value;
    if (!c.fits) {
      EXPECT_FALSE(why.empty());
      continue;
    }
    hostrt::IniFile ini, again;
    ini.Set(c.section, c.key, c.value);
    std::string error;
    ASSERT_TRUE(again.Parse(ini.Serialize(), &error)) << error;
    EXPECT_EQ(ini.sections(), again.sections());
  }
}

// A rewrite keeps the operator's comments, blank lines and order: only the
// entry that changed is written anew. A key read twice stands once, where it
// first stood, with the value the reader took (the last).
TEST(IniFile, RewriteKeepsCommentsAndOrder) {
  const std::string head = "# lab host\n[Host]\n; no waits\n", scale = "sleepScale   =  0\n";
  const std::string engine = "\n# engine\n[~Fieldunit]\n", read = "b = 3\na = 2\n";
  struct Case {
    const char* what;
    std::function<void(hostrt::IniFile&)> edit;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"nothing", [](hostrt::IniFile&) {}, head + scale + engine + read},
      {"a change in place", [](hostrt::IniFile& i) { i.Set("Host", "sleepScale", "1"); },
       head + "sleepScale = 1\n" + engine + read},
      {"a new key after its section's last entry",
       [](hostrt::IniFile& i) { i.Set("Host", "clientName", "c"); },
       head + scale + "clientName = c\n" + engine + read},
      {"a removal and a new section",
       [](hostrt::IniFile& i) {
         i.Remove("~Fieldunit", "b");
         i.Set("Database", "backend", "sqlite");
       },
       head + scale + engine + "a = 2\n\n[Database]\nbackend = sqlite\n\n"},
  };
  for (const Case& c : cases) {
    hostrt::IniFile ini;
    std::string error;
    ASSERT_TRUE(ini.Parse(head + scale + engine + "b = 1\na = 2\nb = 3\n", &error)) << error;
    c.edit(ini);
    EXPECT_EQ(c.expected, ini.Serialize()) << c.what;
  }
}

}  // namespace
