// Array device numbers as the tools read and print them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace symsim {

// Largest device number of a VMAX3/PowerMax array (five hex digits).
constexpr int64_t kMaxDevice = 0xFFFF;

// Parses one device number (hex, 1 to 5 digits, optional 0x); -1 when the
// text is not one.
int64_t ParseDev(const std::string& text);
// Five upper-case digits, as VMAX3 and PowerMax print them.
std::string FormatDev(int64_t dev);
// "1A,1B,20:22" (commas, A:B ranges); false with `error` on a bad item.
bool ParseDevList(const std::string& text, std::vector<int64_t>* out,
                  std::string* error);
// Device ranges "00510:00514" joined by blanks (sorted input).
std::string CompressRanges(const std::vector<int64_t>& devs);
// Folds an FC port name to 16 lower-case digits without colons; other
// names (iSCSI) are returned unchanged.
std::string NormalizeInitiator(const std::string& name);
bool IsFcName(const std::string& name);

}  // namespace symsim
