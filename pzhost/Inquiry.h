// What SCSI INQUIRY reads on a host device, for people: vendor, product,
// array serial and array device number (through the runtime's SCSI).
#pragma once

#include <string>

namespace pzhost {

struct InquiryFacts {
  std::string vendor;
  std::string product;
  std::string serial;  // from the Device Identification page
  std::string device;  // array device number as the device reports it
};

bool InquireDevice(const std::string& path, InquiryFacts* facts,
                   std::string* error);
std::string DescribeInquiry(const InquiryFacts& facts);

}  // namespace pzhost
