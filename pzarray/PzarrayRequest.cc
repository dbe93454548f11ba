#include "pzarray/PzarrayRequest.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace pzarray {

namespace {
constexpr int kDecimalBase = 10;

// A --set value that is a whole number in int's range is also an int config.
bool ParseInt(const std::string& text, int* value) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(text.c_str(), &end, kDecimalBase);
  if (end == text.c_str() || *end || errno == ERANGE || v < INT_MIN || v > INT_MAX)
    return false;
  *value = int(v);
  return true;
}
}  // namespace

PzarrayRequest::PzarrayRequest(const std::map<std::string, std::string>& configs,
                               long long job) {
  jobId = job;
  for (const auto& [key, text] : configs) {
    snapConfigStrings[key] = text;
    int value = 0;
    if (ParseInt(text, &value)) snapConfigInts[key] = value;
  }
  onEvent = [](int severity, const std::string& text) {
    fprintf(stderr, "pzarray: event [%d] %s\n", severity, text.c_str());
  };
}

}  // namespace pzarray
