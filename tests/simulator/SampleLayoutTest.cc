// Each published Solutions Enabler sample has a simulator counterpart with
// the same layout: header words, rulers, column order, keys and legends.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "tests/runtime/TempDir.h"
#include "tests/simulator/SimWorld.h"

namespace {

using simtest::Lines;
using simtest::Result;
using simtest::Words;
using Span = std::pair<size_t, size_t>;  // [start, end) in a line
using Problems = std::vector<std::string>;

std::string Sample(const std::string& name) {
  std::string text =
      runtime_test::ReadFile(std::string(PZ_SHARED_DIR) + "/symcli-samples/" + name);
  EXPECT_FALSE(text.empty()) << name;
  return text;
}

bool IsRuler(const std::string& line) {
  return line.find("---") != std::string::npos &&
         line.find_first_not_of("- ") == std::string::npos;
}
bool IsBlank(const std::string& line) { return line.find_first_not_of(' ') == std::string::npos; }

// Dash-group count of every ruler line, in order.
std::vector<size_t> Rulers(const std::string& text) {
  std::vector<size_t> out;
  for (const std::string& line : Lines(text))
    if (IsRuler(line)) out.push_back(Words(line).size());
  return out;
}

// The words of the lines up to the last ruler, without the serial of the
// "Symmetrix ID" line.
std::vector<std::string> HeaderWords(const std::string& text) {
  std::vector<std::string> lines = Lines(text), out;
  size_t last = 0;
  for (size_t i = 0; i < lines.size(); ++i)
    if (IsRuler(lines[i])) last = i;
  for (size_t i = 0; i < last; ++i) {
    std::string line = lines[i];
    if (IsRuler(line)) continue;
    size_t colon = line.find(" :") != std::string::npos ? line.find(" :") : line.find(": ");
    if (line.find("Symmetrix ID") != std::string::npos) line = line.substr(0, colon);
    for (const std::string& w : Words(line)) out.push_back(w);
  }
  return out;
}

// Keys of "key : value" lines and titles of brace blocks, in order.
std::vector<std::string> Keys(const std::string& text) {
  std::vector<std::string> out;
  int depth = 0;
  for (std::string t : Lines(text)) {
    t.erase(0, t.find_first_not_of(' '));
    if (t == "{" || t == "}") {
      depth += t == "{" ? 1 : -1;
      continue;
    }
    if (depth > 0 || t.empty()) continue;
    std::string key = t.substr(0, t.find(':'));
    out.push_back(key.erase(key.find_last_not_of(' ') + 1));
  }
  return out;
}

// The runs of a line: a ruler's dash groups (`gap` 1), or a title line's
// titles (`gap` 2: words joined by single blanks, "SA :P").
std::vector<Span> Runs(const std::string& line, size_t gap) {
  std::vector<Span> out;
  for (size_t i = line.find_first_not_of(' '); i != std::string::npos;) {
    size_t end = line.find(std::string(gap, ' '), i);
    if (end == std::string::npos) end = line.find_last_not_of(' ') + 1;
    out.push_back({i, end});
    i = line.find_first_not_of(' ', end);
  }
  return out;
}

// The geometry of an output's table, the same for a published sample and
// for the simulator: the column ruler (the widest-grouped, last one), every
// other ruler made of its groups or spanning it whole, rows that cross no gap
// between columns and end within the ruler, and with `titlesStartColumns`
// each column starting where its title starts (the last may be right-aligned
// to its title's end), as in the published device and view listings.
struct Geometry {
  std::vector<Span> columns, titles;
  Problems problems;
};
Geometry TableGeometry(const std::string& text, bool titlesStartColumns) {
  Geometry g;
  std::vector<std::string> lines = Lines(text);
  size_t last = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsRuler(lines[i]) && Runs(lines[i], 1).size() >= g.columns.size()) {
      g.columns = Runs(lines[i], 1);
      last = i;
    }
  }
  if (last == lines.size()) return {{}, {}, {"no ruler"}};
  const Span whole = {g.columns.front().first, g.columns.back().second};
  auto problem = [&](const std::string& what, const std::string& line) {
    g.problems.push_back(what + ": " + line);
  };
  for (const std::string& line : lines) {
    if (!IsRuler(line)) continue;
    for (const Span& s : Runs(line, 1))
      if (s != whole && std::find(g.columns.begin(), g.columns.end(), s) == g.columns.end())
        problem("ruler group at " + std::to_string(s.first) + " stands over no column", line);
  }
  for (size_t t = last; t-- > 0 && g.titles.empty();)
    if (!IsBlank(lines[t]) && !IsRuler(lines[t])) g.titles = Runs(lines[t], 2);
  size_t i = last + 1;
  while (i < lines.size() && IsBlank(lines[i])) ++i;
  for (; i < lines.size() && !IsRuler(lines[i]) && !IsBlank(lines[i]) &&
         lines[i].find_first_not_of(' ') != lines[i].find('}');
       ++i) {
    const std::string& row = lines[i];
    if (row.find_first_not_of(". ") == std::string::npos || (unsigned char)row[0] >= 0x80)
      continue;  // rows the sample's author left out
    if (row.size() > whole.second) problem("row wider than the ruler", row);
    for (size_t c = 0; c + 1 < g.columns.size(); ++c)
      for (size_t at = g.columns[c].second; at < g.columns[c + 1].first && at < row.size(); ++at)
        if (row[at] != ' ') problem("row crosses a column gap", row);
    for (size_t t = 0; titlesStartColumns && t < g.titles.size(); ++t) {
      size_t at = g.titles[t].first;
      bool starts = at < row.size() && row[at] != ' ' && (at == 0 || row[at - 1] == ' ');
      bool rightAligned = t + 1 == g.titles.size() && row.size() == g.titles[t].second;
      if (!starts && !rightAligned) problem("no column under title at " + std::to_string(at), row);
    }
  }
  return g;
}

class SampleLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo_ = world_.InitDemo();
    sid_ = demo_["serial"];
    host_ = demo_["host"];
  }
  Result Run(const std::string& tool, const std::string& args) {
    return world_.Tool(tool, "-sid " + sid_ + " " + args);
  }
  simtest::SimWorld world_;
  nlohmann::json demo_;
  std::string sid_, host_;
};

TEST_F(SampleLayoutTest, MessagesMatchTheRealTexts) {
  std::string noInfo = Lines(Sample("msg_no_snapvx_information__1.txt"))[0];
  std::string clone = Lines(Sample("symclone_query_no_session__1.txt"))[1];
  const std::string file = "-file " + world_.WriteFile("d", "00100\n");
  ASSERT_EQ(Run("symsnapvx", file + " -name s establish -noprompt").exitCode, 0);
  Result r = Run("symsnapvx", "-devs 00100 -snapshot_name s list -linked");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find(noInfo), std::string::npos) << noInfo;
  EXPECT_EQ(r.out.find(noInfo), std::string::npos);  // on standard error only
  r = Run("symsnapvx", file + " -snapshot_name s terminate -restored -noprompt");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find(clone), std::string::npos) << clone;
}

// Masking listings and group details: a listing has its sample's header
// words, rulers and column geometry, a detail its samples' keys; each holds
// the names of the demo world where the sample holds its own.
TEST_F(SampleLayoutTest, MaskingListingsAndDetails) {
  const std::string mvList = "symaccess_list_view__1.txt";
  struct Case {
    std::string args;
    std::vector<std::string> samples;
    bool listing;                       // else a detail of keys
    std::vector<std::string> patterns;  // regular expressions the output matches
  } cases[] = {
      {"-type init list -wwn " + demo_["initiators"][0].get<std::string>(),
       {"symaccess_list_init_wwn__1.txt"}, true,
       {"\nInitiator Group Name\n-{20}\nIG_" + host_ + "\n"}},
      // Column order: view, initiator group, port group, storage group;
      // the title line is the sample's.
      {"list view", {mvList}, true,
       {"\nMV_" + host_ + "_mount +IG_" + host_ + " +PG_" + host_ + " +" +
            demo_["mountStorageGroup"].get<std::string>() + " *\n",
        "\n" + Lines(Sample(mvList))[1] + "\n"}},
      // The views of the group are listed in its brace block.
      {"show IG_" + host_ + " -type initiator",
       {"symaccess_show_init__1.txt", "symaccess_show_init__2.txt"}, false,
       {"WWN  : 10000000c9a1b201", "Masking View Names[\\s\\S]*MV_" + host_ + "_mount"}},
      // Device ranges as in the sample.
      {"show " + demo_["targetStorageGroup"].get<std::string>() + " -type storage",
       {"symaccess_show_storage__1.txt"}, false, {"00200:00227"}},
      // The view detail names its group's cascade right after the group,
      // with the keys and values of the published group detail.
      {"list view -name MV_" + host_ + "_src -v", {}, false,
       {"Storage Group Name +: \\S+\n +Number of Storage Groups +: 0\n"
        " +Storage Group Names +: None\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    Result r = Run("symaccess", c.args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const std::string& name : c.samples) {
      std::string sample = Sample(name);
      if (!c.listing) {
        EXPECT_EQ(Keys(r.out), Keys(sample)) << name << "\n" << r.out;
        continue;
      }
      EXPECT_EQ(HeaderWords(r.out), HeaderWords(sample));
      EXPECT_EQ(Rulers(r.out), Rulers(sample));
      Geometry real = TableGeometry(sample, true), sim = TableGeometry(r.out, true);
      EXPECT_EQ(real.problems, Problems());
      EXPECT_EQ(sim.problems, Problems()) << r.out;
      ASSERT_FALSE(real.titles.empty());
      EXPECT_EQ(sim.columns, real.columns);
      EXPECT_EQ(sim.titles, real.titles);
    }
    for (const std::string& p : c.patterns)
      EXPECT_TRUE(std::regex_search(r.out, std::regex(p))) << p << "\n" << r.out;
  }
}

TEST_F(SampleLayoutTest, DeviceListings) {
  const char* cases[][2] = {
      {"symdev_list_noport__1.txt", "list -noport"},
      {"symdev_list_r1__1.txt", "list -devs 00100:00102"},
      {"symdev_list_range__1.txt", "list -range 00200:00202"},
      {"symdev_list_range__2.txt", "list -range 00214:00216"},
  };
  // On the host the tools run on, a device shows its (long) path.
  world_.MustAdmin({"set", "se_host", host_});
  auto width = [](const Span& s) { return s.second - s.first; };
  // Offsets of the titles over the device column, from its start.
  auto offsets = [](const Geometry& g) {
    std::vector<size_t> out;
    for (const Span& t : g.titles)
      if (t.first >= g.columns[2].first) out.push_back(t.first - g.columns[2].first);
    return out;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    std::string sample = Sample(c[0]);
    Result r = Run("symdev", c[1]);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // VMAX3 and PowerMax have no DA directors: the DA :IT column of the
    // older arrays' samples goes, and its 13-wide "Directors" ruler becomes
    // the 7-wide "Dir" one of the director:port column.
    std::vector<std::string> want;
    for (const std::string& w : HeaderWords(sample))
      if (w != "DA" && w != ":IT") want.push_back(w == "Directors" ? "Dir" : w);
    EXPECT_EQ(HeaderWords(r.out), want);
    EXPECT_EQ(Rulers(r.out), Rulers(sample));
    Geometry real = TableGeometry(sample, true), mine = TableGeometry(r.out, true);
    EXPECT_EQ(real.problems, Problems());
    EXPECT_EQ(mine.problems, Problems()) << r.out;
    ASSERT_EQ(real.columns.size(), 3u);
    ASSERT_EQ(mine.columns.size(), 3u);
    // Five device digits widen the name column by one; the device column
    // is the sample's, with its titles at the same offsets.
    EXPECT_EQ(width(mine.columns[0]), width(real.columns[0]) + 1);
    EXPECT_EQ(width(mine.columns[1]), std::string("???:???").size());
    EXPECT_EQ(width(mine.columns[2]), width(real.columns[2]));
    EXPECT_EQ(offsets(mine), offsets(real));
    // What the rows hold is read by the plug-in's parsers (ParserCrossCheck).
  }
  Result r = Run("symdev", "list -noport");
  EXPECT_EQ(r.out.find("00100"), std::string::npos);  // masked sources have ports
  EXPECT_NE(r.out.find("???:???"), std::string::npos);
  r = Run("symdev", "list -devs 00100");
  EXPECT_NE(r.out.find("***:***"), std::string::npos);  // two ports of the port group
}

// Listings without a published sample keep their rulers as wide as the
// columns under them too.
TEST_F(SampleLayoutTest, EveryListingsRulersFitItsColumns) {
  std::string d1 = world_.WriteFile("d1", "00100\n"), d2 = world_.WriteFile("d2", "00100 00200\n");
  std::string d3 = world_.WriteFile("d3", "00300\n");
  std::string name = "PZ_20261206221837_e9uama_e99874";  // the plug-in's snapshot names
  world_.MustAdmin({"set", "restore_listings", "4"});
  world_.MustAdmin({"device", "--sid", sid_, "--dev", "00300", "--cyl", "50"});
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "SG_r", "--devs", "00300"});
  for (const std::string& step : {"-file " + d1 + " -name " + name + " establish",
                                  "-file " + d2 + " -snapshot_name " + name + " link",
                                  "-file " + d3 + " -name r establish",
                                  "-file " + d3 + " -snapshot_name r restore"})
    ASSERT_EQ(Run("symsnapvx", step + " -noprompt").exitCode, 0) << step;
  const std::string tgt = demo_["targetStorageGroup"];
  const std::string args[][2] = {
      {"symsnapvx", "-devs 00100 list"},
      {"symsnapvx", "-devs 00100 -snapshot_name " + name + " list -linked"},
      {"symsnapvx", "list -linked -by_tgt"},
      {"symsnapvx", "-file " + d3 + " list -restored"},
      {"symsnapvx", "-file " + d3 + " -snapshot_name r list -restored -detail"},
      {"symsg", "list"},
      {"symsg", "show " + tgt},
      {"symaccess", "list view -name MV_" + host_ + "_src -v"},
      {"symdev", "list -sg " + tgt + " -tdev -cyl"},
  };
  for (const auto& a : args) {
    Result r = Run(a[0], a[1]);
    ASSERT_EQ(r.exitCode, 0) << a[1] << r.err;
    EXPECT_EQ(TableGeometry(r.out, false).problems, Problems()) << a[1] << "\n" << r.out;
  }
}

// Tag paths of an XML text ("/SymCLI_ML/SG/SG_Info/name").
std::set<std::string> TagPaths(const std::string& xml) {
  std::set<std::string> paths;
  std::string path;
  std::regex tag("<(/?)([A-Za-z_]+)[^>]*>");
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), tag); it != std::sregex_iterator();
       ++it) {
    if ((*it)[1] == "/") path.erase(std::min(path.size(), path.rfind('/')));
    else paths.insert(path += "/" + (*it)[2].str());
  }
  return paths;
}

TEST_F(SampleLayoutTest, StorageGroupXmlListing) {
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "SG_c1", "--devs", "00220"});
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "CSG_p", "--child", "SG_c1"});
  Result r = Run("symsg", "list -v -output xml");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(TagPaths(r.out), TagPaths(Sample("symsg_list_v_xml__1.txt")));
  EXPECT_NE(r.out.find("<Cascade_Status>IsChild</Cascade_Status>"), std::string::npos);
  EXPECT_EQ(r.out.rfind("<?xml version=\"1.0\" standalone=\"yes\" ?>", 0), 0u);
}

}  // namespace
