#include "array/SymcliTable.h"

#include <cctype>
#include <limits>

#include "array/CommandRunner.h"
#include "host/HostServices.h"

namespace symcli {

namespace {
constexpr size_t kRulerLength = 4;
// Longest device number SYMCLI prints (five digits today, room for growth).
constexpr size_t kMaxDeviceDigits = 8;
constexpr int kDecimalBase = 10;
}  // namespace

std::string Trim(const std::string& text, const std::string& set) {
  return FXString::Trim(text, set);
}

void SplitSection(const std::string& text, size_t begin, size_t end,
                  const std::string& trimSet, std::vector<std::string>& lines) {
  lines.clear();
  if (begin >= text.size()) return;
  if (end == std::string::npos || end > text.size()) end = text.size();
  if (end <= begin) return;
  // Trim by positions first so only the kept text is copied.
  size_t b = text.find_first_not_of(trimSet, begin);
  if (b == std::string::npos || b >= end) return;
  size_t e = end;
  while (e > b && trimSet.find(text[e - 1]) != std::string::npos) --e;
  FXString::Split(text.substr(b, e - b), kLineSeparator, FXSPLIT_SKIP_EMPTY,
                  lines);
}

bool ReadTableRows(const std::string& output, const char* legend,
                   std::vector<std::string>& rows) {
  rows.clear();
  size_t ruler = output.rfind(kRuler);
  if (ruler == std::string::npos) return false;
  size_t begin = ruler + kRulerLength;
  size_t end = std::string::npos;
  if (legend && *legend) end = output.find(legend, begin);
  SplitSection(output, begin, end, kLineTrimSet, rows);
  return true;
}

void ReadListingLines(const std::string& output,
                      std::vector<std::string>& lines) {
  size_t ruler = output.rfind(kRuler);
  size_t begin = ruler == std::string::npos ? 0 : ruler + kRulerLength;
  SplitSection(output, begin, std::string::npos, kLineTrimSet, lines);
}

std::string Column(const std::string& line, int k) {
  const char* p = line.c_str();
  skipColumns(p, k);
  return skipToSpace(p);
}

bool ParseDecimal(const std::string& word, uint64_t& value) {
  if (word.empty()) return false;
  uint64_t v = 0;
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  for (char c : word) {
    if (!isdigit(static_cast<unsigned char>(c))) return false;
    uint64_t digit = uint64_t(c - '0');
    if (v > (max - digit) / kDecimalBase) return false;
    v = v * kDecimalBase + digit;
  }
  value = v;
  return true;
}

bool IsDeviceNumber(const std::string& word) {
  if (word.empty() || word.size() > kMaxDeviceDigits) return false;
  for (char c : word)
    if (!isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace symcli
