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

// Restore progress as "list -restored -detail" prints it; rows "dev:percent".
std::string Progress(std::initializer_list<const char*> rows) {
  std::string s =
      "\nSymmetrix ID : 000197900123\n\n"
      "Sym   Snapshot                         Remaining  Done\n"
      "Dev   Name            Gen  Flgs        (Tracks)   (%)\n"
      "----- --------------- ---- ---------- ---------- ----\n";
  for (std::string r : rows) s += r.substr(0, 5) + " snapA 0 .... 10 " + r.substr(6) + "\n";
  return s + "----------\n";
}

// Waiting polls every 30 s with the same device file, bounded by the
// configured minutes (a day by default).
TEST_F(ArrayTest, WaitForRestoreCompletion) {
  struct Case {
    const char* name;
    std::vector<std::string> polls;  // answers in turn
    const char* maxMins;
    std::list<std::string> devs;
    bool ok;
    size_t runs, sleeps;
  } cases[] = {
      {"done after one sleep",
       {Progress({"000A1:100", "000A2:99"}), Progress({"000A1:100", "000A2:100"})},
       nullptr, {"000A1", "000A2"}, true, 2, 1},
      {"a day by default", {Progress({"000A1:5"})}, nullptr, {"000A1"}, false,
       1441 * 2 - 1, 1440 * 2},
      {"no session", {"!" + ReadSample("msg_no_snapvx_information__1.txt")}, nullptr,
       {"000A1"}, true, 1, 0},
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
    for (const std::string& p : c.polls) Answer(ListDetail("snapA"), p);
    EXPECT_EQ(c.ok, api_.WaitForRestoreCompletion(kSid, "snapA", c.devs));
    EXPECT_EQ(c.runs, env_.runs.size());
    EXPECT_EQ(c.sleeps, env_.sleeps.size());
    for (int64_t s : env_.sleeps) EXPECT_EQ(30000, s);
    std::string file;
    for (const std::string& d : c.devs) file += (file.empty() ? "" : "\n") + d;
    for (size_t i = 0; i < env_.runs.size(); ++i) EXPECT_EQ(file, FileSeen(i));
    EXPECT_FALSE(FileLeft());
  }
  // The operator learns which devices did not finish.
  EXPECT_TRUE(si_.hasLog(
      "Restore from snapshot [snapA] did not complete within [2] minutes; "
      "source devices below 100 percent [000A2,000A3]"));
}

// Cleanup terminates the finished sessions, waiting for running ones if asked;
// over all sessions, one failed terminate fails the whole.
TEST_F(ArrayTest, RestoreCleanup) {
  struct Case {
    const char* name;
    std::vector<std::string> polls;
    bool wait, ok;
    std::vector<std::string> files;  // device file of each run
  } cases[] = {
      {"leaves running", {Progress({"000A1:100", "000A2:40"})}, false, true,
       {"000A1\n000A2", "000A1"}},
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
  Expect(Snapvx("list -restored"), "-----\n000A1 snapA 0 ....\n000A2 snapB 0 ....\nFlgs:\n");
  Expect(ListDetail("snapA"), Progress({"000A1:100"}));
  Expect(ListDetail("snapB"), Progress({"000A2:100"}));
  Expect(Terminate("snapA"), "");
  Expect(Terminate("snapB"), "", 1, "Symmetrix is locked");
  EXPECT_FALSE(api_.RestoreCleanupAll(kSid, {"000A1", "000A2"}));
  EXPECT_TRUE(env_.unexpected.empty());
}

// A clone query's "no session" is nothing to delete; other errors fail.
TEST_F(ArrayTest, DeleteRestoreSessions) {
  EXPECT_FALSE(api_.DeleteRestoreSessions(kSid, "", {"000A1"}));
  EXPECT_TRUE(env_.runs.empty());
  for (auto [err, ok] : {std::pair{ReadSample("symclone_query_no_session__1.txt"), true},
                         {std::string("Symmetrix is locked"), false}}) {
    env_.scripts.clear();
    Expect(Terminate("snapA"), "", 1, err);
    EXPECT_EQ(ok, api_.DeleteRestoreSessions(kSid, "snapA", {"000A1"}));
    EXPECT_FALSE(FileLeft());
  }
}

}  // namespace
}  // namespace arraytest
