// The environment of a real Linux machine. A host home directory holds
// settings.ini, tmp/, logs/ and the host database.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "hostruntime/Env.h"
#include "hostruntime/HostSystem.h"
#include "hostruntime/Settings.h"

namespace hostrt {

constexpr const char* kSettingsFileName = "settings.ini";
constexpr const char* kRequestLogName = "request.log";
constexpr const char* kDebugLogName = "debug.log";
constexpr int kDefaultDebugLogLevel = 2;
constexpr int kDefaultRequestLogLevel = 0;
constexpr const char* kRemoteClientsSection = "RemoteClients";
constexpr long long kDefaultRemoteTimeLimitSecs = 3600;

class PosixEnv : public Env {
 public:
  // `home` empty: $PZHOST_HOME, else $HOME/.pzhost.
  explicit PosixEnv(std::string home = std::string());
  ~PosixEnv() override;

  const std::string& home() const { return home_; }
  // Re-reads settings.ini; false (and the previous settings kept) when it
  // cannot be read or parsed.
  bool ReloadSettings(std::string* error);
  // False (with the reason) when settings.ini could not be read or parsed
  // at the last load; the host then runs on the settings it had before.
  bool SettingsUsable(std::string* error);

  // Called before every tool starts and before every fixed wait, so that
  // the host makes the job's state durable before the array can change
  // again. When it fails (with the reason) the tool is not started.
  using Checkpoint = std::function<bool(std::string* error)>;
  void SetCheckpoint(Checkpoint checkpoint);

  // Called after every tool has ended (or failed to start), with its
  // command line (secrets masked), exit code and wall time; the debug log
  // gets the same line.
  struct CommandRecord {
    std::string commandLine;
    int exitCode = -1;
    bool started = false;
    bool killedAtLimit = false;
    int64_t durationMs = 0;
  };
  using CommandObserver = std::function<void(const CommandRecord& command)>;
  void SetCommandObserver(CommandObserver observer);
  // Called before every fixed wait that is really waited, with its length.
  using WaitObserver = std::function<void(int64_t ms)>;
  void SetWaitObserver(WaitObserver observer);
  // The job whose lines the request log carries (0: none).
  void SetJobId(long long jobId) { jobId_ = jobId; }

  void RunProcess(const ProcessSpec& spec, ProcessOutcome* out) override;
  bool OpenWritable(const std::string& path, int flags, int mode,
                    std::unique_ptr<WritableFile>* file,
                    std::string* error) override;
  bool ReadFile(const std::string& path, std::string* content,
                std::string* error) override;
  bool RemoveFile(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  bool CreateDir(const std::string& path, int mode,
                 std::string* error) override;
  bool ListDir(const std::string& path, std::vector<std::string>* names,
               std::string* error) override;
  int64_t NowMicros() override;
  void LocalTime(std::time_t when, std::tm* out) override;
  void SleepMs(int64_t ms) override;
  bool GetSetting(const std::string& section, const std::string& key,
                  std::string* value) override;
  std::string TempDirectory() override;
  bool GetDirectory(const std::string& name, std::string* dir) override;
  std::string HostName() override;
  unsigned int PlatformType() override;
  bool ClientName(std::string* name) override;
  void Log(const LogRecord& record) override;
  HostDatabase* Database() override;
  // The host database the settings name, opened at first use; null (with
  // the reason) when it cannot be opened.
  HostDatabase* OpenDatabase(std::string* error);
  HostSystem* System() override;
  bool OpenScsiDevice(const std::string& path,
                      std::unique_ptr<ScsiDevice>* device,
                      std::string* error) override;
  bool RunRemote(const std::string& client, const std::string& request,
                 std::string* response, std::string* error) override;

 private:
  bool LogLevelWanted(const LogRecord& record);
  bool RunCheckpoint(std::string* error);

  std::string home_;
  std::mutex checkpointMu_;
  Checkpoint checkpoint_;
  CommandObserver commandObserver_;
  WaitObserver waitObserver_;
  std::atomic<long long> jobId_{0};
  std::mutex mu_;
  IniFile settings_;
  bool settingsLoaded_ = false;
  std::string settingsError_;
  std::mutex dbMu_;
  std::unique_ptr<HostDatabase> database_;
  std::mutex systemMu_;
  std::unique_ptr<HostSystem> system_;
};

}  // namespace hostrt
