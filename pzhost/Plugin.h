// The snapshot-engine plug-in, loaded at run time with dlopen exactly as a
// backup host loads it.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <string>

#include "host/SnapInfo.h"

namespace pzhost {

// Results of the exports.
constexpr int kPzsoSuccess = 0;
constexpr int kPzsoFailure = 1;
constexpr int kPzsoPartial = 2;

using PzsoVersionFn = void (*)(unsigned short*, unsigned short*,
                               unsigned short*);
using PzsoIsSupportedFn = int (*)(const char*, int, void*, char*, short);
using PzsoIdentifyFn = int (*)(PZSO::SnapInfo**, short,
                               std::map<std::string, std::list<std::string>>*,
                               int, void*, PZSO::PZOSUtil*);
using PzsoOpFn = int (*)(PZSO::SnapInfo**, short, PZSO::PZOSUtil*);

struct PluginExports {
  PzsoVersionFn version = nullptr;
  PzsoIsSupportedFn isSupported = nullptr;
  PzsoIdentifyFn identifyDevices = nullptr;
  PzsoOpFn prepareDevices = nullptr;
  PzsoOpFn preSnapDevices = nullptr;
  PzsoOpFn snapDevices = nullptr;
  PzsoOpFn postSnapDevices = nullptr;
  PzsoOpFn mapSnaps = nullptr;
  PzsoOpFn isMapped = nullptr;
  PzsoOpFn unmapSnaps = nullptr;
  PzsoOpFn deleteSnaps = nullptr;
  PzsoOpFn revertSnaps = nullptr;
  PzsoOpFn reconcileSnaps = nullptr;
  PzsoOpFn prepareRemoteSnaps = nullptr;
  PzsoOpFn execSnapEngineOp = nullptr;
};

class Plugin {
 public:
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Loads the library at `path` and resolves all fifteen exports; a missing
  // export is an error (the library is not a snap engine of this kind).
  static std::unique_ptr<Plugin> Load(const std::string& path,
                                      std::string* error);
  const PluginExports& exports() const { return exports_; }
  const std::string& path() const { return path_; }
  std::string VersionText() const;

 private:
  Plugin() = default;
  void* handle_ = nullptr;
  std::string path_;
  PluginExports exports_;
};

// Where the plug-in is: `explicitPath` (--plugin), else the setting
// Host/pluginPath, else next to the program ($ORIGIN/../libPZSOVMAX.so in the
// build tree, $ORIGIN/../lib/<multiarch>/libPZSOVMAX.so.<major> installed).
std::string LocatePlugin(const std::string& explicitPath,
                         const std::string& settingPath,
                         const std::string& programDir);

// Directory of the running program.
std::string ProgramDirectory();

}  // namespace pzhost
