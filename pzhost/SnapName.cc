#include "pzhost/SnapName.h"

#include <ctime>
#include <random>

namespace pzhost {

namespace {
constexpr int kRandomChars = 6;
constexpr int kHostHashDigits = 6;
constexpr uint32_t kHostHashMask = 0xffffffu;  // six hex digits
constexpr uint32_t kFnvOffset = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;

uint32_t Fnv1a(const std::string& text) {
  uint32_t h = kFnvOffset;
  for (unsigned char c : text) {
    h ^= c;
    h *= kFnvPrime;
  }
  return h;
}
}  // namespace

std::string MakeSnapName(int64_t nowSeconds, const std::string& hostName,
                         uint64_t random) {
  static const char kBase36[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::time_t when = std::time_t(nowSeconds);
  std::tm tm;
  gmtime_r(&when, &tm);
  char stamp[16];
  strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
  std::string name = std::string("PZ_") + stamp + "_";
  for (int i = 0; i < kRandomChars; ++i) {
    name += kBase36[random % 36];
    random /= 36;
  }
  char hash[16];
  snprintf(hash, sizeof hash, "_%0*x", kHostHashDigits,
           unsigned(Fnv1a(hostName) & kHostHashMask));
  return name + hash;
}

bool IsValidSnapName(const std::string& name) {
  if (name.empty() || name.size() > kMaxSnapNameLength) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

uint64_t RandomBits() {
  std::random_device device;
  return (uint64_t(device()) << 32) ^ uint64_t(device());
}

}  // namespace pzhost
