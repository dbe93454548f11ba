// Command lines the tools refuse. The lines the plug-in's command layer
// writes, and the markers its parsers look for, are run against the
// simulator by every end-to-end verb (tests/e2e, tests/hardening).
#include <gtest/gtest.h>

#include "tests/simulator/SimWorld.h"

namespace {

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
