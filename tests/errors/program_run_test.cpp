// The process's start-up and shut-down order and its outermost recovery point.
#include "errors/program_run.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "errors/deferror.h"
#include "errors/fake_error_services.h"
#include "errors/raise.h"

namespace kestrel::errors {
namespace {

// A program whose every step writes its name to a trace; MAIN and the procedures
// can be told to fail.
struct TracedProgram {
    std::vector<std::string> trace;
    testing::FakeErrorServices services;
    std::function<void()> main_body = [] {};
    std::function<void()> exit_body = [] {};

    ProgramOrder Order() {
        auto step = [this](std::string name) { return [this, name] { trace.push_back(name); }; };
        return {
            .initialize_module_values = step("module values"),
            .install_error_callback =
                [this] {
                    trace.push_back("ERRORSYS");
                    SetErrorCallback(
                        [this](const ErrorRecord& record) { return DEFERROR(record, services); });
                },
            .start_components = step("OleInitialize"),
            .stop_components = step("OleUninitialize"),
            .startup = {{"INIT", step("INIT")}, {"framework", step("GDI+ on")}},
            .main =
                [this] {
                    trace.push_back("MAIN");
                    main_body();
                },
            .shutdown = {{"EXIT",
                          [this] {
                              trace.push_back("EXIT");
                              exit_body();
                          }},
                         {"framework", step("GDI+ off")}},
        };
    }

    ~TracedProgram() { SetErrorCallback(nullptr); }
};

const std::vector<std::string> kFullOrder = {"module values", "ERRORSYS", "OleInitialize",
                                             "INIT",          "GDI+ on",  "MAIN",
                                             "EXIT",          "GDI+ off", "OleUninitialize"};

TEST(ProgramRun, StartsAndEndsInTheFixedOrder) {
    TracedProgram program;
    RunProgram(program.Order());
    EXPECT_EQ(program.trace, kFullOrder);
}

TEST(ProgramRun, AnAbandonThatNoRoutineCatchesEndsMainAndTheShutDownRuns) {
    TracedProgram program;
    program.main_body = [] { throw Abandon{}; };
    RunProgram(program.Order());
    EXPECT_EQ(program.trace, kFullOrder);
}

TEST(ProgramRun, TheFinalReportEndsTheProgramThroughTheSameShutDown) {
    TracedProgram program;
    bool after_error = false;
    program.main_body = [&] {
        ErrorRecord record;
        record.SUBSYSTEM = "BASE";
        RaiseError(record);
        after_error = true;
    };
    RunProgram(program.Order());
    EXPECT_FALSE(after_error);
    EXPECT_EQ(program.trace, kFullOrder);
    EXPECT_EQ(program.services.trace.back(), "quit");
}

TEST(ProgramRun, AnExceptionNothingAnticipatedBecomesAFinalReport) {
    TracedProgram program;
    program.main_body = [] { throw std::length_error("string too long"); };
    RunProgram(program.Order());
    EXPECT_EQ(program.trace, kFullOrder);
    ASSERT_EQ(program.services.asked.size(), 1u);
    EXPECT_EQ(program.services.asked[0].substr(0, 32), "Error BASE/9999  string too long");
}

TEST(ProgramRun, AShutDownProcedureThatAsksToQuitSkipsTheRest) {
    TracedProgram program;
    program.exit_body = [] { throw EndProgram{}; };
    RunProgram(program.Order());
    EXPECT_EQ(program.trace,
              (std::vector<std::string>{"module values", "ERRORSYS", "OleInitialize", "INIT",
                                        "GDI+ on", "MAIN", "EXIT", "OleUninitialize"}));
}

}  // namespace
}  // namespace kestrel::errors
