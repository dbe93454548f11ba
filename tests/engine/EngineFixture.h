// Requests, host utility and a scripted array for the worker tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/PZSOVMAX.h"
#include "hostruntime/Env.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"
#include "tests/hostdev/InquiryData.h"

namespace engine_test {

using testing_host::FakeEnv;
using testing_host::FakeOSUtil;
using testing_host::FakeSnapInfo;
using testing_host::ScriptedRun;

constexpr const char* kSerialA = "000197800123";
constexpr const char* kSerialB = "000197800456";
constexpr const char* kVersionOutput =
    "Symmetrix Command Line Interface (SYMCLI) Version V9.2.1.6 (Edit Level: 2500)\n";

inline std::string Uid(const std::string& serial, const std::string& dev,
                       const std::string& name) {
  return serial + "|" + dev + "|" + name + "|";
}

class EngineTest : public ::testing::Test {
 protected:
  FakeEnv env;
  hostrt::ScopedEnv scoped{&env};
  FakeOSUtil os;
  std::vector<std::unique_ptr<FakeSnapInfo>> owned;
  std::vector<PZSO::SnapInfo*> ptrs;

  // A request with snapshot identifier metadata `uid` (none when empty).
  FakeSnapInfo* Add(const std::string& uid = "", int arrayNum = 1) {
    owned.emplace_back(new FakeSnapInfo());
    FakeSnapInfo* si = owned.back().get();
    si->arrayNum = arrayNum;
    si->smSnapId = int(owned.size());
    if (!uid.empty()) si->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = uid;
    ptrs.push_back(si);
    return si;
  }
  // A clean slate for the next case of a table.
  void Fresh() {
    owned.clear();
    ptrs.clear();
    env.settings.clear();
    env.sleeps.clear();
    env.scsi.clear();
    os.rescans.clear();
    os.remoteCalls.clear();
  }
  FakeSnapInfo* R(size_t i) { return owned.at(i).get(); }
  PZSO::SnapInfo** All() { return ptrs.data(); }
  short N() const { return short(ptrs.size()); }

  // The array answers the version probe and succeeds the listed verbs of
  // symsnapvx.
  void ArrayAnswers(std::set<std::string> okVerbs) {
    env.fallback = [okVerbs](const hostrt::ProcessSpec& spec, ScriptedRun* run) {
      if (spec.argv.empty()) return false;
      const std::string& prog = spec.argv[0];
      if (prog.size() >= 6 && prog.compare(prog.size() - 6, 6, "symcli") == 0) {
        run->output = kVersionOutput;
        return true;
      }
      for (const auto& a : spec.argv)
        if (okVerbs.count(a)) return true;
      return false;
    };
  }

  // A SCSI device of array `serial` answering as device `dev`.
  void AddHostDevice(const std::string& path, const std::string& dev,
                     const std::string& serial = kSerialA,
                     const std::string& product = "SYMMETRIX       ") {
    testing_host::FakeScsiDevice d;
    d.standard = inquiry_data::Standard("EMC     ", product, dev);
    d.page83 = inquiry_data::Page83ForSerial(serial);
    env.scsi[path] = d;
  }
  // A host with one Fibre Channel initiator.
  void OneInitiator() {
    env.hostName = "ma1";
    os.initiatorNames = "50:00:09:73:f0:0a:b1:04";
    os.initiatorTypes = std::string("\0", 1);
  }
  void ForwardTo(const std::string& ma) {
    for (auto& si : owned) si->snapConfigStrings["SMCONFIG_NAME_REMOTE_SNAP_MA"] = ma;
  }

  // Number of commands run whose line contains all the parts.
  int Runs(std::initializer_list<std::string> parts) const {
    int n = 0;
    for (const auto& r : env.runs) {
      bool all = true;
      for (const auto& p : parts) all = all && r.commandLine.find(p) != std::string::npos;
      n += all;
    }
    return n;
  }
};

}  // namespace engine_test
