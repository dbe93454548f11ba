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

constexpr const char* kPassword = "Pw-7f3#Zq9";
constexpr const char* kSerial = "000197900123";
constexpr int kJobId = 77;
const std::string kRecord = std::string(
    "{\"engineId\":2,\"hostName\":\"ctl01\",\"hostUserName\":\"admin\","
    "\"hostPassword\":\"") + kPassword + "\"}";

struct Outcome {
  int exitCode;
  std::string output;
};

Outcome RunCheck(const std::string& root) {
  hostrt::ProcessSpec spec;
  spec.argv = {"bash", std::string(PZ_SOURCE_DIR) + "/tests/scripts/check-secrets.sh",
               root};
  spec.commandLine = spec.argv[0] + " " + spec.argv[1] + " " + root;
  spec.timeoutMs = 60000;
  hostrt::ProcessOutcome out;
  hostrt::RunChildProcess(spec, &out);
  EXPECT_TRUE(out.started) << out.startError;
  return {out.exitCode, out.output + out.error};
}

void WriteText(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path) << text;
  chmod(path.c_str(), mode);
}

bool HaveSqliteTool() { return access("/usr/bin/sqlite3", X_OK) == 0; }

void MakeDatabase(const std::string& path) {
  std::string error;
  auto db = hostrt::SqliteHostDatabase::Open(path, &error);
  ASSERT_TRUE(db) << error;
  ASSERT_TRUE(db->PutArrayInfoRecord(kSerial, kRecord, &error)) << error;
}

class CheckSecrets : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("PZ_ARRAY_PASSWORD"); }
  void TearDown() override { unsetenv("PZ_ARRAY_PASSWORD"); }
  runtime_test::TempDir dir_;
};

TEST_F(CheckSecrets, FindsThePasswordOfTheDatabaseInALogWithoutPrintingIt) {
  if (!HaveSqliteTool()) GTEST_SKIP() << "sqlite3 tool not installed";
  MakeDatabase(dir_.File("host.db"));
  mkdir(dir_.File("logs").c_str(), 0700);
  WriteText(dir_.File("logs/debug.log"),
            std::string("x: connecting with ") + kPassword + "\n", 0600);
  Outcome o = RunCheck(dir_.path());
  EXPECT_EQ(1, o.exitCode) << o.output;
  EXPECT_NE(std::string::npos, o.output.find("logs/debug.log holds array password"))
      << o.output;
  EXPECT_EQ(std::string::npos, o.output.find(kPassword));
}

TEST_F(CheckSecrets, FindsAPasswordGivenByTheEnvironmentInAnyFile) {
  setenv("PZ_ARRAY_PASSWORD", kPassword, 1);
  WriteText(dir_.File("settings.ini"), std::string("[Host]\nx = ") + kPassword,
            0600);
  WriteText(dir_.File("VMAX_DClone_1.log"), "000A1 000B1\n", 0600);
  Outcome o = RunCheck(dir_.path());
  EXPECT_EQ(1, o.exitCode) << o.output;
  EXPECT_NE(std::string::npos, o.output.find("settings.ini holds")) << o.output;
  EXPECT_EQ(std::string::npos, o.output.find("VMAX_DClone_1.log")) << o.output;
}

TEST_F(CheckSecrets, RefusesLooseModesOfDeviceFilesAndDatabases) {
  MakeDatabase(dir_.File("host.db"));
  chmod(dir_.File("host.db").c_str(), 0644);
  WriteText(dir_.File("FLVMAX_12_2021.02.03-08.05.09.txt"), "000A1\n", 0640);
  WriteText(dir_.File("FLVMAX_13_2021.02.03-08.05.09.txt"), "000A2\n", 0600);
  Outcome o = RunCheck(dir_.path());
  EXPECT_EQ(1, o.exitCode) << o.output;
  EXPECT_NE(std::string::npos, o.output.find("host.db has mode 644")) << o.output;
  EXPECT_NE(std::string::npos, o.output.find("FLVMAX_12_2021.02.03-08.05.09.txt has mode 640"))
      << o.output;
  EXPECT_EQ(std::string::npos, o.output.find("FLVMAX_13")) << o.output;
}

TEST_F(CheckSecrets, RefusesAMissingRoot) {
  EXPECT_EQ(2, RunCheck(dir_.File("absent")).exitCode);
}

// A home the real runtime wrote: database, logs holding the array record
// and the scanner's messages about it, a kept device file.
TEST_F(CheckSecrets, PassesAHomeTheHostRuntimeWrote) {
  if (!HaveSqliteTool()) GTEST_SKIP() << "sqlite3 tool not installed";
  WriteText(dir_.File("settings.ini"),
            "[Host]\ndebugLogLevel = 4\nrequestLogLevel = 0\n", 0600);
  MakeDatabase(dir_.File("host.db"));
  hostrt::PosixEnv env(dir_.path());
  std::string error;
  ASSERT_TRUE(env.ReloadSettings(&error)) << error;
  hostrt::ScopedEnv scoped(&env);
  ASSERT_NE(nullptr, env.Database());

  std::string record;
  ASSERT_TRUE(env.Database()->GetArrayInfoRecord(kSerial, &record, &error)) << error;
  EvDebug debug("secrets-test");
  debug.DebugLvl(-1, "PassesAHomeTheHostRuntimeWrote", "record %s", record.c_str());
  std::string value;
  for (const char* name : {"engineId", "hostName", "hostPassword", "absent"})
    parseJSONString(record, name, value);
  std::string password;
  ASSERT_TRUE(parseJSONString(record, "hostPassword", password));

  testing_host::FakeSnapInfo si;
  si.jobParams[PZSO::JOB_PARAM_JOB_ID] = kJobId;
  std::string file;
  ASSERT_TRUE(WriteToFile(&si, "000A1\n000A2\n", file));

  Outcome o = RunCheck(dir_.path());
  EXPECT_EQ(0, o.exitCode) << o.output;
  EXPECT_NE(std::string::npos, o.output.find("1 host databases, 1 passwords: 0 problems"))
      << o.output;
  // The scan had something to look at.
  std::ifstream log(dir_.File("logs/debug.log"));
  std::string text((std::istreambuf_iterator<char>(log)), {});
  EXPECT_NE(std::string::npos, text.find("hostUserName")) << text;
}

// Other SQLite files (a simulated array's state) are no host database: their
// mode is theirs, and a password in them is a leak like in any file.
TEST_F(CheckSecrets, OtherSqliteFilesAreScannedAsPlainFiles) {
  if (!HaveSqliteTool()) GTEST_SKIP() << "sqlite3 tool not installed";
  setenv("PZ_ARRAY_PASSWORD", kPassword, 1);
  const std::string state = dir_.File("symsim.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(state.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "CREATE TABLE audit(args TEXT)", nullptr,
                                    nullptr, nullptr));
  sqlite3_close(db);
  chmod(state.c_str(), 0644);
  Outcome clean = RunCheck(dir_.path());
  EXPECT_EQ(0, clean.exitCode) << clean.output;

  ASSERT_EQ(SQLITE_OK, sqlite3_open(state.c_str(), &db));
  std::string insert = std::string("INSERT INTO audit VALUES('-pw ") + kPassword + "')";
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr));
  sqlite3_close(db);
  Outcome leak = RunCheck(dir_.path());
  EXPECT_EQ(1, leak.exitCode) << leak.output;
  EXPECT_NE(std::string::npos, leak.output.find("symsim.db holds array password"))
      << leak.output;
}

}  // namespace
