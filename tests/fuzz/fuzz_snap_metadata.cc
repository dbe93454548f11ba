// The snapshot unique-identifier metadata ("serial|device|name|").
// What a parse yields are fields of the text; a refused or short value
// leaves the record as it was; a value written from three plain fields
// reads back to them.
#include "config/VMAXConfig.h"
#include "tests/fuzz/FuzzHost.h"
#include "tests/support/FakeHost.h"

namespace {

constexpr int kUidMetadata = 6;
constexpr PZSO::SnapStatus kFailStatus = PZSO::SnapStatus(2);

bool SameRecord(const VMAXMetadata& a, const VMAXMetadata& b) {
  return a.arraySerial == b.arraySerial && a.sourceDevice == b.sourceDevice &&
         a.snapName == b.snapName;
}

void CheckField(const std::string& field, const std::string& text) {
  if (field == "unset") return;
  if (field.find('|') != std::string::npos || text.find(field) == std::string::npos)
    fuzzing::Fail("field is not a piece of the value", field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::FreshHost();
  std::string text(reinterpret_cast<const char*>(data), size);
  VMAXMetadata md;
  md.arraySerial = md.sourceDevice = md.snapName = "unset";
  const VMAXMetadata before = md;
  bool ok = parseSnapUidMetadata(text, md);
  if (text.empty() && (ok || !SameRecord(md, before)))
    fuzzing::Fail("empty value accepted", text);
  if (!ok && !SameRecord(md, before))
    fuzzing::Fail("refused value changed the record", text);
  CheckField(md.arraySerial, text);
  CheckField(md.sourceDevice, text);
  CheckField(md.snapName, text);

  // Three fields from the input, written the way prepare writes them.
  std::string fields[3];
  size_t n = 0;
  for (char c : text) {
    if (c == '|' || c == '\0') continue;
    if (c == '\n' && n < 2) {
      ++n;
      continue;
    }
    fields[n] += c;
  }
  if (!fields[0].empty() && !fields[1].empty() && !fields[2].empty()) {
    std::string value = fields[0] + "|" + fields[1] + "|" + fields[2] + "|";
    VMAXMetadata back;
    if (!parseSnapUidMetadata(value, back) || back.arraySerial != fields[0] ||
        back.sourceDevice != fields[1] || back.snapName != fields[2])
      fuzzing::Fail("written metadata does not read back", value);
  }

  testing_host::FakeSnapInfo si;
  si.metadata[kUidMetadata] = text;
  VMAXMetadata viaRequest;
  bool got = getSnapMetadata(&si, kFailStatus, kUidMetadata, viaRequest);
  if (!got && si.errorCode == 0)
    fuzzing::Fail("failed metadata read without an error on the request", text);
  getStorageArrayId(&si);
  return 0;
}
