// The one process runner of the project: splits a command line into
// arguments itself and starts the program with posix_spawn, never a shell.
#pragma once

#include <string>
#include <vector>

#include "hostruntime/Env.h"

namespace hostrt {

// Splits a command line into words at blanks and tabs. Double quotes group a
// word (the quotes are dropped); a backslash inside quotes escapes a double
// quote or a backslash. Shell metacharacters (; | & $ ` < >) are ordinary.
// False when a quote is left open.
bool SplitCommandLine(const std::string& line, std::vector<std::string>* argv,
                      std::string* error);

// Runs argv[0] (searched in PATH when it has no slash) in its own process
// group, feeds `spec.input`, collects standard output and standard error
// concurrently, and kills the group at the time limit.
void RunChildProcess(const ProcessSpec& spec, ProcessOutcome* out);

}  // namespace hostrt
