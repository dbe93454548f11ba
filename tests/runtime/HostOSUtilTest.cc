// Utility and request objects of the host runtime: the length protocols over
// HostSystem, the request array's JSON round trip to a remote host, and the
// request's own answers.
#include <gtest/gtest.h>

#include <cstring>

#include "host/HostConstants.h"
#include "hostruntime/HostRequest.h"
#include "hostruntime/HostSystem.h"
#include "hostruntime/SecretCodec.h"
#include "tests/support/FakeEnv.h"

namespace {

using hostrt::HostOSUtil;
using hostrt::HostSnapInfo;
using nlohmann::json;

// Lists what it is given, or fails every call; remembers the host asked.
struct ListedSystem : hostrt::HostSystem {
  std::vector<hostrt::Initiator> initiators;
  std::vector<std::string> devices, removed;
  bool fail = false;
  std::string askedHost = "unset";
  bool Initiators(const std::string& host, std::vector<hostrt::Initiator>* out,
                  std::string* error) override {
    askedHost = host;
    if (fail) *error = "broken";
    else *out = initiators;
    return !fail;
  }
  bool Devices(const std::string&, const std::string&, std::vector<std::string>* paths,
               std::string*) override {
    *paths = devices;
    return !fail;
  }
  bool Rescan(const std::string&, const std::vector<std::string>& remove,
              std::string*) override {
    removed = remove;
    return !fail;
  }
  std::string HostType(const std::string&) override { return "linux"; }
};

class HostOSUtilTest : public ::testing::Test {
 protected:
  void SetUp() override { env.system = &system; }
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  ListedSystem system;
};

TEST_F(HostOSUtilTest, QueryInitiatorsTwoCallProtocol) {
  system.initiators = {{"10000000c9a1b2c3", hostrt::kInitiatorFC},
                       {"iqn.1994-05.com.redhat:h1", hostrt::kInitiatorISCSI}};
  HostOSUtil util;
  int namesLength = 0, typesLength = 0;
  ASSERT_EQ(0, util.queryInitiators(nullptr, "SER", nullptr, &namesLength,
                                    nullptr, &typesLength));
  EXPECT_EQ("", system.askedHost);  // null host: the local host
  std::string joined = "10000000c9a1b2c3,iqn.1994-05.com.redhat:h1";
  ASSERT_EQ(int(joined.size()) + 1, namesLength);
  ASSERT_EQ(2, typesLength);
  std::vector<char> names(namesLength, 'z'), types(typesLength, 'z');
  int shortNames = namesLength - 1;
  EXPECT_NE(0, util.queryInitiators(nullptr, "SER", names.data(), &shortNames,
                                    types.data(), &typesLength));
  EXPECT_EQ('z', names[0]);
  ASSERT_EQ(0, util.queryInitiators(nullptr, "SER", names.data(), &namesLength,
                                    types.data(), &typesLength));
  EXPECT_STREQ(joined.c_str(), names.data());
  EXPECT_EQ(0, types[0]);
  EXPECT_EQ(1, types[1]);

  system.fail = true;
  EXPECT_NE(0, util.queryInitiators("esx1", "SER", nullptr, &namesLength,
                                    nullptr, &typesLength));
  EXPECT_EQ(0, namesLength);
  system.fail = false;
  system.initiators.clear();
  namesLength = typesLength = 5;
  ASSERT_EQ(0, util.queryInitiators(nullptr, "", nullptr, &namesLength, nullptr,
                                    &typesLength));
  EXPECT_EQ(0, namesLength);  // none: zero length
}

TEST_F(HostOSUtilTest, HostInitiatorAsksForItsSize) {
  system.initiators = {{"iqn.esx", hostrt::kInitiatorISCSI}};
  HostOSUtil util;
  char buffer[4];
  int size = sizeof buffer;
  bool iscsi = false;
  ASSERT_NE(0, util.queryHostInitiator("esx1", "SER", buffer, &size, &iscsi));
  EXPECT_EQ(8, size);
  std::vector<char> big(size_t(size), 0);
  ASSERT_EQ(0, util.queryHostInitiator("esx1", "SER", big.data(), &size, &iscsi));
  EXPECT_STREQ("iqn.esx", big.data());
  EXPECT_TRUE(iscsi);
  EXPECT_EQ("esx1", system.askedHost);
  system.initiators.clear();
  ASSERT_NE(0, util.queryHostInitiator("esx1", "SER", big.data(), &size, &iscsi));
  EXPECT_EQ(0, size);  // no initiator at all: the caller stops asking
}

TEST_F(HostOSUtilTest, DeviceListStringAndRescan) {
  system.devices = {"/dev/sda", "/dev/mapper/mpatha"};
  HostOSUtil util;
  char small[8];
  int needed = util.getDeviceListString(nullptr, "EMC", "*", sizeof small, small);
  ASSERT_EQ(int(strlen("/dev/sda*/dev/mapper/mpatha")) + 1, needed);
  std::vector<char> buffer(static_cast<size_t>(needed));
  ASSERT_EQ(0, util.getDeviceListString(nullptr, "EMC", "*", needed, buffer.data()));
  EXPECT_STREQ("/dev/sda*/dev/mapper/mpatha", buffer.data());

  const char* cleanup[] = {"/dev/sdc", "/dev/sdd", nullptr};
  const char* initiators[] = {"X", nullptr};
  ASSERT_EQ(0, util.rescanBus(nullptr, initiators, cleanup));
  EXPECT_EQ((std::vector<std::string>{"/dev/sdc", "/dev/sdd"}), system.removed);
  system.fail = true;
  EXPECT_LT(util.getDeviceListString(nullptr, "EMC", "*", needed, buffer.data()), 0);
  EXPECT_NE(0, util.rescanBus("h2", initiators, cleanup));
  env.system = nullptr;
  std::vector<std::string> list;
  EXPECT_NE(0, util.getLocalDeviceList(nullptr, "EMC", list));
}

// --- JSON of request arrays

HostSnapInfo Sample(int smSnapId) {
  HostSnapInfo r;
  r.sourceDevice = "/dev/sdb";
  r.snapFlags = PZSO::SNAP_FLAG_SOURCE_IS_WWN;
  r.jobFlags = PZSO::JOB_FLAG_DECOUPLED_CLONE;
  r.status = PZSO::SNAP_STATUS_CREATED;
  r.metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = "SER|00A1F|SN_1|";
  r.requestMetadata[PZSO::SM_MDT_REMOTE_MSG_ID] = "5";
  r.requestMetadata[PZSO::SM_MDT_REMOTE_REQUEST] = "{\"LocalHBA\":[]}";
  r.snapConfigInts["nSymmMountRetryAttempts"] = 3;
  r.snapConfigStrings["sSymmAllowWWPNs"] = "a,b";
  r.jobId = 9000000000LL;
  r.operationSource = 2;
  r.smSnapId = smSnapId;
  r.mountId = 8;
  r.arrayNum = 2;
  r.snapUniqueId = "SP_1";
  r.hostTypeInfo = "vmware";
  r.vmHostId = "esx1";
  r.srdfAsync = true;
  r.events.emplace_back(1, "sent");
  return r;
}

// Whatever a request holds comes back: the rebuilt requests make the same
// document; an answer applied to the requests is what they then hold, with
// the events sent out not repeated.
TEST(RequestJsonTest, RoundTripAndApplyKeepEveryField) {
  HostSnapInfo a = Sample(11), b = Sample(12);
  b.errorCode = 62005;
  b.errorText = "Failed";
  json doc = hostrt::ToJson({&a, &b});
  std::vector<std::unique_ptr<HostSnapInfo>> built;
  std::string error;
  ASSERT_TRUE(hostrt::RequestsFromJson(json::parse(doc.dump()), &built, &error)) << error;
  ASSERT_EQ(2u, built.size());
  EXPECT_EQ(doc, hostrt::ToJson({built[0].get(), built[1].get()}));
  EXPECT_EQ(built[0]->arrayInfoCache, built[1]->arrayInfoCache);

  json answer = doc;
  answer["requests"][0]["status"] = PZSO::SNAP_STATUS_MAPPED;
  answer["requests"][0]["devicePath"] = "/dev/sdq";
  answer["requests"][0]["requestMetadata"] = {{"60", "0"}, {"91", "resp"}};
  answer["requests"][1]["errorCode"] = 62002;
  answer["requests"][1]["errorText"] = "no initiator";
  answer["requests"][1]["events"].push_back({{"severity", 2}, {"text", "remote"}});
  ASSERT_TRUE(hostrt::ApplyJson(answer, {&a, &b}, &error)) << error;
  EXPECT_EQ(answer, hostrt::ToJson({&a, &b}));
  EXPECT_EQ(2u, b.events.size());
}

TEST(RequestJsonTest, FaultyAnswersApplyNothing) {
  HostSnapInfo a = Sample(11), b = Sample(12);
  json good = hostrt::ToJson({&a, &b});
  good["requests"][0]["status"] = PZSO::SNAP_STATUS_MAPPED;
  std::vector<json> bad(7, good);
  bad[0]["requests"][1]["status"] = "12";               // wrong type, late entry
  bad[1]["requests"].erase(1);                          // one request missing
  bad[2]["requests"][1].erase("metadata");              // required item absent
  bad[3]["requests"][1]["smSnapId"] = 99;               // another request
  bad[4]["requests"][1]["metadata"] = {{"x6", "v"}};    // not a metadata type
  bad[5]["version"] = 2;
  bad[6]["requests"][1]["errorCode"] = 1LL << 40;       // out of range
  for (size_t i = 0; i < bad.size(); ++i) {
    std::string error;
    EXPECT_FALSE(hostrt::ApplyJson(bad[i], {&a, &b}, &error)) << i;
    EXPECT_FALSE(error.empty()) << i;
    EXPECT_EQ(PZSO::SNAP_STATUS_CREATED, a.status) << i;
  }
}

// --- The request object: array details from the host database, buffers too
// small for an answer and requests a normal run never makes.

class HostSnapInfoTest : public HostOSUtilTest {
 protected:
  HostSnapInfo r;
};

TEST_F(HostSnapInfoTest, TooSmallBuffersAreRefusedWithTheSizeNeeded) {
  r.hostTypeInfo = "vmware";
  char small[4] = {'x', 'x', 'x', 'x'};
  short size = sizeof small;
  EXPECT_NE(0, r.getHostTypeInfo(small, &size));
  EXPECT_EQ(7, size);
  EXPECT_EQ('x', small[3]);  // nothing written past or into it
  r.snapConfigStrings["sName"] = "abcdef";
  char config[8] = {0};
  int csize = 3;
  EXPECT_NE(0, r.getSnapConfigString("sName", config, &csize));
  EXPECT_EQ(6, csize);
  EXPECT_STREQ("", config);
  csize = 6;
  ASSERT_EQ(0, r.getSnapConfigString("sName", config, &csize));
  EXPECT_EQ(std::string("abcdef"), std::string(config, 6));
}

TEST_F(HostSnapInfoTest, ArrayDetailsComeFromDatabaseWithDecodablePassword) {
  hostrt::ArrayDetailsRow row;
  row.arrayNumber = 3;
  row.encodedPassword = hostrt::EncodeSecret("s3cret!");
  env.database.arrayDetails[3] = row;
  PZSO::ArrayDetailsSource* details = nullptr;
  r.arrayNum = 4;
  EXPECT_NE(0, r.getArrayDetailsObject(&details));
  EXPECT_EQ(nullptr, details);
  r.arrayNum = 3;
  ASSERT_EQ(0, r.getArrayDetailsObject(&details));
  ASSERT_NE(nullptr, details);
  std::string plain;
  ASSERT_EQ(0, r.decodeArrayDetail(details->getEncodedPassword(), &plain));
  EXPECT_EQ("s3cret!", plain);
  EXPECT_NE(0, r.decodeArrayDetail("s3cret!", &plain));     // not encoded
  EXPECT_NE(0, r.decodeArrayDetail("pzenc1:abc", &plain));  // odd length
  r.releaseArrayDetailsObject(&details);
  EXPECT_EQ(nullptr, details);
}

// Requests the plug-in never makes in a normal run: an unknown job
// parameter, an absent setting, an empty snapshot id, metadata cleared.
TEST_F(HostSnapInfoTest, RareRequestsAreRefusedOrClear) {
  int value = -1;
  EXPECT_NE(0, r.getJobParam(99, &value));
  EXPECT_NE(0, r.getSnapConfigInt("nAbsent", &value));
  EXPECT_EQ(-1, value);  // left as preset
  EXPECT_NE(0, r.setSnapUniqueId(""));
  std::string v;
  r.setRequestMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, "5");
  r.setRequestMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, nullptr);
  EXPECT_FALSE(r.getMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, v));
}

// A line longer than any fixed buffer reaches the request log whole.
TEST_F(HostSnapInfoTest, LongLogLinesAreKeptWhole) {
  r.smSnapId = 42;
  std::string longText(3000, 'y');
  r.log(1, "fn", "value [%d] %s", 5, longText.c_str());
  ASSERT_EQ(1u, env.logs.size());
  EXPECT_EQ(42, env.logs[0].smSnapId);
  EXPECT_EQ("value [5] " + longText, env.logs[0].text);
}

}  // namespace
