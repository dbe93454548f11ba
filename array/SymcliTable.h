// Reading SYMCLI text output: the one table reader (ruler, legend marker,
// trim, split) and the one listing-part reader that every parser uses, and
// the column and number helpers on top of the scanning helpers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace symcli {

constexpr const char* kRuler = "----";
constexpr const char* kLineTrimSet = " \r\n";
constexpr const char* kLineSeparator = "\n";
constexpr const char* kFormatChanged =
    "Failed to parse SYMCLI command output, format seems to have changed.";

// Answers that mean "nothing there" rather than failure. The first is a
// fragment of "... do not have any Snapvx information." as the tool writes
// it on standard error; matching without the full stop also covers
// messages that end differently.
constexpr const char* kNoSnapvxInfo = "do not have any Snapvx information";
constexpr const char* kNoLinkTarget = "No link target was found";

// Legend markers that end the rows of a table.
constexpr const char* kLegendFlags = "Flags:";
constexpr const char* kLegendFlgs = "Flgs:";

// Rows of a table: from just after the last ruler "----" up to the first
// `legend` after it (null or absent: to the end), trimmed of " \r\n" and
// split into non-empty lines. False (and `rows` empty) without a ruler.
bool ReadTableRows(const std::string& output, const char* legend,
                   std::vector<std::string>& rows);

// Listing part: what follows the last ruler, or the whole output without
// one; trimmed and split like the table rows.
void ReadListingLines(const std::string& output,
                      std::vector<std::string>& lines);

// Text between `begin` and `end` (npos: the end), trimmed of `trimSet` and
// split into non-empty lines.
void SplitSection(const std::string& text, size_t begin, size_t end,
                  const std::string& trimSet, std::vector<std::string>& lines);

// Bounds [b, e) of the text between `begin` and `end` (npos: the end)
// trimmed of `trimSet`; false when nothing is left.
bool SectionBounds(const std::string& text, size_t begin, size_t end,
                   const std::string& trimSet, size_t& b, size_t& e);
// Bounds of the listing part of `output` (see ReadListingLines).
bool ListingBounds(const std::string& output, size_t& b, size_t& e);

// Calls `visit(const std::string& line)` for every non-empty line of
// [b, e), in order, through one reused buffer; stops when it returns false.
// Returns false when stopped.
template <typename Visit>
bool ForEachLine(const std::string& text, size_t b, size_t e, Visit visit) {
  std::string line;
  const char* data = text.data();
  while (b < e) {
    const void* nl = memchr(data + b, '\n', e - b);
    size_t stop = nl ? size_t(static_cast<const char*>(nl) - data) : e;
    if (stop > b) {
      line.assign(data + b, stop - b);
      if (!visit(line)) return false;
    }
    b = stop + 1;
  }
  return true;
}

// Start of the last "----" of `text`, or npos.
size_t FindLastRuler(const std::string& text);

// Column `k` of a line (0-based, words separated by white space); empty
// when the line has fewer columns.
std::string Column(const std::string& line, int k);

// Whole word of decimal digits only (no sign, no suffix) into `value`.
bool ParseDecimal(const std::string& word, uint64_t& value);
// Whole word of hexadecimal digits only, as SYMCLI prints device numbers.
bool IsDeviceNumber(const std::string& word);

inline bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// Trims `set` from both ends of `text`.
std::string Trim(const std::string& text, const std::string& set);

}  // namespace symcli
