// pzarray [--symcli-home DIR] [--set KEY=VALUE]... [--record DIR] OPERATION
// ARG...: runs one array command-layer operation against the Solutions
// Enabler of this host and prints what it found as JSON.
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "array/ArrayAPI_CLI.h"
#include "config/VMAXConfig.h"
#include "hostruntime/Env.h"
#include "pzarray/Operations.h"
#include "pzarray/PzarrayEnv.h"
#include "pzarray/PzarrayRequest.h"

namespace {

constexpr int kExitTrue = 0;
constexpr int kExitFalse = 1;
constexpr int kExitUsage = 2;

int Usage(const std::string& message) {
  fprintf(stderr, "pzarray: %s (see pzarray --help)\n", message.c_str());
  return kExitUsage;
}

// Runs `op` on the array and fills `out`; the exit code (kExitUsage for
// arguments the operation refuses).
int RunOperation(const pzarray::Operation& op, const std::vector<std::string>& args,
                 long long seVersion, pzarray::PzarrayRequest* request,
                 pzarray::Json* out) {
  ArrayAPIInitParams params;
  readSnapConfigs(request, params.config);
  if (!readRegistryKeys(request, params.config))
    return Usage("malformed additional setting");
  ArrayAPI_CLI api(request);
  api.init(params);
  (*out)["operation"] = op.name;
  (*out)["result"] = false;
  if (op.needsVersion) {
    if (seVersion >= 0) {
      api.seVersion = (unsigned long)seVersion;
    } else {
      unsigned long probed = 0;
      if (!api.GetSEVersion(probed))
        fprintf(stderr, "pzarray: Solutions Enabler version unknown\n");
    }
    (*out)["seVersion"] = api.seVersion;
  }
  bool ok = false;
  try {
    ok = op.run(api, args, *out);
  } catch (const std::invalid_argument& e) {
    return Usage(std::string(op.name) + ": " + e.what());
  }
  (*out)["result"] = ok;
  if (!request->events.empty()) {
    pzarray::Json events = pzarray::Json::array();
    for (const auto& e : request->events)
      events.push_back({{"severity", e.first}, {"text", e.second}});
    (*out)["events"] = events;
  }
  return ok ? kExitTrue : kExitFalse;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Runs one array command-layer operation against the Solutions Enabler "
      "of this host and prints its result and out-parameters as JSON."};
  std::string symcliHome, recordDir, operation;
  std::vector<std::string> sets, args;
  bool verbose = false;
  long long seVersion = -1;
  app.add_option("--symcli-home", symcliHome,
                 "Solutions Enabler home (SYMAPI_HOME_DIR; default "
                 "/opt/emc/SYMCLI)");
  app.add_option("--set", sets,
                 "KEY=VALUE additional setting or snap config (repeatable)")
      ->allow_extra_args(false);
  app.add_option("--record", recordDir,
                 "keep every command line with its output, error and exit code "
                 "in DIR");
  app.add_option("--se-version", seVersion,
                 "packed Solutions Enabler version to assume (e.g. 9020106) "
                 "instead of asking symcli");
  app.add_flag("-v,--verbose", verbose, "log to standard error");
  app.add_option("operation", operation, "operation to run")->required();
  app.add_option("args", args, "arguments of the operation");
  app.positionals_at_end();
  app.footer(pzarray::OperationsHelp());
  app.set_version_flag("--version", "pzarray " PZ_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitTrue : kExitUsage;
  }

  const pzarray::Operation* op = pzarray::FindOperation(operation);
  if (!op) return Usage("unknown operation '" + operation + "'");
  if (args.size() < op->required || args.size() > op->required + op->optional)
    return Usage(std::string(op->name) + " takes " +
                 (*op->usage ? op->usage : "no arguments"));
  std::map<std::string, std::string> settings;
  for (const std::string& s : sets) {
    size_t eq = s.find('=');
    if (eq == 0 || eq == std::string::npos)
      return Usage("--set needs KEY=VALUE, got '" + s + "'");
    settings[s.substr(0, eq)] = s.substr(eq + 1);
  }

  std::string home = pzarray::MakePrivateHome();
  if (home.empty()) return Usage("cannot create a temporary host home");
  auto env = std::make_unique<pzarray::PzarrayEnv>(home, settings, symcliHome,
                                                   recordDir, verbose);
  std::string error;
  if (!env->PrepareRecordDir(&error)) return Usage(error);
  hostrt::ScopedEnv scoped(env.get());

  pzarray::PzarrayRequest request(settings, (long long)getpid());

  pzarray::Json out;
  int code = RunOperation(*op, args, seVersion, &request, &out);
  if (code == kExitUsage) return code;
  printf("%s\n", out.dump(2).c_str());
  return code;
}
