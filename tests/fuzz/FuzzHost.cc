#include "tests/fuzz/FuzzHost.h"

#include <cstdio>
#include <cstdlib>

namespace fuzzing {

testing_host::FakeEnv& FreshHost() {
  static testing_host::FakeEnv* host = [] {
    auto* env = new testing_host::FakeEnv();
    hostrt::SetCurrentEnv(env);
    return env;
  }();
  host->logs.clear();
  host->runs.clear();
  host->unexpected.clear();
  host->scripts.clear();
  host->files.clear();
  host->fileModes.clear();
  host->fileFlags.clear();
  host->removed.clear();
  host->sleeps.clear();
  host->settings.clear();
  host->scsi.clear();
  return *host;
}

void SplitHead(const uint8_t* data, size_t size, std::string* head,
               std::string* rest) {
  std::string all(reinterpret_cast<const char*>(data), size);
  size_t nl = all.find('\n');
  if (nl == std::string::npos) {
    head->clear();
    *rest = all;
    return;
  }
  *head = all.substr(0, nl);
  *rest = all.substr(nl + 1);
}

bool HostLogsContain(const testing_host::FakeEnv& host,
                     const std::string& part) {
  for (const hostrt::LogRecord& r : host.logs)
    if (r.text.find(part) != std::string::npos ||
        r.function.find(part) != std::string::npos)
      return true;
  return false;
}

void Fail(const char* what, const std::string& detail) {
  fprintf(stderr, "FUZZ PROPERTY BROKEN: %s [%s]\n", what, detail.c_str());
  abort();
}

}  // namespace fuzzing
