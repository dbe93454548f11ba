// Map and unmap: the host side around an array side that runs on a remote
// snap MA (simulated by the host's remote call), the array map request, and
// the host clean-up including the partial outcome.
#include "tests/engine/EngineFixture.h"
#include "tests/hostdev/InquiryData.h"

namespace engine_test {
namespace {

class MapTest : public EngineTest {
 protected:
  void SetUp() override { OneInitiator(); }
  VMAX_HBAs hbas_;
  FakeSnapInfo* AddMount(const std::string& dev) {
    FakeSnapInfo* si = Add(Uid(kSerialA, dev, "SNAP_1"));
    si->sourceDevice = "/dev/src" + dev;
    ForwardTo("ma2");
    return si;
  }
  FakeSnapInfo* AddMapped(const std::string& serial, const std::string& target,
                          int arrayNum = 1) {
    FakeSnapInfo* si = Add(Uid(serial, "00A1B", "SNAP_1"), arrayNum);
    si->sourceDevice = "/dev/src";
    if (!target.empty()) si->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE] = target;
    return si;
  }
  // The remote snap MA links the given targets and answers `code`.
  void RemoteMaps(std::vector<std::string> targets, const std::string& code = "0") {
    os.onRemote = [this, targets, code](const std::string&) {
      for (size_t i = 0; i < targets.size() && i < owned.size(); ++i)
        R(i)->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE] = targets[i];
      R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG] = code;
      return true;
    };
  }
};

// An ESX host maps to its ESX initiator only, and the mapped device is found
// among the ESX host's entries by its inquiry data.
TEST_F(MapTest, VMwareMapsToTheEsxInitiatorWithoutLocalOnes) {
  FakeSnapInfo* si = AddMount("00A1B");
  si->sourceDevice = "{idatype:vmware,lunuuid:x}";
  si->hostTypeInfo = "vmware";
  si->vmHostId = "esx01";
  os.initiatorNames.clear();
  os.hostInitiator = "21:00:00:24:ff:00:00:01";
  RemoteMaps({"00C01"});
  std::string remoteRequest;
  auto maps = os.onRemote;
  os.onRemote = [&](const std::string& client) {
    remoteRequest = R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_REQUEST];
    return maps(client);
  };
  std::vector<uint8_t> inq = inquiry_data::Standard("EMC     ", "SYMMETRIX       ", "0C01");
  const uint8_t serial[] = {0x00, 0x01, 0x97, 0x80, 0x01, 0x23};
  for (int i = 0; i < 6; ++i) inq[123 + i] = serial[i];
  std::string entry = "{idatype:vmware,standardinqury:" + inquiry_data::Hex(inq) + "}";
  os.deviceListString = "{idatype:vmware,standardinqury:00}*" + entry;
  EXPECT_EQ(0, pzso_mapSnaps(All(), N(), &os));
  VMAX_HBAs hbas;
  ASSERT_TRUE(getDetailsForArrayMapRequest(remoteRequest, hbas));
  EXPECT_TRUE(hbas.localHbas.empty());
  EXPECT_EQ((std::list<std::string>{"21000024FF000001"}), hbas.esxHbas);
  EXPECT_EQ(entry, si->devicePath);
  EXPECT_EQ("esx01", os.rescans.at(0).host);
}

// A failed array side, remote or local, marks every request and rescans
// nothing.
TEST_F(MapTest, FailedArraySideMarksEveryRequest) {
  AddMount("00A1B");
  AddMount("00A1C");
  RemoteMaps({}, "1");
  os.deviceLists = {{"/dev/sda"}};
  EXPECT_EQ(1, pzso_mapSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_MAP_FAILED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_MAP_FAILED, R(1)->status);
  EXPECT_TRUE(os.rescans.empty());

  owned.clear();
  ptrs.clear();
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Add(Uid(kSerialB, "00B01", "SNAP_1"), 2);
  hbas_.localHbas = {"50000973F00AB104"};
  EXPECT_EQ(1, vmax_mapWorker(All(), N(), &os, hbas_, true));
  EXPECT_EQ(PZSO::SNAP_STATUS_MAP_FAILED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_MAP_FAILED, R(1)->status);
}

// The mapped device is looked for among the new paths after each rescan (the
// whole list when nothing is new); attempts default to three, 0 means one.
TEST_F(MapTest, RescansUntilTheMappedDeviceAppears) {
  struct Case {
    const char* name;
    const char* attempts;
    std::vector<std::string> device0C01;  // paths that answer as 0C01
    std::vector<std::vector<std::string>> lists;
    int result;
    std::vector<int64_t> sleeps;  // one per rescan
  } cases[] = {
      // sda has the same device number, but was already there
      {"new device", nullptr, {"/dev/sda", "/dev/sdc"}, {{"/dev/sda"}, {"/dev/sda", "/dev/sdc"}},
       0, {10000}},
      {"nothing new", nullptr, {"/dev/sdc"}, {{"/dev/sdc"}}, 0, {10000}},
      {"zero attempts", "0", {}, {{"/dev/sda"}}, 1, {2000}},
      {"three by default", nullptr, {}, {{"/dev/sda"}}, 1, {10000, 10000, 10000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    FakeSnapInfo* si = AddMount("00A1B");
    RemoteMaps({"00C01"});
    if (c.attempts) {
      env.Set("~Fieldunit", "nSymmMountRetryAttempts", c.attempts);
      env.Set("~Fieldunit", "nSymmMountRetryWaitSecs", "2");
    }
    for (const auto& path : c.device0C01) AddHostDevice(path, "0C01");
    os.deviceLists = c.lists;
    EXPECT_EQ(c.result, pzso_mapSnaps(All(), N(), &os));
    EXPECT_EQ(c.sleeps.size(), os.rescans.size());
    EXPECT_EQ(c.sleeps, env.sleeps);
    if (c.result) continue;
    EXPECT_EQ("/dev/sdc", si->devicePath);
    EXPECT_EQ("00C01", si->metadata[PZSO::SM_MDT_MOUNT_TARGET_DEVICE]);
  }
}

TEST_F(MapTest, MissingInitiatorsAndHostIdFailBeforeTheArray) {
  AddMount("00A1B");
  os.initiatorNames.clear();
  EXPECT_EQ(1, pzso_mapSnaps(All(), N(), &os));
  EXPECT_EQ(62003, R(0)->errorCode);
  EXPECT_EQ("Unable to detect initiators.", R(0)->errorText);
  FakeSnapInfo* last = AddMount("00A1C");
  last->hostTypeInfo = "vmware";
  last->vmHostIdentifierResult = 1;
  EXPECT_EQ(1, pzso_mapSnaps(All(), N(), &os));
  EXPECT_EQ(62002, last->errorCode);
  EXPECT_TRUE(os.remoteCalls.empty());
}

TEST_F(MapTest, WrapperNeedsTheMapRequest) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  EXPECT_EQ(1, vmax_mapWorkerWrapper(All(), N(), &os));
  R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_REQUEST] = "{\"LocalHBA\":[\"A\"],\"ESXHBA\":[]}";
  EXPECT_EQ(1, vmax_mapWorkerWrapper(All(), N(), &os));  // array unreachable
  EXPECT_FALSE(R(0)->requestMetadata.count(PZSO::SM_MDT_REMOTE_REQUEST));
  EXPECT_TRUE(os.remoteCalls.empty());  // never forwarded again
}

// A name that is not UTF-8 fails instead of throwing.
TEST(ArrayMapRequestTest, NameThatIsNotUtf8) {
  VMAX_HBAs hbas;
  hbas.localHbas = {std::string("10000090fa12\x83", 13)};
  std::string json = "stale";
  bool ok = true;
  EXPECT_NO_THROW(ok = populateJsonForArrayMapRequest(hbas, json));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(json.empty());
}

using UnmapTest = MapTest;

TEST_F(UnmapTest, OneFailingArrayOfTwoGivesPartial) {
  AddMapped(kSerialA, "");           // nothing mapped: unmapped at once
  AddMapped(kSerialB, "00C02", 2);   // its array cannot be reached
  EXPECT_EQ(1, vmax_unmapWorker(All(), N(), &os, true));
  EXPECT_EQ(2, pzso_unmapSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAPPED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAP_FAILED, R(1)->status);
  EXPECT_EQ("00C02", R(1)->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE]);
}

TEST_F(UnmapTest, PartialCleansUpTheHostPathsOfTheUnmappedOnes) {
  FakeSnapInfo* done = AddMapped(kSerialA, "00C01");
  FakeSnapInfo* failed = AddMapped(kSerialA, "00C02");
  AddHostDevice("/dev/sdc", "0C01");
  AddHostDevice("/dev/sdd", "0C02");
  os.deviceLists = {{"/dev/sdc", "/dev/sdd"}};
  ForwardTo("ma2");
  os.onRemote = [&](const std::string&) {
    done->status = PZSO::SNAP_STATUS_UNMAPPED;
    failed->status = PZSO::SNAP_STATUS_UNMAP_FAILED;
    done->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG] = "1";
    return true;
  };
  EXPECT_EQ(2, pzso_unmapSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAPPED, done->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAP_FAILED, failed->status);
  ASSERT_EQ(1u, os.rescans.size());
  EXPECT_EQ((std::vector<std::string>{"/dev/sdc"}), os.rescans[0].cleanup);
  EXPECT_FALSE(done->metadata.count(PZSO::SM_MDT_MAPPED_TARGET_DEVICE));
  EXPECT_EQ("00C02", failed->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE]);
}

TEST_F(UnmapTest, ForwardThatNeverArrivesLeavesNothingUnmapped) {
  AddMapped(kSerialA, "00C01")->status = PZSO::SNAP_STATUS_UNMAPPED;  // stale
  ForwardTo("ma2");
  os.remoteResult = false;
  EXPECT_EQ(1, pzso_unmapSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAP_FAILED, R(0)->status);
  EXPECT_TRUE(os.rescans.empty());
}

TEST_F(UnmapTest, InitiatorAndHostFailuresComeFirst) {
  AddMapped(kSerialA, "00C01");
  os.initiatorNames.clear();
  EXPECT_EQ(1, pzso_unmapSnaps(All(), N(), &os));
  EXPECT_EQ(62003, R(0)->errorCode);
  EXPECT_EQ("pzso_unmapSnapsUnable to detect initiator info.", R(0)->errorText);
  EXPECT_TRUE(os.rescans.empty());
}

}  // namespace
}  // namespace engine_test
