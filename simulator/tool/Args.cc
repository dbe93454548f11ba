#include "simulator/tool/Args.h"

namespace symsim {

bool Args::Parse(const std::vector<std::string>& argv, const ArgSpec& spec,
                 std::string* error) {
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a.size() > 1 && a[0] == '-') {
      if (spec.valueOptions.count(a)) {
        if (i + 1 >= argv.size() || argv[i + 1].empty()) {
          *error = "The option '" + a + "' requires an argument";
          return false;
        }
        values_[a] = argv[++i];
      } else if (spec.flags.count(a)) {
        flags_.insert(a);
      } else {
        *error = "Unrecognized option: '" + a + "'";
        return false;
      }
    } else if (!a.empty()) {
      words_.push_back(a);
    }
  }
  return true;
}

bool Args::Has(const std::string& option) const {
  return flags_.count(option) || values_.count(option);
}

std::string Args::Get(const std::string& option) const {
  auto it = values_.find(option);
  return it == values_.end() ? std::string() : it->second;
}

std::string Args::Action() const {
  std::string out;
  for (const std::string& w : words_) out += (out.empty() ? "" : " ") + w;
  return out;
}

}  // namespace symsim
