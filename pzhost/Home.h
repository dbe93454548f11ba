// A host home directory: settings.ini, logs/, tmp/ and the host database
// (the runtime's tables and the snapshot catalog).
#pragma once

#include <string>

#include "hostruntime/Settings.h"

namespace pzhost {

constexpr int kHomeMode = 0700;
constexpr int kPrivateFileMode = 0600;
constexpr const char* kSettingsFile = "settings.ini";
constexpr const char* kDatabaseFile = "host.db";
constexpr size_t kSerialDigits = 12;

// Settings pzhost itself writes or reads.
constexpr const char* kSectionEventManager = "EventManager";
constexpr const char* kKeySymapiHome = "SYMAPI_HOME_DIR";
constexpr const char* kSectionHost = "Host";
constexpr const char* kKeySimulatedHost = "simulatedHost";
constexpr const char* kKeyClientName = "clientName";
constexpr const char* kKeyPhysicalMachine = "physicalMachine";
constexpr const char* kKeySleepScale = "sleepScale";
constexpr const char* kKeyPluginPath = "pluginPath";
constexpr const char* kKeyDatabasePath = "databasePath";
constexpr const char* kSectionRemoteClients = "RemoteClients";

struct Home {
  std::string dir;
  std::string settingsPath() const { return dir + "/" + kSettingsFile; }
  std::string logsDir() const { return dir + "/logs"; }
  std::string tmpDir() const { return dir + "/tmp"; }
};

// --home, else $PZHOST_HOME, else $HOME/.pzhost; made absolute.
std::string ResolveHomeDir(const std::string& given);
// `given` against the working directory, so settings keep meaning the same
// place whatever directory a later job runs from.
std::string AbsolutePath(const std::string& given);

// An array serial as the tools print it: twelve decimal digits.
bool IsArraySerial(const std::string& text);

// Reads settings.ini (a missing file reads as empty).
bool LoadSettings(const Home& home, hostrt::IniFile* ini, std::string* error);
// Writes settings.ini through a temporary file (mode 0600) and a rename, so
// a crash leaves the old or the new file, never half of one.
bool SaveSettings(const Home& home, const hostrt::IniFile& ini,
                  std::string* error);
// The host database file (setting Host/databasePath, else <home>/host.db).
std::string DatabasePath(const Home& home, const hostrt::IniFile& ini);

// Creates the home directory, logs/ and tmp/ (0700); an existing home keeps
// its contents.
bool CreateHomeDirs(const Home& home, std::string* error);
bool IsInitialized(const Home& home);

// Writes `content` to `path` (mode 0600) through a temporary file and rename.
bool WriteFileAtomic(const std::string& path, const std::string& content,
                     std::string* error);
bool ReadWholeFile(const std::string& path, std::string* content,
                   std::string* error);
// Reads a file holding a secret; refused (nothing read) when group or
// others may read it or it is not a regular file.
bool ReadPrivateFile(const std::string& path, std::string* content,
                     std::string* error);

}  // namespace pzhost
