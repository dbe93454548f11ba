// Masking views and initiators (symaccess): which storage groups the host's
// initiators can see.
#include <cstring>
#include <string>

#include "array/ArrayAPI_CLI.h"
#include "array/CommandRunner.h"
#include "array/NameSyntax.h"
#include "array/SymcliTable.h"
#include "hostdev/VMAXUtils.h"

namespace {

using namesyntax::NameKind;

constexpr const char* kNotFound = "was not found";
constexpr const char* kMaskingViewNames = "Masking View Names";
constexpr const char* kMaskingView = "Masking View";
constexpr const char* kInitiatorGroupKey = "Initiator Group Name";
constexpr const char* kPortGroupKey = "Port Group Name";
constexpr const char* kStorageGroupKey = "Storage Group Name";
constexpr const char* kNone = "None";
constexpr const char* kBlockOpen = "{";
constexpr const char* kBlockClose = "}";
constexpr const char* kBlanks = " \t\r\n";
constexpr char kKeySeparator = ':';

// Names standing on one line ("Masking View Names : a b"), "None" dropped.
void NamesOnLine(const std::string& text, std::vector<std::string>& names) {
  const char* p = text.c_str();
  skipSpace(p);
  while (*p) {
    std::string word = skipToSpace(p);
    if (word != kNone) names.push_back(word);
    skipSpace(p);
  }
}

// Reads the list that follows `at` (the position just after the list's
// heading): either names after a colon on the same line, or a brace block
// of one name a line. False when neither form is there.
bool ReadNameList(const std::string& output, size_t at,
                  std::vector<std::string>& names) {
  names.clear();
  size_t lineEnd = output.find('\n', at);
  std::string rest = symcli::Trim(
      output.substr(at, lineEnd == std::string::npos ? std::string::npos
                                                     : lineEnd - at),
      kBlanks);
  if (!rest.empty() && rest[0] == kKeySeparator) rest.erase(0, 1);
  rest = symcli::Trim(rest, kBlanks);
  if (!rest.empty()) {
    NamesOnLine(rest, names);
    return true;
  }
  if (lineEnd == std::string::npos) return false;
  std::vector<std::string> lines;
  symcli::SplitSection(output, lineEnd + 1, std::string::npos, kBlanks, lines);
  bool open = false;
  for (const std::string& raw : lines) {
    std::string line = symcli::Trim(raw, kBlanks);
    if (line.empty()) continue;
    if (!open) {
      if (line != kBlockOpen) return false;
      open = true;
      continue;
    }
    if (line == kBlockClose) return true;
    if (line != kNone) names.push_back(line);
  }
  names.clear();
  return false;  // the block never closed
}

}  // namespace

bool ArrayAPI_CLI::IsAllowedWWPN(const std::string& wwpn) {
  static const char* kFn = "IsAllowedWWPN";
  if (config.allowWWPNs.empty()) return true;
  for (const std::string& allowed : config.allowWWPNs) {
    if (compareWWNs(allowed, wwpn)) {
      CliLog(snapInfo, LOG_DETAIL, kFn, "WWPN [%s] found in AllowWWPN list",
             wwpn.c_str());
      return true;
    }
  }
  CliLog(snapInfo, LOG_DETAIL, kFn, "WWPN [%s] not found in AllowWWPN list",
         wwpn.c_str());
  return false;
}

bool ArrayAPI_CLI::IsAllowedMaskingView(const std::string& view) {
  static const char* kFn = "IsAllowedMaskingView";
  if (config.allowMaskingViews.empty()) return true;
  for (const std::string& allowed : config.allowMaskingViews) {
    if (allowed == view) {
      CliLog(snapInfo, LOG_DETAIL, kFn,
             "Masking View [%s] found in AllowMaskingViews list", view.c_str());
      return true;
    }
  }
  CliLog(snapInfo, LOG_DETAIL, kFn,
         "Masking View [%s] not found in AllowMaskingViews list", view.c_str());
  return false;
}

bool ArrayAPI_CLI::GetMVListByInitiator(const std::string& sid,
                                        const std::string& initiator,
                                        std::vector<std::string>& views) {
  static const char* kFn = "GetMVListByInitiator";
  if (sid.empty() || initiator.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Invalid parameters");
    CliLog(snapInfo, LOG_FAILURE, kFn, "VMAX serial [%s] HBA list [%s]",
           sid.c_str(), initiator.c_str());
    return false;
  }
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kInitiator, initiator))
    return false;
  std::string cmd = FXString::Format(
      " \"%s\" -sid %s -type initiator -wwn %s list -detail -v",
      Tool(kToolSymaccess).c_str(), sid.c_str(), initiator.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) {
    if (command.said(kNotFound))
      CliLog(snapInfo, LOG_FAILURE, kFn, "Initiator [%s] not found on array",
             initiator.c_str());
    return false;
  }
  size_t heading = command.output().find(kMaskingViewNames);
  if (heading == std::string::npos) return false;
  std::vector<std::string> names;
  if (!ReadNameList(command.output(), heading + strlen(kMaskingViewNames), names)) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "%s", symcli::kFormatChanged);
    return false;
  }
  views = names;
  return true;
}

bool ArrayAPI_CLI::MaskViewInfoByName(const std::string& sid,
                                      const std::string& view,
                                      VMAXMaskViewInfo& info) {
  bool notFound = false;
  return QueryMaskView(sid, view, info, &notFound);
}

bool ArrayAPI_CLI::QueryMaskView(const std::string& sid, const std::string& view,
                                 VMAXMaskViewInfo& info, bool* notFound) {
  static const char* kFn = "MaskViewInfoByName";
  *notFound = false;
  if (sid.empty() || view.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn, "Invalid parameters");
    CliLog(snapInfo, LOG_FAILURE, kFn, "VMAX serial [%s] masking view [%s]",
           sid.c_str(), view.c_str());
    return false;
  }
  // A name no array would give is never put on a command line: skipped
  // like a view that is not there.
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckName(snapInfo, kFn, NameKind::kMaskingView, view)) {
    *notFound = true;
    return false;
  }
  std::string cmd = FXString::Format(" \"%s\" -sid %s list view -name %s -v",
                                     Tool(kToolSymaccess).c_str(), sid.c_str(),
                                     view.c_str());
  SymcliCommand command(snapInfo);
  command.Run(cmd);
  if (!command.succeeded()) {
    *notFound = command.said(kNotFound);
    if (*notFound)
      CliLog(snapInfo, LOG_FAILURE, kFn, "masking view [%s] not found on array ",
             view.c_str());
    return false;
  }
  size_t start = command.output().find(kMaskingView);
  if (start == std::string::npos) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "output does not contain masking view [%s] details", view.c_str());
    return false;
  }
  std::vector<std::string> lines;
  symcli::SplitSection(command.output(), start, std::string::npos, symcli::kLineTrimSet,
                       lines);
  // A field counts only when its whole key matches: "Storage Group Names"
  // and the like are other fields. Times contain colons, so the key is the
  // text before the first one.
  for (const std::string& line : lines) {
    size_t colon = line.find(kKeySeparator);
    if (colon == std::string::npos) continue;
    std::string key = symcli::Trim(line.substr(0, colon), kBlanks);
    std::string value = symcli::Trim(line.substr(colon + 1), kBlanks);
    if (key == kInitiatorGroupKey)
      info.initiatorGroup = value;
    else if (key == kPortGroupKey)
      info.portGroup = value;
    else if (key == kStorageGroupKey)
      info.storageGroup = value;
  }
  info.maskingView = view;
  return true;
}

bool ArrayAPI_CLI::AddViewGroups(const std::string& sid, const std::string& hba,
                                 const std::vector<std::string>& views,
                                 const std::unordered_set<std::string>& parents,
                                 std::unordered_set<std::string>& groups) {
  static const char* kFn = "GetSGListByHBA";
  for (const std::string& view : views) {
    if (!IsAllowedMaskingView(view)) {
      CliLog(snapInfo, LOG_DETAIL, kFn,
             "Skipping Masking View [%s], not found in AllowMaskingViews list",
             view.c_str());
      continue;
    }
    VMAXMaskViewInfo info;
    bool notFound = false;
    if (!QueryMaskView(sid, view, info, &notFound)) {
      if (notFound) {
        CliLog(snapInfo, LOG_DETAIL, kFn,
               "Masking View [%s] not found, trying next view", view.c_str());
        continue;
      }
      // Without this view's storage group the choice among the host's
      // groups would be made blind: a production group might be taken.
      CliLog(snapInfo, LOG_FAILURE, kFn,
             "Failed to read masking view [%s] of HBA [%s], no storage "
             "group is chosen without it",
             view.c_str(), hba.c_str());
      return false;
    }
    CliLog(snapInfo, LOG_DETAIL, kFn,
           "HBA [%s] - Found MV [%s] SG [%s] IG [%s] PG [%s]", hba.c_str(),
           view.c_str(), info.storageGroup.c_str(),
           info.initiatorGroup.c_str(), info.portGroup.c_str());
    if (info.storageGroup.empty()) continue;
    if (parents.count(info.storageGroup)) {
      std::vector<std::string> children;
      if (!GetChildSGList(sid, info.storageGroup, children)) {
        CliLog(snapInfo, LOG_FAILURE, kFn,
               "Failed to find child storage groups of parent storage group "
               "[%s] details, skipping it",
               info.storageGroup.c_str());
        continue;
      }
      if (!children.empty())
        groups.insert(children.begin(), children.end());
    } else {
      groups.insert(info.storageGroup);
    }
  }
  return true;
}

bool ArrayAPI_CLI::GetSGListByHBA(
    const std::string& sid, const std::list<std::string>& wwpns,
    std::unordered_map<std::string, std::unordered_set<std::string>>&
        sgByHba) {
  static const char* kFn = "GetSGListByHBA";
  sgByHba.clear();
  if (wwpns.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "Received empty HBA list, mapping cannot proceed");
    return false;
  }
  if (!CheckName(snapInfo, kFn, NameKind::kArraySerial, sid) ||
      !CheckNames(snapInfo, kFn, NameKind::kInitiator, wwpns))
    return false;
  std::unordered_set<std::string> parents;
  if (!GetParentSGList(sid, parents)) {
    CliLog(snapInfo, LOG_DETAIL, kFn,
           "Failed to get parent storage groups on array[%s]", sid.c_str());
    return false;
  }
  std::string tried;
  for (const std::string& hba : wwpns) {
    if (!IsAllowedWWPN(hba)) {
      CliLog(snapInfo, LOG_DETAIL, kFn,
             "Skipping HBA [%s], not found in AllowWWPN list", hba.c_str());
      continue;
    }
    tried += hba + " ";
    std::vector<std::string> views;
    if (!GetMVListByInitiator(sid, hba, views) || views.empty()) {
      CliLog(snapInfo, LOG_DETAIL, kFn, "No masking views found for HBA [%s]",
             hba.c_str());
      continue;
    }
    std::unordered_set<std::string> groups;
    if (!AddViewGroups(sid, hba, views, parents, groups)) {
      sgByHba.clear();
      return false;
    }
    if (!groups.empty()) sgByHba[hba].insert(groups.begin(), groups.end());
  }
  if (sgByHba.empty()) {
    CliLog(snapInfo, LOG_FAILURE, kFn,
           "Failed to find masking view for mapping.Please add one or more of "
           "these HBAs to a Masking View [%s]",
           tried.c_str());
    return false;
  }
  CliLog(snapInfo, LOG_DETAIL, kFn,
         "Found following storage groups connected to specified HBAs:");
  for (const auto& entry : sgByHba) {
    CliLog(snapInfo, LOG_DETAIL, kFn, "HBA [%s]", entry.first.c_str());
    for (const std::string& group : entry.second)
      CliLog(snapInfo, LOG_DETAIL, kFn, "    SG [%s]", group.c_str());
  }
  return true;
}
