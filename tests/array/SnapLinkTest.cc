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

using Call = std::function<bool(ArrayAPI_CLI&, VMAXSnapParamList&)>;

// Each operation writes the device file, runs one command line and keeps the
// file only for a delete with verbose logging.
TEST_F(ArrayTest, SnapshotOperationsCommandLinesAndDeviceFile) {
  const Call create = [](ArrayAPI_CLI& a, VMAXSnapParamList& l) { return a.CreateSnaps(l); };
  const Call del = [](ArrayAPI_CLI& a, VMAXSnapParamList& l) { return a.DeleteSnaps(l); };
  const Call link = [](ArrayAPI_CLI& a, VMAXSnapParamList& l) { return a.LinkTarget(l); };
  const Call unlink = [](ArrayAPI_CLI& a, VMAXSnapParamList& l) { return a.UnlinkTarget(l); };
  const std::string forced = Tool("symsnapvx") + " -sid  " + kSid + " -file " +
                             kDeviceFile + " -snapshot_name snapA unlink -symforce -noprompt";
  struct Case {
    const char* name;
    Call call;
    bool pairs, decoupled, verbose, force;
    std::string cmd;
    int exitCode;
    bool ok, kept;
  } cases[] = {
      {"create", create, false, false, true, false,
       WithFile("-name snapA establish -noprompt"), 0, true, false},
      {"delete fails", del, false, false, false, false,
       WithFile("-snapshot_name snapA terminate -noprompt"), 1, false, false},
      {"delete verbose", del, false, false, true, false,
       WithFile("-snapshot_name snapA terminate -noprompt"), 0, true, true},
      {"link", link, true, false, false, false,
       WithFile("-snapshot_name snapA link -noprompt"), 0, true, false},
      {"link copy", link, true, true, false, false,
       WithFile("-snapshot_name snapA link -copy -noprompt"), 0, true, false},
      {"link fails", link, true, false, false, false,
       WithFile("-snapshot_name snapA link -noprompt"), 2, false, false},
      {"unlink", unlink, true, false, false, false,
       WithFile("-snapshot_name snapA unlink -noprompt"), 0, true, false},
      {"unlink forced", unlink, true, false, true, true, forced, 1, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    env_.scripts.clear();
    env_.runs.clear();
    env_.files.clear();
    config_.bSymmVerboseLogging = c.verbose;
    config_.bSYMCLIForceUnlink = c.force;
    api_ = ArrayAPI_CLI(&si_);
    Init();
    Expect(c.cmd, "", c.exitCode, c.exitCode ? "No snapshot was found" : "");
    VMAXSnapParamList list = c.pairs ? List({{"00A1", "00B1"}, {"00A2", "00B2"}})
                                     : List({{"00A1", ""}, {"00A2", ""}});
    list.decoupledClone = c.decoupled;
    EXPECT_EQ(c.ok, c.call(api_, list));
    EXPECT_TRUE(env_.unexpected.empty());
    EXPECT_EQ(c.pairs ? "00A1 00B1\n00A2 00B2\n" : "00A1\n00A2\n", FileSeen());
    EXPECT_EQ(c.kept, FileLeft());
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

// One snapshot's flags: F(ailed) L(inked) R(estore) in the first word.
TEST_F(ArrayTest, SnapInfoFlagsAndMissingSnapshot) {
  struct Case {
    const char* out;
    int exitCode;
    const char* err;
    bool ok, exists, failed, linked;
  } cases[] = {
      {"000A1 snapB 1 X... .... Wed\n000A1 snapA 1 .X.. .... Wed\n", 0, "",
       true, true, false, true},
      // a three-character word changes nothing
      {"000A1 snapA 1 ... .... Wed\n", 0, "", true, true, true, true},
      {nullptr, 1, "\nNo snapshot was found\n", true, false, true, true},
      {nullptr, 1, "Symmetrix is locked", false, true, true, true},
      {"", 0, "", false, true, true, true},  // no ruler
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    env_.scripts.clear();
    Expect(Snapvx("-devs 00A1 -snapshot_name snapA list"),
           c.out ? (*c.out ? Listing(c.out) : "no ruler here") : "", c.exitCode, c.err);
    VMAXSnapInfo info(&si_, kSid, "00A1", "snapA");
    info.exists = info.failed = info.linked = true;
    EXPECT_EQ(c.ok, api_.GetSnapInfo(info, false));
    EXPECT_EQ(c.exists, info.exists);
    EXPECT_EQ(c.failed, info.failed);
    EXPECT_EQ(c.linked, info.linked);
    EXPECT_FALSE(c.ok && c.exists && info.restoreActive);
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
  const std::string cmd = Snapvx("list -linked -by_tgt -lndev 000B1");
  struct Case {
    const char* out;
    const char* err;
    bool ok;
  } cases[] = {{"", "No link target was found", true},
               {"garbage without ruler", "", false},
               {"", "Symmetrix is locked", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    env_.scripts.clear();
    Expect(cmd, c.out, *c.err ? 1 : 0, c.err);
    VMAXSnapParamList list = List({{"000A1", "000B1"}});
    list.params.front().targetLinked = true;
    EXPECT_EQ(c.ok, api_.IsSnapLinked(list));
    if (c.ok) EXPECT_FALSE(list.params.front().targetLinked);
    EXPECT_EQ("000B1", list.params.front().targetDevice);
  }
}

}  // namespace
}  // namespace arraytest
