// Host database on a PostgreSQL server, for sites where several backup hosts
// share one set of target reservations. Same tables, columns and schema
// versions as the SQLite file. Every request runs as one transaction; the
// unique (array, target) constraint decides who gets a device, so two hosts
// are never both granted it. Serialization failures, deadlocks and lost
// connections are retried a bounded number of times, then reported.
//
// The class lives in the module libpzhostrt_pg (linked to libpq), apart from
// the runtime: the runtime loads it with dlopen when a home names the
// PostgreSQL backend and reaches it only through PgModuleOpen below.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostruntime/HostDatabase.h"
#include "hostruntime/SqliteHostDatabase.h"

struct pg_conn;

namespace hostrt {

struct PgConnectParams {
  // libpq connection string ("host=... port=... dbname=... user=...");
  // it must not carry a password.
  std::string conninfo;
  // Password file (mode 0600); empty: libpq's own (PGPASSFILE, ~/.pgpass).
  std::string passfile;
};

class PgHostDatabase : public HostDatabase, public HostDatabaseAdmin {
 public:
  static constexpr int kSchemaVersion = 3;
  // Attempts of one request before a retryable failure is reported.
  static constexpr int kMaxAttempts = 4;
  // Wait before attempt n (n >= 2) is n - 1 times this.
  static constexpr int kRetryWaitMs = 200;
  static constexpr int kConnectTimeoutSecs = 10;
  // Bound of one statement, lock waits included.
  static constexpr int kStatementTimeoutMs = 30000;

  // Connects and brings the schema to kSchemaVersion.
  static std::unique_ptr<PgHostDatabase> Open(const PgConnectParams& params,
                                              std::string* error);
  ~PgHostDatabase() override;
  PgHostDatabase(const PgHostDatabase&) = delete;
  PgHostDatabase& operator=(const PgHostDatabase&) = delete;

  // Called inside a reserve transaction after its writes and before its
  // commit, with the server process id of the connection (tests break the
  // connection there).
  using ReserveHook = std::function<void(int serverPid)>;
  void SetBeforeCommitHook(ReserveHook hook);

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

  class Session;

 private:
  explicit PgHostDatabase(PgConnectParams params);
  // Runs `body` in one transaction, reconnecting and retrying when the
  // failure is one a new attempt may not meet again.
  bool Transact(const char* what, const std::function<bool(Session&)>& body,
                std::string* error);
  bool Connect(std::string* error);
  bool Upgrade(Session& s);

  std::mutex mu_;
  PgConnectParams params_;
  pg_conn* conn_ = nullptr;
  ReserveHook beforeCommit_;
};

// Checks the connection settings before any connection is tried: no password
// in the connection string, a passfile readable by its owner only.
bool CheckPgConnectParams(const PgConnectParams& params, std::string* error);

}  // namespace hostrt

// The module's one entry point, looked up by name (kPgModuleOpenSymbol) by
// the runtime: PgHostDatabase::Open behind a C name. The caller owns the
// database; null with `error` set when it cannot be opened.
extern "C" hostrt::HostDatabase* pzhostrt_pg_open(const hostrt::PgConnectParams* params,
                                                  std::string* error);

namespace hostrt {
constexpr const char* kPgModuleOpenSymbol = "pzhostrt_pg_open";
using PgModuleOpen = decltype(&pzhostrt_pg_open);
}  // namespace hostrt
