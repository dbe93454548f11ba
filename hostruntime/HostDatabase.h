// Host database: array records, array details and target reservations.
#pragma once

#include <string>
#include <vector>

namespace hostrt {

struct ArrayDetailsRow {
  int arrayNumber = 0;
  std::string arrayName;  // array serial
  std::string controlHost;
  std::string userName;
  std::string encodedPassword;
};

struct Reservation {
  int smSnapId = 0;
  std::string array;
  std::string source;
  std::string target;
  long long jobId = 0;
  // Devices that may stand in for `target` (same array, same size), in order
  // of preference; a reserve grants the first free one when `target` is
  // held by someone else.
  std::vector<std::string> alternatives;
};

class HostDatabase {
 public:
  virtual ~HostDatabase() = default;
  // Array information record text of `serial`; false when unknown.
  virtual bool GetArrayInfoRecord(const std::string& serial,
                                  std::string* record, std::string* error) = 0;
  virtual bool GetArrayDetails(int arrayNumber, ArrayDetailsRow* row,
                               std::string* error) = 0;
  virtual bool QueryReservations(const std::string& array,
                                 std::vector<Reservation>* out,
                                 std::string* error) = 0;
  // One transaction, entries in request order. Entry i is granted its
  // `target` when no holder has (array, target), or when the holder is the
  // same SMSnapId already (a retry of a request whose answer was lost);
  // otherwise the first of its `alternatives` that nobody holds. A device
  // granted to an earlier entry of the request is never granted again.
  // (*granted)[i] is the device granted to entry i, empty when refused.
  virtual bool ReserveFirstFree(const std::vector<Reservation>& request,
                                std::vector<std::string>* granted,
                                std::string* error) = 0;
  // ReserveFirstFree, telling only whether each entry got a device.
  bool Reserve(const std::vector<Reservation>& request,
               std::vector<bool>* granted, std::string* error);
  // Removes the reservation of (array, target) only when its SMSnapId is the
  // requester's; others are left alone.
  virtual bool Release(const std::vector<Reservation>& request,
                       std::string* error) = 0;
};

}  // namespace hostrt
