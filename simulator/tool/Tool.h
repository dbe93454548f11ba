// One invocation of a simulated SYMCLI tool: its arguments, the world it
// works on and what it prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "simulator/state/StateDb.h"
#include "simulator/tool/Args.h"

namespace symsim {

constexpr int kExitOk = 0;
constexpr int kExitFail = 1;   // the operation failed or found nothing
constexpr int kExitUsage = 2;  // the command line is wrong

struct ArrayInfo {
  std::string serial;
  std::string model;
  std::string microcode;
  int64_t snapLimit = 0;
};

struct Invocation {
  StateDb* db = nullptr;
  std::string tool;
  std::vector<std::string> argv;  // without the program name
  Args args;
  std::string out;
  std::string err;
  int64_t now = 0;  // seconds since the epoch

  // Sets an error message (standard error) and returns the failure code.
  int Fail(const std::string& message, int code = kExitFail);
};

// Each tool: the options it accepts and what it does.
const ArgSpec& SnapvxSpec();
const ArgSpec& SgSpec();
const ArgSpec& AccessSpec();
const ArgSpec& DevSpec();
int RunSnapvx(Invocation* inv);
int RunSg(Invocation* inv);
int RunAccess(Invocation* inv);
int RunDev(Invocation* inv);
int RunCli(Invocation* inv);

// Helpers shared by the tools.
// The array named by -sid (also by the last digits, as SYMCLI allows);
// false with the failure set on `inv`.
bool ResolveArray(Invocation* inv, ArrayInfo* array, int* code);
// Devices of -devs or of the -file device file (first word of each line).
bool DeviceArgs(Invocation* inv, std::vector<int64_t>* devs, int* code);
// Lines of the device file, each split into words.
bool DeviceFileLines(Invocation* inv, std::vector<std::vector<std::string>>* lines,
                     int* code);
bool DeviceExists(StateDb* db, const std::string& serial, int64_t dev);
// "Symmetrix ID              : 000197800123 (Microcode Version: 5978)"
std::string SymmetrixIdLine(const ArrayInfo& array);
// Left-aligned in `width` (one blank at least after it).
std::string Pad(const std::string& text, size_t width);
std::string PadLeft(const std::string& text, size_t width);
// "Mon Jan 14 12:14:32 2021"
std::string Timestamp(int64_t when);
// "12:14:32 PM on Mon Jan 14,2021"
std::string UpdateTime(int64_t when);

}  // namespace symsim
