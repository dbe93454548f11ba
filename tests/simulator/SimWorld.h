// A temporary simulated world for a test, driven through the project's one
// process runner: `Admin` runs symsim, `Tool` runs a tool from DIR/bin.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace simtest {

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class SimWorld {
 public:
  SimWorld();   // an empty directory; nothing created yet
  ~SimWorld();  // removes the directory

  const std::string& dir() const { return dir_; }
  std::string bin(const std::string& tool) const { return dir_ + "/bin/" + tool; }

  Result Admin(const std::vector<std::string>& args, long long timeoutMs = 60000) const;
  // Runs the admin program and expects success.
  std::string MustAdmin(const std::vector<std::string>& args) const;
  // A tool command line as the plug-in writes it: ` "DIR/bin/tool" args`.
  Result Tool(const std::string& tool, const std::string& args,
              long long timeoutMs = 60000) const;
  nlohmann::json InitDemo();
  nlohmann::json Show() const;
  nlohmann::json Audit() const;
  // Writes a device file in the world directory and returns its path.
  std::string WriteFile(const std::string& name, const std::string& content) const;

 private:
  std::string dir_;
};

std::string SymsimPath();
// Runs a program through the project's runner.
Result Run(const std::vector<std::string>& argv, long long timeoutMs = 60000);
// Lines of a text, and the words of a line.
std::vector<std::string> Lines(const std::string& text);
std::vector<std::string> Words(const std::string& line);
// The rows between the last "----" and `marker` (whole rest without it),
// cut as the plug-in's table readers do.
std::vector<std::string> TableRows(const std::string& output, const std::string& marker);

}  // namespace simtest
