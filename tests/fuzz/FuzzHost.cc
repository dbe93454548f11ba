#include "tests/fuzz/FuzzHost.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace fuzzing {

testing_host::FakeEnv& FreshHost() {
  // Made anew in the same place, so the installed pointer stays valid.
  static testing_host::FakeEnv* host = [] {
    auto* env = new testing_host::FakeEnv();
    hostrt::SetCurrentEnv(env);
    return env;
  }();
  host->~FakeEnv();
  return *new (host) testing_host::FakeEnv();
}

void SplitHead(const uint8_t* data, size_t size, std::string* head,
               std::string* rest) {
  std::string all(reinterpret_cast<const char*>(data), size);
  size_t nl = all.find('\n');
  *head = nl == std::string::npos ? "" : all.substr(0, nl);
  *rest = nl == std::string::npos ? all : all.substr(nl + 1);
}

void Fail(const char* what, const std::string& detail) {
  fprintf(stderr, "FUZZ PROPERTY BROKEN: %s [%s]\n", what, detail.c_str());
  abort();
}

}  // namespace fuzzing
