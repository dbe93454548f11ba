// Cost of one simulated SYMCLI invocation (process start, state file,
// transaction, audit), for a device listing of 1,000 devices and for a
// snapshot listing. Goal: at most 5 ms median for the 1,000-device listing.
#include <benchmark/benchmark.h>
#include <ftw.h>
#include <sys/resource.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "hostruntime/Env.h"
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

}  // namespace

BENCHMARK_MAIN();
