// SQLite host database: records, details, schema upgrade, and reservations
// that stay exclusive when several processes race for the same targets.
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

namespace {

using hostrt::Reservation;
using hostrt::SqliteHostDatabase;

constexpr const char* kArray = "000197900123";
constexpr const char* kRaceDbVariable = "PZ_RACE_DB";
constexpr int kRaceTargets = 24;
constexpr int kRacers = 8;

Reservation Entry(int smSnapId, const std::string& target,
                  const std::string& array = kArray) {
  Reservation r;
  r.smSnapId = smSnapId;
  r.array = array;
  r.source = "00A10";
  r.target = target;
  r.jobId = 100 + smSnapId;
  return r;
}

std::string Target(int i) {
  char name[8];
  snprintf(name, sizeof name, "%05X", 0x100 + i);
  return name;
}

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

TEST_F(SqliteHostDatabaseTest, ArrayRecordsAndDetailsWithEncodedPassword) {
  std::string error, record;
  EXPECT_FALSE(db->GetArrayInfoRecord(kArray, &record, &error));
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(db->PutArrayInfoRecord(
      kArray, hostrt::MakeArrayInfoRecord(3, "ctl", "adm", "pw"), &error));
  ASSERT_TRUE(db->GetArrayInfoRecord(kArray, &record, &error));
  EXPECT_EQ("{engineId:3,hostName:ctl,hostUserName:adm,hostPassword:pw}", record);

  hostrt::ArrayDetailsRow row;
  row.arrayNumber = 5;
  row.arrayName = kArray;
  row.controlHost = "ctl";
  row.userName = "adm";
  row.encodedPassword = "ignored";
  ASSERT_TRUE(db->PutArrayDetails(row, "Secr3t", &error));
  hostrt::ArrayDetailsRow got;
  ASSERT_TRUE(db->GetArrayDetails(5, &got, &error));
  EXPECT_EQ(kArray, got.arrayName);
  EXPECT_EQ("adm", got.userName);
  EXPECT_EQ(std::string::npos, got.encodedPassword.find("Secr3t"));
  std::string plain;
  ASSERT_TRUE(hostrt::DecodeSecret(got.encodedPassword, &plain));
  EXPECT_EQ("Secr3t", plain);
  EXPECT_FALSE(db->GetArrayDetails(6, &got, &error));

  bool removed = false;
  ASSERT_TRUE(db->RemoveArrayDetails(5, &removed, &error));
  EXPECT_TRUE(removed);
  ASSERT_TRUE(db->RemoveArrayDetails(5, &removed, &error));
  EXPECT_FALSE(removed);
}

TEST_F(SqliteHostDatabaseTest, ReserveGrantsFreeOrOwnTargetsOnly) {
  std::vector<bool> granted;
  std::string error;
  ASSERT_TRUE(db->Reserve({Entry(1, "00200"), Entry(1, "00201")}, &granted, &error));
  EXPECT_EQ((std::vector<bool>{true, true}), granted);
  // Another holder, the same holder again, the same target on another array,
  // and two new holders of one target within one request.
  ASSERT_TRUE(db->Reserve({Entry(2, "00200"), Entry(1, "00201"),
                           Entry(2, "00200", "000197900999"), Entry(2, "00202"),
                           Entry(3, "00202")},
                          &granted, &error));
  EXPECT_EQ((std::vector<bool>{false, true, true, true, false}), granted);
  std::vector<Reservation> held;
  ASSERT_TRUE(db->QueryReservations(kArray, &held, &error));
  ASSERT_EQ(3u, held.size());
  EXPECT_EQ(1, held[0].smSnapId);  // 00200 stays with its first holder
  EXPECT_EQ("00A10", held[0].source);
}

TEST_F(SqliteHostDatabaseTest, ReleaseOnlyByTheHolderWhateverTheJob) {
  std::vector<bool> granted;
  std::string error;
  ASSERT_TRUE(db->Reserve({Entry(1, "00200"), Entry(2, "00201")}, &granted, &error));
  // Another holder's release is refused silently; the holder's own release
  // from another job (another process, another job id) works.
  ASSERT_TRUE(db->Release({Entry(2, "00200")}, &error));
  Reservation own = Entry(1, "00200");
  own.jobId = 999;
  std::unique_ptr<SqliteHostDatabase> other =
      SqliteHostDatabase::Open(db->path(), &error);
  ASSERT_TRUE(other) << error;
  std::vector<Reservation> held;
  ASSERT_TRUE(other->QueryReservations(kArray, &held, &error));
  EXPECT_EQ(2u, held.size());
  ASSERT_TRUE(other->Release({own}, &error));
  ASSERT_TRUE(db->QueryReservations(kArray, &held, &error));
  ASSERT_EQ(1u, held.size());
  EXPECT_EQ("00201", held[0].target);

  bool removed = false;
  ASSERT_TRUE(db->ForceRelease(kArray, "00201", &removed, &error));
  EXPECT_TRUE(removed);
  std::vector<hostrt::ReservationEntry> all;
  ASSERT_TRUE(db->ListAllReservations(&all, &error));
  EXPECT_TRUE(all.empty());
}

TEST(SqliteHostDatabaseUpgrade, VersionOneFileIsUpgradedKeepingItsRows) {
  runtime_test::TempDir dir;
  std::string path = dir.File("old.db");
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &raw));
  ASSERT_EQ(SQLITE_OK,
            sqlite3_exec(raw,
                         "CREATE TABLE schema_version(version INTEGER NOT NULL);"
                         "INSERT INTO schema_version VALUES(1);"
                         "CREATE TABLE array_info(serial TEXT PRIMARY KEY, record TEXT NOT NULL);"
                         "CREATE TABLE array_details(array_number INTEGER PRIMARY KEY,"
                         " array_name TEXT NOT NULL, control_host TEXT NOT NULL,"
                         " user_name TEXT NOT NULL, encoded_password TEXT NOT NULL);"
                         "CREATE TABLE reservations(array TEXT NOT NULL, target TEXT NOT NULL,"
                         " source TEXT NOT NULL, sm_snap_id INTEGER NOT NULL,"
                         " job_id INTEGER NOT NULL, UNIQUE(array, target));"
                         "INSERT INTO reservations VALUES('A','00300','00010',7,70);",
                         nullptr, nullptr, nullptr));
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
