#include <gtest/gtest.h>

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

}  // namespace
