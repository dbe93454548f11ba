#include "common/Vocabulary.h"
#include "host/HostServices.h"

EvDebug& engineDebug() {
  static EvDebug debug("PZSOVMAX");
  return debug;
}
