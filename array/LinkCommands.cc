// Linking SnapVX snapshots to target devices and back (symsnapvx).
#include <string>

#include "array/ArrayAPI_CLI.h"
#include "array/CommandRunner.h"
#include "array/NameSyntax.h"
#include "array/SymcliTable.h"
#include "hostdev/VMAXUtils.h"

namespace {
constexpr int kLinkedTargetColumn = 0;
constexpr int kLinkedSourceColumn = 1;
}  // namespace

bool ArrayAPI_CLI::RunLinkCommand(VMAXSnapParamList& list, bool link) {
  const char* kFn = link ? "LinkTarget" : "UnlinkTarget";
  if (list.params.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "No devices given for array [%s]",
           list.serial.c_str());
    return false;
  }
  if (!CheckSnapList(snapInfo, kFn, list, true)) return false;
  const std::string& name = list.params.front().snapUid;
  std::string content, devices;
  for (const VMAXSnapParam& p : list.params) {
    content += p.sourceDevice + " " + p.targetDevice + "\n";
    devices += p.sourceDevice + ":" + p.targetDevice + " ,";
  }
  CliLog(snapInfo, LOG_DETAIL, kFn, "snapshot [%s] devices [%s]", name.c_str(),
         devices.c_str());
  std::string file;
  if (!WriteDeviceFile(kFn, content, file)) return false;
  const char* format;
  if (link) {
    format = list.decoupledClone
                 ? " \"%s\" -sid %s -file %s -snapshot_name %s link -copy "
                   "-noprompt"
                 : " \"%s\" -sid %s -file %s -snapshot_name %s link -noprompt";
  } else {
    format = config.bSYMCLIForceUnlink
                 ? " \"%s\" -sid  %s -file %s -snapshot_name %s unlink "
                   "-symforce -noprompt"
                 : " \"%s\" -sid %s -file %s -snapshot_name %s unlink "
                   "-noprompt";
  }
  std::string cmd =
      FXString::Format(format, Tool(kToolSymsnapvx).c_str(),
                       list.serial.c_str(), file.c_str(), name.c_str());
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, false);
  command.Run(cmd);
  bool ok = command.succeeded();
  if (link) {
    if (ok)
      CliLog(snapInfo, LOG_PROGRESS, kFn,
             "Successfully link snapshot [%s] for devices [%s]", name.c_str(),
             devices.c_str());
    else
      CliLog(snapInfo, LOG_FAILURE, kFn, "Failed to link snapshot [%s]",
             name.c_str());
  } else {
    if (ok)
      CliLog(snapInfo, LOG_PROGRESS, kFn,
             "Successfully unlinked snapshot [%s] for devices [%s]",
             name.c_str(), devices.c_str());
    else
      CliLog(snapInfo, LOG_FAILURE, kFn,
             "Failed to unlink snapshot [%s] for devices", name.c_str());
  }
  return ok;
}

bool ArrayAPI_CLI::LinkTarget(VMAXSnapParamList& list) {
  return RunLinkCommand(list, true);
}

bool ArrayAPI_CLI::UnlinkTarget(VMAXSnapParamList& list) {
  return RunLinkCommand(list, false);
}

bool ArrayAPI_CLI::IsSnapLinked(VMAXSnapParamList& list) {
  static const char* kFn = "IsSnapLinked";
  std::list<std::string> targets;
  for (const VMAXSnapParam& p : list.params)
    if (!p.targetDevice.empty()) targets.push_back(p.targetDevice);
  if (targets.empty()) return true;
  using namesyntax::NameKind;
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, list.serial) ||
      !CheckName(snapInfo, kFn, NameKind::kSnapshotName,
                 list.params.front().snapUid) ||
      !CheckNames(snapInfo, kFn, NameKind::kDeviceNumber, targets))
    return false;
  std::string targetText = concatStrings(targets, ",");
  const std::string& name = list.params.front().snapUid;
  CliLog(snapInfo, LOG_DETAIL, kFn, " snapshot [%s] target devs [%s]",
         name.c_str(), targetText.c_str());
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s list -linked -by_tgt -lndev %s",
      Tool(kToolSymsnapvx).c_str(), list.serial.c_str(), targetText.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) {
    if (command.said(symcli::kNoLinkTarget)) {
      CliLog(snapInfo, LOG_PROGRESS, kFn,
             "There are no snaps linked to target devs [%s]",
             targetText.c_str());
      for (VMAXSnapParam& p : list.params) p.targetLinked = false;
      return true;
    }
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "Failed to check snaps linked to target devs [%s]",
           targetText.c_str());
    return false;
  }
  std::vector<std::string> rows;
  if (!symcli::ReadTableRows(command.output(), symcli::kLegendFlgs, rows)) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  for (const std::string& row : rows) {
    if (!symcli::Contains(row, name.c_str())) continue;
    std::string target = StdDevName(symcli::Column(row, kLinkedTargetColumn));
    std::string source = StdDevName(symcli::Column(row, kLinkedSourceColumn));
    for (VMAXSnapParam& p : list.params) {
      if (!p.targetLinked && p.sourceDevice == source &&
          p.targetDevice == target)
        p.targetLinked = true;
    }
  }
  for (VMAXSnapParam& p : list.params)
    if (!p.targetLinked) p.targetDevice.clear();
  return true;
}
