// One prepared SQLite statement, finalised with the object: the host
// database, pzhost's catalog and the simulator's state file all go through
// it. Header only, so that programs that do not link the host runtime (the
// simulator's tools) use it too.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace hostrt {

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql) : db_(db) {
    prepareCode_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    if (prepareCode_ != SQLITE_OK) {
      sqlite3_finalize(stmt_);
      stmt_ = nullptr;
    }
  }
  ~SqliteStatement() { sqlite3_finalize(stmt_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3* db() const { return db_; }

  SqliteStatement& Bind(int i, long long v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  SqliteStatement& Bind(int i, long v) { return Bind(i, static_cast<long long>(v)); }
  SqliteStatement& Bind(int i, int v) { return Bind(i, static_cast<long long>(v)); }
  SqliteStatement& Bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  SqliteStatement& BindReal(int i, double v) {
    sqlite3_bind_double(stmt_, i, v);
    return *this;
  }
  SqliteStatement& BindNull(int i) {
    sqlite3_bind_null(stmt_, i);
    return *this;
  }

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : prepareCode_; }
  // Ready to run again with new values.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

  long long Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  double Real(int col) const { return sqlite3_column_double(stmt_, col); }
  std::string Text(int col) const {
    const unsigned char* t = sqlite3_column_text(stmt_, col);
    return t ? std::string(reinterpret_cast<const char*>(t),
                           size_t(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }
  bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  int prepareCode_ = SQLITE_OK;
};

}  // namespace hostrt
