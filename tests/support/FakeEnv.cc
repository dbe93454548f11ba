#include "tests/support/FakeEnv.h"

#include <algorithm>
#include <cstring>

#include "hostruntime/ProcessRunner.h"

namespace testing_host {

// ---- InMemoryHostDatabase

namespace {
bool Refused(const std::string& why, std::string* error) {
  if (error) *error = why;
  return false;
}
}  // namespace

bool InMemoryHostDatabase::GetArrayInfoRecord(const std::string& serial, std::string* record,
                                              std::string* error) {
  auto it = arrayRecords.find(serial);
  if (fail || it == arrayRecords.end()) return Refused("array " + serial + " unknown", error);
  *record = it->second;
  return true;
}

bool InMemoryHostDatabase::GetArrayDetails(int arrayNumber, hostrt::ArrayDetailsRow* row,
                                           std::string* error) {
  auto it = arrayDetails.find(arrayNumber);
  if (fail || it == arrayDetails.end()) return Refused("array number unknown", error);
  *row = it->second;
  return true;
}

bool InMemoryHostDatabase::QueryReservations(const std::string& array,
                                             std::vector<hostrt::Reservation>* out,
                                             std::string* error) {
  if (fail) return Refused("database failure", error);
  out->clear();
  for (const auto& r : reservations)
    if (r.array == array) out->push_back(r);
  return true;
}

bool InMemoryHostDatabase::ReserveFirstFree(const std::vector<hostrt::Reservation>& request,
                                            std::vector<std::string>* granted,
                                            std::string* error) {
  ++reserveCalls;
  reserveRequests.push_back(request);
  if (fail) return Refused("database failure", error);
  granted->clear();
  std::set<std::string> given;
  for (const auto& want : request) {
    std::string got;
    int& refusals = refuseTargets[want.target];
    bool refused = refusals > 0;
    if (refused) --refusals;
    for (size_t k = 0; !refused && k <= want.alternatives.size() && got.empty(); ++k) {
      const std::string& c = k == 0 ? want.target : want.alternatives[k - 1];
      if (c.empty() || given.count(c)) continue;
      auto held = std::find_if(
          reservations.begin(), reservations.end(),
          [&](const hostrt::Reservation& r) { return r.array == want.array && r.target == c; });
      if (held == reservations.end()) {
        reservations.push_back(want);
        reservations.back().target = c;
        reservations.back().alternatives.clear();
        got = c;
      } else if (k == 0 && held->smSnapId == want.smSnapId) {
        got = c;
      }
    }
    if (!got.empty()) given.insert(got);
    granted->push_back(got);
  }
  return true;
}

bool InMemoryHostDatabase::Release(const std::vector<hostrt::Reservation>& request,
                                   std::string* error) {
  releaseRequests.push_back(request);
  if (fail) return Refused("database failure", error);
  for (const auto& rel : request) {
    reservations.erase(std::remove_if(reservations.begin(), reservations.end(),
                                      [&](const hostrt::Reservation& r) {
                                        return r.array == rel.array && r.target == rel.target &&
                                               r.smSnapId == rel.smSnapId;
                                      }),
                       reservations.end());
  }
  return true;
}

// ---- FakeEnv

namespace {

struct MemoryFile : hostrt::WritableFile {
  explicit MemoryFile(std::string* sink) : sink_(sink) {}
  bool Append(const char* data, size_t size, std::string*) override {
    sink_->append(data, size);
    return true;
  }
  bool Close(std::string*) override { return true; }
  std::string* sink_;
};

struct FakeScsi : hostrt::ScsiDevice {
  explicit FakeScsi(FakeScsiDevice* dev) : dev_(dev) {}
  int SendCdb(const uint8_t* cdb, size_t cdbLength, uint8_t* buffer, size_t bufferSize, int, int,
              std::string* error) override {
    dev_->cdbs.emplace_back(cdb, cdb + cdbLength);
    bool evpd = cdbLength > 1 && (cdb[1] & 1);
    if ((evpd && dev_->failPage) || (!evpd && dev_->failStandard)) {
      if (error) *error = "simulated SCSI failure";
      return -1;
    }
    const std::vector<uint8_t>& data = evpd ? dev_->page83 : dev_->standard;
    size_t alloc = cdbLength > 4 ? cdb[4] : 0;
    size_t n = std::min({data.size(), bufferSize, alloc});
    if (n) memcpy(buffer, data.data(), n);  // an empty answer has no data()
    return int(n);
  }
  FakeScsiDevice* dev_;
};

}  // namespace

void FakeEnv::RunProcess(const hostrt::ProcessSpec& spec, hostrt::ProcessOutcome* out) {
  std::lock_guard<std::recursive_mutex> lock(mu);
  runs.push_back({spec.commandLine, spec.argv, spec.timeoutMs, {}});
  for (size_t i = 0; i + 1 < spec.argv.size(); ++i) {
    std::string content;
    if (spec.argv[i] == "-file" && ReadFile(spec.argv[i + 1], &content, nullptr))
      runs.back().files[spec.argv[i + 1]] = content;
  }
  *out = hostrt::ProcessOutcome();
  auto it = scripts.find(spec.commandLine);
  ScriptedRun run;
  if (it != scripts.end() && !it->second.empty()) {
    run = it->second.front();
    if (it->second.size() > 1) it->second.pop_front();
  } else if (!fallback || !fallback(spec, &run)) {
    if (realProcesses) return hostrt::RunChildProcess(spec, out);
    unexpected.push_back(spec.commandLine);
    out->startError = "unscripted command";
    return;
  }
  if (run.effect) run.effect(spec);
  out->started = run.started;
  if (!run.started) {
    out->startError = run.error.empty() ? "cannot start" : run.error;
    return;
  }
  out->exitCode = run.exitCode;
  out->output = run.output;
  out->error = run.error;
}

bool FakeEnv::OpenWritable(const std::string& path, int flags, int mode,
                           std::unique_ptr<hostrt::WritableFile>* file, std::string* error) {
  if (realFiles) return EnvWrapper::OpenWritable(path, flags, mode, file, error);
  if (unwritablePaths.count(path)) return Refused("Permission denied", error);
  fileFlags[path] = flags;
  fileModes[path] = mode;
  std::string& content = files[path];
  if (flags & 01000 /* O_TRUNC */) content.clear();
  file->reset(new MemoryFile(&content));
  return true;
}

bool FakeEnv::ReadFile(const std::string& path, std::string* content, std::string* error) {
  if (realFiles) return EnvWrapper::ReadFile(path, content, error);
  auto it = files.find(path);
  if (it == files.end()) return Refused("No such file or directory", error);
  *content = it->second;
  return true;
}

bool FakeEnv::RemoveFile(const std::string& path) {
  removed.push_back(path);
  if (realFiles) return EnvWrapper::RemoveFile(path);
  return files.erase(path) > 0;
}

void FakeEnv::SleepMs(int64_t ms) {
  sleeps.push_back(ms);
  nowMicros += ms * 1000;
}

bool FakeEnv::GetSetting(const std::string& section, const std::string& key, std::string* value) {
  auto it = settings.find({section, key});
  if (it != settings.end() && value) *value = it->second;
  return it != settings.end();
}

bool FakeEnv::GetDirectory(const std::string& name, std::string* dir) {
  if (name != "dEVLOGDIR" || logDir.empty()) return GetSetting("EventManager", name, dir);
  *dir = logDir;
  return true;
}

bool FakeEnv::ClientName(std::string* name) {
  if (clientName.empty()) return false;
  *name = clientName;
  return true;
}

void FakeEnv::Log(const hostrt::LogRecord& record) {
  std::lock_guard<std::recursive_mutex> lock(mu);
  logs.push_back(record);
}

bool LogBook::hasLog(const std::string& text) const {
  return std::any_of(logs.begin(), logs.end(), [&](const auto& l) { return l.text == text; });
}

bool LogBook::hasLogContaining(const std::string& part) const {
  return std::any_of(logs.begin(), logs.end(),
                     [&](const auto& l) { return l.text.find(part) != std::string::npos; });
}

std::string LogBook::allLogs() const {
  std::string s;
  for (const auto& l : logs)
    s += "[" + std::to_string(l.level) + "] " + l.function + ": " + l.text + "\n";
  return s;
}

bool FakeEnv::OpenScsiDevice(const std::string& path, std::unique_ptr<hostrt::ScsiDevice>* device,
                             std::string* error) {
  auto it = scsi.find(path);
  if (it == scsi.end()) return Refused("No such device: " + path, error);
  device->reset(it->second.scsi ? new FakeScsi(&it->second) : nullptr);
  return true;
}

}  // namespace testing_host
