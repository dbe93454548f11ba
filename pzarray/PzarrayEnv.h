// The host environment of pzarray: the real machine with a private
// temporary home, settings given on the command line, and optionally a
// record of every command it ran.
#pragma once

#include <map>
#include <string>

#include "hostruntime/PosixEnv.h"

namespace pzarray {

class PzarrayEnv : public hostrt::PosixEnv {
 public:
  // `home` is a fresh private directory; it is removed with the object.
  PzarrayEnv(const std::string& home, std::map<std::string, std::string> sets,
             std::string symcliHome, std::string recordDir, bool verbose);
  ~PzarrayEnv() override;

  // Answers every --set key in any section, and SYMAPI_HOME_DIR in section
  // "EventManager" from --symcli-home; nothing else is configured.
  bool GetSetting(const std::string& section, const std::string& key,
                  std::string* value) override;
  // Runs the command and, with --record, keeps it as fixture files.
  void RunProcess(const hostrt::ProcessSpec& spec,
                  hostrt::ProcessOutcome* out) override;
  // Host debug lines go to standard error with --verbose.
  void Log(const hostrt::LogRecord& record) override;

  // False (with `error`) when the record directory cannot be used.
  bool PrepareRecordDir(std::string* error);

 private:
  void Record(const hostrt::ProcessSpec& spec,
              const hostrt::ProcessOutcome& out);

  std::map<std::string, std::string> sets_;
  std::string symcliHome_;
  std::string recordDir_;
  bool verbose_;
  int recorded_ = 0;
};

// Creates a private (0700) temporary directory; empty on failure.
std::string MakePrivateHome();

}  // namespace pzarray
