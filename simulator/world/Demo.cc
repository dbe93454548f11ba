// The demo world: one array, a host with two FC initiators that sees source
// devices of two sizes, a target group of free thin devices and a mount
// group in a masking view of the host.
#include <string>

#include "simulator/hostview/HostView.h"
#include "simulator/state/DevNum.h"
#include "simulator/world/Build.h"

namespace symsim {

namespace {
constexpr int64_t kSourceFirst = 0x00100;
constexpr int64_t kSourcesPerSize = 2;
constexpr int64_t kTargetFirst = 0x00200;
constexpr int64_t kSmallCylinders = 1092;  // about 2 GB
constexpr int64_t kLargeCylinders = 2185;  // about 4 GB
const char* const kDemoInitiators[] = {"10000000c9a1b201", "10000000c9a1b202"};
}  // namespace

nlohmann::json BuildDemo(const std::string& dir, StateDb* db,
                         const DemoOptions& o) {
  std::vector<std::string> fc(std::begin(kDemoInitiators), std::end(kDemoInitiators));
  const std::string srcSg = "SG_" + o.host + "_src";
  const std::string tgtSg = "SG_snap_targets";
  const std::string mountSg = "SG_" + o.host + "_mount";
  const std::string ig = "IG_" + o.host;
  const std::string pg = "PG_" + o.host;
  {
    Transaction tx(db);
    AddArray(db, o.serial, o.model, o.microcode, 0);
    const int64_t sizes[] = {kSmallCylinders, kLargeCylinders};
    std::vector<int64_t> sources;
    int64_t next = kSourceFirst;
    for (int64_t cyl : sizes) {
      AddDevices(db, o.serial, next, kSourcesPerSize, cyl, true, false);
      for (int64_t i = 0; i < kSourcesPerSize; ++i) sources.push_back(next + i);
      next += kSourcesPerSize;
    }
    std::vector<int64_t> targets;
    next = kTargetFirst;
    for (int64_t cyl : sizes) {
      AddDevices(db, o.serial, next, o.targetsPerSize, cyl, true, false);
      for (int64_t i = 0; i < o.targetsPerSize; ++i) targets.push_back(next + i);
      next += o.targetsPerSize;
    }
    AddGroupDevices(db, o.serial, srcSg, sources);
    AddGroupDevices(db, o.serial, tgtSg, targets);
    AddGroup(db, o.serial, mountSg);
    AddPortGroup(db, o.serial, pg, {"01D:004", "02D:004"});
    AddInitiatorGroup(db, o.serial, ig, fc, {});
    AddView(db, o.serial, "MV_" + o.host + "_src", ig, pg, srcSg);
    AddView(db, o.serial, "MV_" + o.host + "_mount", ig, pg, mountSg);
    AddHost(db, o.host, false, fc, {});
    tx.Commit();
  }
  std::string error;
  std::unique_ptr<HostView> view = HostView::Open(dir, &error);
  if (!view || !view->Rescan(o.host, {}, &error)) throw UserError(error);

  nlohmann::json out;
  out["serial"] = o.serial;
  out["host"] = o.host;
  out["initiators"] = fc;
  out["sources"] = nlohmann::json::array();
  Stmt s(db->handle(),
         "SELECT d.dev, d.cylinders FROM sg_devices g JOIN devices d "
         "ON d.serial=g.serial AND d.dev=g.dev WHERE g.serial=? AND g.sg=? ORDER BY d.dev");
  s.Bind(1, o.serial).Bind(2, srcSg);
  while (s.Step()) {
    out["sources"].push_back({{"device", FormatDev(s.Int(0))},
                              {"path", SimulatedPath(o.host, o.serial, s.Int(0))},
                              {"cylinders", s.Int(1)}});
  }
  out["targetStorageGroup"] = tgtSg;
  out["mountStorageGroup"] = mountSg;
  out["sourceStorageGroup"] = srcSg;
  out["stateDir"] = dir;
  return out;
}

}  // namespace symsim
