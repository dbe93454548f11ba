#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "hostruntime/Settings.h"

namespace {

// Written settings parse back the same; a blank section name is refused
// like an empty one.
TEST(IniFile, ParseAndWriteBack) {
  hostrt::IniFile ini, again;
  std::string error, value;
  ASSERT_TRUE(ini.Parse("# c\n[ a b ]\n k = v = w \r\n[c]\n", &error)) << error;
  ASSERT_TRUE(again.Parse(ini.Serialize(), &error)) << error;
  EXPECT_EQ(ini.sections(), again.sections());
  ASSERT_TRUE(again.Get("a b", "k", &value));
  EXPECT_EQ("v = w", value);
  EXPECT_FALSE(ini.Parse("[]\nk = v\n", &error));
  EXPECT_FALSE(ini.Parse("[ \t]\nk = v\n", &error));
  EXPECT_EQ("malformed section header at line 1", error);
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

// A rewrite keeps the operator's comments, blank lines and order: only the
// entry that changed is written anew. A key read twice stands once, where it
// first stood, with the value the reader took (the last).
TEST(IniFile, RewriteKeepsCommentsAndOrder) {
  const std::string head = "# lab host\n[Host]\n; no waits\n", scale = "sleepScale   =  0\n";
  const std::string engine = "\n# engine\n[~Fieldunit]\n", read = "b = 3\na = 2\n";
  struct Case {
    const char* what;
    std::function<void(hostrt::IniFile&)> edit;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"nothing", [](hostrt::IniFile&) {}, head + scale + engine + read},
      {"a change in place", [](hostrt::IniFile& i) { i.Set("Host", "sleepScale", "1"); },
       head + "sleepScale = 1\n" + engine + read},
      {"a new key after its section's last entry",
       [](hostrt::IniFile& i) { i.Set("Host", "clientName", "c"); },
       head + scale + "clientName = c\n" + engine + read},
      {"a removal and a new section",
       [](hostrt::IniFile& i) {
         i.Remove("~Fieldunit", "b");
         i.Set("Database", "backend", "sqlite");
       },
       head + scale + engine + "a = 2\n\n[Database]\nbackend = sqlite\n\n"},
  };
  for (const Case& c : cases) {
    hostrt::IniFile ini;
    std::string error;
    ASSERT_TRUE(ini.Parse(head + scale + engine + "b = 1\na = 2\nb = 3\n", &error)) << error;
    c.edit(ini);
    EXPECT_EQ(c.expected, ini.Serialize()) << c.what;
  }
}

}  // namespace
