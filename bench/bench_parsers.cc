// Parsing cost of SYMCLI listings: the table reader and the free-device
// parse of a 50,000-row "symdev list -tdev -cyl" beside a bare split of the
// same text into lines. Goal: at most three times the bare split.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

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

void BM_FreeTdevParse(benchmark::State& state) {
  const std::string& text = Listing();
  std::unordered_set<std::string> linked, unmapped;
  for (int i = 0; i < kRows; ++i) {
    char dev[16];
    snprintf(dev, sizeof dev, "%X", i);
    if (i % 10 == 0) linked.insert(StdDevName(dev));
    if (i % 3 != 0) unmapped.insert(StdDevName(dev));
  }
  size_t found = 0;
  for (auto _ : state) {
    std::list<VMAXLun> luns;
    std::string badLine, badField;
    if (!symcli::ParseFreeDevices(text, "000197900123", linked, unmapped, luns,
                                  badLine, badField))
      state.SkipWithError("listing refused");
    found = luns.size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["free"] = double(found);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_FreeTdevParse)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  printf("listing: %d rows, %zu bytes; peak resident memory: %ld KiB\n", kRows,
         Listing().size(), usage.ru_maxrss);
  return 0;
}
