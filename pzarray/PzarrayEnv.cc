#include "pzarray/PzarrayEnv.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace pzarray {

namespace {
constexpr const char* kSymapiSection = "EventManager";
constexpr const char* kSymapiHomeKey = "SYMAPI_HOME_DIR";
constexpr int kRecordNameWidth = 4;

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return bool(out);
}
}  // namespace

std::string MakePrivateHome() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") +
                        "/pzarray.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return std::string();
  return std::string(buffer.data());
}

PzarrayEnv::PzarrayEnv(const std::string& home,
                       std::map<std::string, std::string> sets,
                       std::string symcliHome, std::string recordDir,
                       bool verbose)
    : hostrt::PosixEnv(home),
      sets_(std::move(sets)),
      symcliHome_(std::move(symcliHome)),
      recordDir_(std::move(recordDir)),
      verbose_(verbose) {}

PzarrayEnv::~PzarrayEnv() {
  std::error_code ignored;
  std::filesystem::remove_all(home(), ignored);
}

bool PzarrayEnv::GetSetting(const std::string& section, const std::string& key,
                            std::string* value) {
  auto it = sets_.find(key);
  if (it != sets_.end()) {
    if (value) *value = it->second;
    return true;
  }
  if (section == kSymapiSection && key == kSymapiHomeKey &&
      !symcliHome_.empty()) {
    if (value) *value = symcliHome_;
    return true;
  }
  return false;
}

bool PzarrayEnv::PrepareRecordDir(std::string* error) {
  if (recordDir_.empty()) return true;
  std::error_code ec;
  std::filesystem::create_directories(recordDir_, ec);
  if (ec || !std::filesystem::is_directory(recordDir_)) {
    if (error) *error = "cannot create record directory " + recordDir_;
    return false;
  }
  // Continue the numbering of earlier runs into the same directory.
  for (const auto& entry : std::filesystem::directory_iterator(recordDir_, ec))
    if (entry.path().extension() == ".cmd") ++recorded_;
  return true;
}

void PzarrayEnv::RunProcess(const hostrt::ProcessSpec& spec,
                            hostrt::ProcessOutcome* out) {
  hostrt::PosixEnv::RunProcess(spec, out);
  if (!recordDir_.empty()) Record(spec, *out);
}

void PzarrayEnv::Record(const hostrt::ProcessSpec& spec,
                        const hostrt::ProcessOutcome& out) {
  char number[16];
  snprintf(number, sizeof number, "%0*d", kRecordNameWidth, ++recorded_);
  std::string base = recordDir_ + "/" + number;
  bool ok = WriteText(base + ".cmd", spec.commandLine) &&
            WriteText(base + ".out", out.output) &&
            WriteText(base + ".err", out.started ? out.error : out.startError) &&
            WriteText(base + ".exit",
                      std::to_string(out.started ? out.exitCode : -1) + "\n");
  // The device file the command was handed, as it read it.
  for (size_t i = 0; ok && i + 1 < spec.argv.size(); ++i) {
    if (spec.argv[i] != "-file") continue;
    std::string content;
    if (ReadFile(spec.argv[i + 1], &content, nullptr))
      ok = WriteText(base + ".file", content);
  }
  if (!ok) fprintf(stderr, "pzarray: cannot record command into %s\n",
                   recordDir_.c_str());
}

void PzarrayEnv::Log(const hostrt::LogRecord& record) {
  if (!verbose_) return;
  fprintf(stderr, "[%d] %s: %s\n", record.level, record.function.c_str(),
          record.text.c_str());
}

}  // namespace pzarray
