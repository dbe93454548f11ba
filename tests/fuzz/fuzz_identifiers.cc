// Device numbers and WWNs. Input: first line `a`, the rest `b`.
// Checks the canonical forms and that the comparisons are symmetric and
// agree with the canonical forms.
#include <cctype>
#include <cstdlib>

#include "hostdev/VMAXUtils.h"
#include "tests/fuzz/FuzzHost.h"
#include "tests/support/FakeHost.h"

namespace {

constexpr size_t kDeviceDigits = 5;
constexpr size_t kPortWWNBytes = 8;
constexpr size_t kDeviceWWNLength = 32;
constexpr size_t kSerialOffset = 8;
constexpr size_t kSerialLength = 12;
constexpr long kLargestDevice = 0xFFFFFFF;

void CheckDevName(const std::string& dev) {
  std::string name = StdDevName(dev);
  if (name.size() < kDeviceDigits) fuzzing::Fail("device name too short", name);
  for (char c : name)
    if (!isxdigit(static_cast<unsigned char>(c)) ||
        islower(static_cast<unsigned char>(c)))
      fuzzing::Fail("device name not upper-case hex", name);
  long value = strtol(dev.c_str(), nullptr, 16);
  if (value > 0 && value <= kLargestDevice && !compareDevs(dev, name))
    fuzzing::Fail("device differs from its canonical name", dev);
}

void CheckWWN(const std::string& wwn, testing_host::FakeSnapInfo* si) {
  std::string bytes = StringToWWN(wwn);
  if (!bytes.empty() && bytes.size() != kPortWWNBytes)
    fuzzing::Fail("port WWN of wrong length", wwn);
  std::string upper, spaced;
  for (char c : wwn) {
    upper += char(toupper(static_cast<unsigned char>(c)));
    spaced += c;
    spaced += ':';
  }
  if (!compareWWNs(wwn, upper) || !compareWWNs(spaced, wwn))
    fuzzing::Fail("WWN differs from its upper-case or colon form", wwn);

  for (PZSO::SnapInfo* request : {static_cast<PZSO::SnapInfo*>(si),
                                  static_cast<PZSO::SnapInfo*>(nullptr)}) {
    std::string serial = "unset", device = "unset";
    bool ok = parseDeviceWWN(request, wwn, serial, device);
    if (ok != (wwn.size() == kDeviceWWNLength))
      fuzzing::Fail("device WWN accepted at a wrong length", wwn);
    if (!ok) {
      if (serial != "unset" || device != "unset")
        fuzzing::Fail("failed parse changed its outputs", wwn);
      continue;
    }
    if (wwn.compare(kSerialOffset, serial.size(), serial) != 0 ||
        serial.size() > kSerialLength)
      fuzzing::Fail("serial is not the WWN's serial field", serial);
    if (device.size() > kDeviceDigits) fuzzing::Fail("device too long", device);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::FreshHost();
  testing_host::FakeSnapInfo si;
  std::string a, b;
  fuzzing::SplitHead(data, size, &a, &b);
  CheckDevName(a);
  CheckDevName(b);
  if (compareDevs(a, b) != compareDevs(b, a))
    fuzzing::Fail("compareDevs is not symmetric", a + "|" + b);
  if (compareWWNs(a, b) != compareWWNs(b, a))
    fuzzing::Fail("compareWWNs is not symmetric", a + "|" + b);
  CheckWWN(a, &si);
  CheckWWN(b, &si);
  if (ToLower(b).size() != b.size()) fuzzing::Fail("ToLower changed the length", b);
  return 0;
}
