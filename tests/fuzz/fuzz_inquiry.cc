// SCSI inquiry identification over arbitrary device answers.
// Input: byte 0 flags (bit 0 VMware mode, bit 1 standard INQUIRY fails,
// bit 2 page 0x83 fails, bit 3 not a SCSI device, bit 4 an array id
// correction is configured), byte 1 the length of the standard data, then
// the standard data and the page. In VMware mode the rest after byte 0 is
// the name-value text handed over instead of a path.
#include <cctype>
#include <tuple>

#include "hostdev/VMAXUtils.h"
#include "tests/fuzz/FuzzHost.h"
#include "tests/support/FakeHost.h"

namespace {

constexpr const char* kPath = "/dev/sdz";
constexpr uint8_t kVmware = 1, kFailStandard = 2, kFailPage = 4, kNotScsi = 8,
                  kCorrection = 16;
constexpr size_t kVendorLength = 8;
constexpr size_t kProductLength = 16;
constexpr size_t kMaxInquiryBytes = 255;

struct Result {
  bool ok = false;
  std::string vendor, product, symDev;
  std::vector<std::string> ids;
  auto Tie() const { return std::tie(ok, vendor, product, symDev, ids); }
};

Result Inquire(const std::string& spec) {
  Result r;
  r.vendor = r.product = r.symDev = "stale";
  r.ids = {"stale"};
  r.ok = getDeviceInfoBySCSIInquiry(spec, r.vendor, r.product, r.ids, r.symDev);
  return r;
}

void Check(const Result& r, bool vmware) {
  if (!r.ok) return;
  if (r.vendor.size() > kVendorLength || r.product.size() > kProductLength)
    fuzzing::Fail("vendor or product longer than its field", r.vendor + "|" + r.product);
  if (r.ids.size() != 2u && !(vmware && r.ids.size() == 3u))
    fuzzing::Fail("wrong number of candidate array ids", std::to_string(r.ids.size()));
  for (char c : r.symDev)
    if (!isxdigit(static_cast<unsigned char>(c)))
      fuzzing::Fail("device number not hexadecimal", r.symDev);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  testing_host::FakeEnv& host = fuzzing::FreshHost();
  uint8_t flags = data[0];
  bool vmware = flags & kVmware;
  if (flags & kCorrection)
    host.Set("~Fieldunit", "sSymmCorrectiveArrayID", "000197800123:000197800999");
  std::string spec = kPath;
  if (vmware) {
    spec.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  } else {
    size_t standardLength = std::min<size_t>(data[1], size - 2);
    testing_host::FakeScsiDevice dev;
    dev.scsi = !(flags & kNotScsi);
    dev.failStandard = flags & kFailStandard;
    dev.failPage = flags & kFailPage;
    dev.standard.assign(data + 2, data + 2 + standardLength);
    dev.page83.assign(data + 2 + standardLength, data + size);
    host.scsi[kPath] = dev;
  }
  Result first = Inquire(spec);
  Check(first, vmware);

  if (!vmware) {
    // A device that answered more before must not change what this one
    // reads: bytes past its answer are zero, never left over.
    testing_host::FakeScsiDevice full;
    full.standard.assign(kMaxInquiryBytes, 0x5A);
    full.page83.assign(kMaxInquiryBytes, 0xA5);
    host.scsi["/dev/full"] = full;
    Inquire("/dev/full");
    Result again = Inquire(spec);
    if (again.Tie() != first.Tie()) fuzzing::Fail("answer depends on an earlier device", spec);
  }

  testing_host::FakeSnapInfo si;
  std::string symDev;
  std::vector<std::string> ids;
  getDeviceInfo(&si, spec, symDev, ids);
  verifyDeviceBySCSIInquiry(&si, spec, "000197800123", "00A1B");
  return 0;
}
