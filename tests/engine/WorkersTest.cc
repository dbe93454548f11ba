// The workers: prepare (VPLEX back end, shared snapshot name, failures part
// way), snap per array, reconcile's result, forwarding to the remote snap MA
// and running forwarded operations, and the device support check.
#include <cstring>
#include <functional>

#include "tests/engine/EngineFixture.h"

namespace engine_test {
namespace {

// A device WWN of array 000292605199 naming device 008F8.
constexpr const char* kWwn = "60000970000292605199533030384638";

class PrepareTest : public EngineTest {
 protected:
  FakeSnapInfo* AddSource(const std::string& vplexSerial) {
    FakeSnapInfo* si = Add();
    si->sourceDevice = "/dev/mapper/vg-lv";
    si->metadata[PZSO::SM_MDT_VPLEX_BACKEND_DEVICE] = vplexSerial + ":" + kWwn;
    si->arrayInfoDb[vplexSerial] = "{engineId:1,hostName:ctl,hostUserName:u}";
    return si;
  }
};

// The VPLEX back-end serial wins over the WWN's array; only the first request
// asks for the snapshot name, the others are given it.
TEST_F(PrepareTest, VplexBackendSerialAndTheSharedSnapshotName) {
  FakeSnapInfo* a = AddSource(kSerialA);
  FakeSnapInfo* b = AddSource(kSerialA);
  b->snapUniqueId = "OTHER";
  ArrayAnswers({});
  EXPECT_EQ(0, pzso_prepareDevices(All(), N(), &os));
  for (FakeSnapInfo* si : {a, b})
    EXPECT_EQ(Uid(kSerialA, "008F8", "SNAP_1"), si->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID]);
  EXPECT_EQ(1, a->getSnapUniqueIdCalls);
  EXPECT_EQ(0, b->getSnapUniqueIdCalls);
  EXPECT_EQ((std::vector<std::string>{"SNAP_1"}), b->setSnapUniqueIds);
}

// A bad back-end identifier fails its request with its own text and the
// later ones without one; refused metadata returns at once.
TEST_F(PrepareTest, FailuresStopAtTheFailingRequest) {
  FakeSnapInfo* a = AddSource(kSerialA);
  FakeSnapInfo* b = Add();
  FakeSnapInfo* c = AddSource(kSerialA);
  b->metadata[PZSO::SM_MDT_VPLEX_BACKEND_DEVICE] = "no-colon";
  EXPECT_EQ(1, pzso_prepareDevices(All(), N(), &os));
  EXPECT_TRUE(a->metadata.count(PZSO::SM_MDT_SNAP_UNIQUE_ID));
  EXPECT_EQ(62005, b->errorCode);
  EXPECT_EQ("Failed to parse VPLEX backend device identifier [no-colon]", b->errorText);
  EXPECT_EQ(PZSO::SNAP_STATUS_PREPARE_FAILED, c->status);
  EXPECT_EQ(0, c->errorCode);
  EXPECT_FALSE(c->metadata.count(PZSO::SM_MDT_SNAP_UNIQUE_ID));
  a->metadata.erase(PZSO::SM_MDT_SNAP_UNIQUE_ID);
  a->refuseMetadataTypes.insert(PZSO::SM_MDT_SNAP_UNIQUE_ID);
  EXPECT_EQ(1, pzso_prepareDevices(All(), N(), &os));
  EXPECT_EQ(0, a->errorCode);
  EXPECT_EQ(0, b->errorCode);  // b was not reached again
  EXPECT_TRUE(env.runs.empty());
}

// Each way a source cannot be prepared fails its request with status 2 and
// the text the user sees (none when the host gives no source), before any
// array command.
TEST_F(PrepareTest, UnidentifiableSourcesFailTheirRequest) {
  struct Case {
    const char* name;
    std::function<void(FakeSnapInfo*)> spoil;
    int errorCode;
    const char* errorText;
  } cases[] = {
      {"no source", [](FakeSnapInfo* si) { si->sourceDeviceOk = false; }, 0, ""},
      {"no array record", [](FakeSnapInfo* si) { si->arrayInfoDb.clear(); }, 62005,
       "Failed to get array info"},
      {"no snapshot name", [](FakeSnapInfo* si) { si->snapUniqueIdOk = false; }, 62005,
       "Failed to get snap unique identifier"},
      {"device not inquirable",
       [](FakeSnapInfo* si) {
         si->metadata.erase(PZSO::SM_MDT_VPLEX_BACKEND_DEVICE);
         si->sourceDevice = "/dev/none";
       },
       62005, "Failed to get device info"},
      {"bad source WWN",
       [](FakeSnapInfo* si) {
         si->metadata.erase(PZSO::SM_MDT_VPLEX_BACKEND_DEVICE);
         static_cast<hostrt::HostSnapInfo*>(si)->snapFlags = PZSO::SNAP_FLAG_SOURCE_IS_WWN;
         si->sourceDevice = "6000";
       },
       62005, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    owned.clear();
    ptrs.clear();
    env.runs.clear();
    FakeSnapInfo* si = AddSource(kSerialA);
    c.spoil(si);
    EXPECT_EQ(1, pzso_prepareDevices(All(), N(), &os));
    EXPECT_EQ(PZSO::SNAP_STATUS_PREPARE_FAILED, si->status);
    EXPECT_EQ(c.errorCode, si->errorCode);
    if (c.errorText) {
      EXPECT_EQ(c.errorText, si->errorText);
    }
    EXPECT_TRUE(env.runs.empty());
  }
  // A source given by its WWN names its array and device itself.
  owned.clear();
  ptrs.clear();
  FakeSnapInfo* si = AddSource("000292605199");
  si->metadata.erase(PZSO::SM_MDT_VPLEX_BACKEND_DEVICE);
  static_cast<hostrt::HostSnapInfo*>(si)->snapFlags = PZSO::SNAP_FLAG_SOURCE_IS_WWN;
  si->sourceDevice = kWwn;
  ArrayAnswers({});
  EXPECT_EQ(0, pzso_prepareDevices(All(), N(), &os));
  EXPECT_EQ(Uid("000292605199", "008F8", "SNAP_1"), si->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID]);
}

TEST_F(EngineTest, SnapTwoArraysMakeTwoCreates) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Add(Uid(kSerialB, "00B01", "SNAP_1"));
  Add(Uid(kSerialA, "00A1C", "SNAP_1"));
  ArrayAnswers({"establish"});
  EXPECT_EQ(0, pzso_snapDevices(All(), N(), &os));
  EXPECT_EQ(1, Runs({"establish", std::string("-sid ") + kSerialA}));
  EXPECT_EQ(1, Runs({"establish", std::string("-sid ") + kSerialB}));
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(PZSO::SNAP_STATUS_CREATED, R(i)->status);
}

// Empty metadata is skipped; array failures still give zero; invalid input
// is one.
TEST_F(EngineTest, ReconcileArrayFailuresStillGiveZero) {
  Add()->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = "";
  EXPECT_EQ(0, pzso_reconcileSnaps(All(), N(), &os));
  EXPECT_TRUE(R(0)->statusHistory.empty());
  EXPECT_TRUE(env.runs.empty());
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Add(Uid(kSerialB, "00B01", "SNAP_2"), 2);
  EXPECT_EQ(0, vmax_reconcileWorker(All(), N(), &os, true));
  EXPECT_EQ(1, vmax_reconcileWorker(nullptr, 1, &os, true));
}

using RemoteTest = EngineTest;

// A remote snap MA named like this host runs locally; the local name is the
// client name on a managed client, and at most 255 characters.
TEST_F(RemoteTest, LocalClientNameRunsLocally) {
  env.hostName = "ma1";
  Add();
  ForwardTo("ma1");
  EXPECT_EQ(0, pzso_deleteSnaps(All(), N(), &os));
  EXPECT_TRUE(os.remoteCalls.empty());
  env.platformType = PZSO::PLATFORM_TYPE_MANAGED_CLIENT;
  env.clientName = "ma1_cs";
  EXPECT_EQ("ma1_cs", getLocalClientName());
  env.platformType = 0;
  env.hostName = std::string(300, 'h');
  EXPECT_EQ(255u, getLocalClientName().size());
}

// A forwarded operation sends its message id and returns the remote code;
// anything but 0 or 1 (or no answer) fails. The exchange items are cleared.
TEST_F(RemoteTest, ForwardedOperationReturnsTheRemoteCode) {
  struct Case {
    const char* name;
    int (*worker)(PZSO::SnapInfo**, short, PZOSUtil*, bool);
    const char* code;  // null: no code; "!": the remote call fails
    int result;
  } cases[] = {
      {"snap", vmax_snapWorker, "0", 0},
      {"delete partial", vmax_deleteWorker, "2", 1},
      {"revert no code", vmax_revertWorker, nullptr, 1},
      {"reconcile hex", vmax_reconcileWorker, "0x0", 1},
      {"prepare empty", vmax_prepareWorker, "", 1},
      {"unmap unreachable", vmax_unmapWorker, "!", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    Add(Uid(kSerialA, "00A1B", "SNAP_1"));
    ForwardTo("ma2");
    const char* code = c.code;
    const bool reached = !code || code[0] != '!';
    os.onRemote = [this, code, reached](const std::string&) {
      if (reached && code) R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG] = code;
      return reached;
    };
    EXPECT_EQ(c.result, c.worker(All(), N(), &os, true));
    EXPECT_EQ((std::vector<std::string>{"ma2"}), os.remoteCalls);
    if (!c.result) { EXPECT_TRUE(R(0)->requestMetadata.empty()); }
    EXPECT_TRUE(env.runs.empty());
  }
}

// The remote side runs the operation named by the id and never forwards it
// again; unknown and non-decimal ids are refused without a return code.
TEST_F(RemoteTest, RemoteSideRunsKnownIdsOnly) {
  Add();
  Add();
  ForwardTo("ma2");
  auto Exec = [&](const char* id) {
    R(0)->requestMetadata.clear();
    if (id) R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID] = id;
    return pzso_execSnapEngineOp(All(), N(), &os);
  };
  for (const char* bad : {"0", "10", "-1", "4294967303", "5x", "", " ", "abc"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(1, Exec(bad));
    EXPECT_FALSE(R(0)->requestMetadata.count(PZSO::SM_MDT_REMOTE_EXEC_MSG));
  }
  EXPECT_EQ(1, Exec(nullptr));
  EXPECT_EQ(0, Exec("7"));
  EXPECT_EQ("0", R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG]);
  EXPECT_EQ(1, Exec("8"));
  EXPECT_EQ("1", R(0)->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG]);
  EXPECT_TRUE(os.remoteCalls.empty());
  EXPECT_EQ(62008, R(1)->errorCode);  // the prepare id failed every request
}

// A refused device is answered with the text the user sees; missing
// arguments are refused too.
TEST_F(EngineTest, RefusedDevicesAreNotSupported) {
  AddHostDevice("/dev/sdc", "0A1B", kSerialA, "VRAID           ");
  char buffer[256];
  int context = 0;
  struct Case {
    const char* dev;
    bool withContext, withBuffer;
    const char* text;
  } cases[] = {
      {"/dev/sdc", true, true,
       "Device [/dev/sdc] does not belong to PowerMax - found Vendor [EMC     ] "
       "Product [VRAID           ]"},
      {"/dev/none", true, true, "Failed to get the array info from device name[/dev/none]"},
      {"/dev/sdc", true, false, nullptr},
      {"/dev/sdc", false, true, nullptr},
      {nullptr, true, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dev ? c.dev : "null");
    memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(1, pzso_isSupported(c.dev, 1, c.withContext ? &context : nullptr,
                                  c.withBuffer ? buffer : nullptr,
                                  c.withBuffer ? sizeof buffer : 10));
    if (c.text) { EXPECT_STREQ(c.text, buffer); }
  }
}

// Identification (mode 3) keeps the mapped targets in request order, matching
// any of a device's array ids (here the older layout's candidate); other
// modes and other keys change nothing.
TEST_F(EngineTest, IdentifyKeepsTheTargetsInRequestOrder) {
  const std::string key = "EMC     |::|SYMMETRIX       ";
  AddHostDevice("/dev/sdb", "0C01", kSerialA);
  AddHostDevice("/dev/sdc", "0C02", kSerialA);
  AddHostDevice("/dev/sdd", "0C03", kSerialA);
  env.scsi["/dev/sde"] = env.scsi["/dev/sdb"];
  env.scsi["/dev/sde"].page83 = {0x00, 0x83, 0x00, 0x10, 0x60, 0x06, 0x04, 0x80, 0x00, 0x01,
                                 0x97, 0x80, 0x05, 0x55, 0x53, 0x30, 0x30, 0x43, 0x30, 0x31};
  for (auto [serial, target] : {std::pair{kSerialA, "00C02"}, {kSerialA, "00C01"},
                                {kSerialB, "00C03"},           // another array: not matched
                                {"000197800555", "00C01"}}) {  // the older-layout candidate
    Add(Uid(serial, "00A1B", "SNAP_1"))->metadata[PZSO::SM_MDT_MOUNT_TARGET_DEVICE] = target;
  }
  DeviceMap devices;
  devices[key] = {"/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/none", "/dev/sde"};
  devices["other"] = {"/dev/x"};
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &devices, 2, nullptr, &os));
  EXPECT_EQ(5u, devices[key].size());
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &devices, 3, nullptr, &os));
  EXPECT_EQ((std::list<std::string>{"/dev/sdc", "/dev/sdb", "/dev/sde"}), devices[key]);
  EXPECT_EQ((std::list<std::string>{"/dev/x"}), devices["other"]);
  devices[key].clear();
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &devices, 3, nullptr, &os));
  DeviceMap none;
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &none, 3, nullptr, &os));
  EXPECT_TRUE(none.count(key) && none[key].empty());
  EXPECT_EQ(1, pzso_identifyDevices(All(), 0, &none, 3, nullptr, &os));
}

}  // namespace
}  // namespace engine_test
