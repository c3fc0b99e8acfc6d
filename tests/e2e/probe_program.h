#pragma once

// The command line of a probe program, shared by every probe:
//
//   PROBE COMMAND REPORT [ARGUMENTS...]
//
// The report file (e2e/probe_report.h) is opened first; the command named runs with
// the arguments after REPORT, and its exit status is reported as "done" last and
// returned. Exit status 2, with nothing run, for a command the probe does not have or
// too few arguments ("done=2" then, when the report could be opened).

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "e2e/probe_report.h"

namespace kestrel::testing {

struct ProbeCommand {
    std::string name;
    std::size_t least_arguments = 0;  // after REPORT
    std::function<int(ProbeReport& report, const std::vector<std::string>& arguments)> run;
};

struct ProbeProgram {
    std::string usage;  // "usage: PROBE a|b REPORT ...", printed when REPORT is missing
    std::vector<ProbeCommand> commands;
};

// Each probe program defines this: its usage line and its commands.
ProbeProgram TheProbeProgram();

}  // namespace kestrel::testing
