#include "engine/PZSOVMAX.h"
#include "host/HostServices.h"

namespace {
constexpr unsigned short kVersionMajor = 1;
constexpr unsigned short kVersionMinor = 0;
constexpr unsigned short kVersionPatch = 0;
}  // namespace

PZSO_EXPORT void pzso_version(unsigned short* major, unsigned short* minor,
                              unsigned short* patch) {
  if (!major || !minor || !patch) return;
  *major = kVersionMajor;
  *minor = kVersionMinor;
  *patch = kVersionPatch;
}
