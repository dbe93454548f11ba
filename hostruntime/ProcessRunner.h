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

// Stopping a job on a signal. CancelProcesses is async-signal-safe, for a
// signal handler: it remembers `signal`, passes it on to the process group
// of every tool running now, and from then on no new tool starts (such runs
// fail with `cancelled` set). A running tool that outlives the signal by
// kCancelGraceMs is killed. SleepCancellable returns early once cancelled.
constexpr int kCancelGraceMs = 5000;
void CancelProcesses(int signal);
// The signal that cancelled the job, or 0.
int CancelSignal();
// Back to the state before any cancel (tests).
void ResetCancel();
// Sleeps `ms` milliseconds unless (or until) the job is cancelled.
void SleepCancellable(int64_t ms);

}  // namespace hostrt
