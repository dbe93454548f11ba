// Host database in one SQLite file: array information records, array
// details and target reservations. Several processes (jobs, hosts sharing a
// home) may use one file at once; every reserve is decided inside one write
// transaction, so a target is never granted to two holders.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostruntime/HostDatabase.h"

struct sqlite3;

namespace hostrt {

struct ReservationEntry {
  Reservation reservation;
  int64_t createdSeconds = 0;  // when it was granted (seconds since 1970)
};

// Ids a host database hands out to the hosts that share it.
enum class HostIdKind { kSmSnapId, kJobId };
// The largest id of each kind.
long long MaxHostId(HostIdKind kind);
// The key of the kind's row in the id table.
const char* HostIdKindName(HostIdKind kind);

// What the host's administration (pzhost) needs beyond the plug-in's view.
class HostDatabaseAdmin {
 public:
  virtual ~HostDatabaseAdmin() = default;
  virtual bool SchemaVersion(int* version, std::string* error) = 0;
  // Hands out `count` consecutive ids of `kind`, none below `floor`, that no
  // other allocation from this database (by any host sharing it) has given;
  // the first in `*first`. Reservations name their holder by SMSnapId and
  // job id, so two hosts must never use the same ones.
  virtual bool AllocateIds(HostIdKind kind, int count, long long floor,
                           long long* first, std::string* error) = 0;
  virtual bool PutArrayInfoRecord(const std::string& serial,
                                  const std::string& record,
                                  std::string* error) = 0;
  virtual bool RemoveArrayInfoRecord(const std::string& serial, bool* removed,
                                     std::string* error) = 0;
  virtual bool ListArrayInfoSerials(std::vector<std::string>* serials,
                                    std::string* error) = 0;
  // Adds or replaces the details of `row.arrayNumber`; `password` is stored
  // encoded (row.encodedPassword is ignored).
  virtual bool PutArrayDetails(const ArrayDetailsRow& row,
                               const std::string& password,
                               std::string* error) = 0;
  virtual bool RemoveArrayDetails(int arrayNumber, bool* removed,
                                  std::string* error) = 0;
  // Rows as stored (passwords encoded).
  virtual bool ListArrayDetails(std::vector<ArrayDetailsRow>* rows,
                                std::string* error) = 0;
  virtual bool ListAllReservations(std::vector<ReservationEntry>* out,
                                   std::string* error) = 0;
  // Removes the record and every details row of array `serial` in one
  // transaction, unless targets of the array are reserved: then nothing is
  // removed and `*holding` lists the reservations.
  virtual bool RemoveArray(const std::string& serial,
                           std::vector<Reservation>* holding, bool* removed,
                           std::string* error) = 0;
  // Removes the reservation of (array, target) whoever holds it.
  virtual bool ForceRelease(const std::string& array, const std::string& target,
                            bool* removed, std::string* error) = 0;
};

// The array information record text the plug-in reads.
std::string MakeArrayInfoRecord(int engineId, const std::string& hostName,
                                const std::string& hostUserName,
                                const std::string& hostPassword);

class SqliteHostDatabase : public HostDatabase, public HostDatabaseAdmin {
 public:
  // Schema version this code writes.
  static constexpr int kSchemaVersion = 3;
  // How long one statement waits for another process's write lock.
  static constexpr int kBusyTimeoutMs = 30000;

  // Opens (creating with mode 0600) and upgrades the database at `path`.
  static std::unique_ptr<SqliteHostDatabase> Open(const std::string& path,
                                                  std::string* error);
  ~SqliteHostDatabase() override;
  SqliteHostDatabase(const SqliteHostDatabase&) = delete;
  SqliteHostDatabase& operator=(const SqliteHostDatabase&) = delete;

  const std::string& path() const { return path_; }
  // HostDatabase
  bool GetArrayInfoRecord(const std::string& serial, std::string* record,
                          std::string* error) override;
  bool GetArrayDetails(int arrayNumber, ArrayDetailsRow* row,
                       std::string* error) override;
  // `array` empty: the reservations of every array.
  bool QueryReservations(const std::string& array,
                         std::vector<Reservation>* out,
                         std::string* error) override;
  bool ReserveFirstFree(const std::vector<Reservation>& request,
                        std::vector<std::string>* granted,
                        std::string* error) override;
  bool Release(const std::vector<Reservation>& request,
               std::string* error) override;

  // HostDatabaseAdmin
  bool SchemaVersion(int* version, std::string* error) override;
  bool AllocateIds(HostIdKind kind, int count, long long floor,
                   long long* first, std::string* error) override;
  bool PutArrayInfoRecord(const std::string& serial, const std::string& record,
                          std::string* error) override;
  bool RemoveArrayInfoRecord(const std::string& serial, bool* removed,
                             std::string* error) override;
  bool ListArrayInfoSerials(std::vector<std::string>* serials,
                            std::string* error) override;
  bool PutArrayDetails(const ArrayDetailsRow& row, const std::string& password,
                       std::string* error) override;
  bool RemoveArrayDetails(int arrayNumber, bool* removed,
                          std::string* error) override;
  bool ListArrayDetails(std::vector<ArrayDetailsRow>* rows,
                        std::string* error) override;
  bool ListAllReservations(std::vector<ReservationEntry>* out,
                           std::string* error) override;
  bool RemoveArray(const std::string& serial, std::vector<Reservation>* holding,
                   bool* removed, std::string* error) override;
  bool ForceRelease(const std::string& array, const std::string& target,
                    bool* removed, std::string* error) override;

 private:
  SqliteHostDatabase(sqlite3* db, std::string path);
  bool Upgrade(std::string* error);
  bool Exec(const char* sql, std::string* error);

  std::mutex mu_;
  sqlite3* db_;
  std::string path_;
};

}  // namespace hostrt
