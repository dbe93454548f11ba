// What `config set` accepts: every key the engine and the host read, with
// the form and range of its value. Names are checked with the rules the
// array commands apply, so a value refused at mount is refused when set.
#pragma once

#include <string>
#include <vector>

namespace pzhost {

enum class SettingCheck { kValid, kUnknown, kInvalid };

// A settings.ini entry. kUnknown: the section or key is read by nothing
// (`why` names the known ones); kInvalid: `why` says what the value must be.
SettingCheck CheckSetting(const std::string& section, const std::string& key,
                          const std::string& value, std::string* why);
// A snap config of the home (handed to every request).
SettingCheck CheckSnapConfig(const std::string& key, const std::string& value,
                             std::string* why);

}  // namespace pzhost
