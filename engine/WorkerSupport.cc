// Status counting and target naming shared by the workers.
#include "engine/WorkerSupport.h"

#include "config/VMAXConfig.h"

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
