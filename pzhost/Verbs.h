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

int RunConfigSet(Session& s, bool snap, const std::string& section,
                 const std::string& key, const std::string& value);
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
int RunUnmount(Session& s, int snapshotId);
int RunRevert(Session& s, int snapshotId);
int RunDelete(Session& s, int snapshotId);
int RunReconcile(Session& s);

int RunReservations(Session& s, bool reconcile);
int RunExecRemote(Session& s);

struct DemoOptions {
  std::string symsim;  // the simulator's admin program; empty: next to pzhost
  std::string keep;    // keep the demo world in this directory
};
int RunDemo(const GlobalOptions& global, Output* out, const DemoOptions& o);

}  // namespace pzhost
