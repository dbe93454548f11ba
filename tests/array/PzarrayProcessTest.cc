// Runs the pzarray program against a stand-in symcli written at test time.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "hostruntime/ProcessRunner.h"

namespace {

class PzarrayProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pzarray-test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/bin");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteTool(const std::string& name, const std::string& script) {
    std::string path = dir_ + "/bin/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << script;
    ASSERT_EQ(0, chmod(path.c_str(), 0700));
  }

  hostrt::ProcessOutcome Run(std::vector<std::string> args) {
    hostrt::ProcessSpec spec;
    spec.argv.push_back(std::string(PZ_BINARY_DIR) + "/pzarray/pzarray");
    spec.argv.insert(spec.argv.end(), args.begin(), args.end());
    spec.commandLine = spec.argv[0];
    spec.timeoutMs = 60000;
    hostrt::ProcessOutcome out;
    hostrt::RunChildProcess(spec, &out);
    EXPECT_TRUE(out.started) << out.startError;
    return out;
  }

  std::string dir_;
};

// A failing tool gives a false result and exit code 1.
TEST_F(PzarrayProcess, FalseResultExitsOne) {
  WriteTool("symcli", "echo 'license expired' >&2\nexit 3\n");
  hostrt::ProcessOutcome out = Run({"--symcli-home", dir_, "GetSEVersion"});
  EXPECT_EQ(1, out.exitCode);
  EXPECT_EQ(false, nlohmann::json::parse(out.output)["result"]);
}

TEST_F(PzarrayProcess, DeviceFileReachesTheToolAndIsGone) {
  // The stand-in echoes the device file it was handed.
  WriteTool("symsnapvx",
            "while [ $# -gt 0 ]; do [ \"$1\" = -file ] && f=$2 && cat \"$2\"; "
            "shift; done\necho \"file=$f\"\n");
  hostrt::ProcessOutcome out =
      Run({"--symcli-home", dir_, "--record", dir_ + "/rec", "CreateSnaps",
           "000197900123", "snapA", "00A1,00A2"});
  ASSERT_EQ(0, out.exitCode) << out.error;
  nlohmann::json j = nlohmann::json::parse(out.output);
  EXPECT_EQ(true, j["result"]);
  ASSERT_EQ(2u, j["list"]["params"].size());
  EXPECT_EQ("00A2", j["list"]["params"][1]["sourceDevice"]);
  std::ifstream rec(dir_ + "/rec/0001.out");
  std::stringstream s;
  s << rec.rdbuf();
  const std::string seen = s.str();
  ASSERT_EQ(0u, seen.find("00A1\n00A2\nfile=")) << seen;
  std::string path = seen.substr(seen.find("file=") + 5);
  path = path.substr(0, path.find('\n'));
  EXPECT_NE(std::string::npos, path.find("/FLVMAX_")) << path;
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(PzarrayProcess, UsageErrors) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{"NoSuchOperation"}, {"GetDevListBySG", "000197900123"},
        {"--set", "novalue", "GetSEVersion"}})
    EXPECT_EQ(2, Run(args).exitCode) << args[0];
  EXPECT_EQ(0, Run({"--help"}).exitCode);
}

}  // namespace
