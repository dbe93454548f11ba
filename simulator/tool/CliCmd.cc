// symcli: the banner with the Solutions Enabler version (its wording beyond
// "Version V" is unconfirmed).
#include "simulator/tool/Tool.h"

namespace symsim {

namespace {
constexpr char kEditLevel[] = "2539";
}  // namespace

int RunCli(Invocation* inv) {
  if (!inv->argv.empty() && inv->argv[0] != "-def" && inv->argv[0] != "-v") {
    return inv->Fail("Unrecognized option: '" + inv->argv[0] + "'", kExitUsage);
  }
  std::string v = inv->db->Setting(kSetSeVersion, kDefaultSeVersion);
  inv->out += "\nSymmetrix Command Line Interface (SYMCLI) Version V" + v + " (Edit Level: " +
              kEditLevel + ")\nbuilt with SYMAPI Version V" + v + " (Edit Level: " + kEditLevel +
              ")\n\n";
  return kExitOk;
}

}  // namespace symsim
