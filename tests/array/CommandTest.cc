// The command runner and its device files; snapshot, link and restore
// commands: command lines, device files, flags.
#include <fcntl.h>

#include "array/CommandRunner.h"
#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

VMAXSnapParamList List(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  VMAXSnapParamList list;
  list.serial = kSid;
  for (const auto& pr : pairs) {
    VMAXSnapParam p;
    p.snapUid = "snapA";
    p.sourceDevice = pr.first;
    p.targetDevice = pr.second;
    list.params.push_back(p);
  }
  return list;
}
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

// Device and log files are truncated, private and never followed through a
// link; without a place or a job id there is none.
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

  // No job id: no file and no command.
  env_.tempDir = "/fake/tmp";
  env_.unwritablePaths.clear();
  si_.failingJobParams.insert(PZSO::JOB_PARAM_JOB_ID);
  name = "x";
  EXPECT_FALSE(WriteToFile(&si_, "a", name));
  EXPECT_TRUE(name.empty());
  VMAXSnapParamList list = List({{"00A1", ""}});
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

std::string Snapvx(const std::string& args) { return Cmd("symsnapvx", args); }
std::string OnSnapA(const std::string& args) {
  return Snapvx(kFile + "-snapshot_name snapA " + args);
}
const std::string kListDetail = OnSnapA("list -restored -detail");
const std::string kTerminate = OnSnapA("terminate -restored -noprompt");

// A snapshot listing (the end-to-end runs read the full layout).
std::string Listing(const std::string& rows) {
  return "Dev   Snapshot Name   Gens FLRG TSEB Last Snapshot\n----- ----\n" + rows + "\nFlags:\n";
}

// Restore progress as "list -restored -detail" prints it; rows "dev:percent".
std::string Progress(std::initializer_list<const char*> rows) {
  std::string s = "Sym   Snapshot    Remaining  Done\nDev   Name  Gen Flgs  (Tracks) (%)\n-----\n";
  for (std::string r : rows) s += r.substr(0, 5) + " snapA 0 .... 10 " + r.substr(6) + "\n";
  return s + "----------\n";
}

// Each operation writes the device file (sources, or source-target pairs),
// runs one command line and keeps the file only for a delete with verbose
// logging. The unlink is forced by the setting. An empty list runs nothing.
TEST_F(ArrayTest, SnapshotOperationsCommandLinesAndDeviceFile) {
  using A = ArrayAPI_CLI;
  const std::string forced = Tool("symsnapvx") + " -sid  " + kSid + " " + kFile +
                             "-snapshot_name snapA unlink -symforce -noprompt";
  // Operation, verbose logging, command line (asking for a copy or a forced
  // unlink), and whether the device file is kept.
  for (auto [call, verbose, cmd, kept] : {
           std::tuple<bool (A::*)(VMAXSnapParamList&), bool, std::string, bool>{
               &A::CreateSnaps, true, Snapvx(kFile + "-name snapA establish -noprompt"), false},
           {&A::DeleteSnaps, true, OnSnapA("terminate -noprompt"), true},
           {&A::LinkTarget, false, OnSnapA("link -copy -noprompt"), false},
           {&A::UnlinkTarget, true, forced, false}}) {
    SCOPED_TRACE(cmd);
    const bool pairs = cmd.find("link") != std::string::npos;
    Reset();
    config_.bSymmVerboseLogging = verbose;
    config_.bSYMCLIForceUnlink = cmd.find("-symforce") != std::string::npos;
    Reinit();
    Expect(cmd, "");
    VMAXSnapParamList list = pairs ? List({{"00A1", "00B1"}, {"00A2", "00B2"}})
                                   : List({{"00A1", ""}, {"00A2", ""}});
    list.decoupledClone = cmd.find("-copy") != std::string::npos;
    EXPECT_TRUE((api_.*call)(list));
    EXPECT_TRUE(env_.unexpected.empty());
    EXPECT_EQ(pairs ? "00A1 00B1\n00A2 00B2\n" : "00A1\n00A2\n", FileSeen());
    EXPECT_EQ(kept, FileLeft());
    env_.files.clear();
    VMAXSnapParamList empty;
    empty.serial = kSid;
    EXPECT_FALSE((api_.*call)(empty));
    EXPECT_EQ(1u, env_.runs.size());
  }
}

// The user is told what to do when a source has no session left.
TEST_F(ArrayTest, CreateSnapsMaximumSessions) {
  Expect(Snapvx(kFile + "-name snapA establish -noprompt"), "", 1,
         "The maximum number of sessions has been exceeded\n");
  VMAXSnapParamList list = List({{"00A1", ""}});
  EXPECT_FALSE(api_.CreateSnaps(list));
  const std::string text =
      "The maximum number of sessions has been exceeded for specified source "
      "devices [00A1 ]. Please check and delete older snapshots which are not "
      "required.";
  EXPECT_EQ(text, list.errStr);
  ASSERT_EQ(1u, si_.events.size());
  EXPECT_EQ(PZSO::EVENT_SEVERITY_ERROR, si_.events[0].first);
  EXPECT_EQ(text, si_.events[0].second);
}

// One snapshot's flags: F(ailed) L(inked) R(estore) in the first word; a
// three-character word changes nothing; "not found" is no snapshot. With its
// link devices, "no SnapVX information" is no link; of a link device's flags
// a four-character word is not read.
TEST_F(ArrayTest, SnapInfoAndLinkDeviceFlags) {
  // Answer, result, and the exists, failed and linked of a record set before.
  for (auto [answer, ok, flags] : {
           std::tuple<std::string, bool, std::vector<bool>>{
               Listing("000A1 snapB 1 X... .... Wed\n000A1 snapA 1 .X.. .... Wed\n"), true,
               {true, false, true}},
           {Listing("000A1 snapA 1 ... .... Wed\n"), true, {true, true, true}},
           {"no ruler here", false, {true, true, true}}}) {
    SCOPED_TRACE(answer);
    Reset();
    Answer(Snapvx("-devs 00A1 -snapshot_name snapA list"), answer);
    VMAXSnapInfo info(&si_, kSid, "00A1", "snapA");
    info.exists = info.failed = info.linked = true;
    EXPECT_EQ(ok, api_.GetSnapInfo(info, false));
    EXPECT_EQ(flags, (std::vector<bool>{info.exists, info.failed, info.linked}));
  }
  const std::string linked = Snapvx("-devs 00A1 -snapshot_name snapA list -linked");
  Reset();
  Expect(Snapvx("-devs 00A1 -snapshot_name snapA list"), Listing("000A1 snapA 1 .... .... W\n"));
  Expect(linked, "", 1, ReadSample("msg_no_snapvx_information__1.txt"));
  VMAXSnapInfo info(&si_, kSid, "00A1", "snapA");
  EXPECT_TRUE(api_.GetSnapInfo(info, true));
  EXPECT_FALSE(info.linked);
  EXPECT_TRUE(info.linkDevs.empty());

  Reset();
  Expect(linked, "Symmetrix ID : 1\n-----\nSym Dev\n----- -----\n"
                 "000A1 snapA 000B1 .C.X. Wed\n000A1 snapA 000B2 X... Wed\n"
                 "000A1 snapZ 000B3 XXXXX Wed\n\nFlgs:\n (F)ailed\n");
  ASSERT_TRUE(api_.GetLinkDevsSnap(info));
  EXPECT_TRUE(info.linked);
  ASSERT_EQ(2u, info.linkDevs.size());
  EXPECT_TRUE(info.linkDevs[0].fourthFlagSet);
  EXPECT_FALSE(info.linkDevs[0].firstFlagSet);
  EXPECT_FALSE(info.linkDevs[1].fourthFlagSet);
  EXPECT_FALSE(info.linkDevs[1].firstFlagSet);
}

// Linked; another snapshot's row; right target but other source. A listing
// without its ruler is a failure that changes nothing.
TEST_F(ArrayTest, IsSnapLinkedMarksPairsAndClearsOthers) {
  Expect(Snapvx("list -linked -by_tgt -lndev 000B1,000B2,000B3"),
         "Symmetrix ID : 1\n------\nLink Sym\n----- -----\n"
         "B1 A1 snapA 0 .... Wed\n000B3 000A9 snapA 0 .... Wed\n"
         "000B2 000A2 snapOther 0 .... Wed\n\nFlgs:\n");
  VMAXSnapParamList list =
      List({{"000A1", "000B1"}, {"000A2", "000B2"}, {"000A3", "000B3"}, {"000A4", ""}});
  ASSERT_TRUE(api_.IsSnapLinked(list));
  auto it = list.params.begin();
  for (int i = 0; i < 3; ++i, ++it) {
    EXPECT_EQ(i == 0, it->targetLinked) << i;
    EXPECT_EQ(i == 0 ? "000B1" : "", it->targetDevice) << i;
  }
  Reset();
  Answer(Snapvx("list -linked -by_tgt -lndev 000B1"), "garbage without ruler");
  list = List({{"000A1", "000B1"}});
  list.params.front().targetLinked = true;
  EXPECT_FALSE(api_.IsSnapLinked(list));
  EXPECT_TRUE(list.params.front().targetLinked);
}

// Waiting polls every 30 s with the same device file, bounded by the
// configured minutes (a day by default).
TEST_F(ArrayTest, WaitForRestoreCompletion) {
  // The one answer, the limit setting, the devices, result, runs and sleeps.
  for (auto [answer, maxMins, devs, ok, runs, sleeps] : {
           std::tuple<std::string, const char*, std::list<std::string>, bool, size_t, size_t>{
               Progress({"000A1:5"}), nullptr, {"000A1"}, false, 1441 * 2 - 1, 1440 * 2},
           {"!" + ReadSample("msg_no_snapvx_information__1.txt"), nullptr, {"000A1"}, true, 1, 0},
           {"-------- header --------\nSym   Snapshot   Done\nDev   Name       (%)\n"
            "000A1 snapA 100\n000A2 snapA 100\n",  // no closing ruler
            nullptr, {"000A1", "000A2"}, true, 1, 0},
           {Progress({"000A1:100", "000A2:40", "000A3:n/a"}), "2", {"000A1", "000A2", "000A3"},
            false, 5, 4}}) {
    SCOPED_TRACE(answer);
    Reset();
    env_.sleeps.clear();
    env_.nowMicros = 1612339509LL * 1000000;  // the device file's time again
    if (maxMins) env_.Set("~Fieldunit", "nSymmRestoreWaitMaxMins", maxMins);
    Answer(kListDetail, answer);
    EXPECT_EQ(ok, api_.WaitForRestoreCompletion(kSid, "snapA", devs));
    EXPECT_EQ(runs, env_.runs.size());
    EXPECT_EQ(sleeps, env_.sleeps.size());
    for (int64_t s : env_.sleeps) EXPECT_EQ(30000, s);
    std::string file;
    for (const std::string& d : devs) file += (file.empty() ? "" : "\n") + d;
    for (size_t i = 0; i < env_.runs.size(); ++i) EXPECT_EQ(file, FileSeen(i));
    EXPECT_FALSE(FileLeft());
  }
  // The operator learns which devices did not finish.
  EXPECT_TRUE(si_.hasLog(
      "Restore from snapshot [snapA] did not complete within [2] minutes; "
      "source devices below 100 percent [000A2,000A3]"));
}

// Cleanup terminates the finished sessions, waiting for running ones if
// asked; a clone query's "no session" is nothing to delete.
TEST_F(ArrayTest, RestoreCleanup) {
  using V = std::vector<std::string>;
  // Answers in turn, wait, result, and the device file of each run.
  for (auto [polls, wait, ok, files] : {
           std::tuple<V, bool, bool, V>{{Progress({"000A1:100", "000A2:40"})}, false, true,
                                        {"000A1\n000A2", "000A1"}},
           {{Progress({"000A1:100", "000A2:40"}), Progress({"000A2:100"})}, true, true,
            {"000A1\n000A2", "000A1", "000A2", "000A2"}},
           {{"no percent heading"}, false, false, {"000A1\n000A2"}}}) {
    SCOPED_TRACE(files.size());
    Reset();
    env_.nowMicros = 1612339509LL * 1000000;
    for (const std::string& p : polls) Expect(kListDetail, p);
    Expect(kTerminate, "");
    EXPECT_EQ(ok, api_.RestoreCleanup(kSid, "snapA", {"000A1", "000A2"}, wait));
    V seen;
    for (size_t i = 0; i < env_.runs.size(); ++i) seen.push_back(FileSeen(i));
    EXPECT_EQ(files, seen);
    if (ok) { EXPECT_EQ(kTerminate, env_.runs.back().commandLine); }
    EXPECT_FALSE(FileLeft());
  }
  Reset();
  Expect(kTerminate, "", 1, ReadSample("symclone_query_no_session__1.txt"));
  EXPECT_TRUE(api_.DeleteRestoreSessions(kSid, "snapA", {"000A1"}));
  EXPECT_FALSE(FileLeft());
}

}  // namespace
}  // namespace arraytest
