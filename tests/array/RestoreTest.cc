#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

std::string Snapvx(const std::string& args) {
  return Tool("symsnapvx") + " -sid " + kSid + " -file " + kDeviceFile + " " + args;
}
std::string ListDetail(const std::string& snap) {
  return Snapvx("-snapshot_name " + snap + " list -restored -detail");
}
std::string Terminate(const std::string& snap) {
  return Snapvx("-snapshot_name " + snap + " terminate -restored -noprompt");
}
const std::string kListRestored = Snapvx("list -restored");

// Restore progress as "list -restored -detail" prints it; rows "dev:percent".
std::string Progress(std::initializer_list<const char*> rows) {
  std::string s =
      "\nSymmetrix ID : 000197900123\n\n"
      "Sym   Snapshot                         Remaining  Done\n"
      "Dev   Name            Gen  Flgs        (Tracks)   (%)\n"
      "----- --------------- ---- ---------- ---------- ----\n";
  for (std::string r : rows)
    s += r.substr(0, 5) + " snapA 0 .... 10 " + r.substr(6) + "\n";
  return s + "----------\n";
}

// Waiting polls every 30 s with the same device file, bounded by the
// configured minutes (a day by default).
TEST_F(ArrayTest, WaitForRestoreCompletion) {
  const std::string noInfo = ReadSample("msg_no_snapvx_information__1.txt");
  struct Case {
    const char* name;
    std::vector<std::string> polls;  // answers in turn; "!" + stderr = exit 1
    const char* maxMins;
    std::vector<std::string> devs;
    bool ok;
    size_t runs, sleeps;
  } cases[] = {
      {"done after one sleep",
       {Progress({"000A1:100", "000A2:99"}), Progress({"000A1:100", "000A2:100"})},
       nullptr, {"000A1", "000A2"}, true, 2, 1},
      {"a day by default", {Progress({"000A1:5"})}, nullptr, {"000A1"}, false,
       1441 * 2 - 1, 1440 * 2},
      {"no session", {"!" + noInfo}, nullptr, {"000A1"}, true, 1, 0},
      {"list fails", {"!Symmetrix is locked"}, nullptr, {"000A1"}, false, 1, 0},
      {"no closing ruler",
       {"-------- header --------\nSym   Snapshot   Done\nDev   Name       (%)\n"
        "000A1 snapA 100\n000A2 snapA 100\n"},
       nullptr, {"000A1", "000A2"}, true, 1, 0},
      {"bounded", {Progress({"000A1:100", "000A2:40", "000A3:n/a"})}, "2",
       {"000A1", "000A2", "000A3"}, false, 5, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    env_.scripts.clear();
    env_.runs.clear();
    env_.sleeps.clear();
    env_.nowMicros = 1612339509LL * 1000000;  // the device file's time again
    if (c.maxMins) env_.Set("~Fieldunit", "nSymmRestoreWaitMaxMins", c.maxMins);
    for (const std::string& p : c.polls) {
      if (p[0] == '!')
        Expect(ListDetail("snapA"), "", 1, p.substr(1));
      else
        Expect(ListDetail("snapA"), p);
    }
    std::list<std::string> devs(c.devs.begin(), c.devs.end());
    EXPECT_EQ(c.ok, api_.WaitForRestoreCompletion(kSid, "snapA", devs));
    EXPECT_EQ(c.runs, env_.runs.size());
    EXPECT_EQ(c.sleeps, env_.sleeps.size());
    for (int64_t s : env_.sleeps) EXPECT_EQ(30000, s);
    for (size_t i = 0; i < env_.runs.size(); ++i)
      EXPECT_EQ(c.devs.size() == 1 ? "000A1" : "000A1\n000A2" + std::string(
                    c.devs.size() == 3 ? "\n000A3" : ""), FileSeen(i));
    EXPECT_FALSE(FileLeft());
  }
  // The operator learns which devices did not finish.
  EXPECT_TRUE(si_.hasLog(
      "Restore from snapshot [snapA] did not complete within [2] minutes; "
      "source devices below 100 percent [000A2,000A3]"));
}

// Cleanup terminates the finished sessions, waiting for running ones if asked.
TEST_F(ArrayTest, RestoreCleanup) {
  struct Case {
    const char* name;
    std::vector<std::string> polls;
    bool wait, ok;
    std::vector<std::string> files;  // device file of each run
  } cases[] = {
      {"leaves running", {Progress({"000A1:100", "000A2:40"})}, false, true,
       {"000A1\n000A2", "000A1"}},
      {"all done", {Progress({"000A1:100", "000A2:100"})}, true, true,
       {"000A1\n000A2", "000A1\n000A2"}},
      {"waits", {Progress({"000A1:100", "000A2:40"}), Progress({"000A2:100"})},
       true, true, {"000A1\n000A2", "000A1", "000A2", "000A2"}},
      {"unparsable", {"no percent heading"}, false, false, {"000A1\n000A2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    env_.scripts.clear();
    env_.runs.clear();
    env_.nowMicros = 1612339509LL * 1000000;
    for (const std::string& p : c.polls) Expect(ListDetail("snapA"), p);
    Expect(Terminate("snapA"), "");
    EXPECT_EQ(c.ok, api_.RestoreCleanup(kSid, "snapA", {"000A1", "000A2"}, c.wait));
    ASSERT_EQ(c.files.size(), env_.runs.size());
    for (size_t i = 0; i < c.files.size(); ++i) EXPECT_EQ(c.files[i], FileSeen(i)) << i;
    if (c.ok) { EXPECT_EQ(Terminate("snapA"), env_.runs.back().commandLine); }
    EXPECT_FALSE(FileLeft());
  }

  env_.scripts.clear();
  Expect(ListDetail("snapA"), "", 1, ReadSample("msg_no_snapvx_information__1.txt"));
  EXPECT_TRUE(api_.RestoreCleanup(kSid, "snapA", {"000A1"}, true));
}

TEST_F(ArrayTest, RestoreSessionsAndCleanupAll) {
  Expect(kListRestored,
         "Symmetrix ID : 1\n-------\nSym Dev\n----- ---------\n"
         "000A1 snapA 0 ....\n000A2 snapA 0 ....\n000A3 snapB 0 ....\n\n"
         "Flgs:\n  (R)estore\n");
  std::unordered_map<std::string, std::list<std::string>> sessions;
  ASSERT_TRUE(api_.GetRestoreSessions(kSid, {"000A1", "000A2", "000A3"}, sessions));
  EXPECT_EQ("000A1\n000A2\n000A3", FileSeen());
  ASSERT_EQ(2u, sessions.size());
  EXPECT_EQ((std::list<std::string>{"000A1", "000A2"}), sessions["snapA"]);
  EXPECT_EQ((std::list<std::string>{"000A3"}), sessions["snapB"]);

  // Without sessions only the list runs.
  env_.scripts.clear();
  env_.runs.clear();
  Expect(kListRestored, "", 1, ReadSample("msg_no_snapvx_information__1.txt"));
  sessions.clear();
  EXPECT_TRUE(api_.GetRestoreSessions(kSid, {"000A1"}, sessions));
  EXPECT_TRUE(sessions.empty());
  EXPECT_TRUE(api_.RestoreCleanupAll(kSid, {"000A1"}));
  EXPECT_EQ(2u, env_.runs.size());

  // Every snapshot is waited for and terminated; one failure fails the whole.
  env_.scripts.clear();
  Expect(kListRestored, "-----\n000A1 snapA 0 ....\n000A2 snapB 0 ....\nFlgs:\n");
  Expect(ListDetail("snapA"), Progress({"000A1:100"}));
  Expect(ListDetail("snapB"), Progress({"000A2:100"}));
  Expect(Terminate("snapA"), "");
  Expect(Terminate("snapB"), "", 1, "Symmetrix is locked");
  EXPECT_FALSE(api_.RestoreCleanupAll(kSid, {"000A1", "000A2"}));
  EXPECT_TRUE(env_.unexpected.empty());
  EXPECT_FALSE(api_.RestoreCleanupAll("", {"000A1"}));
}

TEST_F(ArrayTest, DeleteRestoreSessions) {
  EXPECT_FALSE(api_.DeleteRestoreSessions(kSid, "", {"000A1"}));
  EXPECT_TRUE(env_.runs.empty());
  struct Case {
    std::string err;
    bool ok;
  } cases[] = {{ReadSample("symclone_query_no_session__1.txt"), true},
               {"Symmetrix is locked", false}};
  for (const Case& c : cases) {
    env_.scripts.clear();
    Expect(Terminate("snapA"), "", 1, c.err);
    EXPECT_EQ(c.ok, api_.DeleteRestoreSessions(kSid, "snapA", {"000A1"}));
    EXPECT_FALSE(FileLeft());
  }
}

}  // namespace
}  // namespace arraytest
