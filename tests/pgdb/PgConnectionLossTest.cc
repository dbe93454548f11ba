// A reserve whose server connection is killed before its commit: retried on
// a new connection a bounded number of times, then a clear failure, and
// never a half-written reservation. A server unreachable from the start is
// refused by pzhost init end to end (tests/e2e).
#include <gtest/gtest.h>

#include <set>

#include "hostruntime/PgHostDatabase.h"
#include "tests/pgdb/PgTestServer.h"
#include "tests/support/HostDatabaseContract.h"
#include "tests/support/FakeEnv.h"

namespace {

using db_contract::Entry;
using db_contract::kArray;
using hostrt::PgHostDatabase;
using hostrt::Reservation;

class PgConnectionLossTest : public pgdb_test::PgDbTest {
 protected:
  void SetUp() override {
    PgDbTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // Killing only the first `kills` attempts, from the second connection.
    db->SetBeforeCommitHook([this](int serverPid) {
      pids.push_back(serverPid);
      if (int(pids.size()) > kills) return;
      std::string done;
      EXPECT_TRUE(admin->Exec("SELECT pg_terminate_backend(" + std::to_string(serverPid) +
                                  ")",
                              &done))
          << admin->lastError();
      EXPECT_EQ("t", done);
    });
  }
  std::string Count() {
    std::string n;
    EXPECT_TRUE(InSchema("SELECT count(*) FROM reservations", &n)) << admin->lastError();
    return n;
  }

  testing_host::FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  std::vector<int> pids;
  int kills = 0;
};

TEST_F(PgConnectionLossTest, KilledInEveryAttemptFailsClearlyWithNothingWritten) {
  kills = PgHostDatabase::kMaxAttempts;
  std::string error;
  std::vector<bool> granted = {true};
  EXPECT_FALSE(db->Reserve({Entry(7, "00100"), Entry(7, "00101")}, &granted, &error));
  EXPECT_NE(std::string::npos, error.find("gave up after 4 attempts")) << error;
  EXPECT_NE(std::string::npos, error.find("reserve")) << error;
  EXPECT_EQ((std::vector<bool>{true}), granted);  // untouched on failure
  ASSERT_EQ(size_t(PgHostDatabase::kMaxAttempts), pids.size());
  // Each attempt ran on a new connection, waiting longer each time.
  EXPECT_EQ(size_t(PgHostDatabase::kMaxAttempts),
            std::set<int>(pids.begin(), pids.end()).size());
  EXPECT_EQ((std::vector<int64_t>{200, 400, 600}), env.sleeps);
  EXPECT_EQ("0", Count());

  // The same object works again once the server is left alone.
  kills = 0;
  pids.clear();
  ASSERT_TRUE(db->Reserve({Entry(7, "00100")}, &granted, &error)) << error;
  EXPECT_EQ((std::vector<bool>{true}), granted);
  EXPECT_EQ("1", Count());
}

// Killed once: retried and written once. Dropped while idle: the next
// request notices and reconnects.
TEST_F(PgConnectionLossTest, KilledOnceOrDroppedIdleIsRetriedOnANewConnection) {
  std::string error;
  std::vector<bool> granted;
  ASSERT_TRUE(db->Reserve({Entry(7, "00101")}, &granted, &error));
  EXPECT_EQ((std::vector<bool>{true}), granted);
  pids.clear();
  kills = 1;
  ASSERT_TRUE(db->Reserve({Entry(7, "00100"), Entry(8, "00101"), Entry(7, "00102")},
                          &granted, &error))
      << error;
  EXPECT_EQ((std::vector<bool>{true, false, true}), granted);
  ASSERT_EQ(2u, pids.size());
  EXPECT_EQ((std::vector<int64_t>{200}), env.sleeps);
  EXPECT_EQ("3", Count());
  std::string holder;
  ASSERT_TRUE(InSchema("SELECT sm_snap_id FROM reservations WHERE target = '00101'",
                       &holder));
  EXPECT_EQ("7", holder);

  ASSERT_TRUE(admin->Exec("SELECT pg_terminate_backend(" + std::to_string(pids[1]) + ")"));
  std::vector<Reservation> held;
  ASSERT_TRUE(db->QueryReservations(kArray, &held, &error)) << error;
  EXPECT_EQ(3u, held.size());
}

}  // namespace
