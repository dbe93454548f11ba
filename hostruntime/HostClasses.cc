// The host framework's by-name classes, forwarding to the current Env.
#include <fcntl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/HostServices.h"
#include "host/PZMMSnapAPI.h"
#include "host/PzClock.h"
#include "host/PzDeviceTree.h"
#include "hostruntime/Env.h"
#include "hostruntime/HostDatabase.h"
#include "hostruntime/ProcessRunner.h"
#include "hostruntime/LogMask.h"
#include "hostruntime/Settings.h"

using hostrt::CurrentEnv;

namespace {
constexpr long long kLimitMsPerSecond = 1000;

void DebugLog(int level, const char* function, std::string text) {
  hostrt::LogRecord r;
  r.kind = hostrt::LogKind::kDebug;
  r.level = level;
  r.function = function ? function : "";
  r.text = std::move(text);
  CurrentEnv()->Log(r);
}

}  // namespace

// ---- PzProcess

PzProcess::PzProcess() = default;
PzProcess::~PzProcess() = default;

int PzProcess::system(const std::string& commandLine, std::string* output,
                      std::string* error, int /*flags*/, bool /*background*/) {
  return run(commandLine, nullptr, output, error, 0);
}

int PzProcess::run(const std::string& commandLine, const std::string* input,
                   std::string* output, std::string* error,
                   long long timeoutMs) {
  killed_ = false;
  hostrt::ProcessSpec spec;
  spec.commandLine = commandLine;
  spec.input = input;
  spec.timeoutMs = timeoutMs > 0 ? timeoutMs : hostrt::CommandTimeLimitMs();
  std::string splitError;
  if (!hostrt::SplitCommandLine(commandLine, &spec.argv, &splitError) ||
      spec.argv.empty()) {
    if (error) *error = splitError.empty() ? "empty command line" : splitError;
    return -1;
  }
  hostrt::ProcessOutcome outcome;
  CurrentEnv()->RunProcess(spec, &outcome);
  if (output) *output = outcome.output;
  // A tool whose exit status could not be collected has not succeeded.
  bool ran = outcome.started && outcome.exitCode >= 0;
  if (error) *error = ran ? outcome.error : outcome.startError;
  if (!ran) return -1;
  if (outcome.cancelled && error)
    *error += "(stopped: the job was cancelled by a signal)";
  killed_ = outcome.killedAtLimit;
  if (killed_ && error) {
    // What the caller shows as the tool's error says why it ended.
    std::string limit =
        spec.timeoutMs % kLimitMsPerSecond == 0
            ? std::to_string(spec.timeoutMs / kLimitMsPerSecond) + " s"
            : std::to_string(spec.timeoutMs) + " ms";
    std::string why = "timed out after " + limit + ": " + hostrt::MaskSecrets(commandLine);
    *error = error->empty() ? why : why + "; " + *error;
  }
  if (killed_) {
    DebugLog(-1, "PzProcess::system",
             FXString::Format("Command [%s] was killed at its time limit of "
                              "[%lld] ms",
                              commandLine.c_str(), spec.timeoutMs));
  }
  return outcome.exitCode;
}

// ---- EvDebug

EvDebug::EvDebug(const char* module) : module_(module ? module : "") {}

void EvDebug::DebugLvl(int level, const char* function, const char* format,
                       ...) {
  va_list args;
  va_start(args, format);
  DebugLog(level, function, FXString::FormatV(format, args));
  va_end(args);
}

void EvDebug::Debug(const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DebugLog(2, function, FXString::FormatV(format, args));
  va_end(args);
}

void EvDebug::Error(const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DebugLog(-1, function, FXString::FormatV(format, args));
  va_end(args);
}

void EvDebug::EvEvent(int severity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DebugLog(severity >= 2 ? -1 : 1, "EvEvent", FXString::FormatV(format, args));
  va_end(args);
}

// ---- PZPlatformInfo

bool PZPlatformInfo::getRegInt(const char* section, const char* name,
                               int* value) {
  std::string text;
  if (!section || !name || !value ||
      !CurrentEnv()->GetSetting(section, name, &text))
    return false;
  char* end = nullptr;
  errno = 0;
  long v = strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
    return false;
  *value = int(v);
  return true;
}

bool PZPlatformInfo::getString(const char* section, const char* name,
                               std::string* value) {
  if (!section || !name || !value) return false;
  return CurrentEnv()->GetSetting(section, name, value);
}

std::string PZPlatformInfo::getSectionName(const char* base,
                                           const char* instance) {
  std::string s = "~";
  s += base ? base : "";
  if (instance && *instance) {
    s += "/";
    s += instance;
  }
  return s;
}

bool PZPlatformInfo::getDirectory(const char* name, std::string* directory) {
  if (!name || !directory) return false;
  return CurrentEnv()->GetDirectory(name, directory);
}

unsigned int PZPlatformInfo::getPZPlatformType() {
  return CurrentEnv()->PlatformType();
}

bool PZPlatformInfo::getCSClientName(char* buffer, int size) {
  std::string name;
  if (!buffer || size <= 0 || !CurrentEnv()->ClientName(&name)) return false;
  snprintf(buffer, size_t(size), "%s", name.c_str());
  return true;
}

std::string PZPlatformInfo::getPhysicalMachine() {
  return CurrentEnv()->HostName();
}

std::string PZPI_Base::getNebulonTempDirectory() {
  return CurrentEnv()->TempDirectory();
}

// ---- CWvFile

struct CWvFile::Impl {
  std::unique_ptr<hostrt::WritableFile> file;
};

CWvFile::CWvFile() : impl_(new Impl) {}
CWvFile::~CWvFile() {
  if (impl_->file) impl_->file->Close(nullptr);
}

bool CWvFile::open(const std::string& path, int flags, int mode,
                   CWvError* error) {
  std::string text;
  if (CurrentEnv()->OpenWritable(path, flags, mode, &impl_->file, &text))
    return true;
  if (error) error->set(1, text);
  return false;
}

bool CWvFile::write(const void* data, size_t size, CWvError* error) {
  std::string text = "file is not open";
  if (impl_->file &&
      impl_->file->Append(static_cast<const char*>(data), size, &text))
    return true;
  if (error) error->set(1, text);
  return false;
}

bool CWvFile::close(CWvError* error) {
  if (!impl_->file) return true;
  std::string text;
  bool ok = impl_->file->Close(&text);
  impl_->file.reset();
  if (!ok && error) error->set(1, text);
  return ok;
}

bool CWvFile::remove(const std::string& path) {
  return CurrentEnv()->RemoveFile(path);
}

// ---- CWvString

bool CWvString::Tokenize(const std::string& text, char openQuote,
                         char closeQuote, char escape, char separator,
                         std::vector<std::string>& tokens) {
  tokens.clear();
  std::string token;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == escape && i + 1 < text.size()) {
      token += text[++i];
    } else if (quoted) {
      if (c == closeQuote) quoted = false;
      else token += c;
    } else if (c == openQuote) {
      quoted = true;
    } else if (c == separator) {
      tokens.push_back(token);
      token.clear();
    } else {
      token += c;
    }
  }
  if (quoted) {
    tokens.clear();
    return false;
  }
  tokens.push_back(token);
  return true;
}

std::string CWvString::Format(const std::string& pattern,
                              std::initializer_list<std::string> args) {
  std::vector<std::string> values(args);
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{') {
      size_t close = pattern.find('}', i);
      if (close != std::string::npos && close > i + 1) {
        std::string digits = pattern.substr(i + 1, close - i - 1);
        if (digits.find_first_not_of("0123456789") == std::string::npos) {
          size_t index = std::stoul(digits);
          if (index >= 1 && index <= values.size()) out += values[index - 1];
          i = close;
          continue;
        }
      }
    }
    out += pattern[i];
  }
  return out;
}

// ---- FXString

std::string FXString::FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (size_t(n) < sizeof small) return std::string(small, size_t(n));
  std::string big(size_t(n) + 1, '\0');
  vsnprintf(&big[0], big.size(), format, args);
  big.resize(size_t(n));
  return big;
}

std::string FXString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = FXString::FormatV(format, args);
  va_end(args);
  return s;
}

void FXString::Split(const std::string& text, const std::string& separator,
                     int flags, std::vector<std::string>& pieces) {
  pieces.clear();
  if (separator.empty()) {
    if (!text.empty() || !(flags & FXSPLIT_SKIP_EMPTY)) pieces.push_back(text);
    return;
  }
  size_t start = 0;
  while (true) {
    size_t at = text.find(separator, start);
    std::string piece = text.substr(start, at == std::string::npos
                                               ? std::string::npos
                                               : at - start);
    if (!piece.empty() || !(flags & FXSPLIT_SKIP_EMPTY)) pieces.push_back(piece);
    if (at == std::string::npos) break;
    start = at + separator.size();
  }
}

std::string FXString::Trim(const std::string& text, const std::string& set) {
  size_t b = text.find_first_not_of(set);
  if (b == std::string::npos) return std::string();
  size_t e = text.find_last_not_of(set);
  return text.substr(b, e - b + 1);
}

// ---- Global log writer: level from the settings, lines to the debug log.

namespace {
class EnvLogWriter : public CLogWriterInterface {
 public:
  int getLevel() const override {
    int level = 2;
    PZPlatformInfo::getRegInt("~Fieldunit", "nHostLogWriterLevel", &level);
    return level;
  }
  void write(int level, const char* function, int line, const char* format,
             ...) override {
    va_list args;
    va_start(args, format);
    std::string text = FXString::FormatV(format, args);
    va_end(args);
    DebugLog(level, function,
             FXString::Format("(line %d) %s", line, text.c_str()));
  }
};
}  // namespace

std::shared_ptr<CLogWriterInterface> g_ptrLogWriter =
    std::make_shared<EnvLogWriter>();

// ---- VPLEX backend metadata: "<array serial>:<device WWN>"

bool ParseVPLEXBackendMetadata(const std::string& value, std::string& serial,
                               std::string& wwn) {
  size_t colon = value.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= value.size())
    return false;
  serial = value.substr(0, colon);
  wwn = value.substr(colon + 1);
  return true;
}

// ---- PZMMSnapAPI over the host database

namespace {

void SplitAlternatives(const std::string& text, std::vector<std::string>* out) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(SM_ACTIVE_SNAP_ALTERNATIVE_SEPARATOR, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) out->push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

PZMMSnapAPI::PZMMSnapAPI(int client) : client_(client) {}

bool PZMMSnapAPI::activeSnapOperation(long long jobId,
                                      SMActiveSnapReqOpType op,
                                      SMActiveSnapInfoMsg& msg) {
  (void)client_;
  hostrt::HostDatabase* db = CurrentEnv()->Database();
  msg.setErrCode(0);
  msg.setErrString("");
  if (!db) {
    msg.setErrCode(1);
    msg.setErrString("host database is not available");
    return false;
  }
  std::vector<hostrt::Reservation> request;
  for (const SMActiveSnapInfo& e : msg.getActiveSnapInfoList()) {
    hostrt::Reservation r;
    r.smSnapId = e.SMSnapId;
    r.array = e.ArrayName;
    r.source = e.SourceDevice;
    r.target = e.TargetDevice;
    r.jobId = jobId;
    if (op == ActiveSnapReserve) SplitAlternatives(e.Extra1, &r.alternatives);
    request.push_back(r);
  }
  std::string error;
  SMActiveSnapInfoMsg::List response;
  switch (op) {
    case ActiveSnapQuery: {
      std::vector<hostrt::Reservation> found;
      std::string array = request.empty() ? std::string() : request[0].array;
      if (!db->QueryReservations(array, &found, &error)) break;
      for (const hostrt::Reservation& r : found) {
        SMActiveSnapInfo e;
        e.SMSnapId = r.smSnapId;
        e.ArrayName = r.array;
        e.SourceDevice = r.source;
        e.TargetDevice = r.target;
        response.push_back(e);
      }
      msg.setActiveSnapInfoList(response);
      return true;
    }
    case ActiveSnapReserve: {
      std::vector<std::string> granted;
      if (!db->ReserveFirstFree(request, &granted, &error)) break;
      response = msg.getActiveSnapInfoList();
      for (size_t i = 0; i < response.size() && i < granted.size(); ++i) {
        response[i].Status = granted[i].empty() ? 0 : SM_ACTIVE_SNAP_GRANTED;
        if (!granted[i].empty()) response[i].TargetDevice = granted[i];
      }
      msg.setActiveSnapInfoList(response);
      return true;
    }
    case ActiveSnapRelease:
      if (!db->Release(request, &error)) break;
      return true;
    default:
      error = "unknown active-snap operation";
  }
  msg.setErrCode(1);
  msg.setErrString(error);
  return false;
}

// ---- PzDeviceTree over the environment's SCSI pass-through

namespace {

class EnvScsiIface : public PzDeviceScsiIface {
 public:
  explicit EnvScsiIface(std::unique_ptr<hostrt::ScsiDevice> dev)
      : dev_(std::move(dev)) {}
  int sendCDB(const unsigned char* cdb, int cdbLength, unsigned char* buffer,
              int bufferSize, int /*flags*/, int direction, int /*lun*/,
              int /*reserved*/, int timeoutSecs, CWvError* error) override {
    if (!cdb || cdbLength <= 0 || !buffer || bufferSize < 0) {
      if (error) error->set(1, "invalid CDB arguments");
      return -1;
    }
    std::string text;
    int n = dev_->SendCdb(cdb, size_t(cdbLength), buffer, size_t(bufferSize),
                          direction, timeoutSecs, &text);
    if (n < 0 && error) error->set(1, text);
    return n;
  }

 private:
  std::unique_ptr<hostrt::ScsiDevice> dev_;
};

class EnvDevice : public PzDevice {
 public:
  EnvDevice(std::string path, std::unique_ptr<hostrt::ScsiDevice> dev)
      : path_(std::move(path)), scsi_(dev ? new EnvScsiIface(std::move(dev)) : nullptr) {}
  PzDeviceScsiIface* getInterface(const char* name) override {
    if (name && strcmp(name, "PzDeviceScsiIface") == 0) return scsi_.get();
    return nullptr;
  }
  const std::string& path() const override { return path_; }

 private:
  std::string path_;
  std::unique_ptr<EnvScsiIface> scsi_;
};

}  // namespace

std::shared_ptr<PzDevice> PzDeviceTree::getDevice(const std::string& path,
                                                  CWvError* error) {
  std::unique_ptr<hostrt::ScsiDevice> dev;
  std::string text;
  if (!CurrentEnv()->OpenScsiDevice(path, &dev, &text)) {
    if (error) error->set(1, text.empty() ? "cannot open " + path : text);
    return nullptr;
  }
  return std::make_shared<EnvDevice>(path, std::move(dev));
}

int64_t PzClock::nowMicros() { return hostrt::CurrentEnv()->NowMicros(); }

void PzClock::localTime(std::time_t when, std::tm* out) {
  hostrt::CurrentEnv()->LocalTime(when, out);
}

void PzClock::sleepMs(int64_t ms) {
  if (ms > 0) hostrt::CurrentEnv()->SleepMs(ms);
}
