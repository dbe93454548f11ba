#include "array/NameSyntax.h"

#include <cstdio>

#include "host/HostServices.h"

namespace namesyntax {

namespace {

constexpr size_t kMaxSerialLength = 32;
constexpr size_t kMaxGroupNameLength = 64;
constexpr size_t kMaxSnapshotNameLength = 32;
constexpr size_t kMaxDeviceDigits = 5;

// Fibre Channel port names: 8 bytes, bare or as "hh:hh:...".
constexpr size_t kWwpnHexDigits = 16;
constexpr size_t kWwpnPairs = 8;
constexpr size_t kWwpnPairDigits = 2;
constexpr char kWwpnSeparator = ':';

// iSCSI name forms. The iqn form carries a "YYYY-MM" date after its prefix;
// names are at most 223 bytes long.
constexpr const char* kIqnPrefix = "iqn.";
constexpr const char* kEuiPrefix = "eui.";
constexpr const char* kNaaPrefix = "naa.";
constexpr size_t kIscsiPrefixLength = 4;
constexpr size_t kMaxIscsiNameLength = 223;
constexpr size_t kIqnYearDigits = 4;
constexpr size_t kIqnMonthDigits = 2;
constexpr char kIqnDateSeparator = '-';
constexpr char kIqnAuthoritySeparator = '.';
constexpr size_t kEuiHexDigits = 16;
constexpr size_t kNaaShortHexDigits = 16;
constexpr size_t kNaaLongHexDigits = 32;

constexpr char kOptionMark = '-';
constexpr const char* kParentStep = "..";
constexpr char kPathSeparator = '/';

// Printable ASCII runs from blank to tilde.
constexpr char kFirstPrintable = ' ';
constexpr char kLastPrintable = '~';
constexpr size_t kMaxPrintedLength = 96;
constexpr const char* kCutMark = "...";

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsPrintable(char c) { return c >= kFirstPrintable && c <= kLastPrintable; }

// Every character of value[from, to) is one of `extra` or a letter or digit.
bool AllWordChars(const std::string& value, size_t from, size_t to,
                  const char* extra) {
  for (size_t i = from; i < to; ++i) {
    char c = value[i];
    if (IsLetter(c) || IsDigit(c)) continue;
    bool allowed = false;
    for (const char* e = extra; *e && !allowed; ++e) allowed = *e == c;
    if (!allowed) return false;
  }
  return true;
}

bool AllHex(const std::string& value, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i)
    if (!IsHex(value[i])) return false;
  return true;
}

bool StartsWith(const std::string& value, const char* prefix) {
  return value.compare(0, std::string(prefix).size(), prefix) == 0;
}

bool IsWwpn(const std::string& value) {
  if (value.size() == kWwpnHexDigits) return AllHex(value, 0, value.size());
  const size_t colonForm = kWwpnPairs * kWwpnPairDigits + kWwpnPairs - 1;
  if (value.size() != colonForm) return false;
  for (size_t i = 0; i < value.size(); ++i) {
    bool separatorSlot = i % (kWwpnPairDigits + 1) == kWwpnPairDigits;
    if (separatorSlot ? value[i] != kWwpnSeparator : !IsHex(value[i]))
      return false;
  }
  return true;
}

// iqn.YYYY-MM[.reversed.domain[:anything]], letters, digits, "-", ".", ":".
bool IsIqn(const std::string& value) {
  size_t at = kIscsiPrefixLength;
  size_t monthAt = at + kIqnYearDigits + 1;
  size_t dateEnd = monthAt + kIqnMonthDigits;
  if (value.size() < dateEnd) return false;
  for (size_t i = at; i < at + kIqnYearDigits; ++i)
    if (!IsDigit(value[i])) return false;
  if (value[at + kIqnYearDigits] != kIqnDateSeparator) return false;
  for (size_t i = monthAt; i < dateEnd; ++i)
    if (!IsDigit(value[i])) return false;
  if (value.size() == dateEnd) return true;
  if (value[dateEnd] != kIqnAuthoritySeparator) return false;
  return value.size() > dateEnd + 1 &&
         AllWordChars(value, dateEnd + 1, value.size(), "-.:");
}

bool IsPrefixedHex(const std::string& value, size_t digits) {
  return value.size() == kIscsiPrefixLength + digits &&
         AllHex(value, kIscsiPrefixLength, value.size());
}

}  // namespace

const char* KindText(NameKind kind) {
  switch (kind) {
    case NameKind::kArraySerial: return "array serial";
    case NameKind::kStorageGroup: return "storage group name";
    case NameKind::kMaskingView: return "masking view name";
    case NameKind::kSnapshotName: return "snapshot name";
    case NameKind::kInitiator: return "initiator name";
    case NameKind::kDeviceNumber: return "device number";
    case NameKind::kDeviceFile: return "device file path";
    case NameKind::kToolDirectory: return "SYMCLI directory";
  }
  return "name";
}

bool IsArraySerial(const std::string& value) {
  return !value.empty() && value.size() <= kMaxSerialLength &&
         AllWordChars(value, 0, value.size(), "");
}

bool IsGroupName(const std::string& value) {
  return !value.empty() && value.size() <= kMaxGroupNameLength &&
         value[0] != kOptionMark &&
         AllWordChars(value, 0, value.size(), "_-.:");
}

bool IsSnapshotName(const std::string& value) {
  return !value.empty() && value.size() <= kMaxSnapshotNameLength &&
         value[0] != kOptionMark && AllWordChars(value, 0, value.size(), "_-");
}

bool IsInitiatorName(const std::string& value) {
  if (IsWwpn(value)) return true;
  if (value.size() > kMaxIscsiNameLength) return false;
  if (StartsWith(value, kIqnPrefix)) return IsIqn(value);
  if (StartsWith(value, kEuiPrefix)) return IsPrefixedHex(value, kEuiHexDigits);
  if (StartsWith(value, kNaaPrefix))
    return IsPrefixedHex(value, kNaaShortHexDigits) ||
           IsPrefixedHex(value, kNaaLongHexDigits);
  return false;
}

bool IsDeviceNumber(const std::string& value) {
  return !value.empty() && value.size() <= kMaxDeviceDigits &&
         AllHex(value, 0, value.size());
}

bool IsDeviceFilePath(const std::string& path, const std::string& tempDir) {
  if (tempDir.empty() || tempDir[0] == kOptionMark) return false;
  if (path.size() <= tempDir.size() ||
      path.compare(0, tempDir.size(), tempDir) != 0)
    return false;
  // The directory itself must end where a path step ends.
  if (tempDir.back() != kPathSeparator && path[tempDir.size()] != kPathSeparator)
    return false;
  if (path.back() == kPathSeparator) return false;
  for (char c : path) {
    if (!IsPrintable(c) || c == ' ' || c == '"' || c == '\'' || c == '\\')
      return false;
  }
  // No ".." step anywhere: the file stays inside the directory.
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(kPathSeparator, start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, kParentStep) == 0) return false;
    start = end + 1;
  }
  return true;
}

bool IsToolDirectory(const std::string& value) {
  if (value.empty()) return false;
  for (char c : value)
    if (!IsPrintable(c) || c == '"' || c == '\\') return false;
  return true;
}

bool IsValid(NameKind kind, const std::string& value) {
  switch (kind) {
    case NameKind::kArraySerial: return IsArraySerial(value);
    case NameKind::kStorageGroup:
    case NameKind::kMaskingView: return IsGroupName(value);
    case NameKind::kSnapshotName: return IsSnapshotName(value);
    case NameKind::kInitiator: return IsInitiatorName(value);
    case NameKind::kDeviceNumber: return IsDeviceNumber(value);
    case NameKind::kDeviceFile:
      return IsDeviceFilePath(value, PZPI_Base::getNebulonTempDirectory());
    case NameKind::kToolDirectory: return IsToolDirectory(value);
  }
  return false;
}

std::string Printable(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (out.size() >= kMaxPrintedLength) {
      out += kCutMark;
      break;
    }
    char c = value[i];
    if (IsPrintable(c) && c != '"' && c != '\'' && c != '\\') {
      out += c;
      continue;
    }
    char escaped[8];
    snprintf(escaped, sizeof escaped, "\\x%02X",
             static_cast<unsigned>(static_cast<unsigned char>(c)));
    out += escaped;
  }
  return out;
}

}  // namespace namesyntax
