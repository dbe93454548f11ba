#include <functional>

#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

VMAXSnapParamList List(std::initializer_list<std::pair<const char*, const char*>>
                           pairs) {
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
  return Snapvx("-file " + std::string(kDeviceFile) + " " + args);
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
// logging. The unlink is forced by the setting.
TEST_F(ArrayTest, SnapshotOperationsCommandLinesAndDeviceFile) {
  using Call = std::function<bool(ArrayAPI_CLI&, VMAXSnapParamList&)>;
  const Call create = [](ArrayAPI_CLI& a, VMAXSnapParamList& l) { return a.CreateSnaps(l); };
  const Call del = [](ArrayAPI_CLI& a, VMAXSnapParamList& l) { return a.DeleteSnaps(l); };
  const Call link = [](ArrayAPI_CLI& a, VMAXSnapParamList& l) { return a.LinkTarget(l); };
  const Call unlink = [](ArrayAPI_CLI& a, VMAXSnapParamList& l) { return a.UnlinkTarget(l); };
  const Call restore = [](ArrayAPI_CLI& a, VMAXSnapParamList& l) { return a.RestoreSnaps(l); };
  const std::string forced = Tool("symsnapvx") + " -sid  " + kSid + " -file " + kDeviceFile +
                             " -snapshot_name snapA unlink -symforce -noprompt";
  struct Case {
    Call call;
    bool pairs, copy, verbose, force;
    std::string cmd, answer;
    bool ok, kept;
  } cases[] = {
      {create, false, false, true, false, WithFile("-name snapA establish -noprompt"), "", true, false},
      {del, false, false, false, false, WithFile("-snapshot_name snapA terminate -noprompt"),
       "!No snapshot was found", false, false},
      {del, false, false, true, false, WithFile("-snapshot_name snapA terminate -noprompt"), "",
       true, true},
      {link, true, false, false, false, WithFile("-snapshot_name snapA link -noprompt"), "", true, false},
      {link, true, true, false, false, WithFile("-snapshot_name snapA link -copy -noprompt"), "",
       true, false},
      {link, true, false, false, false, WithFile("-snapshot_name snapA link -noprompt"), "!", false,
       false},
      {unlink, true, false, false, false, WithFile("-snapshot_name snapA unlink -noprompt"), "", true,
       false},
      {unlink, true, false, true, true, forced, "!", false, false},
      {restore, false, false, false, false, WithFile("-snapshot_name snapA restore -noprompt"), "",
       true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cmd);
    env_.scripts.clear();
    env_.runs.clear();
    config_.bSymmVerboseLogging = c.verbose;
    config_.bSYMCLIForceUnlink = c.force;
    Reinit();
    Answer(c.cmd, c.answer);
    VMAXSnapParamList list = c.pairs ? List({{"00A1", "00B1"}, {"00A2", "00B2"}})
                                     : List({{"00A1", ""}, {"00A2", ""}});
    list.decoupledClone = c.copy;
    EXPECT_EQ(c.ok, c.call(api_, list));
    EXPECT_TRUE(env_.unexpected.empty());
    EXPECT_EQ(c.pairs ? "00A1 00B1\n00A2 00B2\n" : "00A1\n00A2\n", FileSeen());
    EXPECT_EQ(c.kept, FileLeft());
    env_.files.clear();
  }
}

TEST_F(ArrayTest, CreateSnapsMaximumSessions) {
  Expect(WithFile("-name snapA establish -noprompt"), "", 1,
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

TEST_F(ArrayTest, EmptyParameterListsFailWithoutCommand) {
  VMAXSnapParamList empty;
  empty.serial = kSid;
  EXPECT_FALSE(api_.CreateSnaps(empty));
  EXPECT_FALSE(api_.DeleteSnaps(empty));
  EXPECT_FALSE(api_.LinkTarget(empty));
  EXPECT_FALSE(api_.UnlinkTarget(empty));
  EXPECT_FALSE(api_.RestoreSnaps(empty));
  std::list<VMAXSnapInfo> none;
  EXPECT_FALSE(api_.GetSnapInfo(none));
  EXPECT_TRUE(api_.IsSnapLinked(empty));
  EXPECT_TRUE(env_.runs.empty());
}

// One snapshot's flags: F(ailed) L(inked) R(estore) in the first word; a
// three-character word changes nothing; "not found" is no snapshot.
TEST_F(ArrayTest, SnapInfoFlagsAndMissingSnapshot) {
  struct Case {
    std::string answer;
    bool ok, exists, failed, linked;
  } cases[] = {
      {Listing("000A1 snapB 1 X... .... Wed\n000A1 snapA 1 .X.. .... Wed\n"), true, true, false, true},
      {Listing("000A1 snapA 1 ... .... Wed\n"), true, true, true, true},
      {"!\nNo snapshot was found\n", true, false, true, true},
      {"!Symmetrix is locked", false, true, true, true},
      {"no ruler here", false, true, true, true},
  };
  VMAXSnapInfo info(&si_, kSid, "00A1", "snapA");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    env_.scripts.clear();
    Answer(Snapvx("-devs 00A1 -snapshot_name snapA list"), c.answer);
    info = VMAXSnapInfo(&si_, kSid, "00A1", "snapA");
    info.exists = info.failed = info.linked = true;
    EXPECT_EQ(c.ok, api_.GetSnapInfo(info, false));
    EXPECT_EQ(c.exists, info.exists);
    EXPECT_EQ(c.failed, info.failed);
    EXPECT_EQ(c.linked, info.linked);
  }
}

TEST_F(ArrayTest, SnapInfoWithLinkDevsToleratesNoSnapvxInformation) {
  Expect(Snapvx("-devs 00A1 -snapshot_name snapA list"),
         Listing("000A1 snapA 1 .... .... Wed\n"));
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

TEST_F(ArrayTest, SnapInfoListFillsEachRecordFromItsOwnRow) {
  Expect(WithFile("-snapshot_name snapA list"),
         Listing("000A2 snapA 1 X.X. .... Wed\n000A1 snapA 1 .X.. .... Wed\n"));
  std::list<VMAXSnapInfo> infos;
  for (const char* d : {"000A1", "000A2", "000A1", "000A3"})
    infos.emplace_back(&si_, kSid, d, "snapA");
  ASSERT_TRUE(api_.GetSnapInfo(infos));
  EXPECT_EQ("000A1\n000A2\n000A1\n000A3\n", FileSeen());
  for (const auto& i : infos) {
    SCOPED_TRACE(i.srcDev);
    bool isA2 = i.srcDev == "000A2";
    EXPECT_EQ(i.srcDev != "000A3", i.exists);
    if (!i.exists) continue;
    EXPECT_EQ(isA2, i.failed);
    EXPECT_EQ(!isA2, i.linked);
    EXPECT_EQ(isA2, i.restoreActive);
  }

  env_.scripts.clear();
  Expect(WithFile("-snapshot_name snapA list"), "", 1, "No snapshot was found");
  for (auto& i : infos) i.exists = true;
  ASSERT_TRUE(api_.GetSnapInfo(infos));
  for (const auto& i : infos) EXPECT_FALSE(i.exists);
}

TEST_F(ArrayTest, IsSnapLinkedMarksPairsAndClearsOthers) {
  Expect(Snapvx("list -linked -by_tgt -lndev 000B1,000B2,000B3"),
         "Symmetrix ID : 1\n------\nLink Sym\n----- -----\n"
         "B1 A1 snapA 0 .... Wed\n000B3 000A9 snapA 0 .... Wed\n"
         "000B2 000A2 snapOther 0 .... Wed\n\nFlgs:\n");
  VMAXSnapParamList list = List(
      {{"000A1", "000B1"}, {"000A2", "000B2"}, {"000A3", "000B3"}, {"000A4", ""}});
  ASSERT_TRUE(api_.IsSnapLinked(list));
  // Linked; another snapshot's row; right target but other source.
  const bool linked[] = {true, false, false};
  const char* target[] = {"000B1", "", ""};
  auto it = list.params.begin();
  for (int i = 0; i < 3; ++i, ++it) {
    EXPECT_EQ(linked[i], it->targetLinked) << i;
    EXPECT_EQ(target[i], it->targetDevice) << i;
  }
}

TEST_F(ArrayTest, IsSnapLinkedNothingLinkedAndFailures) {
  for (auto [answer, ok] : {std::pair{"!No link target was found", true},
                            {"garbage without ruler", false}, {"!Symmetrix is locked", false}}) {
    env_.scripts.clear();
    Answer(Snapvx("list -linked -by_tgt -lndev 000B1"), answer);
    VMAXSnapParamList list = List({{"000A1", "000B1"}});
    list.params.front().targetLinked = true;
    EXPECT_EQ(ok, api_.IsSnapLinked(list)) << answer;
    EXPECT_EQ(!ok, list.params.front().targetLinked);
    EXPECT_EQ("000B1", list.params.front().targetDevice);
  }
}

}  // namespace
}  // namespace arraytest
