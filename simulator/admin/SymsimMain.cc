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

// Everything symsim's command line may set, and its subcommands.
struct Cli {
  std::string dir, seVersion;
  bool json = false;
  symsim::DemoOptions demo;
  std::string serial, model = "PowerMax_8000", microcode = "5978.669.669";
  int snapLimit = 0;
  std::string devText;
  int64_t count = 1, cylinders = 0;
  bool thick = false, mapped = false;
  std::string name, child;
  std::vector<std::string> ports, wwns, iscsis;
  std::string igName, pgName, sgName;
  bool esx = false;
  std::vector<std::string> removePaths;
  bool esxEntries = false;
  std::string path, page;
  bool hex = false;
  std::string key, value, modeText;
  int64_t latency = 0;
  int64_t nth = 0, hang = 0, times = 1;
  int exitCode = 1;
  std::string pattern, message = "The operation failed (injected fault)";
  bool always = false, after = false, clear = false;

  CLI::App *init, *initDemo, *show, *array, *device, *sg, *pg, *ig, *view;
  CLI::App *host, *rescan, *devices, *inquiry, *set, *inquiryMode, *lat;
  CLI::App *faultAdd, *faultList, *faultClear, *audit;
};

// A subcommand that creates a named object of one array: --sid and --name.
CLI::App* ArrayObject(CLI::App& app, const char* name, const char* help, Cli& c) {
  CLI::App* sub = app.add_subcommand(name, help);
  sub->add_option("--sid", c.serial)->required();
  sub->add_option("--name", c.name)->required();
  return sub;
}

// The world and the array's objects.
void AddWorldCommands(CLI::App& app, Cli& c) {
  app.add_option("--state", c.dir, "world directory (default: $SYMAPI_HOME_DIR)");
  c.init = app.add_subcommand("init", "create an empty world (state file, bin/ tools)");
  c.init->add_option("--se-version", c.seVersion, "Solutions Enabler version the tools report");
  c.initDemo = app.add_subcommand("init-demo", "create the ready demo world");
  c.initDemo->add_flag("--json", c.json, "print the world's description as JSON");
  c.initDemo->add_option("--serial", c.demo.serial);
  c.initDemo->add_option("--host", c.demo.host);
  c.initDemo->add_option("--model", c.demo.model);
  c.initDemo->add_option("--targets-per-size", c.demo.targetsPerSize);
  c.initDemo->add_option("--se-version", c.seVersion);
  c.show = app.add_subcommand("show", "print the whole state");
  c.show->add_flag("--json", c.json);
  c.array = app.add_subcommand("array", "create an array");
  c.array->add_option("--serial", c.serial)->required();
  c.array->add_option("--model", c.model, "e.g. PowerMax_8000, VMAX250F");
  c.array->add_option("--microcode", c.microcode);
  c.array->add_option("--snap-limit", c.snapLimit, "snapshots per source (default by model)");
  c.device = app.add_subcommand("device", "create devices");
  c.device->add_option("--sid", c.serial)->required();
  c.device->add_option("--dev", c.devText, "first device number (hex)")->required();
  c.device->add_option("--count", c.count);
  c.device->add_option("--cyl", c.cylinders)->required();
  c.device->add_flag("--thick", c.thick, "not a thin device");
  c.device->add_flag("--mapped", c.mapped, "mapped to front-end ports outside any view");
  c.sg = ArrayObject(app, "sg", "create a storage group, add devices or a child", c);
  c.sg->add_option("--devs", c.devText, "devices, e.g. 00100:00103,00110");
  c.sg->add_option("--child", c.child, "child storage group (cascaded)");
  c.pg = ArrayObject(app, "pg", "create a port group", c);
  c.pg->add_option("--port", c.ports, "DIR:PORT, e.g. 01D:004");
  c.ig = ArrayObject(app, "ig", "create an initiator group", c);
  c.ig->add_option("--wwn", c.wwns, "FC port name");
  c.ig->add_option("--iscsi", c.iscsis, "iSCSI name");
  c.view = ArrayObject(app, "view", "create a masking view", c);
  c.view->add_option("--ig", c.igName)->required();
  c.view->add_option("--pg", c.pgName)->required();
  c.view->add_option("--sg", c.sgName)->required();
}

// Simulated hosts and the world's settings.
void AddHostCommands(CLI::App& app, Cli& c) {
  c.host = app.add_subcommand("host", "create a simulated host");
  c.host->add_option("--name", c.name)->required();
  c.host->add_option("--wwn", c.wwns, "FC initiator");
  c.host->add_option("--iscsi", c.iscsis, "iSCSI initiator");
  c.host->add_flag("--esx", c.esx, "an ESX host");
  c.rescan = app.add_subcommand("rescan", "rescan a simulated host");
  c.rescan->add_option("host", c.name)->required();
  c.rescan->add_option("--remove", c.removePaths, "paths to remove first");
  c.devices = app.add_subcommand("devices", "devices a host saw at its last rescan");
  c.devices->add_option("host", c.name)->required();
  c.devices->add_flag("--json", c.json);
  c.devices->add_flag("--esx-entries", c.esxEntries, "the ESX name-value entries");
  c.inquiry = app.add_subcommand("inquiry", "the INQUIRY bytes of a simulated path");
  c.inquiry->add_option("path", c.path)->required();
  c.inquiry->add_option("--page", c.page, "83 for the Device Identification page");
  c.inquiry->add_flag("--hex", c.hex, "hex bytes, the form sg_inq --inhex reads");
  c.set = app.add_subcommand("set", "change a world setting");
  c.set->add_option("key", c.key)->required();
  c.set->add_option("value", c.value)->required();
  c.inquiryMode = app.add_subcommand(
      "inquiry-mode", "how devices answer INQUIRY: the world's mode, or that of --devs");
  c.inquiryMode->add_option("mode", c.modeText, "long, short, designators or old")->required();
  c.inquiryMode->add_option("--sid", c.serial, "array of --devs");
  c.inquiryMode->add_option("--devs", c.devText, "devices, e.g. 00100:00103,00110");
  c.lat = app.add_subcommand("latency", "delay every tool invocation");
  c.lat->add_option("ms", c.latency)->required();
}

void AddFaultAndAuditCommands(CLI::App& app, Cli& c) {
  auto* fault = app.add_subcommand("fault", "inject faults into tool invocations");
  fault->require_subcommand(1);
  c.faultAdd = fault->add_subcommand("add", "add a fault");
  c.faultAdd->add_option("--nth", c.nth, "strike the Nth invocation from now (1: the next)");
  c.faultAdd->add_option("--pattern", c.pattern, "strike invocations whose arguments match");
  c.faultAdd->add_option("--exit", c.exitCode, "exit code");
  c.faultAdd->add_option("--message", c.message, "message on standard error");
  c.faultAdd->add_option("--hang", c.hang, "seconds to hang before answering");
  c.faultAdd->add_option("--times", c.times, "how many invocations it strikes");
  c.faultAdd->add_flag("--always", c.always, "strike every matching invocation");
  c.faultAdd->add_flag("--after", c.after, "strike after the state change");
  c.faultList = fault->add_subcommand("list", "list faults");
  c.faultList->add_flag("--json", c.json);
  c.faultClear = fault->add_subcommand("clear", "remove every fault");
  c.audit = app.add_subcommand("audit", "the tools' invocations");
  c.audit->add_flag("--json", c.json);
  c.audit->add_flag("--clear", c.clear, "empty the audit log");
}

// rescan, devices and inquiry: what a simulated host sees.
void RunHostView(const Cli& c) {
  std::string error;
  auto hv = symsim::HostView::Open(c.dir, &error);
  if (!hv) throw UserError(error);
  if (*c.rescan) {
    if (!hv->Rescan(c.name, c.removePaths, &error)) throw UserError(error);
  }
  if (*c.devices || *c.rescan) {
    std::vector<std::string> list;
    bool ok = c.esxEntries ? hv->EsxDeviceEntries(c.name, &list, &error)
                           : hv->Devices(c.name, &list, &error);
    if (!ok) throw UserError(error);
    if (c.json) PrintJson(list);
    else for (const auto& p : list) std::cout << p << "\n";
  }
  if (*c.inquiry) {
    std::vector<uint8_t> data;
    bool evpd = !c.page.empty();
    if (evpd && c.page != "83" && c.page != "0x83" && c.page != "di") {
      throw UserError("only page 83 (Device Identification) is simulated");
    }
    if (!hv->Inquiry(c.path, evpd, symsim::kPageDeviceId, &data, &error)) throw UserError(error);
    if (c.hex) std::cout << symsim::HexDump(data);
    else std::cout.write(reinterpret_cast<const char*>(data.data()),
                         static_cast<std::streamsize>(data.size()));
  }
}

void SetInquiryMode(StateDb* db, const Cli& c) {
  CheckSetting(db, symsim::kSetInquiryMode, c.modeText);
  if (c.devText.empty() != c.serial.empty()) throw UserError("give --sid and --devs together");
  if (c.devText.empty()) db->SetSetting(symsim::kSetInquiryMode, c.modeText);
  for (int64_t d : Devs(c.devText)) {
    Stmt s(db->handle(), "SELECT 1 FROM devices WHERE serial=? AND dev=?");
    s.Bind(1, c.serial).Bind(2, d);
    if (!s.Step()) throw UserError("no device " + symsim::FormatDev(d) + " on " + c.serial);
    db->SetSetting(symsim::DeviceInquiryModeKey(c.serial, d), c.modeText);
  }
}

void AddFault(StateDb* db, const Cli& c) {
  if ((c.nth > 0) == !c.pattern.empty()) throw UserError("give exactly one of --nth and --pattern");
  if (!c.pattern.empty()) {
    try {
      std::regex check(c.pattern);
    } catch (const std::regex_error&) {
      throw UserError("bad pattern " + c.pattern);
    }
  }
  int64_t base = db->IntSetting(symsim::kSetInvocations, 0);
  Stmt s(db->handle(), "INSERT INTO faults(nth, pattern, exit_code, message, hang_seconds, "
                       "remaining, phase) VALUES(?,?,?,?,?,?,?)");
  s.Bind(1, c.nth > 0 ? base + c.nth : 0).Bind(2, c.pattern).Bind(3, c.exitCode)
      .Bind(4, c.message).Bind(5, c.hang).Bind(6, c.always ? -1 : c.times)
      .Bind(7, c.after ? "after" : "before").Run();
  std::cout << db->LastId() << "\n";
}

void ShowAudit(StateDb* db, const Cli& c) {
  if (c.clear) {
    db->Exec("DELETE FROM audit");
    return;
  }
  nlohmann::json rows = AuditRows(db);
  if (c.json) {
    PrintJson(rows);
    return;
  }
  for (const auto& r : rows) {
    std::string line = r["tool"].get<std::string>();
    for (const auto& a : r["args"]) line += " " + a.get<std::string>();
    std::cout << r["id"] << " exit=" << r["exitCode"].dump() << " " << line << "\n";
  }
}

// The subcommands that change the world, in one transaction.
void RunChange(StateDb* db, const Cli& c) {
  Transaction tx(db);
  if (*c.array) {
    symsim::AddArray(db, c.serial, c.model, c.microcode, c.snapLimit);
  } else if (*c.device) {
    int64_t first = symsim::ParseDev(c.devText);
    if (first < 0) throw UserError("bad device number " + c.devText);
    symsim::AddDevices(db, c.serial, first, c.count, c.cylinders, !c.thick, c.mapped);
  } else if (*c.sg) {
    symsim::AddGroupDevices(db, c.serial, c.name, Devs(c.devText));
    if (!c.child.empty()) symsim::AddChildGroup(db, c.serial, c.name, c.child);
  } else if (*c.pg) {
    symsim::AddPortGroup(db, c.serial, c.name, c.ports);
  } else if (*c.ig) {
    symsim::AddInitiatorGroup(db, c.serial, c.name, c.wwns, c.iscsis);
  } else if (*c.view) {
    symsim::AddView(db, c.serial, c.name, c.igName, c.pgName, c.sgName);
  } else if (*c.host) {
    symsim::AddHost(db, c.name, c.esx, c.wwns, c.iscsis);
  } else if (*c.set) {
    CheckSetting(db, c.key, c.value);
    db->SetSetting(c.key, c.value);
  } else if (*c.inquiryMode) {
    SetInquiryMode(db, c);
  } else if (*c.lat) {
    if (c.latency < 0) throw UserError("latency takes a whole number of milliseconds, 0 or more");
    db->SetSetting(symsim::kSetLatencyMs, std::to_string(c.latency));
  } else if (*c.faultAdd) {
    AddFault(db, c);
  } else if (*c.faultList) {
    nlohmann::json all = symsim::DumpWorld(db);
    std::cout << all["faults"].dump(c.json ? 2 : -1) << "\n";
  } else if (*c.faultClear) {
    db->Exec("DELETE FROM faults");
  } else if (*c.audit) {
    ShowAudit(db, c);
  }
  tx.Commit();
}

int Run(Cli& c) {
  if (c.dir.empty()) {
    const char* home = std::getenv("SYMAPI_HOME_DIR");
    if (!home || !*home) throw UserError("no world: give --state DIR or set SYMAPI_HOME_DIR");
    c.dir = home;
  }
  if (*c.init) {
    symsim::InitWorld(c.dir, ToolPath(), c.seVersion);
    return 0;
  }
  if (*c.initDemo) {
    symsim::InitWorld(c.dir, ToolPath(), c.seVersion);
    auto db = OpenWorld(c.dir);
    nlohmann::json out = symsim::BuildDemo(c.dir, db.get(), c.demo);
    if (c.json) PrintJson(out);
    else std::cout << "Demo world in " << c.dir << ": array " << c.demo.serial << ", host "
                   << c.demo.host << "\n";
    return 0;
  }
  auto db = OpenWorld(c.dir);
  if (*c.show) {
    nlohmann::json all = symsim::DumpWorld(db.get());
    if (c.json) PrintJson(all);
    else PrintWorld(all);
    return 0;
  }
  if (*c.rescan || *c.devices || *c.inquiry) {
    RunHostView(c);
    return 0;
  }
  RunChange(db.get(), c);
  return 0;
}

}  // namespace

// Exit code of a command line symsim cannot take.
constexpr int kExitUsage = 2;

int main(int argc, char** argv) {
  CLI::App app{"symsim: the simulated VMAX/PowerMax world"};
  app.footer(kHelpFooter);
  app.require_subcommand(1);
  app.set_version_flag("--version", "symsim " PZ_VERSION);
  Cli c;
  AddWorldCommands(app, c);
  AddHostCommands(app, c);
  AddFaultAndAuditCommands(app, c);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version exit 0; a command line symsim cannot take, 2.
    return app.exit(e) == 0 ? 0 : kExitUsage;
  }
  try {
    return Run(c);
  } catch (const UserError& e) {
    std::fprintf(stderr, "symsim: %s\n", e.what());
  } catch (const symsim::DbError& e) {
    std::fprintf(stderr, "symsim: state error: %s\n", e.what());
  }
  return 1;
}
