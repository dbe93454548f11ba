// The name checks of the command layer: a name outside its syntax is logged
// on the request and its command is not run.
#include "array/CommandRunner.h"
#include "array/NameSyntax.h"

bool CheckName(PZSO::SnapInfo* si, const char* function,
               namesyntax::NameKind kind, const std::string& value) {
  if (namesyntax::IsValid(kind, value)) return true;
  CliLog(si, LOG_FAILURE, function, "Invalid %s [%s], command not run",
         namesyntax::KindText(kind), namesyntax::Printable(value).c_str());
  return false;
}

bool CheckNames(PZSO::SnapInfo* si, const char* function,
                namesyntax::NameKind kind,
                const std::list<std::string>& values) {
  for (const std::string& v : values)
    if (!CheckName(si, function, kind, v)) return false;
  return true;
}

bool CheckSnapList(PZSO::SnapInfo* si, const char* function,
                   const VMAXSnapParamList& list, bool withTargets) {
  using namesyntax::NameKind;
  if (!CheckName(si, function, NameKind::kArraySerial, list.serial))
    return false;
  if (!list.params.empty() &&
      !CheckName(si, function, NameKind::kSnapshotName,
                 list.params.front().snapUid))
    return false;
  for (const VMAXSnapParam& p : list.params) {
    if (!CheckName(si, function, NameKind::kDeviceNumber, p.sourceDevice))
      return false;
    if (withTargets &&
        !CheckName(si, function, NameKind::kDeviceNumber, p.targetDevice))
      return false;
  }
  return true;
}
