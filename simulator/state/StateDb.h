// The simulated world's state: one SQLite file in the world directory,
// shared by every tool process, the admin program and the host view.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "hostruntime/SqliteStatement.h"

namespace symsim {

// Raised by statements on SQLite failures; caught at every entry point.
class DbError : public std::runtime_error {
 public:
  explicit DbError(const std::string& what) : std::runtime_error(what) {}
};

// The state file of a world directory, and the directory of its tools.
std::string StatePath(const std::string& worldDir);
std::string BinDir(const std::string& worldDir);

// A statement of the state file: a failure to prepare or step throws
// DbError (the tools answer it as an internal error).
class Stmt : public hostrt::SqliteStatement {
 public:
  Stmt(sqlite3* db, const char* sql);
  Stmt& Bind(int index, int64_t value) {
    SqliteStatement::Bind(index, static_cast<long long>(value));
    return *this;
  }
  Stmt& Bind(int index, const std::string& value) {
    SqliteStatement::Bind(index, value);
    return *this;
  }
  Stmt& BindNull(int index) {
    SqliteStatement::BindNull(index);
    return *this;
  }
  Stmt& BindReal(int index, double value) {
    SqliteStatement::BindReal(index, value);
    return *this;
  }
  // True while a row is available.
  bool Step();
  // Steps to the end (for statements without rows).
  void Run();
  int64_t Int(int col) const { return SqliteStatement::Int(col); }
};

class StateDb {
 public:
  // Opens the world's state; `create` makes the file and its tables.
  static std::unique_ptr<StateDb> Open(const std::string& worldDir, bool create,
                                       std::string* error);
  ~StateDb();

  sqlite3* handle() { return db_; }
  void Exec(const char* sql);
  // BEGIN IMMEDIATE: every change of the world is one writer at a time.
  void Begin();
  void Commit();
  void Rollback();
  int64_t LastId();
  int Changes();

  std::string Setting(const std::string& key, const std::string& fallback);
  int64_t IntSetting(const std::string& key, int64_t fallback);
  void SetSetting(const std::string& key, const std::string& value);

 private:
  explicit StateDb(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

// Holds a transaction open for a scope; rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(StateDb* db) : db_(db) { db_->Begin(); }
  ~Transaction();
  void Commit();

 private:
  StateDb* db_;
  bool done_ = false;
};

// Setting keys of a world.
constexpr const char kSetSeVersion[] = "se_version";
constexpr const char kSetLatencyMs[] = "latency_ms";
constexpr const char kSetDefineListings[] = "link_define_listings";
constexpr const char kSetDefineSeconds[] = "link_define_seconds";
constexpr const char kSetRestoreListings[] = "restore_listings";
constexpr const char kSetRestoreSeconds[] = "restore_seconds";
constexpr const char kSetInvocations[] = "invocations";
// The simulated host the tools run on: devices it saw at its last rescan
// carry its device path in the listings' Physical column.
constexpr const char kSetSeHost[] = "se_host";
constexpr const char kDefaultSeVersion[] = "9.2.1.6";
// How devices answer INQUIRY (simulator/scsi/Inquiry.h): the world's mode,
// and one device's mode under "inquiry_mode:SERIAL:DEV".
constexpr const char kSetInquiryMode[] = "inquiry_mode";
// Restore progress: listings until a restore is done when neither setting
// is given (restore_listings 0 with restore_seconds 0: done at once).
constexpr int64_t kDefaultRestoreListings = 3;

}  // namespace symsim
