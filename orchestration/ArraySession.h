// The VMAXAPI of one array pass, and the Solutions Enabler version gate
// applied when it starts.
#pragma once

#include <memory>
#include <string>

#include "host/HostConstants.h"
#include "host/SnapInfo.h"
#include "orchestration/VMAXAPI.h"

// Lowest packed Solutions Enabler version accepted (9.0.0.0).
constexpr unsigned long kMinSEVersion = 9000000;

// True when the installed Solutions Enabler is 9.0 or later. On failure the
// reason is logged and, for a non-zero failStatus, set as the error.
bool verifySEVersion(VMAXAPI& api, PZSO::SnapInfo* si,
                     PZSO::SnapStatus failStatus);

// A VMAXAPI bound to the array of `si`'s details, configured and past the
// version gate; null (with the reason logged) otherwise.
std::shared_ptr<VMAXAPI> initArrayParams(PZSO::SnapInfo* si,
                                         PZSO::PZOSUtil* util,
                                         std::string& arrayId,
                                         PZSO::SnapStatus failStatus);
