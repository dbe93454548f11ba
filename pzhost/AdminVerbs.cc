// init, array, config, devices, supported and exec-remote.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <iostream>
#include <iterator>

#include "hostruntime/DatabaseBackend.h"
#include "hostruntime/SecretCodec.h"
#include "hostruntime/SqliteHostDatabase.h"
#include "pzhost/Inquiry.h"
#include "pzhost/SettingRules.h"
#include "pzhost/Verbs.h"

namespace pzhost {

namespace {

constexpr short kErrorBufferSize = 1024;
// Snap type handed to pzso_isSupported (the plug-in does not read it).
constexpr int kSnapTypeHardware = 0;

bool IsDir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string TrimLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

}  // namespace

namespace {

// Puts the database choice of `o` into the settings; false (with the
// reason) when the options do not fit together.
bool ApplyDatabaseOptions(const InitOptions& o, hostrt::IniFile* ini,
                          std::string* error) {
  using namespace hostrt;
  if (o.dbConninfo.find_first_of("\r\n") != std::string::npos) {
    *error = "--db-conninfo is one line";
    return false;
  }
  if (!o.dbBackend.empty()) ini->Set(kDatabaseSection, kDatabaseBackendKey, o.dbBackend);
  std::string backend;
  ini->Get(kDatabaseSection, kDatabaseBackendKey, &backend);
  bool server = backend == kPostgresqlBackendName;
  if (!server && (!o.dbConninfo.empty() || !o.dbPassfile.empty())) {
    *error = "--db-conninfo and --db-passfile go with --db-backend postgresql";
    return false;
  }
  if (!server) {
    // The settings say only what is used.
    ini->Remove(kDatabaseSection, kDatabaseConninfoKey);
    ini->Remove(kDatabaseSection, kDatabasePassfileKey);
    return true;
  }
  if (!o.dbConninfo.empty()) ini->Set(kDatabaseSection, kDatabaseConninfoKey, o.dbConninfo);
  if (!o.dbPassfile.empty()) {
    // A path given at the shell is the shell's, not the home's.
    ini->Set(kDatabaseSection, kDatabasePassfileKey, AbsolutePath(o.dbPassfile));
  }
  std::string conninfo;
  if (!ini->Get(kDatabaseSection, kDatabaseConninfoKey, &conninfo) || conninfo.empty()) {
    *error = "--db-backend postgresql needs --db-conninfo";
    return false;
  }
  return true;
}

}  // namespace

// The settings are written only once the host database and the catalog have
// been opened (created or upgraded) with them: a refused init leaves the home
// as it was.
int RunInit(const GlobalOptions& global, Output* out, const InitOptions& o) {
  Home home;
  home.dir = ResolveHomeDir(global.home);
  std::string error;
  bool existed = IsInitialized(home);
  hostrt::IniFile ini;
  if (!LoadSettings(home, &ini, &error)) {
    out->Error(error);
    return kExitFailure;
  }
  ini.Set(kSectionEventManager, kKeySymapiHome, o.symcliHome);
  // A simulated host goes by its name in the simulated world: the plug-in
  // names the local host by the physical machine name.
  if (!o.simulatedHost.empty()) {
    ini.Set(kSectionHost, kKeySimulatedHost, o.simulatedHost);
    ini.Set(kSectionHost, kKeyPhysicalMachine, o.simulatedHost);
  }
  if (!o.clientName.empty()) ini.Set(kSectionHost, kKeyClientName, o.clientName);
  if (!ApplyDatabaseOptions(o, &ini, &error) || !CreateHomeDirs(home, &error)) {
    out->Error(error);
    return kExitFailure;
  }
  if (!IsDir(o.symcliHome))
    out->Line("note: " + o.symcliHome + " is not a directory (yet)");

  auto fromIni = [&ini](const std::string& section, const std::string& key,
                        std::string* value) { return ini.Get(section, key, value); };
  hostrt::DatabaseLocation where = hostrt::ConfiguredDatabaseLocation(fromIni, home.dir);
  std::unique_ptr<hostrt::HostDatabase> db = hostrt::OpenHostDatabase(where, &error);
  hostrt::HostDatabaseAdmin* admin = hostrt::AdminOf(db.get());
  int dbVersion = 0;
  if (!db || !admin || !admin->SchemaVersion(&dbVersion, &error)) {
    out->Error("cannot " + std::string(existed ? "upgrade" : "create") + " home " +
               home.dir + ": " + (db && !admin ? "no administration side" : error));
    return kExitFailure;
  }
  // The catalog is this host's own and always in the home's file.
  std::string catalogPath = DatabasePath(home, ini);
  std::unique_ptr<Catalog> catalog = Catalog::Open(catalogPath, &error);
  if (!catalog) {
    out->Error("cannot " + std::string(existed ? "upgrade" : "create") + " home " +
               home.dir + ": " + error);
    return kExitFailure;
  }
  if (!SaveSettings(home, ini, &error)) {
    out->Error(error);
    return kExitFailure;
  }
  bool server = where.backend == hostrt::DatabaseBackend::kPostgresql;
  out->Line(std::string(existed ? "upgraded" : "created") + " home " + home.dir +
            " (host database " + hostrt::DescribeDatabase(where) + ", version " +
            std::to_string(dbVersion) + ", catalog " +
            (server ? catalogPath + " " : std::string()) + "version " +
            std::to_string(catalog->schemaVersion()) + ")");
  out->doc()["home"] = home.dir;
  out->doc()["databaseBackend"] =
      server ? hostrt::kPostgresqlBackendName : hostrt::kSqliteBackendName;
  out->doc()["database"] = server ? where.conninfo : where.sqlitePath;
  out->doc()["databaseVersion"] = dbVersion;
  out->doc()["catalog"] = catalogPath;
  out->doc()["catalogVersion"] = catalog->schemaVersion();
  out->doc()["upgraded"] = existed;
  return kExitSuccess;
}

int RunArrayAdd(Session& s, const ArrayOptions& o) {
  Output& out = s.out();
  if (!IsArraySerial(o.serial)) {
    out.Error("--serial is the 12-digit array serial, not " + o.serial);
    return kExitFailure;
  }
  if (o.number <= 0) {
    out.Error("--num is a positive array number");
    return kExitFailure;
  }
  std::string password, error;
  if (o.passwordFile == "-") {
    password.assign(std::istreambuf_iterator<char>(std::cin),
                    std::istreambuf_iterator<char>());
  } else if (!o.passwordFile.empty()) {
    if (!ReadPrivateFile(o.passwordFile, &password, &error)) {
      out.Error(error);
      return kExitFailure;
    }
  }
  password = TrimLineEnd(password);
  hostrt::HostDatabaseAdmin* admin = s.admin();
  std::vector<hostrt::ArrayDetailsRow> rows;
  if (!admin || !admin->ListArrayDetails(&rows, &error)) {
    out.Error(admin ? error : "the host database is not available");
    return kExitFailure;
  }
  for (const hostrt::ArrayDetailsRow& r : rows) {
    if (r.arrayNumber == o.number && r.arrayName != o.serial) {
      out.Error("array number " + std::to_string(o.number) +
                " belongs to array " + r.arrayName);
      return kExitFailure;
    }
    if (r.arrayName == o.serial && r.arrayNumber != o.number) {
      out.Error("array " + o.serial + " has array number " +
                std::to_string(r.arrayNumber) + " already");
      return kExitFailure;
    }
  }
  // The record keeps the password encoded like the array details do.
  std::string record = hostrt::MakeArrayInfoRecord(
      o.engineId, o.host, o.user,
      password.empty() ? std::string() : hostrt::EncodeSecret(password));
  hostrt::ArrayDetailsRow row;
  row.arrayNumber = o.number;
  row.arrayName = o.serial;
  row.controlHost = o.host;
  row.userName = o.user;
  if (!admin->PutArrayInfoRecord(o.serial, record, &error) ||
      !admin->PutArrayDetails(row, password, &error)) {
    out.Error(error);
    return kExitFailure;
  }
  out.Line("array " + o.serial + " is array number " +
           std::to_string(o.number));
  out.doc()["serial"] = o.serial;
  out.doc()["number"] = o.number;
  return kExitSuccess;
}

int RunArrayList(Session& s) {
  std::vector<hostrt::ArrayDetailsRow> rows;
  std::string error;
  hostrt::HostDatabaseAdmin* admin = s.admin();
  if (!admin || !admin->ListArrayDetails(&rows, &error)) {
    s.out().Error(admin ? error : "the host database is not available");
    return kExitFailure;
  }
  nlohmann::json list = nlohmann::json::array();
  for (const hostrt::ArrayDetailsRow& r : rows) {
    // An array added without a password holds the encoding of an empty one.
    std::string plain;
    bool stored = hostrt::DecodeSecret(r.encodedPassword, &plain) && !plain.empty();
    s.out().Line(std::to_string(r.arrayNumber) + "  " + r.arrayName +
                 "  host " + (r.controlHost.empty() ? "-" : r.controlHost) +
                 "  user " + (r.userName.empty() ? "-" : r.userName) +
                 "  password " + (stored ? "stored" : "none"));
    list.push_back({{"number", r.arrayNumber},
                    {"serial", r.arrayName},
                    {"host", r.controlHost},
                    {"user", r.userName},
                    {"password", stored}});
  }
  if (rows.empty()) s.out().Line("no arrays");
  s.out().doc()["arrays"] = list;
  return kExitSuccess;
}

int RunArrayRemove(Session& s, const std::string& serial, int number) {
  hostrt::HostDatabaseAdmin* admin = s.admin();
  std::vector<hostrt::ArrayDetailsRow> rows;
  std::string error;
  if (!admin || !admin->ListArrayDetails(&rows, &error)) {
    s.out().Error(admin ? error : "the host database is not available");
    return kExitFailure;
  }
  std::string target = serial;
  if (target.empty()) {
    for (const hostrt::ArrayDetailsRow& r : rows)
      if (r.arrayNumber == number) target = r.arrayName;
    if (target.empty()) {
      s.out().Error("no array has array number " + std::to_string(number));
      return kExitFailure;
    }
  } else if (!IsArraySerial(target)) {
    s.out().Error("--serial is the 12-digit array serial, not " + target);
    return kExitFailure;
  }
  std::vector<hostrt::Reservation> holding;
  bool removed = false;
  if (!admin->RemoveArray(target, &holding, &removed, &error)) {
    s.out().Error(error);
    return kExitFailure;
  }
  if (!holding.empty()) {
    std::string list;
    nlohmann::json held = nlohmann::json::array();
    for (const hostrt::Reservation& r : holding) {
      list += (list.empty() ? "" : ", ") + r.target + " (source " + r.source +
              ", SMSnapId " + std::to_string(r.smSnapId) + ", job " +
              std::to_string(r.jobId) + ")";
      held.push_back({{"target", r.target},
                      {"source", r.source},
                      {"smSnapId", r.smSnapId},
                      {"jobId", r.jobId}});
    }
    s.out().doc()["reservations"] = held;
    s.out().Error("array " + target + " is not removed: targets of it are "
                  "reserved: " + list +
                  " (unmount their snapshots, or pzhost reservations "
                  "--reconcile frees those of ended jobs)");
    return kExitFailure;
  }
  if (!removed) {
    s.out().Error("no array " + target + " in the host database");
    return kExitFailure;
  }
  s.out().Line("array " + target + " removed");
  s.out().doc()["serial"] = target;
  s.out().doc()["removed"] = true;
  return kExitSuccess;
}

namespace {

bool ScopeGiven(Session& s, bool snap, const std::string& section) {
  if (snap || !section.empty()) return true;
  s.out().Error("say --snap (a snap config) or --setting SECTION");
  return false;
}

bool SaveAndReload(Session& s) {
  std::string error;
  if (!SaveSettings(s.home(), s.settings(), &error) ||
      !s.env().ReloadSettings(&error)) {
    s.out().Error(error);
    return false;
  }
  return true;
}

}  // namespace

int RunConfigSet(Session& s, bool snap, const std::string& section,
                 const std::string& key, const std::string& value, bool force) {
  if (!ScopeGiven(s, snap, section)) return kExitFailure;
  std::string error, why;
  // Nothing is stored unless it is read as meant: a misspelt key or a value
  // the reader would take as its default is refused before any write.
  SettingCheck check = snap ? CheckSnapConfig(key, value, &why)
                            : CheckSetting(section, key, value, &why);
  if (check == SettingCheck::kInvalid) {
    s.out().Error(why + "; nothing changed");
    return kExitFailure;
  }
  if (check == SettingCheck::kUnknown && !force) {
    s.out().Error(why + "; nothing changed (--force stores it anyway)");
    return kExitFailure;
  }
  if (check == SettingCheck::kUnknown)
    s.out().Line("note: " + why + "; stored as --force asks");
  if (snap) {
    if (!s.catalog().SetSnapConfig(key, value, &error)) {
      s.out().Error(error);
      return kExitFailure;
    }
  } else {
    s.settings().Set(section, key, value);
    if (!SaveAndReload(s)) return kExitFailure;
  }
  s.out().Line((snap ? "snap config " : "[" + section + "] ") + key + " = " +
               value);
  return kExitSuccess;
}

int RunConfigGet(Session& s, bool snap, const std::string& section,
                 const std::string& key) {
  if (!ScopeGiven(s, snap, section)) return kExitFailure;
  std::string value, error;
  bool found;
  if (snap) {
    std::map<std::string, std::string> all;
    if (!s.catalog().SnapConfigs(&all, &error)) {
      s.out().Error(error);
      return kExitFailure;
    }
    found = all.count(key) > 0;
    if (found) value = all[key];
  } else {
    found = s.settings().Get(section, key, &value);
  }
  if (!found) {
    s.out().Error(key + " is not set");
    return kExitFailure;
  }
  if (!s.out().json()) printf("%s\n", value.c_str());
  s.out().doc()[key] = value;
  return kExitSuccess;
}

int RunConfigUnset(Session& s, bool snap, const std::string& section,
                   const std::string& key) {
  if (!ScopeGiven(s, snap, section)) return kExitFailure;
  std::string error;
  bool removed = false;
  if (snap) {
    if (!s.catalog().RemoveSnapConfig(key, &removed, &error)) {
      s.out().Error(error);
      return kExitFailure;
    }
  } else {
    removed = s.settings().Remove(section, key);
    if (removed && !SaveAndReload(s)) return kExitFailure;
  }
  if (!removed) {
    s.out().Error(key + " is not set");
    return kExitFailure;
  }
  s.out().Line("removed " + key);
  return kExitSuccess;
}

int RunConfigList(Session& s, bool snap, const std::string& section) {
  nlohmann::json doc = nlohmann::json::object();
  if (snap || section.empty()) {
    std::map<std::string, std::string> all;
    std::string error;
    if (!s.catalog().SnapConfigs(&all, &error)) {
      s.out().Error(error);
      return kExitFailure;
    }
    s.out().Line("snap configs:");
    for (const auto& c : all) s.out().Line("  " + c.first + " = " + c.second);
    doc["snap"] = all;
  }
  if (!snap) {
    for (const auto& sec : s.settings().sections()) {
      if (!section.empty() && sec.first != section) continue;
      s.out().Line("[" + sec.first + "]");
      for (const auto& kv : sec.second)
        s.out().Line("  " + kv.first + " = " + kv.second);
      doc["settings"][sec.first] = sec.second;
    }
  }
  s.out().doc()["config"] = doc;
  return kExitSuccess;
}

int RunDevices(Session& s) {
  std::string error;
  if (!s.LoadPlugin(&error)) {
    s.out().Error(error);
    return kExitFailure;
  }
  hostrt::HostOSUtil util;
  std::vector<std::string> paths;
  if (util.getLocalDeviceList(nullptr, "", paths) != 0) {
    s.out().Error("cannot list the host's devices (see the debug log)");
    return kExitFailure;
  }
  nlohmann::json list = nlohmann::json::array();
  for (const std::string& path : paths) {
    char buffer[kErrorBufferSize] = {0};
    int context = 0;
    bool supported = s.plugin().exports().isSupported(
                         path.c_str(), kSnapTypeHardware, &context, buffer,
                         kErrorBufferSize) == 0;
    // ESX entries describe the device; its path is inside.
    std::string devicePath = EsxEntryPath(path);
    bool esx = !devicePath.empty();
    if (!esx) devicePath = path;
    InquiryFacts facts;
    std::string why;
    bool read = InquireDevice(devicePath, &facts, &why);
    s.out().Line(devicePath + "  " + (read ? DescribeInquiry(facts) : why) +
                 (supported ? "  (supported)" : "  (not supported)"));
    nlohmann::json j = {{"path", devicePath}, {"supported", supported}};
    if (esx) j["entry"] = path;
    if (read) {
      j["vendor"] = facts.vendor;
      j["product"] = facts.product;
      j["serial"] = facts.serial;
      j["device"] = DeviceNumber(facts.device);
    } else {
      j["error"] = why;
    }
    list.push_back(j);
  }
  if (paths.empty()) s.out().Line("no devices");
  s.out().doc()["devices"] = list;
  return kExitSuccess;
}

int RunSupported(Session& s, const std::string& device) {
  std::string error;
  if (!s.LoadPlugin(&error)) {
    s.out().Error(error);
    return kExitFailure;
  }
  char buffer[kErrorBufferSize] = {0};
  int context = 0;
  int rc = s.plugin().exports().isSupported(device.c_str(), kSnapTypeHardware,
                                            &context, buffer,
                                            kErrorBufferSize - 1);
  s.out().doc()["device"] = device;
  s.out().doc()["supported"] = rc == 0;
  if (rc == 0) {
    s.out().Line(device + " is supported");
    return kExitSuccess;
  }
  s.out().Error(device + " is not supported" +
                (buffer[0] ? std::string(": ") + buffer : std::string()));
  return kExitFailure;
}

int RunExecRemote(Session& s) {
  std::string text((std::istreambuf_iterator<char>(std::cin)),
                   std::istreambuf_iterator<char>());
  std::string error;
  nlohmann::json request = nlohmann::json::parse(text, nullptr, false);
  std::vector<std::unique_ptr<hostrt::HostSnapInfo>> owned;
  if (request.is_discarded()) {
    fprintf(stderr, "pzhost: exec-remote: the request is not JSON\n");
    return kExitFailure;
  }
  if (!hostrt::RequestsFromJson(request, &owned, &error)) {
    fprintf(stderr, "pzhost: exec-remote: %s\n", error.c_str());
    return kExitFailure;
  }
  if (owned.empty() || owned.size() > size_t(SHRT_MAX)) {
    fprintf(stderr, "pzhost: exec-remote: no requests\n");
    return kExitFailure;
  }
  if (!s.LoadPlugin(&error)) {
    fprintf(stderr, "pzhost: exec-remote: %s\n", error.c_str());
    return kExitFailure;
  }
  std::vector<hostrt::HostSnapInfo*> requests;
  std::vector<PZSO::SnapInfo*> raw;
  Output* out = &s.out();
  for (auto& r : owned) {
    r->onLog = [out](int level, const std::string& function,
                     const std::string& line) {
      out->PluginLog(level, function, line);
    };
    requests.push_back(r.get());
    raw.push_back(r.get());
  }
  int rc;
  {
    hostrt::HostOSUtil util(requests, long(owned[0]->jobId));
    rc = s.plugin().exports().execSnapEngineOp(raw.data(), short(raw.size()),
                                               &util);
  }
  fprintf(stdout, "%s\n", hostrt::ToJson(requests).dump().c_str());
  fflush(stdout);
  // The operation's own result travels in the requests; the transport only
  // fails when no answer could be given.
  (void)rc;
  return kExitSuccess;
}

}  // namespace pzhost
