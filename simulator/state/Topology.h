// What the array's masking puts where: cascaded groups, the devices a host's
// initiators reach through masking views, and the devices mapped to ports.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "simulator/state/StateDb.h"

namespace symsim {

using DevKey = std::pair<std::string, int64_t>;  // serial, device

std::vector<std::string> ChildGroups(StateDb* db, const std::string& serial,
                                     const std::string& sg);
std::vector<std::string> ParentGroups(StateDb* db, const std::string& serial,
                                      const std::string& sg);
// Devices of a group, with those of its children (cascaded groups).
std::set<int64_t> GroupDevices(StateDb* db, const std::string& serial,
                               const std::string& sg);
// Devices some host's initiators reach through the array's masking views.
std::set<DevKey> VisibleDevices(StateDb* db, const std::string& host);
// Whether one device is among them; looks up only the groups of the host's
// views, not every device they hold (one INQUIRY per device of a large host
// would otherwise cost the host's whole view each).
bool DeviceVisible(StateDb* db, const std::string& host, const std::string& serial,
                   int64_t dev);
// Devices of the array mapped to front-end ports: marked mapped, or in a
// group that a masking view presents.
std::set<int64_t> MappedDevices(StateDb* db, const std::string& serial);
// Ports ("01D:004") through which each presented device of the array is
// reached.
std::map<int64_t, std::set<std::string>> DevicePorts(StateDb* db,
                                                     const std::string& serial);

}  // namespace symsim
