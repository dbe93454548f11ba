#include "hostruntime/Env.h"

#include <atomic>

namespace hostrt {

Env::~Env() = default;

namespace {
std::atomic<Env*> g_current{nullptr};
}  // namespace

Env* CurrentEnv() {
  Env* env = g_current.load(std::memory_order_acquire);
  return env ? env : DefaultEnv();
}

Env* SetCurrentEnv(Env* env) {
  return g_current.exchange(env, std::memory_order_acq_rel);
}

}  // namespace hostrt
