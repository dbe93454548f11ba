// Configuration lookups and snapshot metadata.
#pragma once

#include <list>
#include <string>

#include "common/AdditionalSettings.h"
#include "common/VMAXSnapConfig.h"
#include "host/HostConstants.h"
#include "host/SnapInfo.h"
#include "common/VMAXParams.h"

// Snap configs, then additional settings (which override).
bool readSnapConfigs(PZSO::SnapInfo* si, VMAXSnapConfig& cfg);
bool readRegistryKeys(PZSO::SnapInfo* si, VMAXSnapConfig& cfg);
bool TokenizeCSVString(const std::string& text, std::list<std::string>& out);

// Snapshot unique-identifier metadata: "serial|device|name|".
bool parseSnapUidMetadata(const std::string& value, VMAXMetadata& md);
bool getSnapMetadata(PZSO::SnapInfo* si, PZSO::SnapStatus failStatus, int type,
                     VMAXMetadata& md);
std::string getStorageArrayId(PZSO::SnapInfo* si);
std::string getMountSnapId(PZSO::SnapInfo* si);
bool GetArrayDetails(PZSO::SnapInfo* si, ArrayDetails& details);
