#include "hostruntime/PosixEnv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <dirent.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "hostruntime/DatabaseBackend.h"
#include "hostruntime/LinuxHostSystem.h"
#include "hostruntime/LogMask.h"
#include "hostruntime/ProcessRunner.h"
#include "hostruntime/ScsiPassThrough.h"
#include "hostruntime/SqliteHostDatabase.h"

namespace hostrt {

namespace {

class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
  ~PosixWritableFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Append(const char* data, size_t size, std::string* error) override {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (error) *error = strerror(errno);
        return false;
      }
      data += n;
      size -= size_t(n);
    }
    return true;
  }
  bool Close(std::string* error) override {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && error) *error = strerror(errno);
    return rc == 0;
  }

 private:
  int fd_;
};

std::string DefaultHome() {
  const char* h = getenv("PZHOST_HOME");
  if (h && *h) return h;
  const char* user = getenv("HOME");
  return std::string(user && *user ? user : "/tmp") + "/.pzhost";
}

}  // namespace

PosixEnv::PosixEnv(std::string home)
    : home_(home.empty() ? DefaultHome() : std::move(home)) {}

PosixEnv::~PosixEnv() = default;

bool PosixEnv::ReloadSettings(std::string* error) {
  std::string text, problem;
  IniFile parsed;
  const std::string file = home_ + "/" + kSettingsFileName;
  if (FileExists(file)) {
    if (!ReadFile(file, &text, &problem)) {
      problem = "cannot read " + file + ": " + problem;
    } else if (!parsed.Parse(text, &problem)) {
      problem = file + ": " + problem;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    settingsLoaded_ = true;
    settingsError_ = problem;
    if (problem.empty()) settings_ = parsed;
  }
  if (problem.empty()) return true;
  // Logged after the settings are marked loaded: the log reads them too.
  LogRecord r;
  r.level = -1;
  r.function = "PosixEnv::ReloadSettings";
  r.text = "Settings are not usable, keeping the previous ones: " + problem;
  Log(r);
  if (error) *error = problem;
  return false;
}

bool PosixEnv::SettingsUsable(std::string* error) {
  bool loaded;
  {
    std::lock_guard<std::mutex> lock(mu_);
    loaded = settingsLoaded_;
  }
  if (!loaded) ReloadSettings(nullptr);
  std::lock_guard<std::mutex> lock(mu_);
  if (error) *error = settingsError_;
  return settingsError_.empty();
}

void PosixEnv::SetCheckpoint(Checkpoint checkpoint) {
  std::lock_guard<std::mutex> lock(checkpointMu_);
  checkpoint_ = std::move(checkpoint);
}

bool PosixEnv::RunCheckpoint(std::string* error) {
  Checkpoint checkpoint;
  {
    std::lock_guard<std::mutex> lock(checkpointMu_);
    checkpoint = checkpoint_;
  }
  return !checkpoint || checkpoint(error);
}

void PosixEnv::SetCommandObserver(CommandObserver observer) {
  std::lock_guard<std::mutex> lock(checkpointMu_);
  commandObserver_ = std::move(observer);
}

void PosixEnv::SetWaitObserver(WaitObserver observer) {
  std::lock_guard<std::mutex> lock(checkpointMu_);
  waitObserver_ = std::move(observer);
}

namespace {
// Command durations are progress of the job, in the debug log by default.
constexpr int kCommandLogLevel = 1;
constexpr int64_t kNanosPerMilli = 1000000;
constexpr int64_t kMillisPerSec = 1000;

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * kMillisPerSec + ts.tv_nsec / kNanosPerMilli;
}
}  // namespace

void PosixEnv::RunProcess(const ProcessSpec& spec, ProcessOutcome* out) {
  std::string why;
  if (!RunCheckpoint(&why)) {
    *out = ProcessOutcome();
    out->startError = "not started: the job's state could not be stored: " + why;
    return;
  }
  int64_t start = MonotonicMs();
  RunChildProcess(spec, out);
  CommandRecord command;
  command.commandLine = MaskSecrets(spec.commandLine);
  command.exitCode = out->exitCode;
  command.started = out->started;
  command.killedAtLimit = out->killedAtLimit;
  command.durationMs = MonotonicMs() - start;
  LogRecord record;
  record.level = kCommandLogLevel;
  record.function = "RunProcess";
  record.text = "Command [" + command.commandLine + "] exit code [" +
                std::to_string(command.exitCode) + "] took [" +
                std::to_string(command.durationMs) + "] ms" +
                (command.killedAtLimit ? " (killed at its time limit)" : "");
  Log(record);
  CommandObserver observer;
  {
    std::lock_guard<std::mutex> lock(checkpointMu_);
    observer = commandObserver_;
  }
  if (observer) observer(command);
}

bool PosixEnv::OpenWritable(const std::string& path, int flags, int mode,
                            std::unique_ptr<WritableFile>* file,
                            std::string* error) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) {
    if (error) *error = strerror(errno);
    return false;
  }
  file->reset(new PosixWritableFile(fd));
  return true;
}

bool PosixEnv::ReadFile(const std::string& path, std::string* content,
                        std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = strerror(errno);
    return false;
  }
  content->clear();
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    content->append(buf, size_t(n));
  }
  ::close(fd);
  return true;
}

bool PosixEnv::RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool PosixEnv::FileExists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

bool PosixEnv::CreateDir(const std::string& path, int mode,
                         std::string* error) {
  if (::mkdir(path.c_str(), mode_t(mode)) == 0 || errno == EEXIST) return true;
  if (error) *error = strerror(errno);
  return false;
}

bool PosixEnv::ListDir(const std::string& path,
                       std::vector<std::string>* names, std::string* error) {
  DIR* d = opendir(path.c_str());
  if (!d) {
    if (error) *error = strerror(errno);
    return false;
  }
  names->clear();
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names->push_back(e->d_name);
  }
  closedir(d);
  return true;
}

int64_t PosixEnv::NowMicros() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void PosixEnv::LocalTime(std::time_t when, std::tm* out) {
  localtime_r(&when, out);
}

namespace {
// Fixed waits are progress of the job, in the debug log by default.
constexpr int kWaitLogLevel = 1;
}  // namespace

void PosixEnv::SleepMs(int64_t ms) {
  // Whatever the wait is for, the state so far is kept before it; a failure
  // shows at the next tool, which is not started.
  RunCheckpoint(nullptr);
  // Tests and the demo scale the host's fixed waits down (0: no wait).
  std::string scale;
  double factor = 1.0;
  if (GetSetting("Host", "sleepScale", &scale)) factor = atof(scale.c_str());
  int64_t scaled = int64_t(double(ms) * factor);
  if (scaled <= 0) return;
  LogRecord record;
  record.level = kWaitLogLevel;
  record.function = "SleepMs";
  record.text = "Waiting [" + std::to_string(scaled) + "] ms";
  Log(record);
  WaitObserver observer;
  {
    std::lock_guard<std::mutex> lock(checkpointMu_);
    observer = waitObserver_;
  }
  if (observer) observer(scaled);
  // A job stopped by a signal does not sit out its waits.
  SleepCancellable(scaled);
}

bool PosixEnv::GetSetting(const std::string& section, const std::string& key,
                          std::string* value) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (settingsLoaded_) return settings_.Get(section, key, value);
  }
  ReloadSettings(nullptr);
  std::lock_guard<std::mutex> lock(mu_);
  return settings_.Get(section, key, value);
}

std::string PosixEnv::TempDirectory() {
  std::string dir = home_ + "/tmp";
  if (!CreateDir(home_, 0700, nullptr) || !CreateDir(dir, 0700, nullptr))
    return std::string();
  return dir;
}

bool PosixEnv::GetDirectory(const std::string& name, std::string* dir) {
  std::string value;
  if (GetSetting("EventManager", name, &value) && !value.empty()) {
    *dir = value;
    return true;
  }
  if (name == "dEVLOGDIR") {
    *dir = home_ + "/logs";
    CreateDir(home_, 0700, nullptr);
    return CreateDir(*dir, 0700, nullptr);
  }
  return false;
}

std::string PosixEnv::HostName() {
  std::string name;
  if (GetSetting("Host", "physicalMachine", &name) && !name.empty()) return name;
  char buf[256] = {0};
  if (gethostname(buf, sizeof buf - 1) != 0) return std::string();
  return buf;
}

unsigned int PosixEnv::PlatformType() {
  std::string value;
  if (GetSetting("Host", "platformType", &value)) return unsigned(atoi(value.c_str()));
  return 0;
}

bool PosixEnv::ClientName(std::string* name) {
  return GetSetting("Host", "clientName", name) && !name->empty();
}

namespace {

// One line per call: the text's own line breaks would split it.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

bool PosixEnv::LogLevelWanted(const LogRecord& record) {
  // The debug log counts detail upwards (-1 errors .. 4); the request log
  // counts importance upwards (0 detail, 1 progress, 2 failure).
  std::string text;
  if (record.kind == LogKind::kRequest) {
    int least = kDefaultRequestLogLevel;
    if (GetSetting("Host", "requestLogLevel", &text)) least = atoi(text.c_str());
    return record.level >= least;
  }
  int most = kDefaultDebugLogLevel;
  if (GetSetting("Host", "debugLogLevel", &text)) most = atoi(text.c_str());
  return record.level <= most;
}

void PosixEnv::Log(const LogRecord& record) {
  if (!LogLevelWanted(record)) return;
  std::string dir;
  if (!GetDirectory("dEVLOGDIR", &dir)) return;
  bool request = record.kind == LogKind::kRequest;
  std::string file = dir + "/" + (request ? kRequestLogName : kDebugLogName);
  int64_t micros = NowMicros();
  std::time_t now = std::time_t(micros / 1000000);
  std::tm tm;
  LocalTime(now, &tm);
  char stamp[48];
  size_t n = strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  snprintf(stamp + n, sizeof stamp - n, ".%03d", int(micros / 1000 % 1000));
  std::string line = std::string(stamp) + " " + std::to_string(getpid()) +
                     " [" + std::to_string(record.level) + "] ";
  if (request) {
    line += "<" + std::to_string(record.smSnapId) + "> ";
    if (long long job = jobId_.load()) line += "{job " + std::to_string(job) + "} ";
  }
  line += record.function + ": " + OneLine(MaskSecrets(record.text)) + "\n";
  // O_APPEND: lines of several processes never overwrite each other.
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ssize_t ignored = ::write(fd, line.data(), line.size());
  (void)ignored;
  ::close(fd);
}

// Opened at first use; a failure is logged and tried again at the next use.
HostDatabase* PosixEnv::Database() {
  std::string error;
  HostDatabase* db = OpenDatabase(&error);
  if (!db) {
    LogRecord r;
    r.level = -1;
    r.function = "PosixEnv::Database";
    r.text = "Host database is not available: " + error;
    Log(r);
  }
  return db;
}

HostDatabase* PosixEnv::OpenDatabase(std::string* error) {
  std::lock_guard<std::mutex> lock(dbMu_);
  if (database_) return database_.get();
  DatabaseLocation where = ConfiguredDatabaseLocation(this, home_);
  std::string path;
  if (where.backend == DatabaseBackend::kSqlite &&
      (!GetSetting(kDatabasePathSection, kDatabasePathKey, &path) || path.empty()))
    CreateDir(home_, 0700, nullptr);
  database_ = OpenHostDatabase(where, error);
  return database_.get();
}

// This Linux machine (below [Host] sysRoot, for a test's copy of sysfs).
HostSystem* PosixEnv::System() {
  std::lock_guard<std::mutex> lock(systemMu_);
  if (system_) return system_.get();
  std::string root;
  GetSetting("Host", "sysRoot", &root);
  system_.reset(new LinuxHostSystem(root, HostName()));
  return system_.get();
}

bool PosixEnv::OpenScsiDevice(const std::string& path,
                              std::unique_ptr<ScsiDevice>* device,
                              std::string* error) {
  return OpenScsiPath(path, nullptr, device, error);
}

// The transport of a client is a command line in section "RemoteClients":
// it gets the request on standard input and answers on standard output.
bool PosixEnv::RunRemote(const std::string& client, const std::string& request,
                         std::string* response, std::string* error) {
  std::string commandLine, text;
  if (client.empty() || !GetSetting(kRemoteClientsSection, client, &commandLine) ||
      commandLine.empty()) {
    if (error) *error = "no remote transport configured for " + client;
    return false;
  }
  ProcessSpec spec;
  spec.commandLine = commandLine;
  if (!SplitCommandLine(commandLine, &spec.argv, &text) || spec.argv.empty()) {
    if (error) *error = "transport of " + client + " is not a command line: " + text;
    return false;
  }
  spec.input = &request;
  spec.timeoutMs = kDefaultRemoteTimeLimitSecs * 1000;
  if (GetSetting("Host", "remoteTimeoutMs", &text) && atoll(text.c_str()) > 0)
    spec.timeoutMs = atoll(text.c_str());
  ProcessOutcome outcome;
  RunProcess(spec, &outcome);
  if (!outcome.started) {
    if (error) *error = "transport of " + client + " cannot start: " + outcome.startError;
    return false;
  }
  if (outcome.killedAtLimit) {
    if (error)
      *error = "transport of " + client + " did not answer within " +
               std::to_string(spec.timeoutMs) + " ms";
    return false;
  }
  if (outcome.exitCode != 0) {
    if (error)
      *error = "transport of " + client + " ended with " +
               std::to_string(outcome.exitCode) + ": " + outcome.error;
    return false;
  }
  if (response) *response = outcome.output;
  return true;
}

Env* DefaultEnv() {
  static PosixEnv* env = new PosixEnv();
  return env;
}

}  // namespace hostrt
