// Round trips of the PostgreSQL host database: one reserve of a batch of
// targets and its release, as a mount and its unmount do. Needs the test
// server (PZ_TEST_PG_CONNINFO, PZ_TEST_PG_PASSFILE).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#ifdef PZ_HAVE_POSTGRESQL
#include "hostruntime/PgHostDatabase.h"

namespace {

constexpr const char* kArray = "000197900999";

std::unique_ptr<hostrt::PgHostDatabase> OpenFromEnvironment(std::string* error) {
  const char* conninfo = getenv("PZ_TEST_PG_CONNINFO");
  const char* passfile = getenv("PZ_TEST_PG_PASSFILE");
  if (!conninfo || !passfile) {
    *error = "no test server (PZ_TEST_PG_CONNINFO, PZ_TEST_PG_PASSFILE)";
    return nullptr;
  }
  hostrt::PgConnectParams params;
  params.conninfo = conninfo;
  params.passfile = passfile;
  return hostrt::PgHostDatabase::Open(params, error);
}

void BM_ReserveAndRelease(benchmark::State& state) {
  std::string error;
  auto db = OpenFromEnvironment(&error);
  if (!db) {
    state.SkipWithError(error.c_str());
    return;
  }
  const int smSnapId = int(getpid());
  std::vector<hostrt::Reservation> batch;
  for (int i = 0; i < state.range(0); ++i) {
    char target[16];
    snprintf(target, sizeof target, "%05X", 0x1000 + i);
    hostrt::Reservation r;
    r.smSnapId = smSnapId;
    r.array = kArray;
    r.source = "00A10";
    r.target = target;
    batch.push_back(r);
  }
  std::vector<bool> granted;
  for (auto _ : state) {
    if (!db->Reserve(batch, &granted, &error) || !db->Release(batch, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReserveAndRelease)->Arg(1)->Arg(8)->Arg(64);

}  // namespace
#endif

BENCHMARK_MAIN();
