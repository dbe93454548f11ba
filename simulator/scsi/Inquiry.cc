#include "simulator/scsi/Inquiry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "simulator/state/DevNum.h"

namespace symsim {

namespace {

// Standard INQUIRY data layout.
constexpr size_t kStdLength = 136;          // through the device characters
constexpr size_t kStdShortLength = 36;      // through the product revision
constexpr size_t kStdAdditionalLength = 4;  // byte holding length - 5
constexpr size_t kStdHeaderBytes = 5;
constexpr size_t kStdVersion = 2;
constexpr uint8_t kSpc4 = 0x06;
constexpr size_t kStdResponseFormat = 3;
constexpr uint8_t kResponseFormat2 = 0x02;
constexpr size_t kStdFlags = 7;
constexpr uint8_t kCmdQue = 0x02;
constexpr size_t kVendorOffset = 8, kVendorWidth = 8;
constexpr size_t kProductOffset = 16, kProductWidth = 16;
constexpr size_t kRevisionOffset = 32, kRevisionWidth = 4;
constexpr size_t kVendorSpecificBlanks = 36, kVendorSpecificBlankCount = 4;
constexpr size_t kMicrocodeOffset = 56, kMicrocodeWidth = 4;
constexpr size_t kStdSymm3Offset = 115;  // first designator bytes
constexpr size_t kStdSymm3Width = 6;
constexpr size_t kStdSerialOffset = 123;
constexpr size_t kStdDevOffset = 132, kStdDevWidth = 4;

// Device Identification page layout.
constexpr size_t kPageCodeByte = 1;
constexpr size_t kPageLengthByte = 3;  // low byte of the page length
constexpr size_t kPageHeader = 4;
constexpr uint8_t kCodeSetBinary = 0x01;
constexpr uint8_t kCodeSetAscii = 0x02;
constexpr uint8_t kProtocolFc = 0x00;  // high nibble of byte 0
constexpr uint8_t kPiv = 0x80;
constexpr uint8_t kAssocLu = 0x00, kAssocPort = 0x10;
constexpr uint8_t kTypeT10Vendor = 0x01, kTypeNaa = 0x03, kTypeRelativePort = 0x04,
                  kTypePortGroup = 0x05;
constexpr uint8_t kAssocLuTypeNaa = kAssocLu | kTypeNaa;
// The older arrays' identifier: NAA 6 with OUI 0x006048.
constexpr uint8_t kNaa6OldPrefix[] = {0x60, 0x06, 0x04, 0x80};
// Port name of the simulated front-end port in the target port designator.
constexpr uint8_t kPortName[] = {0x50, 0x00, 0x09, 0x73, 0xf0, 0x0a, 0xb1, 0x04};
constexpr uint16_t kRelativePort = 0x0001;
constexpr uint16_t kPortGroup = 0x0001;

constexpr size_t kSerialDigits = 12;
constexpr size_t kSerialBytes = kSerialDigits / 2;
constexpr uint8_t kNaa6EmcPrefix[] = {0x60, 0x00, 0x09, 0x70};
constexpr char kDevMarker = 'S';
constexpr size_t kDevChars = 5;

uint8_t Nibble(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}

// "000197800123" -> 00 01 97 80 01 23 (hex of the bytes reads the serial).
std::vector<uint8_t> SerialBytes(const std::string& serial) {
  std::string digits = serial;
  if (digits.size() < kSerialDigits) digits.insert(0, kSerialDigits - digits.size(), '0');
  digits = digits.substr(digits.size() - kSerialDigits);
  std::vector<uint8_t> out;
  for (size_t i = 0; i < kSerialDigits; i += 2) {
    out.push_back(static_cast<uint8_t>(Nibble(digits[i]) << 4 | Nibble(digits[i + 1])));
  }
  return out;
}

void PutText(std::vector<uint8_t>* data, size_t offset, size_t width,
             const std::string& text) {
  for (size_t i = 0; i < width; ++i) {
    (*data)[offset + i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
  }
}

void AddDesignator(std::vector<uint8_t>* page, uint8_t codeSet, uint8_t assocType,
                   const std::vector<uint8_t>& designator) {
  page->push_back(codeSet);
  page->push_back(assocType);
  page->push_back(0);
  page->push_back(static_cast<uint8_t>(designator.size()));
  page->insert(page->end(), designator.begin(), designator.end());
}

std::vector<uint8_t> Word(uint16_t value) {
  return {0, 0, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)};
}

struct ModeName {
  InquiryMode mode;
  const char* name;
};
const ModeName kModeNames[] = {{InquiryMode::kLong, "long"},
                               {InquiryMode::kShort, "short"},
                               {InquiryMode::kDesignators, "designators"},
                               {InquiryMode::kOldLayout, "old"}};

}  // namespace

bool ParseInquiryMode(const std::string& text, InquiryMode* mode) {
  for (const ModeName& m : kModeNames) {
    if (text == m.name) {
      *mode = m.mode;
      return true;
    }
  }
  return false;
}

std::string InquiryModeName(InquiryMode mode) {
  for (const ModeName& m : kModeNames) {
    if (m.mode == mode) return m.name;
  }
  return "long";
}

std::string InquiryModeNames() {
  std::string out;
  for (const ModeName& m : kModeNames) out += (out.empty() ? "" : ", ") + std::string(m.name);
  return out;
}

std::vector<uint8_t> NaaDesignator(const std::string& serial, int64_t dev) {
  std::vector<uint8_t> out(std::begin(kNaa6EmcPrefix), std::end(kNaa6EmcPrefix));
  std::vector<uint8_t> s = SerialBytes(serial);
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(static_cast<uint8_t>(kDevMarker));
  std::string chars = FormatDev(dev).substr(0, kDevChars);
  out.insert(out.end(), chars.begin(), chars.end());
  return out;
}

std::vector<uint8_t> StandardInquiry(const std::string& serial,
                                     const std::string& microcode, int64_t dev,
                                     InquiryMode mode) {
  const size_t length = mode == InquiryMode::kShort ? kStdShortLength : kStdLength;
  std::vector<uint8_t> data(length, 0);
  data[kStdVersion] = kSpc4;
  data[kStdResponseFormat] = kResponseFormat2;
  data[kStdAdditionalLength] = static_cast<uint8_t>(length - kStdHeaderBytes);
  data[kStdFlags] = kCmdQue;
  PutText(&data, kVendorOffset, kVendorWidth, "EMC");
  PutText(&data, kProductOffset, kProductWidth, "SYMMETRIX");
  PutText(&data, kRevisionOffset, kRevisionWidth, microcode.substr(0, kRevisionWidth));
  if (mode == InquiryMode::kShort) return data;
  PutText(&data, kVendorSpecificBlanks, kVendorSpecificBlankCount, "");
  // Microcode as packed decimal: "5978.669.669" -> 59 78 06 69.
  std::string family = microcode.substr(0, microcode.find('.'));
  std::string build;
  if (microcode.find('.') != std::string::npos) {
    build = microcode.substr(microcode.find('.') + 1);
    build = build.substr(0, build.find('.'));
  }
  family.resize(kMicrocodeWidth, '0');
  if (build.size() > kMicrocodeWidth) build = build.substr(0, kMicrocodeWidth);
  build.insert(0, kMicrocodeWidth - build.size(), '0');
  std::string digits = family + build;
  for (size_t i = 0; i < kMicrocodeWidth; ++i) {
    data[kMicrocodeOffset + i] =
        static_cast<uint8_t>(Nibble(digits[2 * i]) << 4 | Nibble(digits[2 * i + 1]));
  }
  std::vector<uint8_t> naa = NaaDesignator(serial, dev);
  std::memcpy(&data[kStdSymm3Offset], naa.data(), kStdSymm3Width);
  std::vector<uint8_t> s = SerialBytes(serial);
  std::memcpy(&data[kStdSerialOffset], s.data(), kSerialBytes);
  std::string chars = FormatDev(dev);
  PutText(&data, kStdDevOffset, kStdDevWidth, chars.substr(chars.size() - kStdDevWidth));
  return data;
}

std::vector<uint8_t> DeviceIdPage(const std::string& serial, int64_t dev,
                                  InquiryMode mode) {
  std::vector<uint8_t> page(kPageHeader, 0);
  page[kPageCodeByte] = kPageDeviceId;
  std::vector<uint8_t> naa = NaaDesignator(serial, dev);
  if (mode == InquiryMode::kOldLayout) {
    std::copy(std::begin(kNaa6OldPrefix), std::end(kNaa6OldPrefix), naa.begin());
    page.insert(page.end(), naa.begin(), naa.end());
  } else if (mode == InquiryMode::kDesignators) {
    // Vendor, product and serial text of the logical unit.
    std::string text = "EMC     SYMMETRIX       " + serial + FormatDev(dev);
    AddDesignator(&page, kCodeSetAscii, kAssocLu | kTypeT10Vendor,
                  std::vector<uint8_t>(text.begin(), text.end()));
    AddDesignator(&page, kProtocolFc | kCodeSetBinary, kPiv | kAssocPort | kTypeRelativePort,
                  Word(kRelativePort));
    AddDesignator(&page, kProtocolFc | kCodeSetBinary, kPiv | kAssocPort | kTypePortGroup,
                  Word(kPortGroup));
    AddDesignator(&page, kProtocolFc | kCodeSetBinary, kPiv | kAssocPort | kTypeNaa,
                  std::vector<uint8_t>(std::begin(kPortName), std::end(kPortName)));
    AddDesignator(&page, kCodeSetBinary, kAssocLuTypeNaa, naa);
  } else {
    AddDesignator(&page, kCodeSetBinary, kAssocLuTypeNaa, naa);
  }
  page[kPageLengthByte] = static_cast<uint8_t>(page.size() - kPageHeader);
  return page;
}

std::string LunUuid(const std::string& serial, int64_t dev) {
  // VMware form: "02" type, "00" reserved, LUN "0000", "00", then the NAA
  // designator and the first six product characters ("SYMMET").
  std::string uuid = "0200000000" + HexBytes(NaaDesignator(serial, dev));
  std::string product = "SYMMET";
  uuid += HexBytes(std::vector<uint8_t>(product.begin(), product.end()));
  return uuid;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::string HexDump(const std::vector<uint8_t>& bytes) {
  constexpr size_t kPerLine = 16;
  std::string out;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
    out += buf;
    out += (i % kPerLine == kPerLine - 1 || i + 1 == bytes.size()) ? "\n" : " ";
  }
  return out;
}

}  // namespace symsim
