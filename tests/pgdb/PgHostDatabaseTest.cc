// PostgreSQL host database: the contract of every host database, grant
// times, holders on other hosts, and the schema versions shared with the
// SQLite file.
#include "hostruntime/PgHostDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <iterator>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/FakeEnv.h"
#include "tests/pgdb/PgTestServer.h"
#include "tests/runtime/TempDir.h"
#include "tests/support/HostDatabaseContract.h"

namespace {

using hostrt::PgHostDatabase;
using pgdb_test::PgSchemaTest;

using db_contract::Entry;
using db_contract::kArray;
using db_contract::Holders;

// Connections to one fresh schema.
struct PgBackend : pgdb_test::PgSchema {
  using Db = PgHostDatabase;
  std::unique_ptr<Db> Open() { return OpenDb(); }
};

}  // namespace

namespace db_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Postgresql, HostDatabaseContract, PgBackend);
}  // namespace db_contract

namespace {

using PgHostDatabaseTest = pgdb_test::PgDbTest;

TEST_F(PgHostDatabaseTest, GrantTimeComesFromTheHostClock) {
  testing_host::FakeEnv env;
  env.nowMicros = 1700000000LL * 1000000 + 999999;
  hostrt::ScopedEnv scope(&env);
  std::string error;
  std::vector<bool> granted;
  ASSERT_TRUE(db->Reserve({Entry(7, "00100")}, &granted, &error));
  std::vector<hostrt::ReservationEntry> all;
  ASSERT_TRUE(db->ListAllReservations(&all, &error));
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ(1700000000LL, all[0].createdSeconds);
}

// Another host's reserve of the same device is in flight (inserted, not yet
// committed) from the fixture's second connection.
class PgInFlightHolderTest : public PgHostDatabaseTest {
 protected:
  void BeginOtherHostsReserve(const std::string& target) {
    ASSERT_TRUE(InSchema("BEGIN; INSERT INTO reservations VALUES('" + std::string(kArray) +
                         "', '" + target + "', '00A10', 99, 99, 0)"))
        << admin->lastError();
  }
  // Waits (bounded) until a session is blocked by the second connection.
  bool SomeoneWaitsForUs() {
    for (int i = 0; i < 2000; ++i) {
      std::string n;
      if (!admin->Exec("SELECT count(*) FROM pg_stat_activity "
                       "WHERE pg_backend_pid() = ANY(pg_blocking_pids(pid))",
                       &n))
        return false;
      if (n != "0") return true;
      std::this_thread::yield();
    }
    return false;
  }
  // Reserves `target` for 7 while the other host's transaction is open, then
  // ends that one with `outcome`.
  std::vector<bool> ReserveAgainst(const std::string& target, const char* outcome) {
    std::vector<bool> granted;
    std::string error;
    bool ok = false;
    std::thread job([&] { ok = db->Reserve({Entry(7, target)}, &granted, &error); });
    bool waited = SomeoneWaitsForUs();
    EXPECT_TRUE(admin->Exec(outcome)) << admin->lastError();
    job.join();
    EXPECT_TRUE(waited) << "the reserve did not wait for the other host";
    EXPECT_TRUE(ok) << error;
    return granted;
  }
};

TEST_F(PgInFlightHolderTest, ReserveWaitsForTheOtherHostAndHonoursItsOutcome) {
  BeginOtherHostsReserve("00100");
  EXPECT_EQ((std::vector<bool>{false}), ReserveAgainst("00100", "COMMIT"));
  BeginOtherHostsReserve("00101");
  EXPECT_EQ((std::vector<bool>{true}), ReserveAgainst("00101", "ROLLBACK"));
  EXPECT_EQ((std::set<std::string>{kArray + std::string("/00100=99"),
                                    kArray + std::string("/00101=7")}),
            Holders(db.get()));
}

// The columns of every table, as "table.column" names.
std::set<std::string> SqliteColumns(const std::string& path) {
  std::set<std::string> out;
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return out;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT m.name, p.name FROM sqlite_master m, "
                     "pragma_table_info(m.name) p WHERE m.type = 'table'",
                     -1, &st, nullptr);
  while (st && sqlite3_step(st) == SQLITE_ROW)
    out.insert(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) +
               "." + reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

TEST_F(PgHostDatabaseTest, SameTablesColumnsAndVersionAsTheSqliteFile) {
  runtime_test::TempDir dir;
  std::string error;
  auto file = hostrt::SqliteHostDatabase::Open(dir.File("host.db"), &error);
  ASSERT_TRUE(file) << error;
  int fileVersion = 0, serverVersion = 0;
  ASSERT_TRUE(file->SchemaVersion(&fileVersion, &error));
  ASSERT_TRUE(db->SchemaVersion(&serverVersion, &error)) << error;
  EXPECT_EQ(fileVersion, serverVersion);
  EXPECT_EQ(PgHostDatabase::kSchemaVersion, serverVersion);

  std::string joined;
  ASSERT_TRUE(admin->Exec("SELECT string_agg(table_name || '.' || column_name, ' ') "
                          "FROM information_schema.columns WHERE table_schema = '" +
                              schema + "'",
                          &joined));
  std::istringstream words(joined);
  std::set<std::string> server{std::istream_iterator<std::string>(words), {}};
  EXPECT_EQ(SqliteColumns(dir.File("host.db")), server);
}

TEST_F(PgSchemaTest, VersionOneSchemaIsUpgradedKeepingItsRowsAndNewerRefused) {
  ASSERT_TRUE(InSchema(
      "CREATE TABLE schema_version(version INTEGER NOT NULL);"
      "INSERT INTO schema_version VALUES(1);"
      "CREATE TABLE array_info(serial TEXT PRIMARY KEY, record TEXT NOT NULL);"
      "CREATE TABLE array_details(array_number INTEGER PRIMARY KEY,"
      "  array_name TEXT NOT NULL, control_host TEXT NOT NULL,"
      "  user_name TEXT NOT NULL, encoded_password TEXT NOT NULL);"
      "CREATE TABLE reservations(\"array\" TEXT NOT NULL, target TEXT NOT NULL,"
      "  source TEXT NOT NULL, sm_snap_id INTEGER NOT NULL, job_id BIGINT NOT NULL,"
      "  UNIQUE(\"array\", target));"
      "INSERT INTO reservations VALUES('000197900123', '00100', '00A10', 7, 70);"
      "INSERT INTO array_info VALUES('000197900123', '{engineId:1}');"))
      << admin->lastError();
  auto db = OpenDb();
  ASSERT_TRUE(db);
  std::string error;
  int version = 0;
  ASSERT_TRUE(db->SchemaVersion(&version, &error)) << error;
  EXPECT_EQ(PgHostDatabase::kSchemaVersion, version);
  std::string rows;
  ASSERT_TRUE(InSchema("SELECT count(*) FROM schema_version", &rows));
  EXPECT_EQ("1", rows);
  std::vector<hostrt::ReservationEntry> all;
  ASSERT_TRUE(db->ListAllReservations(&all, &error)) << error;
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ(7, all[0].reservation.smSnapId);
  EXPECT_EQ(70, all[0].reservation.jobId);
  EXPECT_EQ(0, all[0].createdSeconds);
  std::string record;
  ASSERT_TRUE(db->GetArrayInfoRecord(kArray, &record, &error));
  EXPECT_EQ("{engineId:1}", record);
  // A newer schema is refused.
  ASSERT_TRUE(InSchema("UPDATE schema_version SET version = 99"));
  EXPECT_FALSE(PgHostDatabase::Open(params, &error));
  EXPECT_NE(std::string::npos, error.find("schema version 99, newer")) << error;
}

TEST_F(PgSchemaTest, HostsOpeningAnEmptyDatabaseTogetherCreateItOnce) {
  constexpr int kHosts = 6;
  std::vector<std::unique_ptr<PgHostDatabase>> dbs(kHosts);
  std::vector<std::string> errors(kHosts);
  std::vector<std::thread> threads;
  for (int i = 0; i < kHosts; ++i)
    threads.emplace_back([&, i] { dbs[i] = PgHostDatabase::Open(params, &errors[i]); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kHosts; ++i) EXPECT_TRUE(dbs[i]) << errors[i];
  std::string rows;
  ASSERT_TRUE(InSchema("SELECT count(*) FROM schema_version", &rows));
  EXPECT_EQ("1", rows);
}

// Hosts allocating at once, each on its own connection, never share an id.
TEST_F(PgHostDatabaseTest, ConcurrentSnapIdAllocationsAreDisjoint) {
  constexpr int kHosts = 4, kRounds = 10, kCount = 3;
  std::vector<std::vector<long long>> firsts(kHosts);
  std::vector<std::thread> hosts;
  for (int h = 0; h < kHosts; ++h)
    hosts.emplace_back([&, h] {
      std::string error;
      auto mine = PgHostDatabase::Open(params, &error);
      ASSERT_TRUE(mine) << error;
      long long first = 0;
      for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(mine->AllocateIds(hostrt::HostIdKind::kSmSnapId, kCount, 1, &first, &error))
            << error;
        firsts[size_t(h)].push_back(first);
      }
    });
  for (std::thread& t : hosts) t.join();
  std::set<long long> seen;
  for (const auto& list : firsts)
    for (long long first : list)
      for (long long id = first; id < first + kCount; ++id) seen.insert(id);
  EXPECT_EQ(size_t(kHosts * kRounds * kCount), seen.size());
  EXPECT_EQ(1, *seen.begin());
}

}  // namespace
