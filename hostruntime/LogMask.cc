#include "hostruntime/LogMask.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

namespace hostrt {

namespace {

constexpr const char* kPasswordName = "hostPassword";

std::mutex& SecretsMutex() {
  static std::mutex mu;
  return mu;
}

// Longest first, so a secret that contains another is masked whole.
struct LongerFirst {
  bool operator()(const std::string& a, const std::string& b) const {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  }
};

std::set<std::string, LongerFirst>& Secrets() {
  static std::set<std::string, LongerFirst>* secrets =
      new std::set<std::string, LongerFirst>;
  return *secrets;
}

bool EndsValue(char c) {
  return c == ',' || c == '}' || c == ']' || c == ' ' || c == '\t' ||
         c == '\n' || c == '\r' || c == ';' || c == '&';
}

// Masks the value after every "hostPassword" name: optional quotes and
// blanks, ":" or "=", then the value up to the item's end (quoted values up
// to the closing quote).
std::string MaskNamedValues(const std::string& text) {
  std::string out;
  size_t pos = 0;
  const size_t nameLength = strlen(kPasswordName);
  while (true) {
    size_t at = text.find(kPasswordName, pos);
    if (at == std::string::npos) break;
    size_t i = at + nameLength;
    while (i < text.size() && (text[i] == '"' || text[i] == '\'' || text[i] == ' ')) ++i;
    if (i >= text.size() || (text[i] != ':' && text[i] != '=')) {
      out.append(text, pos, i - pos);
      pos = i;
      continue;
    }
    ++i;
    while (i < text.size() && text[i] == ' ') ++i;
    size_t end = i;
    if (end < text.size() && (text[end] == '"' || text[end] == '\'')) {
      char quote = text[end];
      size_t close = text.find(quote, end + 1);
      end = close == std::string::npos ? text.size() : close + 1;
    } else {
      while (end < text.size() && !EndsValue(text[end])) ++end;
    }
    out.append(text, pos, i - pos);
    if (end > i) out += kMaskedSecret;
    pos = end;
  }
  out.append(text, pos, std::string::npos);
  return out;
}

}  // namespace

void RegisterSecret(const std::string& secret) {
  if (secret.empty()) return;
  std::lock_guard<std::mutex> lock(SecretsMutex());
  Secrets().insert(secret);
}

std::string MaskSecrets(const std::string& text) {
  std::string out = MaskNamedValues(text);
  std::lock_guard<std::mutex> lock(SecretsMutex());
  for (const std::string& secret : Secrets()) {
    size_t at = 0;
    while ((at = out.find(secret, at)) != std::string::npos) {
      out.replace(at, secret.size(), kMaskedSecret);
      at += strlen(kMaskedSecret);
    }
  }
  return out;
}

}  // namespace hostrt
