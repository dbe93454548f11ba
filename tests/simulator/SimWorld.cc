#include "tests/simulator/SimWorld.h"

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "hostruntime/Env.h"
#include "hostruntime/ProcessRunner.h"

namespace simtest {

Result Run(const std::vector<std::string>& argv, long long timeoutMs) {
  hostrt::ProcessSpec spec;
  spec.argv = argv;
  for (const auto& a : argv) spec.commandLine += a + " ";
  spec.timeoutMs = timeoutMs;
  hostrt::ProcessOutcome outcome;
  hostrt::RunChildProcess(spec, &outcome);
  Result r;
  r.exitCode = outcome.started ? outcome.exitCode : -1;
  r.out = outcome.output;
  r.err = outcome.error + outcome.startError;
  return r;
}

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

}  // namespace

std::string SymsimPath() { return std::string(PZ_BINARY_DIR) + "/simulator/symsim"; }

SimWorld::SimWorld() {
  char tmpl[] = "/tmp/symsimtestXXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = std::string(tmpl) + "/world";
}

SimWorld::~SimWorld() {
  std::string parent = dir_.substr(0, dir_.rfind('/'));
  nftw(parent.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

Result SimWorld::Admin(const std::vector<std::string>& args, long long timeoutMs) const {
  std::vector<std::string> argv = {SymsimPath(), "--state", dir_};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, timeoutMs);
}

std::string SimWorld::MustAdmin(const std::vector<std::string>& args) const {
  Result r = Admin(args);
  if (r.exitCode != 0) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    throw std::runtime_error("symsim " + line + "failed: " + r.err);
  }
  return r.out;
}

Result SimWorld::Tool(const std::string& tool, const std::string& args,
                      long long timeoutMs) const {
  std::string line = " \"" + bin(tool) + "\" " + args;
  std::vector<std::string> argv;
  std::string error;
  if (!hostrt::SplitCommandLine(line, &argv, &error)) throw std::runtime_error(error);
  return Run(argv, timeoutMs);
}

nlohmann::json SimWorld::InitDemo() {
  return nlohmann::json::parse(MustAdmin({"init-demo", "--json"}));
}

nlohmann::json SimWorld::Show() const {
  return nlohmann::json::parse(MustAdmin({"show", "--json"}));
}

nlohmann::json SimWorld::Audit() const {
  return nlohmann::json::parse(MustAdmin({"audit", "--json"}));
}

std::string SimWorld::WriteFile(const std::string& name, const std::string& content) const {
  std::string path = dir_ + "/" + name;
  std::ofstream(path) << content;
  return path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

std::vector<std::string> TableRows(const std::string& output, const std::string& marker) {
  size_t ruler = output.rfind("----");
  if (ruler == std::string::npos) return {};
  std::string rest = output.substr(ruler + 4);
  size_t end = rest.find(marker);
  if (end != std::string::npos) rest = rest.substr(0, end);
  std::vector<std::string> rows;
  for (const std::string& line : Lines(rest)) {
    if (line.find_first_not_of(" \r") != std::string::npos) rows.push_back(line);
  }
  return rows;
}

}  // namespace simtest
