// Array information records: the name-value scanner and the lookup through
// the host's cache and database.
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

#include "common/Vocabulary.h"
#include "host/HostServices.h"
#include "hostdev/VMAXUtils.h"

namespace {

constexpr int kDebugDetail = 4;
constexpr int kDebugValue = 2;
// Values are held in a 1024-byte buffer by the host's convention.
constexpr size_t kMaxValueLength = 1023;

const char kPasswordItem[] = "hostPassword";
const char kMask[] = "****";

using Range = std::pair<size_t, size_t>;  // [begin, end)

size_t FindNoCase(const std::string& text, const std::string& part,
                  size_t from) {
  if (part.empty() || text.size() < part.size()) return std::string::npos;
  for (size_t i = from; i + part.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < part.size() &&
           tolower(static_cast<unsigned char>(text[i + k])) ==
               tolower(static_cast<unsigned char>(part[k])))
      ++k;
    if (k == part.size()) return i;
  }
  return std::string::npos;
}

// Where the values of password items lie in `text`. A quoted value runs to its
// closing quote (so a comma inside it is covered); otherwise to the next item
// separator, or the end of the text.
std::vector<Range> SecretRanges(const std::string& text) {
  std::vector<Range> ranges;
  const std::string item(kPasswordItem);
  size_t pos = FindNoCase(text, item, 0);
  while (pos != std::string::npos) {
    size_t colon = text.find(':', pos + item.size());
    if (colon == std::string::npos) break;
    size_t begin = colon + 1;
    size_t i = begin;
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
    size_t end;
    if (i < text.size() && text[i] == '"') {
      size_t j = i + 1;
      while (j < text.size() && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
      end = j < text.size() ? j + 1 : text.size();
    } else {
      end = text.find_first_of(",}", begin);
      if (end == std::string::npos) end = text.size();
    }
    if (end > text.size()) end = text.size();
    ranges.emplace_back(begin, end);
    pos = FindNoCase(text, item, end);
  }
  return ranges;
}

bool OverlapsSecret(const std::string& text, size_t begin, size_t end) {
  for (const Range& r : SecretRanges(text))
    if (begin < r.second && r.first < end) return true;
  return false;
}

enum class ScanResult { kFound, kNoName, kNoSeparator, kNoItemEnd, kNoValue };

struct Scan {
  ScanResult result = ScanResult::kNoName;
  size_t valueBegin = 0;
  size_t valueEnd = 0;
};

// The search shared by every form of the scanner: first occurrence of the
// name, value from the first ':' after it up to the first ',' after the name
// (or, for the last item, the first '}' after the value start).
Scan ScanItem(const std::string& text, const std::string& name) {
  Scan s;
  size_t pos = text.find(name);
  if (pos == std::string::npos) return s;
  size_t colon = text.find(':', pos);
  if (colon == std::string::npos) {
    s.result = ScanResult::kNoSeparator;
    return s;
  }
  s.valueBegin = colon + 1;
  size_t end = text.find(',', pos);
  if (end == std::string::npos) {
    end = text.find('}', s.valueBegin);
    if (end == std::string::npos) {
      s.result = ScanResult::kNoItemEnd;
      return s;
    }
  } else if (end < s.valueBegin) {
    s.result = ScanResult::kNoValue;
    return s;
  }
  s.valueEnd = end;
  s.result = ScanResult::kFound;
  return s;
}

// A found value may be logged unless it is, or lies in, a password.
bool MayLogValue(const std::string& text, const std::string& name,
                 const Scan& s) {
  if (FindNoCase(name, kPasswordItem, 0) != std::string::npos) return false;
  return !OverlapsSecret(text, s.valueBegin, s.valueEnd);
}

}  // namespace

std::string maskSecrets(const std::string& text) {
  std::vector<Range> ranges = SecretRanges(text);
  if (ranges.empty()) return text;
  std::string out;
  size_t at = 0;
  for (const Range& r : ranges) {
    out.append(text, at, r.first - at);
    out += kMask;
    at = r.second;
  }
  out.append(text, at, std::string::npos);
  return out;
}

bool parseJSONString(const std::string& text, const std::string& name,
                     std::string& value) {
  static const char* kFunction = "parseJSONString";
  EvDebug& dbg = engineDebug();
  if (text.empty() || name.empty()) {
    dbg.DebugLvl(kDebugDetail, kFunction,
                 "Either JSON string or search name is empty. JSON string [%s] "
                 "Name [%s]",
                 maskSecrets(text).c_str(), name.c_str());
    return false;
  }
  Scan s = ScanItem(text, name);
  switch (s.result) {
    case ScanResult::kNoName:
      dbg.DebugLvl(kDebugDetail, kFunction, "Name [%s] not found in JSON string [%s]",
                   name.c_str(), maskSecrets(text).c_str());
      return false;
    case ScanResult::kNoSeparator:
      dbg.DebugLvl(kDebugDetail, kFunction, "Name-value separator character not found");
      return false;
    case ScanResult::kNoItemEnd:
      dbg.DebugLvl(kDebugDetail, kFunction, "Item separator character not found");
      return false;
    case ScanResult::kNoValue:
      dbg.DebugLvl(kDebugDetail, kFunction, "No value found for name [%s]",
                   name.c_str());
      return false;
    case ScanResult::kFound:
      break;
  }
  size_t length = s.valueEnd - s.valueBegin;
  if (length > kMaxValueLength) {
    dbg.DebugLvl(DBG_ERROR, kFunction,
                 "Value of name [%s] is longer than [%zu] characters",
                 name.c_str(), kMaxValueLength);
    return false;
  }
  value = text.substr(s.valueBegin, length);
  if (name != kPasswordItem && MayLogValue(text, name, s))
    dbg.DebugLvl(kDebugValue, kFunction, "JSON value found [%s = %s]",
                 name.c_str(), value.c_str());
  return true;
}

bool getArrayInfoFromDB(PZSO::SnapInfo* si, const std::vector<std::string>& ids,
                        std::string& usedId, char* buffer, short size,
                        bool skipCache) {
  static const char* kFunction = "getArrayInfoFromDB";
  if (!si) {
    engineDebug().DebugLvl(DBG_ERROR, kFunction, "Invalid Snap Info object received.");
    return false;
  }
  if (ids.empty()) {
    si->log(LOG_FAILURE, kFunction, "No Array ID passed");
    return false;
  }
  std::string joined = concatStrings(ids, ",");
  si->log(LOG_DETAIL, kFunction, "Getting array information for array ID [%s]",
          joined.c_str());

  if (!skipCache && !ids.front().empty()) {
    if (si->findArrayInfoInCache(ids.front().c_str()) != 0) {
      si->log(LOG_FAILURE, kFunction,
              "Failed to get array info from cache for array ID [%s]. Looking "
              "up in DB now.",
              ids.front().c_str());
    } else {
      si->log(LOG_PROGRESS, kFunction,
              "Array information found in cache for array ID [%s]",
              ids.front().c_str());
      usedId = ids.front();
      // The buffer still holds the record of an earlier request.
      if (buffer && size > 0 && buffer[0] != '\0') return true;
    }
  }
  si->log(LOG_DETAIL, kFunction,
          "Array ID not found in cache, looking up array ID in DB");

  bool set = false;
  for (const std::string& id : ids) {
    if (id.empty()) continue;
    if (si->setArrayInfo(id.c_str()) == 0) {
      usedId = id;
      set = true;
      break;
    }
  }
  if (!set) {
    si->log(LOG_FAILURE, kFunction,
            "Failed to set array information for array IDs [%s]", joined.c_str());
    return false;
  }
  if (!buffer || size <= 1) {
    si->log(LOG_FAILURE, kFunction,
            "Failed to get array information for array ID [%s]: no buffer",
            usedId.c_str());
    return false;
  }
  memset(buffer, 0, size_t(size));
  // The last byte stays zero so the record is always terminated.
  short hostSize = short(size - 1);
  if (si->getArrayInfoString(buffer, &hostSize) != 0) {
    si->log(LOG_FAILURE, kFunction,
            "Failed to get array information for array ID [%s]", usedId.c_str());
    return false;
  }
  buffer[size - 1] = '\0';
  si->log(LOG_DETAIL, kFunction,
          "Array information received from DB for array ID [%s]", usedId.c_str());
  return true;
}
