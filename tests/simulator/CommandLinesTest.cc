// Every command line the array command layer writes, run against the demo
// world, and the columns, markers and texts its parsers read.
#include <gtest/gtest.h>

#include "tests/simulator/SimWorld.h"

namespace {

using simtest::Lines;
using simtest::Result;
using simtest::SimWorld;
using simtest::TableRows;
using simtest::Words;

std::string Both(const Result& r) { return r.out + r.err; }

// Rows of a restore progress listing: after the last "(%)", up to the last
// "----", without ruler lines.
std::vector<std::string> ProgressRows(const std::string& out) {
  size_t start = out.rfind("(%)");
  size_t end = out.rfind("----");
  std::vector<std::string> rows;
  if (start == std::string::npos || end == std::string::npos || end < start) return rows;
  for (const std::string& line : Lines(out.substr(start + 3, end - start - 3))) {
    if (line.find("----") == std::string::npos && !Words(line).empty()) rows.push_back(line);
  }
  return rows;
}

class CommandLinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo_ = world_.InitDemo();
    sid_ = demo_["serial"];
  }
  Result Run(const std::string& tool, const std::string& args) { return world_.Tool(tool, args); }
  Result MustRun(const std::string& tool, const std::string& args) {
    Result r = Run(tool, args);
    EXPECT_EQ(r.exitCode, 0) << tool << " " << args << "\n" << r.out << r.err;
    return r;
  }
  std::string File(const std::string& content) {
    return world_.WriteFile("f" + std::to_string(files_++) + ".txt", content);
  }
  void Snap(const std::string& devs, const std::string& name) {
    MustRun("symsnapvx", "-sid " + sid_ + " -file " + File(devs) + " -name " + name +
                             " establish -noprompt");
  }
  SimWorld world_;
  nlohmann::json demo_;
  std::string sid_;
  int files_ = 0;
};

TEST_F(CommandLinesTest, SnapshotCreateListAndTerminate) {
  Snap("00100\n00101\n", "snapA");
  Result r = MustRun("symsnapvx", "-sid " + sid_ + " -devs 00100 -snapshot_name snapA list");
  std::vector<std::string> rows = TableRows(r.out, "Flags:");
  ASSERT_EQ(rows.size(), 1u) << r.out;
  std::vector<std::string> w = Words(rows[0]);
  EXPECT_EQ(w[0], "00100");
  EXPECT_EQ(w[1], "snapA");
  ASSERT_GT(w[3].size(), 3u);
  EXPECT_EQ(w[3].substr(0, 3), "...");

  r = MustRun("symsnapvx", "-sid " + sid_ + " -file " + File("00100\n00101\n") +
                               " -snapshot_name snapA list");
  rows = TableRows(r.out, "Flags:");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Words(rows[1])[0], "00101");

  r = Run("symsnapvx", "-sid " + sid_ + " -devs 00102 -snapshot_name snapA list");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(Both(r).find("No snapshot was found"), std::string::npos);

  MustRun("symsnapvx", "-sid " + sid_ + " -file " + File("00100\n00101\n") +
                           " -snapshot_name snapA terminate -noprompt");
  r = Run("symsnapvx", "-sid " + sid_ + " -devs 00100 -snapshot_name snapA list");
  EXPECT_NE(Both(r).find("No snapshot was found"), std::string::npos);
  // A second terminate fails: nothing is left to terminate.
  r = Run("symsnapvx", "-sid " + sid_ + " -file " + File("00100\n") +
                           " -snapshot_name snapA terminate -noprompt");
  EXPECT_NE(r.exitCode, 0);
}

TEST_F(CommandLinesTest, LinkListingsAndUnlink) {
  Snap("00100\n00102\n", "snapL");
  Result r = Run("symsnapvx", "-sid " + sid_ + " -devs 00100 -snapshot_name snapL list -linked");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("do not have any Snapvx information."), std::string::npos);
  r = Run("symsnapvx", "-sid " + sid_ + " list -linked -by_tgt");
  EXPECT_NE(r.exitCode, 0);

  MustRun("symsnapvx", "-sid " + sid_ + " -file " + File("00100 00200\n00102 00214\n") +
                           " -snapshot_name snapL link -noprompt");
  r = MustRun("symsnapvx", "-sid " + sid_ + " -devs 00100 -snapshot_name snapL list -linked");
  std::vector<std::string> rows = TableRows(r.out, "Flgs:");
  ASSERT_EQ(rows.size(), 1u) << r.out;
  std::vector<std::string> w = Words(rows[0]);
  ASSERT_GT(w[3].size(), 4u);
  EXPECT_EQ(w[3][0], '.');  // not failed
  EXPECT_EQ(w[3][3], 'X');  // defined

  r = MustRun("symsnapvx", "-sid " + sid_ + " list -linked -by_tgt");
  rows = TableRows(r.out, "Flgs:");
  ASSERT_EQ(rows.size(), 2u) << r.out;
  EXPECT_EQ(Words(rows[0])[0], "00200");
  EXPECT_EQ(Words(rows[0])[1], "00100");
  EXPECT_EQ(Words(rows[1])[0], "00214");
  EXPECT_EQ(Words(rows[1])[1], "00102");

  r = MustRun("symsnapvx", "-sid " + sid_ + " list -linked -by_tgt -lndev 00214,00201");
  rows = TableRows(r.out, "Flgs:");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_NE(rows[0].find("snapL"), std::string::npos);
  r = Run("symsnapvx", "-sid " + sid_ + " list -linked -by_tgt -lndev 00201");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(Both(r).find("No link target was found"), std::string::npos);

  // The snapshot listing shows the link in flag 1.
  r = MustRun("symsnapvx", "-sid " + sid_ + " -devs 00100 -snapshot_name snapL list");
  EXPECT_EQ(Words(TableRows(r.out, "Flags:")[0])[3][1], 'X');

  MustRun("symsnapvx", "-sid " + sid_ + " -file " + File("00100 00200\n") +
                           " -snapshot_name snapL unlink -noprompt");
  MustRun("symsnapvx", "-sid  " + sid_ + " -file " + File("00102 00214\n") +
                           " -snapshot_name snapL unlink -symforce -noprompt");
  r = Run("symsnapvx", "-sid " + sid_ + " list -linked -by_tgt");
  EXPECT_NE(r.exitCode, 0);
  // Copy-mode links are listed as copied once defined.
  MustRun("symsnapvx", "-sid " + sid_ + " -file " + File("00100 00201\n") +
                           " -snapshot_name snapL link -copy -noprompt");
  r = MustRun("symsnapvx", "-sid " + sid_ + " -devs 00100 -snapshot_name snapL list -linked");
  EXPECT_EQ(Words(TableRows(r.out, "Flgs:")[0])[3][1], 'C');
}

TEST_F(CommandLinesTest, RestoreSessionsAndProgress) {
  Snap("00100\n00101\n", "snapR");
  std::string devs = File("00100\n00101\n");
  Result r = Run("symsnapvx", "-sid " + sid_ + " -file " + devs + " list -restored");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(Both(r).find("do not have any Snapvx information."), std::string::npos);
  world_.MustAdmin({"set", "restore_listings", "2"});
  MustRun("symsnapvx", "-sid " + sid_ + " -file " + devs + " -snapshot_name snapR restore -noprompt");

  r = MustRun("symsnapvx", "-sid " + sid_ + " -file " + devs + " list -restored");
  std::vector<std::string> rows = TableRows(r.out, "Flgs:");
  ASSERT_EQ(rows.size(), 2u) << r.out;
  EXPECT_EQ(Words(rows[0])[0], "00100");
  EXPECT_EQ(Words(rows[0])[1], "snapR");
  // The first listing counted; the detail listing is the second: done.
  std::string detail = " -snapshot_name snapR list -restored -detail";
  r = MustRun("symsnapvx", "-sid " + sid_ + " -file " + devs + detail);
  rows = ProgressRows(r.out);
  ASSERT_EQ(rows.size(), 2u) << r.out;
  EXPECT_EQ(Words(rows[0])[0], "00100");
  EXPECT_EQ(Words(rows[0]).back(), "100");
  EXPECT_EQ(Words(rows[1]).back(), "100");

  MustRun("symsnapvx", "-sid " + sid_ + " -file " + devs +
                           " -snapshot_name snapR terminate -restored -noprompt");
  r = Run("symsnapvx", "-sid " + sid_ + " -file " + devs +
                           " -snapshot_name snapR terminate -restored -noprompt");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(Both(r).find("The Source device and the Target device do not form a Copy session"),
            std::string::npos);
}

TEST_F(CommandLinesTest, StorageGroupCommands) {
  std::string mount = demo_["mountStorageGroup"];
  std::string file = File("00200\n00214\n");
  MustRun("symsg", "-sid " + sid_ + " -file " + file + " -sg " + mount + " addall -noprompt");
  Result r = Run("symsg", "-sid " + sid_ + " -file " + file + " -sg " + mount + " addall -noprompt");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(Both(r).find("The device is already a member of the storage group"), std::string::npos);

  r = MustRun("symdev", "-sid " + sid_ + " list -sg " + mount);
  std::vector<std::string> rows = TableRows(r.out, "\x01");
  ASSERT_EQ(rows.size(), 2u) << r.out;
  EXPECT_EQ(Words(rows[0])[0], "00200");

  r = MustRun("symaccess", "-sid " + sid_ + " -type storage list -dev 00200");
  rows = TableRows(r.out, "\x01");
  ASSERT_EQ(rows.size(), 2u) << r.out;
  EXPECT_EQ(rows[0], mount);
  EXPECT_EQ(rows[1], demo_["targetStorageGroup"].get<std::string>());
  r = Run("symaccess", "-sid " + sid_ + " -type storage list -dev 00227");
  EXPECT_EQ(r.exitCode, 0);
  world_.MustAdmin({"device", "--sid", sid_, "--dev", "00400", "--cyl", "10"});
  r = Run("symaccess", "-sid " + sid_ + " -type storage list -dev 00400");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(Both(r).find("No Storage groups could be found"), std::string::npos);

  MustRun("symsg", "-sid " + sid_ + " -file " + file + " -sg " + mount + " rmall -noprompt");
  r = Run("symsg", "-sid " + sid_ + " -file " + file + " -sg " + mount + " rmall -noprompt");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(Both(r).find("was not found"), std::string::npos);
}

// Parent groups are those whose column 2 (the flags) starts with "P".
std::set<std::string> Parents(const std::string& out) {
  size_t ruler = out.find("----");
  size_t legend = out.find("Legend:", ruler);
  std::set<std::string> parents;
  if (ruler == std::string::npos || legend == std::string::npos) return parents;
  std::string body = out.substr(ruler, legend - ruler);
  body = body.substr(body.find_first_not_of(" \r\n-"));
  for (const std::string& line : Lines(body)) {
    std::vector<std::string> w = Words(line);
    if (w.size() > 2 && w[2].size() > 2 && w[2][0] == 'P') parents.insert(w[0]);
  }
  return parents;
}

TEST_F(CommandLinesTest, CascadedGroupsPerSolutionsEnablerVersion) {
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "SG_c1", "--devs", "00220"});
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "SG_c2", "--devs", "00221"});
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "CSG_p", "--child", "SG_c1"});
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "CSG_p", "--child", "SG_c2"});
  Result r = MustRun("symsg", "-sid " + sid_ + " list");
  EXPECT_EQ(Parents(r.out), std::set<std::string>{"CSG_p"}) << r.out;

  // 9.2 and later: a "Child Storage Groups" block, one name a line.
  r = MustRun("symsg", "-sid " + sid_ + " show CSG_p");
  ASSERT_NE(r.out.find("Child Storage Groups"), std::string::npos) << r.out;
  size_t name = r.out.find("Storage Group Name");
  size_t ruler = r.out.find("----", name);
  size_t close = r.out.find("}", ruler);
  ASSERT_NE(close, std::string::npos);
  std::string block = r.out.substr(ruler, close - ruler);
  std::vector<std::string> children;
  for (const std::string& line : Lines(block)) {
    std::vector<std::string> w = Words(line);
    if (w.size() == 1 && w[0].find("---") == std::string::npos) children.push_back(w[0]);
  }
  EXPECT_EQ(children, (std::vector<std::string>{"SG_c1", "SG_c2"}));
  EXPECT_NE(r.out.find("Number of Gatekeepers"), std::string::npos);
  r = MustRun("symsg", "-sid " + sid_ + " show SG_c1");
  EXPECT_EQ(r.out.find("Child Storage Groups"), std::string::npos);

  // Older versions mark children "(IsChild)" between the names and the
  // gatekeeper count.
  world_.MustAdmin({"set", "se_version", "9.1.0.5"});
  r = MustRun("symcli", "");
  EXPECT_NE(r.out.find("Version V9.1.0.5"), std::string::npos);
  r = MustRun("symsg", "-sid " + sid_ + " show CSG_p");
  size_t section = r.out.find("Storage Group Name");
  ASSERT_NE(section, std::string::npos) << r.out;
  size_t colon = r.out.find(':', section + 18);
  size_t gks = r.out.find("Number of Gatekeepers", colon);
  ASSERT_NE(gks, std::string::npos);
  children.clear();
  for (const std::string& line : Lines(r.out.substr(colon + 1, gks - colon - 1))) {
    if (line.find("(IsChild)") != std::string::npos) children.push_back(Words(line)[0]);
  }
  EXPECT_EQ(children, (std::vector<std::string>{"SG_c1", "SG_c2"}));
  r = MustRun("symsg", "-sid " + sid_ + " show SG_c1");
  section = r.out.find("Storage Group Name");
  ASSERT_NE(section, std::string::npos);
  EXPECT_NE(r.out.find("Number of Gatekeepers", section), std::string::npos);
  EXPECT_EQ(r.out.find("(IsChild)"), std::string::npos);
  // A cascaded parent takes no devices of its own.
  r = Run("symsg", "-sid " + sid_ + " -file " + File("00222\n") + " -sg CSG_p addall -noprompt");
  EXPECT_NE(r.exitCode, 0);
  r = Run("symsg", "-sid " + sid_ + " -file " + File("00220\n") + " -sg CSG_p rmall -noprompt");
  EXPECT_NE(Both(r).find("Individual devices cannot be added to or removed"), std::string::npos);
}

TEST_F(CommandLinesTest, MaskingViewsOfAnInitiator) {
  std::string wwn = demo_["initiators"][0];
  Result r = MustRun("symaccess", "-sid " + sid_ + " -type initiator -wwn " + wwn +
                                      " list -detail -v");
  // The views stand in the brace block after the heading, one a line.
  size_t names = r.out.find("Masking View Names");
  ASSERT_NE(names, std::string::npos) << r.out;
  std::vector<std::string> views;
  std::vector<std::string> after = Lines(r.out.substr(names));
  ASSERT_GT(after.size(), 2u);
  EXPECT_EQ(Words(after[1]), std::vector<std::string>{"{"});
  for (size_t i = 2; i < after.size() && Words(after[i]) != std::vector<std::string>{"}"}; ++i) {
    views.push_back(Words(after[i])[0]);
  }
  std::string host = demo_["host"];
  EXPECT_EQ(views, (std::vector<std::string>{"MV_" + host + "_mount", "MV_" + host + "_src"}));
  // Upper case with colons names the same port.
  r = MustRun("symaccess", "-sid " + sid_ + " -type initiator -wwn 10:00:00:00:C9:A1:B2:01"
                           " list -detail -v");
  r = Run("symaccess", "-sid " + sid_ + " -type initiator -wwn 10000000c9ffffff list -detail -v");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(Both(r).find("was not found"), std::string::npos);

  r = MustRun("symaccess", "-sid " + sid_ + " list view -name MV_" + host + "_mount -v");
  ASSERT_NE(r.out.find("Masking View"), std::string::npos);
  std::string ig, pg, sg;
  for (const std::string& line : Lines(r.out)) {
    size_t c = line.rfind(':');
    if (c == std::string::npos) continue;
    std::vector<std::string> w = Words(line.substr(c + 1));
    std::string value = w.empty() ? "" : w[0];
    if (line.find("Initiator Group") != std::string::npos) ig = value;
    else if (line.find("Port Group") != std::string::npos) pg = value;
    else if (line.find("Storage Group") != std::string::npos) sg = value;
  }
  EXPECT_EQ(ig, "IG_" + host);
  EXPECT_EQ(pg, "PG_" + host);
  EXPECT_EQ(sg, demo_["mountStorageGroup"].get<std::string>());
  r = Run("symaccess", "-sid " + sid_ + " list view -name nosuch -v");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(Both(r).find("was not found"), std::string::npos);
}

TEST_F(CommandLinesTest, DeviceListingsAndSizes) {
  std::string tgt = demo_["targetStorageGroup"];
  // A linked target and a mapped target are no longer free.
  Snap("00100\n", "snapD");
  MustRun("symsnapvx", "-sid " + sid_ + " -file " + File("00100 00200\n") +
                           " -snapshot_name snapD link -noprompt");
  MustRun("symsg", "-sid " + sid_ + " -file " + File("00201\n") + " -sg " +
                       demo_["mountStorageGroup"].get<std::string>() + " addall -noprompt");
  Result r = MustRun("symdev", "-sid " + sid_ + " list -sg " + tgt + " -noport -tdev");
  std::vector<std::string> rows = TableRows(r.out, "\x01");
  EXPECT_EQ(rows.size(), 39u);  // 00201 is mapped now
  for (const std::string& row : rows) EXPECT_NE(Words(row)[0], "00201");

  r = MustRun("symdev", "-sid " + sid_ + " list -sg " + tgt + " -tdev -cyl");
  rows = TableRows(r.out, "\x01");
  ASSERT_EQ(rows.size(), 40u);
  for (const std::string& row : rows) {
    std::vector<std::string> w = Words(row);
    size_t field = row.find("Not Visible") != std::string::npos ? 7 : 6;
    ASSERT_GT(w.size(), field) << row;
    int64_t dev = std::stoll(w[0], nullptr, 16);
    EXPECT_EQ(std::stol(w[field]), dev < 0x214 ? 1092 : 2185) << row;
  }
  r = MustRun("symdev", "-sid " + sid_ + " list -devs 100,102 -cyl");
  rows = TableRows(r.out, "\x01");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Words(rows[0])[0], "00100");
  EXPECT_EQ(Words(rows[1])[7], "2185");
  // On the host the tools run on, visible devices show their path: the size
  // is then field 6.
  world_.MustAdmin({"set", "se_host", demo_["host"]});
  r = MustRun("symdev", "-sid " + sid_ + " list -devs 100,102,200 -cyl");
  rows = TableRows(r.out, "\x01");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(Words(rows[0])[1], demo_["sources"][0]["path"].get<std::string>());
  EXPECT_EQ(Words(rows[0])[6], "1092");
  EXPECT_EQ(Words(rows[1])[6], "2185");
  EXPECT_EQ(Words(rows[2])[1] + Words(rows[2])[2], "NotVisible");
  EXPECT_EQ(Words(rows[2])[7], "1092");
  r = Run("symdev", "-sid " + sid_ + " list -devs 0FFFF -cyl");
  EXPECT_NE(r.exitCode, 0);
  r = Run("symdev", "-sid " + sid_ + " list -sg nosuch");
  EXPECT_NE(r.exitCode, 0);
}

TEST_F(CommandLinesTest, BannerAndBadCommandLines) {
  Result r = MustRun("symcli", "");
  EXPECT_NE(r.out.find("Version V9.2.1.6"), std::string::npos) << r.out;
  r = Run("symsnapvx", "-sid " + sid_ + " -bogus list");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("-bogus"), std::string::npos);
  r = Run("symsnapvx", "-sid " + sid_ + " list -devs");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("-devs"), std::string::npos);
  r = Run("symsnapvx", "-sid 999999999999 list");
  EXPECT_NE(r.exitCode, 0);
  r = Run("symsnapvx", "-sid " + sid_ + " -file " + File("0FFFE\n") + " -name x establish -noprompt");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_FALSE(r.err.empty());
  r = Run("symsg", "-sid " + sid_ + " frobnicate");
  EXPECT_NE(r.exitCode, 0);
  // The last digits of the serial name the array too.
  r = MustRun("symdev", "-sid 123 list -devs 100");
  EXPECT_NE(r.out.find(sid_), std::string::npos);
}

}  // namespace
