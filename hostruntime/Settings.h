// Host settings: one INI file (sections, key = value) and the settings the
// host runtime itself reads.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace hostrt {

// Section of the additional settings the engine reads.
constexpr const char* kAdditionalSettings = "~Fieldunit";
constexpr long long kDefaultCommandTimeLimitSecs = 3600;

// The settings of one INI text. Serialize() writes the text it was parsed
// from with its comments, blank lines and order kept: an entry that changed
// is rewritten in place, a removed one is dropped, a new one follows the last
// entry of its section, a new section comes at the end.
class IniFile {
 public:
  // Parses INI text; false (with the line number in `error`) on a malformed
  // line. Keys before any section header are refused.
  bool Parse(const std::string& text, std::string* error);
  bool Get(const std::string& section, const std::string& key,
           std::string* value) const;
  void Set(const std::string& section, const std::string& key,
           const std::string& value);
  // Whether Serialize() writes the entry so that Parse() reads back the
  // same entry and nothing else (no line breaks, no "=" in a key, no "]"
  // in a section, no blanks that the reader would trim); `why` says what
  // does not fit.
  static bool CanHold(const std::string& section, const std::string& key,
                      const std::string& value, std::string* why);
  bool Remove(const std::string& section, const std::string& key);
  std::string Serialize() const;
  const std::map<std::string, std::map<std::string, std::string>>& sections()
      const {
    return sections_;
  }

 private:
  enum class LineKind { kOther, kSection, kEntry };
  struct Line {
    LineKind kind = LineKind::kOther;
    std::string section;  // the section it stands in (or opens)
    std::string key;      // kEntry
    std::string value;    // kEntry, as read
    std::string text;     // the line as read, without its line break
  };
  std::map<std::string, std::map<std::string, std::string>> sections_;
  std::vector<Line> lines_;
};

// Time limit of one child process: additional setting nSymCliTimeoutMs when
// present, else nSymCliTimeoutSecs (default 3600 s).
long long CommandTimeLimitMs();

}  // namespace hostrt
