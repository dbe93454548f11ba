// The host's additional settings of the engine (section "~Fieldunit", or
// "~Fieldunit/<instance>"), read by every layer.
#include "common/AdditionalSettings.h"

#include "common/ConfigKeys.h"
#include "common/Vocabulary.h"
#include "host/HostServices.h"

namespace {

constexpr int kDebugFound = 2;

}  // namespace

bool GetRegInt(const char* instance, const char* name, int* value) {
  if (!name || !value) return false;
  std::string section =
      PZPlatformInfo::getSectionName(vmaxcfg::kAdditionalSettingsBase, instance);
  int found = 0;
  if (!PZPlatformInfo::getRegInt(section.c_str(), name, &found)) {
    // Present but not a number: say so rather than silently ignore it.
    std::string text;
    if (PZPlatformInfo::getString(section.c_str(), name, &text))
      engineDebug().DebugLvl(DBG_ERROR, "GetRegInt",
                             "Additional setting [%s/%s] value [%s] is not a number",
                             section.c_str(), name, text.c_str());
    return false;
  }
  *value = found;
  engineDebug().DebugLvl(kDebugFound, "GetRegInt", "Additional setting found [%s/%s] = [%d]",
                         section.c_str(), name, found);
  return true;
}

bool GetRegStr(const char* instance, const char* name, std::string& value) {
  if (!name) return false;
  std::string section =
      PZPlatformInfo::getSectionName(vmaxcfg::kAdditionalSettingsBase, instance);
  std::string found;
  if (!PZPlatformInfo::getString(section.c_str(), name, &found)) return false;
  value = found;
  engineDebug().DebugLvl(kDebugFound, "GetRegStr", "Additional setting found [%s/%s] = [%s]",
                         section.c_str(), name, found.c_str());
  return true;
}
