// Each published Solutions Enabler sample has a simulator counterpart with
// the same layout: header words, rulers, column order, keys and legends.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tests/simulator/SimWorld.h"

namespace {

using simtest::Lines;
using simtest::Result;
using simtest::SimWorld;
using simtest::Words;

std::string Sample(const std::string& name) {
  std::ifstream in(std::string(PZ_SHARED_DIR) + "/symcli-samples/" + name);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_FALSE(s.str().empty()) << name;
  return s.str();
}

bool IsRuler(const std::string& line) {
  return line.find("---") != std::string::npos &&
         line.find_first_not_of("- ") == std::string::npos;
}

// Dash-group count of every ruler line, in order.
std::vector<size_t> Rulers(const std::string& text) {
  std::vector<size_t> out;
  for (const std::string& line : Lines(text)) {
    if (IsRuler(line)) out.push_back(Words(line).size());
  }
  return out;
}

// The lines before the first row (up to the last ruler), as words, without
// the values of "key : value" lines.
std::vector<std::string> HeaderWords(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  size_t last = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsRuler(lines[i])) last = i;
  }
  std::vector<std::string> out;
  for (size_t i = 0; i <= last && i < lines.size(); ++i) {
    std::string line = lines[i];
    if (IsRuler(line)) continue;
    size_t colon = line.find(" :");
    if (colon == std::string::npos) colon = line.find(": ");
    if (line.find("Symmetrix ID") != std::string::npos && colon != std::string::npos) {
      line = line.substr(0, colon);
    }
    for (const std::string& w : Words(line)) out.push_back(w);
  }
  return out;
}

// Keys of "key : value" lines and titles of brace blocks, in order.
std::vector<std::string> Keys(const std::string& text) {
  std::vector<std::string> out;
  std::vector<std::string> lines = Lines(text);
  int depth = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string t = lines[i];
    t.erase(0, t.find_first_not_of(' '));
    if (t == "{") { ++depth; continue; }
    if (t == "}") { --depth; continue; }
    if (depth > 0 || t.empty()) continue;
    size_t colon = t.find(':');
    std::string key = colon == std::string::npos ? t : t.substr(0, colon);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    out.push_back(key);
  }
  return out;
}

class SampleLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo_ = world_.InitDemo();
    sid_ = demo_["serial"];
    host_ = demo_["host"];
  }
  Result Run(const std::string& tool, const std::string& args) {
    Result r = world_.Tool(tool, "-sid " + sid_ + " " + args);
    return r;
  }
  SimWorld world_;
  nlohmann::json demo_;
  std::string sid_, host_;
};

TEST_F(SampleLayoutTest, MessagesMatchTheRealTexts) {
  std::string noInfo = Sample("msg_no_snapvx_information__1.txt");
  noInfo = noInfo.substr(0, noInfo.find_last_not_of("\n") + 1);
  ASSERT_EQ(world_.Tool("symsnapvx", "-sid " + sid_ + " -file " + world_.WriteFile("d", "00100\n") +
                                         " -name s establish -noprompt").exitCode, 0);
  Result r = Run("symsnapvx", "-devs 00100 -snapshot_name s list -linked");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find(noInfo), std::string::npos);
  EXPECT_EQ(r.out.find(noInfo), std::string::npos);  // on standard error only

  std::string clone = Lines(Sample("symclone_query_no_session__1.txt"))[1];
  r = Run("symsnapvx", "-file " + world_.WriteFile("d", "00100\n") +
                           " -snapshot_name s terminate -restored -noprompt");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find(clone), std::string::npos) << clone;
}

TEST_F(SampleLayoutTest, InitiatorGroupListByWwn) {
  std::string sample = Sample("symaccess_list_init_wwn__1.txt");
  Result r = Run("symaccess", "-type init list -wwn " + demo_["initiators"][0].get<std::string>());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(HeaderWords(r.out), HeaderWords(sample));
  EXPECT_EQ(Rulers(r.out), Rulers(sample));
  std::vector<std::string> lines = Lines(r.out);
  auto title = std::find(lines.begin(), lines.end(), "Initiator Group Name");
  ASSERT_NE(title, lines.end());
  EXPECT_EQ(*(title + 1), std::string(20, '-'));
  EXPECT_EQ(*(title + 2), "IG_" + host_);
}

TEST_F(SampleLayoutTest, MaskingViewList) {
  std::string sample = Sample("symaccess_list_view__1.txt");
  Result r = Run("symaccess", "list view");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(HeaderWords(r.out), HeaderWords(sample));
  EXPECT_EQ(Rulers(r.out), Rulers(sample));
  // Column order: view, initiator group, port group, storage group.
  bool found = false;
  for (const std::string& line : Lines(r.out)) {
    std::vector<std::string> w = Words(line);
    if (!w.empty() && w[0] == "MV_" + host_ + "_mount") {
      EXPECT_EQ(w, (std::vector<std::string>{w[0], "IG_" + host_, "PG_" + host_,
                                              demo_["mountStorageGroup"].get<std::string>()}));
      found = true;
    }
  }
  EXPECT_TRUE(found) << r.out;
  // Columns start where the sample's start.
  std::string header = Lines(sample)[1];
  std::string mine;
  for (const std::string& line : Lines(r.out)) {
    if (line.rfind("Masking View Name", 0) == 0) mine = line;
  }
  EXPECT_EQ(mine, header);
}

TEST_F(SampleLayoutTest, InitiatorGroupShow) {
  Result r = Run("symaccess", "show IG_" + host_ + " -type initiator");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* name : {"symaccess_show_init__1.txt", "symaccess_show_init__2.txt"}) {
    EXPECT_EQ(Keys(r.out), Keys(Sample(name))) << name << "\n" << r.out;
  }
  EXPECT_TRUE(std::regex_search(r.out, std::regex("WWN  : 10000000c9a1b201")));
  // The views of the group are listed in its brace block.
  size_t views = r.out.find("Masking View Names");
  EXPECT_NE(r.out.find("MV_" + host_ + "_mount", views), std::string::npos);
}

TEST_F(SampleLayoutTest, StorageGroupShow) {
  std::string sample = Sample("symaccess_show_storage__1.txt");
  std::string tgt = demo_["targetStorageGroup"];
  Result r = Run("symaccess", "show " + tgt + " -type storage");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Keys(r.out), Keys(sample)) << r.out;
  EXPECT_NE(r.out.find("00200:00227"), std::string::npos) << r.out;  // ranges as in the sample
}

TEST_F(SampleLayoutTest, DeviceListings) {
  struct Case {
    const char* sample;
    std::string args;
  } cases[] = {
      {"symdev_list_noport__1.txt", "list -noport"},
      {"symdev_list_r1__1.txt", "list -devs 00100:00102"},
      {"symdev_list_range__1.txt", "list -range 00200:00202"},
      {"symdev_list_range__2.txt", "list -range 00214:00216"},
  };
  for (const Case& c : cases) {
    std::string sample = Sample(c.sample);
    Result r = Run("symdev", c.args);
    ASSERT_EQ(r.exitCode, 0) << c.args << r.err;
    // VMAX3 and PowerMax have no DA directors: the DA :IT column of the
    // older arrays' samples is the one difference.
    std::vector<std::string> want;
    for (const std::string& w : HeaderWords(sample)) {
      if (w != "DA" && w != ":IT") want.push_back(w);
    }
    EXPECT_EQ(HeaderWords(r.out), want) << c.sample;
    EXPECT_EQ(Rulers(r.out), Rulers(sample)) << c.sample;
    for (const std::string& row : simtest::TableRows(r.out, "\x01")) {
      std::vector<std::string> w = Words(row);
      ASSERT_GE(w.size(), 8u) << row;
      EXPECT_EQ(w[0].size(), 5u);
      EXPECT_EQ(w[1] + " " + w[2], "Not Visible");
      EXPECT_EQ(w[6], "RW");
      EXPECT_NO_THROW(std::stol(w.back()));  // capacity last
    }
  }
  Result r = Run("symdev", "list -noport");
  EXPECT_EQ(r.out.find("00100"), std::string::npos);  // masked sources have ports
  EXPECT_NE(r.out.find("???:???"), std::string::npos);
  r = Run("symdev", "list -devs 00100");
  EXPECT_NE(r.out.find("***:***"), std::string::npos);  // two ports of the port group
}

// Tag paths of an XML text ("SymCLI_ML/SG/SG_Info/name").
std::set<std::string> TagPaths(const std::string& xml) {
  std::set<std::string> paths;
  std::vector<std::string> stack;
  std::regex tag("<(/?)([A-Za-z_]+)[^>]*>");
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), tag); it != std::sregex_iterator();
       ++it) {
    if ((*it)[1] == "/") {
      if (!stack.empty()) stack.pop_back();
      continue;
    }
    stack.push_back((*it)[2]);
    std::string path;
    for (const std::string& s : stack) path += "/" + s;
    paths.insert(path);
  }
  return paths;
}

TEST_F(SampleLayoutTest, StorageGroupXmlListing) {
  std::string sample = Sample("symsg_list_v_xml__1.txt");
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "SG_c1", "--devs", "00220"});
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "CSG_p", "--child", "SG_c1"});
  Result r = Run("symsg", "list -v -output xml");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(TagPaths(r.out), TagPaths(sample));
  EXPECT_NE(r.out.find("<Cascade_Status>IsChild</Cascade_Status>"), std::string::npos);
  EXPECT_EQ(r.out.rfind("<?xml version=\"1.0\" standalone=\"yes\" ?>", 0), 0u);
}

}  // namespace
