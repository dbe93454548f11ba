// A temporary directory for one test, removed with its files afterwards.
#pragma once

#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "tests/support/E2eWorld.h"

namespace runtime_test {

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
    auto remove = [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); };
    if (!path_.empty()) nftw(path_.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace runtime_test
