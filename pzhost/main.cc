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

// Everything the command line may set, and the verbs it may choose.
struct CommandLine {
  GlobalOptions global;
  InitOptions init;
  ArrayOptions arrayOpts;
  std::string removeSerial;
  int removeNumber = 0;
  bool snap = false, force = false;
  std::string section, key, value;
  std::string device;
  std::vector<std::string> sources;
  bool wwn = false, postSnap = false, all = false, clone = false;
  int snapshotId = 0;
  ChangeOptions change;
  bool reconcileReservations = false;
  DemoOptions demo;
  long long jobId = 0;

  CLI::App *initCmd, *arrayCmd, *arrayAdd, *arrayList, *arrayRemove;
  CLI::App *configCmd, *configSet, *configGet, *configUnset, *configList;
  CLI::App *devicesCmd, *supportedCmd, *backupCmd, *listCmd, *mountCmd;
  CLI::App *unmountCmd, *revertCmd, *deleteCmd, *reconcileCmd, *adoptCmd;
  CLI::App *reservationsCmd, *execRemoteCmd, *demoCmd, *versionCmd, *jobsCmd;
};

void AddGlobalAndInit(CLI::App& app, CommandLine& c) {
  app.add_option("--home", c.global.home,
                 "host home directory (default $PZHOST_HOME or ~/.pzhost)");
  app.add_option("--plugin", c.global.plugin, "path of libPZSOVMAX.so");
  app.add_flag("--json", c.global.json, "print one JSON document");
  app.add_flag("--verbose,-v", c.global.verbose,
               "show the plug-in's progress lines live");
  c.initCmd = app.add_subcommand("init", "create or upgrade a home");
  c.initCmd->add_option("--symcli-home", c.init.symcliHome,
                        "Solutions Enabler home (SYMAPI_HOME_DIR; tools in bin/)")
      ->required();
  c.initCmd->add_option("--simulated-host", c.init.simulatedHost,
                        "host name in a simulated world");
  c.initCmd->add_option("--client-name", c.init.clientName,
                        "name this host goes by among backup hosts");
  c.initCmd->add_option("--db-backend", c.init.dbBackend,
                        "host database: sqlite (this home's file, the default) "
                        "or postgresql (a server several hosts share)")
      ->check(CLI::IsMember({"sqlite", "postgresql"}));
  c.initCmd->add_option("--db-conninfo", c.init.dbConninfo,
                        "PostgreSQL connection string without a password "
                        "(host=... port=... dbname=... user=...)");
  c.initCmd->add_option("--db-passfile", c.init.dbPassfile,
                        "PostgreSQL password file of mode 0600 (default: "
                        "PGPASSFILE or ~/.pgpass)");
}

void AddArrayAndConfig(CLI::App& app, CommandLine& c) {
  c.arrayCmd = app.add_subcommand("array", "arrays this host knows");
  c.arrayCmd->require_subcommand(1);
  c.arrayAdd = c.arrayCmd->add_subcommand("add", "add or replace an array");
  c.arrayAdd->add_option("--serial", c.arrayOpts.serial, "12-digit array serial")
      ->required();
  c.arrayAdd->add_option("--num", c.arrayOpts.number, "host array number")->required();
  c.arrayAdd->add_option("--host", c.arrayOpts.host, "control host");
  c.arrayAdd->add_option("--user", c.arrayOpts.user, "user on the control host");
  c.arrayAdd->add_option("--password-file", c.arrayOpts.passwordFile,
                         "file holding the password ('-': standard input)");
  c.arrayAdd->add_option("--engine-id", c.arrayOpts.engineId,
                         "snap engine id serving the array");
  c.arrayList = c.arrayCmd->add_subcommand("list", "list arrays");
  c.arrayRemove = c.arrayCmd->add_subcommand(
      "remove", "remove an array whose targets no job holds");
  auto* removeBySerial =
      c.arrayRemove->add_option("--serial", c.removeSerial, "12-digit array serial");
  c.arrayRemove->add_option("--num", c.removeNumber, "host array number")
      ->excludes(removeBySerial);
  c.arrayRemove->require_option(1);

  c.configCmd = app.add_subcommand("config", "snap configs and settings");
  c.configCmd->require_subcommand(1);
  auto addScope = [&c](CLI::App* sub) {
    auto* s = sub->add_flag("--snap", c.snap, "a snap config of this home");
    sub->add_option("--setting", c.section, "a settings.ini section")->excludes(s);
  };
  c.configSet = c.configCmd->add_subcommand("set", "set a value");
  addScope(c.configSet);
  c.configSet->add_option("key", c.key)->required();
  c.configSet->add_option("value", c.value)->required();
  c.configSet->add_flag("--force", c.force, "store a key that nothing reads");
  c.configGet = c.configCmd->add_subcommand("get", "show a value");
  addScope(c.configGet);
  c.configGet->add_option("key", c.key)->required();
  c.configUnset = c.configCmd->add_subcommand("unset", "remove a value");
  addScope(c.configUnset);
  c.configUnset->add_option("key", c.key)->required();
  c.configList = c.configCmd->add_subcommand("list", "list values");
  addScope(c.configList);
}

void AddSnapshotVerbs(CLI::App& app, CommandLine& c) {
  c.devicesCmd = app.add_subcommand("devices", "host devices by inquiry");
  c.supportedCmd =
      app.add_subcommand("supported", "exit 0 when the plug-in supports DEVICE");
  c.supportedCmd->add_option("device", c.device)->required();
  c.backupCmd = app.add_subcommand("backup", "snapshot devices (one job)");
  c.backupCmd->add_flag("--wwn", c.wwn, "sources are 32-digit device WWNs");
  c.backupCmd->add_flag("--post-snap", c.postSnap,
                        "take the snapshot in the post-snap call");
  c.backupCmd->add_option("devices", c.sources, "source devices")->required();
  c.listCmd = app.add_subcommand("list", "the snapshot catalog");
  c.listCmd->add_flag("--all", c.all, "include deleted snapshots");
  c.mountCmd = app.add_subcommand("mount", "mount a snapshot on this host");
  c.mountCmd->add_option("snapshot", c.snapshotId)->required();
  c.mountCmd->add_flag("--clone", c.clone, "clone mount");
  auto addDryRun = [&c](CLI::App* sub) {
    sub->add_flag("--dry-run", c.change.dryRun, "show what it would act on; change nothing");
  };
  c.unmountCmd = app.add_subcommand("unmount", "unmount a snapshot");
  c.unmountCmd->add_option("snapshot", c.snapshotId)->required();
  addDryRun(c.unmountCmd);
  c.revertCmd = app.add_subcommand("revert", "restore the sources from a snapshot");
  c.revertCmd->add_option("snapshot", c.snapshotId)->required();
  addDryRun(c.revertCmd);
  c.revertCmd->add_flag("--yes", c.change.yes, "do not ask for confirmation");
  c.deleteCmd = app.add_subcommand("delete", "delete a snapshot");
  c.deleteCmd->add_option("snapshot", c.snapshotId)->required();
  addDryRun(c.deleteCmd);
  c.reconcileCmd = app.add_subcommand(
      "reconcile", "check the catalog's snapshots against the arrays");
  c.adoptCmd = app.add_subcommand(
      "adopt", "record as created what an interrupted backup left on the array");
  c.adoptCmd->add_option("snapshot", c.snapshotId)->required();
}

void AddHostVerbs(CLI::App& app, CommandLine& c) {
  c.reservationsCmd = app.add_subcommand("reservations", "target device reservations");
  c.reservationsCmd->add_flag("--reconcile", c.reconcileReservations,
                              "remove reservations of unlinked targets of "
                              "ended jobs");
  c.execRemoteCmd = app.add_subcommand(
      "exec-remote", "run a forwarded request array (JSON on standard input)");
  c.demoCmd = app.add_subcommand("demo", "the whole lifecycle in a simulated world");
  c.demoCmd->add_option("--symsim", c.demo.symsim, "path of the symsim program");
  c.demoCmd->add_option("--keep", c.demo.keep,
                        "build the demo in this (new) directory and keep it");
  c.versionCmd = app.add_subcommand("version", "the plug-in's version");
  c.jobsCmd = app.add_subcommand("jobs", "the job history, or one job's array commands");
  c.jobsCmd->add_option("job", c.jobId, "a job id: its commands as a timeline");
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    sub->fallthrough();
  for (CLI::App* sub : {c.arrayAdd, c.arrayList, c.arrayRemove, c.configSet, c.configGet,
                        c.configUnset, c.configList})
    sub->fallthrough();
}

int RunVersion(Session& s) {
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

// The verbs that run in an opened home.
int RunInSession(Session& s, CommandLine& c) {
  if (*c.arrayAdd) return RunArrayAdd(s, c.arrayOpts);
  if (*c.arrayList) return RunArrayList(s);
  if (*c.arrayRemove) return RunArrayRemove(s, c.removeSerial, c.removeNumber);
  if (*c.configSet) return RunConfigSet(s, c.snap, c.section, c.key, c.value, c.force);
  if (*c.configGet) return RunConfigGet(s, c.snap, c.section, c.key);
  if (*c.configUnset) return RunConfigUnset(s, c.snap, c.section, c.key);
  if (*c.configList) return RunConfigList(s, c.snap, c.section);
  if (*c.devicesCmd) return RunDevices(s);
  if (*c.supportedCmd) return RunSupported(s, c.device);
  if (*c.backupCmd) return RunBackup(s, c.sources, c.wwn, c.postSnap);
  if (*c.listCmd) return RunList(s, c.all);
  if (*c.mountCmd) return RunMount(s, c.snapshotId, c.clone);
  if (*c.unmountCmd) return RunUnmount(s, c.snapshotId, c.change);
  if (*c.revertCmd) return RunRevert(s, c.snapshotId, c.change);
  if (*c.deleteCmd) return RunDelete(s, c.snapshotId, c.change);
  if (*c.reconcileCmd) return RunReconcile(s);
  if (*c.adoptCmd) return RunAdopt(s, c.snapshotId);
  if (*c.reservationsCmd) return RunReservations(s, c.reconcileReservations);
  if (*c.jobsCmd) return RunJobs(s, c.jobId);
  if (*c.versionCmd) return RunVersion(s);
  s.out().Error("unknown verb");
  return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  InstallStopHandlers();
  CLI::App app{"pzhost: a backup host for the PZSOVMAX snapshot engine"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "pzhost " PZ_VERSION);
  CommandLine c;
  AddGlobalAndInit(app, c);
  AddArrayAndConfig(app, c);
  AddSnapshotVerbs(app, c);
  AddHostVerbs(app, c);

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

  Output out(c.global.json, c.global.verbose);
  out.SetVerb(VerbOf(app));
  if (*c.initCmd) {
    c.init.symcliHome = AbsolutePath(c.init.symcliHome);
    int code = RunInit(c.global, &out, c.init);
    out.Finish(code);
    return code;
  }
  if (*c.demoCmd) {
    int code = RunDemo(c.global, &out, c.demo);
    out.Finish(code);
    return code;
  }
  if (*c.execRemoteCmd) {
    // Standard output carries the answer only.
    Output quiet(true, c.global.verbose);
    Session session(c.global, &quiet);
    std::string error;
    if (!session.Open(&error)) {
      fprintf(stderr, "pzhost: %s\n", error.c_str());
      return kExitFailure;
    }
    return RunExecRemote(session);
  }
  // Editing the home's own settings and configs needs no host database (so a
  // home whose server is unreachable can still be pointed elsewhere).
  bool withDatabase = !*c.configCmd && !*c.listCmd && !*c.jobsCmd;
  return WithSession(c.global, &out, withDatabase,
                     [&c](Session& s) -> int { return RunInSession(s, c); });
}
