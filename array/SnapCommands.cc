// Creating, terminating and listing SnapVX snapshots (symsnapvx).
#include <string>

#include "array/ArrayAPI_CLI.h"
#include "array/CommandRunner.h"
#include "array/NameSyntax.h"
#include "array/SymcliTable.h"
#include "host/HostConstants.h"

namespace {

constexpr const char* kNoSnapshot = "No snapshot was found";
constexpr const char* kMaxSessions =
    "The maximum number of sessions has been exceeded";

// The snapshot listing's flags word (column 3): Failed, Linked, Restored.
constexpr int kFlagsColumn = 3;
constexpr size_t kSnapFlagsMinLength = 4;
constexpr size_t kFlagFailed = 0;
constexpr size_t kFlagLinked = 1;
constexpr size_t kFlagRestored = 2;
// The link listing's flags word: first and fourth flags.
constexpr size_t kLinkFlagsMinLength = 5;
constexpr size_t kLinkFlagFirst = 0;
constexpr size_t kLinkFlagFourth = 3;
constexpr char kFlagSet = 'X';
constexpr char kFlagClear = '.';

using namesyntax::NameKind;

bool CheckSnapInfo(PZSO::SnapInfo* si, const char* function,
                   const VMAXSnapInfo& info) {
  return CheckName(si, function, NameKind::kArraySerial, info.sid) &&
         CheckName(si, function, NameKind::kDeviceNumber, info.srcDev) &&
         CheckName(si, function, NameKind::kSnapshotName, info.snapName);
}

void ApplySnapFlags(const std::string& word, VMAXSnapInfo& info) {
  if (word.size() < kSnapFlagsMinLength) return;
  info.failed = word[kFlagFailed] != kFlagClear;
  info.linked = word[kFlagLinked] == kFlagSet;
  info.restoreActive = word[kFlagRestored] == kFlagSet;
}

// Device file (one device a line) and log text (each device and a blank).
void SourceDeviceTexts(const VMAXSnapParamList& list, std::string& file,
                       std::string& text) {
  for (const VMAXSnapParam& p : list.params) {
    file += p.sourceDevice + "\n";
    text += p.sourceDevice + " ";
  }
}

}  // namespace

bool ArrayAPI_CLI::CreateSnaps(VMAXSnapParamList& list) {
  static const char* kFn = "CreateSnaps";
  if (list.params.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "No source devices given for array [%s]",
           list.serial.c_str());
    return false;
  }
  if (!CheckSnapList(snapInfo, kFn, list, false)) return false;
  const std::string& name = list.params.front().snapUid;
  std::string content, devices;
  SourceDeviceTexts(list, content, devices);
  CliLog(snapInfo, LOG_DETAIL, kFn, "Source devices [%s], snapshot [%s] ",
         devices.c_str(), name.c_str());
  std::string file;
  if (!WriteDeviceFile(kFn, content, file)) return false;
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -file %s -name %s establish -noprompt",
      Tool(kToolSymsnapvx).c_str(), list.serial.c_str(), file.c_str(),
      name.c_str());
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, false);
  command.Run(cmd);
  if (command.succeeded()) {
    CliLog(snapInfo, LOG_PROGRESS, kFn,
           "Successfully created snapshot [%s] for source devices [%s]",
           name.c_str(), devices.c_str());
    return true;
  }
  if (symcli::Contains(command.output(), kMaxSessions)) {
    list.errStr = FXString::Format(
        "The maximum number of sessions has been exceeded for specified "
        "source devices [%s]. Please check and delete older snapshots which "
        "are not required.",
        devices.c_str());
    if (snapInfo)
      snapInfo->reportEvent(PZSO::EVENT_SEVERITY_ERROR, list.errStr.c_str());
    return false;
  }
  CliLog(snapInfo, LOG_FAILURE, kFn,
         "Failed to create snapshot [%s] for source devices [%s]", name.c_str(),
         devices.c_str());
  return false;
}

bool ArrayAPI_CLI::DeleteSnaps(VMAXSnapParamList& list) {
  static const char* kFn = "DeleteSnaps";
  if (list.params.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "No source devices given for array [%s]",
           list.serial.c_str());
    return false;
  }
  if (!CheckSnapList(snapInfo, kFn, list, false)) return false;
  const std::string& name = list.params.front().snapUid;
  std::string content, devices;
  SourceDeviceTexts(list, content, devices);
  CliLog(snapInfo, LOG_DETAIL, kFn, "snapshot [%s] Source devices [%s]",
         name.c_str(), devices.c_str());
  std::string file;
  if (!WriteDeviceFile(kFn, content, file)) return false;
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -file %s -snapshot_name %s terminate -noprompt",
      Tool(kToolSymsnapvx).c_str(), list.serial.c_str(), file.c_str(),
      name.c_str());
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, config.bSymmVerboseLogging);
  command.Run(cmd);
  if (command.succeeded()) {
    CliLog(snapInfo, LOG_PROGRESS, kFn,
           "Successfully deleted snapshot [%s] for devices [%s]", name.c_str(),
           devices.c_str());
    return true;
  }
  CliLog(snapInfo, LOG_FAILURE, kFn,
         "Failed to delete snapshot [%s] for devices [%s]", name.c_str(),
         devices.c_str());
  return false;
}

bool ArrayAPI_CLI::GetSnapInfo(VMAXSnapInfo& info, bool withLinkDevs) {
  static const char* kFn = "GetSnapInfo";
  if (!CheckSnapInfo(snapInfo, kFn, info)) return false;
  CliLog(snapInfo, LOG_DETAIL, kFn, "Source device [%s], snapshot [%s] ",
         info.srcDev.c_str(), info.snapName.c_str());
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -devs %s -snapshot_name %s list",
      Tool(kToolSymsnapvx).c_str(), info.sid.c_str(), info.srcDev.c_str(),
      info.snapName.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) {
    if (symcli::Contains(command.output(), kNoSnapshot)) {
      CliLog(snapInfo, LOG_FAILURE, kFn, "snapshot [%s] not found on array",
             info.snapName.c_str());
      info.exists = false;
      return true;
    }
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "Failed to check snapshot [%s] status on array [%s]",
           info.snapName.c_str(), info.sid.c_str());
    return false;
  }
  info.exists = true;
  std::vector<std::string> rows;
  if (!symcli::ReadTableRows(command.output(), symcli::kLegendFlags, rows)) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  for (const std::string& row : rows) {
    if (!symcli::Contains(row, info.snapName.c_str())) continue;
    ApplySnapFlags(symcli::Column(row, kFlagsColumn), info);
    break;
  }
  return withLinkDevs ? GetLinkDevsSnap(info) : true;
}

bool ArrayAPI_CLI::GetSnapInfo(std::list<VMAXSnapInfo>& infos) {
  static const char* kFn = "GetSnapInfo";
  if (infos.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "No snapshot records given");
    return false;
  }
  const std::string name = infos.front().snapName;
  const std::string sid = infos.front().sid;
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kSnapshotName, name))
    return false;
  for (const VMAXSnapInfo& i : infos)
    if (!CheckName(snapInfo, kFn, NameKind::kDeviceNumber, i.srcDev))
      return false;
  std::string content, devices;
  for (const VMAXSnapInfo& i : infos) {
    content += i.srcDev + "\n";
    devices += i.srcDev + " ";
  }
  CliLog(snapInfo, LOG_PROGRESS, kFn, "snapshot [%s] Source devices [%s]",
         name.c_str(), devices.c_str());
  std::string file;
  if (!WriteDeviceFile(kFn, content, file)) return false;
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -file %s -snapshot_name %s list",
      Tool(kToolSymsnapvx).c_str(), sid.c_str(), file.c_str(), name.c_str());
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, config.bSymmVerboseLogging);
  command.Run(cmd);
  if (!command.succeeded()) {
    if (symcli::Contains(command.output(), kNoSnapshot)) {
      CliLog(snapInfo, LOG_FAILURE, kFn, "snapshot [%s] not found on array",
             name.c_str());
      for (VMAXSnapInfo& i : infos) i.exists = false;
      return true;
    }
    CliLog(snapInfo, LOG_FAILURE, kFn, "Failed to check snapshot [%s]",
           name.c_str());
    return false;
  }
  std::vector<std::string> rows;
  if (!symcli::ReadTableRows(command.output(), symcli::kLegendFlags, rows)) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  // Each record takes its flags from the row that names its device, so the
  // order of rows and repeated devices do not matter.
  for (const std::string& row : rows) {
    if (!symcli::Contains(row, name.c_str())) continue;
    std::string device = symcli::Column(row, 0);
    std::string flags = symcli::Column(row, kFlagsColumn);
    for (VMAXSnapInfo& i : infos) {
      if (i.srcDev != device) continue;
      i.exists = true;
      ApplySnapFlags(flags, i);
    }
  }
  return true;
}

bool ArrayAPI_CLI::GetLinkDevsSnap(VMAXSnapInfo& info) {
  static const char* kFn = "GetLinkDevsSnap";
  if (!CheckSnapInfo(snapInfo, kFn, info)) return false;
  CliLog(snapInfo, LOG_DETAIL, kFn, "Source device [%s], snapshot [%s] ",
         info.srcDev.c_str(), info.snapName.c_str());
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -devs %s -snapshot_name %s list -linked",
      Tool(kToolSymsnapvx).c_str(), info.sid.c_str(), info.srcDev.c_str(),
      info.snapName.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) {
    if (command.said(symcli::kNoSnapvxInfo)) {
      CliLog(snapInfo, LOG_PROGRESS, kFn,
             "snapshot [%s] does not  have any linked device",
             info.snapName.c_str());
      return true;
    }
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "Failed to check linked devs for snapshot [%s]",
           info.snapName.c_str());
    return false;
  }
  info.linked = true;
  std::vector<std::string> rows;
  if (!symcli::ReadTableRows(command.output(), symcli::kLegendFlgs, rows)) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  for (const std::string& row : rows) {
    if (!symcli::Contains(row, info.snapName.c_str())) continue;
    VMAXLinkDevice link;
    std::string flags = symcli::Column(row, kFlagsColumn);
    if (flags.size() >= kLinkFlagsMinLength) {
      link.fourthFlagSet = flags[kLinkFlagFourth] == kFlagSet;
      link.firstFlagSet = flags[kLinkFlagFirst] != kFlagClear;
    }
    info.linkDevs.push_back(link);
  }
  return true;
}
