// Reading "symdev list" device listings: device numbers, cylinder sizes and
// the free-device rule, apart from the commands that produce them.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <unordered_set>

#include "common/VMAXParams.h"

namespace symcli {

// Canonical device number of a listing line, or false when its first word
// is not a device number (elided rows, notes).
bool LineDevice(const std::string& line, std::string& device);

// Size in cylinders of a listing line (field 6, field 7 on "Not Visible"
// lines). The field must be a whole decimal number and the line's last
// word; `field` leaves as the word read.
bool LineCylinders(const std::string& line, uint64_t& cylinders,
                   std::string& field);

// Appends, in listing order, every device of a "-tdev -cyl" listing that is
// unmapped and not linked. False, with the offending line and field and
// nothing appended, when a free device's size cannot be read.
bool ParseFreeDevices(const std::string& output, const std::string& sid,
                      const std::unordered_set<std::string>& linked,
                      const std::unordered_set<std::string>& unmapped,
                      std::list<VMAXLun>& luns, std::string& badLine,
                      std::string& badField);

}  // namespace symcli
