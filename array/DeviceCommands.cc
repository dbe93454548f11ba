// Listing devices and reading their sizes (symdev, symsnapvx list -linked).
#include <string>

#include "array/ArrayAPI_CLI.h"
#include "array/CommandRunner.h"
#include "array/NameSyntax.h"
#include "array/DeviceListing.h"
#include "array/SymcliTable.h"
#include "hostdev/VMAXUtils.h"

namespace {

using namesyntax::NameKind;

using symcli::LineCylinders;
using symcli::LineDevice;

void LogBadSize(PZSO::SnapInfo* si, const char* function,
                const std::string& field, const std::string& line) {
  CliLog(si, LOG_FAILURE, function,
         "Unexpected size field [%s] in device listing line [%s]; the listing "
         "layout is not supported",
         field.c_str(), line.c_str());
}

// Inserts the canonical first column of every device line of `output`.
void InsertListedDevices(const std::string& output,
                         std::unordered_set<std::string>& devs) {
  std::vector<std::string> lines;
  symcli::ReadListingLines(output, lines);
  std::string device;
  for (const std::string& line : lines)
    if (LineDevice(line, device)) devs.insert(device);
}

}  // namespace

namespace {

// Solutions Enabler answers a listing of an empty storage group (or one
// whose devices all fail the filter) with this text and a non-zero exit code:
// an empty set, not a failure, or the first mount into an empty group fails.
constexpr const char* kNoDevicesFound = "No Symmetrix devices were found";

bool ListedNothing(const std::string& output) {
  return output.find(kNoDevicesFound) != std::string::npos;
}

}  // namespace

bool ArrayAPI_CLI::GetDevListBySG(const std::string& sid, const std::string& sg,
                                  std::unordered_set<std::string>& devs) {
  static const char* kFn = "GetDevListBySG";
  if (sid.empty() || sg.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Invalid parameters. VMAX [%s] SG [%s]",
           sid.c_str(), sg.c_str());
    return false;
  }
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kStorageGroup, sg))
    return false;
  std::string cmd = FXString::Format(" \"%s\" -sid %s list -sg %s",
                                     Tool(kToolSymdev).c_str(), sid.c_str(),
                                     sg.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (command.ran() && command.exitCode() != 0 && ListedNothing(command.output())) return true;
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Storage group [%s] not found on array",
           sg.c_str());
    return false;
  }
  InsertListedDevices(command.output(), devs);
  return true;
}

bool ArrayAPI_CLI::GetDevListLinked(const std::string& sid,
                                    std::unordered_set<std::string>& devs) {
  static const char* kFn = "GetDevListLinked";
  if (sid.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Invalid parameter. VMAX serial [%s]",
           sid.c_str());
    return false;
  }
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid)) return false;
  std::string cmd = FXString::Format(" \"%s\" -sid %s list -linked -by_tgt",
                                     Tool(kToolSymsnapvx).c_str(), sid.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  // An array where nothing is linked answers so, with a non-zero exit code.
  if (command.ran() && (symcli::Contains(command.output(), symcli::kNoSnapvxInfo) ||
                  symcli::Contains(command.output(), symcli::kNoLinkTarget))) {
    CliLog(snapInfo, LOG_DETAIL, kFn, "No linked devices on array [%s]",
           sid.c_str());
    return true;
  }
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "no linked devs found on array");
    return false;
  }
  std::vector<std::string> rows;
  if (!symcli::ReadTableRows(command.output(), symcli::kLegendFlgs, rows)) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  std::string device;
  for (const std::string& row : rows)
    if (LineDevice(row, device)) devs.insert(device);
  return true;
}

bool ArrayAPI_CLI::GetDevListUnmapped(const std::string& sid,
                                      const std::string& sg,
                                      std::unordered_set<std::string>& devs) {
  static const char* kFn = "GetDevListUnmapped";
  if (sid.empty() || sg.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "Invalid parameter. VMAX serial [%s] storage group [%s]",
           sid.c_str(), sg.c_str());
    return false;
  }
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kStorageGroup, sg))
    return false;
  std::string cmd = FXString::Format(" \"%s\" -sid %s list -sg %s -noport -tdev",
                                     Tool(kToolSymdev).c_str(), sid.c_str(),
                                     sg.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (command.ran() && command.exitCode() != 0 && ListedNothing(command.output())) return true;
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "no unmapped devs found in target device storage group [%s]",
           sg.c_str());
    return false;
  }
  InsertListedDevices(command.output(), devs);
  return true;
}

bool ArrayAPI_CLI::GetFreeTDEVListBySG(const std::string& sid,
                                       const std::string& sg,
                                       std::list<VMAXLun>& luns) {
  static const char* kFn = "GetFreeTDEVListBySG";
  if (sid.empty() || sg.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Invalid parameters. VMAX [%s] SG [%s]",
           sid.c_str(), sg.c_str());
    return false;
  }
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kStorageGroup, sg))
    return false;
  std::unordered_set<std::string> linked, unmapped;
  if (!GetDevListLinked(sid, linked)) return false;
  if (!GetDevListUnmapped(sid, sg, unmapped)) return false;
  std::string cmd = FXString::Format(" \"%s\" -sid %s list -sg %s -tdev -cyl",
                                     Tool(kToolSymdev).c_str(), sid.c_str(),
                                     sg.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (command.ran() && command.exitCode() != 0 && ListedNothing(command.output())) return true;
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Storage group [%s] not found on array",
           sg.c_str());
    return false;
  }
  std::string badLine, badField;
  if (!symcli::ParseFreeDevices(command.output(), sid, linked, unmapped, luns, badLine,
                                badField)) {
    LogBadSize(snapInfo, kFn, badField, badLine);
    return false;
  }
  return true;
}

bool ArrayAPI_CLI::GetDevProps(const std::string& sid,
                               const std::list<std::string>& devs,
                               std::unordered_map<std::string, VMAXLun>& props) {
  static const char* kFn = "GetDevProps";
  if (devs.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "No devices given for array [%s]",
           namesyntax::Printable(sid).c_str());
    return false;
  }
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckNames(snapInfo, kFn, NameKind::kDeviceNumber, devs))
    return false;
  std::string devText = concatStrings(devs, ",");
  CliLog(snapInfo, LOG_DETAIL, kFn, "Looking properties for devices [%s]",
         devText.c_str());
  std::string cmd = FXString::Format(" \"%s\" -sid %s list -devs %s -cyl",
                                     Tool(kToolSymdev).c_str(), sid.c_str(),
                                     devText.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) return false;
  std::vector<std::string> lines;
  symcli::ReadListingLines(command.output(), lines);
  std::unordered_map<std::string, VMAXLun> found;
  std::string device, field;
  for (const std::string& line : lines) {
    if (!LineDevice(line, device)) continue;
    VMAXLun lun;
    if (!LineCylinders(line, lun.cylinders, field)) {
      LogBadSize(snapInfo, kFn, field, line);
      return false;
    }
    lun.sid = sid;
    lun.deviceId = device;
    found[device] = lun;
  }
  for (auto& entry : found) props[entry.first] = entry.second;
  return true;
}

bool ArrayAPI_CLI::GetDevProps(const std::string& sid, const std::string& dev,
                               VMAXLun& lun) {
  static const char* kFn = "GetDevProps";
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kDeviceNumber, dev))
    return false;
  std::string cmd = FXString::Format(" \"%s\" -sid %s list -devs %s -cyl",
                                     Tool(kToolSymdev).c_str(), sid.c_str(),
                                     dev.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "p_sDevId [%s] not found on array",
           dev.c_str());
    return false;
  }
  std::vector<std::string> lines;
  symcli::ReadListingLines(command.output(), lines);
  VMAXLun read = lun;
  std::string device, field;
  for (const std::string& line : lines) {
    if (!LineDevice(line, device)) continue;
    uint64_t cylinders = 0;
    if (!LineCylinders(line, cylinders, field)) {
      LogBadSize(snapInfo, kFn, field, line);
      return false;
    }
    read.deviceId = dev;
    read.cylinders = cylinders;
    read.sid = sid;
  }
  lun = read;
  return true;
}
