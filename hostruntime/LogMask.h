// Keeps secrets out of the host's log files: values named "hostPassword" and
// every secret the host has decoded in this process are masked before a
// line is written.
#pragma once

#include <string>

namespace hostrt {

constexpr const char* kMaskedSecret = "****";

// Remembers `secret` for the rest of the process (empty: ignored).
void RegisterSecret(const std::string& secret);
// `text` with every "hostPassword" value and every registered secret masked.
std::string MaskSecrets(const std::string& text);

}  // namespace hostrt
