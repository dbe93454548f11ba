// The command-line splitter of the process runner. Any argument vector it
// produces, quoted again, splits back to itself; a refused line gives no
// arguments.
#include <vector>

#include "hostruntime/ProcessRunner.h"
#include "tests/fuzz/FuzzHost.h"

namespace {

std::string Requote(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& word : argv) {
    if (!line.empty()) line += ' ';
    line += '"';
    for (char c : word) {
      if (c == '"' || c == '\\') line += '\\';
      line += c;
    }
    line += '"';
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> argv{"stale"};
  std::string error;
  if (!hostrt::SplitCommandLine(line, &argv, &error)) {
    if (!argv.empty() || error.empty())
      fuzzing::Fail("refused line without a clean result", line);
    return 0;
  }
  std::vector<std::string> again;
  if (!hostrt::SplitCommandLine(Requote(argv), &again, &error) || again != argv)
    fuzzing::Fail("quoted arguments do not split back", line);
  for (const std::string& word : argv)
    if (word.size() > line.size()) fuzzing::Fail("word longer than the line", line);
  return 0;
}
