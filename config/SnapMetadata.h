// Solutions Enabler version gate applied when an array pass starts.
#pragma once

#include "host/HostConstants.h"
#include "host/SnapInfo.h"

class VMAXAPI;

// Lowest packed Solutions Enabler version accepted (9.0.0.0).
constexpr unsigned long kMinSEVersion = 9000000;

// True when the installed Solutions Enabler is 9.0 or later. On failure the
// reason is logged and, for a non-zero failStatus, set as the error.
bool verifySEVersion(VMAXAPI& api, PZSO::SnapInfo* si,
                     PZSO::SnapStatus failStatus);
