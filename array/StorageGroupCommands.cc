// Changing and reading storage groups (symsg, symaccess -type storage).
#include <string>

#include "array/ArrayAPI_CLI.h"
#include "array/CommandRunner.h"
#include "array/DeviceListing.h"
#include "array/NameSyntax.h"
#include "array/SymcliTable.h"
#include "hostdev/VMAXUtils.h"

namespace {

using namesyntax::NameKind;

constexpr const char* kAlreadyMember =
    "The device is already a member of the storage group";
constexpr const char* kNotFound = "was not found";
constexpr const char* kIndividualDevices =
    "Individual devices cannot be added to or removed";
constexpr const char* kNoStorageGroups = "No Storage groups could be found";

constexpr const char* kStorageGroupName = "Storage Group Name";
constexpr size_t kStorageGroupNameLength = 18;
constexpr const char* kNumberOfGatekeepers = "Number of Gatekeepers";
constexpr const char* kIsChild = "(IsChild)";
constexpr const char* kChildStorageGroups = "Child Storage Groups";
constexpr const char* kBlockEnd = "}";
constexpr const char* kLegend = "Legend:";
// Trim set for sections that start or end on a ruler.
constexpr const char* kTrimWithDashes = " \r\n----";

constexpr char kParentMark = 'P';
constexpr size_t kParentFlagsMinLength = 3;

}  // namespace

bool ArrayAPI_CLI::ChangeStorageGroup(const std::string& sid,
                                      const std::list<std::string>& devs,
                                      const std::string& sg, bool add) {
  const char* kFn = add ? "SGDevAdd" : "SGDevRemove";
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kStorageGroup, sg) ||
      !CheckNames(snapInfo, kFn, NameKind::kDeviceNumber, devs))
    return false;
  std::string content;
  for (const std::string& d : devs) content += d + "\n";
  std::string devText = concatStrings(devs, ",");
  CliLog(snapInfo, LOG_PROGRESS, kFn,
         add ? "Going to add devices [%s] to storage group [%s]"
             : "Going to remove devices [%s] from storage group [%s]",
         devText.c_str(), sg.c_str());
  std::string file;
  if (!WriteDeviceFile(kFn, content, file)) return false;
  std::string cmd = FXString::Format(
      add ? " \"%s\" -sid %s -file %s -sg %s addall -noprompt"
          : " \"%s\" -sid %s -file %s -sg %s rmall -noprompt",
      Tool(kToolSymsg).c_str(), sid.c_str(), file.c_str(), sg.c_str());
  SymcliCommand command(snapInfo);
  command.OwnDeviceFile(file, config.bSymmVerboseLogging);
  command.Run(cmd);
  if (command.succeeded()) {
    CliLog(snapInfo, LOG_PROGRESS, kFn,
           add ? "Successfully added devices [%s] to storage group [%s]"
               : "Successfully removed devices [%s] from storage group [%s]",
           devText.c_str(), sg.c_str());
    return true;
  }
  if (command.ran()) {
    bool done = add ? symcli::Contains(command.output(), kAlreadyMember)
                    : symcli::Contains(command.output(), kNotFound);
    // The tool refuses the whole list for one device that is in (or not
    // in) the group already; with several devices the others may still
    // need the change.
    if (done && devs.size() > 1) return FinishStorageGroupChange(sid, devs, sg, add);
    if (done || (!add && symcli::Contains(command.output(), kIndividualDevices)))
      return true;
  }
  CliLog(snapInfo, LOG_PROGRESS, kFn,
         add ? "Failed to add devices [%s] to storage group [%s]"
             : "Failed to remove devices [%s] from storage group [%s]",
         devText.c_str(), sg.c_str());
  return false;
}

bool ArrayAPI_CLI::FinishStorageGroupChange(const std::string& sid,
                                            const std::list<std::string>& devs,
                                            const std::string& sg, bool add) {
  std::unordered_set<std::string> members;
  if (!GetDevListBySG(sid, sg, members)) return false;
  std::list<std::string> rest;
  for (const std::string& d : devs) {
    std::string canonical;
    if (!symcli::LineDevice(d, canonical)) canonical = d;
    if (members.count(canonical) != (add ? 0u : 1u)) continue;
    rest.push_back(d);
  }
  // Each round leaves out at least the device the tool named, so this ends.
  if (rest.empty()) return true;
  if (rest.size() == devs.size()) return false;
  return ChangeStorageGroup(sid, rest, sg, add);
}

bool ArrayAPI_CLI::SGDevAdd(const std::string& sid,
                            const std::list<std::string>& devs,
                            const std::string& sg) {
  return ChangeStorageGroup(sid, devs, sg, true);
}

bool ArrayAPI_CLI::SGDevRemove(const std::string& sid,
                               const std::list<std::string>& devs,
                               const std::string& sg) {
  return ChangeStorageGroup(sid, devs, sg, false);
}

bool ArrayAPI_CLI::GetSGListByDevice(const std::string& sid,
                                     const std::string& dev,
                                     std::list<std::string>& sgs) {
  static const char* kFn = "GetSGListByDevice";
  if (sid.empty() || dev.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Invalid parameters");
    CliLog(snapInfo, LOG_FAILURE, kFn, "VMAX serial [%s] device [%s]",
           sid.c_str(), dev.c_str());
    return false;
  }
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kDeviceNumber, dev))
    return false;
  std::string cmd = FXString::Format(" \"%s\" -sid %s -type storage list -dev %s",
                                     Tool(kToolSymaccess).c_str(), sid.c_str(),
                                     dev.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (command.succeeded()) {
    std::vector<std::string> lines;
    symcli::ReadListingLines(command.output(), lines);
    for (const std::string& line : lines) {
      std::string name = symcli::Trim(line, symcli::kLineTrimSet);
      if (!name.empty() && name != config.linkDeviceStorageGroup)
        sgs.push_back(name);
    }
    return true;
  }
  if (command.said(kNoStorageGroups)) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "Device [%s] is not mapped to any storage group ", dev.c_str());
    return true;
  }
  return false;
}

bool ArrayAPI_CLI::GetChildSGList(const std::string& sid,
                                  const std::string& sg,
                                  std::vector<std::string>& children) {
  static const char* kFn = "GetChildSGList";
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kStorageGroup, sg))
    return false;
  if (seVersion > kLastOldSymsgShowVersion)
    return GetChildSGListv2(sid, sg, children);
  std::string cmd = FXString::Format(" \"%s\" -sid %s show %s",
                                     Tool(kToolSymsg).c_str(), sid.c_str(),
                                     sg.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Failed to find storage group [%s]",
           sg.c_str());
    return false;
  }
  size_t name = command.output().find(kStorageGroupName);
  size_t colon = name == std::string::npos
                     ? std::string::npos
                     : command.output().find(':', name + kStorageGroupNameLength);
  size_t end = colon == std::string::npos
                   ? std::string::npos
                   : command.output().find(kNumberOfGatekeepers, colon + 1);
  if (end == std::string::npos) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  std::string section = command.output().substr(colon + 1, end - colon - 1);
  if (!symcli::Contains(section, kIsChild)) {
    CliLog(snapInfo, LOG_DETAIL, kFn,
           "Storage group [%s] is not a parent storage group", sg.c_str());
    return true;
  }
  std::vector<std::string> lines;
  symcli::SplitSection(section, 0, std::string::npos, symcli::kLineTrimSet,
                       lines);
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (!symcli::Contains(line, kIsChild)) continue;
    found.push_back(symcli::Column(line, 0));
  }
  children.insert(children.end(), found.begin(), found.end());
  CliLog(snapInfo, LOG_PROGRESS, kFn,
         "Parent storage group [%s] child storage groups [%s]", sg.c_str(),
         concatStrings(found, ",").c_str());
  return true;
}

bool ArrayAPI_CLI::GetChildSGListv2(const std::string& sid,
                                    const std::string& sg,
                                    std::vector<std::string>& children) {
  static const char* kFn = "GetChildSGListv2";
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kStorageGroup, sg))
    return false;
  std::string cmd = FXString::Format(" \"%s\" -sid %s show %s",
                                     Tool(kToolSymsg).c_str(), sid.c_str(),
                                     sg.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Failed to find storage group [%s]",
           sg.c_str());
    return false;
  }
  if (!symcli::Contains(command.output(), kChildStorageGroups)) {
    CliLog(snapInfo, LOG_DETAIL, kFn,
           "Storage group [%s] is not a parent storage group", sg.c_str());
    return true;
  }
  size_t name = command.output().find(kStorageGroupName);
  size_t ruler = name == std::string::npos
                     ? std::string::npos
                     : command.output().find(symcli::kRuler, name);
  size_t end = ruler == std::string::npos ? std::string::npos
                                          : command.output().find(kBlockEnd, ruler);
  if (end == std::string::npos) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  std::vector<std::string> lines;
  symcli::SplitSection(command.output(), ruler, end, kTrimWithDashes, lines);
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    std::string child = symcli::Trim(line, symcli::kLineTrimSet);
    if (!child.empty()) found.push_back(child);
  }
  children.insert(children.end(), found.begin(), found.end());
  CliLog(snapInfo, LOG_PROGRESS, kFn,
         "Parent storage group [%s] child storage groups [%s]", sg.c_str(),
         concatStrings(found, ",").c_str());
  return true;
}

bool ArrayAPI_CLI::GetParentSGList(const std::string& sid,
                                   std::unordered_set<std::string>& sgs) {
  static const char* kFn = "GetParentSGList";
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid)) return false;
  std::string cmd = FXString::Format(" \"%s\" -sid %s list",
                                     Tool(kToolSymsg).c_str(), sid.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "Failed to get available storage groups on array [%s]", sid.c_str());
    return false;
  }
  size_t ruler = command.output().find(symcli::kRuler);
  size_t end = ruler == std::string::npos ? std::string::npos
                                          : command.output().find(kLegend, ruler);
  if (end == std::string::npos) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  std::vector<std::string> lines;
  symcli::SplitSection(command.output(), ruler, end, kTrimWithDashes, lines);
  std::string text;
  for (const std::string& line : lines) {
    const char* p = line.c_str();
    skipSpace(p);
    std::string name = skipToSpace(p);
    if (name.empty()) continue;
    skipColumns(p, 1);
    std::string flags = skipToSpace(p);
    if (flags.size() >= kParentFlagsMinLength && flags[0] == kParentMark) {
      sgs.insert(name);
      text += name + " ";
    }
  }
  if (!sgs.empty())
    CliLog(snapInfo, LOG_DETAIL, kFn, "VMAX array [%s] parent storage groups [%s]",
           sid.c_str(), text.c_str());
  else
    CliLog(snapInfo, LOG_DETAIL, kFn,
           "VMAX array [%s] does not have any cascade storage group configured",
           sid.c_str());
  return true;
}
