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
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT terminate -restored -noprompt", "00100\n00102", true, 0, "successfully"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT terminate -restored -noprompt", "00100", true, 1,
     "The Source device and the Target device do not form a Copy session"},
    {"symsnapvx", "-sid %s -file %s -snapshot_name snapT terminate -noprompt", "00100\n00102\n", true, 0, "successfully"},
    {"symsg", "-sid %s -file %s -sg SG_demohost_mount addall -noprompt", "00200\n", true, 0, "Done"},
    {"symsg", "-sid %s -file %s -sg SG_demohost_mount addall -noprompt", "00200\n", true, 1,
     "The device is already a member of the storage group"},
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
    {"symsg", "-sid %s -file %s -sg SG_demohost_mount rmall -noprompt", "00200\n", true, 1, "was not found"},
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

}  // namespace
