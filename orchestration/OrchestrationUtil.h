// Small helpers shared by the VMAXAPI operations: request logging that
// tolerates a missing request, per-request outcomes, and list helpers.
#pragma once

#include <list>
#include <string>

#include "config/VMAXConfig.h"
#include "host/SnapInfo.h"
#include "common/VMAXParams.h"
#include "common/Vocabulary.h"

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

// An additional setting of at least 1, or its default when absent.
inline int PositiveSetting(const char* key, int fallback) {
  int value = fallback;
  GetRegInt(nullptr, key, &value);
  return value < 1 ? 1 : value;
}
