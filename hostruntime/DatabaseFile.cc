#include "hostruntime/DatabaseFile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hostrt {

namespace {

constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

bool Protect(const std::string& path, std::string* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    return Fail(error, "cannot read " + path + ": " + strerror(errno));
  }
  if ((st.st_mode & kOthersBits) == 0) return true;
  if (::chmod(path.c_str(), kPrivateDatabaseMode) != 0)
    return Fail(error, "cannot make " + path + " private (mode 0600): " +
                           strerror(errno));
  return true;
}

}  // namespace

bool PreparePrivateDatabaseFile(const std::string& path, std::string* error) {
  if (path.empty()) return Fail(error, "no database path");
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT)
      return Fail(error, "cannot read " + path + ": " + strerror(errno));
    // Nobody can hold a connection to a file that did not exist; O_EXCL
    // makes sure of it when two processes create the file at once.
    int fd = ::open(path.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    kPrivateDatabaseMode);
    if (fd >= 0) {
      ::close(fd);
    } else if (errno != EEXIST) {
      int saved = errno;
      std::string hint = saved == ENOSPC   ? " (the disk is full: free space)"
                         : saved == EROFS  ? " (the file system is read-only)"
                         : saved == EACCES ? " (no write permission on its folder)"
                                           : "";
      return Fail(error, "cannot create " + path + ": " + strerror(saved) + hint);
    }
  }
  for (const char* suffix : {"", "-wal", "-shm"})
    if (!Protect(path + suffix, error)) return false;
  return true;
}

std::string DatabaseFailureHint(int code) {
  switch (code & 0xff) {
    case SQLITE_FULL:
      return " (the disk is full: free space and run the job again)";
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return " (the file or its folder cannot be written: check the home's "
             "permissions and that its file system is mounted read-write)";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return " (the file is damaged: restore it from a backup, or move it "
             "aside and run pzhost init to start an empty one)";
    case SQLITE_IOERR:
      return " (an I/O error: check the disk)";
    default:
      return std::string();
  }
}

std::string DescribeDatabaseFailure(const std::string& path, int code,
                                    const std::string& message) {
  return path + ": " + message + DatabaseFailureHint(code);
}

}  // namespace hostrt
