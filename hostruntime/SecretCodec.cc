#include "hostruntime/SecretCodec.h"

#include <cstring>

namespace hostrt {

namespace {

// Keeps casual readers of the database file from seeing the password; the
// file itself is private to its owner (mode 0600).
const unsigned char kKey[] = {0x5a, 0x13, 0xc7, 0x2e, 0x91, 0x44, 0xb8, 0x0d,
                              0x6f, 0xe2, 0x37, 0xa9, 0x1c, 0x80, 0xf5, 0x62};
const char kHex[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string EncodeSecret(const std::string& plain) {
  std::string out = kSecretPrefix;
  for (size_t i = 0; i < plain.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(plain[i]) ^ kKey[i % sizeof kKey];
    out += kHex[b >> 4];
    out += kHex[b & 0xf];
  }
  return out;
}

bool DecodeSecret(const std::string& encoded, std::string* plain) {
  size_t prefix = strlen(kSecretPrefix);
  if (!plain || encoded.compare(0, prefix, kSecretPrefix) != 0 ||
      (encoded.size() - prefix) % 2 != 0)
    return false;
  std::string out;
  for (size_t i = prefix, n = 0; i < encoded.size(); i += 2, ++n) {
    int hi = HexValue(encoded[i]), lo = HexValue(encoded[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>((hi << 4 | lo) ^ kKey[n % sizeof kKey]);
  }
  *plain = out;
  return true;
}

}  // namespace hostrt
