// Small helpers shared by the VMAXAPI operations: request logging that
// tolerates a missing request, per-request outcomes, and list helpers.
#pragma once

#include <list>
#include <string>

#include "engine/PZSOVMAX.h"
#include "host/SnapInfo.h"
#include "orchestration/VMAXParams.h"

// Logs through a request when there is one.
#define PZ_LOG(si, level, function, ...)                \
  do {                                                  \
    if (si) (si)->log((level), (function), __VA_ARGS__); \
  } while (0)

// Sets a status and clears the request's error.
inline void SetOutcome(PZSO::SnapInfo* si, int status) {
  if (!si) return;
  si->setStatus(status);
  si->setErrorInfo(PZ_ERR_NONE, "");
}

// Sets a status and leaves the error as it stands.
inline void SetStatusOnly(PZSO::SnapInfo* si, int status) {
  if (si) si->setStatus(status);
}

inline int SnapIdOf(const VMAXSnapParam& p) {
  return p.snapInfo ? p.snapInfo->getSMSnapId() : 0;
}

inline std::list<std::string> SourcesOf(const VMAXSnapParamList& l) {
  std::list<std::string> out;
  for (const VMAXSnapParam& p : l.params) out.push_back(p.sourceDevice);
  return out;
}

inline std::list<std::string> TargetsOf(const VMAXSnapParamList& l) {
  std::list<std::string> out;
  for (const VMAXSnapParam& p : l.params) out.push_back(p.targetDevice);
  return out;
}
