#pragma once

#include <sys/types.h>

#include <string>

namespace terminals {

// CPU time the process has used so far, all its threads together, ended ones included.
double CpuSeconds(pid_t pid);
// Its resident memory now, in MiB.
double ResidentMiB(pid_t pid);
// Whether one of its descriptors is open on that file.
bool HoldsFile(pid_t pid, const std::string& path);

}  // namespace terminals
