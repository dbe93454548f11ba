#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "simulator/state/DevNum.h"
#include "simulator/tool/Tool.h"

namespace symsim {

namespace {
constexpr size_t kMicrocodeFamily = 4;
}  // namespace

int Invocation::Fail(const std::string& message, int code) {
  err += "\n" + message + "\n\n";
  return code;
}

bool ResolveArray(Invocation* inv, ArrayInfo* array, int* code) {
  std::string sid = inv->args.Get("-sid");
  if (sid.empty()) {
    *code = inv->Fail("The -sid option is required: a Symmetrix ID must be specified", kExitUsage);
    return false;
  }
  Stmt s(inv->db->handle(), "SELECT serial, model, microcode, snap_limit FROM arrays");
  int matches = 0;
  while (s.Step()) {
    std::string serial = s.Text(0);
    bool exact = serial == sid;
    bool suffix = serial.size() > sid.size() &&
                  serial.compare(serial.size() - sid.size(), sid.size(), sid) == 0;
    if (exact || suffix) {
      array->serial = serial;
      array->model = s.Text(1);
      array->microcode = s.Text(2);
      array->snapLimit = s.Int(3);
      ++matches;
      if (exact) {
        matches = 1;
        break;
      }
    }
  }
  if (matches == 1) return true;
  *code = inv->Fail("The specified Symmetrix ID (" + sid + ") is unknown or not connected");
  return false;
}

bool DeviceFileLines(Invocation* inv, std::vector<std::vector<std::string>>* lines,
                     int* code) {
  std::string path = inv->args.Get("-file");
  std::ifstream in(path);
  if (!in) {
    *code = inv->Fail("Cannot open the device file '" + path + "'");
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream words(line);
    std::vector<std::string> row;
    std::string w;
    while (words >> w) row.push_back(w);
    if (!row.empty()) lines->push_back(row);
  }
  return true;
}

bool DeviceArgs(Invocation* inv, std::vector<int64_t>* devs, int* code) {
  std::string error;
  if (inv->args.Has("-devs")) {
    if (!ParseDevList(inv->args.Get("-devs"), devs, &error)) {
      *code = inv->Fail(error);
      return false;
    }
    return true;
  }
  if (inv->args.Has("-file")) {
    std::vector<std::vector<std::string>> lines;
    if (!DeviceFileLines(inv, &lines, code)) return false;
    for (const auto& row : lines) {
      int64_t dev = ParseDev(row[0]);
      if (dev < 0) {
        *code = inv->Fail("Invalid Symmetrix device name in the device file: " + row[0]);
        return false;
      }
      devs->push_back(dev);
    }
    if (devs->empty()) {
      *code = inv->Fail("The device file '" + inv->args.Get("-file") + "' holds no devices");
      return false;
    }
    return true;
  }
  *code = inv->Fail("A device list (-devs) or a device file (-file) is required", kExitUsage);
  return false;
}

bool DeviceExists(StateDb* db, const std::string& serial, int64_t dev) {
  Stmt s(db->handle(), "SELECT 1 FROM devices WHERE serial=? AND dev=?");
  s.Bind(1, serial).Bind(2, dev);
  return s.Step();
}

std::string SymmetrixIdLine(const ArrayInfo& array) {
  return "Symmetrix ID              : " + array.serial + " (Microcode Version: " +
         array.microcode.substr(0, kMicrocodeFamily) + ")";
}

std::string Pad(const std::string& text, size_t width) {
  if (text.size() >= width) return text + " ";
  return text + std::string(width - text.size(), ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
  if (text.size() >= width) return " " + text;
  return std::string(width - text.size(), ' ') + text;
}

std::string Timestamp(int64_t when) {
  std::time_t t = static_cast<std::time_t>(when);
  std::tm tm;
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &tm);
  return buf;
}

std::string UpdateTime(int64_t when) {
  std::time_t t = static_cast<std::time_t>(when);
  std::tm tm;
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%I:%M:%S %p on %a %b %d,%Y", &tm);
  return buf;
}

}  // namespace symsim
