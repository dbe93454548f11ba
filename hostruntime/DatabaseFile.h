// Creating a SQLite database file private to its owner without breaking
// SQLite's locks.
//
// SQLite holds POSIX advisory locks on its files, and POSIX drops every lock
// a process holds on a file when the process closes any descriptor of that
// file. So no code of ours may open (and close) a database file, or its -wal
// and -shm files, while a connection to it may be open in this process:
// another process would then think it is the last user and delete the
// write-ahead log under us.
#pragma once

#include <string>

namespace hostrt {

constexpr int kPrivateDatabaseMode = 0600;

// Makes sure `path` exists with mode 0600 before SQLite opens it. A missing
// file is created (exclusively, so it cannot belong to a connection); an
// existing one is only changed by path (chmod), never opened. The -wal and
// -shm files that SQLite creates take the mode of the database file.
bool PreparePrivateDatabaseFile(const std::string& path, std::string* error);

// What to do about an SQLite result code, as " (...)" or empty.
std::string DatabaseFailureHint(int sqliteCode);

// A text for an SQLite failure on `path` that tells an operator what to do:
// a full disk, a read-only home or a damaged file are named as such.
std::string DescribeDatabaseFailure(const std::string& path, int sqliteCode,
                                    const std::string& sqliteMessage);

}  // namespace hostrt
