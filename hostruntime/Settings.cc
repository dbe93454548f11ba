#include "hostruntime/Settings.h"

#include <cstdlib>
#include <set>
#include <utility>

#include "host/HostServices.h"
#include "hostruntime/Env.h"

namespace hostrt {

namespace {
const char* kBlanks = " \t\r";
}

bool IniFile::Parse(const std::string& text, std::string* error) {
  sections_.clear();
  lines_.clear();
  std::string section;
  bool haveSection = false;
  size_t lineNo = 0, start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    Line kept;
    kept.text = text.substr(start, end - start);
    std::string line = FXString::Trim(kept.text, kBlanks);
    ++lineNo;
    start = end + 1;
    // A final line break ends the last line; it opens no empty one.
    bool last = end == text.size();
    if (line.empty() || line[0] == '#' || line[0] == ';') {
      if (!(last && kept.text.empty())) lines_.push_back(kept);
      if (last) break;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3) {
        if (error) *error = "malformed section header at line " + std::to_string(lineNo);
        return false;
      }
      section = FXString::Trim(line.substr(1, line.size() - 2), kBlanks);
      // "[ ]" names no section; it would be written back as "[]".
      if (section.empty()) {
        if (error) *error = "malformed section header at line " + std::to_string(lineNo);
        return false;
      }
      sections_[section];
      haveSection = true;
      kept.kind = LineKind::kSection;
      kept.section = section;
    } else {
      size_t eq = line.find('=');
      if (eq == std::string::npos || eq == 0 || !haveSection) {
        if (error) *error = "malformed setting at line " + std::to_string(lineNo);
        return false;
      }
      kept.kind = LineKind::kEntry;
      kept.section = section;
      kept.key = FXString::Trim(line.substr(0, eq), kBlanks);
      kept.value = FXString::Trim(line.substr(eq + 1), kBlanks);
      sections_[section][kept.key] = kept.value;
    }
    lines_.push_back(kept);
    if (last) break;
  }
  return true;
}

bool IniFile::Get(const std::string& section, const std::string& key,
                  std::string* value) const {
  auto s = sections_.find(section);
  if (s == sections_.end()) return false;
  auto k = s->second.find(key);
  if (k == s->second.end()) return false;
  if (value) *value = k->second;
  return true;
}

void IniFile::Set(const std::string& section, const std::string& key,
                  const std::string& value) {
  sections_[section][key] = value;
}

bool IniFile::CanHold(const std::string& section, const std::string& key,
                      const std::string& value, std::string* why) {
  auto fail = [why](const std::string& text) {
    if (why) *why = text;
    return false;
  };
  auto trimmed = [](const std::string& text) {
    return FXString::Trim(text, kBlanks) == text;
  };
  const char* kLineBreaks = "\r\n";
  if (section.empty() || !trimmed(section) ||
      section.find_first_of(kLineBreaks) != std::string::npos ||
      section.find(']') != std::string::npos)
    return fail("a section name is not empty, has no line break, no ']' and no "
                "blanks at its ends");
  if (key.empty() || !trimmed(key) ||
      key.find_first_of(kLineBreaks) != std::string::npos ||
      key.find('=') != std::string::npos || key[0] == '#' || key[0] == ';' ||
      key[0] == '[')
    return fail("a key is not empty, has no line break, no '=', no blanks at its "
                "ends and does not start with '#', ';' or '['");
  if (!trimmed(value) || value.find_first_of(kLineBreaks) != std::string::npos)
    return fail("a value has no line break and no blanks at its ends");
  return true;
}

bool IniFile::Remove(const std::string& section, const std::string& key) {
  auto s = sections_.find(section);
  return s != sections_.end() && s->second.erase(key) > 0;
}

std::string IniFile::Serialize() const {
  // The last line (header or entry) of each section as read: new entries of
  // the section follow it, ahead of the comments that open the next one.
  std::map<std::string, size_t> lastLine;
  for (size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].kind != LineKind::kOther) lastLine[lines_[i].section] = i;
  std::set<std::pair<std::string, std::string>> written;
  auto entry = [](const std::string& key, const std::string& value) {
    return key + " = " + value + "\n";
  };
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == LineKind::kEntry) {
      std::string value;
      // A key read twice is written once, where it first stood.
      if (Get(line.section, line.key, &value) &&
          written.insert({line.section, line.key}).second)
        out += value == line.value ? line.text + "\n" : entry(line.key, value);
    } else {
      out += line.text + "\n";
    }
    if (line.kind == LineKind::kOther) continue;
    auto last = lastLine.find(line.section);
    if (last == lastLine.end() || last->second != i) continue;
    auto s = sections_.find(line.section);
    if (s == sections_.end()) continue;
    for (const auto& kv : s->second)
      if (written.insert({s->first, kv.first}).second) out += entry(kv.first, kv.second);
  }
  for (const auto& s : sections_) {
    if (lastLine.count(s.first)) continue;
    bool separated = out.empty() || (out.size() >= 2 &&
                                     out.compare(out.size() - 2, 2, "\n\n") == 0);
    if (!separated) out += "\n";
    out += "[" + s.first + "]\n";
    for (const auto& kv : s.second) out += entry(kv.first, kv.second);
    out += "\n";
  }
  return out;
}

long long CommandTimeLimitMs() {
  std::string text;
  Env* env = CurrentEnv();
  if (env->GetSetting(kAdditionalSettings, "nSymCliTimeoutMs", &text)) {
    long long ms = atoll(text.c_str());
    if (ms > 0) return ms;
  }
  if (env->GetSetting(kAdditionalSettings, "nSymCliTimeoutSecs", &text)) {
    long long secs = atoll(text.c_str());
    if (secs > 0) return secs * 1000;
  }
  return kDefaultCommandTimeLimitSecs * 1000;
}

}  // namespace hostrt
