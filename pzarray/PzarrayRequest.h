// The request pzarray hands to the command layer: the host runtime's request
// object, answering snap configs from the --set values and the job id. Its
// log lines go to the environment (standard error with --verbose) and its
// events to standard error.
#pragma once

#include <map>
#include <string>

#include "hostruntime/HostRequest.h"

namespace pzarray {

class PzarrayRequest : public hostrt::HostSnapInfo {
 public:
  PzarrayRequest(const std::map<std::string, std::string>& configs, long long jobId);
};

}  // namespace pzarray
