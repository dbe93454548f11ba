// Cost of one simulated SYMCLI invocation (process start, state file,
// transaction, audit), for a device listing of 1,000 devices and for a
// snapshot listing. Goal: at most 5 ms median for the 1,000-device listing.
// Also what a simulated INQUIRY costs the host (a view opened for the
// device, standard data and the Device Identification page, as the plug-in
// asks for each device): goal well under 0.1 ms. And pzhost's own start,
// `--version` and a verb that opens the host database of a SQLite home
// (`array list`): goal at most 10 ms of its CPU (tool_cpu_ms) each.
#include <benchmark/benchmark.h>
#include <ftw.h>
#include <sys/resource.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "hostruntime/Env.h"
#include "simulator/hostview/HostView.h"
#include "hostruntime/ProcessRunner.h"

namespace {

const std::string kSymsim = std::string(PZ_BINARY_DIR) + "/simulator/symsim";
constexpr char kSerial[] = "000197800999";

int Run(const std::vector<std::string>& argv) {
  hostrt::ProcessSpec spec;
  spec.argv = argv;
  spec.timeoutMs = 60000;
  hostrt::ProcessOutcome out;
  hostrt::RunChildProcess(spec, &out);
  return out.started ? out.exitCode : -1;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

struct World {
  std::string dir;
  World() {
    char tmpl[] = "/tmp/symsimbenchXXXXXX";
    dir = std::string(mkdtemp(tmpl)) + "/w";
    Run({kSymsim, "--state", dir, "init"});
    Run({kSymsim, "--state", dir, "array", "--serial", kSerial});
    Run({kSymsim, "--state", dir, "device", "--sid", kSerial, "--dev", "01000", "--count", "1000",
         "--cyl", "1092"});
    Run({kSymsim, "--state", dir, "sg", "--sid", kSerial, "--name", "SG_big", "--devs",
         "01000:013E7"});
  }
  ~World() { nftw(dir.substr(0, dir.rfind('/')).c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }
};

double ChildCpuMs() {
  struct rusage ru;
  getrusage(RUSAGE_CHILDREN, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

// Wall time per invocation (median) and the tool's own CPU time (mean),
// which does not depend on how busy the machine is.
void Invoke(benchmark::State& state, const std::vector<std::string>& argv) {
  std::vector<double> ms;
  double cpuStart = ChildCpuMs();
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int code = Run(argv);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
    if (code != 0) state.SkipWithError("tool failed");
  }
  std::sort(ms.begin(), ms.end());
  if (!ms.empty()) {
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["tool_cpu_ms"] = (ChildCpuMs() - cpuStart) / static_cast<double>(ms.size());
  }
}

void BM_ListThousandDevices(benchmark::State& state) {
  static World world;
  Invoke(state, {world.dir + "/bin/symdev", "-sid", kSerial, "list", "-sg", "SG_big", "-tdev",
                 "-cyl"});
}
BENCHMARK(BM_ListThousandDevices)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_Banner(benchmark::State& state) {
  static World world;
  Invoke(state, {world.dir + "/bin/symcli"});
}
BENCHMARK(BM_Banner)->Unit(benchmark::kMillisecond)->Iterations(200);

const std::string kPzhost = std::string(PZ_BINARY_DIR) + "/pzhost/pzhost";

// An initialised pzhost home on its SQLite file.
struct PzhostHome {
  std::string dir;
  std::string home;
  PzhostHome() {
    char tmpl[] = "/tmp/pzhostbenchXXXXXX";
    dir = mkdtemp(tmpl);
    home = dir + "/home";
    Run({kPzhost, "--home", home, "init", "--symcli-home", dir});
  }
  ~PzhostHome() { nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }
};

void BM_PzhostVersion(benchmark::State& state) { Invoke(state, {kPzhost, "--version"}); }
BENCHMARK(BM_PzhostVersion)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_PzhostArrayList(benchmark::State& state) {
  static PzhostHome home;
  Invoke(state, {kPzhost, "--home", home.home, "array", "list"});
}
BENCHMARK(BM_PzhostArrayList)->Unit(benchmark::kMillisecond)->Iterations(200);

// A host that sees 1,000 devices.
struct HostWorld {
  std::string dir;
  std::vector<std::string> paths;
  HostWorld() {
    char tmpl[] = "/tmp/symsimbenchXXXXXX";
    dir = std::string(mkdtemp(tmpl)) + "/w";
    Run({kSymsim, "--state", dir, "init-demo", "--targets-per-size", "500"});
    Run({kSymsim, "--state", dir, "sg", "--sid", "000197800123", "--name",
         "SG_demohost_mount", "--devs", "00200:005E7"});
    Run({kSymsim, "--state", dir, "rescan", "demohost"});
    std::string error;
    std::unique_ptr<symsim::HostView> view = symsim::HostView::Open(dir, &error);
    if (view) view->Devices("demohost", &paths, &error);
  }
  ~HostWorld() { nftw(dir.substr(0, dir.rfind('/')).c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }
};

constexpr uint8_t kPageDeviceIdentification = 0x83;

void BM_SimulatedInquiry(benchmark::State& state) {
  static HostWorld world;
  if (world.paths.empty()) {
    state.SkipWithError("the host sees no device");
    return;
  }
  size_t i = 0;
  std::vector<uint8_t> data;
  std::string error;
  for (auto _ : state) {
    const std::string& path = world.paths[i++ % world.paths.size()];
    std::unique_ptr<symsim::HostView> view = symsim::HostView::Open(world.dir, &error);
    if (!view || !view->Inquiry(path, false, 0, &data, &error) ||
        !view->Inquiry(path, true, kPageDeviceIdentification, &data, &error))
      state.SkipWithError("inquiry failed");
  }
  state.counters["devices"] = double(world.paths.size());
}
BENCHMARK(BM_SimulatedInquiry)->Unit(benchmark::kMicrosecond)->Iterations(5000);

}  // namespace

BENCHMARK_MAIN();
