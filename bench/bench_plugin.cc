// What the plug-in itself costs in a backup, a mount and an unmount of N
// devices against the simulator with a per-command latency like a fast real
// array's: the pzhost process's wall time beside the summed time of the tool
// invocations it ran (from the world's audit log), the overhead (the rest),
// pzhost's own CPU per device, and the same command sequence replayed
// directly against a copy of the world taken before the operation. Also the
// commands per operation by tool and command shape, to show which grow
// with N. Goals: overhead at most 5 % of wall and at most 1 ms CPU per device
// at 1,000 devices.
//
//   bench_plugin [--sizes 1,10,100,1000] [--latency MS] [--keep]
#include <dirent.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostruntime/Env.h"
#include "hostruntime/ProcessRunner.h"

namespace {

using nlohmann::json;

const std::string kSymsim = std::string(PZ_BINARY_DIR) + "/simulator/symsim";
const std::string kPzhost = std::string(PZ_BINARY_DIR) + "/pzhost/pzhost";
constexpr char kSerial[] = "000197800123";
constexpr char kHost[] = "benchhost";
constexpr char kSourceGroup[] = "SG_bench_src";
constexpr char kTargetGroup[] = "SG_bench_targets";
constexpr char kMountGroup[] = "SG_bench_mount";
constexpr int64_t kSourceFirst = 0x01000;
constexpr int64_t kTargetFirst = 0x04000;
constexpr int kCylinders = 1092;
const char* const kInitiators[] = {"10000000c9a1b201", "10000000c9a1b202"};
const char* const kPorts[] = {"01D:004", "02D:004"};
constexpr int kDefaultLatencyMs = 200;
// A bound on any one program (unmount of 1,000 devices at 200 ms per command
// takes some minutes).
constexpr long long kProgramLimitMs = 30LL * 60 * 1000;
constexpr double kOverheadGoalPercent = 5.0;
constexpr double kCpuGoalMsPerDevice = 1.0;
constexpr int kMaxOpenFds = 16;
constexpr int kDevDigits = 5;

// Options of the tools that take a value: the value is dropped from a
// command's shape.
const std::set<std::string> kValueOptions = {
    "-sid", "-file", "-name", "-snapshot_name", "-sg", "-type", "-wwn",
    "-iscsi", "-devs", "-dev", "-g", "-lndev", "-lnfile", "-delta", "-sgs"};

struct Run {
  int exitCode = -1;
  std::string out, err;
  double wallMs = 0;
};

Run Start(const std::vector<std::string>& argv, const std::string* input = nullptr) {
  hostrt::ProcessSpec spec;
  spec.argv = argv;
  for (const std::string& a : argv) spec.commandLine += a + " ";
  spec.input = input;
  spec.timeoutMs = kProgramLimitMs;
  hostrt::ProcessOutcome outcome;
  auto start = std::chrono::steady_clock::now();
  hostrt::RunChildProcess(spec, &outcome);
  Run r;
  r.wallMs = std::chrono::duration<double, std::milli>(
                 std::chrono::steady_clock::now() - start).count();
  r.exitCode = outcome.started ? outcome.exitCode : -1;
  r.out = outcome.output;
  r.err = outcome.started ? outcome.error : outcome.startError;
  return r;
}

std::string Hex(int64_t dev) {
  char text[16];
  snprintf(text, sizeof text, "%0*llX", kDevDigits, static_cast<long long>(dev));
  return text;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return bool(out);
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  return bool(out);
}

// A copy of a world no tool is running in: the state file with its
// write-ahead log (the index is rebuilt on open) and the tool links.
bool CopyWorld(const std::string& from, const std::string& to, std::string* error) {
  if (::mkdir(to.c_str(), 0755) != 0 || ::mkdir((to + "/bin").c_str(), 0755) != 0) {
    *error = "cannot make " + to;
    return false;
  }
  for (const char* name : {"symsim.db", "symsim.db-wal"}) {
    std::string source = from + "/" + name;
    if (::access(source.c_str(), F_OK) == 0 && !CopyFile(source, to + "/" + name)) {
      *error = "cannot copy " + source;
      return false;
    }
  }
  DIR* bin = ::opendir((from + "/bin").c_str());
  if (!bin) {
    *error = "no " + from + "/bin";
    return false;
  }
  bool ok = true;
  while (dirent* e = ::readdir(bin)) {
    if (e->d_name[0] == '.') continue;
    char target[4096];
    std::string link = from + "/bin/" + e->d_name;
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) {
      ok = CopyFile(link, to + "/bin/" + e->d_name) &&
           ::chmod((to + "/bin/" + e->d_name).c_str(), 0755) == 0;
    } else {
      target[n] = '\0';
      ok = ::symlink(target, (to + "/bin/" + e->d_name).c_str()) == 0;
    }
    if (!ok) {
      *error = "cannot copy " + link;
      break;
    }
  }
  ::closedir(bin);
  return ok;
}

// "symaccess -sid S -type initiator -wwn W list -detail -v" becomes
// "symaccess -type list -detail -v": the words without the option values.
std::string Shape(const json& row) {
  std::string shape = row.value("tool", "?");
  const json& args = row["args"];
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i].get<std::string>();
    if (a == "-sid") {
      ++i;
      continue;
    }
    shape += " " + a;
    if (kValueOptions.count(a)) ++i;
  }
  return shape;
}

struct Operation {
  std::string verb;
  int devices = 0;
  double wallMs = 0;
  double toolsMs = 0;
  double cpuMs = -1;
  size_t commands = 0;
  std::map<std::string, int> shapes;
  double replayMs = 0;
  int replayMismatches = 0;
  bool ok = false;
  std::string failure;
};

constexpr int kConcurrentJobs = 16;

struct Concurrency {
  int devices = 0;      // per mount
  double oneMountMs = 0, allMountsMs = 0, oneUnmountMs = 0, allUnmountsMs = 0;
  int failed = 0;
};

class Bench {
 public:
  Bench(int devices, int latencyMs, bool keep)
      : devices_(devices), latencyMs_(latencyMs), keep_(keep) {}
  ~Bench() {
    if (!dir_.empty() && !keep_)
      nftw(dir_.c_str(), RemoveEntry, kMaxOpenFds, FTW_DEPTH | FTW_PHYS);
  }

  bool Setup(std::string* error);
  // backup, mount and unmount of every source device.
  bool RunAll(std::vector<Operation>* ops, std::string* error);
  // kConcurrentJobs snapshots of one slice of the sources each: one mount
  // alone, then all of them at once (and the unmounts the same way).
  bool RunConcurrent(Concurrency* c, std::string* error);
  const std::string& dir() const { return dir_; }

 private:
  bool Symsim(std::vector<std::string> args, Run* run, std::string* error);
  bool Pzhost(std::vector<std::string> args, Run* run, json* doc, std::string* error);
  bool Measure(const std::string& verb, std::vector<std::string> args, Operation* op,
               json* doc, std::string* error);
  void Replay(const std::string& world, const json& rows, Operation* op);

  int devices_;
  int latencyMs_;
  bool keep_;
  std::string dir_, world_, home_;
  std::vector<std::string> sources_;
  int copies_ = 0;
};

bool Bench::Symsim(std::vector<std::string> args, Run* run, std::string* error) {
  args.insert(args.begin(), {kSymsim, "--state", world_});
  *run = Start(args);
  if (run->exitCode == 0) return true;
  *error = "symsim";
  for (size_t i = 3; i < args.size(); ++i) *error += " " + args[i];
  *error += ": exit " + std::to_string(run->exitCode) + ": " + run->err;
  return false;
}

bool Bench::Pzhost(std::vector<std::string> args, Run* run, json* doc,
                   std::string* error) {
  args.insert(args.begin(), {kPzhost, "--home", home_, "--json"});
  *run = Start(args);
  *doc = json::parse(run->out, nullptr, false);
  if (run->exitCode == 0 && doc->is_object()) return true;
  *error = "pzhost " + args[4] + ": exit " + std::to_string(run->exitCode) + ": " +
           run->err.substr(0, 2000);
  return false;
}

bool Bench::Setup(std::string* error) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pzbench-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    *error = "cannot make a temporary directory";
    return false;
  }
  dir_ = buf.data();
  world_ = dir_ + "/world";
  home_ = dir_ + "/home";
  const std::string n = std::to_string(devices_);
  const std::string sources = Hex(kSourceFirst) + ":" + Hex(kSourceFirst + devices_ - 1);
  const std::string targets = Hex(kTargetFirst) + ":" + Hex(kTargetFirst + devices_ - 1);
  std::vector<std::vector<std::string>> steps = {
      {"init"},
      {"array", "--serial", kSerial, "--model", "PowerMax_8000"},
      {"device", "--sid", kSerial, "--dev", Hex(kSourceFirst), "--count", n, "--cyl",
       std::to_string(kCylinders)},
      {"device", "--sid", kSerial, "--dev", Hex(kTargetFirst), "--count", n, "--cyl",
       std::to_string(kCylinders)},
      {"sg", "--sid", kSerial, "--name", kSourceGroup, "--devs", sources},
      {"sg", "--sid", kSerial, "--name", kTargetGroup, "--devs", targets},
      {"sg", "--sid", kSerial, "--name", kMountGroup},
      {"pg", "--sid", kSerial, "--name", "PG_bench", "--port", kPorts[0], "--port",
       kPorts[1]},
      {"ig", "--sid", kSerial, "--name", "IG_bench", "--wwn", kInitiators[0], "--wwn",
       kInitiators[1]},
      {"view", "--sid", kSerial, "--name", "MV_bench_src", "--ig", "IG_bench", "--pg",
       "PG_bench", "--sg", kSourceGroup},
      {"view", "--sid", kSerial, "--name", "MV_bench_mount", "--ig", "IG_bench", "--pg",
       "PG_bench", "--sg", kMountGroup},
      {"host", "--name", kHost, "--wwn", kInitiators[0], "--wwn", kInitiators[1]},
      {"rescan", kHost},
      {"latency", std::to_string(latencyMs_)},
  };
  Run run;
  for (const auto& step : steps)
    if (!Symsim(step, &run, error)) return false;
  if (!Symsim({"devices", kHost}, &run, error)) return false;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) sources_.push_back(line);
  if (static_cast<int>(sources_.size()) != devices_) {
    *error = "the host sees " + std::to_string(sources_.size()) + " devices, not " + n;
    return false;
  }
  json doc;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"init", "--symcli-home", world_, "--simulated-host", kHost},
           {"array", "add", "--serial", kSerial, "--num", "1"},
           {"config", "set", "--setting", "Host", "sleepScale", "0"},
           {"config", "set", "--snap", "SMCONFIG_LINK_DEVICE_STORAGE_GROUP",
            kTargetGroup}})
    if (!Pzhost(args, &run, &doc, error)) return false;
  return true;
}

void Bench::Replay(const std::string& world, const json& rows, Operation* op) {
  std::string files = world + "-files";
  ::mkdir(files.c_str(), 0755);
  int fileNumber = 0;
  auto start = std::chrono::steady_clock::now();
  for (const json& row : rows) {
    std::vector<std::string> argv = {world + "/bin/" + row.value("tool", "")};
    const json& args = row["args"];
    for (size_t i = 0; i < args.size(); ++i) {
      std::string a = args[i].get<std::string>();
      argv.push_back(a);
      if (a == "-file" && i + 1 < args.size()) {
        std::string path = files + "/" + std::to_string(++fileNumber) + ".txt";
        WriteFile(path, row.value("fileContent", ""));
        argv.push_back(path);
        ++i;
      }
    }
    Run run = Start(argv);
    if (run.exitCode != row.value("exitCode", -1)) ++op->replayMismatches;
  }
  op->replayMs = std::chrono::duration<double, std::milli>(
                     std::chrono::steady_clock::now() - start).count();
}

bool Bench::Measure(const std::string& verb, std::vector<std::string> args,
                    Operation* op, json* doc, std::string* error) {
  op->verb = verb;
  op->devices = devices_;
  Run run;
  if (!Symsim({"audit", "--clear"}, &run, error)) return false;
  std::string copy = dir_ + "/before-" + verb;
  if (!CopyWorld(world_, copy, error)) return false;
  args.insert(args.begin(), verb);
  bool ok = Pzhost(args, &run, doc, error);
  op->wallMs = run.wallMs;
  if (doc->is_object() && doc->contains("cpuMs")) op->cpuMs = (*doc)["cpuMs"].get<double>();
  if (!ok) return false;
  Run audit;
  if (!Symsim({"audit", "--json"}, &audit, error)) return false;
  json rows = json::parse(audit.out, nullptr, false);
  if (!rows.is_array()) {
    *error = "symsim audit --json gave no list";
    return false;
  }
  op->commands = rows.size();
  for (const json& row : rows) {
    op->toolsMs += row.value("durationMs", 0.0);
    ++op->shapes[Shape(row)];
  }
  Replay(copy, rows, op);
  op->ok = true;
  return true;
}

bool Bench::RunAll(std::vector<Operation>* ops, std::string* error) {
  json doc;
  Operation backup;
  std::vector<std::string> args = sources_;
  if (!Measure("backup", args, &backup, &doc, error)) return false;
  ops->push_back(backup);
  if (!doc.contains("snapshotId")) {
    *error = "backup printed no snapshotId";
    return false;
  }
  std::string id = std::to_string(doc["snapshotId"].get<int>());
  Operation mount;
  if (!Measure("mount", {id}, &mount, &doc, error)) return false;
  ops->push_back(mount);
  Operation unmount;
  if (!Measure("unmount", {id}, &unmount, &doc, error)) return false;
  ops->push_back(unmount);
  return true;
}

bool Bench::RunConcurrent(Concurrency* c, std::string* error) {
  const size_t per = std::max<size_t>(1, sources_.size() / kConcurrentJobs);
  if (sources_.size() < size_t(kConcurrentJobs)) {
    *error = "fewer sources than concurrent jobs";
    return false;
  }
  c->devices = int(per);
  std::vector<std::string> ids;
  json doc;
  Run run;
  for (int j = 0; j < kConcurrentJobs; ++j) {
    std::vector<std::string> args = {"backup"};
    args.insert(args.end(), sources_.begin() + long(j * per),
                sources_.begin() + long((j + 1) * per));
    if (!Pzhost(args, &run, &doc, error)) return false;
    ids.push_back(std::to_string(doc["snapshotId"].get<int>()));
  }
  if (!Pzhost({"mount", ids[0]}, &run, &doc, error)) return false;
  c->oneMountMs = run.wallMs;
  if (!Pzhost({"unmount", ids[0]}, &run, &doc, error)) return false;
  c->oneUnmountMs = run.wallMs;
  auto atOnce = [&](const char* verb) {
    std::vector<Run> runs(ids.size());
    std::vector<std::thread> threads;
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < ids.size(); ++i)
      threads.emplace_back([&, i] {
        runs[i] = Start({kPzhost, "--home", home_, "--json", verb, ids[i]});
      });
    for (std::thread& t : threads) t.join();
    for (const Run& r : runs) c->failed += r.exitCode != 0;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                     start).count();
  };
  c->allMountsMs = atOnce("mount");
  c->allUnmountsMs = atOnce("unmount");
  return true;
}

std::vector<int> ParseSizes(const std::string& text) {
  std::vector<int> sizes;
  std::stringstream in(text);
  for (std::string word; std::getline(in, word, ',');) {
    int n = atoi(word.c_str());
    if (n > 0) sizes.push_back(n);
  }
  return sizes;
}

void PrintFigures(const std::vector<Operation>& ops, int latencyMs) {
  printf("\n## Plug-in overhead (latency %d ms per command)\n\n", latencyMs);
  printf("| operation | N | commands | wall ms | tools ms | overhead ms | overhead %% |"
         " pzhost CPU ms | CPU ms/device | replay ms | wall - replay ms |"
         " replay exit mismatches |\n");
  printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Operation& op : ops) {
    double overhead = op.wallMs - op.toolsMs;
    printf("| %s | %d | %zu | %.0f | %.0f | %.0f | %.1f | %.0f | %.3f | %.0f | %.0f | %d |\n",
           op.verb.c_str(), op.devices, op.commands, op.wallMs, op.toolsMs, overhead,
           op.wallMs > 0 ? 100.0 * overhead / op.wallMs : 0.0, op.cpuMs,
           op.cpuMs / op.devices, op.replayMs, op.wallMs - op.replayMs,
           op.replayMismatches);
  }
}

void PrintShapes(const std::vector<Operation>& ops, const std::vector<int>& sizes) {
  printf("\n## Commands per operation by shape (columns: N)\n");
  for (const char* verb : {"backup", "mount", "unmount"}) {
    std::map<std::string, std::map<int, int>> table;
    for (const Operation& op : ops)
      if (op.verb == verb)
        for (const auto& s : op.shapes) table[s.first][op.devices] = s.second;
    printf("\n### %s\n\n| command |", verb);
    for (int n : sizes) printf(" %d |", n);
    printf(" grows with N |\n|---|");
    for (size_t i = 0; i < sizes.size(); ++i) printf("---:|");
    printf("---|\n");
    for (const auto& row : table) {
      printf("| `%s` |", row.first.c_str());
      int first = -1, last = -1;
      for (int n : sizes) {
        auto it = row.second.find(n);
        int count = it == row.second.end() ? 0 : it->second;
        printf(" %d |", count);
        if (first < 0) first = count;
        last = count;
      }
      printf(" %s |\n", last > first ? "yes" : "no");
    }
  }
}

void PrintSummary(const std::vector<Operation>& ops) {
  int largest = 0;
  for (const Operation& op : ops) largest = std::max(largest, op.devices);
  printf("\nSummary at %d devices:\n", largest);
  for (const Operation& op : ops) {
    if (op.devices != largest) continue;
    double percent = op.wallMs > 0 ? 100.0 * (op.wallMs - op.toolsMs) / op.wallMs : 0.0;
    double perDevice = op.cpuMs / op.devices;
    printf("  %-8s overhead %5.1f %% of wall (goal <= %.0f %%: %s), CPU %.3f ms/device "
           "(goal <= %.0f ms: %s)\n",
           op.verb.c_str(), percent, kOverheadGoalPercent,
           percent <= kOverheadGoalPercent ? "met" : "MISSED", perDevice,
           kCpuGoalMsPerDevice, perDevice <= kCpuGoalMsPerDevice ? "met" : "MISSED");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes = {1, 10, 100, 1000};
  int latencyMs = kDefaultLatencyMs;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--sizes" && i + 1 < argc) {
      sizes = ParseSizes(argv[++i]);
    } else if (a == "--latency" && i + 1 < argc) {
      latencyMs = atoi(argv[++i]);
    } else if (a == "--keep") {
      keep = true;
    } else {
      fprintf(stderr, "usage: %s [--sizes 1,10,100,1000] [--latency MS] [--keep]\n",
              argv[0]);
      return 1;
    }
  }
  if (sizes.empty() || latencyMs < 0) {
    fprintf(stderr, "bench_plugin: give --sizes as positive numbers and --latency >= 0\n");
    return 1;
  }
  std::vector<Operation> ops;
  std::vector<std::pair<int, Concurrency>> concurrency;
  int failures = 0;
  for (int n : sizes) {
    auto start = std::chrono::steady_clock::now();
    Bench bench(n, latencyMs, keep);
    std::string error;
    if (!bench.Setup(&error) || !bench.RunAll(&ops, &error)) {
      fprintf(stderr, "bench_plugin: %d devices: %s\n", n, error.c_str());
      ++failures;
    } else if (n >= kConcurrentJobs) {
      Concurrency c;
      if (bench.RunConcurrent(&c, &error))
        concurrency.emplace_back(n, c);
      else
        fprintf(stderr, "bench_plugin: %d devices, concurrent mounts: %s\n", n,
                error.c_str());
    }
    fprintf(stderr, "bench_plugin: %d devices done in %.0f s%s%s\n", n,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            keep ? ", kept in " : "", keep ? bench.dir().c_str() : "");
  }
  PrintFigures(ops, latencyMs);
  PrintShapes(ops, sizes);
  PrintSummary(ops);
  if (!concurrency.empty()) {
    printf("\n## %d mounts at once (each of N/%d devices of its own snapshot)\n\n",
           kConcurrentJobs, kConcurrentJobs);
    printf("| N | devices per mount | one mount ms | %d at once ms | ratio (goal <= 2) |"
           " one unmount ms | %d at once ms | ratio | failed jobs |\n",
           kConcurrentJobs, kConcurrentJobs);
    printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const auto& [n, c] : concurrency)
      printf("| %d | %d | %.0f | %.0f | %.2f %s | %.0f | %.0f | %.2f | %d |\n", n, c.devices,
             c.oneMountMs, c.allMountsMs, c.allMountsMs / c.oneMountMs,
             c.allMountsMs <= 2 * c.oneMountMs ? "met" : "MISSED", c.oneUnmountMs,
             c.allUnmountsMs, c.allUnmountsMs / c.oneUnmountMs, c.failed);
  }
  return failures ? 1 : 0;
}
