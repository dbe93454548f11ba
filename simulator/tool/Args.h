// SYMCLI-style command lines: "-opt value" options, bare flags and the
// action words, checked against what one tool accepts.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace symsim {

struct ArgSpec {
  std::set<std::string> valueOptions;  // e.g. "-sid", "-file"
  std::set<std::string> flags;         // e.g. "-noprompt", "-v"
};

class Args {
 public:
  // False with `error` for an unknown option or a missing value.
  bool Parse(const std::vector<std::string>& argv, const ArgSpec& spec,
             std::string* error);
  bool Has(const std::string& option) const;
  std::string Get(const std::string& option) const;  // empty when absent
  const std::vector<std::string>& words() const { return words_; }
  // The action words joined by blanks ("list view", "addall").
  std::string Action() const;

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::vector<std::string> words_;
};

}  // namespace symsim
