// The throw-away server of tests/scripts/pg-test-server.sh, named by
// PZ_TEST_PG_CONNINFO and PZ_TEST_PG_PASSFILE. Each test works in a schema
// of its own, so runs and programs never see each other's rows.
#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "hostruntime/PgHostDatabase.h"

namespace pgdb_test {

constexpr const char* kNoServer =
    "no test PostgreSQL server: run tests/scripts/pg-test-server.sh start and "
    "export PZ_TEST_PG_CONNINFO and PZ_TEST_PG_PASSFILE";

inline bool ServerParams(hostrt::PgConnectParams* params) {
  const char* conninfo = getenv("PZ_TEST_PG_CONNINFO");
  const char* passfile = getenv("PZ_TEST_PG_PASSFILE");
  if (!conninfo || !*conninfo || !passfile || !*passfile) return false;
  params->conninfo = conninfo;
  params->passfile = passfile;
  return true;
}

// A plain libpq connection beside the one under test.
class RawConnection {
 public:
  explicit RawConnection(const hostrt::PgConnectParams& p) {
    const char* keys[] = {"dbname", "passfile", nullptr};
    const char* values[] = {p.conninfo.c_str(), p.passfile.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
  }
  ~RawConnection() { PQfinish(conn_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool ok() const { return PQstatus(conn_) == CONNECTION_OK; }
  std::string error() const { return PQerrorMessage(conn_); }
  // Runs `sql`; the first column of the first row, "" when none.
  bool Exec(const std::string& sql, std::string* first = nullptr) {
    PGresult* r = PQexec(conn_, sql.c_str());
    ExecStatusType st = PQresultStatus(r);
    bool ok = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
    if (first) *first = ok && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
    if (!ok) last_ = PQresultErrorMessage(r);
    PQclear(r);
    return ok;
  }
  const std::string& lastError() const { return last_; }

 private:
  PGconn* conn_;
  std::string last_;
};

// A fresh schema of the test server, dropped with the object; the
// connection string of `params` puts it first in the search path.
struct PgSchema {
  // False when there is no server (`why` says so) or the schema cannot be
  // made (a test failure).
  bool Start(std::string* why) {
    static std::atomic<int> counter{0};
    if (!ServerParams(&params)) {
      *why = kNoServer;
      return false;
    }
    schema = "pzt_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    admin.reset(new RawConnection(params));
    bool made = admin->ok() && admin->Exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE") &&
                admin->Exec("CREATE SCHEMA " + schema);
    EXPECT_TRUE(made) << admin->error() << admin->lastError();
    if (!made) {
      *why = "cannot make a schema on the test server";
      return false;
    }
    params.conninfo += " options='-c search_path=" + schema + "'";
    return true;
  }
  ~PgSchema() {
    if (admin) admin->Exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
  }
  std::unique_ptr<hostrt::PgHostDatabase> OpenDb() {
    std::string error;
    auto db = hostrt::PgHostDatabase::Open(params, &error);
    EXPECT_TRUE(db) << error;
    return db;
  }
  // Runs `sql` in the test's schema.
  bool InSchema(const std::string& sql, std::string* first = nullptr) {
    return admin->Exec("SET search_path = " + schema + "; " + sql, first);
  }

  hostrt::PgConnectParams params;
  std::string schema;
  std::unique_ptr<RawConnection> admin;
};

class PgSchemaTest : public ::testing::Test, public PgSchema {
 protected:
  void SetUp() override {
    std::string why;
    if (Start(&why)) return;
    if (HasFailure()) FAIL() << why;
    GTEST_SKIP() << why;
  }
};

// A schema and the database under test opened on it.
class PgDbTest : public PgSchemaTest {
 protected:
  void SetUp() override {
    PgSchemaTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db = OpenDb();
    ASSERT_TRUE(db);
  }
  std::unique_ptr<hostrt::PgHostDatabase> db;
};

}  // namespace pgdb_test
