// Runtime errors on the platform: a failure thrown inside a window or dialog
// procedure reaches the recovery point around the modal run instead of unwinding
// through the platform; the library's start-up clean-up on real folders.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "common/library_state.h"
#include "common/startup_procedures_win32.h"
#include "errors/deferror.h"
#include "errors/errorsys_win32.h"
#include "errors/fake_error_services.h"
#include "errors/raise.h"
#include "support/temp_dir.h"
#include "support/working_directory.h"
#include "ui/dialog_win32.h"
#include "ui/framework_errors.h"

namespace kestrel {
namespace {

ui::DialogOptions SmallDialog() {
    ui::DialogOptions options;
    options.caption = "Prova errori";
    options.width = 200;
    options.height = 100;
    return options;
}

// Runs one dialog whose init callback ends it at once; true when it ran normally.
bool RunsNormally() {
    ui::TDialog dialog(SmallDialog());
    ui::ActivateOptions run;
    run.init = [](ui::TDialog& d) {
        d.End(5);
        return true;
    };
    dialog.Activate(run);
    return dialog.nResult == 5;
}

TEST(CallbackBoundary, AnAbandonInTheInitCallbackReachesTheRecoveryPointAroundTheRun) {
    bool recovered = false;
    try {
        ui::TDialog dialog(SmallDialog());
        ui::ActivateOptions run;
        run.init = [](ui::TDialog&) -> bool { throw errors::Abandon{}; };
        dialog.Activate(run);
    } catch (const errors::Abandon&) {
        recovered = true;
    }
    EXPECT_TRUE(recovered);
    EXPECT_TRUE(RunsNormally());  // the framework is whole afterwards
}

TEST(CallbackBoundary, AFailureInTheStartCallbackAtTheFirstPaintEndsTheRunAndGoesOn) {
    bool recovered = false;
    try {
        ui::TDialog dialog(SmallDialog());
        dialog.bStart = [] { throw std::runtime_error("in the paint handling"); };
        dialog.Activate();
    } catch (const std::runtime_error& failure) {
        recovered = std::string(failure.what()) == "in the paint handling";
    }
    EXPECT_TRUE(recovered);
    EXPECT_TRUE(RunsNormally());
}

TEST(CallbackBoundary, AFrameworkErrorReachesTheHandlerWhoseFinalReportEndsTheRun) {
    testing::FakeErrorServices services;
    errors::ERRORSYS(&services);
    bool ended = false;
    bool went_on = false;
    try {
        ui::TDialog dialog(SmallDialog());
        ui::ActivateOptions run;
        run.init = [&](ui::TDialog&) {
            ui::RaiseFrameworkError(ui::FrameworkError::kNonDefinedId, ui::ControlIdOperation(7));
            went_on = true;
            return true;
        };
        dialog.Activate(run);
    } catch (const errors::EndProgram&) {
        ended = true;
    }
    errors::SetErrorCallback(nullptr);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(went_on);
    EXPECT_EQ(services.trace, (std::vector<std::string>{"SUNLOCK", "POPMSG 2", "quit"}));
    ASSERT_EQ(services.asked.size(), 1u);
    EXPECT_EQ(services.asked[0].substr(0, 46), "Error KESTRELUI/1  Non defined Id: No:      7;");
}

TEST(ErrorServices, TheProgramPathIsThisProgramsFullPath) {
    errors::PlatformErrorServices services;
    const std::string path = services.ProgramPath();
    EXPECT_TRUE(path.ends_with(".exe")) << path;
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
}

// The current directory and TEMP of one test, restored afterwards.
class StartupFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        had_temp_ = GetEnvironmentVariableA("TEMP", temp, MAX_PATH) > 0;
        previous_temp_ = temp;
        std::filesystem::create_directory(Root() / "cwd");
        std::filesystem::create_directory(Root() / "temp");
        here_.emplace(Root() / "cwd");
        SetEnvironmentVariableA("TEMP", (Root() / "temp").string().c_str());
        common::ResetLibrary();
    }
    void TearDown() override {
        here_.reset();
        SetEnvironmentVariableA("TEMP", had_temp_ ? previous_temp_.c_str() : nullptr);
        common::ResetLibrary();
    }
    std::filesystem::path Cwd(const std::string& name) { return Root() / "cwd" / name; }
    std::filesystem::path Temp(const std::string& name) { return Root() / "temp" / name; }
    static void Touch(const std::filesystem::path& path) { std::ofstream(path) << "x"; }

    std::filesystem::path Root() const { return std::filesystem::path(work_.path()); }

    testing::TempDir work_;
    std::optional<testing::WorkingDirectory> here_;
    std::string previous_temp_;
    bool had_temp_ = false;
};

const std::string kTemp(1, common::kTempPrefix);

TEST_F(StartupFolders, InitClearsLeftoversButNotARunningInstancesDirectory) {
    Touch(Cwd(kTemp + "2026120811"));
    Touch(Cwd("KESTREL.INI"));
    Touch(Temp(kTemp + "PLAIN"));
    std::filesystem::create_directory(Temp(kTemp + "OLD"));
    Touch(Temp(kTemp + "OLD") / "USER");
    Touch(Temp(kTemp + "OLD") / "A.DBF");
    SetFileAttributesA((Temp(kTemp + "OLD") / "A.DBF").string().c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    std::filesystem::create_directory(Temp(kTemp + "NESTED"));
    std::filesystem::create_directory(Temp(kTemp + "NESTED") / "SUB");
    Touch(Temp(kTemp + "NESTED") / "B.DBF");
    std::filesystem::create_directory(Temp(kTemp + "RUNNING"));
    Touch(Temp(kTemp + "RUNNING") / "A.DBF");
    Touch(Temp(kTemp + "RUNNING") / "USER");
    const std::string user = (Temp(kTemp + "RUNNING") / "USER").string();
    HANDLE held = CreateFileA(user.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    SetErrorMode(0);
    common::LibraryStartup();
    CloseHandle(held);

    EXPECT_FALSE(std::filesystem::exists(Cwd(kTemp + "2026120811")));
    EXPECT_TRUE(std::filesystem::exists(Cwd("KESTREL.INI")));
    EXPECT_TRUE(std::filesystem::exists(Temp(kTemp + "PLAIN")));
    EXPECT_FALSE(std::filesystem::exists(Temp(kTemp + "OLD")));
    EXPECT_FALSE(std::filesystem::exists(Temp(kTemp + "NESTED") / "B.DBF"));
    EXPECT_TRUE(std::filesystem::exists(Temp(kTemp + "NESTED") / "SUB"));
    EXPECT_TRUE(std::filesystem::exists(Temp(kTemp + "RUNNING") / "A.DBF"));
    EXPECT_TRUE(std::filesystem::exists(Temp(kTemp + "RUNNING") / "USER"));
    EXPECT_NE(SetErrorMode(0) & SEM_FAILCRITICALERRORS, 0u);
    EXPECT_EQ(common::Library().tables.date_format, "dd/mm/yy");
}

TEST_F(StartupFolders, DeldirGivesAFileItCannotDeleteItsAttributesBack) {
    const std::filesystem::path folder = Temp(kTemp + "HELD");
    std::filesystem::create_directory(folder);
    const std::string held = (folder / "A.DBF").string();
    Touch(held);
    SetFileAttributesA(held.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    common::PlatformLibraryFiles files;
    const bool emptied = common::DELDIR(files, folder.string() + "\\");
    const DWORD attributes = GetFileAttributesA(held.c_str());
    CloseHandle(file);
    SetFileAttributesA(held.c_str(), FILE_ATTRIBUTE_NORMAL);  // the folder can go again

    EXPECT_FALSE(emptied);
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "the held file stays";
    EXPECT_NE(attributes & FILE_ATTRIBUTE_READONLY, 0u) << "and stays read-only";
}

TEST_F(StartupFolders, ExitDeletesTheViewIndexesOfTheCurrentDirectory) {
    Touch(Cwd(kTemp + "VIEW1.NTX"));
    Touch(Cwd(kTemp + "VIEW.DBF"));
    common::LibraryShutdown();
    EXPECT_FALSE(std::filesystem::exists(Cwd(kTemp + "VIEW1.NTX")));
    EXPECT_TRUE(std::filesystem::exists(Cwd(kTemp + "VIEW.DBF")));
}

}  // namespace
}  // namespace kestrel
