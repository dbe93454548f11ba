#include "pzarray/Operations.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "array/SymcliTable.h"
#include "host/HostServices.h"

namespace pzarray {

namespace {

std::list<std::string> List(const std::string& csv) {
  std::vector<std::string> pieces;
  FXString::Split(csv, ",", FXSPLIT_SKIP_EMPTY, pieces);
  std::list<std::string> out;
  for (const std::string& p : pieces) {
    std::string item = symcli::Trim(p, " \t");
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

bool Bool(const std::string& text) {
  if (text == "1" || text == "true" || text == "yes") return true;
  if (text == "0" || text == "false" || text == "no") return false;
  throw std::invalid_argument("expected true or false, got '" + text + "'");
}

// SOURCE[:TARGET],... into the records of one snapshot on one array.
VMAXSnapParamList Pairs(ArrayAPI_CLI& api, const std::string& sid,
                        const std::string& snap, const std::string& csv) {
  VMAXSnapParamList list;
  list.serial = sid;
  list.decoupledClone = api.config.bDecoupledInstantClone;
  for (const std::string& pair : List(csv)) {
    VMAXSnapParam p;
    p.snapUid = snap;
    size_t colon = pair.find(':');
    p.sourceDevice = pair.substr(0, colon);
    if (colon != std::string::npos) p.targetDevice = pair.substr(colon + 1);
    if (p.sourceDevice.empty())
      throw std::invalid_argument("pair without a source device: '" + pair +
                                  "'");
    list.params.push_back(p);
  }
  return list;
}

Json ToJson(const VMAXSnapParamList& list) {
  Json params = Json::array();
  for (const VMAXSnapParam& p : list.params)
    params.push_back({{"snapUid", p.snapUid},
                      {"sourceDevice", p.sourceDevice},
                      {"targetDevice", p.targetDevice},
                      {"targetLinked", p.targetLinked},
                      {"targetMapped", p.targetMapped},
                      {"reserved", p.reserved}});
  return {{"serial", list.serial},
          {"decoupledClone", list.decoupledClone},
          {"errStr", list.errStr},
          {"params", params}};
}

Json ToJson(const VMAXSnapInfo& i) {
  Json links = Json::array();
  for (const VMAXLinkDevice& l : i.linkDevs)
    links.push_back({{"linkDevName", l.linkDevName},
                     {"fourthFlagSet", l.fourthFlagSet},
                     {"firstFlagSet", l.firstFlagSet}});
  return {{"sid", i.sid},          {"snapName", i.snapName},
          {"srcDev", i.srcDev},    {"exists", i.exists},
          {"restoreActive", i.restoreActive},
          {"linked", i.linked},    {"failed", i.failed},
          {"linkDevs", links}};
}

Json ToJson(const VMAXLun& l) {
  return {{"sid", l.sid}, {"deviceId", l.deviceId}, {"cylinders", l.cylinders}};
}

Json ToJson(const VMAXMaskViewInfo& v) {
  return {{"maskingView", v.maskingView},
          {"initiatorGroup", v.initiatorGroup},
          {"portGroup", v.portGroup},
          {"storageGroup", v.storageGroup}};
}

template <typename Set>
Json Sorted(const Set& set) {
  std::vector<std::string> v(set.begin(), set.end());
  std::sort(v.begin(), v.end());
  return v;
}

// Operations on a whole snapshot parameter list: SID SNAP PAIRS.
Operation ListOp(const char* name,
                 bool (ArrayAPI_CLI::*call)(VMAXSnapParamList&)) {
  return {name, "SID SNAP SOURCE[:TARGET],...", 3, 0, false,
          [call](ArrayAPI_CLI& api, const Args& a, Json& out) {
            VMAXSnapParamList list = Pairs(api, a[0], a[1], a[2]);
            bool ok = (api.*call)(list);
            out["list"] = ToJson(list);
            return ok;
          }};
}

// Operations that answer a device set: SID [SG].
Operation SetOp(const char* name, bool withGroup,
                bool (ArrayAPI_CLI::*withSg)(const std::string&,
                                             const std::string&,
                                             std::unordered_set<std::string>&),
                bool (ArrayAPI_CLI::*sidOnly)(
                    const std::string&, std::unordered_set<std::string>&),
                const char* field) {
  return {name, withGroup ? "SID SG" : "SID", withGroup ? 2u : 1u, 0, false,
          [=](ArrayAPI_CLI& api, const Args& a, Json& out) {
            std::unordered_set<std::string> set;
            bool ok = withGroup ? (api.*withSg)(a[0], a[1], set)
                                : (api.*sidOnly)(a[0], set);
            out[field] = Sorted(set);
            return ok;
          }};
}

// Restore operations on SID SNAP DEVS.
Operation RestoreOp(const char* name,
                    bool (ArrayAPI_CLI::*call)(const std::string&,
                                               const std::string&,
                                               const std::list<std::string>&)) {
  return {name, "SID SNAP DEV,...", 3, 0, false,
          [call](ArrayAPI_CLI& api, const Args& a, Json&) {
            return (api.*call)(a[0], a[1], List(a[2]));
          }};
}

using A = ArrayAPI_CLI;

// Devices, their properties and snapshots.
void AddDeviceAndSnapOps(std::vector<Operation>& ops) {
  ops.push_back({"init", "", 0, 0, false,
                 [](A& api, const Args&, Json& out) {
                   out["symcliBinPath"] = api.symcliBinPath;
                   return true;
                 }});
  ops.push_back({"getPowerMaxDetails", "", 0, 0, false,
                 [](A& api, const Args&, Json&) {
                   VMAXArrayInfo info;
                   return api.getPowerMaxDetails(info);
                 }});
  ops.push_back({"GetDevProps", "SID DEV", 2, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   VMAXLun lun;
                   bool ok = api.GetDevProps(a[0], a[1], lun);
                   out["lun"] = ToJson(lun);
                   return ok;
                 }});
  ops.push_back({"GetDevPropsList", "SID DEV,...", 2, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   std::unordered_map<std::string, VMAXLun> props;
                   bool ok = api.GetDevProps(a[0], List(a[1]), props);
                   std::map<std::string, VMAXLun> sorted(props.begin(),
                                                         props.end());
                   Json j = Json::object();
                   for (const auto& e : sorted) j[e.first] = ToJson(e.second);
                   out["props"] = j;
                   return ok;
                 }});
  ops.push_back({"GetSnapInfo", "SID DEV SNAP [WITH_LINK_DEVS]", 3, 1, false,
                 [](A& api, const Args& a, Json& out) {
                   VMAXSnapInfo info(nullptr, a[0], a[1], a[2]);
                   bool links = a.size() > 3 && Bool(a[3]);
                   bool ok = api.GetSnapInfo(info, links);
                   out["info"] = ToJson(info);
                   return ok;
                 }});
  ops.push_back({"GetSnapInfoList", "SID SNAP DEV,...", 3, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   std::list<VMAXSnapInfo> infos;
                   for (const std::string& d : List(a[2]))
                     infos.emplace_back(nullptr, a[0], d, a[1]);
                   bool ok = api.GetSnapInfo(infos);
                   Json j = Json::array();
                   for (const VMAXSnapInfo& i : infos) j.push_back(ToJson(i));
                   out["infos"] = j;
                   return ok;
                 }});
  ops.push_back(ListOp("CreateSnaps", &A::CreateSnaps));
  ops.push_back(ListOp("DeleteSnaps", &A::DeleteSnaps));
  ops.push_back(ListOp("LinkTarget", &A::LinkTarget));
  ops.push_back(ListOp("UnlinkTarget", &A::UnlinkTarget));
  ops.push_back({"GetLinkDevsSnap", "SID DEV SNAP", 3, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   VMAXSnapInfo info(nullptr, a[0], a[1], a[2]);
                   bool ok = api.GetLinkDevsSnap(info);
                   out["info"] = ToJson(info);
                   return ok;
                 }});
  ops.push_back(ListOp("IsSnapLinked", &A::IsSnapLinked));
}

// Storage groups and the host's masking.
void AddMaskingOps(std::vector<Operation>& ops) {
  ops.push_back({"GetSGListByDevice", "SID DEV", 2, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   std::list<std::string> sgs;
                   bool ok = api.GetSGListByDevice(a[0], a[1], sgs);
                   out["sgs"] = sgs;
                   return ok;
                 }});
  ops.push_back({"GetSGListByHBA", "SID WWPN,...", 2, 0, true,
                 [](A& api, const Args& a, Json& out) {
                   std::unordered_map<std::string,
                                      std::unordered_set<std::string>>
                       map;
                   bool ok = api.GetSGListByHBA(a[0], List(a[1]), map);
                   Json j = Json::object();
                   std::map<std::string, std::unordered_set<std::string>>
                       sorted(map.begin(), map.end());
                   for (const auto& e : sorted) j[e.first] = Sorted(e.second);
                   out["sgByHba"] = j;
                   return ok;
                 }});
  ops.push_back({"SGDevAdd", "SID DEV,... SG", 3, 0, false,
                 [](A& api, const Args& a, Json&) {
                   return api.SGDevAdd(a[0], List(a[1]), a[2]);
                 }});
  ops.push_back({"SGDevRemove", "SID DEV,... SG", 3, 0, false,
                 [](A& api, const Args& a, Json&) {
                   return api.SGDevRemove(a[0], List(a[1]), a[2]);
                 }});
  ops.push_back(SetOp("GetDevListBySG", true, &A::GetDevListBySG, nullptr,
                      "devs"));
  ops.push_back({"GetChildSGList", "SID SG", 2, 0, true,
                 [](A& api, const Args& a, Json& out) {
                   std::vector<std::string> children;
                   bool ok = api.GetChildSGList(a[0], a[1], children);
                   out["children"] = children;
                   return ok;
                 }});
  ops.push_back({"GetChildSGListv2", "SID SG", 2, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   std::vector<std::string> children;
                   bool ok = api.GetChildSGListv2(a[0], a[1], children);
                   out["children"] = children;
                   return ok;
                 }});
  ops.push_back(SetOp("GetParentSGList", false, nullptr, &A::GetParentSGList,
                      "sgs"));
  ops.push_back(SetOp("GetDevListLinked", false, nullptr, &A::GetDevListLinked,
                      "devs"));
  ops.push_back(SetOp("GetDevListUnmapped", true, &A::GetDevListUnmapped,
                      nullptr, "devs"));
  ops.push_back({"GetFreeTDEVListBySG", "SID SG", 2, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   std::list<VMAXLun> luns;
                   bool ok = api.GetFreeTDEVListBySG(a[0], a[1], luns);
                   Json j = Json::array();
                   for (const VMAXLun& l : luns) j.push_back(ToJson(l));
                   out["luns"] = j;
                   return ok;
                 }});
  ops.push_back({"IsAllowedWWPN", "WWPN", 1, 0, false,
                 [](A& api, const Args& a, Json&) {
                   return api.IsAllowedWWPN(a[0]);
                 }});
  ops.push_back({"IsAllowedMaskingView", "VIEW", 1, 0, false,
                 [](A& api, const Args& a, Json&) {
                   return api.IsAllowedMaskingView(a[0]);
                 }});
}

// Restores, the Solutions Enabler version and masking views.
void AddRestoreAndViewOps(std::vector<Operation>& ops) {
  ops.push_back(ListOp("RestoreSnaps", &A::RestoreSnaps));
  ops.push_back({"RestoreCleanupAll", "SID DEV,...", 2, 0, false,
                 [](A& api, const Args& a, Json&) {
                   return api.RestoreCleanupAll(a[0], List(a[1]));
                 }});
  ops.push_back({"RestoreCleanup", "SID SNAP DEV,... WAIT", 4, 0, false,
                 [](A& api, const Args& a, Json&) {
                   return api.RestoreCleanup(a[0], a[1], List(a[2]),
                                             Bool(a[3]));
                 }});
  ops.push_back({"GetRestoreSessions", "SID DEV,...", 2, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   std::unordered_map<std::string, std::list<std::string>> s;
                   bool ok = api.GetRestoreSessions(a[0], List(a[1]), s);
                   std::map<std::string, std::list<std::string>> sorted(
                       s.begin(), s.end());
                   Json j = Json::object();
                   for (const auto& e : sorted) j[e.first] = e.second;
                   out["sessions"] = j;
                   return ok;
                 }});
  ops.push_back(
      RestoreOp("WaitForRestoreCompletion", &A::WaitForRestoreCompletion));
  ops.push_back(RestoreOp("DeleteRestoreSessions", &A::DeleteRestoreSessions));
  ops.push_back({"GetSEVersion", "", 0, 0, false,
                 [](A& api, const Args&, Json& out) {
                   unsigned long version = 0;
                   bool ok = api.GetSEVersion(version);
                   out["version"] = version;
                   return ok;
                 }});
  ops.push_back({"GetMVListByInitiator", "SID WWPN", 2, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   std::vector<std::string> views;
                   bool ok = api.GetMVListByInitiator(a[0], a[1], views);
                   out["views"] = views;
                   return ok;
                 }});
  ops.push_back({"MaskViewInfoByName", "SID VIEW", 2, 0, false,
                 [](A& api, const Args& a, Json& out) {
                   VMAXMaskViewInfo info;
                   bool ok = api.MaskViewInfoByName(a[0], a[1], info);
                   out["view"] = ToJson(info);
                   return ok;
                 }});
}

std::vector<Operation> Build() {
  std::vector<Operation> ops;
  AddDeviceAndSnapOps(ops);
  AddMaskingOps(ops);
  AddRestoreAndViewOps(ops);
  return ops;
}

}  // namespace

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = Build();
  return ops;
}

const Operation* FindOperation(const std::string& name) {
  for (const Operation& op : Operations())
    if (name == op.name) return &op;
  return nullptr;
}

std::string OperationsHelp() {
  std::string text = "Operations:\n";
  for (const Operation& op : Operations()) {
    std::string line = std::string("  ") + op.name;
    if (*op.usage) line += std::string(" ") + op.usage;
    text += line + "\n";
  }
  text +=
      "\nLists are comma-separated. SOURCE[:TARGET] pairs give the devices of "
      "one snapshot;\nthe snapshot name and the array serial (SID) are plain "
      "arguments. WAIT and\nWITH_LINK_DEVS are true or false. --set KEY=VALUE "
      "gives additional settings and\nsnap configs (bSymmVerboseLogging=1, "
      "SMCONFIG_LINK_DEVICE_STORAGE_GROUP=tgt_sg).\nExit status: 0 when the "
      "operation returned true, 1 when it returned false,\n2 on a usage "
      "error.\n";
  return text;
}

}  // namespace pzarray
