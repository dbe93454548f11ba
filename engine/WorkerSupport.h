// Pieces every operation worker shares: the remote snap MA decision, status
// counting and the name under which a mount presents a linked target.
#pragma once

#include <string>

#include "engine/PZSOVMAX.h"
#include "common/VMAXParams.h"

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
