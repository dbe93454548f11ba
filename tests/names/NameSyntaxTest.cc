// The name checks on their own: real-world names pass, every form that could
// split a command line or read as an option fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "array/NameSyntax.h"
#include "tests/runtime/TempDir.h"

namespace {

using namespace namesyntax;

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// Characters that split a line, end a quote or mean something to a shell.
const std::vector<std::string> kHostile = {
    " ", "\t", "\n", "\r", "\"", "'", "\\", ";", "|", "&&", "$(x)", "`x`",
    "<", ">", "*", "?", "/", ",", "=", "#", std::string(1, '\0')};

// Per kind: names that pass, names that fail, the longest one that passes
// (one more character fails), and where hostile characters are put in.
TEST(NameSyntax, KindsAcceptTheirNamesAndRefuseTheRest) {
  struct Case {
    const char* kind;
    bool (*check)(const std::string&);
    std::vector<std::string> good, bad;
    std::string longest;
    std::vector<std::pair<std::string, std::string>> around;  // hostile in between
  } cases[] = {
      {"serial", IsArraySerial, {"000197900123", "000xxxxxx815"},  // anonymised, letters kept
       {"", "-sid", "0001_97"}, Repeat('9', 32), {{"000197", "900123"}}},
      {"group", IsGroupName,
       {"sg1", "SG_prod-01.db:a", "elcsesx_devs", "CSG_XXX1", "MV_LNXDBSRV001", "a", "sg-"},
       {"", "-noprompt", "sg\xC3\xA9"},  // an option; non-ASCII letters
       Repeat('g', 64), {{"sg", "1"}, {"", "sg"}, {"sg", ""}}},
      // Group names may hold dots and colons, snapshot names may not.
      {"snapshot", IsSnapshotName, {"SP_12_1612339509", "daily-snap_01"},
       {"", "-symforce", "snap.1", "snap:1"}, Repeat('s', 32), {{"snap", "A"}}},
      {"initiator", IsInitiatorName,
       {"2100001b32084524", "500009730F0AB104", "50:00:09:73:f0:0a:b1:04",
        "iqn.1994-05.com.redhat:5a1b2c3d4e5f", "iqn.1998-01.com.vmware:esx01-6d4f3c21",
        "iqn.1991-05.com.microsoft:Host1.Corp.Example", "iqn.2001-04", "eui.02004567A425678D",
        "naa.52004567BA64678D", "naa.62004567BA64678D0123456789ABCDEF"},
       {"50000973F0AB104", "500009730F0AB1044", "500009730F0AB10G", "50:00:09:73:f0:0a:b1:0",
        "500:0:09:73:f0:0a:b1:04", "50:00:09:73:f0:0a:b1:04:", "0x500009730f0ab104", "",
        "iqn.", "iqn.94-05.com.x", "iqn.1994_05.com.x", "iqn.1994-05com.x", "iqn.1994-05.",
        "IQN.1994-05.com.x", "eui.02004567A425678", "naa.52004567BA64678D01",
        "iqn.1994-05.com." + Repeat('a', 223)},
       "", {{"50000973", "0F0AB104"}, {"iqn.1994-05.com.redhat:", ""}}},
      {"device", IsDeviceNumber, {"1", "0B59", "00027", "0019E", "fffff"},
       {"", "000A10", "0G59", "0B59:0B5A", "0B59,0B5A"},  // six digits; a range is no device
       "", {{"0", "1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    for (const auto& v : c.good) EXPECT_TRUE(c.check(v)) << v;
    for (const auto& v : c.bad) EXPECT_FALSE(c.check(v)) << v;
    if (!c.longest.empty()) {
      EXPECT_TRUE(c.check(c.longest));
      EXPECT_FALSE(c.check(c.longest + c.longest.back()));
    }
    for (const auto& [before, after] : c.around)
      for (const std::string& h : kHostile) EXPECT_FALSE(c.check(before + h + after)) << h;
  }
}

// Device files stay in the temporary directory, named plainly; the tool
// directory may hold blanks but nothing that ends a quote.
TEST(NameSyntax, DeviceFilesAndToolDirectory) {
  const std::string tmp = "/var/pz/tmp";
  for (auto [path, dir, ok] :
       {std::tuple{tmp + "/FLVMAX_12_2021.02.03-08.05.09.txt", tmp, true},
        {"/var/pz/tmp//FLVMAX_1.txt", "/var/pz/tmp/", true},
        {"/var/pz/tmpother/FLVMAX_1.txt", tmp, false}, {"/etc/passwd", tmp, false},
        {tmp + "/../../etc/FLVMAX_1.txt", tmp, false}, {tmp + "/", tmp, false}, {tmp, tmp, false},
        {"/x/FLVMAX_1.txt", "", false}, {"-x/FLVMAX_1.txt", "-x", false},
        {"/my tmp/FLVMAX_1.txt", "/my tmp", false}})
    EXPECT_EQ(ok, IsDeviceFilePath(path, dir)) << path << " in " << dir;
  for (const char* h : {" ", "\"", "'", "\\", "\n", "\t"})
    EXPECT_FALSE(IsDeviceFilePath(tmp + "/FL" + h + "VMAX.txt", tmp)) << h;
  EXPECT_TRUE(IsToolDirectory("/opt/EMC Solutions/SYMCLI"));
  for (const char* bad : {"/opt/emc\" -sid 1 \"x", "/opt/emc\\", "/opt/emc\n", ""})
    EXPECT_FALSE(IsToolDirectory(bad)) << bad;
  // The kinds dispatch to their checks.
  EXPECT_TRUE(IsValid(NameKind::kStorageGroup, "sg.a"));
  EXPECT_FALSE(IsValid(NameKind::kSnapshotName, "sg.a"));
  EXPECT_TRUE(IsValid(NameKind::kMaskingView, "mv:1"));
  EXPECT_FALSE(IsValid(NameKind::kArraySerial, "A-1"));
}

// Names in log lines: every byte that could break a line or a quote is
// escaped, and a long name is cut.
TEST(NameSyntax, PrintableEscapesAndBounds) {
  EXPECT_EQ("sg1", Printable("sg1"));
  EXPECT_EQ("a\\x0Ab\\x22c\\x5C\\x27", Printable("a\nb\"c\\'"));
  EXPECT_EQ("\\x00\\xC3", Printable(std::string("\0\xC3", 2)));
  std::string longText = Printable(Repeat('x', 500));
  EXPECT_LT(longText.size(), 110u);
  EXPECT_EQ("...", longText.substr(longText.size() - 3));
}

// Every name of the real tool outputs that the plug-in could hand back to a
// tool passes its check (and each kind was found, not skipped).
TEST(NameSyntax, EveryNameOfTheRealSamplesPasses) {
  struct Kind {
    bool (*check)(const std::string&);
    std::vector<const char*> patterns;
    size_t least, found;
  } kinds[] = {
      {IsArraySerial, {R"(Symmetrix ID\s*:\s*(\S+))", R"(<symid>([^<]*)</symid>)"}, 10, 0},
      {IsGroupName,
       {R"((?:Storage Group|Masking View|Initiator Group|Port Group) Name\s*:\s*(\S+))",
        R"(<name>([^<]*)</name>)", R"(\n\s*(MV_\S+)\n)",
        R"(\n(elcsesx\S*)\s+(\S+)\s+(\S+)\s+(\S+))"},  // the view listing's row
       12, 0},
      {IsInitiatorName, {R"(WWN\s*:\s*(\S+))"}, 3, 0},
      {IsDeviceNumber, {R"(\n([0-9A-F]{4,5}) )", R"(<dev_name>([^<]*)</dev_name>)"}, 19, 0},
  };
  const std::string dir = std::string(PZ_SHARED_DIR) + "/symcli-samples";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".txt") continue;
    const std::string text = runtime_test::ReadFile(entry.path().string());
    for (Kind& k : kinds)
      for (const char* p : k.patterns) {
        std::regex re(p);
        for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
          for (size_t g = 1; g < it->size(); ++g, ++k.found)
            EXPECT_TRUE(k.check((*it)[g].str())) << entry.path() << ": " << (*it)[g];
      }
  }
  for (const Kind& k : kinds) EXPECT_GE(k.found, k.least) << k.patterns[0];
}

}  // namespace
