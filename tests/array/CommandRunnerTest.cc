#include <fcntl.h>

#include "array/CommandRunner.h"
#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

// Standard error is appended to the output; the exit code is reported, and
// left alone when the command cannot start.
TEST_F(ArrayTest, RunCommandMergesErrorAndReportsExitCode) {
  Expect("prog a", "out\n", 3, "warn\n");
  std::string out, err;
  int code = 99;
  EXPECT_EQ(0, RunCommand(&si_, "prog a", out, err, code));
  EXPECT_EQ(3, code);
  EXPECT_EQ("out\nwarn\n", out);
  EXPECT_EQ("warn\n", err);
  code = 42;
  EXPECT_EQ(-1, RunCommand(&si_, "missing-tool", out, err, code));
  EXPECT_EQ(42, code);
}

// Device and log files are truncated, private and never followed through a link.
TEST_F(ArrayTest, WriteToFileRestrictsTheFile) {
  env_.files[kDeviceFile] = "stale content that is much longer\n";
  std::string name;
  ASSERT_TRUE(WriteToFile(&si_, "00A1\n", name));
  EXPECT_EQ(kDeviceFile, name);
  EXPECT_EQ("00A1\n", env_.files[kDeviceFile]);
  EXPECT_EQ(0600, env_.fileModes[kDeviceFile]);
  EXPECT_EQ(O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW,
            env_.fileFlags[kDeviceFile] & (O_ACCMODE | O_CREAT | O_TRUNC | O_NOFOLLOW));

  std::string log = "VMAX_DClone_";
  ASSERT_TRUE(WriteToFile("text", log));
  EXPECT_EQ("/fake/logs/VMAX_DClone_2021.02.03-08.05.09.log", log);
  EXPECT_EQ(0600, env_.fileModes[log]);
  EXPECT_TRUE(env_.fileFlags[log] & O_NOFOLLOW);
  env_.logDir.clear();
  EXPECT_FALSE(WriteToFile("text", log));

  env_.files.clear();
  env_.unwritablePaths.insert(kDeviceFile);
  EXPECT_FALSE(WriteToFile(&si_, "a", name));
  env_.tempDir.clear();
  EXPECT_FALSE(WriteToFile(&si_, "a", name));
  EXPECT_TRUE(env_.files.empty());
}

TEST_F(ArrayTest, NoJobIdMeansNoFileAndNoCommand) {
  si_.failingJobParams.insert(PZSO::JOB_PARAM_JOB_ID);
  std::string name = "x";
  EXPECT_FALSE(WriteToFile(&si_, "a", name));
  EXPECT_TRUE(name.empty());
  VMAXSnapParamList list;
  list.serial = kSid;
  list.params.resize(1);
  list.params.front().sourceDevice = "00A1";
  list.params.front().snapUid = "s1";
  EXPECT_FALSE(api_.DeleteSnaps(list));
  EXPECT_TRUE(env_.runs.empty());
  EXPECT_TRUE(env_.files.empty());
}

// The version from the probe's banner; a home with a blank is one quoted word.
TEST_F(ArrayTest, SolutionsEnablerVersion) {
  for (auto [bin, out, exitCode, version] : {
           std::tuple<std::string, const char*, int, unsigned long>{
               kBin, "\nSymmetrix Command Line Interface (SYMCLI) Version V9.2.1.6 (Edit ...)\n",
               0, 9020106},
           {kBin, "Version V9.1", 0, 0}, {kBin, "no version here", 0, 0},
           {kBin, "Version V9.123.0.1", 0, 0}, {kBin, "Version V9.2.1.6", 1, 0},
           {"/opt/se home/bin/", "Version V10.0.0.0", 0, 10000000}}) {
    SCOPED_TRACE(out);
    Reset();
    Expect(bin.find(' ') == std::string::npos ? bin + "symcli" : "\"" + bin + "symcli\"", out,
           exitCode);
    ArrayAPI_CLI api(&si_);
    api.symcliBinPath = bin;
    unsigned long v = 7;
    EXPECT_EQ(version != 0, api.GetSEVersion(v));
    EXPECT_EQ(version, v);
  }
}

}  // namespace
}  // namespace arraytest
