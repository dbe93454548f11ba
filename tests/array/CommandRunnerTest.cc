#include <fcntl.h>

#include "array/CommandRunner.h"
#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

using testing_host::ScriptedRun;

TEST_F(ArrayTest, RunCommandAppendsErrorAndReportsExitCode) {
  Expect("prog a", "out\n", 0, "warn\n");
  std::string out, err;
  int code = 99;
  EXPECT_EQ(0, RunCommand(&si_, "prog a", out, err, code));
  EXPECT_EQ(0, code);
  EXPECT_EQ("out\nwarn\n", out);
  EXPECT_EQ("warn\n", err);

  Expect("prog b", "x", 3, "bad");
  EXPECT_EQ(0, RunCommand(&si_, "prog b", out, err, code));
  EXPECT_EQ(3, code);
  EXPECT_TRUE(si_.hasLog(
      "Command [prog b] completed with exit code [3] error [bad] output [xbad]"));
}

TEST_F(ArrayTest, RunCommandThatCannotStartLeavesExitCode) {
  std::string out, err;
  int code = 42;
  EXPECT_EQ(-1, RunCommand(&si_, "missing-tool", out, err, code));
  EXPECT_EQ(42, code);
  EXPECT_TRUE(si_.hasLogContaining("Failed to execute command [missing-tool]"));
}

TEST_F(ArrayTest, DeviceFileIsRemovedUnlessKept) {
  env_.files["/fake/tmp/f1"] = "a";
  env_.files["/fake/tmp/f2"] = "b";
  Expect("prog", "");
  std::string out, err;
  int code = 0;
  RunCommand(&si_, "prog", out, err, code, "/fake/tmp/f1", false);
  RunCommand(&si_, "prog", out, err, code, "/fake/tmp/f2", true);
  EXPECT_EQ(0u, env_.files.count("/fake/tmp/f1"));
  EXPECT_EQ(1u, env_.files.count("/fake/tmp/f2"));
}

TEST_F(ArrayTest, WriteToFileNamesTruncatesAndRestrictsTheDeviceFile) {
  env_.files[kDeviceFile] = "stale content that is much longer\n";
  std::string name;
  ASSERT_TRUE(WriteToFile(&si_, "00A1\n", name));
  EXPECT_EQ(kDeviceFile, name);
  EXPECT_EQ("00A1\n", env_.files[kDeviceFile]);
  EXPECT_EQ(0600, env_.fileModes[kDeviceFile]);
  int flags = env_.fileFlags[kDeviceFile];
  EXPECT_EQ(O_WRONLY, flags & O_ACCMODE);
  EXPECT_TRUE(flags & O_CREAT);
  EXPECT_TRUE(flags & O_TRUNC);
  EXPECT_TRUE(flags & O_NOFOLLOW);
}

TEST_F(ArrayTest, WriteToFileFailures) {
  std::string name = "x";
  si_.failingJobParams.insert(PZSO::JOB_PARAM_JOB_ID);
  EXPECT_FALSE(WriteToFile(&si_, "a", name));
  EXPECT_TRUE(name.empty());
  EXPECT_TRUE(si_.hasLog("Unable to get jobId."));
  si_.failingJobParams.clear();

  env_.tempDir.clear();
  EXPECT_FALSE(WriteToFile(&si_, "a", name));
  EXPECT_TRUE(si_.hasLog("Failed to get Nebulon Temp directory"));
  env_.tempDir = "/fake/tmp";

  env_.unwritablePaths.insert(kDeviceFile);
  EXPECT_FALSE(WriteToFile(&si_, "a", name));
  EXPECT_TRUE(si_.hasLog("Unable to create input  file [" +
                         std::string(kDeviceFile) +
                         "]. error [Permission denied]"));
  EXPECT_TRUE(env_.files.empty());
}

TEST_F(ArrayTest, WriteToFileInLogDirectory) {
  std::string name = "VMAX_DClone_";
  ASSERT_TRUE(WriteToFile("text", name));
  EXPECT_EQ("/fake/logs/VMAX_DClone_2021.02.03-08.05.09.log", name);
  EXPECT_EQ("text", env_.files[name]);
  EXPECT_EQ(0600, env_.fileModes[name]);
  EXPECT_TRUE(env_.fileFlags[name] & O_TRUNC);

  env_.logDir.clear();
  name = "p";
  EXPECT_FALSE(WriteToFile("text", name));
  EXPECT_TRUE(env_.hasLogContaining("Failed to get Vornel log file directory"));
}

TEST_F(ArrayTest, NoJobIdMeansNoFileAndNoCommand) {
  si_.failingJobParams.insert(PZSO::JOB_PARAM_JOB_ID);
  VMAXSnapParamList list;
  list.serial = kSid;
  VMAXSnapParam p;
  p.sourceDevice = "00A1";
  p.snapUid = "s1";
  list.params.push_back(p);
  EXPECT_FALSE(api_.DeleteSnaps(list));
  EXPECT_TRUE(env_.runs.empty());
  EXPECT_TRUE(env_.files.empty());
  EXPECT_TRUE(si_.hasLog("Failed to create file []"));
}

TEST(ScanHelpers, ColumnsAndWords) {
  const char* line = "one two three";
  const char* p = line;
  skipColumns(p, 5);
  EXPECT_EQ('\0', *p);
  EXPECT_EQ("", skipToSpace(p));
  p = line;
  skipColumns(p, 2);
  EXPECT_EQ("three", skipToSpace(p));
  p = line;
  EXPECT_EQ("one", skipToSpace(p));
  skipColumns(p, 0);
  EXPECT_EQ("two", skipToSpace(p));  // just after column 0: column 1
  const char* null = nullptr;
  EXPECT_EQ("", skipToSpace(null));
  skipSpace(null);
  EXPECT_EQ(nullptr, null);
}

TEST_F(ArrayTest, CurrentTimeFormat) {
  std::string t;
  GetCurrTime(t);
  EXPECT_EQ("2021.02.03-08.05.09", t);
}

TEST_F(ArrayTest, SymcliPathFromSettingResolvedOnce) {
  EXPECT_EQ("/opt/emc/SYMCLI/bin/", api_.symcliBinPath);
  ArrayAPI_CLI other(&si_);
  ArrayAPIInitParams params;
  params.config.symapiHomeDir = "/usr/symcli";
  ASSERT_TRUE(other.init(params));
  EXPECT_EQ("/usr/symcli/bin/", other.symcliBinPath);
  params.config.symapiHomeDir = "/elsewhere";
  ASSERT_TRUE(other.init(params));
  EXPECT_EQ("/usr/symcli/bin/", other.symcliBinPath);

  Expect(" \"/usr/symcli/bin/symsnapvx\" -sid " + std::string(kSid) +
             " -devs 00A1 -snapshot_name s1 list",
         "", 1, "No snapshot was found");
  VMAXSnapInfo info(&si_, kSid, "00A1", "s1");
  EXPECT_TRUE(other.GetSnapInfo(info, false));
  EXPECT_TRUE(env_.unexpected.empty());
}

TEST_F(ArrayTest, SolutionsEnablerVersion) {
  const std::string cmd = std::string(kBin) + "symcli";
  unsigned long v = 1;
  Expect(cmd, "\nSymmetrix Command Line Interface (SYMCLI) Version V9.2.1.6 "
              "(Edit Level: 2500)\n");
  EXPECT_TRUE(api_.GetSEVersion(v));
  EXPECT_EQ(9020106ul, v);
  EXPECT_EQ(9020106ul, api_.seVersion);
  EXPECT_TRUE(si_.hasLog("Found Solutions Enabler version [9.2.1.6]-[9020106]"));

  env_.scripts.clear();
  Expect(cmd, "Version V9.1.0.5 built");
  EXPECT_TRUE(api_.GetSEVersion(v));
  EXPECT_EQ(9010005ul, v);

  for (const char* bad : {"Version V9.1", "no version here",
                          "Version V9.123.0.1"}) {
    env_.scripts.clear();
    Expect(cmd, bad);
    v = 7;
    EXPECT_FALSE(api_.GetSEVersion(v)) << bad;
    EXPECT_EQ(0ul, v) << bad;
  }
  env_.scripts.clear();
  Expect(cmd, "Version V9.2.1.6", 1);
  EXPECT_FALSE(api_.GetSEVersion(v));
  EXPECT_TRUE(si_.hasLog("Failed to get Solutions Enabler version"));

  // A home with a blank in its path is one word on the command line.
  ArrayAPI_CLI spaced(&si_);
  spaced.symcliBinPath = "/opt/se home/bin/";
  env_.scripts.clear();
  Expect("\"/opt/se home/bin/symcli\"", "Version V10.0.0.0");
  EXPECT_TRUE(spaced.GetSEVersion(v));
  EXPECT_EQ(10000000ul, v);
}

}  // namespace
}  // namespace arraytest

#include "config/VMAXConfig.h"

namespace arraytest {
namespace {

// The home directory comes from the host setting through the configuration.
TEST_F(ArrayTest, SymcliHomeFromHostSetting) {
  env_.Set("EventManager", "SYMAPI_HOME_DIR", "/usr/symcli");
  ArrayAPIInitParams params;
  ASSERT_TRUE(readRegistryKeys(&si_, params.config));
  ArrayAPI_CLI api(&si_);
  ASSERT_TRUE(api.init(params));
  Expect(" \"/usr/symcli/bin/symdev\" -sid 000197900123 list -sg sg1", "");
  std::unordered_set<std::string> devs;
  EXPECT_TRUE(api.GetDevListBySG(kSid, "sg1", devs));
  EXPECT_TRUE(env_.unexpected.empty());

  Expect(" \"/opt/emc/SYMCLI/bin/symdev\" -sid 000197900123 list -sg sg1", "");
  EXPECT_TRUE(api_.GetDevListBySG(kSid, "sg1", devs));
  EXPECT_TRUE(env_.unexpected.empty());
}

}  // namespace
}  // namespace arraytest

namespace arraytest {
namespace {

TEST_F(ArrayTest, SuccessfulCommandReachesTheLogWriterOnlyAboveLevelTwo) {
  Expect("prog ok", "fine");
  std::string out, err;
  int code = 0;
  RunCommand(&si_, "prog ok", out, err, code);
  EXPECT_FALSE(env_.hasLogContaining("Successfully executed command"));
  env_.Set("~Fieldunit", "nHostLogWriterLevel", "3");
  RunCommand(&si_, "prog ok", out, err, code);
  EXPECT_TRUE(si_.logs.empty());
}

}  // namespace
}  // namespace arraytest
