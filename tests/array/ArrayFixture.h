// Shared fixture of the command layer tests: a fake host environment with
// scripted SYMCLI commands and one ArrayAPI_CLI bound to a fake request.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "array/ArrayAPI_CLI.h"
#include "hostruntime/Env.h"
#include "tests/runtime/TempDir.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

namespace arraytest {

constexpr const char* kSid = "000197900123";
constexpr const char* kBin = "/opt/emc/SYMCLI/bin/";
// Device file of job 12 at the fake clock's 2021-02-03 08:05:09.
constexpr const char* kDeviceFile =
    "/fake/tmp/FLVMAX_12_2021.02.03-08.05.09.txt";

inline std::string Tool(const char* name) {
  return std::string(" \"") + kBin + name + "\"";
}
// A tool's command line on the array; kFile hands over the device file.
inline std::string Cmd(const char* tool, const std::string& args) {
  return Tool(tool) + " -sid " + kSid + " " + args;
}
const std::string kFile = std::string("-file ") + kDeviceFile + " ";

inline std::string ReadSample(const std::string& name) {
  std::string s = runtime_test::ReadFile(std::string(PZ_SHARED_DIR) + "/symcli-samples/" + name);
  EXPECT_FALSE(s.empty()) << "sample missing: " << name;
  return s;
}

class ArrayTest : public ::testing::Test {
 protected:
  ArrayTest() : scoped_(&env_), api_(&si_) {
    si_.jobParams[PZSO::JOB_PARAM_JOB_ID] = 12;
  }

  void SetUp() override { Reinit(); }

  void Expect(const std::string& cmd, const std::string& out,
              int exitCode = 0, const std::string& err = std::string()) {
    env_.Expect(cmd, testing_host::ScriptedRun{out, err, exitCode, true, {}});
  }

  // `answer` is the output, or "!" and the error text of a run that fails.
  void Answer(const std::string& cmd, const std::string& answer) {
    if (!answer.empty() && answer[0] == '!')
      Expect(cmd, "", 1, answer.substr(1));
    else
      Expect(cmd, answer);
  }
  // A fresh command layer, as init builds it from config_.
  void Reinit() {
    api_ = ArrayAPI_CLI(&si_);
    ArrayAPIInitParams params;
    params.config = config_;
    ASSERT_TRUE(api_.init(params));
  }

  // Forgets the scripted answers and the runs of an earlier case.
  void Reset() {
    env_.scripts.clear();
    env_.runs.clear();
  }
  // Content of the device file as the command saw it.
  std::string FileSeen(size_t run = 0) const {
    if (run >= env_.runs.size()) return "<no run>";
    auto it = env_.runs[run].files.find(kDeviceFile);
    return it == env_.runs[run].files.end() ? "<no file>" : it->second;
  }
  bool FileLeft() const { return env_.files.count(kDeviceFile) > 0; }

  testing_host::FakeEnv env_;
  hostrt::ScopedEnv scoped_;
  testing_host::FakeSnapInfo si_;
  VMAXSnapConfig config_;
  ArrayAPI_CLI api_;
};

}  // namespace arraytest
