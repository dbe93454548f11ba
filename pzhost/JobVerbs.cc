// pzhost jobs: the job history of this home's catalog, and the timeline of
// the array commands of one job.
#include <cstdio>
#include <ctime>

#include "pzhost/Verbs.h"

namespace pzhost {

namespace {

constexpr long long kMsPerSecond = 1000;

std::string Outcome(const JobRecord& job) {
  switch (job.result) {
    case kJobResultRunning: return "running";
    case kJobResultInterrupted: return "interrupted";
    case kExitSuccess: return "succeeded";
    case kExitFailure: return "failed";
    case kExitPartial: return "partly failed";
  }
  if (job.result > kExitSignalBase)
    return "stopped by signal " + std::to_string(job.result - kExitSignalBase);
  return "result " + std::to_string(job.result);
}

std::string LocalStamp(long long seconds) {
  std::time_t when = std::time_t(seconds);
  std::tm tm {};
  localtime_r(&when, &tm);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

// Seconds from start to end; -1 while no end is recorded.
long long DurationSecs(const JobRecord& job) {
  return job.ended > 0 ? job.ended - job.started : -1;
}

nlohmann::json JobJson(const JobRecord& job) {
  return {{"jobId", job.id},          {"operation", job.operation},
          {"snapshotId", job.snapshotId}, {"started", job.started},
          {"ended", job.ended},       {"durationSecs", DurationSecs(job)},
          {"result", job.result},     {"outcome", Outcome(job)},
          {"interrupted", job.result == kJobResultInterrupted},
          {"pid", job.pid},           {"host", job.host}};
}

std::string JobLine(const JobRecord& job) {
  long long secs = DurationSecs(job);
  char line[256];
  snprintf(line, sizeof line, "%6lld  %-10s  snapshot %-5d  %s  %6s  %s",
           job.id, job.operation.c_str(), job.snapshotId,
           LocalStamp(job.started).c_str(),
           secs < 0 ? "-" : (std::to_string(secs) + " s").c_str(),
           Outcome(job).c_str());
  return line;
}

int ShowTimeline(Session& s, long long jobId) {
  JobRecord job;
  bool found = false;
  std::string error;
  std::vector<JobCommand> commands;
  if (!s.catalog().GetJob(jobId, &job, &found, &error) ||
      (found && !s.catalog().JobCommands(jobId, &commands, &error))) {
    s.out().Error(error);
    return kExitFailure;
  }
  if (!found) {
    s.out().Error("no job " + std::to_string(jobId) + " in the catalog");
    return kExitFailure;
  }
  s.out().Line(JobLine(job));
  nlohmann::json doc = JobJson(job);
  nlohmann::json list = nlohmann::json::array();
  long long origin = job.started * kMsPerSecond;
  for (const JobCommand& c : commands) {
    long long offset = c.startedMs - origin;
    char line[96];
    snprintf(line, sizeof line, "  +%7.1f s  %6lld ms  exit %3d%s  ",
             double(offset) / double(kMsPerSecond), c.durationMs, c.exitCode,
             c.timedOut ? " (timed out)" : "");
    s.out().Line(line + c.commandLine);
    list.push_back({{"offsetMs", offset},
                    {"durationMs", c.durationMs},
                    {"exitCode", c.exitCode},
                    {"timedOut", c.timedOut},
                    {"command", c.commandLine}});
  }
  if (commands.empty()) s.out().Line("  no array commands recorded");
  doc["commands"] = list;
  s.out().doc()["job"] = doc;
  return kExitSuccess;
}

}  // namespace

int RunJobs(Session& s, long long jobId) {
  if (jobId != 0) return ShowTimeline(s, jobId);
  std::vector<JobRecord> jobs;
  std::string error;
  if (!s.catalog().ListJobs(&jobs, &error)) {
    s.out().Error(error);
    return kExitFailure;
  }
  nlohmann::json list = nlohmann::json::array();
  for (const JobRecord& job : jobs) {
    s.out().Line(JobLine(job));
    list.push_back(JobJson(job));
  }
  if (jobs.empty()) s.out().Line("no jobs");
  s.out().doc()["jobs"] = list;
  return kExitSuccess;
}

}  // namespace pzhost
