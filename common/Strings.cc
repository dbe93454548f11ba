#include "common/Strings.h"

namespace {

template <typename Container>
std::string Join(const Container& items, const char* separator) {
  std::string out;
  const char* sep = separator ? separator : "";
  bool first = true;
  for (const std::string& item : items) {
    if (!first) out += sep;
    out += item;
    first = false;
  }
  return out;
}

}  // namespace

std::string concatStrings(const std::vector<std::string>& items,
                          const char* separator) {
  return Join(items, separator);
}

std::string concatStrings(const std::list<std::string>& items,
                          const char* separator) {
  return Join(items, separator);
}
