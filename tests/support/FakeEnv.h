// Test environment: scripted processes, in-memory files, fixed clock,
// recorded sleeps and logs, settings from a map, fake SCSI devices and an
// in-memory host database. Install it with hostrt::ScopedEnv.
#pragma once

#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hostruntime/Env.h"
#include "hostruntime/EnvWrapper.h"
#include "hostruntime/HostDatabase.h"
#include "hostruntime/HostSystem.h"

namespace testing_host {

// Log lines as received, with the searches tests make in them.
struct LogBook {
  std::vector<hostrt::LogRecord> logs;
  bool hasLog(const std::string& text) const;  // exact text
  bool hasLogContaining(const std::string& part) const;
  std::string allLogs() const;
};

struct ScriptedRun {
  std::string output;
  std::string error;
  int exitCode = 0;
  bool started = true;  // false: the program cannot be started (-1)
  // Runs when the command is executed (e.g. to check the device file).
  std::function<void(const hostrt::ProcessSpec&)> effect;
};

struct RecordedRun {
  std::string commandLine;
  std::vector<std::string> argv;
  long long timeoutMs;
  // Device files named after "-file" with their content at run time.
  std::map<std::string, std::string> files;
};

struct FakeScsiDevice {
  bool scsi = true;               // false: not a SCSI device
  std::vector<uint8_t> standard;  // standard INQUIRY response
  std::vector<uint8_t> page83;    // Device Identification page
  bool failStandard = false;
  bool failPage = false;
  std::vector<std::vector<uint8_t>> cdbs;  // CDBs received
};

class InMemoryHostDatabase : public hostrt::HostDatabase {
 public:
  std::map<std::string, std::string> arrayRecords;
  std::map<int, hostrt::ArrayDetailsRow> arrayDetails;
  std::vector<hostrt::Reservation> reservations;
  bool fail = false;
  int reserveCalls = 0;
  // Refuse the next N reserve requests for these targets (then grant); an
  // entry refused so gets none of its alternatives either.
  std::map<std::string, int> refuseTargets;
  // Every reserve and release request as received, in order.
  std::vector<std::vector<hostrt::Reservation>> reserveRequests;
  std::vector<std::vector<hostrt::Reservation>> releaseRequests;

  bool GetArrayInfoRecord(const std::string& serial, std::string* record,
                          std::string* error) override;
  bool GetArrayDetails(int arrayNumber, hostrt::ArrayDetailsRow* row, std::string* error) override;
  bool QueryReservations(const std::string& array, std::vector<hostrt::Reservation>* out,
                         std::string* error) override;
  bool ReserveFirstFree(const std::vector<hostrt::Reservation>& request,
                        std::vector<std::string>* granted, std::string* error) override;
  bool Release(const std::vector<hostrt::Reservation>& request, std::string* error) override;
};

// Everything is faked; `realProcesses` and `realFiles` pass those calls to
// the machine's environment underneath.
class FakeEnv : public hostrt::EnvWrapper, public LogBook {
 public:
  FakeEnv() : hostrt::EnvWrapper(hostrt::DefaultEnv()) {}

  // Processes: scripts per exact command line, used in order; the last one
  // repeats. An unscripted command is recorded in `unexpected` and answered
  // as not startable, unless `realProcesses` runs it for real.
  void Expect(const std::string& commandLine, ScriptedRun run) {
    scripts[commandLine].push_back(std::move(run));
  }
  std::map<std::string, std::deque<ScriptedRun>> scripts;
  std::vector<RecordedRun> runs;
  std::vector<std::string> unexpected;
  bool realProcesses = false;
  // Consulted for a command without a script: true answers it with `run`
  // (e.g. to answer by program and verb instead of the exact line).
  std::function<bool(const hostrt::ProcessSpec&, ScriptedRun* run)> fallback;

  // Files written, read and removed live in memory unless `realFiles` passes
  // them to the machine (other file calls always reach the machine).
  std::map<std::string, std::string> files;
  std::map<std::string, int> fileModes;
  std::map<std::string, int> fileFlags;
  std::set<std::string> unwritablePaths;
  std::vector<std::string> removed;
  bool realFiles = false;

  // Clock: fixed, advanced by sleeps. LocalTime is UTC.
  int64_t nowMicros = 1612339509LL * 1000000;  // 2021-02-03 08:05:09 UTC
  std::vector<int64_t> sleeps;

  // Settings by (section, key).
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    settings[{section, key}] = value;
  }
  std::map<std::pair<std::string, std::string>, std::string> settings;
  std::string tempDir = "/fake/tmp";
  std::string logDir = "/fake/logs";
  std::string hostName = "testhost";
  unsigned int platformType = 0;
  std::string clientName;

  InMemoryHostDatabase database;
  // Processes and logs may come from several threads of one operation.
  std::recursive_mutex mu;
  hostrt::HostSystem* system = nullptr;

  std::map<std::string, FakeScsiDevice> scsi;

  // Env
  void RunProcess(const hostrt::ProcessSpec& spec, hostrt::ProcessOutcome* out) override;
  bool OpenWritable(const std::string& path, int flags, int mode,
                    std::unique_ptr<hostrt::WritableFile>* file, std::string* error) override;
  bool ReadFile(const std::string& path, std::string* content, std::string* error) override;
  bool RemoveFile(const std::string& path) override;
  int64_t NowMicros() override { return nowMicros; }
  void LocalTime(std::time_t when, std::tm* out) override { gmtime_r(&when, out); }
  void SleepMs(int64_t ms) override;
  bool GetSetting(const std::string& section, const std::string& key, std::string* value) override;
  std::string TempDirectory() override { return tempDir; }
  bool GetDirectory(const std::string& name, std::string* dir) override;
  std::string HostName() override { return hostName; }
  unsigned int PlatformType() override { return platformType; }
  bool ClientName(std::string* name) override;
  void Log(const hostrt::LogRecord& record) override;
  hostrt::HostDatabase* Database() override { return &database; }
  hostrt::HostSystem* System() override { return system; }
  bool OpenScsiDevice(const std::string& path, std::unique_ptr<hostrt::ScsiDevice>* device,
                      std::string* error) override;
  // No remote host: every remote request fails.
  bool RunRemote(const std::string&, const std::string&, std::string*,
                 std::string* error) override {
    if (error) *error = "no remote transport";
    return false;
  }
};

}  // namespace testing_host
