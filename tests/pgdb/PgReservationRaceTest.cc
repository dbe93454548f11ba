// Jobs on two backup hosts, eight processes, racing for the same targets of
// one array through each host's settings: every target is granted once.
// What the hosts' services make of shared reservations is driven by
// tests/shareddb.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "hostruntime/PosixEnv.h"
#include "hostruntime/ProcessRunner.h"
#include "tests/pgdb/PgTestServer.h"
#include "tests/runtime/TempDir.h"
#include "tests/support/HostDatabaseContract.h"

namespace {

using db_contract::Entry;
using db_contract::kArray;
using hostrt::Reservation;
constexpr const char* kRacerVariable = "PZ_PG_RACER";
constexpr int kRaceTargets = 48;
constexpr int kRacers = 8;

std::string Target(int i) {
  char name[8];
  snprintf(name, sizeof name, "%05X", 0x100 + i);
  return name;
}

// The racing side, in a child process: the host home arrives on standard
// input. It asks for two neighbouring targets at a time, from a start of its
// own, and prints what it was granted.
TEST(PgReservationRace, Child) {
  if (!getenv(kRacerVariable)) GTEST_SKIP() << "runs only as a racer";
  std::string home;
  std::getline(std::cin, home);
  hostrt::PosixEnv env(home);
  hostrt::ScopedEnv scope(&env);
  hostrt::HostDatabase* db = env.Database();
  ASSERT_NE(nullptr, db) << "no database for " << home;
  // Start line: the parent holds this lock until every racer waits on it.
  hostrt::PgConnectParams server;
  ASSERT_TRUE(pgdb_test::ServerParams(&server));
  pgdb_test::RawConnection barrier(server);
  ASSERT_TRUE(barrier.Exec("SELECT pg_advisory_lock_shared(" +
                           std::string(getenv(kRacerVariable)) + ")"))
      << barrier.lastError();
  int me = int(getpid());
  for (int k = 0; k < kRaceTargets; ++k) {
    std::string a = Target((k + me) % kRaceTargets);
    std::string b = Target((k + me + 1) % kRaceTargets);
    std::vector<bool> granted;
    std::string error;
    ASSERT_TRUE(db->Reserve({Entry(me, b), Entry(me, a)}, &granted, &error)) << error;
    ASSERT_EQ(2u, granted.size());
    if (granted[0]) printf("GRANTED %s %d\n", b.c_str(), me);
    if (granted[1]) printf("GRANTED %s %d\n", a.c_str(), me);
  }
  fflush(stdout);
}

class PgReservationRaceTest : public pgdb_test::PgSchemaTest {
 protected:
  void WriteHome(const runtime_test::TempDir& home, const std::string& host,
                 const std::string& conninfo, const std::string& passfile) {
    std::ofstream(home.File("settings.ini"))
        << "[Host]\nphysicalMachine = " << host << "\n[Database]\nbackend = postgresql\n"
        << "conninfo = " << conninfo << "\npassfile = " << passfile << "\n";
  }
};

TEST_F(PgReservationRaceTest, EachTargetIsGrantedOnceAcrossHosts) {
  if (getenv(kRacerVariable)) GTEST_SKIP() << "not inside a racer";
  // Host A names the server's passfile and quotes its connection string;
  // host B keeps a copy of the passfile in its home.
  runtime_test::TempDir homeA, homeB;
  WriteHome(homeA, "hostA", "\"" + params.conninfo + "\"", params.passfile);
  std::ofstream(homeB.File("pgpass")) << runtime_test::ReadFile(params.passfile);
  ASSERT_EQ(0, chmod(homeB.File("pgpass").c_str(), 0600));
  WriteHome(homeB, "hostB", params.conninfo, "pgpass");

  const std::string startLine = std::to_string(getpid());
  ASSERT_TRUE(admin->Exec("SELECT pg_advisory_lock(" + startLine + ")"));
  setenv(kRacerVariable, startLine.c_str(), 1);
  char self[4096] = {0};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::vector<std::string> inputs(kRacers);
  std::vector<hostrt::ProcessOutcome> outcomes(kRacers);
  std::vector<std::thread> racers;
  for (int i = 0; i < kRacers; ++i) {
    inputs[size_t(i)] = (i % 2 ? homeB.path() : homeA.path()) + "\n";
    racers.emplace_back([&, i] {
      hostrt::ProcessSpec spec;
      spec.argv = {self, "--gtest_filter=PgReservationRace.Child"};
      spec.input = &inputs[size_t(i)];
      spec.timeoutMs = 120000;
      hostrt::RunChildProcess(spec, &outcomes[size_t(i)]);
    });
  }
  // Every racer at the start line (or some failed early): let them go.
  for (int i = 0; i < 100000; ++i) {
    std::string waiting;
    ASSERT_TRUE(admin->Exec("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' "
                            "AND objid = " + startLine + " AND NOT granted",
                            &waiting));
    if (waiting == std::to_string(kRacers)) break;
    std::this_thread::yield();
  }
  ASSERT_TRUE(admin->Exec("SELECT pg_advisory_unlock(" + startLine + ")"));
  for (auto& t : racers) t.join();
  unsetenv(kRacerVariable);

  // A racer asks for each target twice and is granted its own again, so a
  // target must have one granted holder, however often it was answered.
  std::map<std::string, std::set<std::string>> grants;  // target -> holders
  for (const auto& o : outcomes) {
    ASSERT_TRUE(o.started) << o.startError;
    ASSERT_EQ(0, o.exitCode) << o.output << o.error;
    ASSERT_NE(std::string::npos, o.output.find("[  PASSED  ] 1 test")) << o.output;
    std::istringstream lines(o.output);
    std::string line;
    while (std::getline(lines, line))
      if (line.rfind("GRANTED ", 0) == 0) grants[line.substr(8, 5)].insert(line.substr(14));
  }
  ASSERT_EQ(size_t(kRaceTargets), grants.size());
  for (const auto& g : grants) EXPECT_EQ(1u, g.second.size()) << g.first;

  // The database agrees with what was answered.
  std::string error;
  auto db = OpenDb();
  ASSERT_TRUE(db);
  std::vector<Reservation> held;
  ASSERT_TRUE(db->QueryReservations(kArray, &held, &error)) << error;
  ASSERT_EQ(size_t(kRaceTargets), held.size());
  for (const Reservation& r : held)
    EXPECT_EQ(std::set<std::string>{std::to_string(r.smSnapId)}, grants[r.target])
        << r.target;
}

}  // namespace
