// The CSV tokenizer of the configuration lists and the host's tokenizer
// under it. Input: four bytes (open quote, close quote, escape,
// separator), then the text.
#include <list>
#include <vector>

#include "config/VMAXConfig.h"
#include "host/HostServices.h"
#include "tests/fuzz/FuzzHost.h"

namespace {

constexpr size_t kControlBytes = 4;

std::string Join(const std::vector<std::string>& tokens, char separator) {
  std::string out;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (i) out += separator;
    out += tokens[i];
  }
  return out;
}

void CheckTokenize(const std::string& text, char open, char close, char escape,
                   char separator) {
  std::vector<std::string> tokens{"stale"};
  bool ok = CWvString::Tokenize(text, open, close, escape, separator, tokens);
  if (!ok) {
    if (!tokens.empty()) fuzzing::Fail("failed tokenize left tokens", text);
    return;
  }
  size_t chars = 0;
  for (const std::string& t : tokens) chars += t.size();
  if (tokens.empty() || chars > text.size())
    fuzzing::Fail("tokens do not fit the text", text);
  // Without quoting or escapes, tokenizing is plain splitting.
  if (text.find(open) == std::string::npos &&
      text.find(close) == std::string::npos &&
      text.find(escape) == std::string::npos &&
      Join(tokens, separator) != text)
    fuzzing::Fail("plain text does not split back", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::FreshHost();
  if (size < kControlBytes) return 0;
  std::string text(reinterpret_cast<const char*>(data) + kControlBytes,
                   size - kControlBytes);
  char open = char(data[0]), close = char(data[1]), escape = char(data[2]),
       separator = char(data[3]);
  CheckTokenize(text, open, close, escape, separator);
  CheckTokenize(text, '"', '"', '\\', ',');

  std::list<std::string> list{"previous"};
  bool ok = TokenizeCSVString(text, list);
  if (!ok && list != std::list<std::string>{"previous"})
    fuzzing::Fail("a bad list replaced the previous one", text);
  if (ok && !text.empty() && list.empty())
    fuzzing::Fail("a non-empty list gave no items", text);
  return 0;
}
