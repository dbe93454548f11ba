// The name-value scanner and the secret masking of array records.
// Input: first line the item name to look for, the rest the record text.
//
// Besides memory safety it checks what callers rely on: a found value is a
// piece of the text within the advertised bounds, and when the text is a
// JSON object whose "hostPassword" is a plain string, that password never
// reaches a log line or a masked copy.
#include <cstring>

#include <nlohmann/json.hpp>

#include "hostdev/VMAXUtils.h"
#include "hostruntime/LogMask.h"
#include "tests/fuzz/FuzzHost.h"

namespace {

constexpr size_t kMaxValueLength = 1023;
constexpr size_t kMinCheckedSecret = 4;
const char kPasswordItem[] = "hostPassword";

// The password of `text` when it is a JSON object holding it as a string
// that appears once, unescaped, in the text; empty otherwise.
std::string CheckableSecret(const std::string& text) {
  nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return {};
  auto it = doc.find(kPasswordItem);
  if (it == doc.end() || !it->is_string()) return {};
  std::string secret = it->get<std::string>();
  if (secret.size() < kMinCheckedSecret) return {};
  std::string quoted = "\"" + secret + "\"";
  size_t at = text.find(quoted);
  if (at == std::string::npos || text.find(secret, at + 1) != std::string::npos)
    return {};
  return secret;
}

void ScanAll(const std::string& text, const std::string& name) {
  std::string value;
  if (parseJSONString(text, name, value)) {
    if (value.size() > kMaxValueLength)
      fuzzing::Fail("value longer than the host buffer", name);
    if (text.find(value) == std::string::npos)
      fuzzing::Fail("value is not part of the text", value);
  }
}

// Everything the scanners and maskers leave behind for `text`: log lines
// and masked copies, one text.
std::string RunAll(const std::string& text, const std::string& name) {
  testing_host::FakeEnv& host = fuzzing::FreshHost();
  ScanAll(text, name);
  for (const char* item : {"engineId", "hostName", "hostUserName", kPasswordItem})
    ScanAll(text, item);
  return maskSecrets(text) + "\n" + hostrt::MaskSecrets(text) + "\n" + host.allLogs();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name, text;
  fuzzing::SplitHead(data, size, &name, &text);
  std::string left = RunAll(text, name);

  std::string secret = CheckableSecret(text);
  if (secret.empty() || left.find(secret) == std::string::npos) return 0;
  // The secret shows: fine only if it shows as well when the password is
  // something else (it is then the item name or a fixed text).
  std::string other = text;
  other.replace(other.find("\"" + secret + "\"") + 1, secret.size(),
                std::string(secret.size(), 'Q'));
  if (RunAll(other, name).find(secret) == std::string::npos)
    fuzzing::Fail("password left in a log line or masked text", left);
  return 0;
}
