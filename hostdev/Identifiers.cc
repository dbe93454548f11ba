// Device numbers and WWNs: canonical forms and comparisons.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/Vocabulary.h"
#include "host/HostServices.h"
#include "hostdev/VMAXUtils.h"

namespace {

// Device WWN layout (character positions).
constexpr size_t kDeviceWWNLength = 32;
constexpr size_t kWWNSerialOffset = 8;
constexpr size_t kWWNSerialLength = 12;
constexpr size_t kWWNDeviceOffset = 22;
constexpr size_t kWWNDeviceBytes = 5;
constexpr size_t kWWNBufferSize = 40;
constexpr size_t kDevNameBufferSize = 32;

constexpr size_t kDeviceWWNBytes = 16;
constexpr size_t kPortWWNBytes = 8;
constexpr size_t kPortWWNDigits = 2 * kPortWWNBytes;

// NAA-6 device identifier of these arrays (16 bytes): NAA type and OUI in
// bytes 0..3, the array serial as packed digits in bytes 4..9, then "S" and
// the device characters in ASCII in bytes 10..15.
constexpr unsigned char kNaaTypeRegisteredExtended = 0x6;
constexpr unsigned kNaaTypeShift = 4;
constexpr size_t kNaaSerialOffset = 4;
constexpr size_t kNaaSerialBytes = 6;
constexpr size_t kNaaTailOffset = 10;
constexpr char kNaaDeviceMarker = 'S';
constexpr size_t kDeviceChars = 5;
// Organisation identifiers seen on these arrays' devices.
constexpr unsigned long kOuiSymmetrix = 0x000097;
constexpr unsigned long kOuiSymmetrixOld = 0x006048;

constexpr int kDebugDetail = 4;
constexpr int kHexBase = 16;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;

// strtol's answer for a text that is no device number.
bool IsBadDevValue(long v) { return v == 0 || v == LONG_MAX || v == LONG_MIN; }

std::string BytesToHex(const unsigned char* bytes, size_t count) {
  std::string out;
  if (!bytes) return out;
  char digit[4];
  for (size_t i = 0; i < count; ++i) {
    snprintf(digit, sizeof digit, "%x", unsigned(bytes[i] >> kNibbleBits));
    out += digit;
    snprintf(digit, sizeof digit, "%x", unsigned(bytes[i] & kNibbleMask));
    out += digit;
  }
  return out;
}

std::string NormalisedWWN(const std::string& wwn) {
  std::string out;
  for (char c : wwn) {
    if (c == ':' || c == ' ') continue;
    out += char(tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

int HexDigitValue(char c) {
  char text[2] = {c, '\0'};
  return int(strtol(text, nullptr, kHexBase));
}

}  // namespace

std::string StdDevName(const std::string& dev) {
  long value = strtol(dev.c_str(), nullptr, kHexBase);
  char buffer[kDevNameBufferSize];
  memset(buffer, 0, sizeof buffer);
  snprintf(buffer, sizeof buffer, "%05lX", static_cast<unsigned long>(value));
  return buffer;
}

bool compareDevs(const std::string& a, const std::string& b) {
  long first = strtol(a.c_str(), nullptr, kHexBase);
  if (IsBadDevValue(first)) {
    engineDebug().DebugLvl(DBG_ERROR, "compareDevs",
                           "Compare [%s] and [%s] - failure converting first "
                           "device",
                           a.c_str(), b.c_str());
    return false;
  }
  long second = strtol(b.c_str(), nullptr, kHexBase);
  if (IsBadDevValue(second)) {
    engineDebug().DebugLvl(DBG_ERROR, "compareDevs",
                           "Compare [%s] and [%s] - failure converting second "
                           "device",
                           a.c_str(), b.c_str());
    return false;
  }
  bool same = first == second;
  engineDebug().DebugLvl(kDebugDetail, "compareDevs",
                         "Devices [%lX] and [%lX] %smatch",
                         static_cast<unsigned long>(first),
                         static_cast<unsigned long>(second),
                         same ? "" : "do not ");
  return same;
}

bool compareWWNs(const std::string& a, const std::string& b) {
  std::string first = NormalisedWWN(a);
  std::string second = NormalisedWWN(b);
  bool same = first == second;
  engineDebug().DebugLvl(kDebugDetail, "compareWWNs", "WWNs [%s] and [%s] %smatch",
                         first.c_str(), second.c_str(), same ? "" : "do not ");
  return same;
}

bool parseDeviceWWN(PZSO::SnapInfo* si, const std::string& wwn,
                    std::string& serial, std::string& device) {
  static const char* kFunction = "parseDeviceWWN";
  if (wwn.size() != kDeviceWWNLength) {
    if (si)
      si->log(LOG_FAILURE, kFunction, "Invalid length of requested Device WWN [%s]",
              wwn.c_str());
    else
      engineDebug().DebugLvl(DBG_ERROR, kFunction,
                             "Invalid length of requested Device WWN [%s]",
                             wwn.c_str());
    return false;
  }
  char buffer[kWWNBufferSize];
  memset(buffer, 0, sizeof buffer);
  memcpy(buffer, wwn.data(), kDeviceWWNLength);
  if (si) si->log(LOG_DETAIL, kFunction, "Parsing PZVMAXAPI Device WWN [%s]", buffer);

  char arraySerial[kWWNSerialLength + 1];
  memcpy(arraySerial, buffer + kWWNSerialOffset, kWWNSerialLength);
  arraySerial[kWWNSerialLength] = '\0';

  // Five ASCII characters, each written as two hex digits.
  unsigned char dev[kWWNDeviceBytes + 1];
  memset(dev, 0, sizeof dev);
  for (size_t i = 0; i < kWWNDeviceBytes; ++i) {
    char pair[3] = {buffer[kWWNDeviceOffset + 2 * i],
                    buffer[kWWNDeviceOffset + 2 * i + 1], '\0'};
    unsigned char byte = 0;
    if (sscanf(pair, "%2hhX", &byte) != 1) byte = 0;
    dev[i] = byte;
  }
  std::string deviceText(reinterpret_cast<const char*>(dev));
  if (si)
    si->log(LOG_PROGRESS, kFunction, "Parsed Device WWN to get Array [%s] Device [%s]",
            arraySerial, deviceText.c_str());
  serial = arraySerial;
  device = deviceText;
  return true;
}

unsigned long naaOrganisationId(const unsigned char* naa, size_t length) {
  if (!naa || length < kNaaSerialOffset) return 0;
  // 24 bits from the low nibble of byte 0 to the high nibble of byte 3.
  return (static_cast<unsigned long>(naa[0] & kNibbleMask) << 20) |
         (static_cast<unsigned long>(naa[1]) << 12) |
         (static_cast<unsigned long>(naa[2]) << kNibbleBits) |
         (static_cast<unsigned long>(naa[3]) >> kNibbleBits);
}

bool parseSymmetrixNaa(const unsigned char* naa, size_t length,
                       std::string& serial, std::string& device) {
  if (!naa || length != kDeviceWWNBytes ||
      (naa[0] >> kNaaTypeShift) != kNaaTypeRegisteredExtended)
    return false;
  unsigned long oui = naaOrganisationId(naa, length);
  if (oui != kOuiSymmetrix && oui != kOuiSymmetrixOld) return false;
  serial = BytesToHex(naa + kNaaSerialOffset, kNaaSerialBytes);
  device.clear();
  if (naa[kNaaTailOffset] != kNaaDeviceMarker) return true;
  // The hex characters at the end of the tail, left-padded to five.
  size_t first = length;
  while (first > kNaaTailOffset + 1 && isxdigit(naa[first - 1])) --first;
  if (first == length) return true;
  device.assign(reinterpret_cast<const char*>(naa + first), length - first);
  device.insert(0, kDeviceChars - device.size(), '0');
  return true;
}

std::string DeviceWWNToString(const unsigned char* bytes) {
  return BytesToHex(bytes, kDeviceWWNBytes);
}

std::string WWNToString(const unsigned char* bytes) {
  return BytesToHex(bytes, kPortWWNBytes);
}

std::string StringToWWN(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (digits.size() == kPortWWNDigits) break;
    if (c == ':') continue;
    digits += c;
  }
  if (digits.empty()) return std::string();
  digits.resize(kPortWWNDigits, '0');
  std::string out;
  for (size_t i = 0; i < kPortWWNDigits; i += 2) {
    int high = HexDigitValue(digits[i]);
    int low = HexDigitValue(digits[i + 1]);
    out += char((high * kHexBase) | low);
  }
  return out;
}

std::string ToLower(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = char(tolower(static_cast<unsigned char>(c)));
  return out;
}
