#include "array/SymcliTable.h"

#include <cctype>
#include <cstring>
#include <limits>

#include "array/CommandRunner.h"
#include "host/HostServices.h"

namespace symcli {

namespace {
constexpr size_t kRulerLength = 4;
constexpr char kRulerChar = '-';
// Longest device number SYMCLI prints (five digits today, room for growth).
constexpr size_t kMaxDeviceDigits = 8;
constexpr int kDecimalBase = 10;
}  // namespace

std::string Trim(const std::string& text, const std::string& set) {
  return FXString::Trim(text, set);
}

bool SectionBounds(const std::string& text, size_t begin, size_t end,
                   const std::string& trimSet, size_t& b, size_t& e) {
  if (begin >= text.size()) return false;
  if (end == std::string::npos || end > text.size()) end = text.size();
  if (end <= begin) return false;
  // Trimmed by positions, as FXString::Trim would, without copying.
  b = text.find_first_not_of(trimSet, begin);
  if (b == std::string::npos || b >= end) return false;
  e = end;
  while (e > b && trimSet.find(text[e - 1]) != std::string::npos) --e;
  return true;
}

void SplitSection(const std::string& text, size_t begin, size_t end,
                  const std::string& trimSet, std::vector<std::string>& lines) {
  lines.clear();
  size_t b, e;
  if (!SectionBounds(text, begin, end, trimSet, b, e)) return;
  // The pieces FXString::Split would give, skipping empty ones.
  ForEachLine(text, b, e, [&lines](const std::string& line) {
    lines.push_back(line);
    return true;
  });
}

bool ListingBounds(const std::string& output, size_t& b, size_t& e) {
  size_t ruler = FindLastRuler(output);
  size_t begin = ruler == std::string::npos ? 0 : ruler + kRulerLength;
  return SectionBounds(output, begin, std::string::npos, kLineTrimSet, b, e);
}

size_t FindLastRuler(const std::string& text) {
  const char* data = text.data();
  size_t n = text.size();
  while (n >= kRulerLength) {
    const void* dash = memrchr(data, kRulerChar, n);
    if (!dash) break;
    size_t at = size_t(static_cast<const char*>(dash) - data);
    if (at + 1 >= kRulerLength &&
        memcmp(data + at + 1 - kRulerLength, kRuler, kRulerLength) == 0)
      return at + 1 - kRulerLength;
    n = at;
  }
  return std::string::npos;
}

bool ReadTableRows(const std::string& output, const char* legend,
                   std::vector<std::string>& rows) {
  rows.clear();
  size_t ruler = FindLastRuler(output);
  if (ruler == std::string::npos) return false;
  size_t begin = ruler + kRulerLength;
  size_t end = std::string::npos;
  if (legend && *legend) end = output.find(legend, begin);
  SplitSection(output, begin, end, kLineTrimSet, rows);
  return true;
}

void ReadListingLines(const std::string& output,
                      std::vector<std::string>& lines) {
  lines.clear();
  size_t b, e;
  if (!ListingBounds(output, b, e)) return;
  ForEachLine(output, b, e, [&lines](const std::string& line) {
    lines.push_back(line);
    return true;
  });
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
