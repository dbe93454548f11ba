#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

std::string Snapvx(const std::string& args) {
  return Tool("symsnapvx") + " -sid " + kSid + " " + args;
}
std::string ListDetail(const char* snap) {
  return Snapvx("-file " + std::string(kDeviceFile) + " -snapshot_name " +
                snap + " list -restored -detail");
}
std::string Terminate(const char* snap) {
  return Snapvx("-file " + std::string(kDeviceFile) + " -snapshot_name " +
                snap + " terminate -restored -noprompt");
}

// Restore progress as "list -restored -detail" prints it.
std::string Progress(const std::string& rows) {
  return "\nSymmetrix ID : 000197900123\n\n"
         "Sym   Snapshot                         Remaining  Done\n"
         "Dev   Name            Gen  Flgs        (Tracks)   (%)\n"
         "----- --------------- ---- ---------- ---------- ----\n" +
         rows + "----------\n";
}

TEST_F(ArrayTest, RestoreSnapsCommand) {
  Expect(Snapvx("-file " + std::string(kDeviceFile) +
                " -snapshot_name snapA restore -noprompt"),
         "");
  VMAXSnapParamList list;
  list.serial = kSid;
  for (const char* d : {"000A1", "000A2"}) {
    VMAXSnapParam p;
    p.snapUid = "snapA";
    p.sourceDevice = d;
    list.params.push_back(p);
  }
  EXPECT_TRUE(api_.RestoreSnaps(list));
  EXPECT_EQ("000A1\n000A2\n", FileSeen());
  EXPECT_FALSE(FileLeft());
  EXPECT_TRUE(si_.hasLog(
      "Successfully restored source devices [000A1 000A2 ] from snapshot [snapA]"));
}

TEST_F(ArrayTest, RestoreSessionsGroupedBySnapshot) {
  Expect(Snapvx("-file " + std::string(kDeviceFile) + " list -restored"),
         "Symmetrix ID : 1\n-------\nSym Dev\n----- ---------\n"
         "000A1 snapA 0 ....\n000A2 snapA 0 ....\n000A3 snapB 0 ....\n\n"
         "Flgs:\n  (R)estore\n");
  std::unordered_map<std::string, std::list<std::string>> sessions;
  ASSERT_TRUE(api_.GetRestoreSessions(kSid, {"000A1", "000A2", "000A3"},
                                      sessions));
  EXPECT_EQ("000A1\n000A2\n000A3", FileSeen());
  ASSERT_EQ(2u, sessions.size());
  EXPECT_EQ((std::list<std::string>{"000A1", "000A2"}), sessions["snapA"]);
  EXPECT_EQ((std::list<std::string>{"000A3"}), sessions["snapB"]);
}

TEST_F(ArrayTest, NoSnapvxInformationIsNoRestoreSession) {
  const std::string noInfo = ReadSample("msg_no_snapvx_information__1.txt");
  Expect(Snapvx("-file " + std::string(kDeviceFile) + " list -restored"), "", 1,
         noInfo);
  std::unordered_map<std::string, std::list<std::string>> sessions;
  EXPECT_TRUE(api_.GetRestoreSessions(kSid, {"000A1"}, sessions));
  EXPECT_TRUE(sessions.empty());

  Expect(ListDetail("snapA"), "", 1, noInfo);
  EXPECT_TRUE(api_.WaitForRestoreCompletion(kSid, "snapA", {"000A1"}));
  EXPECT_TRUE(api_.RestoreCleanup(kSid, "snapA", {"000A1"}, true));
  EXPECT_TRUE(si_.hasLog(
      "No restore session found for snap [snapA] source devices [000A1]"));
  EXPECT_TRUE(env_.sleeps.empty());
  EXPECT_FALSE(FileLeft());
}

TEST_F(ArrayTest, RestoreCleanupAllWithoutSessionsRunsOnlyTheList) {
  Expect(Snapvx("-file " + std::string(kDeviceFile) + " list -restored"), "", 1,
         "The devices do not have any Snapvx information.");
  EXPECT_TRUE(api_.RestoreCleanupAll(kSid, {"000A1"}));
  EXPECT_EQ(1u, env_.runs.size());
}

TEST_F(ArrayTest, RestoreListFailure) {
  Expect(ListDetail("snapA"), "", 1, "Symmetrix is locked");
  EXPECT_FALSE(api_.WaitForRestoreCompletion(kSid, "snapA", {"000A1"}));
  EXPECT_TRUE(si_.hasLog(
      "Failed to list restore session status for source devices [000A1]"));
  Expect(ListDetail("snapB"), "no percent heading");
  EXPECT_FALSE(api_.RestoreCleanup(kSid, "snapB", {"000A1"}, false));
  EXPECT_TRUE(si_.hasLog(
      "Failed to parse SYMCLI command output, format seems to have changed."));
}

TEST_F(ArrayTest, WaitPollsEveryThirtySecondsWithTheSameFile) {
  Expect(ListDetail("snapA"),
         Progress("000A1 snapA 0 .... 0 100\n000A2 snapA 0 .... 10 99\n"));
  Expect(ListDetail("snapA"),
         Progress("000A1 snapA 0 .... 0 100\n000A2 snapA 0 .... 0 100\n"));
  EXPECT_TRUE(api_.WaitForRestoreCompletion(kSid, "snapA", {"000A1", "000A2"}));
  EXPECT_EQ(std::vector<int64_t>{30000}, env_.sleeps);
  ASSERT_EQ(2u, env_.runs.size());
  EXPECT_EQ("000A1\n000A2", FileSeen(0));
  EXPECT_EQ("000A1\n000A2", FileSeen(1));
  EXPECT_FALSE(FileLeft());
  EXPECT_TRUE(si_.hasLog(
      "Restore session - snap [snapA] source [000A2] restore percent [99]"));
}

TEST_F(ArrayTest, WaitIsBoundedAndNamesTheDevicesBelowDone) {
  env_.Set("~Fieldunit", "nSymmRestoreWaitMaxMins", "2");
  Expect(ListDetail("snapA"),
         Progress("000A1 snapA 0 .... 0 100\n000A2 snapA 0 .... 10 40\n"
                  "000A3 snapA 0 .... 10 n/a\n"));
  EXPECT_FALSE(api_.WaitForRestoreCompletion(kSid, "snapA",
                                             {"000A1", "000A2", "000A3"}));
  // Two minutes of 30-second polls: four sleeps, five polls.
  EXPECT_EQ(4u, env_.sleeps.size());
  EXPECT_EQ(5u, env_.runs.size());
  EXPECT_TRUE(si_.hasLog(
      "Restore from snapshot [snapA] did not complete within [2] minutes; "
      "source devices below 100 percent [000A2,000A3]"));
  EXPECT_TRUE(si_.hasLogContaining("restore percent [n/a] is not a number"));
  EXPECT_FALSE(FileLeft());
}

TEST_F(ArrayTest, WaitBoundDefaultsToADay) {
  Expect(ListDetail("snapA"), Progress("000A1 snapA 0 .... 10 5\n"));
  EXPECT_FALSE(api_.WaitForRestoreCompletion(kSid, "snapA", {"000A1"}));
  EXPECT_EQ(size_t(1440 * 2), env_.sleeps.size());
}

TEST_F(ArrayTest, CleanupTerminatesDoneSessionsAndLeavesRunningOnes) {
  Expect(ListDetail("snapA"),
         Progress("000A1 snapA 0 .... 0 100\n000A2 snapA 0 .... 10 40\n"));
  Expect(Terminate("snapA"), "");
  EXPECT_TRUE(api_.RestoreCleanup(kSid, "snapA", {"000A1", "000A2"}, false));
  ASSERT_EQ(2u, env_.runs.size());
  EXPECT_EQ(Terminate("snapA"), env_.runs[1].commandLine);
  EXPECT_EQ("000A1", FileSeen(1));
  EXPECT_TRUE(env_.sleeps.empty());
  EXPECT_TRUE(si_.hasLog(
      "Restore session - snap [snapA] restored [1] restore in progress [1]"));
}

TEST_F(ArrayTest, CleanupAllDoneTerminatesWithoutWaiting) {
  Expect(ListDetail("snapA"),
         Progress("000A1 snapA 0 .... 0 100\n000A2 snapA 0 .... 0 100\n"));
  Expect(Terminate("snapA"), "");
  EXPECT_TRUE(api_.RestoreCleanup(kSid, "snapA", {"000A1", "000A2"}, true));
  EXPECT_EQ(2u, env_.runs.size());
  EXPECT_EQ("000A1\n000A2", FileSeen(1));
}

TEST_F(ArrayTest, CleanupWaitsForRunningSessionsThenTerminates) {
  Expect(ListDetail("snapA"),
         Progress("000A1 snapA 0 .... 0 100\n000A2 snapA 0 .... 10 40\n"));
  Expect(ListDetail("snapA"), Progress("000A2 snapA 0 .... 0 100\n"));
  Expect(Terminate("snapA"), "");
  EXPECT_TRUE(api_.RestoreCleanup(kSid, "snapA", {"000A1", "000A2"}, true));
  ASSERT_EQ(4u, env_.runs.size());
  EXPECT_EQ("000A1", FileSeen(1));
  EXPECT_EQ("000A2", FileSeen(2));
  EXPECT_EQ("000A2", FileSeen(3));
  EXPECT_EQ(Terminate("snapA"), env_.runs[3].commandLine);
}

TEST_F(ArrayTest, DeleteRestoreSessions) {
  EXPECT_FALSE(api_.DeleteRestoreSessions(kSid, "", {"000A1"}));
  EXPECT_TRUE(si_.hasLog(
      "Invalid parameters VMAX serial [000197900123] snap [] source devs [000A1]"));
  EXPECT_TRUE(env_.runs.empty());

  Expect(Terminate("snapA"), "", 1,
         ReadSample("symclone_query_no_session__1.txt"));
  EXPECT_TRUE(api_.DeleteRestoreSessions(kSid, "snapA", {"000A1"}));
  EXPECT_TRUE(si_.hasLog(
      "No restore session found for snapshot [snapA] and source devices [000A1]"));

  env_.scripts.clear();
  Expect(Terminate("snapA"), "", 1, "Symmetrix is locked");
  EXPECT_FALSE(api_.DeleteRestoreSessions(kSid, "snapA", {"000A1"}));
  EXPECT_FALSE(FileLeft());
}

TEST_F(ArrayTest, CleanupAllWaitsAndTerminatesEverySnapshot) {
  Expect(Snapvx("-file " + std::string(kDeviceFile) + " list -restored"),
         "-----\n000A1 snapA 0 ....\n000A2 snapB 0 ....\nFlgs:\n");
  Expect(ListDetail("snapA"), Progress("000A1 snapA 0 .... 0 100\n"));
  Expect(ListDetail("snapB"), Progress("000A2 snapB 0 .... 0 100\n"));
  Expect(Terminate("snapA"), "");
  Expect(Terminate("snapB"), "", 1, "Symmetrix is locked");
  EXPECT_FALSE(api_.RestoreCleanupAll(kSid, {"000A1", "000A2"}));
  EXPECT_TRUE(env_.unexpected.empty());
  EXPECT_TRUE(si_.hasLogContaining(
      "Failed to terminate restore session for snapshot [snapB]"));
  EXPECT_FALSE(api_.RestoreCleanupAll("", {"000A1"}));
  EXPECT_TRUE(
      si_.hasLog("Invalid parameters VMAX serial [] source devs [000A1]"));
}

}  // namespace
}  // namespace arraytest

namespace arraytest {
namespace {

TEST_F(ArrayTest, ProgressRowsWithoutClosingRulerRunToTheEnd) {
  Expect(ListDetail("snapA"),
         "-------- header --------\nSym   Snapshot   Done\nDev   Name       (%)\n"
         "000A1 snapA 100\n000A2 snapA 100\n");
  EXPECT_TRUE(api_.WaitForRestoreCompletion(kSid, "snapA", {"000A1", "000A2"}));
  EXPECT_TRUE(env_.sleeps.empty());
}

}  // namespace
}  // namespace arraytest
