// Snapshot unique identifiers issued at prepare: valid SnapVX snapshot names
// (letters, digits, '_' and '-', at most 32 characters), unique across jobs
// and across the hosts that share an array.
#pragma once

#include <cstdint>
#include <string>

namespace pzhost {

constexpr size_t kMaxSnapNameLength = 32;

// "PZ_" + UTC time (YYYYmmddHHMMSS) + "_" + 6 random base-36 characters + "_"
// + 6 hex digits of a hash of the host name: 31 characters.
std::string MakeSnapName(int64_t nowSeconds, const std::string& hostName,
                         uint64_t random);
bool IsValidSnapName(const std::string& name);
// Random bits from the system's source.
uint64_t RandomBits();

}  // namespace pzhost
