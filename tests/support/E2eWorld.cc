#include "tests/support/E2eWorld.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "hostruntime/Env.h"
#include "hostruntime/ProcessRunner.h"

namespace e2e {

namespace {
constexpr long long kProgramTimeLimitMs = 120000;

// The result of a step that has to work.
Result Ok(Result r) {
  EXPECT_EQ(0, r.exitCode) << r.Describe();
  return r;
}
}  // namespace

std::string PzhostPath() { return std::string(PZ_BINARY_DIR) + "/pzhost/pzhost"; }
std::string SymsimPath() { return std::string(PZ_BINARY_DIR) + "/simulator/symsim"; }

bool PluginReady() {
  static const bool ready = [] {
    World w;
    std::string home = w.dir() + "/probe";
    return w.Pzhost(home, {"init", "--symcli-home", w.world()}).exitCode == 0 &&
           w.Pzhost(home, {"version"}).exitCode == 0;
  }();
  return ready;
}

std::string Result::Describe() const {
  return "exit " + std::to_string(exitCode) + "\n--- stdout\n" + out + "\n--- stderr\n" + err;
}

hostrt::ProcessOutcome RunChild(const std::vector<std::string>& argv, long long timeoutMs,
                                const std::string* input) {
  std::string line;
  for (const std::string& a : argv) line += a + " ";
  hostrt::ProcessSpec spec{line, argv, input, timeoutMs};
  hostrt::ProcessOutcome outcome;
  hostrt::RunChildProcess(spec, &outcome);
  return outcome;
}

Result RunProgram(const std::vector<std::string>& argv, const std::string* input) {
  hostrt::ProcessOutcome o = RunChild(argv, kProgramTimeLimitMs, input);
  return {o.started ? o.exitCode : -1, o.output, o.started ? o.error : o.startError,
          nlohmann::json::parse(o.output, nullptr, false)};
}

int EnvInt(const char* name, int fallback) {
  const char* v = getenv(name);
  return v && *v ? atoi(v) : fallback;
}

std::vector<hostrt::ProcessOutcome> RunAtOnce(const std::vector<std::vector<std::string>>& argvs,
                                              long long timeoutMs) {
  std::vector<hostrt::ProcessOutcome> outcomes(argvs.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < argvs.size(); ++i)
    threads.emplace_back([&, i] { outcomes[i] = RunChild(argvs[i], timeoutMs); });
  for (std::thread& t : threads) t.join();
  return outcomes;
}

void ExpectLinksMatchReservations(
    const nlohmann::json& links, const nlohmann::json& reservations,
    const std::function<std::string(const nlohmann::json&)>& holder) {
  std::map<std::string, std::set<std::string>> snapshotsByTarget;
  for (const nlohmann::json& l : links)
    snapshotsByTarget[l["target"].get<std::string>()].insert(l["snapshot"].get<std::string>());
  for (const auto& [target, snaps] : snapshotsByTarget)
    EXPECT_EQ(1u, snaps.size()) << "target " << target << " linked twice";
  for (const nlohmann::json& r : reservations) {
    std::string target = r["target"].get<std::string>();
    std::string name = holder(r);
    EXPECT_FALSE(name.empty()) << "reservation of an unknown holder: " << r.dump();
    bool matched = false;
    for (const nlohmann::json& l : links)
      matched |= l["target"] == target && l["snapshot"] == name;
    EXPECT_TRUE(matched) << "reservation of " << target << " for " << name << " has no link";
  }
}

bool ReadFile(const std::string& path, std::string* content) {
  std::ifstream in(path);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(path, ec))
    if (e.path().filename().string()[0] != '.') names.push_back(e.path().filename());
  return names;
}

World::World(const std::vector<std::string>& demoArgs) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pzhost-e2e-XXXXXX";
  if (mkdtemp(&pattern[0])) dir_ = pattern;
  world_ = dir_ + "/world";
  std::vector<std::string> init = {"init-demo", "--json"};
  init.insert(init.end(), demoArgs.begin(), demoArgs.end());
  Result r = Ok(Symsim(init));
  demo_ = r.json.is_object() ? r.json : nlohmann::json::object();
  // A device in the mount group from the start, as on a host in use.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"device", "--sid", serial(), "--dev", "00F00", "--cyl", "1092"},
           {"sg", "--sid", serial(), "--name", demo_.value("mountStorageGroup", ""), "--devs",
            "00F00"}})
    Ok(Symsim(args));
}

World::~World() {
  std::error_code ec;  // symbolic links are removed, never followed
  if (!dir_.empty() && !getenv("PZ_E2E_KEEP")) std::filesystem::remove_all(dir_, ec);
}

std::string World::SourceItem(size_t i, const char* key) const {
  if (!demo_.contains("sources") || demo_["sources"].size() <= i) return "";
  return demo_["sources"][i].value(key, "");
}

std::string World::Source(size_t i) const { return SourceItem(i, "path"); }
std::string World::SourceDevice(size_t i) const { return SourceItem(i, "device"); }

Result World::Symsim(std::vector<std::string> args) {
  args.insert(args.begin(), {SymsimPath(), "--state", world_});
  return RunProgram(args);
}

nlohmann::json World::ArrayState() {
  Result r = Ok(Symsim({"show", "--json"}));
  return r.json.is_object() ? r.json["arrays"][0] : nlohmann::json::object();
}

std::set<std::string> World::GroupMembers(const std::string& which) {
  std::set<std::string> members;
  std::string group = demo_.value(which, "");
  // The state is kept for the loop: a range over a part of a temporary
  // would read freed memory.
  const nlohmann::json array = ArrayState();
  for (const nlohmann::json& g : array["storageGroups"])
    if (g["name"] == group)
      for (const nlohmann::json& d : g["devices"]) members.insert(d.get<std::string>());
  return members;
}

std::vector<nlohmann::json> World::LinkableSources() {
  std::set<std::string> targets = GroupMembers("targetStorageGroup");
  std::set<long long> sizes;
  const nlohmann::json array = ArrayState();
  for (const nlohmann::json& d : array["devices"])
    if (targets.count(d["device"].get<std::string>()))
      sizes.insert(d["cylinders"].get<long long>());
  std::vector<nlohmann::json> sources;
  for (const nlohmann::json& s : demo_.value("sources", nlohmann::json::array()))
    if (sizes.count(s["cylinders"].get<long long>())) sources.push_back(s);
  return sources;
}

nlohmann::json World::Catalog(const std::string& home) {
  return Ok(Pzhost(home, {"list"})).json.value("snapshots", nlohmann::json::array());
}

Result World::Pzhost(const std::string& home, std::vector<std::string> args, bool json,
                     const std::string* input) {
  std::vector<std::string> argv = {PzhostPath(), "--home", home};
  if (json) argv.push_back("--json");
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, input);
}

std::string World::MakeHome(const std::string& name, const std::string& simulatedHost,
                            const std::string& client) {
  std::string home = dir_ + "/" + name;
  std::vector<std::string> init = {"init", "--symcli-home", world_, "--simulated-host",
                                   simulatedHost};
  if (!client.empty()) init.insert(init.end(), {"--client-name", client});
  // The array record carries a password, as on a real host, so that the
  // secrets check after the tests has one to look for in what they leave.
  const std::string password = std::string(kTestArrayPassword) + "\n";
  Ok(Pzhost(home, init));
  Ok(Pzhost(home,
            {"array", "add", "--serial", serial(), "--num", "1", "--user", "pzadmin",
             "--password-file", "-"},
            true, &password));
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"config", "set", "--setting", "Host", "sleepScale", "0"},
           {"config", "set", "--snap", "SMCONFIG_LINK_DEVICE_STORAGE_GROUP",
            demo_.value("targetStorageGroup", "")}})
    Ok(Pzhost(home, args));
  return home;
}

int World::SnapshotId(const Result& backup) {
  return backup.json.is_object() ? backup.json.value("snapshotId", 0) : 0;
}

}  // namespace e2e
