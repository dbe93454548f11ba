// symsim: builds and inspects a simulated world (arrays, devices, groups,
// views, hosts), injects faults and reads the audit log of the tools.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>

#include "simulator/hostview/HostView.h"
#include "simulator/scsi/Inquiry.h"
#include "simulator/state/DevNum.h"
#include "simulator/world/Build.h"

namespace {

using symsim::StateDb;
using symsim::Stmt;
using symsim::Transaction;
using symsim::UserError;

constexpr char kHelpFooter[] = R"(
A world is one directory (--state DIR, also what SYMAPI_HOME_DIR names): the
state file symsim.db and bin/ with symsnapvx, symsg, symaccess, symdev and
symcli. Objects are created one by one, e.g.:
  symsim --state W init
  symsim --state W array --serial 000197800123 --model PowerMax_8000
  symsim --state W device --sid 000197800123 --dev 00100 --count 4 --cyl 1092
  symsim --state W sg --sid 000197800123 --name SG_src --devs 00100:00103
  symsim --state W sg --sid 000197800123 --name CSG_x --child SG_src
  symsim --state W pg --sid 000197800123 --name PG_x --port 01D:004
  symsim --state W ig --sid 000197800123 --name IG_x --wwn 10000000c9a1b201
  symsim --state W view --sid 000197800123 --name MV_x --ig IG_x --pg PG_x --sg SG_src
  symsim --state W host --name h1 --wwn 10000000c9a1b201 [--esx]
  symsim --state W rescan h1 ; symsim --state W devices h1
or all at once with `init-demo [--json]`.
Without --state the world is the directory SYMAPI_HOME_DIR names.
Settings (symsim set KEY VALUE): se_version, latency_ms, link_define_listings,
link_define_seconds, restore_listings (3 when neither restore setting is
given), restore_seconds (both 0: restores are done at once), se_host (the
simulated host the tools run on: its devices show their paths in the symdev
Physical column instead of "Not Visible"), inquiry_mode (how devices answer
INQUIRY: long, short, designators or old; `inquiry-mode` sets it per device).
Faults: `fault add --nth N | --pattern REGEX [--exit C] [--message M]
[--hang SECONDS] [--times N | --always] [--after]`; `fault list`; `fault clear`.
)";

// symsim-tool lies beside symsim in the build tree and in
// <prefix>/libexec/symsim/ when installed.
std::string ToolPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) throw UserError("cannot find the symsim program");
  std::string self(buf, static_cast<size_t>(n));
  std::string dir = self.substr(0, self.rfind('/'));
  std::string beside = dir + "/symsim-tool";
  std::string installed = dir.substr(0, dir.rfind('/')) + "/libexec/symsim/symsim-tool";
  return access(beside.c_str(), X_OK) != 0 && access(installed.c_str(), X_OK) == 0
             ? installed
             : beside;
}

std::unique_ptr<StateDb> OpenWorld(const std::string& dir) {
  std::string error;
  std::unique_ptr<StateDb> db = StateDb::Open(dir, false, &error);
  if (!db) throw UserError(error);
  return db;
}

// The settings a user may change, and what their values must look like.
enum class SettingKind { kCount, kVersion, kHost, kInquiryMode };
struct KnownSetting {
  const char* key;
  SettingKind kind;
};
const KnownSetting kKnownSettings[] = {
    {symsim::kSetSeVersion, SettingKind::kVersion},
    {symsim::kSetLatencyMs, SettingKind::kCount},
    {symsim::kSetDefineListings, SettingKind::kCount},
    {symsim::kSetDefineSeconds, SettingKind::kCount},
    {symsim::kSetRestoreListings, SettingKind::kCount},
    {symsim::kSetRestoreSeconds, SettingKind::kCount},
    {symsim::kSetSeHost, SettingKind::kHost},
    {symsim::kSetInquiryMode, SettingKind::kInquiryMode},
};

void CheckSetting(StateDb* db, const std::string& key, const std::string& value) {
  const KnownSetting* known = nullptr;
  std::string names;
  for (const KnownSetting& k : kKnownSettings) {
    names += (names.empty() ? "" : ", ") + std::string(k.key);
    if (key == k.key) known = &k;
  }
  if (!known) throw UserError("unknown setting " + key + " (settings: " + names + ")");
  switch (known->kind) {
    case SettingKind::kCount:
      if (!std::regex_match(value, std::regex("[0-9]{1,9}"))) {
        throw UserError(key + " takes a whole number of 0 or more, not '" + value + "'");
      }
      break;
    case SettingKind::kVersion:
      if (!std::regex_match(value, std::regex("[0-9]{1,3}(\\.[0-9]{1,4}){1,3}"))) {
        throw UserError(key + " takes a version such as 9.2.1.6, not '" + value + "'");
      }
      break;
    case SettingKind::kHost: {
      if (value.empty()) break;
      Stmt s(db->handle(), "SELECT 1 FROM hosts WHERE name=?");
      s.Bind(1, value);
      if (!s.Step()) throw UserError("no simulated host " + value);
      break;
    }
    case SettingKind::kInquiryMode: {
      symsim::InquiryMode mode;
      if (!symsim::ParseInquiryMode(value, &mode)) {
        throw UserError(key + " takes one of " + symsim::InquiryModeNames() + ", not '" +
                        value + "'");
      }
      break;
    }
  }
}

std::vector<int64_t> Devs(const std::string& text) {
  std::vector<int64_t> devs;
  if (text.empty()) return devs;
  std::string error;
  if (!symsim::ParseDevList(text, &devs, &error)) throw UserError(error);
  return devs;
}

void PrintJson(const nlohmann::json& j) { std::cout << j.dump(2) << "\n"; }

std::string Join(const nlohmann::json& items) {
  std::string out;
  for (const auto& i : items) out += (out.empty() ? "" : " ") + i.get<std::string>();
  return out.empty() ? "-" : out;
}

// The state for people: one line per object.
void PrintWorld(const nlohmann::json& w) {
  for (auto it = w["settings"].begin(); it != w["settings"].end(); ++it) {
    std::cout << "setting " << it.key() << " = " << it.value().get<std::string>() << "\n";
  }
  for (const auto& a : w["arrays"]) {
    std::cout << "array " << a["serial"].get<std::string>() << " " << a["model"].get<std::string>()
              << " microcode " << a["microcode"].get<std::string>() << ", " << a["snapLimit"]
              << " snapshots per source, " << a["devices"].size() << " devices\n";
    for (const auto& d : a["devices"]) {
      std::cout << "  device " << d["device"].get<std::string>() << " " << d["cylinders"] << " cyl"
                << (d["thin"].get<bool>() ? " thin" : " thick")
                << (d["mapped"].get<bool>() ? " mapped" : "") << "\n";
    }
    for (const auto& g : a["storageGroups"]) {
      std::cout << "  storage group " << g["name"].get<std::string>() << ": devices "
                << Join(g["devices"]) << "; children " << Join(g["children"]) << "\n";
    }
    for (const auto& g : a["portGroups"]) {
      std::cout << "  port group " << g["name"].get<std::string>() << ": " << Join(g["ports"]) << "\n";
    }
    for (const auto& g : a["initiatorGroups"]) {
      std::cout << "  initiator group " << g["name"].get<std::string>() << ": "
                << Join(g["initiators"]) << "\n";
    }
    for (const auto& v : a["maskingViews"]) {
      std::cout << "  masking view " << v["name"].get<std::string>() << ": "
                << v["initiatorGroup"].get<std::string>() << " " << v["portGroup"].get<std::string>()
                << " " << v["storageGroup"].get<std::string>() << "\n";
    }
    for (const auto& n : a["snapshots"]) {
      std::cout << "  snapshot " << n["name"].get<std::string>() << " of "
                << n["device"].get<std::string>() << (n["failed"].get<bool>() ? " failed" : "") << "\n";
    }
    for (const auto& l : a["links"]) {
      std::cout << "  link " << l["source"].get<std::string>() << ":" << l["snapshot"].get<std::string>()
                << " -> " << l["target"].get<std::string>() << (l["copy"].get<bool>() ? " copy" : "")
                << "\n";
    }
    for (const auto& r : a["restores"]) {
      std::cout << "  restore of " << r["device"].get<std::string>() << " from "
                << r["snapshot"].get<std::string>() << "\n";
    }
  }
  for (const auto& h : w["hosts"]) {
    std::cout << "host " << h["name"].get<std::string>() << (h["esx"].get<bool>() ? " (ESX)" : "")
              << ": initiators " << Join(h["initiators"]) << "\n";
    for (const auto& d : h["devices"]) std::cout << "  sees " << d.get<std::string>() << "\n";
  }
  for (const auto& f : w["faults"]) std::cout << "fault " << f.dump() << "\n";
}

nlohmann::json AuditRows(StateDb* db) {
  nlohmann::json rows = nlohmann::json::array();
  Stmt s(db->handle(), "SELECT id, started_us, tool, args, file_content, exit_code, "
                       "duration_ms, output, error, fault FROM audit ORDER BY id");
  while (s.Step()) {
    nlohmann::json row = {{"id", s.Int(0)}, {"startedUs", s.Int(1)}, {"tool", s.Text(2)},
                          {"args", nlohmann::json::parse(s.Text(3), nullptr, false)},
                          {"fileContent", s.Text(4)}, {"output", s.Text(7)},
                          {"error", s.Text(8)}};
    row["exitCode"] = s.IsNull(5) ? nlohmann::json() : nlohmann::json(s.Int(5));
    row["durationMs"] = s.IsNull(6) ? nlohmann::json() : nlohmann::json(s.Real(6));
    row["fault"] = s.IsNull(9) ? nlohmann::json() : nlohmann::json(s.Int(9));
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

// Exit code of a command line symsim cannot take.
constexpr int kExitUsage = 2;

int main(int argc, char** argv) {
  CLI::App app{"symsim: the simulated VMAX/PowerMax world"};
  app.footer(kHelpFooter);
  app.require_subcommand(1);
  app.set_version_flag("--version", "symsim " PZ_VERSION);
  std::string dir;
  app.add_option("--state", dir, "world directory (default: $SYMAPI_HOME_DIR)");

  std::string seVersion;
  auto* init = app.add_subcommand("init", "create an empty world (state file, bin/ tools)");
  init->add_option("--se-version", seVersion, "Solutions Enabler version the tools report");

  bool json = false;
  symsim::DemoOptions demo;
  auto* initDemo = app.add_subcommand("init-demo", "create the ready demo world");
  initDemo->add_flag("--json", json, "print the world's description as JSON");
  initDemo->add_option("--serial", demo.serial);
  initDemo->add_option("--host", demo.host);
  initDemo->add_option("--model", demo.model);
  initDemo->add_option("--targets-per-size", demo.targetsPerSize);
  initDemo->add_option("--se-version", seVersion);

  auto* show = app.add_subcommand("show", "print the whole state");
  show->add_flag("--json", json);

  std::string serial, model = "PowerMax_8000", microcode = "5978.669.669";
  int snapLimit = 0;
  auto* array = app.add_subcommand("array", "create an array");
  array->add_option("--serial", serial)->required();
  array->add_option("--model", model, "e.g. PowerMax_8000, VMAX250F");
  array->add_option("--microcode", microcode);
  array->add_option("--snap-limit", snapLimit, "snapshots per source (default by model)");

  std::string devText;
  int64_t count = 1, cylinders = 0;
  bool thick = false, mapped = false;
  auto* device = app.add_subcommand("device", "create devices");
  device->add_option("--sid", serial)->required();
  device->add_option("--dev", devText, "first device number (hex)")->required();
  device->add_option("--count", count);
  device->add_option("--cyl", cylinders)->required();
  device->add_flag("--thick", thick, "not a thin device");
  device->add_flag("--mapped", mapped, "mapped to front-end ports outside any view");

  std::string name, child;
  auto* sg = app.add_subcommand("sg", "create a storage group, add devices or a child");
  sg->add_option("--sid", serial)->required();
  sg->add_option("--name", name)->required();
  sg->add_option("--devs", devText, "devices, e.g. 00100:00103,00110");
  sg->add_option("--child", child, "child storage group (cascaded)");

  std::vector<std::string> ports, wwns, iscsis;
  auto* pg = app.add_subcommand("pg", "create a port group");
  pg->add_option("--sid", serial)->required();
  pg->add_option("--name", name)->required();
  pg->add_option("--port", ports, "DIR:PORT, e.g. 01D:004");

  auto* ig = app.add_subcommand("ig", "create an initiator group");
  ig->add_option("--sid", serial)->required();
  ig->add_option("--name", name)->required();
  ig->add_option("--wwn", wwns, "FC port name");
  ig->add_option("--iscsi", iscsis, "iSCSI name");

  std::string igName, pgName, sgName;
  auto* view = app.add_subcommand("view", "create a masking view");
  view->add_option("--sid", serial)->required();
  view->add_option("--name", name)->required();
  view->add_option("--ig", igName)->required();
  view->add_option("--pg", pgName)->required();
  view->add_option("--sg", sgName)->required();

  bool esx = false;
  auto* host = app.add_subcommand("host", "create a simulated host");
  host->add_option("--name", name)->required();
  host->add_option("--wwn", wwns, "FC initiator");
  host->add_option("--iscsi", iscsis, "iSCSI initiator");
  host->add_flag("--esx", esx, "an ESX host");

  std::vector<std::string> removePaths;
  auto* rescan = app.add_subcommand("rescan", "rescan a simulated host");
  rescan->add_option("host", name)->required();
  rescan->add_option("--remove", removePaths, "paths to remove first");

  bool esxEntries = false;
  auto* devices = app.add_subcommand("devices", "devices a host saw at its last rescan");
  devices->add_option("host", name)->required();
  devices->add_flag("--json", json);
  devices->add_flag("--esx-entries", esxEntries, "the ESX name-value entries");

  std::string path, page;
  bool hex = false;
  auto* inquiry = app.add_subcommand("inquiry", "the INQUIRY bytes of a simulated path");
  inquiry->add_option("path", path)->required();
  inquiry->add_option("--page", page, "83 for the Device Identification page");
  inquiry->add_flag("--hex", hex, "hex bytes, the form sg_inq --inhex reads");

  std::string key, value;
  auto* set = app.add_subcommand("set", "change a world setting");
  set->add_option("key", key)->required();
  set->add_option("value", value)->required();

  std::string modeText;
  auto* inquiryMode = app.add_subcommand(
      "inquiry-mode", "how devices answer INQUIRY: the world's mode, or that of --devs");
  inquiryMode->add_option("mode", modeText, "long, short, designators or old")->required();
  inquiryMode->add_option("--sid", serial, "array of --devs");
  inquiryMode->add_option("--devs", devText, "devices, e.g. 00100:00103,00110");

  int64_t latency = 0;
  auto* lat = app.add_subcommand("latency", "delay every tool invocation");
  lat->add_option("ms", latency)->required();

  int64_t nth = 0, hang = 0, times = 1;
  int exitCode = 1;
  std::string pattern, message = "The operation failed (injected fault)";
  bool always = false, after = false;
  auto* fault = app.add_subcommand("fault", "inject faults into tool invocations");
  fault->require_subcommand(1);
  auto* faultAdd = fault->add_subcommand("add", "add a fault");
  faultAdd->add_option("--nth", nth, "strike the Nth invocation from now (1: the next)");
  faultAdd->add_option("--pattern", pattern, "strike invocations whose arguments match");
  faultAdd->add_option("--exit", exitCode, "exit code");
  faultAdd->add_option("--message", message, "message on standard error");
  faultAdd->add_option("--hang", hang, "seconds to hang before answering");
  faultAdd->add_option("--times", times, "how many invocations it strikes");
  faultAdd->add_flag("--always", always, "strike every matching invocation");
  faultAdd->add_flag("--after", after, "strike after the state change");
  auto* faultList = fault->add_subcommand("list", "list faults");
  faultList->add_flag("--json", json);
  auto* faultClear = fault->add_subcommand("clear", "remove every fault");

  bool clear = false;
  auto* audit = app.add_subcommand("audit", "the tools' invocations");
  audit->add_flag("--json", json);
  audit->add_flag("--clear", clear, "empty the audit log");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version exit 0; a command line symsim cannot take, 2.
    return app.exit(e) == 0 ? 0 : kExitUsage;
  }

  try {
    if (dir.empty()) {
      const char* home = std::getenv("SYMAPI_HOME_DIR");
      if (!home || !*home) throw UserError("no world: give --state DIR or set SYMAPI_HOME_DIR");
      dir = home;
    }
    if (*init) {
      symsim::InitWorld(dir, ToolPath(), seVersion);
      return 0;
    }
    if (*initDemo) {
      symsim::InitWorld(dir, ToolPath(), seVersion);
      auto db = OpenWorld(dir);
      nlohmann::json out = symsim::BuildDemo(dir, db.get(), demo);
      if (json) PrintJson(out);
      else std::cout << "Demo world in " << dir << ": array " << demo.serial << ", host "
                     << demo.host << "\n";
      return 0;
    }
    auto db = OpenWorld(dir);
    if (*show) {
      nlohmann::json all = symsim::DumpWorld(db.get());
      if (json) PrintJson(all);
      else PrintWorld(all);
      return 0;
    }
    if (*rescan || *devices || *inquiry) {
      std::string error;
      auto hv = symsim::HostView::Open(dir, &error);
      if (!hv) throw UserError(error);
      if (*rescan) {
        if (!hv->Rescan(name, removePaths, &error)) throw UserError(error);
      }
      if (*devices || *rescan) {
        std::vector<std::string> list;
        bool ok = esxEntries ? hv->EsxDeviceEntries(name, &list, &error)
                             : hv->Devices(name, &list, &error);
        if (!ok) throw UserError(error);
        if (json) PrintJson(list);
        else for (const auto& p : list) std::cout << p << "\n";
      }
      if (*inquiry) {
        std::vector<uint8_t> data;
        bool evpd = !page.empty();
        if (evpd && page != "83" && page != "0x83" && page != "di") {
          throw UserError("only page 83 (Device Identification) is simulated");
        }
        if (!hv->Inquiry(path, evpd, symsim::kPageDeviceId, &data, &error)) throw UserError(error);
        if (hex) std::cout << symsim::HexDump(data);
        else std::cout.write(reinterpret_cast<const char*>(data.data()),
                             static_cast<std::streamsize>(data.size()));
      }
      return 0;
    }
    Transaction tx(db.get());
    if (*array) {
      symsim::AddArray(db.get(), serial, model, microcode, snapLimit);
    } else if (*device) {
      int64_t first = symsim::ParseDev(devText);
      if (first < 0) throw UserError("bad device number " + devText);
      symsim::AddDevices(db.get(), serial, first, count, cylinders, !thick, mapped);
    } else if (*sg) {
      symsim::AddGroupDevices(db.get(), serial, name, Devs(devText));
      if (!child.empty()) symsim::AddChildGroup(db.get(), serial, name, child);
    } else if (*pg) {
      symsim::AddPortGroup(db.get(), serial, name, ports);
    } else if (*ig) {
      symsim::AddInitiatorGroup(db.get(), serial, name, wwns, iscsis);
    } else if (*view) {
      symsim::AddView(db.get(), serial, name, igName, pgName, sgName);
    } else if (*host) {
      symsim::AddHost(db.get(), name, esx, wwns, iscsis);
    } else if (*set) {
      CheckSetting(db.get(), key, value);
      db->SetSetting(key, value);
    } else if (*inquiryMode) {
      CheckSetting(db.get(), symsim::kSetInquiryMode, modeText);
      if (devText.empty() != serial.empty()) throw UserError("give --sid and --devs together");
      if (devText.empty()) db->SetSetting(symsim::kSetInquiryMode, modeText);
      for (int64_t d : Devs(devText)) {
        Stmt s(db->handle(), "SELECT 1 FROM devices WHERE serial=? AND dev=?");
        s.Bind(1, serial).Bind(2, d);
        if (!s.Step()) throw UserError("no device " + symsim::FormatDev(d) + " on " + serial);
        db->SetSetting(symsim::DeviceInquiryModeKey(serial, d), modeText);
      }
    } else if (*lat) {
      if (latency < 0) throw UserError("latency takes a whole number of milliseconds, 0 or more");
      db->SetSetting(symsim::kSetLatencyMs, std::to_string(latency));
    } else if (*faultAdd) {
      if ((nth > 0) == !pattern.empty()) throw UserError("give exactly one of --nth and --pattern");
      if (!pattern.empty()) {
        try {
          std::regex check(pattern);
        } catch (const std::regex_error&) {
          throw UserError("bad pattern " + pattern);
        }
      }
      int64_t base = db->IntSetting(symsim::kSetInvocations, 0);
      Stmt s(db->handle(), "INSERT INTO faults(nth, pattern, exit_code, message, hang_seconds, "
                           "remaining, phase) VALUES(?,?,?,?,?,?,?)");
      s.Bind(1, nth > 0 ? base + nth : 0).Bind(2, pattern).Bind(3, exitCode)
          .Bind(4, message).Bind(5, hang).Bind(6, always ? -1 : times)
          .Bind(7, after ? "after" : "before").Run();
      std::cout << db->LastId() << "\n";
    } else if (*faultList) {
      nlohmann::json all = symsim::DumpWorld(db.get());
      std::cout << all["faults"].dump(json ? 2 : -1) << "\n";
    } else if (*faultClear) {
      db->Exec("DELETE FROM faults");
    } else if (*audit) {
      if (clear) {
        db->Exec("DELETE FROM audit");
      } else {
        nlohmann::json rows = AuditRows(db.get());
        if (json) {
          PrintJson(rows);
        } else {
          for (const auto& r : rows) {
            std::string line = r["tool"].get<std::string>();
            for (const auto& a : r["args"]) line += " " + a.get<std::string>();
            std::cout << r["id"] << " exit=" << r["exitCode"].dump() << " " << line << "\n";
          }
        }
      }
    }
    tx.Commit();
    return 0;
  } catch (const UserError& e) {
    std::fprintf(stderr, "symsim: %s\n", e.what());
  } catch (const symsim::DbError& e) {
    std::fprintf(stderr, "symsim: state error: %s\n", e.what());
  }
  return 1;
}
