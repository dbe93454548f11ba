// A temporary directory for one test, removed with its files afterwards.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/support/E2eWorld.h"

namespace runtime_test {

inline void RemoveTree(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (d) {
    while (dirent* e = readdir(d)) {
      if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
      std::string child = path + "/" + e->d_name;
      struct stat st;
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(child);
      else unlink(child.c_str());
    }
    closedir(d);
  }
  rmdir(path.c_str());
}

// The whole content of a file ("" when it cannot be read).
inline std::string ReadFile(const std::string& path) {
  std::string content;
  e2e::ReadFile(path, &content);
  return content;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/pzhostrtXXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~TempDir() {
    if (!path_.empty()) RemoveTree(path_);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace runtime_test
