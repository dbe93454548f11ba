// pzhost: the backup host at a shell. It keeps a home (settings, logs, host
// database with the snapshot catalog), loads the snapshot-engine plug-in and
// calls its exports as a backup host would.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pzhost/Home.h"
#include "pzhost/Verbs.h"

using namespace pzhost;

namespace {

// Opens the session of an initialised home and runs `verb` in it.
template <typename Fn>
int WithSession(const GlobalOptions& global, Output* out, bool withDatabase,
                Fn verb) {
  Session session(global, out);
  std::string error;
  int code;
  if (!session.Open(&error, withDatabase)) {
    out->Error(error);
    code = kExitFailure;
  } else {
    code = verb(session);
  }
  out->Finish(code);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"pzhost: a backup host for the PZSOVMAX snapshot engine"};
  app.require_subcommand(1);
  GlobalOptions global;
  app.add_option("--home", global.home,
                 "host home directory (default $PZHOST_HOME or ~/.pzhost)");
  app.add_option("--plugin", global.plugin, "path of libPZSOVMAX.so");
  app.add_flag("--json", global.json, "print one JSON document");
  app.add_flag("--verbose,-v", global.verbose,
               "show the plug-in's progress lines live");

  InitOptions init;
  auto* initCmd = app.add_subcommand("init", "create or upgrade a home");
  initCmd->add_option("--symcli-home", init.symcliHome,
                      "Solutions Enabler home (SYMAPI_HOME_DIR; tools in bin/)")
      ->required();
  initCmd->add_option("--simulated-host", init.simulatedHost,
                      "host name in a simulated world");
  initCmd->add_option("--client-name", init.clientName,
                      "name this host goes by among backup hosts");
  initCmd->add_option("--db-backend", init.dbBackend,
                      "host database: sqlite (this home's file, the default) "
                      "or postgresql (a server several hosts share)")
      ->check(CLI::IsMember({"sqlite", "postgresql"}));
  initCmd->add_option("--db-conninfo", init.dbConninfo,
                      "PostgreSQL connection string without a password "
                      "(host=... port=... dbname=... user=...)");
  initCmd->add_option("--db-passfile", init.dbPassfile,
                      "PostgreSQL password file of mode 0600 (default: "
                      "PGPASSFILE or ~/.pgpass)");

  auto* arrayCmd = app.add_subcommand("array", "arrays this host knows");
  arrayCmd->require_subcommand(1);
  ArrayOptions arrayOpts;
  auto* arrayAdd = arrayCmd->add_subcommand("add", "add or replace an array");
  arrayAdd->add_option("--serial", arrayOpts.serial, "12-digit array serial")
      ->required();
  arrayAdd->add_option("--num", arrayOpts.number, "host array number")
      ->required();
  arrayAdd->add_option("--host", arrayOpts.host, "control host");
  arrayAdd->add_option("--user", arrayOpts.user, "user on the control host");
  arrayAdd->add_option("--password-file", arrayOpts.passwordFile,
                       "file holding the password ('-': standard input)");
  arrayAdd->add_option("--engine-id", arrayOpts.engineId,
                       "snap engine id serving the array");
  auto* arrayList = arrayCmd->add_subcommand("list", "list arrays");

  auto* configCmd = app.add_subcommand("config", "snap configs and settings");
  configCmd->require_subcommand(1);
  bool snap = false;
  std::string section, key, value;
  auto addScope = [&](CLI::App* c) {
    auto* s = c->add_flag("--snap", snap, "a snap config of this home");
    c->add_option("--setting", section, "a settings.ini section")
        ->excludes(s);
  };
  auto* configSet = configCmd->add_subcommand("set", "set a value");
  addScope(configSet);
  configSet->add_option("key", key)->required();
  configSet->add_option("value", value)->required();
  auto* configGet = configCmd->add_subcommand("get", "show a value");
  addScope(configGet);
  configGet->add_option("key", key)->required();
  auto* configUnset = configCmd->add_subcommand("unset", "remove a value");
  addScope(configUnset);
  configUnset->add_option("key", key)->required();
  auto* configList = configCmd->add_subcommand("list", "list values");
  addScope(configList);

  auto* devicesCmd = app.add_subcommand("devices", "host devices by inquiry");
  std::string device;
  auto* supportedCmd =
      app.add_subcommand("supported", "exit 0 when the plug-in supports DEVICE");
  supportedCmd->add_option("device", device)->required();

  std::vector<std::string> sources;
  bool wwn = false, postSnap = false;
  auto* backupCmd = app.add_subcommand("backup", "snapshot devices (one job)");
  backupCmd->add_flag("--wwn", wwn, "sources are 32-digit device WWNs");
  backupCmd->add_flag("--post-snap", postSnap,
                      "take the snapshot in the post-snap call");
  backupCmd->add_option("devices", sources, "source devices")->required();

  bool all = false;
  auto* listCmd = app.add_subcommand("list", "the snapshot catalog");
  listCmd->add_flag("--all", all, "include deleted snapshots");

  int snapshotId = 0;
  bool clone = false;
  auto* mountCmd = app.add_subcommand("mount", "mount a snapshot on this host");
  mountCmd->add_option("snapshot", snapshotId)->required();
  mountCmd->add_flag("--clone", clone, "clone mount");
  auto* unmountCmd = app.add_subcommand("unmount", "unmount a snapshot");
  unmountCmd->add_option("snapshot", snapshotId)->required();
  auto* revertCmd =
      app.add_subcommand("revert", "restore the sources from a snapshot");
  revertCmd->add_option("snapshot", snapshotId)->required();
  auto* deleteCmd = app.add_subcommand("delete", "delete a snapshot");
  deleteCmd->add_option("snapshot", snapshotId)->required();
  auto* reconcileCmd = app.add_subcommand(
      "reconcile", "check the catalog's snapshots against the arrays");

  bool reconcileReservations = false;
  auto* reservationsCmd =
      app.add_subcommand("reservations", "target device reservations");
  reservationsCmd->add_flag("--reconcile", reconcileReservations,
                            "remove reservations of unlinked targets of "
                            "ended jobs");

  auto* execRemoteCmd = app.add_subcommand(
      "exec-remote", "run a forwarded request array (JSON on standard input)");

  DemoOptions demo;
  auto* demoCmd =
      app.add_subcommand("demo", "the whole lifecycle in a simulated world");
  demoCmd->add_option("--symsim", demo.symsim, "path of the symsim program");
  demoCmd->add_option("--keep", demo.keep,
                      "build the demo in this (new) directory and keep it");

  auto* versionCmd = app.add_subcommand("version", "the plug-in's version");

  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    sub->fallthrough();
  for (CLI::App* sub : {arrayAdd, arrayList, configSet, configGet, configUnset,
                        configList})
    sub->fallthrough();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? kExitSuccess : kExitFailure;
  }

  Output out(global.json, global.verbose);
  if (*initCmd) {
    init.symcliHome = AbsolutePath(init.symcliHome);
    int code = RunInit(global, &out, init);
    out.Finish(code);
    return code;
  }
  if (*demoCmd) {
    int code = RunDemo(global, &out, demo);
    out.Finish(code);
    return code;
  }
  if (*execRemoteCmd) {
    // Standard output carries the answer only.
    Output quiet(true, global.verbose);
    Session session(global, &quiet);
    std::string error;
    if (!session.Open(&error)) {
      fprintf(stderr, "pzhost: %s\n", error.c_str());
      return kExitFailure;
    }
    return RunExecRemote(session);
  }
  // Editing the home's own settings and configs needs no host database (so a
  // home whose server is unreachable can still be pointed elsewhere).
  bool withDatabase = !*configCmd && !*listCmd;
  return WithSession(global, &out, withDatabase, [&](Session& s) -> int {
    if (*arrayAdd) return RunArrayAdd(s, arrayOpts);
    if (*arrayList) return RunArrayList(s);
    if (*configSet) return RunConfigSet(s, snap, section, key, value);
    if (*configGet) return RunConfigGet(s, snap, section, key);
    if (*configUnset) return RunConfigUnset(s, snap, section, key);
    if (*configList) return RunConfigList(s, snap, section);
    if (*devicesCmd) return RunDevices(s);
    if (*supportedCmd) return RunSupported(s, device);
    if (*backupCmd) return RunBackup(s, sources, wwn, postSnap);
    if (*listCmd) return RunList(s, all);
    if (*mountCmd) return RunMount(s, snapshotId, clone);
    if (*unmountCmd) return RunUnmount(s, snapshotId);
    if (*revertCmd) return RunRevert(s, snapshotId);
    if (*deleteCmd) return RunDelete(s, snapshotId);
    if (*reconcileCmd) return RunReconcile(s);
    if (*reservationsCmd) return RunReservations(s, reconcileReservations);
    if (*versionCmd) {
      std::string error;
      if (!s.LoadPlugin(&error)) {
        s.out().Error(error);
        return kExitFailure;
      }
      s.out().Line(s.plugin().path() + " " + s.plugin().VersionText());
      s.out().doc()["plugin"] = s.plugin().path();
      s.out().doc()["version"] = s.plugin().VersionText();
      return kExitSuccess;
    }
    s.out().Error("unknown verb");
    return kExitFailure;
  });
}
