// SQLite host database: the contract of every host database, the private
// file, schema upgrades, and reservations that stay exclusive when several
// processes race for the same targets.
#include "hostruntime/SqliteHostDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

#include "hostruntime/ProcessRunner.h"
#include "hostruntime/SecretCodec.h"
#include "tests/runtime/TempDir.h"
#include "tests/support/HostDatabaseContract.h"

namespace {

using hostrt::Reservation;
using hostrt::SqliteHostDatabase;

using db_contract::kArray;
constexpr const char* kRaceDbVariable = "PZ_RACE_DB";
constexpr int kRaceTargets = 24;
constexpr int kRacers = 8;

using db_contract::Entry;

std::string Target(int i) {
  char name[8];
  snprintf(name, sizeof name, "%05X", 0x100 + i);
  return name;
}

// Handles on one file of a fresh directory.
struct SqliteBackend {
  using Db = SqliteHostDatabase;
  bool Start(std::string*) { return true; }
  std::unique_ptr<Db> Open() {
    std::string error;
    std::unique_ptr<Db> db = SqliteHostDatabase::Open(dir.File("host.db"), &error);
    EXPECT_TRUE(db) << error;
    return db;
  }
  runtime_test::TempDir dir;
};

}  // namespace

namespace db_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Sqlite, HostDatabaseContract, SqliteBackend);
}  // namespace db_contract

namespace {

class SqliteHostDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    db = SqliteHostDatabase::Open(dir.File("host.db"), &error);
    ASSERT_TRUE(db) << error;
  }
  runtime_test::TempDir dir;
  std::unique_ptr<SqliteHostDatabase> db;
};

TEST_F(SqliteHostDatabaseTest, FileIsPrivateAndSchemaCurrent) {
  struct stat st;
  ASSERT_EQ(0, stat(db->path().c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  int version = 0;
  ASSERT_TRUE(db->SchemaVersion(&version, nullptr));
  EXPECT_EQ(SqliteHostDatabase::kSchemaVersion, version);
}

// Files of versions 1 and 2 are upgraded keeping their rows; version 2's
// reservations have their grant time; the new id counter is not reset by
// opening the file again.
TEST(SqliteHostDatabaseUpgrade, OlderFilesAreUpgradedKeepingTheirRows) {
  for (int old : {1, 2}) {
    SCOPED_TRACE(old);
    runtime_test::TempDir dir;
    std::string path = dir.File("old.db");
    const std::string created = old == 2 ? " created INTEGER NOT NULL DEFAULT 0," : "";
    const std::string sql =
        "CREATE TABLE schema_version(version INTEGER NOT NULL);"
        "INSERT INTO schema_version VALUES(" + std::to_string(old) + ");"
        "CREATE TABLE array_info(serial TEXT PRIMARY KEY, record TEXT NOT NULL);"
        "CREATE TABLE array_details(array_number INTEGER PRIMARY KEY,"
        " array_name TEXT NOT NULL, control_host TEXT NOT NULL,"
        " user_name TEXT NOT NULL, encoded_password TEXT NOT NULL);"
        "CREATE TABLE reservations(array TEXT NOT NULL, target TEXT NOT NULL,"
        " source TEXT NOT NULL, sm_snap_id INTEGER NOT NULL,"
        " job_id INTEGER NOT NULL," + created + " UNIQUE(array, target));"
        "INSERT INTO reservations VALUES('A','00300','00010',7,70" + (old == 2 ? ",5" : "") + ");";
    sqlite3* raw = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &raw));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(raw);
    std::string error;
    auto db = SqliteHostDatabase::Open(path, &error);
    ASSERT_TRUE(db) << error;
    int version = 0;
    ASSERT_TRUE(db->SchemaVersion(&version, &error));
    EXPECT_EQ(SqliteHostDatabase::kSchemaVersion, version);
    std::vector<hostrt::ReservationEntry> all;
    ASSERT_TRUE(db->ListAllReservations(&all, &error));
    ASSERT_EQ(1u, all.size());
    EXPECT_EQ(7, all[0].reservation.smSnapId);
    std::vector<bool> granted;
    ASSERT_TRUE(db->Reserve({Entry(8, "00300", "A")}, &granted, &error));
    EXPECT_FALSE(granted[0]);
    for (long long want : {1, 2}) {
      long long first = 0;
      ASSERT_TRUE(db->AllocateIds(hostrt::HostIdKind::kSmSnapId, 1, 1, &first, &error)) << error;
      EXPECT_EQ(want, first);
      db = SqliteHostDatabase::Open(path, &error);
      ASSERT_TRUE(db) << error;
    }
  }
}

TEST(SqliteHostDatabaseUpgrade, NewerSchemaIsRefused) {
  runtime_test::TempDir dir;
  std::string path = dir.File("new.db");
  std::string error;
  ASSERT_TRUE(SqliteHostDatabase::Open(path, &error));
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &raw));
  sqlite3_exec(raw, "UPDATE schema_version SET version = 99", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  EXPECT_FALSE(SqliteHostDatabase::Open(path, &error));
  EXPECT_NE(std::string::npos, error.find("99"));
}

// The racing side: run by EachTargetIsGrantedOnce in child processes; it
// reserves every target once, starting at a place of its own, and prints
// what it was granted.
TEST(ReservationRace, Child) {
  const char* path = getenv(kRaceDbVariable);
  if (!path) GTEST_SKIP() << "runs only as a racer";
  std::string error;
  auto db = SqliteHostDatabase::Open(path, &error);
  ASSERT_TRUE(db) << error;
  int me = int(getpid());
  for (int k = 0; k < kRaceTargets; ++k) {
    std::string target = Target((k + me) % kRaceTargets);
    std::vector<bool> granted;
    ASSERT_TRUE(db->Reserve({Entry(me, target)}, &granted, &error)) << error;
    ASSERT_EQ(1u, granted.size());
    if (granted[0]) printf("GRANTED %s %d\n", target.c_str(), me);
  }
  fflush(stdout);
}

TEST(ReservationRace, EachTargetIsGrantedOnce) {
  if (getenv(kRaceDbVariable)) GTEST_SKIP() << "not inside a racer";
  runtime_test::TempDir dir;
  std::string path = dir.File("race.db");
  std::string error;
  ASSERT_TRUE(SqliteHostDatabase::Open(path, &error)) << error;
  setenv(kRaceDbVariable, path.c_str(), 1);
  char self[4096] = {0};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::vector<hostrt::ProcessOutcome> outcomes(kRacers);
  std::vector<std::thread> racers;
  for (int i = 0; i < kRacers; ++i) {
    racers.emplace_back([&, i] {
      hostrt::ProcessSpec spec;
      spec.argv = {self, "--gtest_filter=ReservationRace.Child"};
      spec.timeoutMs = 120000;
      hostrt::RunChildProcess(spec, &outcomes[size_t(i)]);
    });
  }
  for (auto& t : racers) t.join();
  unsetenv(kRaceDbVariable);

  std::map<std::string, int> grants;
  for (const auto& o : outcomes) {
    ASSERT_TRUE(o.started) << o.startError;
    ASSERT_EQ(0, o.exitCode) << o.output << o.error;
    std::istringstream lines(o.output);
    std::string line;
    while (std::getline(lines, line))
      if (line.rfind("GRANTED ", 0) == 0) ++grants[line.substr(8, 5)];
  }
  ASSERT_EQ(size_t(kRaceTargets), grants.size());
  for (const auto& g : grants) EXPECT_EQ(1, g.second) << g.first;
  auto db = SqliteHostDatabase::Open(path, &error);
  ASSERT_TRUE(db) << error;
  std::vector<Reservation> held;
  ASSERT_TRUE(db->QueryReservations(kArray, &held, &error));
  EXPECT_EQ(size_t(kRaceTargets), held.size());
}

}  // namespace
