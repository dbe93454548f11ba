// The command lines of the array command layer, exactly as it formats them
// (format strings with the quoted executable), in an order that makes each
// valid: each is accepted and prints the marker its parser looks for.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/simulator/SimWorld.h"

namespace {

struct Line {
  const char* tool;
  const char* format;  // after ` "%s" `; %s: serial, then `arg`
  const char* arg;     // device file content (written to a file) or text
  bool file;           // `arg` is a device file's content
  int exitCode;        // 0, or 1 where the tool reports "nothing there"
  const char* marker;  // in standard output + standard error
};

const Line kLines[] = {
    {"symcli", "", "", false, 0, "Version V"},
    {"symsnapvx", "-sid %s -file %s -name snapT establish -noprompt", "00100\n00102\n", true, 0, "successfully"},
    {"symsnapvx", "-sid %s -devs %s -snapshot_name snapT list", "00100", false, 0, "Flags:"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT list", "00100\n00102\n", true, 0, "Flags:"},
    {"symsnapvx", "-sid %s -devs %s -snapshot_name snapT list -linked", "00100", false, 1,
     "do not have any Snapvx information."},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT link -noprompt", "00100 00200\n00102 00214\n", true, 0, "successfully"},
    {"symsnapvx", "-sid %s list -linked -by_tgt -lndev %s", "00200,00214", false, 0, "Flgs:"},
    {"symsnapvx", "-sid %s -devs %s -snapshot_name snapT list -linked", "00100", false, 0, "Flgs:"},
    {"symsnapvx", "-sid %s list -linked -by_tgt", "", false, 0, "Flgs:"},
    {"symsnapvx", "-sid  %s -file %s -snapshot_name snapT unlink -symforce -noprompt", "00100 00200\n", true, 0, "successfully"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT unlink -noprompt", "00102 00214\n", true, 0, "successfully"},
    {"symsnapvx", "-sid %s list -linked -by_tgt -lndev %s", "00200", false, 1, "No link target was found"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT link -copy -noprompt", "00100 00201\n", true, 0, "successfully"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT unlink -noprompt", "00100 00201\n", true, 0, "successfully"},
    {"symsnapvx", "-sid %s -file %s list -restored", "00100\n", true, 1, "do not have any Snapvx information."},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT restore -noprompt", "00100\n00102\n", true, 0, "successfully"},
    {"symsnapvx", "-sid %s -file %s list -restored", "00100\n00102\n", true, 0, "Flgs:"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT list -restored -detail", "00100\n00102", true, 0, "(%)"},
    // A restore is done at its third listing: the follower polls again.
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT list -restored -detail", "00100\n00102", true, 0, "100"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT terminate -restored -noprompt", "00100\n00102", true, 0, "successfully"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT terminate -restored -noprompt", "00100", true, 1,
     "The Source device and the Target device do not form a Copy session"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT terminate -noprompt", "00100\n00102\n", true, 0, "successfully"},
    {"symsg", "-sid %s -file %s -sg SG_demohost_mount addall -noprompt", "00200\n", true, 0, "Done"},
    {"symaccess", "-sid %s -type storage list -dev %s", "00200", false, 0, "SG_demohost_mount"},
    {"symaccess", "-sid %s -type initiator -wwn %s list -detail -v", "10000000c9a1b201", false, 0, "Masking View Names"},
    {"symaccess", "-sid %s list view -name %s -v", "MV_demohost_mount", false, 0, "Storage Group Name"},
    {"symsg", "-sid %s list", "", false, 0, "Legend:"},
    {"symsg", "-sid %s show %s", "SG_demohost_mount", false, 0, "Number of Gatekeepers"},
    {"symdev", "-sid %s list -sg %s", "SG_demohost_mount", false, 0, "00200"},
    {"symdev", "-sid %s list -sg %s -noport -tdev", "SG_snap_targets", false, 0, "00201"},
    {"symdev", "-sid %s list -sg %s -tdev -cyl", "SG_snap_targets", false, 0, "(Cyl)"},
    {"symdev", "-sid %s list -devs %s -cyl", "00100,00102", false, 0, "00102"},
    {"symsg", "-sid %s -file %s -sg SG_demohost_mount rmall -noprompt", "00200\n", true, 0, "Done"},
};

TEST(CommandTable, EveryCommandLineIsAcceptedAndPrintsItsMarker) {
  simtest::SimWorld world;
  std::string sid = world.InitDemo()["serial"];
  int n = 0;
  for (const Line& l : kLines) {
    std::string arg = l.file ? world.WriteFile("dev" + std::to_string(n++), l.arg) : l.arg;
    char args[512];
    std::snprintf(args, sizeof args, l.format, sid.c_str(), arg.c_str());
    simtest::Result r = world.Tool(l.tool, args);
    std::string both = r.out + r.err;
    EXPECT_EQ(r.exitCode, l.exitCode) << l.tool << " " << args << "\n" << both;
    EXPECT_NE(both.find(l.marker), std::string::npos) << l.tool << " " << args << "\n" << both;
    if (l.exitCode != 0) {
      EXPECT_EQ(r.out.find(l.marker), std::string::npos) << "not on standard error";
    }
  }
  // The audit log holds every command, in order, with its exit code.
  auto audit = world.Audit();
  ASSERT_EQ(audit.size(), sizeof kLines / sizeof kLines[0]);
  for (size_t i = 0; i < audit.size(); ++i) {
    EXPECT_EQ(audit[i]["tool"], kLines[i].tool);
    EXPECT_EQ(audit[i]["exitCode"], kLines[i].exitCode);
  }
}

// What the tools refuse, as the real ones do: a failing exit code and the
// text the plug-in's parsers or an operator read.
TEST(CommandTable, RefusalsFailWithTheRealTexts) {
  simtest::SimWorld world;
  nlohmann::json demo = world.InitDemo();
  std::string sid = demo["serial"];
  world.MustAdmin({"sg", "--sid", sid, "--name", "SG_c1", "--devs", "00220"});
  world.MustAdmin({"sg", "--sid", sid, "--name", "CSG_p", "--child", "SG_c1"});
  world.MustAdmin({"device", "--sid", sid, "--dev", "00400", "--cyl", "10"});
  std::string s = "-sid " + sid + " ";
  struct Case {
    const char* tool;
    std::string args;
    const char* text;
  } cases[] = {
      {"symsnapvx", s + "-bogus list", "-bogus"},
      {"symsnapvx", s + "list -devs", "-devs"},
      {"symsnapvx", "-sid 999999999999 list", ""},
      {"symsnapvx", s + "-file " + world.WriteFile("u", "0FFFE\n") + " -name x establish -noprompt", ""},
      {"symsnapvx", s + "list -linked -by_tgt", ""},
      {"symsnapvx", s + "-devs 00102 -snapshot_name none list", "No snapshot was found"},
      {"symsg", s + "frobnicate", ""},
      {"symsg", s + "-file " + world.WriteFile("p", "00222\n") + " -sg CSG_p addall -noprompt",
       "Individual devices cannot be added to or removed"},
      {"symaccess", s + "-type storage list -dev 00400", "No Storage groups could be found"},
      {"symaccess", s + "-type initiator -wwn 10000000c9ffffff list -detail -v", "was not found"},
      {"symaccess", s + "list view -name nosuch -v", "was not found"},
      {"symdev", s + "list -devs 0FFFF -cyl", ""},
      {"symdev", s + "list -sg nosuch", ""},
  };
  for (const Case& c : cases) {
    simtest::Result r = world.Tool(c.tool, c.args);
    EXPECT_NE(r.exitCode, 0) << c.tool << " " << c.args;
    EXPECT_FALSE(r.err.empty()) << c.tool << " " << c.args;
    EXPECT_NE((r.out + r.err).find(c.text), std::string::npos) << c.tool << " " << c.args << "\n"
                                                               << r.out << r.err;
  }
  // The last digits of the serial name the array too.
  EXPECT_NE(world.Tool("symdev", "-sid 123 list -devs 100").out.find(sid), std::string::npos);
}

}  // namespace
