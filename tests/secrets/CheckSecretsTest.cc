// The leaked-secret check run after the test suite (check-secrets.sh): it
// must catch a password in any file but the host database and files with
// loose modes, never print the password, and pass a home the real host
// runtime wrote.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "array/CommandRunner.h"
#include "hostdev/VMAXUtils.h"
#include "hostruntime/PosixEnv.h"
#include "hostruntime/ProcessRunner.h"
#include "hostruntime/SqliteHostDatabase.h"
#include "host/HostServices.h"
#include "tests/runtime/TempDir.h"
#include "tests/support/FakeHost.h"

namespace {

const std::string kPassword = "Pw-7f3#Zq9";
constexpr const char* kSerial = "000197900123";
const std::string kRecord =
    "{\"engineId\":2,\"hostName\":\"ctl01\",\"hostUserName\":\"admin\",\"hostPassword\":\"" +
    kPassword + "\"}";

std::pair<int, std::string> RunCheck(const std::string& root) {
  hostrt::ProcessSpec spec;
  spec.argv = {"bash", std::string(PZ_SOURCE_DIR) + "/tests/scripts/check-secrets.sh", root};
  spec.commandLine = spec.argv[0] + " " + spec.argv[1] + " " + root;
  spec.timeoutMs = 60000;
  hostrt::ProcessOutcome out;
  hostrt::RunChildProcess(spec, &out);
  EXPECT_TRUE(out.started) << out.startError;
  return {out.exitCode, out.output + out.error};
}

bool HaveSqliteTool() { return access("/usr/bin/sqlite3", X_OK) == 0; }

enum Kind { kText, kHostDb, kSqlite };
struct File {
  std::string path;
  mode_t mode;
  Kind kind;
  std::string content;  // text, or the row of a plain SQLite file
};

void Make(const std::string& root, const File& f) {
  std::string path = root + "/" + f.path;
  if (f.path.find('/') != std::string::npos)
    mkdir(path.substr(0, path.rfind('/')).c_str(), 0700);
  std::string error;
  if (f.kind == kText) {
    std::ofstream(path) << f.content;
  } else if (f.kind == kHostDb) {
    auto db = hostrt::SqliteHostDatabase::Open(path, &error);
    ASSERT_TRUE(db) << error;
    ASSERT_TRUE(db->PutArrayInfoRecord(kSerial, kRecord, &error)) << error;
  } else {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    std::string sql = "CREATE TABLE audit(args TEXT);";
    if (!f.content.empty()) sql += "INSERT INTO audit VALUES('" + f.content + "');";
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  chmod(path.c_str(), f.mode);
}

class CheckSecrets : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("PZ_ARRAY_PASSWORD"); }
  void TearDown() override { unsetenv("PZ_ARRAY_PASSWORD"); }
};

// Other SQLite files (a simulated array's state) are no host database: their
// mode is theirs, and a password in them is a leak like in any file.
TEST_F(CheckSecrets, VerdictOnAHome) {
  const std::string fl12 = "FLVMAX_12_2021.02.03-08.05.09.txt";
  struct Case {
    const char* name;
    bool needsTool, passwordInEnvironment;
    std::vector<File> files;
    int exitCode;
    std::vector<std::string> said, unsaid;
  } cases[] = {
      {"database password in a log", true, false,
       {{"host.db", 0600, kHostDb, ""},
        {"logs/debug.log", 0600, kText, "x: connecting with " + kPassword + "\n"}},
       1, {"logs/debug.log holds array password"}, {kPassword}},
      {"environment password in any file", false, true,
       {{"settings.ini", 0600, kText, "[Host]\nx = " + kPassword},
        {"VMAX_DClone_1.log", 0600, kText, "000A1 000B1\n"}},
       1, {"settings.ini holds"}, {"VMAX_DClone_1.log", kPassword}},
      {"loose modes", false, false,
       {{"host.db", 0644, kHostDb, ""}, {fl12, 0640, kText, "000A1\n"},
        {"FLVMAX_13_2021.02.03-08.05.09.txt", 0600, kText, "000A2\n"}},
       1, {"host.db has mode 644", fl12 + " has mode 640"}, {"FLVMAX_13"}},
      {"other SQLite file, clean", true, true, {{"symsim.db", 0644, kSqlite, ""}}, 0, {}, {}},
      {"other SQLite file, leaking", true, true,
       {{"symsim.db", 0644, kSqlite, "-pw " + kPassword}},
       1, {"symsim.db holds array password"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsTool && !HaveSqliteTool()) continue;
    runtime_test::TempDir dir;
    if (c.passwordInEnvironment) setenv("PZ_ARRAY_PASSWORD", kPassword.c_str(), 1);
    else unsetenv("PZ_ARRAY_PASSWORD");
    for (const File& f : c.files) Make(dir.path(), f);
    auto [exitCode, output] = RunCheck(dir.path());
    EXPECT_EQ(c.exitCode, exitCode) << output;
    for (const auto& s : c.said) EXPECT_NE(std::string::npos, output.find(s)) << s << output;
    for (const auto& s : c.unsaid) EXPECT_EQ(std::string::npos, output.find(s)) << s << output;
  }
  runtime_test::TempDir dir;
  EXPECT_EQ(2, RunCheck(dir.File("absent")).first);
}

// A home the real runtime wrote: database, logs holding the array record
// and the scanner's messages about it, a kept device file.
TEST_F(CheckSecrets, PassesAHomeTheHostRuntimeWrote) {
  if (!HaveSqliteTool()) GTEST_SKIP() << "sqlite3 tool not installed";
  runtime_test::TempDir dir;
  Make(dir.path(), {"settings.ini", 0600, kText, "[Host]\ndebugLogLevel = 4\nrequestLogLevel = 0\n"});
  Make(dir.path(), {"host.db", 0600, kHostDb, ""});
  hostrt::PosixEnv env(dir.path());
  std::string error, record, value;
  ASSERT_TRUE(env.ReloadSettings(&error)) << error;
  hostrt::ScopedEnv scoped(&env);
  ASSERT_NE(nullptr, env.Database());
  ASSERT_TRUE(env.Database()->GetArrayInfoRecord(kSerial, &record, &error)) << error;
  EvDebug debug("secrets-test");
  debug.DebugLvl(-1, "PassesAHomeTheHostRuntimeWrote", "record %s", record.c_str());
  for (const char* name : {"engineId", "hostName", "absent"}) parseJSONString(record, name, value);
  ASSERT_TRUE(parseJSONString(record, "hostPassword", value));
  testing_host::FakeSnapInfo si;
  si.jobParams[PZSO::JOB_PARAM_JOB_ID] = 77;
  std::string file;
  ASSERT_TRUE(WriteToFile(&si, "000A1\n000A2\n", file));

  auto [exitCode, output] = RunCheck(dir.path());
  EXPECT_EQ(0, exitCode) << output;
  EXPECT_NE(std::string::npos, output.find("1 host databases, 1 passwords: 0 problems")) << output;
  std::string text = runtime_test::ReadFile(dir.File("logs/debug.log"));  // the scan had something to look at
  EXPECT_NE(std::string::npos, text.find("hostUserName")) << text;
}

}  // namespace
