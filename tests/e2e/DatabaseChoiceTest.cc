// pzhost init choosing the host database: options that do not fit, a
// password on the command line, an unreachable server and a newer schema are
// refused and leave the home as it was; a home whose server is gone fails
// its database verbs clearly and never falls back to its own file. The
// PostgreSQL client is mapped only by a home on the server.
#include <gtest/gtest.h>

#include <filesystem>

#include "hostruntime/SqliteHostDatabase.h"
#include "tests/e2e/Steps.h"
#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

// Nothing listens on port 1 of the loopback: connections are refused at once.
constexpr const char* kNoServer = "host=127.0.0.1 port=1 dbname=pzhost user=pzhost";
constexpr const char* kSecret = "Hunter2xSecret";

std::string Settings(const std::string& home) {
  std::string text;
  ReadFile(home + "/settings.ini", &text);
  return text;
}

class DatabaseChoice : public ::testing::Test {
 protected:
  void SetUp() override {
    home = w.dir() + "/h";
    Result init = w.Pzhost(home, {"init", "--symcli-home", w.world()});
    ASSERT_EQ(0, init.exitCode) << init.Describe();
    ASSERT_EQ("sqlite", init.json.value("databaseBackend", ""));
    ASSERT_EQ(hostrt::SqliteHostDatabase::kSchemaVersion,
              init.json.value("databaseVersion", 0));
    Ok(w, home, {"config", "set", "--setting", "Host", "sleepScale", "0"});
    Ok(w, home, {"array", "add", "--serial", w.serial(), "--num", "1"});
    before = Settings(home);
  }
  void PointAtDeadServer() {
    Ok(w, home, {"config", "set", "--setting", "Database", "backend", "postgresql"});
    Ok(w, home, {"config", "set", "--setting", "Database", "conninfo", kNoServer});
  }
  Result Init(std::vector<std::string> extra) {
    std::vector<std::string> args = {"init", "--symcli-home", w.world()};
    args.insert(args.end(), extra.begin(), extra.end());
    return w.Pzhost(home, args);
  }

  World w;
  std::string home, before;
};

// Options that do not fit, a password in the connection string, a server
// that cannot be reached and a newer schema are refused; the home stays as
// it was and the password is written nowhere.
TEST_F(DatabaseChoice, RefusedInitLeavesTheHomeAsItWas) {
  const std::string pg = "postgresql";
  const std::string withPassword = std::string(kNoServer) + " password=" + kSecret;
  const std::string url = std::string("postgresql://pzhost:") + kSecret + "@127.0.0.1:1/pzhost";
  struct Case {
    std::vector<std::string> args;
    int exitCode;  // 2: a value the option does not take
    std::vector<std::string> says;
  };
  const std::vector<Case> cases = {
      {{"--db-conninfo", "host=127.0.0.1 dbname=x"}, 1, {"--db-backend postgresql"}},
      {{"--db-backend", pg}, 1, {"needs --db-conninfo"}},
      {{"--db-backend", "mysql"}, 2, {}},
      {{"--db-backend", pg, "--db-conninfo", "host=a\nport=2"}, 1, {}},
      {{"--db-backend", pg, "--db-conninfo", withPassword}, 1, {"must not carry a password"}},
      {{"--db-backend", pg, "--db-conninfo", url}, 1, {"must not carry a password"}},
      {{"--db-backend", pg, "--db-conninfo", kNoServer}, 1, {"cannot upgrade home", "PostgreSQL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    Result r = Init(c.args);
    EXPECT_EQ(c.exitCode, r.exitCode) << r.Describe();
    for (const std::string& part : c.says) EXPECT_TRUE(Contains(r.err, part)) << r.err;
    EXPECT_FALSE(Contains(r.out + r.err, kSecret));
    EXPECT_EQ(before, Settings(home));
  }
  std::string log;
  ReadFile(home + "/logs/debug.log", &log);
  EXPECT_FALSE(Contains(log, kSecret));
  EXPECT_EQ(1u, Ok(w, home, {"array", "list"}).json["arrays"].size());

  ASSERT_NO_FATAL_FAILURE(ExecSql(home + "/host.db", "UPDATE schema_version SET version = 99"));
  Result newer = Init({"--client-name", "other"});
  EXPECT_EQ(1, newer.exitCode) << newer.Describe();
  EXPECT_TRUE(Contains(newer.err, "schema version 99, newer")) << newer.err;
  EXPECT_EQ(before, Settings(home));
}

// pzhost with `assignment` (NAME=VALUE) in its environment.
Result PzhostWith(const std::string& assignment, const std::string& home,
                  const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/env", assignment, PzhostPath(), "--home", home};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv);
}

// A home whose server is gone fails its database verbs clearly and never
// falls back to its own file; the PostgreSQL client is mapped only for a
// home on the server.
TEST_F(DatabaseChoice, HomeWhoseServerIsGoneFailsItsDatabaseVerbs) {
  ASSERT_NO_FATAL_FAILURE(PointAtDeadServer());
  for (const std::vector<std::string>& verb :
       {std::vector<std::string>{"array", "list"}, {"reservations"}, {"backup", w.Source(0)}}) {
    Result r = w.Pzhost(home, verb);
    EXPECT_EQ(1, r.exitCode) << verb[0] << ": " << r.Describe();
    EXPECT_TRUE(Contains(r.err, "host database is not available")) << r.err;
    EXPECT_TRUE(Contains(r.err, "PostgreSQL")) << r.err;
  }
  // Nothing was recorded in the home's own file meanwhile.
  EXPECT_TRUE(w.Catalog(home).empty());
  // The home can be pointed back at its file without the server.
  ASSERT_EQ(0, Init({"--db-backend", "sqlite"}).exitCode);
  EXPECT_FALSE(Contains(Settings(home), "conninfo"));
  EXPECT_EQ(1u, Ok(w, home, {"array", "list"}).json["arrays"].size());

  const std::string module = std::string(PZ_BINARY_DIR) + "/libpzhostrt_pg.so.1";
  if (!std::filesystem::exists(module)) return;  // built without PostgreSQL
  // The loader lists every file it maps (LD_DEBUG=files, on standard error).
  Result file = PzhostWith("LD_DEBUG=files", home, {"array", "list"});
  ASSERT_EQ(0, file.exitCode) << file.Describe();
  ASSERT_TRUE(Contains(file.err, "libpzhostrt.so.1")) << "no loader trace: " << file.err;
  EXPECT_FALSE(Contains(file.err, "libpzhostrt_pg")) << file.err;
  EXPECT_FALSE(Contains(file.err, "libpq.so")) << file.err;
  ASSERT_NO_FATAL_FAILURE(PointAtDeadServer());
  // Found beside the runtime (the build tree's runtime has no search path
  // of its own), it maps libpq and reaches for the server.
  Result server = PzhostWith("LD_DEBUG=files", home, {"array", "list"});
  EXPECT_EQ(1, server.exitCode) << server.Describe();
  EXPECT_TRUE(Contains(server.err, "file=" + module)) << server.err;
  EXPECT_TRUE(Contains(server.err, "libpq.so")) << server.err;
  EXPECT_TRUE(Contains(server.err, "cannot connect to the PostgreSQL host database")) << server.err;

  // A runtime with no module beside it, nor on the loader's path.
  const std::string lonely = w.dir() + "/runtime-alone";
  std::filesystem::create_directory(lonely);
  std::filesystem::copy_file(std::string(PZ_BINARY_DIR) + "/libpzhostrt.so.1",
                             lonely + "/libpzhostrt.so.1");
  Result missing = PzhostWith("LD_LIBRARY_PATH=" + lonely, home, {"array", "list"});
  EXPECT_EQ(1, missing.exitCode) << missing.Describe();
  EXPECT_TRUE(Contains(missing.err,
                       "PostgreSQL backend requested but the module libpzhostrt_pg.so.1 "
                       "cannot be loaded: libpzhostrt_pg.so.1: cannot open shared object"))
      << missing.err;
}

}  // namespace
}  // namespace e2e
