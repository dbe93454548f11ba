// Array information records: the name-value scanner, the lookup through the
// host's cache and database, and the list helpers built on them.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/PZSOVMAX.h"
#include "host/HostServices.h"
#include "hostdev/VMAXUtils.h"

namespace {

constexpr int kDebugDetail = 4;
constexpr int kDebugValue = 2;
constexpr int kDecimalBase = 10;
// Values are held in a 1024-byte buffer by the host's convention.
constexpr size_t kMaxValueLength = 1023;
constexpr size_t kArrayInfoBufferSize = 4096;

const char kPasswordItem[] = "hostPassword";
const char kMask[] = "****";

const char kEngineIdItem[] = "engineId";
const char kHostNameItem[] = "hostName";
const char kUserNameItem[] = "hostUserName";

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

bool ParseDecimal(const std::string& text, int& out) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  long v = strtol(start, &end, kDecimalBase);
  if (end == start || errno == ERANGE || v < INT_MIN || v > INT_MAX)
    return false;
  while (*end && isspace(static_cast<unsigned char>(*end))) ++end;
  if (*end) return false;
  out = int(v);
  return true;
}

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

int parseJSONString(const std::string& text, const std::string& name,
                    char* area, size_t size) {
  static const char* kFunction = "parseJSONString";
  EvDebug& dbg = engineDebug();
  if (text.empty() || name.empty() || !area) {
    dbg.DebugLvl(kDebugDetail, kFunction,
                 "Invalid parameters passed - JSON string [%s] Name [%s]",
                 maskSecrets(text).c_str(), name.c_str());
    return -1;
  }
  Scan s = ScanItem(text, name);
  switch (s.result) {
    case ScanResult::kNoName:
      dbg.DebugLvl(kDebugDetail, kFunction, "Name [%s] not found in JSON string [%s]",
                   name.c_str(), maskSecrets(text).c_str());
      return -1;
    case ScanResult::kNoSeparator:
      dbg.DebugLvl(kDebugDetail, kFunction, "Name-value separator character not found");
      return -1;
    case ScanResult::kNoItemEnd:
      dbg.DebugLvl(kDebugDetail, kFunction, "Item separator character is not found");
      return -1;
    case ScanResult::kNoValue:
      dbg.DebugLvl(kDebugDetail, kFunction, "No value found for name [%s]",
                   name.c_str());
      return -1;
    case ScanResult::kFound:
      break;
  }
  size_t length = s.valueEnd - s.valueBegin;
  if (length > size || length > size_t(INT_MAX)) {
    dbg.DebugLvl(DBG_ERROR, kFunction,
                 "Value of name [%s] has [%zu] characters, more than the [%zu] "
                 "the output area holds",
                 name.c_str(), length, size);
    return -1;
  }
  memcpy(area, text.data() + s.valueBegin, length);
  if (name != kPasswordItem && MayLogValue(text, name, s)) {
    std::string value = text.substr(s.valueBegin, length);
    dbg.DebugLvl(kDebugValue, kFunction, "JSON value found [%s = %s]",
                 name.c_str(), value.c_str());
  }
  return int(length);
}

bool parseJsonString(PZSO::SnapInfo* si, const std::string& text,
                     const std::string& name, std::string& value) {
  static const char* kFunction = "parseJsonString";
  // Without a request the lines go to the host debug log.
  auto log = [si](const char* line) {
    if (si)
      si->log(LOG_DETAIL, kFunction, "%s", line);
    else
      engineDebug().DebugLvl(kDebugDetail, kFunction, "%s", line);
  };
  if (text.empty() || name.empty()) {
    log(FXString::Format("Either the parse string or the item to search is "
                         "empty. Parse string[%s] Item to search[%s]",
                         maskSecrets(text).c_str(), name.c_str())
            .c_str());
    return false;
  }
  Scan s = ScanItem(text, name);
  switch (s.result) {
    case ScanResult::kNoName:
      log(FXString::Format("The item being requested [%s] is not in Json string "
                           "[%s]",
                           name.c_str(), maskSecrets(text).c_str())
              .c_str());
      return false;
    case ScanResult::kNoSeparator:
      log("Name-value separator character is not present.");
      return false;
    case ScanResult::kNoItemEnd:
      log("Item separator character is not present");
      return false;
    case ScanResult::kNoValue:
      log(FXString::Format("No value present for item %s", name.c_str()).c_str());
      return false;
    case ScanResult::kFound:
      break;
  }
  size_t length = s.valueEnd - s.valueBegin;
  if (length > kMaxValueLength) {
    log(FXString::Format("Value of item [%s] is longer than [%zu] characters",
                         name.c_str(), kMaxValueLength)
            .c_str());
    return false;
  }
  value = text.substr(s.valueBegin, length);
  if (MayLogValue(text, name, s))
    log(FXString::Format("Item Name:Item Value [%s:%s]", name.c_str(),
                         value.c_str())
            .c_str());
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

bool getArrayInfoFromDB(PZSO::SnapInfo* si, std::string& id, char* buffer,
                        short size, bool skipCache) {
  std::vector<std::string> ids{id};
  return getArrayInfoFromDB(si, ids, id, buffer, size, skipCache);
}

bool getArrayInfo(PZSO::SnapInfo* si, const std::vector<std::string>& ids,
                  std::string& usedId, int& engineId, std::string& hostName,
                  std::string& userName, std::string& password,
                  bool skipCache) {
  static const char* kFunction = "getArrayInfo";
  if (!si) {
    engineDebug().DebugLvl(DBG_ERROR, kFunction, "Invalid Snap Info object received.");
    return false;
  }
  std::vector<char> buffer(kArrayInfoBufferSize, '\0');
  std::string joined = concatStrings(ids, ",");
  if (!getArrayInfoFromDB(si, ids, usedId, buffer.data(),
                          short(kArrayInfoBufferSize), skipCache)) {
    si->log(LOG_FAILURE, kFunction,
            "Failed to get array information for array IDs [%s]", joined.c_str());
    return false;
  }
  if (!parseArrayInfo(buffer.data(), engineId, hostName, userName, password)) {
    si->log(LOG_FAILURE, kFunction,
            "Failed to parse array information for array IDs [%s]",
            joined.c_str());
    return false;
  }
  return true;
}

bool getArrayInfo(PZSO::SnapInfo* si, const std::string& id, int& engineId,
                  std::string& hostName, std::string& userName,
                  std::string& password, bool skipCache) {
  static const char* kFunction = "getArrayInfo";
  if (!si) {
    engineDebug().DebugLvl(DBG_ERROR, kFunction, "Invalid Snap Info object received.");
    return false;
  }
  std::vector<char> buffer(kArrayInfoBufferSize, '\0');
  std::string usedId = id;
  if (!getArrayInfoFromDB(si, usedId, buffer.data(), short(kArrayInfoBufferSize),
                          skipCache)) {
    si->log(LOG_FAILURE, kFunction,
            "Failed to get array information for array ID [%s]", id.c_str());
    return false;
  }
  if (!parseArrayInfo(buffer.data(), engineId, hostName, userName, password)) {
    si->log(LOG_FAILURE, kFunction,
            "Failed to parse array information for array ID [%s]", id.c_str());
    return false;
  }
  return true;
}

bool parseArrayInfo(const std::string& record, int& engineId,
                    std::string& hostName, std::string& userName,
                    std::string& password) {
  std::string engineText, host, user, secret;
  if (!parseJSONString(record, kEngineIdItem, engineText)) return false;
  int engine = 0;
  if (!ParseDecimal(engineText, engine)) {
    // The value is not quoted: a malformed record may hold a secret there.
    engineDebug().DebugLvl(DBG_ERROR, "parseArrayInfo",
                           "Value of [%s] is not a number", kEngineIdItem);
    return false;
  }
  if (!parseJSONString(record, kHostNameItem, host)) return false;
  if (!parseJSONString(record, kUserNameItem, user)) return false;
  if (!parseJSONString(record, kPasswordItem, secret)) return false;
  engineId = engine;
  hostName = host;
  userName = user;
  password = secret;
  return true;
}

std::string concatStrings(const std::vector<std::string>& items,
                          const char* separator) {
  return Join(items, separator);
}

std::string concatStrings(const std::list<std::string>& items,
                          const char* separator) {
  return Join(items, separator);
}

void PrintStringList(PZSO::SnapInfo* si, const std::string& title,
                     const std::list<std::string>& items) {
  if (items.empty() || !si) return;
  std::string line = title + " [";
  for (const std::string& item : items) line += item + ", ";
  line += "]";
  si->log(LOG_PROGRESS, "PrintStringList", "%s", line.c_str());
}
