// Steps the end-to-end tests share: symsim and pzhost calls that must work,
// a backup that yields its snapshot id, SQL straight into a home's file, and
// a lock held as a running job holds it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/E2eWorld.h"

namespace e2e {

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The devices of the snapshot a --json verb printed.
inline nlohmann::json Devices(const Result& r) {
  return r.json.contains("snapshot") ? r.json["snapshot"]["devices"]
                                     : nlohmann::json::array();
}

// The devices of storage group `group` of an array as `symsim show` gives it.
inline std::set<std::string> GroupMembers(const nlohmann::json& array,
                                          const std::string& group) {
  std::set<std::string> out;
  for (const nlohmann::json& g : array["storageGroups"])
    if (g["name"] == group)
      for (const nlohmann::json& d : g["devices"]) out.insert(d.get<std::string>());
  return out;
}

// The devices of the storage group the demo world names under `which`
// ("mountStorageGroup", "targetStorageGroup"), the array state held while
// they are read.
inline std::set<std::string> DemoGroup(World& w, const std::string& which) {
  return GroupMembers(w.ArrayState(), w.demo().value(which, ""));
}

// Every symsim command line, each of which must succeed.
inline void SymsimAll(World& w, const std::vector<std::vector<std::string>>& commands) {
  for (const auto& args : commands) {
    Result r = w.Symsim(args);
    ASSERT_EQ(0, r.exitCode) << args[0] << ": " << r.Describe();
  }
}

// A pzhost verb that must succeed.
inline Result Ok(World& w, const std::string& home, const std::vector<std::string>& args) {
  Result r = w.Pzhost(home, args);
  EXPECT_EQ(0, r.exitCode) << args[0] << ": " << r.Describe();
  return r;
}

// A backup that must succeed; its snapshot id ("0" when it failed).
inline std::string Backup(World& w, const std::string& home,
                          const std::vector<std::string>& sources) {
  std::vector<std::string> args = {"backup"};
  args.insert(args.end(), sources.begin(), sources.end());
  return std::to_string(World::SnapshotId(Ok(w, home, args)));
}

inline size_t HeldReservations(World& w, const std::string& home) {
  return w.Pzhost(home, {"reservations"}).json["reservations"].size();
}

// Runs `sql` on the SQLite file at `path`.
inline void ExecSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr))
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

// Takes the lock `name` of the home's lock directory as a running job does;
// the descriptor (held until closed), or -1.
inline int HoldLock(const std::string& home, const std::string& name) {
  ::mkdir((home + "/locks").c_str(), 0700);
  int fd = ::open((home + "/locks/" + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0 && ::flock(fd, LOCK_EX) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace e2e
