// Map: the host side around an array side that runs on a remote snap MA
// (simulated by the host's remote call), and the array map request.
#include "tests/engine/EngineFixture.h"
#include "tests/hostdev/InquiryData.h"

namespace engine_test {
namespace {

class MapTest : public EngineTest {
 protected:
  std::string remoteRequest;  // items 91 and 61 as the remote side got them
  std::string remoteMsgId;

  void SetUp() override {
    env.hostName = "ma1";
    os.initiatorNames = "50:00:09:73:f0:0a:b1:04";
    os.initiatorTypes = std::string("\0", 1);
  }
  FakeSnapInfo* AddMount(const std::string& dev) {
    FakeSnapInfo* si = Add(Uid(kSerialA, dev, "SNAP_1"));
    si->sourceDevice = "/dev/src" + dev;
    si->snapConfigStrings["SMCONFIG_NAME_REMOTE_SNAP_MA"] = "ma2";
    return si;
  }
  // The remote snap MA links the given targets and answers `code`.
  void RemoteMaps(std::vector<std::string> targets, const std::string& code = "0") {
    os.onRemote = [this, targets, code](const std::string&) {
      remoteRequest = R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_REQUEST];
      remoteMsgId = R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID];
      for (size_t i = 0; i < targets.size() && i < owned.size(); ++i)
        R(i)->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE] = targets[i];
      R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG] = code;
      return true;
    };
  }
  void AddHostDevice(const std::string& path, const std::string& dev) {
    testing_host::FakeScsiDevice d;
    d.standard = inquiry_data::Standard("EMC     ", "SYMMETRIX       ", dev);
    d.page83 = inquiry_data::Page83ForSerial(kSerialA);
    env.scsi[path] = d;
  }
};

// The mapped device is looked for among the new paths after each rescan (the
// whole list when nothing is new); attempts default to three, 0 means one.
TEST_F(MapTest, RescansUntilTheMappedDeviceAppears) {
  struct Case {
    const char* name;
    const char* attempts;
    std::vector<std::string> device0C01;  // paths that answer as 0C01
    std::vector<std::vector<std::string>> lists;
    int result;
    size_t rescans;
    std::vector<int64_t> sleeps;
  } cases[] = {
      // sda has the same device number, but was already there
      {"new device", nullptr, {"/dev/sda", "/dev/sdc"}, {{"/dev/sda"}, {"/dev/sda", "/dev/sdc"}},
       0, 1, {10000}},
      {"nothing new", nullptr, {"/dev/sdc"}, {{"/dev/sdc"}}, 0, 1, {10000}},
      {"zero attempts", "0", {}, {{"/dev/sda"}}, 1, 1, {2000}},
      {"three by default", nullptr, {}, {{"/dev/sda"}}, 1, 3, {10000, 10000, 10000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    owned.clear();
    ptrs.clear();
    env.settings.clear();
    env.sleeps.clear();
    env.scsi.clear();
    os.rescans.clear();
    os.remoteCalls.clear();
    FakeSnapInfo* si = AddMount("00A1B");
    RemoteMaps({"00C01"});
    if (c.attempts) {
      env.Set("~Fieldunit", "nSymmMountRetryAttempts", c.attempts);
      env.Set("~Fieldunit", "nSymmMountRetryWaitSecs", "2");
    }
    for (const auto& path : c.device0C01) AddHostDevice(path, "0C01");
    os.deviceLists = c.lists;
    EXPECT_EQ(c.result, pzso_mapSnaps(All(), N(), &os));
    EXPECT_EQ(c.rescans, os.rescans.size());
    EXPECT_EQ(c.sleeps, env.sleeps);
    EXPECT_EQ((std::vector<std::string>{"ma2"}), os.remoteCalls);
    EXPECT_EQ("5", remoteMsgId);
    ASSERT_FALSE(os.rescans.empty());
    EXPECT_EQ((std::vector<std::string>{"50000973F00AB104"}), os.rescans[0].initiators);
    if (c.result) continue;
    EXPECT_EQ(PZSO::SNAP_STATUS_MAPPED, si->status);
    EXPECT_EQ("/dev/sdc", si->devicePath);
    EXPECT_EQ("00C01", si->metadata[PZSO::SM_MDT_MOUNT_TARGET_DEVICE]);
    EXPECT_NE(std::string::npos, remoteRequest.find("50000973F00AB104"));
    EXPECT_FALSE(R(0)->requestMetadata.count(PZSO::SM_MDT_REMOTE_REQUEST));
  }
}

TEST_F(MapTest, VMwareMapsToTheEsxInitiatorWithoutLocalOnes) {
  FakeSnapInfo* si = AddMount("00A1B");
  si->sourceDevice = "{idatype:vmware,lunuuid:x}";
  si->hostTypeInfo = "vmware";
  si->vmHostIdentifier = "esx01";
  os.initiatorNames.clear();
  os.hostInitiator = "21:00:00:24:ff:00:00:01";
  RemoteMaps({"00C01"});
  std::vector<uint8_t> inq = inquiry_data::Standard("EMC     ", "SYMMETRIX       ", "0C01");
  const uint8_t serial[] = {0x00, 0x01, 0x97, 0x80, 0x01, 0x23};
  for (int i = 0; i < 6; ++i) inq[123 + i] = serial[i];
  std::string entry = "{idatype:vmware,standardinqury:" + inquiry_data::Hex(inq) + "}";
  os.deviceListString = "{idatype:vmware,standardinqury:00}*" + entry;
  EXPECT_EQ(0, pzso_mapSnaps(All(), N(), &os));
  EXPECT_NE(std::string::npos, remoteRequest.find("21000024FF000001"));
  VMAX_HBAs hbas;
  ASSERT_TRUE(getDetailsForArrayMapRequest(remoteRequest, hbas));
  EXPECT_TRUE(hbas.localHbas.empty());
  EXPECT_EQ((std::list<std::string>{"21000024FF000001"}), hbas.esxHbas);
  EXPECT_EQ(entry, si->devicePath);
  EXPECT_EQ("esx01", os.rescans.at(0).host);
}

TEST_F(MapTest, MissingInitiatorsAndHostIdFailBeforeTheArray) {
  AddMount("00A1B");
  os.initiatorNames.clear();
  EXPECT_EQ(1, pzso_mapSnaps(All(), N(), &os));
  EXPECT_EQ(62003, R(0)->errorCode);
  EXPECT_EQ("Unable to detect initiators.", R(0)->errorText);
  EXPECT_TRUE(os.remoteCalls.empty());

  FakeSnapInfo* last = AddMount("00A1C");
  last->hostTypeInfo = "vmware";
  last->vmHostIdentifierResult = 1;
  EXPECT_EQ(1, pzso_mapSnaps(All(), N(), &os));
  EXPECT_EQ(62002, last->errorCode);
}

TEST_F(MapTest, FailedArraySideMarksEveryRequest) {
  AddMount("00A1B");
  AddMount("00A1C");
  RemoteMaps({}, "1");
  os.deviceLists = {{"/dev/sda"}};
  EXPECT_EQ(1, pzso_mapSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_MAP_FAILED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_MAP_FAILED, R(1)->status);
  EXPECT_TRUE(os.rescans.empty());
}

TEST_F(MapTest, LocalArraySideFailureMarksBothArrays) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Add(Uid(kSerialB, "00B01", "SNAP_1"), 2);
  VMAX_HBAs hbas;
  hbas.localHbas = {"50000973F00AB104"};
  EXPECT_EQ(1, vmax_mapWorker(All(), N(), &os, hbas, true));
  EXPECT_EQ(PZSO::SNAP_STATUS_MAP_FAILED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_MAP_FAILED, R(1)->status);
}

TEST_F(MapTest, WrapperNeedsTheMapRequest) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  EXPECT_EQ(1, vmax_mapWorkerWrapper(All(), N(), &os));
  R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_REQUEST] = "{\"LocalHBA\":[\"A\"],\"ESXHBA\":[]}";
  EXPECT_EQ(1, vmax_mapWorkerWrapper(All(), N(), &os));  // array unreachable
  EXPECT_FALSE(R(0)->requestMetadata.count(PZSO::SM_MDT_REMOTE_REQUEST));
  EXPECT_TRUE(os.remoteCalls.empty());  // never forwarded again
}

// The round trip, and texts that are no request (fuzz_map_request has more).
TEST(ArrayMapRequestTest, RoundTrip) {
  VMAX_HBAs hbas;
  hbas.localHbas = {"50000973F00AB104"};
  std::string json = "stale";
  ASSERT_TRUE(populateJsonForArrayMapRequest(hbas, json));
  VMAX_HBAs back;
  ASSERT_TRUE(getDetailsForArrayMapRequest(json, back));
  EXPECT_EQ(hbas.localHbas, back.localHbas);
  EXPECT_TRUE(back.esxHbas.empty());
  VMAX_HBAs none;
  for (const char* bad : {"", "{}", "{not json", "[1,2]"})
    EXPECT_FALSE(getDetailsForArrayMapRequest(bad, none)) << bad;
  EXPECT_TRUE(getDetailsForArrayMapRequest("{\"LocalHBA\":[\"A\",7],\"x\":1}", none));
  EXPECT_EQ((std::list<std::string>{"A"}), none.localHbas);
}

}  // namespace
}  // namespace engine_test

TEST(ArrayMapRequest, NameThatIsNotUtf8FailsInsteadOfThrowing) {
  VMAX_HBAs hbas;
  hbas.localHbas = {std::string("10000090fa12\x83", 13)};
  std::string json = "stale";
  bool ok = true;
  EXPECT_NO_THROW(ok = populateJsonForArrayMapRequest(hbas, json));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(json.empty());
}
