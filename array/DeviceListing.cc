#include "array/DeviceListing.h"

#include <cctype>
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

bool ParseFreeDevices(const std::string& output, const std::string& sid,
                      const std::unordered_set<std::string>& linked,
                      const std::unordered_set<std::string>& unmapped,
                      std::list<VMAXLun>& luns, std::string& badLine,
                      std::string& badField) {
  std::list<VMAXLun> found;
  size_t b, e;
  if (!ListingBounds(output, b, e)) return true;
  std::string device;
  const DeviceFilter isUnmapped(unmapped), isLinked(linked);
  bool ok = ForEachLine(output, b, e, [&](const std::string& line) {
    if (!LineDevice(line, device)) return true;
    uint32_t value = 0;
    bool canonical = CanonicalValue(device, value);
    if (!isUnmapped.Contains(device, canonical, value) ||
        isLinked.Contains(device, canonical, value))
      return true;
    VMAXLun lun;
    if (!LineCylinders(line, lun.cylinders, badField)) {
      badLine = line;
      return false;
    }
    lun.sid = sid;
    lun.deviceId = device;
    found.push_back(std::move(lun));
    return true;
  });
  if (!ok) return false;
  luns.splice(luns.end(), found);
  return true;
}

}  // namespace symcli
