// SMSnapIds and job ids handed out by the host database: every handle
// (process, host) sharing one database gets ids no other got, never below the
// floor asked, each kind counted on its own.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <set>

#include "hostruntime/SqliteHostDatabase.h"

#include <cstdint>
#include "tests/runtime/TempDir.h"

namespace {

using hostrt::HostIdKind;
using hostrt::SqliteHostDatabase;

constexpr HostIdKind kSnap = HostIdKind::kSmSnapId;
constexpr HostIdKind kJob = HostIdKind::kJobId;

TEST(SnapIdAllocation, HandlesOfOneFileNeverGetTheSameId) {
  runtime_test::TempDir dir;
  std::string error;
  auto a = SqliteHostDatabase::Open(dir.File("host.db"), &error);
  auto b = SqliteHostDatabase::Open(dir.File("host.db"), &error);
  ASSERT_TRUE(a && b) << error;
  std::set<long long> seen;
  for (int round = 0; round < 5; ++round) {
    for (SqliteHostDatabase* db : {a.get(), b.get()}) {
      long long first = 0;
      ASSERT_TRUE(db->AllocateIds(kSnap, 3, 1, &first, &error)) << error;
      for (long long id = first; id < first + 3; ++id)
        EXPECT_TRUE(seen.insert(id).second) << "id " << id << " given twice";
    }
  }
  EXPECT_EQ(1, *seen.begin());
  EXPECT_EQ(30u, seen.size());
}

TEST(SnapIdAllocation, JobIdsAreCountedApartAndGo64Bit) {
  runtime_test::TempDir dir;
  std::string error;
  auto db = SqliteHostDatabase::Open(dir.File("host.db"), &error);
  ASSERT_TRUE(db) << error;
  long long first = 0;
  ASSERT_TRUE(db->AllocateIds(kSnap, 5, 1, &first, &error));
  ASSERT_TRUE(db->AllocateIds(kJob, 1, 1, &first, &error)) << error;
  EXPECT_EQ(1, first);
  const long long big = 5000000000LL;
  ASSERT_TRUE(db->AllocateIds(kJob, 1, big, &first, &error)) << error;
  EXPECT_EQ(big, first);
  ASSERT_TRUE(db->AllocateIds(kSnap, 1, 1, &first, &error));
  EXPECT_EQ(6, first);
  EXPECT_FALSE(db->AllocateIds(kSnap, 1, big, &first, &error));
}

TEST(SnapIdAllocation, FloorIsRespectedAndLowerFloorsDoNotGoBack) {
  runtime_test::TempDir dir;
  std::string error;
  auto db = SqliteHostDatabase::Open(dir.File("host.db"), &error);
  ASSERT_TRUE(db) << error;
  long long first = 0;
  ASSERT_TRUE(db->AllocateIds(kSnap, 2, 100, &first, &error));
  EXPECT_EQ(100, first);
  ASSERT_TRUE(db->AllocateIds(kSnap, 1, 1, &first, &error));
  EXPECT_EQ(102, first);
}

TEST(SnapIdAllocation, BadRequestsAndExhaustionAreRefused) {
  runtime_test::TempDir dir;
  std::string error;
  auto db = SqliteHostDatabase::Open(dir.File("host.db"), &error);
  ASSERT_TRUE(db) << error;
  long long first = -7;
  EXPECT_FALSE(db->AllocateIds(kSnap, 0, 1, &first, &error));
  EXPECT_FALSE(db->AllocateIds(kSnap, 1, 0, &first, &error));
  EXPECT_FALSE(db->AllocateIds(kSnap, 2, INT_MAX, &first, &error));
  EXPECT_NE(std::string::npos, error.find("no sm_snap_id left")) << error;
  EXPECT_EQ(-7, first);
  // The refused request took nothing.
  ASSERT_TRUE(db->AllocateIds(kSnap, 1, INT_MAX, &first, &error)) << error;
  EXPECT_EQ(INT_MAX, first);
}

TEST(SnapIdAllocation, VersionTwoFileGetsTheCounter) {
  runtime_test::TempDir dir;
  std::string path = dir.File("v2.db");
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &raw));
  ASSERT_EQ(SQLITE_OK,
            sqlite3_exec(raw,
                         "CREATE TABLE schema_version(version INTEGER NOT NULL);"
                         "INSERT INTO schema_version VALUES(2);"
                         "CREATE TABLE array_info(serial TEXT PRIMARY KEY, record TEXT NOT NULL);"
                         "CREATE TABLE array_details(array_number INTEGER PRIMARY KEY,"
                         " array_name TEXT NOT NULL, control_host TEXT NOT NULL,"
                         " user_name TEXT NOT NULL, encoded_password TEXT NOT NULL);"
                         "CREATE TABLE reservations(array TEXT NOT NULL, target TEXT NOT NULL,"
                         " source TEXT NOT NULL, sm_snap_id INTEGER NOT NULL,"
                         " job_id INTEGER NOT NULL, created INTEGER NOT NULL DEFAULT 0,"
                         " UNIQUE(array, target));"
                         "INSERT INTO reservations VALUES('A','00300','00010',7,70,5);",
                         nullptr, nullptr, nullptr));
  sqlite3_close(raw);
  std::string error;
  auto db = SqliteHostDatabase::Open(path, &error);
  ASSERT_TRUE(db) << error;
  int version = 0;
  long long first = 0;
  ASSERT_TRUE(db->SchemaVersion(&version, &error));
  EXPECT_EQ(SqliteHostDatabase::kSchemaVersion, version);
  std::vector<hostrt::ReservationEntry> all;
  ASSERT_TRUE(db->ListAllReservations(&all, &error));
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ(7, all[0].reservation.smSnapId);
  ASSERT_TRUE(db->AllocateIds(kSnap, 1, 1, &first, &error)) << error;
  EXPECT_EQ(1, first);
  // Opened again, the counter is not reset.
  db.reset();
  db = SqliteHostDatabase::Open(path, &error);
  ASSERT_TRUE(db) << error;
  ASSERT_TRUE(db->AllocateIds(kSnap, 1, 1, &first, &error)) << error;
  EXPECT_EQ(2, first);
}

}  // namespace
