#include "tests/support/FakeEnv.h"

#include <algorithm>
#include <cstring>

#include "hostruntime/ProcessRunner.h"

namespace testing_host {

// ---- InMemoryHostDatabase

bool InMemoryHostDatabase::GetArrayInfoRecord(const std::string& serial,
                                              std::string* record,
                                              std::string* error) {
  auto it = arrayRecords.find(serial);
  if (fail || it == arrayRecords.end()) {
    if (error) *error = "array " + serial + " unknown";
    return false;
  }
  *record = it->second;
  return true;
}

bool InMemoryHostDatabase::GetArrayDetails(int arrayNumber,
                                           hostrt::ArrayDetailsRow* row,
                                           std::string* error) {
  auto it = arrayDetails.find(arrayNumber);
  if (fail || it == arrayDetails.end()) {
    if (error) *error = "array number unknown";
    return false;
  }
  *row = it->second;
  return true;
}

bool InMemoryHostDatabase::QueryReservations(
    const std::string& array, std::vector<hostrt::Reservation>* out,
    std::string* error) {
  ++queryCalls;
  if (fail) {
    if (error) *error = "database failure";
    return false;
  }
  out->clear();
  for (const auto& r : reservations)
    if (r.array == array) out->push_back(r);
  return true;
}

bool InMemoryHostDatabase::ReserveFirstFree(
    const std::vector<hostrt::Reservation>& request,
    std::vector<std::string>* granted, std::string* error) {
  ++reserveCalls;
  reserveRequests.push_back(request);
  if (fail) {
    if (error) *error = "database failure";
    return false;
  }
  granted->clear();
  std::set<std::string> given;
  for (const auto& want : request) {
    std::string got;
    auto refuse = refuseTargets.find(want.target);
    if (refuse != refuseTargets.end() && refuse->second > 0) {
      --refuse->second;
      granted->push_back(got);
      continue;
    }
    for (size_t k = 0; k <= want.alternatives.size() && got.empty(); ++k) {
      const std::string& c = k == 0 ? want.target : want.alternatives[k - 1];
      if (c.empty() || given.count(c)) continue;
      auto held = std::find_if(reservations.begin(), reservations.end(),
                               [&](const hostrt::Reservation& r) {
                                 return r.array == want.array && r.target == c;
                               });
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

bool InMemoryHostDatabase::Release(
    const std::vector<hostrt::Reservation>& request, std::string* error) {
  ++releaseCalls;
  releaseRequests.push_back(request);
  if (fail) {
    if (error) *error = "database failure";
    return false;
  }
  for (const auto& rel : request) {
    reservations.erase(
        std::remove_if(reservations.begin(), reservations.end(),
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

class MemoryFile : public hostrt::WritableFile {
 public:
  MemoryFile(std::string* sink) : sink_(sink) {}
  bool Append(const char* data, size_t size, std::string*) override {
    sink_->append(data, size);
    return true;
  }
  bool Close(std::string*) override { return true; }

 private:
  std::string* sink_;
};

class FakeScsi : public hostrt::ScsiDevice {
 public:
  explicit FakeScsi(FakeScsiDevice* dev) : dev_(dev) {}
  int SendCdb(const uint8_t* cdb, size_t cdbLength, uint8_t* buffer,
              size_t bufferSize, int, int, std::string* error) override {
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

 private:
  FakeScsiDevice* dev_;
};

}  // namespace

FakeEnv::FakeEnv() : hostrt::EnvWrapper(hostrt::DefaultEnv()) {}
FakeEnv::~FakeEnv() = default;

void FakeEnv::Expect(const std::string& commandLine, ScriptedRun run) {
  scripts[commandLine].push_back(std::move(run));
}

void FakeEnv::RunProcess(const hostrt::ProcessSpec& spec,
                         hostrt::ProcessOutcome* out) {
  std::lock_guard<std::recursive_mutex> lock(mu);
  RecordedRun rec;
  rec.commandLine = spec.commandLine;
  rec.argv = spec.argv;
  rec.input = spec.input ? *spec.input : std::string();
  rec.timeoutMs = spec.timeoutMs;
  for (size_t i = 0; i + 1 < spec.argv.size(); ++i) {
    if (spec.argv[i] == "-file") {
      std::string content;
      if (ReadFile(spec.argv[i + 1], &content, nullptr))
        rec.files[spec.argv[i + 1]] = content;
    }
  }
  runs.push_back(rec);
  *out = hostrt::ProcessOutcome();
  auto it = scripts.find(spec.commandLine);
  ScriptedRun answered;
  if ((it == scripts.end() || it->second.empty()) && fallback &&
      fallback(spec, &answered)) {
    if (answered.effect) answered.effect(spec);
    out->started = answered.started;
    out->exitCode = answered.started ? answered.exitCode : -1;
    out->output = answered.output;
    out->error = answered.error;
    if (!answered.started)
      out->startError = answered.error.empty() ? "cannot start" : answered.error;
    return;
  }
  if (it == scripts.end() || it->second.empty()) {
    if (realProcesses) {
      hostrt::RunChildProcess(spec, out);
      return;
    }
    unexpected.push_back(spec.commandLine);
    out->startError = "unscripted command";
    return;
  }
  ScriptedRun run = it->second.front();
  if (it->second.size() > 1) it->second.pop_front();
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
                           std::unique_ptr<hostrt::WritableFile>* file,
                           std::string* error) {
  if (realFiles) return EnvWrapper::OpenWritable(path, flags, mode, file, error);
  if (unwritablePaths.count(path)) {
    if (error) *error = "Permission denied";
    return false;
  }
  fileFlags[path] = flags;
  fileModes[path] = mode;
  std::string& content = files[path];
  if (flags & 01000 /* O_TRUNC */) content.clear();
  file->reset(new MemoryFile(&content));
  return true;
}

bool FakeEnv::ReadFile(const std::string& path, std::string* content,
                       std::string* error) {
  if (realFiles) return EnvWrapper::ReadFile(path, content, error);
  auto it = files.find(path);
  if (it == files.end()) {
    if (error) *error = "No such file or directory";
    return false;
  }
  *content = it->second;
  return true;
}

bool FakeEnv::RemoveFile(const std::string& path) {
  removed.push_back(path);
  if (realFiles) return EnvWrapper::RemoveFile(path);
  return files.erase(path) > 0;
}

bool FakeEnv::FileExists(const std::string& path) {
  if (realFiles) return EnvWrapper::FileExists(path);
  return files.count(path) > 0;
}

bool FakeEnv::CreateDir(const std::string& path, int mode, std::string* error) {
  if (realFiles) return EnvWrapper::CreateDir(path, mode, error);
  return true;
}

bool FakeEnv::ListDir(const std::string& path, std::vector<std::string>* names,
                      std::string* error) {
  if (realFiles) return EnvWrapper::ListDir(path, names, error);
  names->clear();
  std::string prefix = path + "/";
  for (const auto& f : files)
    if (f.first.compare(0, prefix.size(), prefix) == 0 &&
        f.first.find('/', prefix.size()) == std::string::npos)
      names->push_back(f.first.substr(prefix.size()));
  return true;
}

void FakeEnv::LocalTime(std::time_t when, std::tm* out) { gmtime_r(&when, out); }

void FakeEnv::SleepMs(int64_t ms) {
  sleeps.push_back(ms);
  nowMicros += ms * 1000;
}

void FakeEnv::Set(const std::string& section, const std::string& key,
                  const std::string& value) {
  settings[{section, key}] = value;
}

bool FakeEnv::GetSetting(const std::string& section, const std::string& key,
                         std::string* value) {
  auto it = settings.find({section, key});
  if (it == settings.end()) return false;
  if (value) *value = it->second;
  return true;
}

bool FakeEnv::GetDirectory(const std::string& name, std::string* dir) {
  if (name == "dEVLOGDIR" && !logDir.empty()) {
    *dir = logDir;
    return true;
  }
  return GetSetting("EventManager", name, dir);
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

bool FakeEnv::hasLogContaining(const std::string& part) const {
  for (const auto& l : logs)
    if (l.text.find(part) != std::string::npos) return true;
  return false;
}

std::string FakeEnv::allLogs() const {
  std::string s;
  for (const auto& l : logs)
    s += "[" + std::to_string(l.level) + "] " + l.function + ": " + l.text + "\n";
  return s;
}

bool FakeEnv::OpenScsiDevice(const std::string& path,
                             std::unique_ptr<hostrt::ScsiDevice>* device,
                             std::string* error) {
  auto it = scsi.find(path);
  if (it == scsi.end()) {
    if (error) *error = "No such device: " + path;
    return false;
  }
  if (it->second.scsi) device->reset(new FakeScsi(&it->second));
  else device->reset();
  return true;
}

bool FakeEnv::RunRemote(const std::string& client, const std::string& request,
                        std::string* response, std::string* error) {
  if (!remote) {
    if (error) *error = "no remote transport";
    return false;
  }
  return remote(client, request, response, error);
}

}  // namespace testing_host
