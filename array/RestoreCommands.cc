// Restoring source devices from SnapVX snapshots and cleaning up the restore
// sessions left behind (symsnapvx ... restore / list -restored / terminate).
#include <string>
#include <unordered_set>

#include "array/ArrayAPI_CLI.h"
#include "array/CommandRunner.h"
#include "array/NameSyntax.h"
#include "array/SymcliTable.h"
#include "common/ConfigKeys.h"
#include "config/VMAXConfig.h"
#include "hostdev/VMAXUtils.h"

namespace {

using namesyntax::NameKind;

constexpr const char* kPercentHeading = "(%)";
constexpr size_t kPercentHeadingLength = 3;
constexpr const char* kNoCopySession =
    "The Source device and the Target device do not form a Copy session";
constexpr uint64_t kRestoreDone = 100;
constexpr int kSessionDeviceColumn = 0;
constexpr int kSessionNameColumn = 1;

constexpr int64_t kRestorePollMs = 30000;
constexpr const char* kRestoreWaitMaxMinsKey = vmaxcfg::kSettingRestoreWaitMaxMins;
constexpr int kDefaultRestoreWaitMaxMins = vmaxcfg::kDefaultRestoreWaitMaxMins;
constexpr int64_t kMsPerMinute = 60000;

struct RestoreRow {
  std::string device;
  std::string word;  // the row's last word, the percentage
  bool numeric = false;
  uint64_t percent = 0;
  bool done() const { return numeric && percent == kRestoreDone; }
};

std::string LastWord(const std::string& line) {
  const char* blanks = " \t\r";
  size_t last = line.find_last_not_of(blanks);
  if (last == std::string::npos) return std::string();
  size_t before = line.find_last_of(blanks, last);
  size_t first = before == std::string::npos ? 0 : before + 1;
  return line.substr(first, last - first + 1);
}

// Rows of the progress table: after the last "(%)" up to the last ruler
// (to the end when no ruler follows the heading), ruler lines skipped.
// False when the output has no "(%)".
bool ReadRestoreProgress(const std::string& output,
                         std::vector<RestoreRow>& out) {
  out.clear();
  size_t heading = output.rfind(kPercentHeading);
  if (heading == std::string::npos) return false;
  size_t begin = heading + kPercentHeadingLength;
  size_t end = symcli::FindLastRuler(output);
  if (end != std::string::npos && end < begin) end = std::string::npos;
  std::vector<std::string> lines;
  symcli::SplitSection(output, begin, end, symcli::kLineTrimSet, lines);
  for (const std::string& line : lines) {
    if (symcli::Contains(line, symcli::kRuler)) continue;
    RestoreRow row;
    row.device = symcli::Column(line, 0);
    row.word = LastWord(line);
    row.numeric = symcli::ParseDecimal(row.word, row.percent);
    out.push_back(row);
  }
  return true;
}

bool CheckRestoreNames(PZSO::SnapInfo* si, const char* function,
                       const std::string& sid, const std::string& snapName,
                       const std::list<std::string>& devs) {
  return CheckName(si, function, NameKind::kArraySerial, sid) &&
         CheckName(si, function, NameKind::kSnapshotName, snapName) &&
         CheckNames(si, function, NameKind::kDeviceNumber, devs);
}

int RestoreWaitMaxMins() {
  int value = kDefaultRestoreWaitMaxMins;
  if (!GetRegInt(nullptr, kRestoreWaitMaxMinsKey, &value) || value < 1)
    value = kDefaultRestoreWaitMaxMins;
  return value;
}

}  // namespace

bool ArrayAPI_CLI::RestoreSnaps(VMAXSnapParamList& list) {
  static const char* kFn = "RestoreSnaps";
  if (list.params.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "No source devices given for array [%s]",
           list.serial.c_str());
    return false;
  }
  if (!CheckSnapList(snapInfo, kFn, list, false)) return false;
  const std::string& name = list.params.front().snapUid;
  std::string content, devices;
  for (const VMAXSnapParam& p : list.params) {
    content += p.sourceDevice + "\n";
    devices += p.sourceDevice + " ";
  }
  CliLog(snapInfo, LOG_DETAIL, kFn, "Source devices [%s], snapshot [%s] ",
         devices.c_str(), name.c_str());
  std::string file;
  if (!WriteDeviceFile(kFn, content, file)) return false;
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -file %s -snapshot_name %s restore -noprompt",
      Tool(kToolSymsnapvx).c_str(), list.serial.c_str(), file.c_str(),
      name.c_str());
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, config.bSymmVerboseLogging);
  command.Run(cmd);
  if (command.succeeded()) {
    CliLog(snapInfo, LOG_PROGRESS, kFn,
           "Successfully restored source devices [%s] from snapshot [%s]",
           devices.c_str(), name.c_str());
    return true;
  }
  CliLog(snapInfo, LOG_FAILURE, kFn,
         "Failed to restore source devices [%s] from snapshot [%s]",
         devices.c_str(), name.c_str());
  return false;
}

bool ArrayAPI_CLI::GetRestoreSessions(
    const std::string& sid, const std::list<std::string>& devs,
    std::unordered_map<std::string, std::list<std::string>>& sessions) {
  static const char* kFn = "GetRestoreSessions";
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckNames(snapInfo, kFn, NameKind::kDeviceNumber, devs))
    return false;
  std::string devText = concatStrings(devs, ",");
  CliLog(snapInfo, LOG_DETAIL, kFn,
         "Checking available restore session for source devices [%s] ",
         devText.c_str());
  std::string file;
  if (!WriteDeviceFile(kFn, concatStrings(devs, "\n"), file)) return false;
  std::string cmd = FXString::Format(" \"%s\" -sid %s -file %s list -restored",
                                     Tool(kToolSymsnapvx).c_str(), sid.c_str(),
                                     file.c_str());
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, config.bSymmVerboseLogging);
  command.Run(cmd);
  // The tool reports "no session" with a non-zero exit code: text first.
  if (command.said(symcli::kNoSnapvxInfo)) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "No restore session found for source devices [%s]", devText.c_str());
    return true;
  }
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "Failed to find restore session for source devices [%s]",
           devText.c_str());
    return false;
  }
  std::vector<std::string> rows;
  if (!symcli::ReadTableRows(command.output(), symcli::kLegendFlgs, rows)) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  for (const std::string& row : rows) {
    std::string device = symcli::Column(row, kSessionDeviceColumn);
    std::string name = symcli::Column(row, kSessionNameColumn);
    if (device.empty() || name.empty()) continue;
    sessions[name].push_back(device);
  }
  return true;
}

bool ArrayAPI_CLI::WaitForRestoreCompletion(const std::string& sid,
                                            const std::string& snapName,
                                            const std::list<std::string>& devs) {
  static const char* kFn = "WaitForRestoreCompletion";
  if (!CheckRestoreNames(snapInfo, kFn, sid, snapName, devs)) return false;
  std::string devText = concatStrings(devs, ",");
  std::string file;
  if (!WriteDeviceFile(kFn, concatStrings(devs, "\n"), file)) return false;
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -file %s -snapshot_name %s list -restored -detail",
      Tool(kToolSymsnapvx).c_str(), sid.c_str(), file.c_str(),
      snapName.c_str());
  const int maxMins = RestoreWaitMaxMins();
  const int64_t maxMs = int64_t(maxMins) * kMsPerMinute;
  int64_t waitedMs = 0;
  bool result = false;
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, config.bSymmVerboseLogging);
  while (true) {
    command.Run(cmd);
    if (command.said(symcli::kNoSnapvxInfo)) {
      CliLog(snapInfo, LOG_FAILURE, kFn,
             "No restore session found for source devices [%s]",
             devText.c_str());
      result = true;
      break;
    }
    if (!command.succeeded()) {
      CliLog(snapInfo, LOG_PROGRESS, kFn,
             "Failed to list restore session status for source devices [%s]",
             devText.c_str());
      break;
    }
    std::vector<RestoreRow> rows;
    if (!ReadRestoreProgress(command.output(), rows)) {
      CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
      break;
    }
    size_t done = 0;
    std::unordered_set<std::string> doneDevices;
    for (const RestoreRow& row : rows) {
      if (!row.numeric) {
        CliLog(snapInfo, LOG_FAILURE, kFn,
               "Restore session - snap [%s] source [%s] restore percent [%s] "
               "is not a number, counted as not done",
               snapName.c_str(), row.device.c_str(), row.word.c_str());
        continue;
      }
      CliLog(snapInfo, LOG_PROGRESS, kFn,
             "Restore session - snap [%s] source [%s] restore percent [%d]",
             snapName.c_str(), row.device.c_str(), int(row.percent));
      if (row.done()) {
        ++done;
        doneDevices.insert(StdDevName(row.device));
      }
    }
    if (done == devs.size()) {
      result = true;
      break;
    }
    if (waitedMs >= maxMs) {
      std::list<std::string> pending;
      for (const std::string& d : devs)
        if (!doneDevices.count(StdDevName(d))) pending.push_back(d);
      CliLog(snapInfo, LOG_FAILURE, kFn,
             "Restore from snapshot [%s] did not complete within [%d] minutes; "
             "source devices below 100 percent [%s]",
             snapName.c_str(), maxMins, concatStrings(pending, ",").c_str());
      break;
    }
    CommandLayerSleepMs(kRestorePollMs);
    waitedMs += kRestorePollMs;
  }
  return result;
}

bool ArrayAPI_CLI::DeleteRestoreSessions(const std::string& sid,
                                         const std::string& snapName,
                                         const std::list<std::string>& devs) {
  static const char* kFn = "DeleteRestoreSessions";
  std::string devText = concatStrings(devs, ",");
  if (sid.empty() || snapName.empty() || devs.empty()) {
    CliLog(snapInfo, LOG_DETAIL, kFn,
           "Invalid parameters VMAX serial [%s] snap [%s] source devs [%s]",
           sid.c_str(), snapName.c_str(), devText.c_str());
    return false;
  }
  if (!CheckRestoreNames(snapInfo, kFn, sid, snapName, devs)) return false;
  CliLog(snapInfo, LOG_DETAIL, kFn, "Source devices [%s], snapshot [%s] ",
         devText.c_str(), snapName.c_str());
  std::string file;
  if (!WriteDeviceFile(kFn, concatStrings(devs, "\n"), file)) return false;
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -file %s -snapshot_name %s terminate -restored "
      "-noprompt",
      Tool(kToolSymsnapvx).c_str(), sid.c_str(), file.c_str(),
      snapName.c_str());
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, config.bSymmVerboseLogging);
  command.Run(cmd);
  if (command.succeeded()) {
    CliLog(snapInfo, LOG_PROGRESS, kFn,
           "Successfully terminated restore session for snapshot [%s] and "
           "source devices [%s]",
           snapName.c_str(), devText.c_str());
    return true;
  }
  if (command.said(kNoCopySession)) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "No restore session found for snapshot [%s] and source devices [%s]",
           snapName.c_str(), devText.c_str());
    return true;
  }
  CliLog(snapInfo, LOG_FAILURE, kFn,
         "Failed to terminate restore session for snapshot [%s] and source "
         "devices [%s]",
         snapName.c_str(), devText.c_str());
  return false;
}

bool ArrayAPI_CLI::RestoreCleanup(const std::string& sid,
                                  const std::string& snapName,
                                  const std::list<std::string>& devs,
                                  bool waitForCompletion) {
  static const char* kFn = "RestoreCleanup";
  std::string devText = concatStrings(devs, ",");
  if (sid.empty() || snapName.empty() || devs.empty()) {
    CliLog(snapInfo, LOG_DETAIL, kFn,
           "Invalid parameters VMAX serial [%s] snap [%s] source devs [%s]",
           sid.c_str(), snapName.c_str(), devText.c_str());
    return false;
  }
  if (!CheckRestoreNames(snapInfo, kFn, sid, snapName, devs)) return false;
  std::string file;
  if (!WriteDeviceFile(kFn, concatStrings(devs, "\n"), file)) return false;
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -file %s -snapshot_name %s list -restored -detail",
      Tool(kToolSymsnapvx).c_str(), sid.c_str(), file.c_str(),
      snapName.c_str());
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, config.bSymmVerboseLogging);
  command.Run(cmd);
  if (command.said(symcli::kNoSnapvxInfo)) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "No restore session found for snap [%s] source devices [%s]",
           snapName.c_str(), devText.c_str());
    return true;
  }
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_PROGRESS, kFn,
           "Failed to list restore session status for snap [%s] source "
           "devices [%s]",
           snapName.c_str(), devText.c_str());
    return false;
  }
  std::vector<RestoreRow> rows;
  if (!ReadRestoreProgress(command.output(), rows)) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  std::list<std::string> restored, inProgress;
  for (const RestoreRow& row : rows) {
    if (row.numeric)
      CliLog(snapInfo, LOG_PROGRESS, kFn,
             "Restore session - snap [%s] source [%s] restore percent [%d]",
             snapName.c_str(), row.device.c_str(), int(row.percent));
    else
      CliLog(snapInfo, LOG_FAILURE, kFn,
             "Restore session - snap [%s] source [%s] restore percent [%s] "
             "is not a number, counted as not done",
             snapName.c_str(), row.device.c_str(), row.word.c_str());
    (row.done() ? restored : inProgress).push_back(row.device);
  }
  CliLog(snapInfo, LOG_DETAIL, kFn,
         "Restore session - snap [%s] restored [%d] restore in progress [%d]",
         snapName.c_str(), int(restored.size()), int(inProgress.size()));
  if (!restored.empty() && !DeleteRestoreSessions(sid, snapName, restored))
    return false;
  if (waitForCompletion && !inProgress.empty()) {
    if (!WaitForRestoreCompletion(sid, snapName, inProgress)) return false;
    return DeleteRestoreSessions(sid, snapName, inProgress);
  }
  return true;
}

bool ArrayAPI_CLI::RestoreCleanupAll(const std::string& sid,
                                     const std::list<std::string>& devs) {
  static const char* kFn = "RestoreCleanupAll";
  if (sid.empty() || devs.empty()) {
    CliLog(snapInfo, LOG_DETAIL, kFn,
           "Invalid parameters VMAX serial [%s] source devs [%s]", sid.c_str(),
           concatStrings(devs, ",").c_str());
    return false;
  }
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckNames(snapInfo, kFn, NameKind::kDeviceNumber, devs))
    return false;
  std::unordered_map<std::string, std::list<std::string>> sessions;
  if (!GetRestoreSessions(sid, devs, sessions)) return false;
  for (const auto& session : sessions) {
    CliLog(snapInfo, LOG_PROGRESS, kFn,
           "Restore session - snap [%s] source devices [%s]",
           session.first.c_str(), concatStrings(session.second, ",").c_str());
    if (!WaitForRestoreCompletion(sid, session.first, session.second))
      return false;
    if (!DeleteRestoreSessions(sid, session.first, session.second))
      return false;
  }
  return true;
}
