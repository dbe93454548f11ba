// reservations: the host database's target reservations, and removal of the
// ones whose target the array no longer has linked and whose job has ended.
#include <cerrno>
#include <map>
#include <set>
#include <sstream>

#include "host/HostServices.h"
#include "pzhost/Verbs.h"

namespace pzhost {

namespace {

constexpr size_t kDeviceDigits = 5;
// Answers of a listing that finds nothing linked.
constexpr const char* kNoSnapvxInformation =
    "do not have any Snapvx information";
constexpr const char* kNoLinkTarget = "No link target was found";
constexpr const char* kListingRuler = "----";
constexpr const char* kLegendStart = "Flgs:";

// Device numbers are five upper-case hex digits, zero padded.
std::string CanonicalDevice(std::string dev) {
  for (char& c : dev) c = char(toupper((unsigned char)c));
  while (dev.size() < kDeviceDigits) dev = "0" + dev;
  return dev;
}

bool IsDeviceNumber(const std::string& text) {
  if (text.empty() || text.size() > kDeviceDigits) return false;
  for (char c : text)
    if (!isxdigit((unsigned char)c)) return false;
  return true;
}

}  // namespace

// Targets linked on the array, from "symsnapvx list -linked -by_tgt": the
// first column of the lines after the last ruler, up to the legend.
bool ParseLinkedTargets(const std::string& output, std::set<std::string>* out,
                        std::string* error) {
  size_t ruler = output.rfind(kListingRuler);
  if (ruler == std::string::npos) {
    if (error) *error = "unexpected symsnapvx output (no listing)";
    return false;
  }
  size_t start = output.find('\n', ruler);
  if (start == std::string::npos) return true;
  size_t end = output.find(kLegendStart, start);
  std::istringstream lines(output.substr(start, end == std::string::npos
                                                    ? std::string::npos
                                                    : end - start));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first;
    if (words >> first && IsDeviceNumber(first))
      out->insert(CanonicalDevice(first));
  }
  return true;
}

namespace {

bool LinkedTargets(Session& s, const std::string& serial,
                   std::set<std::string>* linked, std::string* error) {
  std::string symapiHome;
  if (!s.settings().Get(kSectionEventManager, kKeySymapiHome, &symapiHome) ||
      symapiHome.empty()) {
    if (error) *error = "no SYMAPI_HOME_DIR in the settings";
    return false;
  }
  // The serial comes from a database other hosts write too: it reaches the
  // command line only in the form the tools accept.
  if (!IsArraySerial(serial)) {
    if (error) *error = "not an array serial the tools accept";
    return false;
  }
  std::string line = "\"" + symapiHome + "/bin/symsnapvx\" -sid " + serial +
                     " list -linked -by_tgt";
  std::string output, stderrText;
  PzProcess process;
  int rc = process.system(line, &output, &stderrText, 0, false);
  if (rc < 0) {
    if (error) *error = "cannot run " + line + ": " + stderrText;
    return false;
  }
  if (rc != 0) {
    std::string all = output + stderrText;
    if (all.find(kNoSnapvxInformation) != std::string::npos ||
        all.find(kNoLinkTarget) != std::string::npos)
      return true;  // nothing is linked
    if (error)
      *error = line + " failed with exit code " + std::to_string(rc) + ": " +
               stderrText + output;
    return false;
  }
  return ParseLinkedTargets(output, linked, error);
}

// A job has ended when the catalog says so, or when its process on this
// host is gone (a crashed job never records its end).
bool JobEnded(Session& s, long long jobId, std::string* why) {
  JobRecord job;
  bool found = false;
  std::string error;
  if (!s.catalog().GetJob(jobId, &job, &found, &error) || !found) {
    *why = "job " + std::to_string(jobId) + " is not one of this host's";
    return false;
  }
  if (job.ended != 0) return true;
  // A live job holds its lock; a pid alone may have been reused.
  if (job.host == s.HostName() && !IsLockHeld(JobLockPath(s.home().dir, jobId)))
    return true;
  *why = "job " + std::to_string(jobId) + " is still running";
  return false;
}

}  // namespace

bool ReleaseUnlinkedReservations(Session& s, const SnapshotRecord& snapshot,
                                 int* released, std::string* error) {
  *released = 0;
  if (!s.admin() || !s.database()) {
    if (error) *error = "the host database is not available";
    return false;
  }
  std::set<int> holders;
  for (const DeviceRecord& d : snapshot.devices) holders.insert(d.smSnapId);
  std::vector<hostrt::ReservationEntry> entries;
  if (!s.admin()->ListAllReservations(&entries, error)) return false;
  std::map<std::string, std::vector<hostrt::Reservation>> byArray;
  for (const auto& e : entries)
    if (holders.count(e.reservation.smSnapId))
      byArray[e.reservation.array].push_back(e.reservation);
  for (const auto& group : byArray) {
    std::set<std::string> linked;
    if (!LinkedTargets(s, group.first, &linked, error)) return false;
    std::vector<hostrt::Reservation> free;
    for (const hostrt::Reservation& r : group.second)
      if (!linked.count(CanonicalDevice(r.target))) free.push_back(r);
    if (free.empty()) continue;
    if (!s.database()->Release(free, error)) return false;
    *released += int(free.size());
  }
  return true;
}

int RunReservations(Session& s, bool reconcile) {
  Output& out = s.out();
  std::vector<hostrt::ReservationEntry> entries;
  std::string error;
  if (!s.admin()->ListAllReservations(&entries, &error)) {
    out.Error(error);
    return kExitFailure;
  }
  auto describe = [&](const hostrt::Reservation& r) {
    int snapshotId = 0;
    bool found = false;
    s.catalog().SnapshotOfDevice(r.smSnapId, &snapshotId, &found, nullptr);
    nlohmann::json j = {{"array", r.array},
                        {"source", DeviceNumber(r.source)},
                        {"target", DeviceNumber(r.target)},
                        {"smSnapId", r.smSnapId},
                        {"jobId", r.jobId},   {"snapshot", found ? snapshotId : 0}};
    std::string text = r.array + " " + DeviceNumber(r.source) + " -> " +
                       DeviceNumber(r.target) +
                       "  holder " + std::to_string(r.smSnapId) +
                       (found ? " (snapshot " + std::to_string(snapshotId) + ")"
                              : "") +
                       "  job " + std::to_string(r.jobId);
    return std::make_pair(j, text);
  };
  if (!reconcile) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& e : entries) {
      auto d = describe(e.reservation);
      out.Line(d.second);
      list.push_back(d.first);
    }
    if (entries.empty()) out.Line("no reservations");
    out.doc()["reservations"] = list;
    return kExitSuccess;
  }
  std::map<std::string, std::vector<hostrt::Reservation>> byArray;
  for (const auto& e : entries) byArray[e.reservation.array].push_back(e.reservation);
  nlohmann::json removed = nlohmann::json::array(), kept = nlohmann::json::array();
  int code = kExitSuccess;
  for (const auto& group : byArray) {
    std::set<std::string> linked;
    if (!LinkedTargets(s, group.first, &linked, &error)) {
      out.Error("array " + group.first + ": " + error +
                "; its reservations are kept");
      code = kExitFailure;
      continue;
    }
    for (const hostrt::Reservation& r : group.second) {
      auto d = describe(r);
      std::string why;
      if (linked.count(CanonicalDevice(r.target))) {
        why = "target is linked";
      } else if (JobEnded(s, r.jobId, &why)) {
        // Release, unlike a forced removal, spares the target when another
        // holder took it meanwhile.
        if (!s.database()->Release({r}, &error)) {
          out.Error(error);
          code = kExitFailure;
          continue;
        }
        out.Line("removed " + d.second);
        removed.push_back(d.first);
        continue;
      }
      out.Line("kept " + d.second + " (" + why + ")");
      d.first["reason"] = why;
      kept.push_back(d.first);
    }
  }
  if (entries.empty()) out.Line("no reservations");
  out.doc()["removed"] = removed;
  out.doc()["kept"] = kept;
  return code;
}

}  // namespace pzhost
