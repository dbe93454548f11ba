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
  // One transaction: entry i is granted when no holder has (array, target),
  // or when the holder is the same SMSnapId already.
  virtual bool Reserve(const std::vector<Reservation>& request,
                       std::vector<bool>* granted, std::string* error) = 0;
  // Removes the reservation of (array, target) only when its SMSnapId is the
  // requester's; others are left alone.
  virtual bool Release(const std::vector<Reservation>& request,
                       std::string* error) = 0;
};

}  // namespace hostrt
