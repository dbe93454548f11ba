// Exported snap-engine entry points and the operation workers.
#pragma once

#include <list>
#include <map>
#include <string>

#include "common/VMAXParams.h"
#include "common/Vocabulary.h"

#define PZSO_EXPORT extern "C" __attribute__((visibility("default")))

// Message ids of remote execution.
enum RemoteMsgId : short {
  REMOTE_MSG_PREPARE = 1,
  REMOTE_MSG_SNAP = 2,
  REMOTE_MSG_REVERT = 3,
  REMOTE_MSG_RECONCILE = 4,
  REMOTE_MSG_MAP = 5,
  REMOTE_MSG_UNMAP = 6,
  REMOTE_MSG_DELETE = 7,
  REMOTE_MSG_PREPARE_REMOTE = 8,
  REMOTE_MSG_POST_SNAP = 9,
};

PZSO_EXPORT void pzso_version(unsigned short* major, unsigned short* minor,
                              unsigned short* patch);
PZSO_EXPORT int pzso_isSupported(const char* deviceName, int snapType,
                                 void* context, char* errorBuffer,
                                 short errorBufferSize);
PZSO_EXPORT int pzso_identifyDevices(SnapInfo** requests, short count,
                                     DeviceMap* devices, int mode, void* extra,
                                     PZOSUtil* util);
PZSO_EXPORT int pzso_prepareDevices(SnapInfo** requests, short count,
                                    PZOSUtil* util);
PZSO_EXPORT int pzso_preSnapDevices(SnapInfo** requests, short count,
                                    PZOSUtil* util);
PZSO_EXPORT int pzso_snapDevices(SnapInfo** requests, short count,
                                 PZOSUtil* util);
PZSO_EXPORT int pzso_postSnapDevices(SnapInfo** requests, short count,
                                     PZOSUtil* util);
PZSO_EXPORT int pzso_mapSnaps(SnapInfo** requests, short count, PZOSUtil* util);
PZSO_EXPORT int pzso_isMapped(SnapInfo** requests, short count, PZOSUtil* util);
PZSO_EXPORT int pzso_unmapSnaps(SnapInfo** requests, short count,
                                PZOSUtil* util);
PZSO_EXPORT int pzso_deleteSnaps(SnapInfo** requests, short count,
                                 PZOSUtil* util);
PZSO_EXPORT int pzso_revertSnaps(SnapInfo** requests, short count,
                                 PZOSUtil* util);
PZSO_EXPORT int pzso_reconcileSnaps(SnapInfo** requests, short count,
                                    PZOSUtil* util);
PZSO_EXPORT int pzso_prepareRemoteSnaps(SnapInfo** requests, short count,
                                        PZOSUtil* util);
PZSO_EXPORT int pzso_execSnapEngineOp(SnapInfo** requests, short count,
                                      PZOSUtil* util);

// Dispatch helpers.
bool validateInputParams(SnapInfo** requests, short count, PZOSUtil* util);
void setError(SnapInfo* request, int code, const char* text);
std::string getRemoteOpNameUsingMsgId(short msgId);
void setErrorMessage(const char* text, char* buffer, short size);

// Workers.
int vmax_prepareWorker(SnapInfo** r, short n, PZOSUtil* u, bool allowRemote);
int vmax_snapWorker(SnapInfo** r, short n, PZOSUtil* u, bool allowRemote);
int vmax_postSnapWorker(SnapInfo** r, short n, PZOSUtil* u, bool allowRemote);
int vmax_deleteWorker(SnapInfo** r, short n, PZOSUtil* u, bool allowRemote);
int vmax_reconcileWorker(SnapInfo** r, short n, PZOSUtil* u, bool allowRemote);
int vmax_revertWorker(SnapInfo** r, short n, PZOSUtil* u, bool allowRemote);
int vmax_prepareRemoteWorker(SnapInfo** r, short n, PZOSUtil* u,
                             bool allowRemote);
int vmax_SRDFMetroWorker(SnapInfo** r, short n, PZOSUtil* u);
int vmax_mapWorker(SnapInfo** r, short n, PZOSUtil* u, VMAX_HBAs& hbas,
                   bool allowRemote);
int vmax_mapWorkerWrapper(SnapInfo** r, short n, PZOSUtil* u);
int vmax_unmapWorker(SnapInfo** r, short n, PZOSUtil* u, bool allowRemote);

// Remote snap MA.
bool getRemoteSnapMA(SnapInfo* si, std::string& name);
std::string getLocalClientName();
int executeOnRemoteMA(SnapInfo** requests, short count, PZOSUtil* util,
                      const std::string& remoteMA, unsigned msgId,
                      const std::string& request, std::string& response);
int ExecuteRemote(SnapInfo** requests, PZOSUtil* util,
                  const std::string& remoteMA);

// Array map request (JSON with "LocalHBA" and "ESXHBA").
bool populateJsonForArrayMapRequest(const VMAX_HBAs& hbas, std::string& json);
bool getDetailsForArrayMapRequest(const std::string& json, VMAX_HBAs& hbas);
