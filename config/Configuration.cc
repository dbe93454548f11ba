// The engine configuration: snap configs of the request first, then the
// host's additional settings, which override them.
#include <cstring>
#include <vector>

#include "common/ConfigKeys.h"
#include "config/VMAXConfig.h"
#include "common/Vocabulary.h"
#include "host/HostServices.h"

namespace {

constexpr int kUnsetInt = -1;
constexpr size_t kSnapConfigBufferSize = 1024;
constexpr int kDebugFound = 2;

constexpr char kQuote = '"';
constexpr char kEscape = '\\';
constexpr char kSeparator = ',';

void ReadConfigFlag(PZSO::SnapInfo* si, const char* key, bool& flag) {
  int value = kUnsetInt;
  si->getSnapConfigInt(key, &value);
  if (value != 0)
    si->log(LOG_DETAIL, "readSnapConfigs", "Read snap config [%s = %d]", key, value);
  flag = value == vmaxcfg::kFlagOn;
}

std::string ReadConfigString(PZSO::SnapInfo* si, const char* key) {
  char buffer[kSnapConfigBufferSize];
  memset(buffer, 0, sizeof buffer);
  int size = int(kSnapConfigBufferSize - 1);
  si->getSnapConfigString(key, buffer, &size);
  buffer[kSnapConfigBufferSize - 1] = '\0';
  std::string value(buffer);
  if (!value.empty())
    si->log(LOG_DETAIL, "readSnapConfigs", "Read snap config [%s = '%s']", key,
            value.c_str());
  return value;
}

void ReadSettingFlag(const char* key, bool& flag) {
  int value = kUnsetInt;
  if (GetRegInt(nullptr, key, &value)) flag = value == vmaxcfg::kFlagOn;
}

}  // namespace

bool readSnapConfigs(PZSO::SnapInfo* si, VMAXSnapConfig& cfg) {
  if (!si) {
    engineDebug().DebugLvl(DBG_ERROR, "readSnapConfigs",
                           "Invalid Snap Info object received.");
    return false;
  }
  ReadConfigFlag(si, vmaxcfg::kUseSmartRevert, cfg.bSymmSmartRevert);

  std::string wwpns = ReadConfigString(si, vmaxcfg::kWWPNsToUse);
  if (!TokenizeCSVString(wwpns, cfg.allowWWPNs))
    engineDebug().DebugLvl(DBG_ERROR, "readSnapConfigs",
                           "Failed to parse snap config AllowWWPNs [%s]", wwpns.c_str());
  std::string views = ReadConfigString(si, vmaxcfg::kMaskingViewsToUse);
  if (!TokenizeCSVString(views, cfg.allowMaskingViews))
    engineDebug().DebugLvl(DBG_ERROR, "readSnapConfigs",
                           "Failed to parse snap config AllowMaskingViews [%s]",
                           views.c_str());

  ReadConfigFlag(si, vmaxcfg::kDoNotUnmapDuringUnmount, cfg.bDoNotUnmapDuringUnmount);
  ReadConfigFlag(si, vmaxcfg::kUseEnginuityConsistencyAssist,
                 cfg.bUseEnginuityConsistencyAssist);
  ReadConfigFlag(si, vmaxcfg::kDisableSRDFMetroConfig, cfg.bDisableSRDFMetroConfig);
  ReadConfigFlag(si, vmaxcfg::kDecoupledInstantClone, cfg.bDecoupledInstantClone);
  cfg.linkDeviceStorageGroup = ReadConfigString(si, vmaxcfg::kLinkDeviceStorageGroup);
  return true;
}

bool readRegistryKeys(PZSO::SnapInfo* si, VMAXSnapConfig& cfg) {
  ReadSettingFlag(vmaxcfg::kSettingSmartRevert, cfg.bSymmSmartRevert);
  ReadSettingFlag(vmaxcfg::kSettingForceUnlink, cfg.bSYMCLIForceUnlink);
  ReadSettingFlag(vmaxcfg::kSettingVerboseLogging, cfg.bSymmVerboseLogging);
  ReadSettingFlag(vmaxcfg::kSettingSkipRestoreCleanup, cfg.bSkipRestoreCleanup);

  struct ListSetting {
    const char* key;
    std::list<std::string>* list;
  };
  const ListSetting lists[] = {
      {vmaxcfg::kSettingAllowWWPNs, &cfg.allowWWPNs},
      {vmaxcfg::kSettingAllowMaskingViews, &cfg.allowMaskingViews},
  };
  for (const ListSetting& s : lists) {
    std::string value;
    if (!GetRegStr(nullptr, s.key, value)) continue;
    if (!TokenizeCSVString(value, *s.list)) {
      if (si)
        si->log(LOG_FAILURE, "readRegistryKeys",
                "Failed to parse additional setting value [%s]", value.c_str());
      else
        engineDebug().DebugLvl(DBG_ERROR, "readRegistryKeys",
                               "Failed to parse additional setting value [%s]",
                               value.c_str());
      return false;
    }
  }

  std::string home;
  if (PZPlatformInfo::getString(vmaxcfg::kSymapiSection, vmaxcfg::kSymapiHomeDir,
                                &home)) {
    cfg.symapiHomeDir = home;
    if (si)
      si->log(LOG_DETAIL, "readRegistryKeys", "Additional setting found [%s/%s] = [%s]",
              vmaxcfg::kSymapiSection, vmaxcfg::kSymapiHomeDir, home.c_str());
  }
  return true;
}

bool TokenizeCSVString(const std::string& text, std::list<std::string>& out) {
  if (text.empty()) return true;
  // Split before touching `out`, so a bad value keeps the previous list.
  std::vector<std::string> tokens;
  if (!CWvString::Tokenize(text, kQuote, kQuote, kEscape, kSeparator, tokens) ||
      tokens.empty()) {
    engineDebug().DebugLvl(DBG_ERROR, "TokenizeCSVString",
                           "Failed to parse CSV string [%s]", text.c_str());
    return false;
  }
  out.clear();
  std::string logged;
  for (const std::string& t : tokens) {
    out.push_back(t);
    logged += t + ", ";
  }
  engineDebug().DebugLvl(kDebugFound, "TokenizeCSVString", "Parsed CSV string [%s]",
                         logged.c_str());
  return true;
}
