// Runs the pzarray program against a stand-in symsnapvx written at test time.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "hostruntime/ProcessRunner.h"
#include "tests/runtime/TempDir.h"

namespace {

// The device file reaches the tool and is gone afterwards; a failing tool
// gives a false result and exit code 1.
TEST(PzarrayProcess, DeviceFileReachesTheToolAndIsGone) {
  char pattern[] = "/tmp/pzarray-test.XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  const std::string dir = pattern, tool = dir + "/bin/symsnapvx";
  std::filesystem::create_directories(dir + "/bin");
  std::ofstream(tool) << "#!/bin/sh\nwhile [ $# -gt 0 ]; do [ \"$1\" = -file ] && f=$2 && "
                         "cat \"$2\"; shift; done\necho \"file=$f\"\n[ -n \"$f\" ]\n";
  ASSERT_EQ(0, chmod(tool.c_str(), 0700));
  auto run = [&](std::vector<std::string> args) {
    hostrt::ProcessSpec spec;
    spec.argv = {std::string(PZ_BINARY_DIR) + "/pzarray/pzarray", "--symcli-home", dir,
                 "--record", dir + "/rec"};
    spec.argv.insert(spec.argv.end(), args.begin(), args.end());
    spec.commandLine = spec.argv[0];
    spec.timeoutMs = 60000;
    hostrt::ProcessOutcome out;
    hostrt::RunChildProcess(spec, &out);
    EXPECT_TRUE(out.started) << out.startError;
    return out;
  };
  hostrt::ProcessOutcome out = run({"CreateSnaps", "000197900123", "snapA", "00A1,00A2"});
  ASSERT_EQ(0, out.exitCode) << out.error;
  nlohmann::json j = nlohmann::json::parse(out.output);
  EXPECT_EQ(true, j["result"]);
  ASSERT_EQ(2u, j["list"]["params"].size());
  EXPECT_EQ("00A2", j["list"]["params"][1]["sourceDevice"]);
  const std::string seen = runtime_test::ReadFile(dir + "/rec/0001.out");
  ASSERT_EQ(0u, seen.find("00A1\n00A2\nfile=")) << seen;
  std::string path = seen.substr(seen.find("file=") + 5);
  path = path.substr(0, path.find('\n'));
  EXPECT_NE(std::string::npos, path.find("/FLVMAX_")) << path;
  EXPECT_FALSE(std::filesystem::exists(path));

  out = run({"GetLinkDevsSnap", "000197900123", "00A1", "snapA"});
  EXPECT_EQ(1, out.exitCode);
  EXPECT_EQ(false, nlohmann::json::parse(out.output)["result"]);
  std::filesystem::remove_all(dir);
}

}  // namespace
