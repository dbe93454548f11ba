// SQLite host database: the contract of every host database, the private
// file and schema upgrades. Processes racing for the same targets through
// one file are driven by the concurrent-mount runs of tests/hardening.
#include "hostruntime/SqliteHostDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "tests/runtime/TempDir.h"
#include "tests/support/HostDatabaseContract.h"

namespace {

using hostrt::SqliteHostDatabase;

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

void Exec(const std::string& path, const std::string& sql) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &raw));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr));
  sqlite3_close(raw);
}

// A new file is private and current; files of versions 1 and 2 are upgraded
// keeping their rows and holders; the new id counter is not reset by opening
// the file again; a newer file is refused.
TEST(SqliteHostDatabase, PrivateFileUpgradesAndNewerSchemaRefused) {
  runtime_test::TempDir dir;
  std::string error, path = dir.File("host.db");
  ASSERT_TRUE(SqliteHostDatabase::Open(path, &error)) << error;
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  Exec(path, "UPDATE schema_version SET version = 99");
  EXPECT_FALSE(SqliteHostDatabase::Open(path, &error));
  EXPECT_NE(std::string::npos, error.find("99"));

  for (int old : {1, 2}) {
    SCOPED_TRACE(old);
    path = dir.File("old" + std::to_string(old) + ".db");
    Exec(path,
         "CREATE TABLE schema_version(version INTEGER NOT NULL);"
         "INSERT INTO schema_version VALUES(" + std::to_string(old) + ");"
         "CREATE TABLE array_info(serial TEXT PRIMARY KEY, record TEXT NOT NULL);"
         "CREATE TABLE array_details(array_number INTEGER PRIMARY KEY,"
         " array_name TEXT NOT NULL, control_host TEXT NOT NULL,"
         " user_name TEXT NOT NULL, encoded_password TEXT NOT NULL);"
         "CREATE TABLE reservations(array TEXT NOT NULL, target TEXT NOT NULL,"
         " source TEXT NOT NULL, sm_snap_id INTEGER NOT NULL, job_id INTEGER NOT NULL," +
             std::string(old == 2 ? " created INTEGER NOT NULL DEFAULT 0," : "") +
             " UNIQUE(array, target));"
             "INSERT INTO reservations VALUES('A','00300','00010',7,70" +
             (old == 2 ? ",5" : "") + ");");
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
    ASSERT_TRUE(db->Reserve({db_contract::Entry(8, "00300", "A")}, &granted, &error));
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

}  // namespace
