// Engine configuration, read from snap configs and additional settings.
#pragma once

#include <list>
#include <string>

struct VMAXSnapConfig {
  bool bSymmSmartRevert = false;
  bool bUseEnginuityConsistencyAssist = false;
  bool bDoNotUnmapDuringUnmount = false;
  bool bSYMCLIForceUnlink = false;
  bool bDisableSRDFMetroConfig = false;
  bool bDecoupledInstantClone = false;
  bool bReserved = false;  // no reader fills it
  bool bSkipRestoreCleanup = false;
  bool bSymmVerboseLogging = false;
  std::list<std::string> allowWWPNs;
  std::list<std::string> allowMaskingViews;
  std::string symapiHomeDir;
  std::string linkDeviceStorageGroup;

  // Restores the flag defaults.
  void initialize() {
    bSymmSmartRevert = bUseEnginuityConsistencyAssist = false;
    bDoNotUnmapDuringUnmount = bSYMCLIForceUnlink = false;
    bDisableSRDFMetroConfig = bDecoupledInstantClone = false;
    bReserved = bSkipRestoreCleanup = bSymmVerboseLogging = false;
  }
};
