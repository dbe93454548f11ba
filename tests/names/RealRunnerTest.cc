// Through the real process runner: stand-in SYMCLI tools record the argv
// they receive. Valid names arrive unchanged, each as one argument; shell
// text stays inside its argument.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "array/ArrayAPI_CLI.h"
#include "array/CommandRunner.h"
#include "hostruntime/Env.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"
#include "tests/runtime/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Argv = std::vector<std::string>;

constexpr const char* kSid = "000197900123";

class RealRunner : public ::testing::Test {
 protected:
  RealRunner() : scoped_(&env_) {}

  void SetUp() override {
    dir_ = tmp_.path();
    // A SYMCLI home with a blank: it stands in quotes on every line.
    home_ = dir_ + "/EMC Solutions";
    fs::create_directories(home_ + "/bin");
    fs::create_directories(dir_ + "/tmp");
    fs::create_directories(dir_ + "/runs");
    for (const char* tool : {"symsg", "symaccess"}) WriteTool(tool);
    env_.realProcesses = true;
    env_.realFiles = true;
    env_.tempDir = dir_ + "/tmp";
    si_.jobParams[PZSO::JOB_PARAM_JOB_ID] = 12;
    ArrayAPIInitParams params;
    params.config.symapiHomeDir = home_;
    ASSERT_TRUE(api_.init(params));
    api_.seVersion = kLastOldSymsgShowVersion + 1;
  }

  // Each run leaves runs/<n>.argv (NUL after each word, program first) and
  // runs/<n>.file (the device file's content, when one was given).
  void WriteTool(const std::string& name) {
    std::string path = home_ + "/bin/" + name;
    std::ofstream(path)
        << "#!/bin/sh\n"
        << "runs='" << dir_ << "/runs'\n"
        << "n=$(ls \"$runs\" | grep -c argv)\n"
        << "printf '%s\\0' \"$0\" \"$@\" > \"$runs/$n.argv\"\n"
        << "while [ $# -gt 1 ]; do\n"
        << "  if [ \"$1\" = -file ]; then cat \"$2\" > \"$runs/$n.file\"; fi\n"
        << "  shift\ndone\nexit 0\n";
    ASSERT_EQ(0, chmod(path.c_str(), 0700));
  }

  Argv ArgvOf(size_t run) const {
    std::string raw = runtime_test::ReadFile(dir_ + "/runs/" + std::to_string(run) + ".argv");
    Argv out;
    size_t start = 0;
    for (size_t at; (at = raw.find('\0', start)) != std::string::npos;
         start = at + 1)
      out.push_back(raw.substr(start, at - start));
    return out;
  }
  std::string Tool(const char* name) const { return home_ + "/bin/" + name; }

  runtime_test::TempDir tmp_;
  testing_host::FakeEnv env_;
  hostrt::ScopedEnv scoped_;
  testing_host::FakeSnapInfo si_;
  ArrayAPI_CLI api_{&si_};
  std::string dir_, home_;
};

// Names with dots, colons and dashes arrive unchanged, each as one argument
// (the seventh word of each of these lines), next to the device file.
TEST_F(RealRunner, NamesArriveUnchangedAsSingleArguments) {
  ASSERT_TRUE(api_.SGDevAdd(kSid, {"000A1", "0B59"}, "SG_prod-01.db:a")) << si_.allLogs();
  std::vector<std::string> views;
  api_.GetMVListByInitiator(kSid, "iqn.1994-05.com.redhat:5a1b2c3d", views);
  VMAXMaskViewInfo info;
  api_.MaskViewInfoByName(kSid, "MV_LNXDBSRV001.x:1", info);
  ASSERT_FALSE(fs::exists(dir_ + "/runs/3.argv")) << si_.allLogs();
  struct {
    size_t words;
    std::string name, file;
  } want[] = {{9, "SG_prod-01.db:a", "000A1\n0B59\n"},
              {10, "iqn.1994-05.com.redhat:5a1b2c3d", ""},
              {8, "MV_LNXDBSRV001.x:1", ""}};
  for (size_t run = 0; run < 3; ++run) {
    Argv argv = ArgvOf(run);
    ASSERT_EQ(want[run].words, argv.size()) << run;
    EXPECT_EQ((Argv{"-sid", kSid}), Argv(argv.begin() + 1, argv.begin() + 3));
    EXPECT_EQ(want[run].name, argv[6]);
    if (want[run].file.empty()) continue;
    // The device file: inside the temporary directory, gone again.
    EXPECT_EQ(0u, argv[4].find(dir_ + "/tmp/FLVMAX_12_")) << argv[4];
    EXPECT_FALSE(fs::exists(argv[4]));
    EXPECT_EQ(want[run].file,
              runtime_test::ReadFile(dir_ + "/runs/" + std::to_string(run) + ".file"));
  }
  EXPECT_EQ(Tool("symsg"), ArgvOf(0)[0]);
}

// Hostile names never reach a runner (the refusal tests); should one, the
// runner starts no shell: quotes group, nothing expands, no canary appears.
TEST_F(RealRunner, RunnerKeepsShellTextInsideArguments) {
  const std::string canary = dir_ + "/canary", touch = "touch " + canary;
  std::string cmd = " \"" + Tool("symsg") + "\" -sg \"a;" + touch +
                    "\" $(" + "true) `true` x|y a&&b";
  std::string output, error;
  int exitCode = -1;
  ASSERT_EQ(0, RunCommand(&si_, cmd, output, error, exitCode)) << error;
  EXPECT_EQ(0, exitCode);
  EXPECT_EQ((Argv{Tool("symsg"), "-sg", "a;" + touch, "$(true)", "`true`",
                  "x|y", "a&&b"}),
            ArgvOf(0));
  EXPECT_FALSE(fs::exists(canary));
}

}  // namespace
