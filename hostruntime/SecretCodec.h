// Encoded form of the secrets the host database keeps (array passwords).
// Only the host database holds the encoded text; the decoded text is handed
// to the plug-in and written nowhere.
#pragma once

#include <string>

namespace hostrt {

// Prefix of every encoded secret.
constexpr const char* kSecretPrefix = "pzenc1:";

std::string EncodeSecret(const std::string& plain);
// False when `encoded` is not an encoded secret.
bool DecodeSecret(const std::string& encoded, std::string* plain);

}  // namespace hostrt
