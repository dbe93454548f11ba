// Pieces every operation worker shares: the remote snap MA decision, status
// counting and the name under which a mount presents a linked target.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/PZSOVMAX.h"
#include "common/VMAXParams.h"

class VMAXAPI;

// The opening of the delete, reconcile and revert workers: checks the call,
// logs "Starting <operation> operation for [N] snaps" and forwards the call
// to a remote snap MA when one is configured. True when the worker is done,
// with its result in `result`; false when it goes on here.
bool beginWorker(SnapInfo** requests, short count, PZOSUtil* util, bool allowRemote,
                 const char* function, const char* operation, unsigned msgId,
                 int* result);

// Requests by array number, in array-number order.
std::map<int, std::vector<SnapInfo*>> groupByArrayNum(SnapInfo** requests, short count);

// Snapshot lists of one array-number group, by snapshot name.
using ListsByName = std::map<std::string, VMAXSnapParamList>;
// Adds the request to the list of its snapshot (made with the snapshot's
// array serial when new); returns its param there.
VMAXSnapParam& addToList(ListsByName& lists, SnapInfo* si, const VMAXMetadata& md);

// "<serial>-<name> <name> ...", as the batch lines name a list.
std::string batchDescription(const VMAXSnapParamList& list);

// What an operation does with each snapshot list of a group: one array
// session per list, then `run`; the outcome is logged with `failedText` or
// `doneText` and the list's description.
struct ListStep {
  const char* function;
  PZSO::SnapStatus sessionFailStatus;  // set by the session's setup when it fails
  bool markListWithoutSession;  // a list without a session gets that status
  bool stopOnFailure;           // a failed list ends all array work
  bool describeBySnapName;      // the list is named by its snapshot only
  const char* failedText;
  const char* doneText;
  std::function<bool(VMAXAPI&, VMAXSnapParamList&)> run;
};

// Runs `step` on every non-empty list; false when a failure stopped it.
bool runOnLists(ListsByName& lists, SnapInfo* first, PZOSUtil* util, const ListStep& step);

// Asks whether the operation belongs to a remote snap MA. Returns false when
// the worker is to run here; true when it was forwarded, with the forward's
// result in `result`.
bool forwardToRemoteSnapMA(SnapInfo** requests, short count, PZOSUtil* util,
                           const char* function, unsigned msgId, int* result);

// Whether a remote snap MA other than this client is configured; logs the
// "same client" line when it names this client.
bool remoteSnapMAOther(SnapInfo* first, const char* function,
                       std::string& remoteMA);

void setAllStatus(SnapInfo** requests, short count, int status);
int countStatus(SnapInfo** requests, short count, int status);
// 0 when all reached the status, 2 when some did, 1 when none did.
int partialResult(SnapInfo** requests, short count, int status);

// "PZ_LD_Clone_<mount id>" for a clone mount, else "PZ_LD_<snapshot name>".
std::string snapDeviceName(SnapInfo* si, const VMAXMetadata& md);

// Whole decimal number of a remote-execution item; false for any other text.
bool parseDecimal(const std::string& text, long& value);
