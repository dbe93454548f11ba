// The simulated SYMCLI tools: one program installed as symsnapvx, symsg,
// symaccess, symdev and symcli in WORLD/bin. The name it was started under
// picks the tool and its directory picks the world. Every invocation is
// audited, may be delayed or struck by an injected fault, and changes the
// world in one transaction.
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "simulator/tool/Tool.h"

namespace {

using symsim::Invocation;
using symsim::StateDb;
using symsim::Stmt;
using symsim::Transaction;

constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kAlways = -1;

struct Fault {
  int64_t id = 0;
  int exitCode = symsim::kExitFail;
  std::string message;
  int64_t hangSeconds = 0;
  bool after = false;
};

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// WORLD from WORLD/bin/<tool>, as started (not the link's target).
std::string WorldDir(const std::string& argv0) {
  std::string path = argv0;
  if (path.find('/') == std::string::npos) {
    const char* env = std::getenv("PATH");
    std::stringstream dirs(env ? env : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
      if (!dir.empty() && access((dir + "/" + path).c_str(), X_OK) == 0) {
        path = dir + "/" + path;
        break;
      }
    }
  }
  if (path.find('/') == std::string::npos) return ".";
  std::string bin = path.substr(0, path.rfind('/'));
  if (bin.empty()) return "/";
  if (bin.find('/') == std::string::npos) return ".";
  return bin.substr(0, bin.rfind('/'));
}

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch()).count();
}

void SleepMs(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string FileContent(const std::vector<std::string>& argv) {
  for (size_t i = 0; i + 1 < argv.size(); ++i) {
    if (argv[i] == "-file") {
      std::ifstream in(argv[i + 1]);
      return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  return std::string();
}

// Counts the invocation, records it and picks the fault that strikes it.
int64_t Admit(StateDb* db, const std::string& tool, const std::vector<std::string>& argv,
              int64_t startUs, Fault* fault, bool* struck, int64_t* latencyMs) {
  Transaction tx(db);
  int64_t n = db->IntSetting(symsim::kSetInvocations, 0) + 1;
  db->SetSetting(symsim::kSetInvocations, std::to_string(n));
  *latencyMs = db->IntSetting(symsim::kSetLatencyMs, 0);
  std::string text = tool;
  for (const std::string& a : argv) text += " " + a;
  Stmt f(db->handle(), "SELECT id, nth, pattern, exit_code, message, hang_seconds, phase "
                       "FROM faults WHERE remaining != 0 ORDER BY id");
  *struck = false;
  while (f.Step()) {
    bool hit = f.Int(1) > 0 ? f.Int(1) == n : false;
    if (!hit && !f.Text(2).empty()) {
      try {
        hit = std::regex_search(text, std::regex(f.Text(2)));
      } catch (const std::regex_error&) {
        hit = false;
      }
    }
    if (!hit) continue;
    fault->id = f.Int(0);
    fault->exitCode = static_cast<int>(f.Int(3));
    fault->message = f.Text(4);
    fault->hangSeconds = f.Int(5);
    fault->after = f.Text(6) == "after";
    *struck = true;
    break;
  }
  if (*struck) {
    Stmt u(db->handle(), "UPDATE faults SET hits=hits+1, remaining=CASE WHEN remaining=? "
                         "THEN remaining ELSE remaining-1 END WHERE id=?");
    u.Bind(1, kAlways).Bind(2, fault->id).Run();
  }
  nlohmann::json args = argv;
  Stmt a(db->handle(), "INSERT INTO audit(started_us, tool, args, file_content, fault) "
                       "VALUES(?,?,?,?,?)");
  a.Bind(1, startUs).Bind(2, tool).Bind(3, args.dump()).Bind(4, FileContent(argv));
  if (*struck) a.Bind(5, fault->id); else a.BindNull(5);
  a.Run();
  int64_t id = db->LastId();
  tx.Commit();
  return id;
}

int Dispatch(Invocation* inv) {
  const symsim::ArgSpec* spec = nullptr;
  int (*run)(Invocation*) = nullptr;
  if (inv->tool == "symsnapvx") { spec = &symsim::SnapvxSpec(); run = symsim::RunSnapvx; }
  else if (inv->tool == "symsg") { spec = &symsim::SgSpec(); run = symsim::RunSg; }
  else if (inv->tool == "symaccess") { spec = &symsim::AccessSpec(); run = symsim::RunAccess; }
  else if (inv->tool == "symdev") { spec = &symsim::DevSpec(); run = symsim::RunDev; }
  else if (inv->tool == "symcli") { return symsim::RunCli(inv); }
  else return inv->Fail("Unknown SYMCLI tool name: " + inv->tool, symsim::kExitUsage);
  std::string error;
  if (!inv->args.Parse(inv->argv, *spec, &error)) return inv->Fail(error, symsim::kExitUsage);
  return run(inv);
}

}  // namespace

int main(int argc, char** argv) {
  int64_t startUs = NowUs();
  Invocation inv;
  inv.tool = BaseName(argv[0]);
  inv.argv.assign(argv + 1, argv + argc);
  std::string world = WorldDir(argv[0]);
  std::string error;
  std::unique_ptr<StateDb> db = StateDb::Open(world, false, &error);
  if (!db) {
    std::fprintf(stderr, "\nCannot open the SYMAPI database: %s\n\n", error.c_str());
    return symsim::kExitFail;
  }
  inv.db = db.get();
  int code = symsim::kExitFail;
  try {
    Fault fault;
    bool struck = false;
    int64_t latencyMs = 0;
    int64_t auditId = Admit(db.get(), inv.tool, inv.argv, startUs, &fault, &struck, &latencyMs);
    auto audit = [&] {
      Stmt s(db->handle(), "UPDATE audit SET exit_code=?, duration_ms=?, output=?, error=? "
                           "WHERE id=?");
      s.Bind(1, code).BindReal(2, static_cast<double>(NowUs() - startUs) / 1000.0);
      s.Bind(3, inv.out).Bind(4, inv.err).Bind(5, auditId);
      s.Run();
    };
    bool audited = false;
    SleepMs(latencyMs);
    if (struck && !fault.after) {
      SleepMs(fault.hangSeconds * kMsPerSecond);
      inv.err = "\n" + fault.message + "\n\n";
      code = fault.exitCode;
    } else {
      inv.now = startUs / 1000000;
      {
        // The change and, when nothing strikes afterwards, its audit record
        // commit together.
        Transaction tx(db.get());
        code = Dispatch(&inv);
        if (code == symsim::kExitOk) {
          if (!struck) {
            audit();
            audited = true;
          }
          tx.Commit();
        }
      }
      if (struck) {
        SleepMs(fault.hangSeconds * kMsPerSecond);
        inv.err += "\n" + fault.message + "\n\n";
        code = fault.exitCode;
      }
    }
    if (!audited) {
      Transaction tx(db.get());
      audit();
      tx.Commit();
    }
  } catch (const symsim::DbError& e) {
    inv.err += std::string("\nSYMAPI database error: ") + e.what() + "\n\n";
    code = symsim::kExitFail;
  }
  std::fwrite(inv.out.data(), 1, inv.out.size(), stdout);
  std::fwrite(inv.err.data(), 1, inv.err.size(), stderr);
  return code;
}
