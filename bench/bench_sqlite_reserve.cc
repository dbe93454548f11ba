// Round trips of the SQLite host database file: one reserve of a batch of
// targets and its release, as a mount and its unmount do, and the JSON
// round trip of a request array that remote execution adds to a job.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hostruntime/HostRequest.h"
#include "hostruntime/SqliteHostDatabase.h"

namespace {

constexpr const char* kArray = "000197900999";

void BM_SqliteReserveAndRelease(benchmark::State& state) {
  char dir[] = "/tmp/pzbenchXXXXXX";
  if (!mkdtemp(dir)) {
    state.SkipWithError("no temporary directory");
    return;
  }
  std::string path = std::string(dir) + "/host.db", error;
  {
    auto db = hostrt::SqliteHostDatabase::Open(path, &error);
    if (!db) {
      state.SkipWithError(error.c_str());
      return;
    }
    std::vector<hostrt::Reservation> batch;
    for (int i = 0; i < state.range(0); ++i) {
      char target[16];
      snprintf(target, sizeof target, "%05X", 0x1000 + i);
      hostrt::Reservation r;
      r.smSnapId = int(getpid());
      r.array = kArray;
      r.source = "00A10";
      r.target = target;
      batch.push_back(r);
    }
    std::vector<bool> granted;
    for (auto _ : state) {
      if (!db->Reserve(batch, &granted, &error) || !db->Release(batch, &error)) {
        state.SkipWithError(error.c_str());
        break;
      }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
  }
  for (const char* suffix : {"", "-wal", "-shm"}) unlink((path + suffix).c_str());
  rmdir(dir);
}
BENCHMARK(BM_SqliteReserveAndRelease)->Arg(1)->Arg(8)->Arg(64);

void BM_RequestJsonRoundTrip(benchmark::State& state) {
  std::vector<hostrt::HostSnapInfo> requests(size_t(state.range(0)));
  std::vector<hostrt::HostSnapInfo*> view;
  for (size_t i = 0; i < requests.size(); ++i) {
    requests[i].smSnapId = int(i);
    requests[i].sourceDevice = "/dev/sd" + std::to_string(i);
    requests[i].metadata[6] = "000197900999|00A1F|SP_1_1|";
    requests[i].snapConfigStrings["sSymmTargetSG"] = "SG_snap_targets";
    view.push_back(&requests[i]);
  }
  std::string error;
  for (auto _ : state) {
    std::string text = hostrt::ToJson(view).dump();
    if (!hostrt::ApplyJson(nlohmann::json::parse(text), view, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RequestJsonRoundTrip)->Arg(1)->Arg(16)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
