#include "array/DeviceListing.h"

#include <cctype>
#include <cstddef>
#include <cstring>
#include <limits>
#include <cstdint>
#include <utility>
#include <vector>

#include "array/CommandRunner.h"
#include "array/SymcliTable.h"
#include "hostdev/VMAXUtils.h"

namespace symcli {

namespace {
// "Not Visible" fills the Physical column with two words.
constexpr const char* kNotVisible = "Not Visible";
// Capacity in cylinders: the last column of a "symdev list ... -cyl" line of
// an array that runs SnapVX (Sym, Physical, SA:P, Config, Attribute, Sts,
// Cap).
constexpr int kSizeColumn = 6;
constexpr size_t kCanonicalDigits = 5;
constexpr size_t kMaxDeviceDigits = 8;
constexpr uint32_t kCanonicalRange = 1u << 20;  // five hexadecimal digits
constexpr uint32_t kWordBits = 64;
constexpr uint32_t kBitsPerHexDigit = 4;
constexpr uint32_t kFirstLetterDigit = 10;

// Value of a five-digit upper-case device number, or false for any other
// text.
bool CanonicalValue(const std::string& dev, uint32_t& value) {
  if (dev.size() != kCanonicalDigits) return false;
  uint32_t v = 0;
  for (char c : dev) {
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = uint32_t(c - '0');
    else if (c >= 'A' && c <= 'F') digit = uint32_t(c - 'A') + kFirstLetterDigit;
    else return false;
    v = (v << kBitsPerHexDigit) | digit;
  }
  value = v;
  return true;
}

// Membership in a device set, answered from a bitmap for canonical device
// numbers: large listings look up every line, and a bitmap stays in cache
// where hash nodes do not. Exactly the set's answer for every key.
class DeviceFilter {
 public:
  explicit DeviceFilter(const std::unordered_set<std::string>& set)
      : set_(set), bits_(kCanonicalRange / kWordBits, 0) {
    uint32_t v;
    for (const std::string& dev : set) {
      if (CanonicalValue(dev, v))
        bits_[v / kWordBits] |= uint64_t(1) << (v % kWordBits);
      else
        ++others_;
    }
  }
  // `canonical` and `value` as CanonicalValue gave them for `dev`.
  bool Contains(const std::string& dev, bool canonical, uint32_t value) const {
    if (canonical) return (bits_[value / kWordBits] >> (value % kWordBits)) & 1u;
    return others_ > 0 && set_.count(dev) > 0;
  }

 private:
  const std::unordered_set<std::string>& set_;
  std::vector<uint64_t> bits_;
  size_t others_ = 0;
};

}  // namespace

bool LineDevice(const std::string& line, std::string& device) {
  const char* p = line.c_str();
  skipSpace(p);
  const char* start = p;
  bool canonical = true;
  while (*p && *p != ' ' && !(*p >= '\t' && *p <= '\r')) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (!isxdigit(c)) return false;
    if (islower(c)) canonical = false;
    ++p;
  }
  size_t length = size_t(p - start);
  if (length == 0 || length > kMaxDeviceDigits) return false;
  device.assign(start, length);
  // Five upper-case digits are already the canonical form.
  if (!canonical || length != kCanonicalDigits) device = StdDevName(device);
  return true;
}

// The older layouts (DA:IT column, Config values with blanks) put other
// words at the size field and are refused rather than misread.
bool LineCylinders(const std::string& line, uint64_t& cylinders,
                   std::string& field) {
  int index = kSizeColumn + (Contains(line, kNotVisible) ? 1 : 0);
  const char* p = line.c_str();
  skipColumns(p, index);
  field = skipToSpace(p);
  skipSpace(p);
  return *p == '\0' && ParseDecimal(field, cylinders);
}

namespace {

constexpr uint64_t kDecimalBase = 10;

inline bool IsBlankChar(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && IsBlankChar(*p)) ++p;
  return p;
}

const char* SkipWord(const char* p, const char* end) {
  while (p < end && !IsBlankChar(*p)) ++p;
  return p;
}

// Value of [p, end) when it is five upper-case hexadecimal digits.
bool CanonicalWord(const char* p, const char* end, uint32_t& value) {
  if (end - p != std::ptrdiff_t(kCanonicalDigits)) return false;
  uint32_t v = 0;
  for (; p < end; ++p) {
    uint32_t digit;
    if (*p >= '0' && *p <= '9') digit = uint32_t(*p - '0');
    else if (*p >= 'A' && *p <= 'F') digit = uint32_t(*p - 'A') + kFirstLetterDigit;
    else return false;
    v = (v << kBitsPerHexDigit) | digit;
  }
  value = v;
  return true;
}

// LineCylinders over [line, end) whose first word ends at `afterDevice`.
bool RangeCylinders(const char* line, const char* end, const char* afterDevice,
                    uint64_t& cylinders, std::string& field) {
  static const size_t kNotVisibleLength = strlen(kNotVisible);
  bool notVisible =
      memmem(line, size_t(end - line), kNotVisible, kNotVisibleLength) != nullptr;
  const char* p = afterDevice;
  for (int k = 1; k < kSizeColumn + (notVisible ? 1 : 0); ++k)
    p = SkipWord(SkipBlanks(p, end), end);
  p = SkipBlanks(p, end);
  const char* word = p;
  p = SkipWord(p, end);
  field.assign(word, size_t(p - word));
  if (SkipBlanks(p, end) != end || word == p) return false;
  uint64_t v = 0;
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  for (const char* c = word; c < p; ++c) {
    if (*c < '0' || *c > '9') return false;
    uint64_t digit = uint64_t(*c - '0');
    if (v > (max - digit) / kDecimalBase) return false;
    v = v * kDecimalBase + digit;
  }
  cylinders = v;
  return true;
}

}  // namespace

bool ParseFreeDevices(const std::string& output, const std::string& sid,
                      const std::unordered_set<std::string>& linked,
                      const std::unordered_set<std::string>& unmapped,
                      std::list<VMAXLun>& luns, std::string& badLine,
                      std::string& badField) {
  std::list<VMAXLun> found;
  size_t b, e;
  if (!ListingBounds(output, b, e)) return true;
  std::string device, line;
  const DeviceFilter isUnmapped(unmapped), isLinked(linked);
  // Lines are read in place; a line's text is copied only for a free device
  // or for a device number in another form (the general path below).
  const char* data = output.data();
  const char* const stopAt = data + e;
  for (const char* s = data + b; s < stopAt;) {
    const char* nl = static_cast<const char*>(memchr(s, '\n', size_t(stopAt - s)));
    const char* t = nl ? nl : stopAt;
    const char* lineStart = s;
    s = t + 1;
    if (t == lineStart) continue;
    const char* word = SkipBlanks(lineStart, t);
    const char* afterWord = SkipWord(word, t);
    uint32_t value = 0;
    uint64_t cylinders = 0;
    if (CanonicalWord(word, afterWord, value)) {
      if (!isUnmapped.Contains(device, true, value) ||
          isLinked.Contains(device, true, value))
        continue;
      if (!RangeCylinders(lineStart, t, afterWord, cylinders, badField)) {
        badLine.assign(lineStart, size_t(t - lineStart));
        return false;
      }
      found.emplace_back();
      VMAXLun& lun = found.back();
      lun.sid = sid;
      lun.deviceId.assign(word, kCanonicalDigits);
      lun.cylinders = cylinders;
      continue;
    }
    line.assign(lineStart, size_t(t - lineStart));
    if (!LineDevice(line, device)) continue;
    bool canonical = CanonicalValue(device, value);
    if (!isUnmapped.Contains(device, canonical, value) ||
        isLinked.Contains(device, canonical, value))
      continue;
    if (!LineCylinders(line, cylinders, badField)) {
      badLine = line;
      return false;
    }
    found.emplace_back();
    VMAXLun& lun = found.back();
    lun.sid = sid;
    lun.deviceId = device;
    lun.cylinders = cylinders;
  }
  luns.splice(luns.end(), found);
  return true;
}

}  // namespace symcli
