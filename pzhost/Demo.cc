#include "pzhost/Verbs.h"

namespace pzhost {

int RunDemo(const GlobalOptions& global, Output* out, const DemoOptions& o) {
  (void)global;
  (void)o;
  out->Error("demo: not ready");
  return kExitFailure;
}

}  // namespace pzhost
