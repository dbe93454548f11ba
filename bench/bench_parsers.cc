// Parsing cost of SYMCLI listings: the table reader and the free-device
// parse of a 50,000-row "symdev list -tdev -cyl" beside a bare split of the
// same text into lines. Goals: at most three times the bare split, and at
// most 64 MiB peak resident memory for the whole program.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <list>
#include <string>
#include <unordered_set>
#include <vector>

#include "array/DeviceListing.h"
#include "array/SymcliTable.h"
#include "host/HostServices.h"
#include "hostdev/VMAXUtils.h"

namespace {

constexpr int kRows = 50000;
constexpr double kRatioGoal = 3.0;
constexpr long kPeakGoalKiB = 64L * 1024;
constexpr int kSummaryRounds = 15;

const std::string& Listing() {
  static const std::string text = [] {
    std::string s =
        "\nSymmetrix ID: 000197900123\n\n"
        "        Device Name          Dir                  Device\n"
        "---------------------------- ------- "
        "-------------------------------------\n"
        "                                                                     "
        "Cap\n"
        "Sym   Physical               SA :P   Config        Attribute    Sts  "
        "(Cyl)\n"
        "---------------------------- ------- "
        "-------------------------------------\n\n";
    char line[160];
    for (int i = 0; i < kRows; ++i) {
      if (i % 2)
        snprintf(line, sizeof line,
                 "%05X Not Visible            ***:*** TDEV          N/Grp'd  "
                 "    RW     %d\n",
                 i, 1093 + i % 7);
      else
        snprintf(line, sizeof line,
                 "%05X /dev/sd%c               1D:4    TDEV          N/Grp'd  "
                 "    RW     %d\n",
                 i, 'a' + i % 26, 2186 + i % 5);
      s += line;
    }
    return s;
  }();
  return text;
}

void BM_BareSplit(benchmark::State& state) {
  const std::string& text = Listing();
  std::vector<std::string> lines;
  for (auto _ : state) {
    FXString::Split(text, "\n", FXSPLIT_SKIP_EMPTY, lines);
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_BareSplit)->Unit(benchmark::kMillisecond);

void BM_TableReader(benchmark::State& state) {
  const std::string& text = Listing();
  std::vector<std::string> rows;
  for (auto _ : state) {
    symcli::ReadTableRows(text, symcli::kLegendFlgs, rows);
    benchmark::DoNotOptimize(rows.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_TableReader)->Unit(benchmark::kMillisecond);

// Every tenth device linked, two in three unmapped.
struct FreeTdevInput {
  std::unordered_set<std::string> linked, unmapped;
  FreeTdevInput() {
    for (int i = 0; i < kRows; ++i) {
      char dev[16];
      snprintf(dev, sizeof dev, "%X", i);
      if (i % 10 == 0) linked.insert(StdDevName(dev));
      if (i % 3 != 0) unmapped.insert(StdDevName(dev));
    }
  }
};

const FreeTdevInput& Input() {
  static const FreeTdevInput input;
  return input;
}

// The free devices found, or -1 when the listing is refused.
long ParseFree(const FreeTdevInput& in) {
  std::list<VMAXLun> luns;
  std::string badLine, badField;
  if (!symcli::ParseFreeDevices(Listing(), "000197900123", in.linked, in.unmapped,
                                luns, badLine, badField))
    return -1;
  return static_cast<long>(luns.size());
}

void BM_FreeTdevParse(benchmark::State& state) {
  const std::string& text = Listing();
  long found = 0;
  for (auto _ : state) {
    found = ParseFree(Input());
    if (found < 0) state.SkipWithError("listing refused");
    benchmark::DoNotOptimize(found);
  }
  state.counters["free"] = double(found);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_FreeTdevParse)->Unit(benchmark::kMillisecond);

// Median wall time of `fn` in milliseconds over a few rounds.
template <typename Fn>
double MedianMs(Fn fn) {
  std::vector<double> ms;
  for (int i = 0; i < kSummaryRounds; ++i) {
    auto start = std::chrono::steady_clock::now();
    fn();
    ms.push_back(std::chrono::duration<double, std::milli>(
                     std::chrono::steady_clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

long PeakKiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  // The summary `make bench` shows: the ratios to the bare split and the
  // peak memory against their goals.
  const std::string& text = Listing();
  std::vector<std::string> lines, rows;
  double bare = MedianMs([&] { FXString::Split(text, "\n", FXSPLIT_SKIP_EMPTY, lines); });
  double table = MedianMs([&] { symcli::ReadTableRows(text, symcli::kLegendFlgs, rows); });
  long found = 0;
  double freeParse = MedianMs([&] { found = ParseFree(Input()); });
  long peak = PeakKiB();
  double tableRatio = table / bare, freeRatio = freeParse / bare;
  printf("listing: %d rows, %zu bytes, %ld free devices found\n", kRows, text.size(), found);
  printf("bare split %.2f ms; table reader %.2f ms = %.2fx (goal <= %.0fx: %s); "
         "free-device parse %.2f ms = %.2fx (goal <= %.0fx: %s)\n",
         bare, table, tableRatio, kRatioGoal, tableRatio <= kRatioGoal ? "met" : "MISSED",
         freeParse, freeRatio, kRatioGoal, freeRatio <= kRatioGoal ? "met" : "MISSED");
  printf("peak resident memory: %ld KiB = %.1f MiB (goal <= %ld MiB: %s)\n", peak,
         peak / 1024.0, kPeakGoalKiB / 1024, peak <= kPeakGoalKiB ? "met" : "MISSED");
  return found < 0 ? 1 : 0;
}
