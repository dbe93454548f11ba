// The skeleton, status counting and target naming shared by the workers.
#include "engine/WorkerSupport.h"

#include <memory>

#include "config/VMAXConfig.h"
#include "orchestration/ArraySession.h"
#include "orchestration/VMAXAPI.h"

bool beginWorker(SnapInfo** requests, short count, PZOSUtil* util, bool allowRemote,
                 const char* function, const char* operation, unsigned msgId,
                 int* result) {
  *result = PZ_RESULT_FAILURE;
  if (!validateInputParams(requests, count, util)) return true;
  requests[0]->log(LOG_PROGRESS, function, "Starting %s operation for [%d] snaps",
                   operation, count);
  return allowRemote &&
         forwardToRemoteSnapMA(requests, count, util, function, msgId, result);
}

std::map<int, std::vector<SnapInfo*>> groupByArrayNum(SnapInfo** requests, short count) {
  std::map<int, std::vector<SnapInfo*>> groups;
  for (short i = 0; i < count; ++i)
    groups[requests[i]->getArrayNum()].push_back(requests[i]);
  return groups;
}

VMAXSnapParam& addToList(ListsByName& lists, SnapInfo* si, const VMAXMetadata& md) {
  VMAXSnapParam p(si);
  p.snapUid = md.snapName;
  p.sourceDevice = md.sourceDevice;
  auto it = lists.find(md.snapName);
  if (it == lists.end()) {
    it = lists.emplace(md.snapName, VMAXSnapParamList()).first;
    it->second.serial = md.arraySerial;
  }
  it->second.params.push_back(p);
  return it->second.params.back();
}

std::string batchDescription(const VMAXSnapParamList& list) {
  std::string d = list.serial + "-";
  for (const auto& p : list.params) d += p.snapUid + " ";
  return d;
}

bool runOnLists(ListsByName& lists, SnapInfo* first, PZOSUtil* util,
                const ListStep& step) {
  for (auto& entry : lists) {
    VMAXSnapParamList& list = entry.second;
    if (list.params.empty()) continue;
    SnapInfo* head = list.params.front().snapInfo;
    std::shared_ptr<VMAXAPI> api =
        initArrayParams(head, util, list.serial, step.sessionFailStatus);
    if (!api) {
      first->log(LOG_FAILURE, step.function, "Failed to initialize the array parameters");
      if (step.markListWithoutSession)
        for (auto& p : list.params) p.snapInfo->setStatus(step.sessionFailStatus);
      if (step.stopOnFailure) return false;
      continue;
    }
    std::string description =
        step.describeBySnapName ? list.params.front().snapUid : batchDescription(list);
    if (!step.run(*api, list)) {
      first->log(LOG_FAILURE, step.function, "%s [%s]", step.failedText,
                 description.c_str());
      if (step.stopOnFailure) return false;
    } else {
      first->log(LOG_DETAIL, step.function, "%s [%s]", step.doneText,
                 description.c_str());
    }
  }
  return true;
}

void setAllStatus(SnapInfo** requests, short count, int status) {
  for (short i = 0; i < count; ++i) requests[i]->setStatus(status);
}

int countStatus(SnapInfo** requests, short count, int status) {
  int n = 0;
  for (short i = 0; i < count; ++i) n += requests[i]->getStatus() == status;
  return n;
}

int partialResult(SnapInfo** requests, short count, int status) {
  int n = countStatus(requests, count, status);
  if (n == count) return PZ_RESULT_SUCCESS;
  return n > 0 ? PZ_RESULT_PARTIAL : PZ_RESULT_FAILURE;
}

std::string snapDeviceName(SnapInfo* si, const VMAXMetadata& md) {
  if (si->isSnapFlagSet(PZSO::SNAP_FLAG_CLONE_MOUNT))
    return "PZ_LD_Clone_" + getMountSnapId(si);
  return "PZ_LD_" + md.snapName;
}
