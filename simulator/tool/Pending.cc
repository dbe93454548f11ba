// Tools whose commands are still to come.
#include "simulator/tool/Tool.h"

namespace symsim {
const ArgSpec& SnapvxSpec() { static const ArgSpec s; return s; }
const ArgSpec& AccessSpec() { static const ArgSpec s; return s; }
const ArgSpec& DevSpec() { static const ArgSpec s; return s; }
int RunSnapvx(Invocation* inv) { return inv->Fail("symsnapvx: not available yet"); }
int RunAccess(Invocation* inv) { return inv->Fail("symaccess: not available yet"); }
int RunDev(Invocation* inv) { return inv->Fail("symdev: not available yet"); }
}  // namespace symsim
