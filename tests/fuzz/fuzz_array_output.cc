// Every parsing operation of the command layer fed arbitrary SYMCLI output.
// Input: byte 0 picks the operation, byte 1 the exit code and stream
// (bit 0: exit code 1, bit 1: text on standard error), the rest is the
// output; lines "%%" split it into the answers of successive distinct
// command lines (the last answer serves the rest).
#include <functional>
#include <map>

#include "array/ArrayAPI_CLI.h"
#include "tests/fuzz/FuzzHost.h"
#include "tests/support/FakeHost.h"

namespace {

constexpr const char* kSid = "000197900123";
constexpr const char* kSnap = "snap_1";
constexpr int kJobId = 12;
constexpr int kMaxRounds = 6;
constexpr uint8_t kFailFlag = 1;
constexpr uint8_t kStderrFlag = 2;
const std::string kAnswerSeparator = "\n%%\n";

std::vector<std::string> Answers(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (true) {
    size_t sep = text.find(kAnswerSeparator, at);
    out.push_back(text.substr(at, sep == std::string::npos ? sep : sep - at));
    if (sep == std::string::npos) break;
    at = sep + kAnswerSeparator.size();
  }
  return out;
}

// One call of the command layer, with the output holders the operations fill.
struct Call {
  testing_host::FakeSnapInfo si;
  ArrayAPI_CLI api{&si};
  std::list<std::string> list;
  std::vector<std::string> names;
  std::unordered_set<std::string> devs;
  VMAXSnapInfo info{&si, kSid, "000A1", kSnap};
  Call() {
    si.jobParams[PZSO::JOB_PARAM_JOB_ID] = kJobId;
    ArrayAPIInitParams params;
    params.config.allowWWPNs = {"10000090fa123456"};
    params.config.allowMaskingViews = {"mv_1", "mv_2"};
    api.init(params);
    api.seVersion = kLastOldSymsgShowVersion + 1;
  }
};

VMAXSnapParamList Params() {
  VMAXSnapParamList list;
  list.serial = kSid;
  for (const char* pair : {"000A1 000B1", "000A2 000B2"}) {
    VMAXSnapParam p;
    p.snapUid = kSnap;
    p.sourceDevice = std::string(pair, 5);
    p.targetDevice = std::string(pair + 6, 5);
    list.params.push_back(p);
  }
  return list;
}

const std::list<std::string> kDevs{"000A1", "000A2"};

using Operation = std::function<void(Call&)>;

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      [](Call& c) {
        c.api.GetSnapInfo(c.info, true);
        VMAXSnapInfo plain(&c.si, kSid, "000A1", kSnap);
        c.api.GetSnapInfo(plain, false);
      },
      [](Call& c) {
        std::list<VMAXSnapInfo> infos{VMAXSnapInfo(&c.si, kSid, "000A1", kSnap),
                                      VMAXSnapInfo(&c.si, kSid, "000A2", kSnap)};
        c.api.GetSnapInfo(infos);
      },
      [](Call& c) {
        VMAXSnapParamList list = Params();
        c.api.IsSnapLinked(list);
      },
      [](Call& c) {
        std::unordered_map<std::string, std::list<std::string>> sessions;
        c.api.GetRestoreSessions(kSid, kDevs, sessions);
      },
      [](Call& c) { c.api.WaitForRestoreCompletion(kSid, kSnap, kDevs); },
      [](Call& c) { c.api.GetSGListByDevice(kSid, "000A1", c.list); },
      [](Call& c) { c.api.GetChildSGList(kSid, "parent_sg", c.names); },
      [](Call& c) { c.api.GetChildSGListv2(kSid, "parent_sg", c.names); },
      [](Call& c) { c.api.GetParentSGList(kSid, c.devs); },
      [](Call& c) { c.api.GetMVListByInitiator(kSid, "10000090fa123456", c.names); },
      [](Call& c) {
        VMAXMaskViewInfo info;
        c.api.MaskViewInfoByName(kSid, "mv_1", info);
      },
      [](Call& c) { c.api.GetDevListBySG(kSid, "target_sg", c.devs); },
      [](Call& c) {
        std::list<VMAXLun> luns;
        c.api.GetFreeTDEVListBySG(kSid, "target_sg", luns);
      },
      [](Call& c) {
        VMAXLun lun;
        c.api.GetDevProps(kSid, "000A1", lun);
        std::unordered_map<std::string, VMAXLun> props;
        c.api.GetDevProps(kSid, kDevs, props);
      },
      [](Call& c) {
        unsigned long version = 0;
        c.api.GetSEVersion(version);
      },
      [](Call& c) {
        c.api.GetDevListLinked(kSid, c.devs);
        c.api.GetDevListUnmapped(kSid, "target_sg", c.devs);
      },
      [](Call& c) { c.api.GetLinkDevsSnap(c.info); },
      [](Call& c) {
        std::unordered_map<std::string, std::unordered_set<std::string>> byHba;
        c.api.GetSGListByHBA(kSid, {"10000090fa123456", "10000090fa654321"}, byHba);
      },
      [](Call& c) {
        c.api.RestoreCleanup(kSid, kSnap, kDevs, true);
        c.api.DeleteRestoreSessions(kSid, kSnap, kDevs);
        c.api.RestoreCleanupAll(kSid, kDevs);
      },
  };
  return ops;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Operation& op = Operations()[data[0] % Operations().size()];
  uint8_t flags = data[1];
  std::vector<std::string> answers =
      Answers(std::string(reinterpret_cast<const char*>(data) + 2, size - 2));

  // Each round answers the command lines the previous one could not, so an
  // operation that runs several commands reads a different text in each.
  std::map<std::string, size_t> answerOf;
  for (int round = 0; round < kMaxRounds; ++round) {
    testing_host::FakeEnv& host = fuzzing::FreshHost();
    // Restore polling gives up after one minute (two polls).
    host.Set("~Fieldunit", "nSymmRestoreWaitMaxMins", "1");
    for (const auto& entry : answerOf) {
      testing_host::ScriptedRun run;
      const std::string& text = answers[entry.second];
      (flags & kStderrFlag ? run.error : run.output) = text;
      run.exitCode = flags & kFailFlag ? 1 : 0;
      host.Expect(entry.first, run);
    }
    {
      Call call;
      op(call);
    }
    if (host.unexpected.empty()) break;
    for (const std::string& cmd : host.unexpected)
      if (!answerOf.count(cmd))
        answerOf[cmd] = std::min(answerOf.size(), answers.size() - 1);
  }
  return 0;
}
