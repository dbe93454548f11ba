// Many pzhost processes on one home at once: writers of the catalog and of
// the host database, readers, and processes that only open and close them.
// Every committed row must survive (a process closing a second descriptor
// of a database file drops the others' SQLite locks, and the write-ahead
// log is then deleted under them), and the files must pass SQLite's own
// integrity check.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/Steps.h"
#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

constexpr int kWriters = 8;
constexpr int kWritesEach = 8;
constexpr int kReaders = 3;
constexpr int kFirstArrayNumber = 100;

// SQLite's own verdict on the file: "ok" or what is wrong.
std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  std::string answer = "cannot open";
  auto first = [](void* out, int, char** values, char**) {
    *static_cast<std::string*>(out) = values[0] ? values[0] : "";
    return 1;
  };
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
    sqlite3_exec(db, "PRAGMA integrity_check", first, &answer, nullptr);
  sqlite3_close(db);
  return answer;
}

TEST(DatabaseStress, NoCommittedRowIsLostWithReadersAndOpenersBeside) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("host", w.host());
  std::atomic<bool> writing{true};
  std::atomic<int> failedWrites{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kWriters; ++i)
    threads.emplace_back([&, i] {
      for (int j = 0; j < kWritesEach; ++j) {
        std::string n = std::to_string(i * kWritesEach + j);
        // One row of the catalog, one of the host database.
        Result c = w.Pzhost(home, {"config", "set", "--force", "--snap", "STRESS_" + n, n});
        std::string serial = std::to_string(197800000000LL + std::stoll(n));
        serial.insert(0, 12 - serial.size(), '0');
        Result a = w.Pzhost(home, {"array", "add", "--serial", serial, "--num",
                                   std::to_string(kFirstArrayNumber + std::stoi(n))});
        if (c.exitCode != 0 || a.exitCode != 0) ++failedWrites;
      }
    });
  for (int i = 0; i < kReaders; ++i)
    threads.emplace_back([&, i] {
      while (writing) {
        // Readers of both, and processes that open both and leave.
        w.Pzhost(home, {i % 2 ? "list" : "reservations"});
        w.Pzhost(home, {"array", "list"});
      }
    });
  for (int i = 0; i < kWriters; ++i) threads[size_t(i)].join();
  writing = false;
  for (size_t i = kWriters; i < threads.size(); ++i) threads[i].join();
  ASSERT_EQ(0, failedWrites.load());

  Result configs = Ok(w, home, {"config", "list", "--snap"});
  int stressKeys = 0;
  for (const auto& item : configs.json["config"]["snap"].items())
    stressKeys += item.key().rfind("STRESS_", 0) == 0;
  EXPECT_EQ(kWriters * kWritesEach, stressKeys) << configs.out;
  Result arrays = Ok(w, home, {"array", "list"});
  int added = 0;
  for (const auto& a : arrays.json["arrays"])
    added += a["number"].get<int>() >= kFirstArrayNumber;
  EXPECT_EQ(kWriters * kWritesEach, added) << arrays.out;
  EXPECT_EQ("ok", IntegrityCheck(home + "/host.db"));
}

// A damaged or missing host database is named with what to do, and no
// verb goes on with an empty catalog in its place.
TEST(DatabaseStress, DamagedOrMissingFileIsNamedWithWhatToDo) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  struct Case {
    const char* what;
    bool remove;
    const char* says;
  };
  for (const Case& c : {Case{"damaged", false, "the file is damaged"},
                        Case{"missing", true, "is missing"}}) {
    SCOPED_TRACE(c.what);
    World w;
    std::string home = w.MakeHome("host", w.host());
    std::string db = home + "/host.db";
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((db + suffix).c_str());
    if (!c.remove) {
      std::ofstream garbage(db);
      garbage << std::string(8192, 'x');
    }
    Result list = w.Pzhost(home, {"list"}, false);
    EXPECT_EQ(1, list.exitCode) << list.Describe();
    EXPECT_TRUE(Contains(list.err, db) && Contains(list.err, c.says)) << list.err;
    EXPECT_EQ(c.remove, ::access(db.c_str(), F_OK) != 0) << "no new file in its place";
  }
}

}  // namespace
}  // namespace e2e
