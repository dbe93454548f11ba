#include "pzhost/Plugin.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <sys/stat.h>

namespace pzhost {

namespace {

constexpr const char* kPluginFile = "libPZSOVMAX.so";
// Where the installed plug-in lies relative to the installation prefix
// (the multiarch library folder, by its SONAME).
#ifndef PZ_INSTALLED_PLUGIN
#define PZ_INSTALLED_PLUGIN "lib/libPZSOVMAX.so"
#endif
constexpr const char* kInstalledPlugin = PZ_INSTALLED_PLUGIN;

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn* fn, std::string* missing) {
  // dlsym returns an object pointer; the exports are C functions.
  void* sym = dlsym(handle, name);
  if (!sym) {
    if (!missing->empty()) *missing += ", ";
    *missing += name;
    return false;
  }
  *fn = reinterpret_cast<Fn>(sym);
  return true;
}

}  // namespace

Plugin::~Plugin() {
  if (handle_) dlclose(handle_);
}

std::unique_ptr<Plugin> Plugin::Load(const std::string& path,
                                     std::string* error) {
  if (path.empty()) {
    if (error) *error = "no plug-in found (give --plugin PATH)";
    return nullptr;
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    if (error)
      *error = "cannot load the plug-in " + path + ": " + (why ? why : "");
    return nullptr;
  }
  std::unique_ptr<Plugin> p(new Plugin());
  p->handle_ = handle;
  p->path_ = path;
  PluginExports& e = p->exports_;
  std::string missing;
  Resolve(handle, "pzso_version", &e.version, &missing);
  Resolve(handle, "pzso_isSupported", &e.isSupported, &missing);
  Resolve(handle, "pzso_identifyDevices", &e.identifyDevices, &missing);
  Resolve(handle, "pzso_prepareDevices", &e.prepareDevices, &missing);
  Resolve(handle, "pzso_preSnapDevices", &e.preSnapDevices, &missing);
  Resolve(handle, "pzso_snapDevices", &e.snapDevices, &missing);
  Resolve(handle, "pzso_postSnapDevices", &e.postSnapDevices, &missing);
  Resolve(handle, "pzso_mapSnaps", &e.mapSnaps, &missing);
  Resolve(handle, "pzso_isMapped", &e.isMapped, &missing);
  Resolve(handle, "pzso_unmapSnaps", &e.unmapSnaps, &missing);
  Resolve(handle, "pzso_deleteSnaps", &e.deleteSnaps, &missing);
  Resolve(handle, "pzso_revertSnaps", &e.revertSnaps, &missing);
  Resolve(handle, "pzso_reconcileSnaps", &e.reconcileSnaps, &missing);
  Resolve(handle, "pzso_prepareRemoteSnaps", &e.prepareRemoteSnaps, &missing);
  Resolve(handle, "pzso_execSnapEngineOp", &e.execSnapEngineOp, &missing);
  if (!missing.empty()) {
    if (error) *error = "the plug-in " + path + " lacks " + missing;
    return nullptr;
  }
  return p;
}

std::string Plugin::VersionText() const {
  unsigned short major = 0, minor = 0, patch = 0;
  exports_.version(&major, &minor, &patch);
  return std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(patch);
}

std::string LocatePlugin(const std::string& explicitPath,
                         const std::string& settingPath,
                         const std::string& programDir) {
  if (!explicitPath.empty()) return explicitPath;
  if (!settingPath.empty()) return settingPath;
  // The folder above the program's, spelled without "..", so that the path
  // pzhost reports is the plug-in's own.
  size_t slash = programDir.rfind('/');
  std::string up = slash == std::string::npos || slash == 0
                       ? programDir + "/.."
                       : programDir.substr(0, slash);
  for (const std::string& candidate :
       {up + "/" + kPluginFile, up + "/" + kInstalledPlugin,
        up + "/lib/" + kPluginFile}) {
    if (IsFile(candidate)) return candidate;
  }
  return std::string();
}

std::string ProgramDirectory() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, size_t(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace pzhost
