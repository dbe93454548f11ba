// Names of the snap configs and additional settings the engine reads, as the
// host names them.
#pragma once

namespace vmaxcfg {

// Snap configs (per request, SnapInfo::getSnapConfigInt/String).
constexpr const char kUseSmartRevert[] = "SMCONFIG_NAME_USE_SMART_REVERT";
constexpr const char kWWPNsToUse[] = "SMCONFIG_NAME_WWPNS_TO_USE";
constexpr const char kMaskingViewsToUse[] = "SMCONFIG_NAME_MASKING_VIEWS_TO_USE";
constexpr const char kDoNotUnmapDuringUnmount[] =
    "SMCONFIG_NAME_DO_NOT_UNMAP_DURING_UNMOUNT";
constexpr const char kUseEnginuityConsistencyAssist[] =
    "SMCONFIG_NAME_USE_ENGINUITY_CONSISTENCY_ASSIST";
constexpr const char kDisableSRDFMetroConfig[] = "SMCONFIG_DISABLE_SRDF_METRO_CONFIG";
constexpr const char kDecoupledInstantClone[] = "SMCONFIG_DECOUPLED_INSTANT_CLONE";
constexpr const char kLinkDeviceStorageGroup[] = "SMCONFIG_LINK_DEVICE_STORAGE_GROUP";
constexpr const char kRemoteSnapMA[] = "SMCONFIG_NAME_REMOTE_SNAP_MA";

// Additional settings (section "~Fieldunit", GetRegInt/GetRegStr).
constexpr const char kSettingSmartRevert[] = "bSymmSmartRevert";
constexpr const char kSettingForceUnlink[] = "bSYMCLIForceUnlink";
constexpr const char kSettingVerboseLogging[] = "bSymmVerboseLogging";
constexpr const char kSettingSkipRestoreCleanup[] = "bSkipRestoreCleanup";
constexpr const char kSettingAllowWWPNs[] = "sSymmAllowWWPNs";
constexpr const char kSettingAllowMaskingViews[] = "sSymmAllowMaskingViews";
constexpr const char kSettingMapToAllSgsOfHost[] = "nSymmMapToAllSgsOfHost";
constexpr const char kSettingDetachRetryAttempts[] = "nSymmDetachRetryAttempts";
constexpr const char kSettingDetachRetryWaitSecs[] = "nSymmDetachRetryWaitSecs";
constexpr const char kSettingMountRetryAttempts[] = "nSymmMountRetryAttempts";
constexpr const char kSettingMountRetryWaitSecs[] = "nSymmMountRetryWaitSecs";
constexpr const char kSettingCorrectiveArrayID[] = "sSymmCorrectiveArrayID";
// Target reservation retries when other jobs took the chosen targets.
constexpr const char kSettingReserveRetryAttempts[] = "nSymmReserveRetryAttempts";
constexpr const char kSettingReserveRetryWaitMs[] = "nSymmReserveRetryWaitMs";
constexpr const char kSettingReserveRetryMaxSecs[] = "nSymmReserveRetryMaxSecs";
// Read-only array lookups of one operation that may run at once.
constexpr const char kSettingParallelLookups[] = "nSymmParallelLookups";
// 1 = map into a storage group that also holds source devices of the mount
// when no group reachable from the host holds none.
constexpr const char kSettingAllowMapToSourceSG[] = "nSymmAllowMapToSourceSG";
constexpr const char kSettingRestoreWaitMaxMins[] = "nSymmRestoreWaitMaxMins";

// Defaults of the numeric additional settings.
constexpr int kDefaultDetachRetryAttempts = 5;
constexpr int kDefaultDetachRetryWaitSecs = 10;
constexpr int kDefaultMountRetryAttempts = 3;
constexpr int kDefaultMountRetryWaitSecs = 10;
constexpr int kDefaultReserveRetryAttempts = 100;
constexpr int kDefaultReserveRetryWaitMs = 250;
constexpr int kDefaultReserveRetryMaxSecs = 120;
constexpr int kDefaultParallelLookups = 8;
constexpr int kDefaultRestoreWaitMaxMins = 1440;

// Platform string of the Solutions Enabler home directory.
constexpr const char kSymapiSection[] = "EventManager";
constexpr const char kSymapiHomeDir[] = "SYMAPI_HOME_DIR";

// Base name of the additional-settings section.
constexpr const char kAdditionalSettingsBase[] = "Fieldunit";

// A flag value that turns a feature on; any other value turns it off.
constexpr int kFlagOn = 1;

}  // namespace vmaxcfg
