// The host environment: the one seam between the host runtime and the
// operating system. Every host class forwards here, so a test replaces the
// whole outside world (processes, files, clock, settings, database, SCSI,
// remote hosts) by installing another Env with SetCurrentEnv.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace hostrt {

class HostDatabase;
class HostSystem;

struct ProcessSpec {
  std::string commandLine;        // as the caller wrote it, for logs and fakes
  std::vector<std::string> argv;  // split by SplitCommandLine; argv[0] program
  const std::string* input = nullptr;  // standard input, null: none
  long long timeoutMs = 0;             // <= 0: no limit
};

struct ProcessOutcome {
  bool started = false;      // false: could not be started (exit code -1)
  int exitCode = -1;         // 128 + signal when killed
  bool killedAtLimit = false;
  bool cancelled = false;    // stopped (or never started) by a signal
  std::string output;
  std::string error;
  std::string startError;    // why it could not be started
};

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual bool Append(const char* data, size_t size, std::string* error) = 0;
  virtual bool Close(std::string* error) = 0;
};

class ScsiDevice {
 public:
  virtual ~ScsiDevice() = default;
  // Returns bytes transferred, or -1 with `error` set.
  virtual int SendCdb(const uint8_t* cdb, size_t cdbLength, uint8_t* buffer,
                      size_t bufferSize, int direction, int timeoutSecs,
                      std::string* error) = 0;
};

enum class LogKind { kDebug, kRequest };

struct LogRecord {
  LogKind kind = LogKind::kDebug;
  int level = 0;
  std::string function;
  std::string text;
  int smSnapId = 0;  // request log only
};

class Env {
 public:
  virtual ~Env();

  // Processes.
  virtual void RunProcess(const ProcessSpec& spec, ProcessOutcome* out) = 0;

  // Files. Flags and mode are POSIX open(2) values.
  virtual bool OpenWritable(const std::string& path, int flags, int mode,
                            std::unique_ptr<WritableFile>* file,
                            std::string* error) = 0;
  virtual bool ReadFile(const std::string& path, std::string* content,
                        std::string* error) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool CreateDir(const std::string& path, int mode,
                         std::string* error) = 0;
  virtual bool ListDir(const std::string& path,
                       std::vector<std::string>* names,
                       std::string* error) = 0;

  // Clock and sleep.
  virtual int64_t NowMicros() = 0;
  virtual void LocalTime(std::time_t when, std::tm* out) = 0;
  virtual void SleepMs(int64_t ms) = 0;

  // Settings ("section", "key"); false when absent.
  virtual bool GetSetting(const std::string& section, const std::string& key,
                          std::string* value) = 0;
  virtual std::string TempDirectory() = 0;
  virtual bool GetDirectory(const std::string& name, std::string* dir) = 0;
  virtual std::string HostName() = 0;
  virtual unsigned int PlatformType() = 0;
  virtual bool ClientName(std::string* name) = 0;

  // Logs (debug log and request log).
  virtual void Log(const LogRecord& record) = 0;

  // Host database; null when the host has none.
  virtual HostDatabase* Database() = 0;

  // Host initiators, devices and rescans.
  virtual HostSystem* System() = 0;

  // SCSI pass-through.
  virtual bool OpenScsiDevice(const std::string& path,
                              std::unique_ptr<ScsiDevice>* device,
                              std::string* error) = 0;

  // Sends `request` to the remote client and returns its answer.
  virtual bool RunRemote(const std::string& client, const std::string& request,
                         std::string* response, std::string* error) = 0;
};

// The process-wide current environment (never null).
Env* CurrentEnv();
// Installs `env` (null: back to the default) and returns the previous one.
Env* SetCurrentEnv(Env* env);
// The environment of the real machine.
Env* DefaultEnv();

// Installs an Env for the lifetime of a scope.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env* env) : previous_(SetCurrentEnv(env)) {}
  ~ScopedEnv() { SetCurrentEnv(previous_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* previous_;
};

}  // namespace hostrt
