// The settings file parser. What it accepts, written out again, parses to
// the same settings.
#include "hostruntime/Settings.h"
#include "tests/fuzz/FuzzHost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  hostrt::IniFile ini;
  std::string error;
  if (!ini.Parse(text, &error)) {
    if (error.empty()) fuzzing::Fail("refused without a reason", text);
    return 0;
  }
  std::string written = ini.Serialize();
  hostrt::IniFile again;
  if (!again.Parse(written, &error))
    fuzzing::Fail("written settings do not parse", written + "|" + error);
  if (again.sections() != ini.sections())
    fuzzing::Fail("written settings parse differently", written);
  for (const auto& s : ini.sections())
    for (const auto& kv : s.second) {
      std::string value;
      if (!ini.Get(s.first, kv.first, &value) || value != kv.second)
        fuzzing::Fail("a parsed setting cannot be read", kv.first);
    }
  return 0;
}
