// The entry point of every probe program (e2e/probe_program.h).
#include <cstdio>
#include <string>
#include <vector>

#include "e2e/probe_program.h"

int main(int argc, char** argv) {
    using namespace kestrel::testing;
    const ProbeProgram program = TheProbeProgram();
    if (argc < 3) {
        std::fprintf(stderr, "%s\n", program.usage.c_str());
        return 2;
    }
    ProbeReport report(argv[2]);
    if (!report.ok()) {
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> arguments(argv + 3, argv + argc);
    int status = 2;
    for (const ProbeCommand& known : program.commands) {
        if (known.name == command && arguments.size() >= known.least_arguments) {
            status = known.run(report, arguments);
            break;
        }
    }
    report.Line("done", std::to_string(status));
    return status;
}
