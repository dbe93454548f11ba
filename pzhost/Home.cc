#include "pzhost/Home.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pzhost {

namespace {

bool MakeDir(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), kHomeMode) == 0) return true;
  if (errno == EEXIST) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    if (error) *error = path + " exists and is not a directory";
    return false;
  }
  if (error) *error = "cannot create " + path + ": " + strerror(errno);
  return false;
}

}  // namespace

std::string ResolveHomeDir(const std::string& given) {
  std::string dir = given;
  if (dir.empty()) {
    const char* env = getenv("PZHOST_HOME");
    if (env && *env) dir = env;
  }
  if (dir.empty()) {
    const char* user = getenv("HOME");
    dir = std::string(user && *user ? user : "/tmp") + "/.pzhost";
  }
  return AbsolutePath(dir);
}

bool IsArraySerial(const std::string& text) {
  return text.size() == kSerialDigits &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

std::string AbsolutePath(const std::string& given) {
  std::string dir = given;
  if (dir.empty()) return dir;
  if (dir[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) dir = std::string(cwd) + "/" + dir;
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

namespace {

// Reads the open file `fd` to its end and closes it.
bool ReadAndClose(int fd, const std::string& path, std::string* content,
                  std::string* error);

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* content,
                   std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  return ReadAndClose(fd, path, content, error);
}

bool ReadPrivateFile(const std::string& path, std::string* content,
                     std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (error) *error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  // The mode of the file opened, not of whatever the path names later.
  struct stat st;
  std::string why;
  if (::fstat(fd, &st) != 0)
    why = "cannot read " + path + ": " + strerror(errno);
  else if (!S_ISREG(st.st_mode))
    why = path + " is not a regular file";
  else if ((st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    char mode[16];
    snprintf(mode, sizeof mode, "%04o",
             unsigned(st.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO)));
    why = path + " may be read by group or others (mode " + mode +
          "); a password file must be private: chmod 600 " + path;
  }
  if (!why.empty()) {
    ::close(fd);
    if (error) *error = why;
    return false;
  }
  return ReadAndClose(fd, path, content, error);
}

namespace {

bool ReadAndClose(int fd, const std::string& path, std::string* content,
                  std::string* error) {
  content->clear();
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = "cannot read " + path + ": " + strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    content->append(buf, size_t(n));
  }
  ::close(fd);
  return true;
}

}  // namespace

bool WriteFileAtomic(const std::string& path, const std::string& content,
                     std::string* error) {
  std::string tmp = path + ".tmp." + std::to_string(getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                  kPrivateFileMode);
  if (fd < 0) {
    if (error) *error = "cannot write " + tmp + ": " + strerror(errno);
    return false;
  }
  const char* p = content.data();
  size_t left = content.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    p += n;
    left -= size_t(n);
  }
  if (ok) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    if (error) *error = "cannot write " + path + ": " + strerror(errno);
    ::unlink(tmp.c_str());
  }
  return ok;
}

bool LoadSettings(const Home& home, hostrt::IniFile* ini, std::string* error) {
  *ini = hostrt::IniFile();
  if (::access(home.settingsPath().c_str(), F_OK) != 0) return true;
  std::string text;
  if (!ReadWholeFile(home.settingsPath(), &text, error)) return false;
  std::string why;
  if (!ini->Parse(text, &why)) {
    if (error) *error = home.settingsPath() + ": " + why;
    return false;
  }
  return true;
}

bool SaveSettings(const Home& home, const hostrt::IniFile& ini,
                  std::string* error) {
  // Whatever a verb set must read back as itself, never as other settings.
  std::string why;
  for (const auto& section : ini.sections())
    for (const auto& entry : section.second)
      if (!hostrt::IniFile::CanHold(section.first, entry.first, entry.second, &why)) {
        if (error)
          *error = "cannot store [" + section.first + "] " + entry.first + ": " + why;
        return false;
      }
  return WriteFileAtomic(home.settingsPath(), ini.Serialize(), error);
}

std::string DatabasePath(const Home& home, const hostrt::IniFile& ini) {
  std::string path;
  if (ini.Get(kSectionHost, kKeyDatabasePath, &path) && !path.empty())
    return path;
  return home.dir + "/" + kDatabaseFile;
}

bool CreateHomeDirs(const Home& home, std::string* error) {
  if (!MakeDir(home.dir, error)) return false;
  if (::chmod(home.dir.c_str(), kHomeMode) != 0) {
    if (error) *error = "cannot protect " + home.dir + ": " + strerror(errno);
    return false;
  }
  return MakeDir(home.logsDir(), error) && MakeDir(home.tmpDir(), error);
}

bool IsInitialized(const Home& home) {
  return ::access(home.settingsPath().c_str(), F_OK) == 0;
}

}  // namespace pzhost
