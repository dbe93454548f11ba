#include "array/ArrayAPI_CLI.h"

#include <cstdio>
#include <cstdlib>

#include "array/CommandRunner.h"
#include "array/NameSyntax.h"
#include "array/SymcliTable.h"

namespace {
constexpr const char* kVersionMarker = "Version V";
constexpr size_t kVersionMarkerLength = 9;
constexpr int kVersionParts = 4;
// Each part is packed as two decimal digits.
constexpr int kVersionPartMax = 99;
constexpr int kDecimalBase = 10;
// What the host's command-line splitter takes for the end of a word.
constexpr const char* kWordSeparators = " \t";
}  // namespace

std::shared_ptr<ArrayAPI> ArrayAPI::getInstance(PZSO::SnapInfo* snapInfo,
                                                ArrayAPIType /*type*/) {
  return std::make_shared<ArrayAPI_CLI>(snapInfo);
}

ArrayAPI_CLI::ArrayAPI_CLI(PZSO::SnapInfo* si) { snapInfo = si; }

ArrayAPI_CLI::~ArrayAPI_CLI() = default;

bool ArrayAPI_CLI::init(ArrayAPIInitParams& params) {
  arrayDetails = params.arrayDetails;
  config = params.config;
  if (!config.symapiHomeDir.empty() &&
      !CheckName(snapInfo, "init", namesyntax::NameKind::kToolDirectory,
                 config.symapiHomeDir))
    return false;
  PopulateSYMCLIPath();
  return true;
}

void ArrayAPI_CLI::PopulateSYMCLIPath() {
  if (!symcliBinPath.empty()) return;
  std::string base =
      config.symapiHomeDir.empty() ? kDefaultSymcliHome : config.symapiHomeDir;
  symcliBinPath = base + kSymcliPathSeparator + kSymcliBinDir +
                  kSymcliPathSeparator;
}

bool ArrayAPI_CLI::getPowerMaxDetails(VMAXArrayInfo& /*info*/) {
  return false;
}

bool ArrayAPI_CLI::WriteDeviceFile(const char* function,
                                   const std::string& content,
                                   std::string& fileName) {
  if (WriteToFile(snapInfo, content, fileName)) {
    if (CheckName(snapInfo, function, namesyntax::NameKind::kDeviceFile,
                  fileName))
      return true;
    CWvFile::remove(fileName);
    return false;
  }
  CliLog(snapInfo, LOG_FAILURE, function, "Failed to create file [%s]",
         fileName.c_str());
  return false;
}

bool ArrayAPI_CLI::GetSEVersion(unsigned long& version) {
  static const char* kFn = "GetSEVersion";
  version = 0;
  // The bare path; quoted only when a blank would split it into two words.
  std::string cmd = Tool(kToolSymcli);
  if (cmd.find_first_of(kWordSeparators) != std::string::npos)
    cmd = "\"" + cmd + "\"";
  SymcliCommand command(snapInfo);
  if (!command.Run(cmd)) {
    CliLog(snapInfo, LOG_PROGRESS, kFn,
           "Failed to get Solutions Enabler version");
    return false;
  }
  const std::string& output = command.output();
  size_t at = output.find(kVersionMarker);
  int part[kVersionParts] = {0, 0, 0, 0};
  bool read = at != std::string::npos &&
              sscanf(output.c_str() + at + kVersionMarkerLength, "%d.%d.%d.%d",
                     &part[0], &part[1], &part[2], &part[3]) == kVersionParts;
  for (int i = 0; read && i < kVersionParts; ++i)
    read = part[i] >= 0 && part[i] <= kVersionPartMax;
  if (!read) {
    CliLog(snapInfo, LOG_PROGRESS, kFn,
           "Failed to find Solutions Enabler version");
    return false;
  }
  std::string packed = FXString::Format("%02d%02d%02d%02d", part[0], part[1],
                                        part[2], part[3]);
  version = strtoul(packed.c_str(), nullptr, kDecimalBase);
  seVersion = version;
  CliLog(snapInfo, LOG_PROGRESS, kFn,
         "Found Solutions Enabler version [%d.%d.%d.%d]-[%lu]", part[0],
         part[1], part[2], part[3], version);
  return true;
}
