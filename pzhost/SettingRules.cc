#include "pzhost/SettingRules.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "array/NameSyntax.h"
#include "common/ConfigKeys.h"
#include "hostruntime/DatabaseBackend.h"
#include "hostruntime/PosixEnv.h"
#include "hostruntime/Settings.h"
#include "pzhost/Home.h"

namespace pzhost {

namespace {

enum class Form {
  kInteger,       // decimal integer within [min, max]
  kFlag,          // 0 or 1
  kDecimal,       // decimal number within [min, max]
  kText,          // any one-line text, not empty
  kToolDir,       // a Solutions Enabler home as the tools take it
  kBackend,       // sqlite or postgresql
  kGroupName,     // storage group or masking view
  kGroupNames,    // comma-separated masking views
  kInitiators,    // comma-separated WWPNs or iSCSI names
  kArrayIdRule,   // "<array id>:<array id>"
};

struct Rule {
  const char* section;
  const char* key;
  Form form;
  long long min = 0;
  long long max = 0;
};

constexpr long long kMaxLogLevel = 4;
constexpr long long kMinLogLevel = -1;
constexpr long long kMaxRequestLogLevel = 2;
constexpr long long kSecondsPerWeek = 7 * 24 * 3600;
constexpr long long kMsPerSecond = 1000;
constexpr long long kMinutesPerWeek = 7 * 24 * 60;
constexpr long long kMaxRetryAttempts = 100;
constexpr long long kMaxRetryWaitSecs = 3600;
constexpr long long kMaxSleepScale = 1000;
constexpr const char* kFieldunit = hostrt::kAdditionalSettings;
constexpr char kListSeparator = ',';
constexpr char kQuote = '"';
constexpr char kArrayIdSeparator = ':';

const Rule kSettings[] = {
    // The host.
    {kSectionHost, kKeySimulatedHost, Form::kText},
    {kSectionHost, kKeyClientName, Form::kText},
    {kSectionHost, kKeyPhysicalMachine, Form::kText},
    {kSectionHost, kKeySleepScale, Form::kDecimal, 0, kMaxSleepScale},
    {kSectionHost, kKeyPluginPath, Form::kText},
    {kSectionHost, kKeyDatabasePath, Form::kText},
    {kSectionHost, "debugLogLevel", Form::kInteger, kMinLogLevel, kMaxLogLevel},
    {kSectionHost, "requestLogLevel", Form::kInteger, 0, kMaxRequestLogLevel},
    {kSectionHost, "remoteTimeoutMs", Form::kInteger, 1, kSecondsPerWeek * kMsPerSecond},
    {kSectionHost, "platformType", Form::kInteger, 0, INT_MAX},
    {kSectionHost, "sysRoot", Form::kText},
    {kSectionEventManager, kKeySymapiHome, Form::kToolDir},
    {kSectionEventManager, "dEVLOGDIR", Form::kText},
    {hostrt::kDatabaseSection, hostrt::kDatabaseBackendKey, Form::kBackend},
    {hostrt::kDatabaseSection, hostrt::kDatabaseConninfoKey, Form::kText},
    {hostrt::kDatabaseSection, hostrt::kDatabasePassfileKey, Form::kText},
    {kFieldunit, "nSymCliTimeoutMs", Form::kInteger, 1, kSecondsPerWeek * kMsPerSecond},
    {kFieldunit, "nSymCliTimeoutSecs", Form::kInteger, 1, kSecondsPerWeek},
    {kFieldunit, "nHostLogWriterLevel", Form::kInteger, kMinLogLevel, kMaxLogLevel},
    // The engine.
    {kFieldunit, vmaxcfg::kSettingSmartRevert, Form::kFlag},
    {kFieldunit, vmaxcfg::kSettingForceUnlink, Form::kFlag},
    {kFieldunit, vmaxcfg::kSettingVerboseLogging, Form::kFlag},
    {kFieldunit, vmaxcfg::kSettingSkipRestoreCleanup, Form::kFlag},
    {kFieldunit, vmaxcfg::kSettingAllowWWPNs, Form::kInitiators},
    {kFieldunit, vmaxcfg::kSettingAllowMaskingViews, Form::kGroupNames},
    {kFieldunit, vmaxcfg::kSettingMapToAllSgsOfHost, Form::kFlag},
    {kFieldunit, vmaxcfg::kSettingDetachRetryAttempts, Form::kInteger, 1,
     kMaxRetryAttempts},
    {kFieldunit, vmaxcfg::kSettingDetachRetryWaitSecs, Form::kInteger, 1,
     kMaxRetryWaitSecs},
    {kFieldunit, vmaxcfg::kSettingMountRetryAttempts, Form::kInteger, 1,
     kMaxRetryAttempts},
    {kFieldunit, vmaxcfg::kSettingMountRetryWaitSecs, Form::kInteger, 1,
     kMaxRetryWaitSecs},
    {kFieldunit, vmaxcfg::kSettingRestoreWaitMaxMins, Form::kInteger, 1,
     kMinutesPerWeek},
    {kFieldunit, vmaxcfg::kSettingCorrectiveArrayID, Form::kArrayIdRule},
};

const Rule kSnapConfigs[] = {
    {"", vmaxcfg::kUseSmartRevert, Form::kFlag},
    {"", vmaxcfg::kWWPNsToUse, Form::kInitiators},
    {"", vmaxcfg::kMaskingViewsToUse, Form::kGroupNames},
    {"", vmaxcfg::kDoNotUnmapDuringUnmount, Form::kFlag},
    {"", vmaxcfg::kUseEnginuityConsistencyAssist, Form::kFlag},
    {"", vmaxcfg::kDisableSRDFMetroConfig, Form::kFlag},
    {"", vmaxcfg::kDecoupledInstantClone, Form::kFlag},
    {"", vmaxcfg::kLinkDeviceStorageGroup, Form::kGroupName},
    {"", vmaxcfg::kRemoteSnapMA, Form::kText},
};

bool ParseInteger(const std::string& text, long long* value) {
  if (text.empty() || (text[0] != '-' && !isdigit((unsigned char)text[0])))
    return false;
  errno = 0;
  char* end = nullptr;
  *value = strtoll(text.c_str(), &end, 10);
  return errno == 0 && end != text.c_str() && *end == '\0';
}

// The items of a comma-separated list, each without blanks at its ends and
// without the double quotes the engine's reader takes off.
std::vector<std::string> ListItems(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(kListSeparator, start);
    std::string item = text.substr(start, comma == std::string::npos
                                              ? std::string::npos
                                              : comma - start);
    size_t first = item.find_first_not_of(" \t");
    size_t last = item.find_last_not_of(" \t");
    item = first == std::string::npos ? "" : item.substr(first, last - first + 1);
    if (item.size() >= 2 && item.front() == kQuote && item.back() == kQuote)
      item = item.substr(1, item.size() - 2);
    items.push_back(item);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

bool CheckItems(const std::string& value, namesyntax::NameKind kind,
                const char* what, std::string* why) {
  for (const std::string& item : ListItems(value)) {
    if (namesyntax::IsValid(kind, item)) continue;
    *why = "[" + namesyntax::Printable(item) + "] is not " + what;
    return false;
  }
  return true;
}

bool CheckValue(const Rule& rule, const std::string& value, std::string* why) {
  using namesyntax::NameKind;
  switch (rule.form) {
    case Form::kInteger: {
      long long n = 0;
      if (!ParseInteger(value, &n) || n < rule.min || n > rule.max) {
        *why = "an integer from " + std::to_string(rule.min) + " to " +
               std::to_string(rule.max);
        return false;
      }
      return true;
    }
    case Form::kFlag:
      if (value == "0" || value == "1") return true;
      *why = "1 (on) or 0 (off)";
      return false;
    case Form::kDecimal: {
      errno = 0;
      char* end = nullptr;
      double d = strtod(value.c_str(), &end);
      if (value.empty() || errno != 0 || *end != '\0' || !std::isfinite(d) ||
          d < double(rule.min) || d > double(rule.max)) {
        *why = "a number from " + std::to_string(rule.min) + " to " +
               std::to_string(rule.max);
        return false;
      }
      return true;
    }
    case Form::kText:
      if (!value.empty()) return true;
      *why = "not empty (config unset removes a setting)";
      return false;
    case Form::kToolDir:
      if (namesyntax::IsToolDirectory(value)) return true;
      *why = "a directory without quotes, backslashes or control characters";
      return false;
    case Form::kBackend:
      if (value == hostrt::kSqliteBackendName || value == hostrt::kPostgresqlBackendName)
        return true;
      *why = std::string(hostrt::kSqliteBackendName) + " or " +
             hostrt::kPostgresqlBackendName;
      return false;
    case Form::kGroupName:
      if (namesyntax::IsGroupName(value)) return true;
      *why = "a storage group name: 1 to 64 letters, digits and _ - . : not "
             "starting with -";
      return false;
    case Form::kGroupNames:
      return CheckItems(value, NameKind::kMaskingView,
                        "a masking view name (1 to 64 letters, digits and _ - . "
                        ": not starting with -)",
                        why);
    case Form::kInitiators:
      return CheckItems(value, NameKind::kInitiator,
                        "a WWPN (16 hex digits) or an iSCSI name (iqn., eui., naa.)",
                        why);
    case Form::kArrayIdRule: {
      size_t colon = value.find(kArrayIdSeparator);
      if (colon != std::string::npos &&
          namesyntax::IsArraySerial(value.substr(0, colon)) &&
          namesyntax::IsArraySerial(value.substr(colon + 1)))
        return true;
      *why = "FROM:TO, two array ids of letters and digits";
      return false;
    }
  }
  return false;
}

template <size_t N>
SettingCheck Check(const Rule (&rules)[N], const std::string& section,
                   const std::string& key, const std::string& value,
                   const std::string& label, std::string* why) {
  std::string known;
  for (const Rule& rule : rules) {
    if (section != rule.section) continue;
    if (key == rule.key) {
      std::string must;
      if (CheckValue(rule, value, &must)) return SettingCheck::kValid;
      *why = label + " is " + must + ", not [" + namesyntax::Printable(value) + "]";
      return SettingCheck::kInvalid;
    }
    known += (known.empty() ? "" : ", ") + std::string(rule.key);
  }
  *why = label + " is read by nothing" +
         (known.empty() ? std::string() : "; known keys: " + known);
  return SettingCheck::kUnknown;
}

}  // namespace

SettingCheck CheckSetting(const std::string& section, const std::string& key,
                          const std::string& value, std::string* why) {
  std::string label = "[" + section + "] " + key;
  // Every key of this section names a backup host; its value is the
  // command line that reaches it.
  if (section == hostrt::kRemoteClientsSection) {
    if (!value.empty()) return SettingCheck::kValid;
    *why = label + " is the command line that reaches that host, not empty";
    return SettingCheck::kInvalid;
  }
  bool sectionKnown = false;
  for (const Rule& rule : kSettings)
    if (section == rule.section) sectionKnown = true;
  if (!sectionKnown) {
    std::string sections;
    for (const Rule& rule : kSettings)
      if (sections.find(std::string("[") + rule.section + "]") == std::string::npos)
        sections += (sections.empty() ? "" : ", ") + std::string("[") + rule.section + "]";
    *why = "section [" + section + "] is read by nothing; known sections: " +
           sections + ", [" + hostrt::kRemoteClientsSection + "]";
    return SettingCheck::kUnknown;
  }
  return Check(kSettings, section, key, value, label, why);
}

SettingCheck CheckSnapConfig(const std::string& key, const std::string& value,
                             std::string* why) {
  return Check(kSnapConfigs, "", key, value, "snap config " + key, why);
}

}  // namespace pzhost
