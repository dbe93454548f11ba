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

std::string Snapvx(const std::string& args) {
  return Tool("symsnapvx") + " -sid " + kSid + " " + args;
}
std::string WithFile(const std::string& args) {
  return Snapvx("-file " + std::string(kDeviceFile) + " -snapshot_name snapA " + args);
}

std::string Listing(const std::string& rows) {
  return "\nSymmetrix ID              : 000197900123 (Microcode Version: 5978)\n\n"
         "----------------------------------------------------------------------\n"
         "Sym                                  Num  Flags\n"
         "Dev   Snapshot Name                  Gens FLRG TSEB Last Snapshot\n"
         "----- ------------------------------ ---- ---- ---- ------------------\n" +
         rows + "\nFlags:\n\n  (F)ailed    : X = General Failure, . = No Failure\n";
}

// Each operation writes the device file (sources, or source-target pairs),
// runs one command line and keeps the file only for a delete with verbose
// logging. The unlink is forced by the setting. An empty list runs nothing.
TEST_F(ArrayTest, SnapshotOperationsCommandLinesAndDeviceFile) {
  using A = ArrayAPI_CLI;
  const std::string forced = Tool("symsnapvx") + " -sid  " + kSid + " -file " + kDeviceFile +
                             " -snapshot_name snapA unlink -symforce -noprompt";
  struct Case {
    bool (ArrayAPI_CLI::*call)(VMAXSnapParamList&);
    bool pairs, copy, verbose, force;
    std::string cmd;
    bool kept;
  } cases[] = {
      {&A::CreateSnaps, false, false, true, false,
       Snapvx("-file " + std::string(kDeviceFile) + " -name snapA establish -noprompt"), false},
      {&A::DeleteSnaps, false, false, true, false, WithFile("terminate -noprompt"), true},
      {&A::LinkTarget, true, false, false, false, WithFile("link -noprompt"), false},
      {&A::LinkTarget, true, true, false, false, WithFile("link -copy -noprompt"), false},
      {&A::UnlinkTarget, true, false, false, false, WithFile("unlink -noprompt"), false},
      {&A::UnlinkTarget, true, false, true, true, forced, false},
      {&A::RestoreSnaps, false, false, false, false, WithFile("restore -noprompt"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cmd);
    env_.scripts.clear();
    env_.runs.clear();
    config_.bSymmVerboseLogging = c.verbose;
    config_.bSYMCLIForceUnlink = c.force;
    Reinit();
    Expect(c.cmd, "");
    VMAXSnapParamList list = c.pairs ? List({{"00A1", "00B1"}, {"00A2", "00B2"}})
                                     : List({{"00A1", ""}, {"00A2", ""}});
    list.decoupledClone = c.copy;
    EXPECT_TRUE((api_.*c.call)(list));
    EXPECT_TRUE(env_.unexpected.empty());
    EXPECT_EQ(c.pairs ? "00A1 00B1\n00A2 00B2\n" : "00A1\n00A2\n", FileSeen());
    EXPECT_EQ(c.kept, FileLeft());
    env_.files.clear();
    VMAXSnapParamList empty;
    empty.serial = kSid;
    EXPECT_FALSE((api_.*c.call)(empty));
    EXPECT_EQ(1u, env_.runs.size());
  }
  std::list<VMAXSnapInfo> none;
  EXPECT_FALSE(api_.GetSnapInfo(none));
}

// The user is told what to do when a source has no session left.
TEST_F(ArrayTest, CreateSnapsMaximumSessions) {
  Expect(Snapvx("-file " + std::string(kDeviceFile) + " -name snapA establish -noprompt"), "", 1,
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
// link devices, "no SnapVX information" is no link.
TEST_F(ArrayTest, SnapInfoFlagsAndMissingSnapshot) {
  struct Case {
    std::string answer;
    bool ok, exists, failed, linked;
  } cases[] = {
      {Listing("000A1 snapB 1 X... .... Wed\n000A1 snapA 1 .X.. .... Wed\n"), true, true,
       false, true},
      {Listing("000A1 snapA 1 ... .... Wed\n"), true, true, true, true},
      {"!\nNo snapshot was found\n", true, false, true, true},
      {"!Symmetrix is locked", false, true, true, true},
      {"no ruler here", false, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    env_.scripts.clear();
    Answer(Snapvx("-devs 00A1 -snapshot_name snapA list"), c.answer);
    VMAXSnapInfo info(&si_, kSid, "00A1", "snapA");
    info.exists = info.failed = info.linked = true;
    EXPECT_EQ(c.ok, api_.GetSnapInfo(info, false));
    EXPECT_EQ(c.exists, info.exists);
    EXPECT_EQ(c.failed, info.failed);
    EXPECT_EQ(c.linked, info.linked);
  }
  env_.scripts.clear();
  Expect(Snapvx("-devs 00A1 -snapshot_name snapA list"), Listing("000A1 snapA 1 .... .... W\n"));
  Expect(Snapvx("-devs 00A1 -snapshot_name snapA list -linked"), "", 1,
         ReadSample("msg_no_snapvx_information__1.txt"));
  VMAXSnapInfo info(&si_, kSid, "00A1", "snapA");
  EXPECT_TRUE(api_.GetSnapInfo(info, true));
  EXPECT_FALSE(info.linked);
  EXPECT_TRUE(info.linkDevs.empty());
}

TEST_F(ArrayTest, LinkDevsFlags) {
  Expect(Snapvx("-devs 00A1 -snapshot_name snapA list -linked"),
         "Symmetrix ID : 1\n-----\nSym Dev\n----- -----\n"
         "000A1 snapA 000B1 .C.X. Wed\n000A1 snapA 000B2 X... Wed\n"
         "000A1 snapZ 000B3 XXXXX Wed\n\nFlgs:\n (F)ailed\n");
  VMAXSnapInfo info(&si_, kSid, "00A1", "snapA");
  ASSERT_TRUE(api_.GetLinkDevsSnap(info));
  EXPECT_TRUE(info.linked);
  ASSERT_EQ(2u, info.linkDevs.size());
  EXPECT_TRUE(info.linkDevs[0].fourthFlagSet);
  EXPECT_FALSE(info.linkDevs[0].firstFlagSet);
  EXPECT_FALSE(info.linkDevs[1].fourthFlagSet);  // four characters: unread
  EXPECT_FALSE(info.linkDevs[1].firstFlagSet);
}

// Linked; another snapshot's row; right target but other source. Nothing
// linked is no failure; other answers are.
TEST_F(ArrayTest, IsSnapLinkedMarksPairsAndClearsOthers) {
  Expect(Snapvx("list -linked -by_tgt -lndev 000B1,000B2,000B3"),
         "Symmetrix ID : 1\n------\nLink Sym\n----- -----\n"
         "B1 A1 snapA 0 .... Wed\n000B3 000A9 snapA 0 .... Wed\n"
         "000B2 000A2 snapOther 0 .... Wed\n\nFlgs:\n");
  VMAXSnapParamList list =
      List({{"000A1", "000B1"}, {"000A2", "000B2"}, {"000A3", "000B3"}, {"000A4", ""}});
  ASSERT_TRUE(api_.IsSnapLinked(list));
  const bool linked[] = {true, false, false};
  auto it = list.params.begin();
  for (int i = 0; i < 3; ++i, ++it) {
    EXPECT_EQ(linked[i], it->targetLinked) << i;
    EXPECT_EQ(linked[i] ? "000B1" : "", it->targetDevice) << i;
  }
  for (auto [answer, ok] : {std::pair{"!No link target was found", true},
                            {"garbage without ruler", false}, {"!Symmetrix is locked", false}}) {
    env_.scripts.clear();
    Answer(Snapvx("list -linked -by_tgt -lndev 000B1"), answer);
    list = List({{"000A1", "000B1"}});
    list.params.front().targetLinked = true;
    EXPECT_EQ(ok, api_.IsSnapLinked(list)) << answer;
    EXPECT_EQ(!ok, list.params.front().targetLinked);
    EXPECT_EQ("000B1", list.params.front().targetDevice);
  }
  VMAXSnapParamList empty;
  EXPECT_TRUE(api_.IsSnapLinked(empty));
}

}  // namespace
}  // namespace arraytest
