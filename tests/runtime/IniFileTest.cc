#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostruntime/Settings.h"

namespace {

TEST(IniFile, BlankSectionNameIsRefusedLikeAnEmptyOne) {
  hostrt::IniFile ini;
  std::string error;
  EXPECT_FALSE(ini.Parse("[]\nk = v\n", &error));
  EXPECT_FALSE(ini.Parse("[ \t]\nk = v\n", &error));
  EXPECT_EQ("malformed section header at line 1", error);
}

TEST(IniFile, WrittenSettingsParseBackTheSame) {
  hostrt::IniFile ini;
  std::string error;
  ASSERT_TRUE(ini.Parse("# c\n[ a b ]\n k = v = w \r\n[c]\n", &error)) << error;
  hostrt::IniFile again;
  ASSERT_TRUE(again.Parse(ini.Serialize(), &error)) << error;
  EXPECT_EQ(ini.sections(), again.sections());
  std::string value;
  ASSERT_TRUE(again.Get("a b", "k", &value));
  EXPECT_EQ("v = w", value);
}

// What a user hands to `config set` either round-trips exactly or is
// refused: a line break or "=" must not smuggle in a second setting.
TEST(IniFile, CanHoldOnlyWhatReadsBackAsTheSameSingleEntry) {
  struct Case {
    std::string section, key, value;
    bool fits;
  };
  const std::vector<Case> cases = {
      {"~Fieldunit", "nSymCliTimeoutMs", "300", true},
      {"Host", "remote command", "ssh -o BatchMode=yes", true},
      {"Host", "empty", "", true},
      {"Host", "k", "1\n[EventManager]\nSYMAPI_HOME_DIR = /evil", false},
      {"Host", "k", "1\rx = 2", false},
      {"Host", "a = b", "v", false},
      {"Host", "k\nx", "v", false},
      {"Host", "#k", "v", false},
      {"Host", "[k", "v", false},
      {"Host", " k", "v", false},
      {"Host", "k", "v ", false},
      {"Ho]st", "k", "v", false},
      {"Ho\nst", "k", "v", false},
      {"", "k", "v", false},
      {"Host", "", "v", false},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(c.fits, hostrt::IniFile::CanHold(c.section, c.key, c.value, &why))
        << "[" << c.section << "] " << c.key << " = " << c.value;
    if (!c.fits) {
      EXPECT_FALSE(why.empty());
      continue;
    }
    hostrt::IniFile ini, again;
    ini.Set(c.section, c.key, c.value);
    std::string error;
    ASSERT_TRUE(again.Parse(ini.Serialize(), &error)) << error;
    EXPECT_EQ(ini.sections(), again.sections());
  }
}

}  // namespace
