#include "hostruntime/PgHostDatabase.h"

#include <libpq-fe.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <set>
#include <utility>

#include "hostruntime/Env.h"
#include "hostruntime/SecretCodec.h"

namespace hostrt {

static_assert(PgHostDatabase::kSchemaVersion == SqliteHostDatabase::kSchemaVersion,
              "both host database backends write the same schema version");

namespace {

// Serialises schema upgrades of processes that connect at the same time.
constexpr long long kSchemaLockKey = 0x707a686f7374;  // "pzhost"
// First half of the transaction lock that reserves of one array take (the
// second half is the array serial's hash).
constexpr int kReserveLockKey = 0x707a7276;  // "pzrv"
// Group and other permission bits: a passfile must have none of them.
constexpr mode_t kForeignAccess = S_IRWXG | S_IRWXO;

// SQLSTATEs after which the same transaction may succeed when tried again.
constexpr const char* kSerializationFailure = "40001";
constexpr const char* kDeadlockDetected = "40P01";
constexpr const char* kAdminShutdown = "57P01";
constexpr const char* kConnectionExceptionClass = "08";
constexpr size_t kSqlStateClassLength = 2;

// Schema steps: step i brings a database from version i to version i + 1.
// Tables and columns are those of the SQLite file ("array" is a reserved
// word here, so it is quoted).
const char* const kUpgradeSteps[] = {
    // 0 -> 1: arrays, array details and reservations.
    "CREATE TABLE IF NOT EXISTS array_info("
    "  serial TEXT PRIMARY KEY, record TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS array_details("
    "  array_number INTEGER PRIMARY KEY, array_name TEXT NOT NULL,"
    "  control_host TEXT NOT NULL, user_name TEXT NOT NULL,"
    "  encoded_password TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS reservations("
    "  \"array\" TEXT NOT NULL, target TEXT NOT NULL, source TEXT NOT NULL,"
    "  sm_snap_id INTEGER NOT NULL, job_id BIGINT NOT NULL,"
    "  UNIQUE(\"array\", target));",
    // 1 -> 2: the time a reservation was granted, for finding stale ones.
    "ALTER TABLE reservations ADD COLUMN IF NOT EXISTS created BIGINT NOT NULL "
    "DEFAULT 0;",
    // 2 -> 3: the next free SMSnapId and job id, handed out to every host of
    // the database so that no two hosts hold reservations under one id.
    "CREATE TABLE IF NOT EXISTS host_ids(kind TEXT PRIMARY KEY, next_id BIGINT NOT NULL);"
    "INSERT INTO host_ids(kind, next_id) VALUES('sm_snap_id', 1), ('job_id', 1) "
    "ON CONFLICT (kind) DO NOTHING;",
};
static_assert(sizeof kUpgradeSteps / sizeof kUpgradeSteps[0] ==
                  size_t(PgHostDatabase::kSchemaVersion),
              "one upgrade step per schema version");

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

std::string TrimmedLine(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

}  // namespace

// The statements of one transaction attempt on one connection. A failed
// statement records why, and whether trying again may help.
class PgHostDatabase::Session {
 public:
  struct Rows {
    std::vector<std::vector<std::string>> rows;
    long long affected = 0;
  };

  explicit Session(PGconn* conn) : conn_(conn) {}

  // Runs one statement with text parameters; false on failure.
  bool Exec(const char* sql, const std::vector<std::string>& params,
            Rows* out = nullptr) {
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    ResultPtr r(PQexecParams(conn_, sql, int(values.size()), nullptr,
                             values.data(), nullptr, nullptr, 0));
    return Collect(r.get(), out);
  }
  // Runs statements without parameters (several may be given at once).
  bool ExecScript(const char* sql) {
    ResultPtr r(PQexec(conn_, sql));
    return Collect(r.get(), nullptr);
  }
  // A failure of the request itself (not of the database); never retried.
  bool Refuse(const std::string& text) {
    error_ = text;
    retryable_ = false;
    return false;
  }

  int ServerPid() const { return PQbackendPID(conn_); }
  bool lost() const { return PQstatus(conn_) != CONNECTION_OK; }
  bool retryable() const { return retryable_ || lost(); }
  const std::string& error() const { return error_; }

 private:
  bool Collect(PGresult* r, Rows* out) {
    ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
      if (out) {
        out->rows.clear();
        for (int i = 0; i < PQntuples(r); ++i) {
          std::vector<std::string> row;
          for (int j = 0; j < PQnfields(r); ++j) row.push_back(PQgetvalue(r, i, j));
          out->rows.push_back(row);
        }
        const char* n = PQcmdTuples(r);
        out->affected = (n && *n) ? std::atoll(n) : 0;
      }
      return true;
    }
    // The primary message only: details may quote row values.
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    error_ = TrimmedLine(primary ? primary : PQerrorMessage(conn_));
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    std::string sqlstate = state ? state : "";
    retryable_ = sqlstate == kSerializationFailure || sqlstate == kDeadlockDetected ||
                 sqlstate == kAdminShutdown ||
                 sqlstate.compare(0, kSqlStateClassLength, kConnectionExceptionClass) == 0;
    return false;
  }

  PGconn* conn_;
  std::string error_;
  bool retryable_ = false;
};

bool CheckPgConnectParams(const PgConnectParams& params, std::string* error) {
  if (params.conninfo.empty()) return Fail(error, "no PostgreSQL connection string (conninfo)");
  char* parseError = nullptr;
  PQconninfoOption* options = PQconninfoParse(params.conninfo.c_str(), &parseError);
  if (!options) {
    std::string text = TrimmedLine(parseError);
    PQfreemem(parseError);
    return Fail(error, "bad PostgreSQL connection string: " + text);
  }
  bool hasPassword = false;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    if (!strcmp(o->keyword, "password") && o->val && *o->val) hasPassword = true;
  PQconninfoFree(options);
  // The settings file is no place for a password.
  if (hasPassword)
    return Fail(error,
                "the PostgreSQL connection string must not carry a password; "
                "name a password file (mode 0600) instead");
  std::string passfile = params.passfile;
  if (passfile.empty()) {
    const char* fromEnv = getenv("PGPASSFILE");
    if (fromEnv) passfile = fromEnv;
  }
  if (passfile.empty()) return true;
  struct stat st;
  if (stat(passfile.c_str(), &st) != 0)
    return Fail(error, "cannot read PostgreSQL password file " + passfile + ": " +
                           strerror(errno));
  if (!S_ISREG(st.st_mode))
    return Fail(error, "PostgreSQL password file " + passfile + " is not a plain file");
  if (st.st_mode & kForeignAccess)
    return Fail(error, "PostgreSQL password file " + passfile +
                           " may be read by others; it needs mode 0600");
  return true;
}

PgHostDatabase::PgHostDatabase(PgConnectParams params) : params_(std::move(params)) {}

PgHostDatabase::~PgHostDatabase() {
  if (conn_) PQfinish(conn_);
}

std::unique_ptr<PgHostDatabase> PgHostDatabase::Open(const PgConnectParams& params,
                                                     std::string* error) {
  if (!CheckPgConnectParams(params, error)) return nullptr;
  std::unique_ptr<PgHostDatabase> self(new PgHostDatabase(params));
  std::string why;
  bool ok = self->Transact("schema", [&](Session& s) { return self->Upgrade(s); }, &why);
  if (!ok) {
    Fail(error, why);
    return nullptr;
  }
  return self;
}

void PgHostDatabase::SetBeforeCommitHook(ReserveHook hook) {
  std::lock_guard<std::mutex> lock(mu_);
  beforeCommit_ = std::move(hook);
}

bool PgHostDatabase::Connect(std::string* error) {
  if (conn_) PQfinish(conn_);
  conn_ = nullptr;
  const std::string timeout = std::to_string(kConnectTimeoutSecs);
  // Our defaults first: the connection string overrides them; the passfile
  // setting comes last and wins.
  std::vector<const char*> keys = {"connect_timeout", "fallback_application_name",
                                   "keepalives_idle", "keepalives_interval",
                                   "keepalives_count", "dbname"};
  std::vector<const char*> values = {timeout.c_str(), "pzhost", "30", "10", "3",
                                     params_.conninfo.c_str()};
  if (!params_.passfile.empty()) {
    keys.push_back("passfile");
    values.push_back(params_.passfile.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* c = PQconnectdbParams(keys.data(), values.data(), 1);
  if (!c || PQstatus(c) != CONNECTION_OK) {
    std::string text = c ? TrimmedLine(PQerrorMessage(c)) : "out of memory";
    if (c) PQfinish(c);
    return Fail(error, "cannot connect to the PostgreSQL host database: " + text);
  }
  // Server notices ("already exists, skipping") are no news to anyone.
  PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
  conn_ = c;
  Session s(conn_);
  const std::string bound =
      "SET statement_timeout = " + std::to_string(kStatementTimeoutMs);
  if (!s.ExecScript(bound.c_str()))
    return Fail(error, "PostgreSQL host database: " + s.error());
  return true;
}

bool PgHostDatabase::Transact(const char* what,
                              const std::function<bool(Session&)>& body,
                              std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string last;
  for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
    if (attempt > 1) CurrentEnv()->SleepMs(int64_t(attempt - 1) * kRetryWaitMs);
    // A connection left inside a transaction (a rollback that failed) would
    // refuse every statement: start over on a new one.
    if (conn_ && PQtransactionStatus(conn_) != PQTRANS_IDLE) {
      PQfinish(conn_);
      conn_ = nullptr;
    }
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      // An unreachable server may come back (restart, fail-over).
      if (!Connect(&last)) continue;
    }
    Session s(conn_);
    bool ok = s.ExecScript("BEGIN") && body(s);
    if (ok && s.ExecScript("COMMIT")) return true;
    last = std::string(what) + ": " + s.error();
    bool retry = s.retryable();
    if (s.lost()) {
      // Whatever the server did not commit it has rolled back.
      PQfinish(conn_);
      conn_ = nullptr;
    } else {
      s.ExecScript("ROLLBACK");
    }
    if (!retry) return Fail(error, "PostgreSQL host database: " + last);
  }
  return Fail(error, "PostgreSQL host database: gave up after " +
                         std::to_string(kMaxAttempts) + " attempts: " + last);
}

bool PgHostDatabase::Upgrade(Session& s) {
  Session::Rows rows;
  if (!s.Exec("SELECT pg_advisory_xact_lock($1)", {std::to_string(kSchemaLockKey)}) ||
      !s.ExecScript("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)") ||
      !s.Exec("SELECT count(*), coalesce(max(version), 0) FROM schema_version", {}, &rows))
    return false;
  bool haveRow = rows.rows[0][0] != "0";
  int version = std::atoi(rows.rows[0][1].c_str());
  if (version > kSchemaVersion)
    return s.Refuse("the host database has schema version " + std::to_string(version) +
                    ", newer than this host's " + std::to_string(kSchemaVersion));
  if (version < 0) return s.Refuse("the host database has a bad schema version");
  for (int v = version; v < kSchemaVersion; ++v)
    if (!s.ExecScript(kUpgradeSteps[v])) return false;
  if (version == kSchemaVersion && haveRow) return true;
  const std::string current = std::to_string(kSchemaVersion);
  return haveRow ? s.Exec("UPDATE schema_version SET version = $1", {current})
                 : s.Exec("INSERT INTO schema_version(version) VALUES($1)", {current});
}

bool PgHostDatabase::SchemaVersion(int* version, std::string* error) {
  Session::Rows rows;
  bool ok = Transact("schema version", [&](Session& s) {
    if (!s.Exec("SELECT version FROM schema_version", {}, &rows)) return false;
    return rows.rows.empty() ? s.Refuse("no schema version recorded") : true;
  }, error);
  if (ok) *version = std::atoi(rows.rows[0][0].c_str());
  return ok;
}

bool PgHostDatabase::AllocateIds(HostIdKind kind, int count, long long floor,
                                 long long* first, std::string* error) {
  if (count < 1 || floor < 1) return Fail(error, "bad id request");
  const std::string name = HostIdKindName(kind);
  Session::Rows rows;
  // The row lock of the update makes concurrent allocations take turns; a
  // refused one is rolled back.
  bool ok = Transact("ids", [&](Session& s) {
    if (!s.Exec("SELECT next_id FROM host_ids WHERE kind = $1 FOR UPDATE", {name}, &rows))
      return false;
    if (rows.rows.size() != 1) return s.Refuse("the host database has no " + name + " counter");
    long long start = std::max(std::atoll(rows.rows[0][0].c_str()), floor);
    if (start > MaxHostId(kind) - (count - 1))
      return s.Refuse("the host database has no " + name + " left");
    rows.rows[0][0] = std::to_string(start);
    return s.Exec("UPDATE host_ids SET next_id = $1 WHERE kind = $2",
                  {std::to_string(start + count), name});
  }, error);
  if (ok) *first = std::atoll(rows.rows[0][0].c_str());
  return ok;
}

bool PgHostDatabase::GetArrayInfoRecord(const std::string& serial,
                                        std::string* record, std::string* error) {
  Session::Rows rows;
  bool ok = Transact("array information", [&](Session& s) {
    if (!s.Exec("SELECT record FROM array_info WHERE serial = $1", {serial}, &rows))
      return false;
    return rows.rows.empty() ? s.Refuse("array " + serial + " is not known") : true;
  }, error);
  if (ok) *record = rows.rows[0][0];
  return ok;
}

bool PgHostDatabase::GetArrayDetails(int arrayNumber, ArrayDetailsRow* row,
                                     std::string* error) {
  Session::Rows rows;
  bool ok = Transact("array details", [&](Session& s) {
    if (!s.Exec("SELECT array_name, control_host, user_name, encoded_password "
                "FROM array_details WHERE array_number = $1",
                {std::to_string(arrayNumber)}, &rows))
      return false;
    return rows.rows.empty() ? s.Refuse("array number " + std::to_string(arrayNumber) +
                                        " is not known")
                             : true;
  }, error);
  if (!ok) return false;
  const std::vector<std::string>& r = rows.rows[0];
  row->arrayNumber = arrayNumber;
  row->arrayName = r[0];
  row->controlHost = r[1];
  row->userName = r[2];
  row->encodedPassword = r[3];
  return true;
}

bool PgHostDatabase::QueryReservations(const std::string& array,
                                       std::vector<Reservation>* out,
                                       std::string* error) {
  std::vector<ReservationEntry> all;
  if (!ListAllReservations(&all, error)) return false;
  out->clear();
  for (const ReservationEntry& e : all)
    if (array.empty() || e.reservation.array == array) out->push_back(e.reservation);
  return true;
}

namespace {

// Entries in (array, target) order, so that concurrent requests take their
// row locks in one order and never deadlock; equal keys keep request order.
std::vector<size_t> LockOrder(const std::vector<Reservation>& request) {
  std::vector<size_t> order(request.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const Reservation& x = request[a];
    const Reservation& y = request[b];
    return x.array != y.array ? x.array < y.array : x.target < y.target;
  });
  return order;
}

}  // namespace

bool PgHostDatabase::ReserveFirstFree(const std::vector<Reservation>& request,
                                      std::vector<std::string>* granted,
                                      std::string* error) {
  const std::string now =
      std::to_string(static_cast<long long>(CurrentEnv()->NowMicros() / 1000000));
  std::set<std::string> arrays;
  for (const Reservation& r : request)
    if (!r.array.empty()) arrays.insert(r.array);
  std::vector<std::string> result;
  bool ok = Transact("reserve", [&](Session& s) {
    result.assign(request.size(), std::string());
    // Reserves of one array take turns (arrays in name order, so two
    // requests never wait for each other): a request that walks its
    // alternatives never waits on a row another reserve inserted and has
    // not committed yet. Only a release's delete can hold a row it needs.
    for (const std::string& a : arrays)
      if (!s.Exec("SELECT pg_advisory_xact_lock($1, hashtext($2))",
                  {std::to_string(kReserveLockKey), a}))
        return false;
    std::set<std::pair<std::string, std::string>> given;
    for (size_t i = 0; i < request.size(); ++i) {
      const Reservation& r = request[i];
      if (r.array.empty()) continue;
      const std::string id = std::to_string(r.smSnapId);
      for (size_t k = 0; k <= r.alternatives.size() && result[i].empty(); ++k) {
        const std::string& candidate = k == 0 ? r.target : r.alternatives[k - 1];
        if (candidate.empty() || given.count({r.array, candidate})) continue;
        Session::Rows rows;
        if (!s.Exec("INSERT INTO reservations(\"array\", target, source, sm_snap_id, "
                    "job_id, created) VALUES($1, $2, $3, $4, $5, $6) "
                    "ON CONFLICT (\"array\", target) DO NOTHING",
                    {r.array, candidate, r.source, id, std::to_string(r.jobId), now},
                    &rows))
          return false;
        if (rows.affected == 1) {
          result[i] = candidate;
          continue;
        }
        if (k != 0) continue;
        if (!s.Exec("SELECT sm_snap_id FROM reservations WHERE \"array\" = $1 AND "
                    "target = $2",
                    {r.array, candidate}, &rows))
          return false;
        // Held already by the same requester: granted again, as a retry of a
        // request whose answer was lost must be.
        if (rows.rows.size() == 1 && rows.rows[0][0] == id) result[i] = candidate;
      }
      if (!result[i].empty()) given.insert({r.array, result[i]});
    }
    if (beforeCommit_) beforeCommit_(s.ServerPid());
    return true;
  }, error);
  if (ok) *granted = result;
  return ok;
}

bool PgHostDatabase::Release(const std::vector<Reservation>& request,
                             std::string* error) {
  const std::vector<size_t> order = LockOrder(request);
  return Transact("release", [&](Session& s) {
    for (size_t i : order) {
      const Reservation& r = request[i];
      if (!s.Exec("DELETE FROM reservations WHERE \"array\" = $1 AND target = $2 "
                  "AND sm_snap_id = $3",
                  {r.array, r.target, std::to_string(r.smSnapId)}))
        return false;
    }
    return true;
  }, error);
}

bool PgHostDatabase::PutArrayInfoRecord(const std::string& serial,
                                        const std::string& record,
                                        std::string* error) {
  if (serial.empty()) return Fail(error, "an array serial is needed");
  return Transact("store array", [&](Session& s) {
    return s.Exec("INSERT INTO array_info(serial, record) VALUES($1, $2) "
                  "ON CONFLICT (serial) DO UPDATE SET record = EXCLUDED.record",
                  {serial, record});
  }, error);
}

bool PgHostDatabase::RemoveArrayInfoRecord(const std::string& serial, bool* removed,
                                           std::string* error) {
  Session::Rows rows;
  bool ok = Transact("remove array", [&](Session& s) {
    return s.Exec("DELETE FROM array_info WHERE serial = $1", {serial}, &rows);
  }, error);
  if (ok && removed) *removed = rows.affected > 0;
  return ok;
}

bool PgHostDatabase::ListArrayInfoSerials(std::vector<std::string>* serials,
                                          std::string* error) {
  Session::Rows rows;
  bool ok = Transact("arrays", [&](Session& s) {
    return s.Exec("SELECT serial FROM array_info ORDER BY serial", {}, &rows);
  }, error);
  if (!ok) return false;
  serials->clear();
  for (const auto& r : rows.rows) serials->push_back(r[0]);
  return true;
}

bool PgHostDatabase::PutArrayDetails(const ArrayDetailsRow& row,
                                     const std::string& password,
                                     std::string* error) {
  const std::string encoded = EncodeSecret(password);
  return Transact("store array details", [&](Session& s) {
    return s.Exec(
        "INSERT INTO array_details(array_number, array_name, control_host, "
        "user_name, encoded_password) VALUES($1, $2, $3, $4, $5) "
        "ON CONFLICT (array_number) DO UPDATE SET array_name = EXCLUDED.array_name, "
        "control_host = EXCLUDED.control_host, user_name = EXCLUDED.user_name, "
        "encoded_password = EXCLUDED.encoded_password",
        {std::to_string(row.arrayNumber), row.arrayName, row.controlHost, row.userName,
         encoded});
  }, error);
}

bool PgHostDatabase::RemoveArrayDetails(int arrayNumber, bool* removed,
                                        std::string* error) {
  Session::Rows rows;
  bool ok = Transact("remove array details", [&](Session& s) {
    return s.Exec("DELETE FROM array_details WHERE array_number = $1",
                  {std::to_string(arrayNumber)}, &rows);
  }, error);
  if (ok && removed) *removed = rows.affected > 0;
  return ok;
}

bool PgHostDatabase::ListArrayDetails(std::vector<ArrayDetailsRow>* out,
                                      std::string* error) {
  Session::Rows rows;
  bool ok = Transact("array details", [&](Session& s) {
    return s.Exec("SELECT array_number, array_name, control_host, user_name, "
                  "encoded_password FROM array_details ORDER BY array_number",
                  {}, &rows);
  }, error);
  if (!ok) return false;
  out->clear();
  for (const auto& r : rows.rows) {
    ArrayDetailsRow row;
    row.arrayNumber = std::atoi(r[0].c_str());
    row.arrayName = r[1];
    row.controlHost = r[2];
    row.userName = r[3];
    row.encodedPassword = r[4];
    out->push_back(row);
  }
  return true;
}

bool PgHostDatabase::RemoveArray(const std::string& serial,
                                 std::vector<Reservation>* holding, bool* removed,
                                 std::string* error) {
  bool ok = Transact("remove array", [&](Session& s) {
    holding->clear();
    *removed = false;
    Session::Rows held, info, details;
    // The reservation rows are locked, so none is granted meanwhile and
    // then left pointing at a removed array.
    if (!s.Exec("SELECT sm_snap_id, source, target, job_id FROM reservations "
                "WHERE \"array\" = $1 ORDER BY target FOR UPDATE",
                {serial}, &held))
      return false;
    for (const auto& r : held.rows) {
      Reservation e;
      e.array = serial;
      e.smSnapId = std::atoi(r[0].c_str());
      e.source = r[1];
      e.target = r[2];
      e.jobId = std::atoll(r[3].c_str());
      holding->push_back(e);
    }
    if (!holding->empty()) return true;
    if (!s.Exec("DELETE FROM array_info WHERE serial = $1", {serial}, &info) ||
        !s.Exec("DELETE FROM array_details WHERE array_name = $1", {serial}, &details))
      return false;
    *removed = info.affected + details.affected > 0;
    return true;
  }, error);
  return ok;
}

bool PgHostDatabase::ListAllReservations(std::vector<ReservationEntry>* out,
                                         std::string* error) {
  Session::Rows rows;
  bool ok = Transact("reservations", [&](Session& s) {
    return s.Exec("SELECT sm_snap_id, \"array\", source, target, job_id, created "
                  "FROM reservations ORDER BY \"array\", target",
                  {}, &rows);
  }, error);
  if (!ok) return false;
  out->clear();
  for (const auto& r : rows.rows) {
    ReservationEntry e;
    e.reservation.smSnapId = std::atoi(r[0].c_str());
    e.reservation.array = r[1];
    e.reservation.source = r[2];
    e.reservation.target = r[3];
    e.reservation.jobId = std::atoll(r[4].c_str());
    e.createdSeconds = std::atoll(r[5].c_str());
    out->push_back(e);
  }
  return true;
}

bool PgHostDatabase::ForceRelease(const std::string& array, const std::string& target,
                                  bool* removed, std::string* error) {
  Session::Rows rows;
  bool ok = Transact("release", [&](Session& s) {
    return s.Exec("DELETE FROM reservations WHERE \"array\" = $1 AND target = $2",
                  {array, target}, &rows);
  }, error);
  if (ok && removed) *removed = rows.affected > 0;
  return ok;
}

}  // namespace hostrt

extern "C" __attribute__((visibility("default"))) hostrt::HostDatabase* pzhostrt_pg_open(
    const hostrt::PgConnectParams* params, std::string* error) {
  return hostrt::PgHostDatabase::Open(*params, error).release();
}
