#include "pzhost/Inquiry.h"
#include "pzhost/Output.h"

#include <cstdio>
#include <vector>

#include "host/PzDeviceTree.h"

namespace pzhost {

namespace {

constexpr int kAllocationLength = 0xFF;
constexpr int kCdbLength = 6;
constexpr int kTimeoutSecs = 10;
constexpr unsigned char kInquiryOpcode = 0x12;
constexpr unsigned char kEvpdBit = 0x01;
constexpr unsigned char kPageDeviceId = 0x83;
// Standard data: T10 vendor, product and the array device number.
constexpr size_t kVendorOffset = 8, kVendorLength = 8;
constexpr size_t kProductOffset = 16, kProductLength = 16;
constexpr size_t kDeviceOffset = 132, kDeviceLength = 4;
// Device Identification page: the array serial as hex of these bytes.
constexpr size_t kSerialOffset = 12, kSerialLength = 6;

std::string Text(const std::vector<unsigned char>& data, size_t offset,
                 size_t length) {
  std::string out;
  for (size_t i = offset; i < offset + length && i < data.size(); ++i) {
    if (data[i] == 0) break;
    out += char(data[i]);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string Hex(const std::vector<unsigned char>& data, size_t offset,
                size_t length) {
  std::string out;
  char two[3];
  for (size_t i = offset; i < offset + length && i < data.size(); ++i) {
    snprintf(two, sizeof two, "%02x", data[i]);
    out += two;
  }
  return out;
}

bool Send(PzDeviceScsiIface* scsi, bool evpd, std::vector<unsigned char>* data,
          std::string* error) {
  unsigned char cdb[kCdbLength] = {kInquiryOpcode,
                                   evpd ? kEvpdBit : (unsigned char)0,
                                   evpd ? kPageDeviceId : (unsigned char)0, 0,
                                   (unsigned char)kAllocationLength, 0};
  data->assign(kAllocationLength, 0);
  CWvError e;
  int n = scsi->sendCDB(cdb, kCdbLength, data->data(), int(data->size()), 0,
                        SCSI_DIR_READ, 0, 0, kTimeoutSecs, &e);
  if (n < 0) {
    if (error) *error = e.text().empty() ? "INQUIRY failed" : e.text();
    return false;
  }
  data->resize(size_t(n));
  return true;
}

}  // namespace

bool InquireDevice(const std::string& path, InquiryFacts* facts,
                   std::string* error) {
  *facts = InquiryFacts();
  CWvError e;
  std::shared_ptr<PzDevice> device = PzDeviceTree::getDevice(path, &e);
  if (!device) {
    if (error) *error = e.text().empty() ? "cannot open " + path : e.text();
    return false;
  }
  PzDeviceScsiIface* scsi = device->getInterface("PzDeviceScsiIface");
  if (!scsi) {
    if (error) *error = path + " is not a SCSI device";
    return false;
  }
  std::vector<unsigned char> standard, page;
  if (!Send(scsi, false, &standard, error)) return false;
  facts->vendor = Text(standard, kVendorOffset, kVendorLength);
  facts->product = Text(standard, kProductOffset, kProductLength);
  facts->device = Text(standard, kDeviceOffset, kDeviceLength);
  // Not every device has the page; vendor and product still stand.
  if (Send(scsi, true, &page, nullptr))
    facts->serial = Hex(page, kSerialOffset, kSerialLength);
  return true;
}

std::string DescribeInquiry(const InquiryFacts& f) {
  std::string s = "vendor " + f.vendor + ", product " + f.product;
  if (!f.serial.empty()) s += ", array " + f.serial;
  if (!f.device.empty()) s += ", device " + DeviceNumber(f.device);
  return s;
}

}  // namespace pzhost
