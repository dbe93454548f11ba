// pzhost: the backup host at a shell. It keeps a home (settings, logs, host
// database with the snapshot catalog), loads the snapshot-engine plug-in and
// calls its exports as a backup host would.
#include <CLI/CLI.hpp>
#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "hostruntime/ProcessRunner.h"
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

// SIGINT, SIGTERM and SIGHUP stop the job: the running tool's process
// group gets the signal, no new tool starts, waits end, the plug-in call
// fails and its outcome is stored; pzhost then exits with 128 + signal.
void OnStopSignal(int signal) { hostrt::CancelProcesses(signal); }

void InstallStopHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// The name of the first word of `argv` that is neither an option nor the
// value of a global option: the verb the user asked for (empty: none).
std::string RequestedVerb(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--home" || word == "--plugin") {
      ++i;
      continue;
    }
    if (!word.empty() && word[0] == '-') continue;
    return word;
  }
  return std::string();
}

bool AskedForJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--json") return true;
  return false;
}

// The verb path of the parsed command line ("array add").
std::string VerbOf(CLI::App& app) {
  std::string verb;
  for (CLI::App* at = &app;;) {
    std::vector<CLI::App*> chosen = at->get_subcommands();
    if (chosen.empty()) return verb;
    at = chosen.front();
    verb += (verb.empty() ? "" : " ") + at->get_name();
  }
}

// A command line pzhost cannot take: said on standard error (and as the
// --json document), exit 2.
int UsageError(CLI::App& app, const CLI::ParseError& e, int argc,
               char** argv) {
  std::string verb = RequestedVerb(argc, argv);
  std::string message = e.what();
  bool known = verb.empty();
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    if (sub->get_name() == verb) known = true;
  if (!known) message = "unknown verb '" + verb + "'";
  Output out(AskedForJson(argc, argv), false);
  if (known && !verb.empty()) out.SetVerb(verb);
  else out.doc()["verb"] = nullptr;
  out.Error(message);
  fprintf(stderr, "Run with --help for more information.\n");
  out.Finish(kExitUsage);
  return kExitUsage;
}

// True (with a message that names the option only) when an argument hands
// a password on the command line.
bool RefuseSecretArguments(int argc, char** argv) {
  static const char* const kSecretOptions[] = {"--password", "--passwd", "--pass"};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") break;
    std::string name = arg.substr(0, arg.find('='));
    for (const char* option : kSecretOptions) {
      if (name != option) continue;
      fprintf(stderr,
              "pzhost: %s is not taken: a password on the command line is seen "
              "by every user of this machine; use --password-file FILE (mode "
              "0600) or --password-file - (standard input)\n",
              option);
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  InstallStopHandlers();
  CLI::App app{"pzhost: a backup host for the PZSOVMAX snapshot engine"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "pzhost " PZ_VERSION);
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
  std::string removeSerial;
  int removeNumber = 0;
  auto* arrayRemove = arrayCmd->add_subcommand(
      "remove", "remove an array whose targets no job holds");
  auto* removeBySerial =
      arrayRemove->add_option("--serial", removeSerial, "12-digit array serial");
  arrayRemove->add_option("--num", removeNumber, "host array number")
      ->excludes(removeBySerial);
  arrayRemove->require_option(1);

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
  bool force = false;
  configSet->add_flag("--force", force, "store a key that nothing reads");
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
  ChangeOptions change;
  auto addDryRun = [&change](CLI::App* c) {
    c->add_flag("--dry-run", change.dryRun,
                "show what it would act on; change nothing");
  };
  auto* unmountCmd = app.add_subcommand("unmount", "unmount a snapshot");
  unmountCmd->add_option("snapshot", snapshotId)->required();
  addDryRun(unmountCmd);
  auto* revertCmd =
      app.add_subcommand("revert", "restore the sources from a snapshot");
  revertCmd->add_option("snapshot", snapshotId)->required();
  addDryRun(revertCmd);
  revertCmd->add_flag("--yes", change.yes, "do not ask for confirmation");
  auto* deleteCmd = app.add_subcommand("delete", "delete a snapshot");
  deleteCmd->add_option("snapshot", snapshotId)->required();
  addDryRun(deleteCmd);
  auto* reconcileCmd = app.add_subcommand(
      "reconcile", "check the catalog's snapshots against the arrays");
  auto* adoptCmd = app.add_subcommand(
      "adopt", "record as created what an interrupted backup left on the array");
  adoptCmd->add_option("snapshot", snapshotId)->required();

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
  long long jobId = 0;
  auto* jobsCmd = app.add_subcommand(
      "jobs", "the job history, or one job's array commands");
  jobsCmd->add_option("job", jobId, "a job id: its commands as a timeline");

  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    sub->fallthrough();
  for (CLI::App* sub : {arrayAdd, arrayList, arrayRemove, configSet, configGet, configUnset,
                        configList})
    sub->fallthrough();

  // A secret on the command line is seen by every user of the machine, and
  // the parser would repeat it in its error: refused here, never echoed.
  if (RefuseSecretArguments(argc, argv)) return kExitUsage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version are not errors.
    if (e.get_exit_code() == int(CLI::ExitCodes::Success)) return app.exit(e);
    return UsageError(app, e, argc, argv);
  }

  Output out(global.json, global.verbose);
  out.SetVerb(VerbOf(app));
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
  bool withDatabase = !*configCmd && !*listCmd && !*jobsCmd;
  return WithSession(global, &out, withDatabase, [&](Session& s) -> int {
    if (*arrayAdd) return RunArrayAdd(s, arrayOpts);
    if (*arrayList) return RunArrayList(s);
    if (*arrayRemove) return RunArrayRemove(s, removeSerial, removeNumber);
    if (*configSet) return RunConfigSet(s, snap, section, key, value, force);
    if (*configGet) return RunConfigGet(s, snap, section, key);
    if (*configUnset) return RunConfigUnset(s, snap, section, key);
    if (*configList) return RunConfigList(s, snap, section);
    if (*devicesCmd) return RunDevices(s);
    if (*supportedCmd) return RunSupported(s, device);
    if (*backupCmd) return RunBackup(s, sources, wwn, postSnap);
    if (*listCmd) return RunList(s, all);
    if (*mountCmd) return RunMount(s, snapshotId, clone);
    if (*unmountCmd) return RunUnmount(s, snapshotId, change);
    if (*revertCmd) return RunRevert(s, snapshotId, change);
    if (*deleteCmd) return RunDelete(s, snapshotId, change);
    if (*reconcileCmd) return RunReconcile(s);
    if (*adoptCmd) return RunAdopt(s, snapshotId);
    if (*reservationsCmd) return RunReservations(s, reconcileReservations);
    if (*jobsCmd) return RunJobs(s, jobId);
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
