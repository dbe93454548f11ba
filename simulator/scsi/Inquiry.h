// The SCSI identification data a host reads from a simulated array device:
// standard INQUIRY data and the Device Identification VPD page (0x83).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace symsim {

constexpr uint8_t kPageDeviceId = 0x83;

// How a simulated device answers INQUIRY, per world or per device:
// - kLong: the standard data with the long vendor-specific area (microcode,
//   serials, device characters, through byte 135) and a page 0x83 of one
//   NAA designator;
// - kShort: the 36-byte standard answer of the published Symmetrix sample
//   (additional length 0x1F, microcode family as the product revision) and
//   the same page;
// - kDesignators: the long standard data and a page 0x83 of several
//   designators (vendor text, target port, port group, port name) with the
//   logical unit's NAA designator last;
// - kOldLayout: the long standard data and the older page 0x83 whose NAA
//   identifier (OUI 0x006048) follows the page header directly.
enum class InquiryMode { kLong, kShort, kDesignators, kOldLayout };
// "long", "short", "designators", "old"; false for another text.
bool ParseInquiryMode(const std::string& text, InquiryMode* mode);
std::string InquiryModeName(InquiryMode mode);
// Every mode's name, for messages.
std::string InquiryModeNames();

// Standard INQUIRY data of `dev` on the array `serial` (12 decimal digits)
// with microcode such as "5978.669.669".
std::vector<uint8_t> StandardInquiry(const std::string& serial,
                                     const std::string& microcode, int64_t dev,
                                     InquiryMode mode = InquiryMode::kLong);
// Device Identification page (see InquiryMode).
std::vector<uint8_t> DeviceIdPage(const std::string& serial, int64_t dev,
                                  InquiryMode mode = InquiryMode::kLong);
// The 16 designator bytes (NAA 6, OUI 0x000097, serial as hex digits, "S"
// and the five device characters), also the device WWN.
std::vector<uint8_t> NaaDesignator(const std::string& serial, int64_t dev);
// VMware LUN UUID: characters 18..29 hold the serial.
std::string LunUuid(const std::string& serial, int64_t dev);
// Lower-case hex, two digits per byte.
std::string HexBytes(const std::vector<uint8_t>& bytes);
// "00 83 00 14\n..." sixteen bytes a line, the form sg_inq --inhex reads.
std::string HexDump(const std::vector<uint8_t>& bytes);

}  // namespace symsim
