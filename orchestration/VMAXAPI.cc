// VMAXAPI: initialisation and the snapshot lifecycle (create, delete,
// reconcile, revert). Target selection and mapping live in their own files.
#include "orchestration/VMAXAPI.h"

#include <vector>

#include "orchestration/OrchestrationUtil.h"

using PZSO::SnapInfo;

VMAXAPI::VMAXAPI(SnapInfo* si, PZSO::PZOSUtil* os)
    : arrayApi(), snapInfo(si), osUtil(os), config() {}

bool VMAXAPI::Init(VMAXAPIInitParams& params) {
  config = params.config;
  mode = params.mode;
  arrayApi = ArrayAPI::getInstance(snapInfo, ARRAY_API_CLI);
  bool ok = false;
  if (arrayApi) {
    ArrayAPIInitParams init;
    init.type = ARRAY_API_CLI;
    init.arrayDetails = params.arrayDetails;
    init.config = params.config;
    ok = arrayApi->init(init);
  }
  if (!ok) PZ_LOG(snapInfo, LOG_FAILURE, "Init", "Failed to initialize ArrayAPI");
  return ok;
}

VMAXSnapConfig VMAXAPI::getSnapConfig() const { return config; }

bool VMAXAPI::PrepareSnaps(VMAXSnapParamList& /*list*/) { return true; }

bool VMAXAPI::CreateSnaps(VMAXSnapParamList& list) {
  return arrayApi && arrayApi->CreateSnaps(list);
}

bool VMAXAPI::GetSEVersion(unsigned long& version) {
  return arrayApi && arrayApi->GetSEVersion(version);
}

namespace {

// One query record per param, in param order, and the names for the log.
void BuildSnapQuery(const VMAXSnapParamList& l,
                    std::list<VMAXSnapInfo>& query, std::string& names) {
  for (const VMAXSnapParam& p : l.params) {
    query.emplace_back(p.snapInfo, l.serial, p.sourceDevice, p.snapUid);
    names += p.snapUid + " ";
  }
}

void LogMissingSnap(SnapInfo* si, const char* fn, const VMAXSnapInfo& q,
                    const std::string& serial) {
  PZ_LOG(si, LOG_FAILURE, fn, "Snap [%s] source [%s] does not exist on array [%s]",
         q.snapName.c_str(), q.srcDev.c_str(), serial.c_str());
}

}  // namespace

bool VMAXAPI::DeleteSnaps(VMAXSnapParamList& l) {
  static const char* kFn = "DeleteSnaps";
  if (!arrayApi) return false;
  VMAXSnapParamList del(l);
  del.params.clear();
  std::list<VMAXSnapInfo> query;
  std::string names;
  BuildSnapQuery(l, query, names);
  if (!arrayApi->GetSnapInfo(query)) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Failed to check status of snaps [%s] on array [%s]", names.c_str(),
           l.serial.c_str());
    return false;
  }
  // Query records stand in param order: record i answers for param i, so
  // devices that share a host snap id are still judged one by one.
  auto param = l.params.begin();
  for (const VMAXSnapInfo& q : query) {
    if (param == l.params.end()) break;
    if (q.exists) {
      del.params.push_back(*param);
    } else {
      LogMissingSnap(snapInfo, kFn, q, l.serial);
      SetOutcome(param->snapInfo, PZSO::SNAP_STATUS_DELETED);
    }
    ++param;
  }
  if (del.params.empty()) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "All the snaps are already deleted.");
    return true;
  }
  if (!config.bSkipRestoreCleanup &&
      !arrayApi->RestoreCleanup(del.serial, del.params.front().snapUid,
                                SourcesOf(del), true)) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Failed to cleanup restore session, delete operation may fail");
  }
  if (arrayApi->DeleteSnaps(del)) {
    for (const VMAXSnapParam& p : del.params)
      SetOutcome(p.snapInfo, PZSO::SNAP_STATUS_DELETED);
    return true;
  }
  for (const VMAXSnapParam& p : del.params)
    SetStatusOnly(p.snapInfo, PZSO::SNAP_STATUS_DELETE_FAILED);
  return false;
}

bool VMAXAPI::ReconcileSnaps(VMAXSnapParamList& l) {
  static const char* kFn = "ReconcileSnaps";
  if (!arrayApi) return false;
  std::list<VMAXSnapInfo> query;
  std::string names;
  BuildSnapQuery(l, query, names);
  if (!arrayApi->GetSnapInfo(query)) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Failed to check status of snaps [%s] on array [%s]", names.c_str(),
           l.serial.c_str());
    return false;
  }
  for (const VMAXSnapInfo& q : query) {
    if (q.exists) continue;
    LogMissingSnap(snapInfo, kFn, q, l.serial);
    SetOutcome(q.snapInfo, PZSO::SNAP_STATUS_VANISHED);
  }
  return true;
}

bool VMAXAPI::RevertSnaps(VMAXSnapParamList& l) {
  static const char* kFn = "RevertSnaps";
  if (!arrayApi) return false;
  if (!arrayApi->RestoreCleanupAll(l.serial, SourcesOf(l))) return false;
  if (arrayApi->RestoreSnaps(l)) {
    PZ_LOG(snapInfo, LOG_DETAIL, kFn, "Success");
    for (const VMAXSnapParam& p : l.params)
      SetOutcome(p.snapInfo, PZSO::SNAP_STATUS_REVERTED);
    return true;
  }
  PZ_LOG(snapInfo, LOG_DETAIL, kFn, "Failed");
  for (const VMAXSnapParam& p : l.params)
    SetOutcome(p.snapInfo, PZSO::SNAP_STATUS_REVERT_FAILED);
  return false;
}
