#include "simulator/state/DevNum.h"

#include <cctype>
#include <cstdio>
#include <sstream>

namespace symsim {

namespace {
constexpr size_t kMaxDevDigits = 5;
constexpr size_t kFcDigits = 16;
}  // namespace

int64_t ParseDev(const std::string& raw) {
  std::string text = raw;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text = text.substr(2);
  }
  if (text.empty() || text.size() > kMaxDevDigits) return -1;
  int64_t value = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return -1;
    value = value * 16 + (std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
  }
  return value <= kMaxDevice ? value : -1;
}

std::string FormatDev(int64_t dev) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%05llX", static_cast<long long>(dev));
  return buf;
}

bool ParseDevList(const std::string& text, std::vector<int64_t>* out,
                  std::string* error) {
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) continue;
    size_t colon = item.find(':');
    if (colon == std::string::npos) {
      int64_t dev = ParseDev(item);
      if (dev < 0) {
        *error = "Invalid Symmetrix device name: " + item;
        return false;
      }
      out->push_back(dev);
      continue;
    }
    int64_t first = ParseDev(item.substr(0, colon));
    int64_t last = ParseDev(item.substr(colon + 1));
    if (first < 0 || last < 0 || last < first) {
      *error = "Invalid Symmetrix device range: " + item;
      return false;
    }
    for (int64_t d = first; d <= last; ++d) out->push_back(d);
  }
  if (out->empty()) {
    *error = "No Symmetrix device names were specified";
    return false;
  }
  return true;
}

std::string CompressRanges(const std::vector<int64_t>& devs) {
  std::string text;
  for (size_t i = 0; i < devs.size();) {
    size_t j = i;
    while (j + 1 < devs.size() && devs[j + 1] == devs[j] + 1) ++j;
    if (!text.empty()) text += " ";
    text += FormatDev(devs[i]);
    if (j > i) text += ":" + FormatDev(devs[j]);
    i = j + 1;
  }
  return text;
}

bool IsFcName(const std::string& name) {
  size_t digits = 0;
  for (char c : name) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    ++digits;
  }
  return digits == kFcDigits;
}

std::string NormalizeInitiator(const std::string& name) {
  if (!IsFcName(name)) return name;
  std::string out;
  for (char c : name) {
    if (c != ':') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace symsim
