// The SCSI identification data a host reads from a simulated array device:
// standard INQUIRY data and the Device Identification VPD page (0x83).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace symsim {

constexpr uint8_t kPageDeviceId = 0x83;

// Standard INQUIRY data of `dev` on the array `serial` (12 decimal digits)
// with microcode such as "5978.669.669".
std::vector<uint8_t> StandardInquiry(const std::string& serial,
                                     const std::string& microcode, int64_t dev);
// Device Identification page: one NAA-6 designator (EMC OUI, serial as
// hex digits, "S" and the five device characters).
std::vector<uint8_t> DeviceIdPage(const std::string& serial, int64_t dev);
// The 16 designator bytes, also the device WWN.
std::vector<uint8_t> NaaDesignator(const std::string& serial, int64_t dev);
// VMware LUN UUID: characters 18..29 hold the serial.
std::string LunUuid(const std::string& serial, int64_t dev);
// Lower-case hex, two digits per byte.
std::string HexBytes(const std::vector<uint8_t>& bytes);
// "00 83 00 14\n..." sixteen bytes a line, the form sg_inq --inhex reads.
std::string HexDump(const std::vector<uint8_t>& bytes);

}  // namespace symsim
