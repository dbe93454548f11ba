// The SYMCLI table reader and its column and number helpers.
#include <cctype>

#include "array/SymcliTable.h"
#include "tests/fuzz/FuzzHost.h"

namespace {

// The section is trimmed as a whole, so only its first and last line lose
// their blanks; every line is non-empty and holds no line break.
void CheckLines(const std::vector<std::string>& lines, const std::string& text) {
  const std::string trim = symcli::kLineTrimSet;
  if (!lines.empty() && (trim.find(lines.front().front()) != std::string::npos ||
                         trim.find(lines.back().back()) != std::string::npos))
    fuzzing::Fail("section not trimmed", lines.front());
  for (const std::string& line : lines) {
    if (line.empty() || line.find('\n') != std::string::npos)
      fuzzing::Fail("row empty or not split", line);
    if (text.find(line) == std::string::npos)
      fuzzing::Fail("row is not part of the output", line);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::FreshHost();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> rows{"stale"};
  for (const char* legend : {symcli::kLegendFlgs, symcli::kLegendFlags,
                             static_cast<const char*>(nullptr)}) {
    bool ok = symcli::ReadTableRows(text, legend, rows);
    if (!ok && !rows.empty()) fuzzing::Fail("no table but rows", text);
    CheckLines(rows, text);
  }
  std::vector<std::string> lines;
  symcli::ReadListingLines(text, lines);
  CheckLines(lines, text);
  size_t begin = size ? data[0] % (size + 2) : 0;
  size_t end = size > 1 ? data[1] % (size + 2) : std::string::npos;
  symcli::SplitSection(text, begin, end, " \t", lines);

  for (const std::string& row : rows) {
    for (int k = 0; k < 8; ++k) {
      std::string column = symcli::Column(row, k);
      for (char c : column)
        if (isspace(static_cast<unsigned char>(c)))
          fuzzing::Fail("column holds white space", row);
      uint64_t value = 0;
      if (symcli::ParseDecimal(column, value) && column.size() == 1 &&
          value != uint64_t(column[0] - '0'))
        fuzzing::Fail("single digit misread", column);
      if (symcli::IsDeviceNumber(column) && column.empty())
        fuzzing::Fail("empty device number", row);
    }
  }
  uint64_t value = 0;
  symcli::ParseDecimal(text, value);
  symcli::IsDeviceNumber(text);
  symcli::Column(text, size % 16);
  return 0;
}
