#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

VMAXSnapParamList List(std::initializer_list<std::pair<const char*, const char*>>
                           pairs,
                       const char* snap = "snapA") {
  VMAXSnapParamList list;
  list.serial = kSid;
  for (const auto& pr : pairs) {
    VMAXSnapParam p;
    p.snapUid = snap;
    p.sourceDevice = pr.first;
    p.targetDevice = pr.second;
    list.params.push_back(p);
  }
  return list;
}

std::string Snapvx(const std::string& args) {
  return Tool("symsnapvx") + " -sid " + kSid + " " + args;
}

const char* kSnapListing =
    "\nSymmetrix ID              : 000197900123 (Microcode Version: 5978)\n\n"
    "----------------------------------------------------------------------\n"
    "Sym                                  Num  Flags\n"
    "Dev   Snapshot Name                  Gens FLRG TSEB Last Snapshot\n"
    "----- ------------------------------ ---- ---- ---- ------------------\n"
    "%ROWS%\n"
    "Flags:\n\n  (F)ailed    : X = General Failure, . = No Failure\n"
    "  (L)ink      : X = Link Exists, . = No Link Exists\n";

std::string Listing(const std::string& rows) {
  std::string s = kSnapListing;
  s.replace(s.find("%ROWS%"), 6, rows);
  return s;
}

TEST_F(ArrayTest, CreateSnapsWritesDeviceFileAndNeverKeepsIt) {
  config_.bSymmVerboseLogging = true;
  api_ = ArrayAPI_CLI(&si_);
  Init();
  Expect(Snapvx("-file " + std::string(kDeviceFile) +
                " -name snapA establish -noprompt"),
         "ok");
  VMAXSnapParamList list = List({{"00A1", ""}, {"00A2", ""}});
  EXPECT_TRUE(api_.CreateSnaps(list));
  EXPECT_TRUE(env_.unexpected.empty());
  EXPECT_EQ("00A1\n00A2\n", FileSeen());
  EXPECT_FALSE(FileLeft());
  EXPECT_TRUE(si_.hasLog("Source devices [00A1 00A2 ], snapshot [snapA] "));
  EXPECT_TRUE(si_.hasLog(
      "Successfully created snapshot [snapA] for source devices [00A1 00A2 ]"));
}

TEST_F(ArrayTest, CreateSnapsMaximumSessions) {
  Expect(Snapvx("-file " + std::string(kDeviceFile) +
                " -name snapA establish -noprompt"),
         "", 1, "The maximum number of sessions has been exceeded\n");
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

TEST_F(ArrayTest, DeleteSnapsKeepsFileOnlyWithVerboseLogging) {
  const std::string cmd = Snapvx("-file " + std::string(kDeviceFile) +
                                 " -snapshot_name snapA terminate -noprompt");
  Expect(cmd, "", 1, "No snapshot was found");
  VMAXSnapParamList list = List({{"00A1", ""}});
  EXPECT_FALSE(api_.DeleteSnaps(list));  // no text is tolerated here
  EXPECT_FALSE(FileLeft());

  config_.bSymmVerboseLogging = true;
  api_ = ArrayAPI_CLI(&si_);
  Init();
  env_.scripts.clear();
  Expect(cmd, "");
  EXPECT_TRUE(api_.DeleteSnaps(list));
  EXPECT_TRUE(FileLeft());
}

TEST_F(ArrayTest, SnapInfoFlagsAndMissingSnapshot) {
  const std::string cmd = Snapvx("-devs 00A1 -snapshot_name snapA list");
  Expect(cmd, Listing("000A1 snapB 1 X... .... Wed\n"
                      "000A1 snapA 1 .X.. .... Wed\n"));
  VMAXSnapInfo info(&si_, kSid, "00A1", "snapA");
  ASSERT_TRUE(api_.GetSnapInfo(info, false));
  EXPECT_TRUE(info.exists);
  EXPECT_FALSE(info.failed);
  EXPECT_TRUE(info.linked);
  EXPECT_FALSE(info.restoreActive);

  env_.scripts.clear();
  Expect(cmd, Listing("000A1 snapA 1 ... .... Wed\n"));
  info.linked = true;
  info.failed = true;
  ASSERT_TRUE(api_.GetSnapInfo(info, false));
  EXPECT_TRUE(info.linked);  // a three-character word changes nothing
  EXPECT_TRUE(info.failed);

  env_.scripts.clear();
  Expect(cmd, "", 1, "\nNo snapshot was found\n");
  EXPECT_TRUE(api_.GetSnapInfo(info, false));
  EXPECT_FALSE(info.exists);

  env_.scripts.clear();
  Expect(cmd, "", 1, "Symmetrix is locked");
  EXPECT_FALSE(api_.GetSnapInfo(info, false));

  env_.scripts.clear();
  Expect(cmd, "no ruler here");
  EXPECT_FALSE(api_.GetSnapInfo(info, false));
  EXPECT_TRUE(info.exists);
  EXPECT_TRUE(si_.hasLog(
      "Failed to parse SYMCLI command output, format seems to have changed."));
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
  Expect(Snapvx("-file " + std::string(kDeviceFile) +
                " -snapshot_name snapA list"),
         Listing("000A2 snapA 1 X.X. .... Wed\n"
                 "000A1 snapA 1 .X.. .... Wed\n"));
  std::list<VMAXSnapInfo> infos = {
      VMAXSnapInfo(&si_, kSid, "000A1", "snapA"),
      VMAXSnapInfo(&si_, kSid, "000A2", "snapA"),
      VMAXSnapInfo(&si_, kSid, "000A1", "snapA"),
      VMAXSnapInfo(&si_, kSid, "000A3", "snapA")};
  ASSERT_TRUE(api_.GetSnapInfo(infos));
  EXPECT_EQ("000A1\n000A2\n000A1\n000A3\n", FileSeen());
  auto it = infos.begin();
  for (int i = 0; i < 4; ++i, ++it) {
    bool isA2 = it->srcDev == "000A2";
    if (it->srcDev == "000A3") {
      EXPECT_FALSE(it->exists);
      continue;
    }
    EXPECT_TRUE(it->exists) << i;
    EXPECT_EQ(isA2, it->failed) << i;
    EXPECT_EQ(!isA2, it->linked) << i;
    EXPECT_EQ(isA2, it->restoreActive) << i;
  }
}

TEST_F(ArrayTest, SnapInfoListMissingSnapshot) {
  Expect(Snapvx("-file " + std::string(kDeviceFile) +
                " -snapshot_name snapA list"),
         "", 1, "No snapshot was found");
  std::list<VMAXSnapInfo> infos = {VMAXSnapInfo(&si_, kSid, "000A1", "snapA"),
                                   VMAXSnapInfo(&si_, kSid, "000A2", "snapA")};
  infos.front().exists = true;
  ASSERT_TRUE(api_.GetSnapInfo(infos));
  for (const auto& i : infos) EXPECT_FALSE(i.exists);
}

TEST_F(ArrayTest, LinkCommandLines) {
  const std::string file = kDeviceFile;
  Expect(Snapvx("-file " + file + " -snapshot_name snapA link -noprompt"), "");
  Expect(Snapvx("-file " + file + " -snapshot_name snapA link -copy -noprompt"),
         "");
  VMAXSnapParamList list = List({{"00A1", "00B1"}});
  EXPECT_TRUE(api_.LinkTarget(list));
  EXPECT_EQ("00A1 00B1\n", FileSeen(0));
  list.decoupledClone = true;
  EXPECT_TRUE(api_.LinkTarget(list));
  EXPECT_TRUE(env_.unexpected.empty());
  EXPECT_FALSE(FileLeft());

  env_.scripts.clear();
  Expect(Snapvx("-file " + file + " -snapshot_name snapA link -noprompt"), "",
         2);
  list.decoupledClone = false;
  EXPECT_FALSE(api_.LinkTarget(list));
  EXPECT_TRUE(si_.hasLog("Failed to link snapshot [snapA]"));
  EXPECT_FALSE(FileLeft());
}

TEST_F(ArrayTest, UnlinkCommandLines) {
  const std::string file = kDeviceFile;
  VMAXSnapParamList list = List({{"00A1", "00B1"}, {"00A2", "00B2"}});
  Expect(Snapvx("-file " + file + " -snapshot_name snapA unlink -noprompt"),
         "");
  EXPECT_TRUE(api_.UnlinkTarget(list));
  EXPECT_EQ("00A1 00B1\n00A2 00B2\n", FileSeen(0));
  EXPECT_TRUE(si_.hasLog(
      "Successfully unlinked snapshot [snapA] for devices [00A1:00B1 ,00A2:00B2 ,]"));

  config_.bSYMCLIForceUnlink = true;
  config_.bSymmVerboseLogging = true;
  api_ = ArrayAPI_CLI(&si_);
  Init();
  Expect(Tool("symsnapvx") + " -sid  " + kSid + " -file " + file +
             " -snapshot_name snapA unlink -symforce -noprompt",
         "", 1);
  EXPECT_FALSE(api_.UnlinkTarget(list));
  EXPECT_TRUE(env_.unexpected.empty());
  EXPECT_TRUE(si_.hasLog("Failed to unlink snapshot [snapA] for devices"));
  EXPECT_FALSE(FileLeft());  // never kept, even with verbose logging
}

TEST_F(ArrayTest, IsSnapLinkedMarksPairsAndClearsOthers) {
  Expect(Snapvx("list -linked -by_tgt -lndev 000B1,000B2,000B3"),
         "Symmetrix ID : 1\n------\nLink Sym\n----- -----\n"
         "B1 A1 snapA 0 .... Wed\n"
         "000B3 000A9 snapA 0 .... Wed\n"
         "000B2 000A2 snapOther 0 .... Wed\n\nFlgs:\n");
  VMAXSnapParamList list =
      List({{"000A1", "000B1"}, {"000A2", "000B2"}, {"000A3", "000B3"},
            {"000A4", ""}});
  ASSERT_TRUE(api_.IsSnapLinked(list));
  auto it = list.params.begin();
  EXPECT_TRUE(it->targetLinked);
  EXPECT_EQ("000B1", it->targetDevice);
  ++it;
  EXPECT_FALSE(it->targetLinked);  // another snapshot's row
  EXPECT_EQ("", it->targetDevice);
  ++it;
  EXPECT_FALSE(it->targetLinked);  // right target, other source
  EXPECT_EQ("", it->targetDevice);
}

TEST_F(ArrayTest, IsSnapLinkedNothingLinkedAndFailures) {
  const std::string cmd = Snapvx("list -linked -by_tgt -lndev 000B1");
  Expect(cmd, "", 1, "No link target was found");
  VMAXSnapParamList list = List({{"000A1", "000B1"}});
  list.params.front().targetLinked = true;
  ASSERT_TRUE(api_.IsSnapLinked(list));
  EXPECT_FALSE(list.params.front().targetLinked);
  EXPECT_EQ("000B1", list.params.front().targetDevice);

  env_.scripts.clear();
  Expect(cmd, "garbage without ruler");
  EXPECT_FALSE(api_.IsSnapLinked(list));
  EXPECT_EQ("000B1", list.params.front().targetDevice);

  env_.scripts.clear();
  Expect(cmd, "", 1, "Symmetrix is locked");
  EXPECT_FALSE(api_.IsSnapLinked(list));
  EXPECT_TRUE(si_.hasLog("Failed to check snaps linked to target devs [000B1]"));
}

}  // namespace
}  // namespace arraytest
