// The verbs of pzhost. Each returns the exit code (0 success, 1 failure,
// 2 partial) and reports through the session's Output.
#pragma once

#include <string>
#include <vector>

#include "pzhost/Session.h"

namespace pzhost {

struct InitOptions {
  std::string symcliHome;
  std::string simulatedHost;
  std::string clientName;
  std::string dbBackend;   // empty: keep the home's (sqlite for a new one)
  std::string dbConninfo;  // postgresql only; never with a password
  std::string dbPassfile;  // postgresql only; made absolute
};
int RunInit(const GlobalOptions& global, Output* out, const InitOptions& o);

struct ArrayOptions {
  std::string serial;
  int number = 0;
  std::string host;
  std::string user;
  std::string passwordFile;  // "-": standard input
  int engineId = 0;
};
int RunArrayAdd(Session& s, const ArrayOptions& o);
int RunArrayList(Session& s);
// Removes the array (by serial, else by `number`) and its details, unless
// targets of it are reserved.
int RunArrayRemove(Session& s, const std::string& serial, int number);

// Refuses a value its reader would not take as meant; a key nothing reads
// is stored only with `force`.
int RunConfigSet(Session& s, bool snap, const std::string& section,
                 const std::string& key, const std::string& value, bool force);
int RunConfigGet(Session& s, bool snap, const std::string& section,
                 const std::string& key);
int RunConfigList(Session& s, bool snap, const std::string& section);
int RunConfigUnset(Session& s, bool snap, const std::string& section,
                   const std::string& key);

int RunDevices(Session& s);
int RunSupported(Session& s, const std::string& device);

int RunBackup(Session& s, const std::vector<std::string>& devices, bool wwn,
              bool postSnap);
int RunList(Session& s, bool all);
int RunMount(Session& s, int snapshotId, bool clone);
// unmount, revert and delete: `dryRun` shows from the catalog what the verb
// would act on and changes nothing; a revert asks on the terminal unless
// `yes` (and is refused without a terminal).
struct ChangeOptions {
  bool dryRun = false;
  bool yes = false;
};
int RunUnmount(Session& s, int snapshotId, const ChangeOptions& o);
int RunRevert(Session& s, int snapshotId, const ChangeOptions& o);
int RunDelete(Session& s, int snapshotId, const ChangeOptions& o);
int RunReconcile(Session& s);
// Takes into the catalog, as created, the devices of a snapshot that its
// array holds though the backup job never recorded them (an interrupted
// backup that reconcile reported).
int RunAdopt(Session& s, int snapshotId);

int RunReservations(Session& s, bool reconcile);
// The job history (jobId 0), or one job with the timeline of its commands.
int RunJobs(Session& s, long long jobId);
// Releases the reservations held by the devices of `snapshot` whose targets
// the array no longer has linked (what an interrupted mount or unmount may
// leave). False with the reason when the array cannot be asked.
bool ReleaseUnlinkedReservations(Session& s, const SnapshotRecord& snapshot,
                                 int* released, std::string* error);
int RunExecRemote(Session& s);

struct DemoOptions {
  std::string symsim;  // the simulator's admin program; empty: next to pzhost
  std::string keep;    // keep the demo world in this directory
};
int RunDemo(const GlobalOptions& global, Output* out, const DemoOptions& o);

}  // namespace pzhost
